// File structures and the data dictionary: the dictionary files, record
// buffers, field references, FILESTRUCT and the start-up load.
#include "runtime/data/dict.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/vars.h"
#include "runtime/script/proc.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

// Dictionary lines as an editor of dictionaries writes them.
std::string header(int nn, const std::string& folder, int cls, const std::string& name) {
    char b[16];
    std::snprintf(b, sizeof b, "%02d", nn);
    std::string c = std::to_string(cls);
    if (c.size() < 2) c = "0" + c;
    return std::string(b) + "*" + folder + "*" + c + name + "\r\n";
}
// Columns 10-12 the width, 14 the type, 15 on the name.
std::string field(int width, char type, const std::string& name, int nn = 1) {
    char b[32];
    std::snprintf(b, sizeof b, "%02d       %03d %c", nn, width, type);
    return b + name + "   \r\n";
}
std::string key(int nn, const std::string& groups) { return std::to_string(nn) + " <" + groups + ">\r\n"; }
std::string seg(int offset1, int length) {
    char b[16];
    std::snprintf(b, sizeof b, "%04d%03d", offset1, length);
    return b;
}

struct Seg {
    int offset, length, field;
    bool operator==(const Seg& o) const { return offset == o.offset && length == o.length && field == o.field; }
};
std::ostream& operator<<(std::ostream& o, const Seg& s) {
    return o << "{" << s.offset << "," << s.length << " f" << s.field << "}";
}

class DictTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        ex_install();
        fnlib_install();
        script_install();
        dict_install();
        env_set(env::DocPath, sr(dir_.path));
        m_ = scr_mark();
    }
    void TearDown() override {
        scr_release(m_);
        dict_clear();
        script_done();
        for (int l = 0; l < kCmdLevels; l++) cmd_register(l, nullptr);
        script_ports_reset();
        ex_set_field_port(nullptr);
        rt_ports_reset();
        vars_done();
        RtTest::TearDown();
    }
    void put(const std::string& name, const std::string& text) { dir_.put(name, text); }
    IER load(const char* name = "XX") { return dict_load(sr_c(name)); }
    std::vector<Seg> key_of(int s, int k) {
        KeySegment sg[kKeySegmentsMax];
        int n = dict_key(s, k, sg);
        std::vector<Seg> out;
        for (int i = 0; i < n; i++) out.push_back({sg[i].offset, sg[i].length, dict_key_field(s, k, i + 1)});
        return out;
    }
    std::string value(int s, int f, int buffer = 1) {
        StrRef v{};
        EXPECT_EQ(dict_value(s, f, buffer, &v), 0);
        return str(v);
    }
    std::string detail() { return str(err_detail_get()); }
    // Structure 1 "orders" (N_LINE first) and 2 "clients" with N_LINE third.
    void two_structures() {
        put("XXDICC.DAT", header(1, "DATA", 5, "Orders") + field(6, 'N', "N_LINE") + header(2, "C:\\DATA", 7, "CLIENTS") +
                              field(10, 'A', "NAME") + field(8, '2', "AMOUNT") + field(4, 'N', "N_LINE") +
                              field(8, 'D', "DATE") + field(1, 'L', "OK"));
        ASSERT_EQ(load(), 0);
    }

    test::TempDir dir_;
    ScratchMark m_ = 0;
};

// ------------------------------------------------------------ layout

TEST_F(DictTest, FieldsLieEndToEnd) {
    put("XXDICC.DAT", header(1, " C:\\DATA ", 12, " Clients ") + field(10, 'A', "CODE") + field(5, 'n', "QTY") +
                          field(8, 'D', "WHEN"));
    ASSERT_EQ(load("XXAPP"), 0) << "the prefix is the first two characters";
    ASSERT_EQ(dict_count(), 1);
    EXPECT_EQ(str(dict_name(1)), "clients") << "names are held in lower case";
    EXPECT_EQ(str(dict_folder(1)), "C:\\DATA");
    EXPECT_EQ(dict_class(1), 12);
    EXPECT_EQ(dict_width(1), 23);
    EXPECT_EQ(dict_fields(1), 3);
    struct Want {
        int offset, width;
        char type;
        const char* name;
    } want[] = {{0, 10, 'A', "CODE"}, {10, 5, 'N', "QTY"}, {15, 8, 'D', "WHEN"}};
    for (int f = 1; f <= 3; f++) {
        FieldInfo fi;
        ASSERT_TRUE(dict_field(1, f, &fi));
        EXPECT_EQ(fi.offset, want[f - 1].offset) << f;
        EXPECT_EQ(fi.width, want[f - 1].width) << f;
        EXPECT_EQ(fi.type, want[f - 1].type) << f;
        EXPECT_EQ(str(fi.name), want[f - 1].name) << "trailing blanks go";
    }
    EXPECT_FALSE(dict_field(1, 4, nullptr));
    EXPECT_EQ(str(dict_record(1, 1)), std::string(23, ' ')) << "a new record is blank";
    EXPECT_EQ(str(dict_record(1, 2)), std::string(23, ' '));
    EXPECT_EQ(str(st_get(grp::FileNames, 0)), "clients") << "the start-up declares variables from here";
}

TEST_F(DictTest, NamesAsWrittenWithAuxstatBit8) {
    sysv_set(sysv::AUXSTAT, 8);
    put("XXDICC.DAT", header(1, "", 0, "Clients") + field(3, 'A', "A"));
    ASSERT_EQ(load(), 0);
    EXPECT_EQ(str(dict_name(1)), "Clients");
    EXPECT_EQ(dict_find(sr("Clients")), 1);
    EXPECT_EQ(dict_find(sr("clients")), 0) << "compared as written";
}

TEST_F(DictTest, ThirtiethStructureOpensButTakesNoField) {
    for (int i = 1; i <= 29; i++) {
        ASSERT_EQ(dict_open(0, sr("f" + std::to_string(i)), sr_empty()), 0);
        ASSERT_EQ(dict_add_field(sr("X"), 2, 'A'), 0);
    }
    int n = 0;
    ASSERT_EQ(dict_open(0, sr("last"), sr_empty(), &n), 0);
    EXPECT_EQ(n, 30);
    EXPECT_EQ(dict_add_field(sr("X"), 2, 'A'), ier::FILEOUTBOUND);
    EXPECT_EQ(dict_open(0, sr("more"), sr_empty()), ier::FILEOUTBOUND);
    EXPECT_EQ(dict_count(), 30);
    EXPECT_EQ(dict_fields(30), 0);
}

TEST_F(DictTest, ThirtiethStructureOfADictionaryStopsTheLoadAtItsField) {
    std::string d;
    for (int i = 1; i <= 30; i++) d += header(i, "", 0, "T" + std::to_string(i)) + field(2, 'A', "X");
    put("XXDICC.DAT", d);
    EXPECT_EQ(load(), ier::FILEOUTBOUND);
    EXPECT_EQ(dict_count(), 30);
    EXPECT_EQ(dict_keys(29), 1) << "what was read is complete";
}

TEST_F(DictTest, FieldWidthAndRecordBounds) {
    EXPECT_EQ(dict_add_field(sr("X"), 1, 'A'), ier::FILEOUTBOUND) << "no structure open";
    ASSERT_EQ(dict_open(0, sr("t"), sr_empty()), 0);
    EXPECT_EQ(dict_add_field(sr("X"), 32768, 'A'), ier::DATAOUTBOUND);
    EXPECT_EQ(dict_add_field(sr("X"), -1, 'A'), ier::DATAOUTBOUND);
    EXPECT_EQ(dict_add_field(sr("X"), 32767, 'A'), 0);
    EXPECT_EQ(dict_add_field(sr("Y"), 32767, 'A'), 0);
    EXPECT_EQ(dict_add_field(sr("Z"), 2, 'A'), ier::DATAOUTBOUND) << "a record half is at most 65535 bytes";
    EXPECT_EQ(dict_width(1), 65534);
    EXPECT_EQ(dict_fields(1), 2);
}

// ------------------------------------------------------------ keys

struct KeyCase {
    const char* name;
    std::string dicc, rel;
    std::vector<std::vector<Seg>> keys;  // of structure 1
};

class DictKeys : public DictTest, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(DictKeys, KeysOfStructureOne) {
    const KeyCase& c = GetParam();
    put("XXDICC.DAT", c.dicc);
    if (!c.rel.empty()) put("XXREL.DAT", c.rel);
    ASSERT_EQ(load(), 0) << str(err_detail_get());
    ASSERT_EQ(dict_keys(1), static_cast<int>(c.keys.size()));
    for (size_t k = 0; k < c.keys.size(); k++) EXPECT_EQ(key_of(1, static_cast<int>(k + 1)), c.keys[k]) << k + 1;
}

const std::string kThree = header(1, "", 0, "t") + field(10, 'A', "CODE") + field(5, 'N', "QTY") + field(8, 'D', "N_LINE");

INSTANTIATE_TEST_SUITE_P(
    Dict, DictKeys,
    ::testing::Values(
        KeyCase{"DefaultOnNLine", kThree, "", {{{15, 8, 3}}}},
        KeyCase{"DefaultOnFirstField", header(1, "", 0, "t") + field(4, 'A', "A") + field(2, 'A', "B"), "", {{{0, 4, 1}}}},
        KeyCase{"DeclaredKeysComeFirstAndNoDefault",
                kThree,
                key(31, seg(11, 5) + seg(1, 10)) + key(31, seg(1, 3)),
                {{{10, 5, 2}, {0, 10, 1}}, {{0, 3, 1}}}},
        KeyCase{"SixGroupsKeepFive",
                kThree,
                key(31, seg(1, 1) + seg(2, 1) + seg(3, 1) + seg(4, 1) + seg(5, 1) + seg(6, 1)),
                {{{0, 1, 1}, {1, 1, 1}, {2, 1, 1}, {3, 1, 1}, {4, 1, 1}}}},
        KeyCase{"SegmentMapsToTheFieldOfItsFirstByte", kThree, key(31, seg(13, 4)), {{{12, 4, 2}}}},
        KeyCase{"KeyLinesInAnyOrder",
                kThree + header(2, "", 0, "u") + field(3, 'A', "A"),
                key(32, seg(1, 3)) + key(31, seg(1, 10)),
                {{{0, 10, 1}}}},
        KeyCase{"KeyLineWithoutCloserOrWithBlanks", kThree, "31<" + seg(1, 10) + "\r\n31<   1 10>   \r\n",
                {{{0, 10, 1}}, {{0, 10, 1}}}}),
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(DictTest, KeysOfAStructureWithoutDeclaredKeysAndOfTheNext) {
    put("XXDICC.DAT", kThree + header(2, "", 0, "u") + field(3, 'A', "A") + field(3, 'A', "B"));
    put("XXREL.DAT", key(32, seg(4, 3)));
    ASSERT_EQ(load(), 0);
    EXPECT_EQ(key_of(1, 1), (std::vector<Seg>{{15, 8, 3}}));
    EXPECT_EQ(key_of(2, 1), (std::vector<Seg>{{3, 3, 2}}));
    EXPECT_EQ(dict_keys(2), 1);
}

struct BadCase {
    const char* name;
    std::string dicc, rel;
    IER status;
    const char* detail;  // part of the detail text
};

class DictBad : public DictTest, public ::testing::WithParamInterface<BadCase> {};

TEST_P(DictBad, RefusedWithAStatus) {
    const BadCase& c = GetParam();
    put("XXDICC.DAT", c.dicc);
    if (!c.rel.empty()) put("XXREL.DAT", c.rel);
    EXPECT_EQ(load(), c.status);
    EXPECT_NE(detail().find(c.detail), std::string::npos) << detail();
}

INSTANTIATE_TEST_SUITE_P(
    Dict, DictBad,
    ::testing::Values(
        BadCase{"SegmentBeyondTheRecord", kThree, key(31, seg(20, 5)), ier::INTERNALERROR, "XXREL.DAT: line 1"},
        BadCase{"SegmentOutsideEveryField", kThree, key(31, seg(24, 1)), ier::INTERNALERROR, "XXREL.DAT: line 1"},
        BadCase{"OffsetZero", kThree, key(31, seg(0, 1)), ier::BADINPUTDATA, "XXREL.DAT: line 1"},
        BadCase{"HalfAGroup", kThree, "31<000101>\r\n", ier::BADINPUTDATA, "XXREL.DAT: line 1"},
        BadCase{"LettersInAGroup", kThree, "\r\n31<00x1010>\r\n", ier::BADINPUTDATA, "XXREL.DAT: line 2"},
        BadCase{"KeyOfNoStructure", kThree, key(32, seg(1, 1)), ier::BADINPUTDATA, "XXREL.DAT: line 1"},
        BadCase{"RelationOfNoStructure", kThree, "62 rel:x\r\n", ier::BADFILENUMBER, "XXREL.DAT: line 1"},
        BadCase{"WidthNotANumber", header(1, "", 0, "t") + "01       1x0 AX\r\n", "", ier::BADINPUTDATA,
                "XXDICC.DAT: line 2"},
        BadCase{"FieldBeforeAnyStructure", field(3, 'A', "X"), "", ier::FILEOUTBOUND, "XXDICC.DAT: line 1"},
        BadCase{"LineOver512", kThree + "01       001 A" + std::string(499, 'N') + "\r\n", "", ier::STRINGTOOLONG,
                "XXDICC.DAT: line 5"},
        BadCase{"IncludeOfItself", header(1, "$", 0, "XX"), "", ier::BADINPUTDATA, "include of XXDICC.DAT"},
        BadCase{"MissingInclude", kThree + header(2, "$INC", 0, "YY"), "", ier::FileNotFound, "YYDICC.DAT"}),
    [](const auto& i) { return std::string(i.param.name); });

TEST_F(DictTest, LineOf512IsRead) {
    std::string name(498, 'N');
    put("XXDICC.DAT", header(1, "", 0, "t") + "01       001 A" + name + "\r\n");
    ASSERT_EQ(load(), 0);
    FieldInfo fi;
    ASSERT_TRUE(dict_field(1, 1, &fi));
    EXPECT_EQ(fi.name.n, 498);
}

TEST_F(DictTest, MissingDictionaryAndMissingRelations) {
    EXPECT_EQ(load("QQ"), ier::FileNotFound);
    EXPECT_EQ(detail(), "QQDICC.DAT");
    EXPECT_EQ(dict_count(), 0);
    err_detail_clear();
    put("XXDICC.DAT", kThree);
    EXPECT_EQ(load(), 0) << "XXREL.DAT may be missing";
    EXPECT_EQ(dict_load(sr("X")), ier::LOADSTRERROR);
}

TEST_F(DictTest, StructuresBeforeAMissingIncludeStayOpen) {
    put("XXDICC.DAT", kThree + header(2, "$", 0, "YY") + header(3, "", 0, "never") + field(2, 'A', "A"));
    EXPECT_EQ(load(), ier::FileNotFound);
    EXPECT_EQ(dict_count(), 1);
    EXPECT_EQ(dict_keys(1), 1);
}

TEST_F(DictTest, IncludesContinueTheNumbering) {
    put("XXDICC.DAT", header(1, "$", 0, "QVshared") + header(1, "", 0, "own1") + field(4, 'A', "A") + field(4, 'A', "B") +
                          header(2, "", 0, "own2") + field(2, 'A', "C"));
    put("XXREL.DAT", key(31, seg(5, 4)) + "61 rel:own1 first\r\n61 second\r\n61:third:part\r\n");
    put("QVDICC.DAT", header(1, "", 3, "shared") + field(6, 'A', "S") + field(3, 'N', "N_LINE"));
    put("QVREL.DAT", key(31, seg(1, 6)) + "61 x:shared\r\n");
    ASSERT_EQ(load(), 0);
    ASSERT_EQ(dict_count(), 3);
    EXPECT_EQ(str(dict_name(1)), "shared");
    EXPECT_EQ(str(dict_name(2)), "own1");
    EXPECT_EQ(str(dict_name(3)), "own2");
    EXPECT_EQ(key_of(1, 1), (std::vector<Seg>{{0, 6, 1}})) << "the included REL names its own structures";
    EXPECT_EQ(key_of(2, 1), (std::vector<Seg>{{4, 4, 2}})) << "line 31 of XXREL.DAT is XX's first structure";
    EXPECT_EQ(key_of(3, 1), (std::vector<Seg>{{0, 2, 1}}));
    EXPECT_EQ(str(dict_relations(1)), "shared");
    EXPECT_EQ(str(dict_relations(2)), "own1 first:third:part") << "a line without ':' adds nothing";
    EXPECT_EQ(str(dict_relations(3)), "");
}

TEST_F(DictTest, LinesOfNoKindAreSkipped) {
    put("XXDICC.DAT", "; a comment\r\n\r\n00 nothing\r\n95 nothing\r\n" + kThree + "x1 *\r\n");
    ASSERT_EQ(load(), 0);
    EXPECT_EQ(dict_count(), 1);
    EXPECT_EQ(dict_fields(1), 3);
}

TEST_F(DictTest, AddKeyAndRelationByNumber) {
    ASSERT_EQ(dict_open(0, sr("a"), sr_empty()), 0);
    ASSERT_EQ(dict_add_field(sr("N_LINE"), 3, 'N'), 0);
    ASSERT_EQ(dict_open(0, sr("b"), sr_empty()), 0);
    ASSERT_EQ(dict_add_field(sr("X"), 3, 'A'), 0);
    KeySegment s{0, 3};
    EXPECT_EQ(dict_add_key(3, 1, &s), ier::BADINPUTDATA);
    EXPECT_EQ(dict_keys(1), 0);
    ASSERT_EQ(dict_add_key(2, 1, &s), 0);
    EXPECT_EQ(dict_keys(1), 1) << "the structures before it are completed";
    EXPECT_EQ(dict_add_relation(3, sr("x")), ier::BADFILENUMBER);
    EXPECT_EQ(dict_add_relation(1, sr("x")), 0);
}

// ------------------------------------------------------------ field references

struct RefCase {
    const char* ref;
    IER status;
};

TEST_F(DictTest, FieldReferencesNameTheSameField) {
    two_structures();
    sysv_set(sysv::CURFIL, 2);
    ASSERT_EQ(dict_set(2, 3, sr("77")), 0);
    for (const char* ref : {"N_LINE{}", "N_LINE{2}", "3{2}", "N_LINE{CLIENTS}", "N_LINE{clients}", "3{02}"}) {
        int s = 0, f = 0;
        std::string r = ref;
        size_t open = r.find('{');
        ASSERT_EQ(dict_resolve(sr(r.substr(open + 1, r.size() - open - 2)), sr(r.substr(0, open)), &s, &f), 0) << ref;
        EXPECT_EQ(s, 2) << ref;
        EXPECT_EQ(f, 3) << ref;
        EXPECT_EQ(str(ex_text(sr(r))), "77") << ref << ": a number field reads as a number";
    }
}

TEST_F(DictTest, BadFieldReferences) {
    two_structures();
    sysv_set(sysv::CURFIL, 2);
    const RefCase cases[] = {
        {"n_line{2}", ier::SINTAXERROR},  // field names compare exactly
        {"0{2}", ier::SINTAXERROR},        {"7{2}", ier::SINTAXERROR},        {"{2}", ier::SINTAXERROR},
        {"N_LINE{3}", ier::FILEOUTBOUND},  {"N_LINE{0}", ier::FILEOUTBOUND},  {"N_LINE{NOSUCH}", ier::FILEOUTBOUND},
        {"N_LINE{2x}", ier::FILEOUTBOUND}, {"N_LINE{2", ier::SINTAXERROR},     {"N_LINE}2{", ier::SINTAXERROR},
    };
    for (const RefCase& c : cases) {
        ScratchMark m = scr_mark();
        err_detail_clear();
        err_origin(2, 0, 0);
        Value v;
        EXPECT_EQ(ex_eval(sr_c(c.ref), &v), c.status) << c.ref;
        if (c.status == ier::SINTAXERROR) {
            EXPECT_NE(detail().find(std::string("Field:") + c.ref), std::string::npos) << c.ref << ": " << detail();
        }
        scr_release(m);
    }
    sysv_set(sysv::CURFIL, 0);
    Value v;
    EXPECT_EQ(ex_eval(sr("N_LINE{}"), &v), ier::FILEOUTBOUND) << "no current file";
}

TEST_F(DictTest, AssigningThroughReferencesFormatsToTheField) {
    two_structures();
    struct Case {
        const char* expr;
        int field;
        const char* stored;
    } cases[] = {
        {"NAME{2}='Smith'", 1, "Smith     "},
        {"NAME{2}='A much longer name'", 1, "A much lon"},
        {"AMOUNT{2}=12.5", 2, "   12.50"},
        {"AMOUNT{2}=-3", 2, "   -3.00"},
        {"AMOUNT{2}=0.005", 2, "    0.01"},
        {"N_LINE{2}=42", 3, "  42"},
        {"DATE{2}='05/03/2024'", 4, "20240503"},
        {"DATE{2}=''", 4, "        "},
        {"OK{2}='yes'", 5, "1"},
    };
    for (const Case& c : cases) {
        ScratchMark m = scr_mark();
        Value v;
        EXPECT_LT(ex_eval(sr_c(c.expr), &v), 128) << c.expr;
        EXPECT_EQ(value(2, c.field), c.stored) << c.expr;
        scr_release(m);
    }
    EXPECT_EQ(str(ex_text(sr("NAME{2}+'|'"))), "A much lon|") << "texts read as stored";
    EXPECT_EQ(str(ex_text(sr("AMOUNT{2}*2"))), ".02") << "a number field reads as the number stored";
}

TEST_F(DictTest, SetFieldRefusesWithoutTouchingTheNeighbours) {
    two_structures();
    ASSERT_EQ(dict_set(2, 1, sr("left")), 0);
    ASSERT_EQ(dict_set(2, 3, sr("9")), 0);
    std::string before = str(dict_record(2, 1));
    EXPECT_EQ(dict_set(2, 2, sr("123456789")), ier::DATAOUTBOUND) << "a number needs more places than 8";
    EXPECT_NE(detail().find("(File:2, Field:2)"), std::string::npos) << detail();
    EXPECT_EQ(str(dict_record(2, 1)), before);
    EXPECT_EQ(dict_set(2, 6, sr("x")), ier::DATAOUTBOUND);
    EXPECT_EQ(dict_set(9, 1, sr("x")), ier::BADFILENUMBER);
    StrRef v{};
    EXPECT_EQ(dict_value(2, 0, 1, &v), ier::DATAOUTBOUND);
    EXPECT_EQ(dict_value(3, 1, 1, &v), ier::DATAOUTBOUND);
    EXPECT_EQ(dict_value(2, 1, 3, &v), ier::DATAOUTBOUND);
    EXPECT_NE(detail().find("(File:2, Field:1)"), std::string::npos);
}

TEST_F(DictTest, RecordBuffersAndTheSavedCopy) {
    two_structures();
    EXPECT_FALSE(dict_record_changed(2));
    ASSERT_EQ(dict_set(2, 1, sr("Smith")), 0);
    EXPECT_TRUE(dict_record_changed(2));
    EXPECT_EQ(value(2, 1, 2), std::string(10, ' '));
    dict_save_record(2);
    EXPECT_FALSE(dict_record_changed(2));
    EXPECT_EQ(value(2, 1, 2), "Smith     ");
    ASSERT_EQ(dict_set(2, 1, sr("Jones")), 0);
    dict_restore_record(2);
    EXPECT_EQ(value(2, 1), "Smith     ");
    dict_clear_record(2);
    EXPECT_EQ(str(dict_record(2, 1)) + str(dict_record(2, 2)), std::string(2 * 31, ' ')) << "both halves";
    ASSERT_EQ(dict_put_record(2, sr("Row")), 0);
    EXPECT_EQ(value(2, 1), "Row       ");
    EXPECT_EQ(dict_put_record(2, sr(std::string(32, 'x'))), ier::DATAOUTBOUND);
}

TEST_F(DictTest, KeyValueAndSettingTheKeyFields) {
    put("XXDICC.DAT", kThree);
    put("XXREL.DAT", key(31, seg(16, 8) + seg(1, 10)));
    ASSERT_EQ(load(), 0);
    ASSERT_EQ(dict_set_key(1, 1, sr("20240305ABC")), 0);
    EXPECT_EQ(value(1, 3), "20240305");
    EXPECT_EQ(value(1, 1), "ABC       ");
    StrRef k{};
    ASSERT_EQ(dict_key_value(1, 1, 1, &k), 0);
    EXPECT_EQ(str(k), "20240305ABC       ");
    ASSERT_EQ(dict_key_value(1, 1, 2, &k), 0);
    EXPECT_EQ(str(k), std::string(18, ' '));
    ASSERT_EQ(dict_set_key(1, 1, sr("2024")), 0) << "a short value empties the rest";
    EXPECT_EQ(value(1, 1), std::string(10, ' '));
    EXPECT_EQ(dict_key_value(1, 2, 1, &k), ier::DATAOUTBOUND);
}

// ------------------------------------------------------------ file names

TEST_F(DictTest, FileNamesOfTheKinds) {
    put("XXDICC.DAT", header(1, "C:\\DATA", 0, "LongerName") + field(3, 'A', "A"));
    ASSERT_EQ(load(), 0);
    struct Case {
        int compat, kind;
        const char* name;
    } cases[] = {
        {0, 1, "longername"},
        {0, 2, "C:\\DATA\\longername.FD"},
        {0, 3, "C:\\DATA\\longername.DIR"},
        {2, 3, "C:\\DATA\\longername.NDX"},
        {0, 4, "C:\\DATA\\longername.NDX"},
        {0, 5, "C:\\DATA\\longername.TMP"},
        {0, 6, "C:\\DATA\\longername.TXT"},
        {8, 5, "C:\\DATA\\longerna.TMP"},
        {8, 1, "longername"},
    };
    for (const Case& c : cases) {
        sysv_set(sysv::COMPAT, static_cast<int16_t>(c.compat));
        EXPECT_EQ(str(dict_file_name(1, c.kind)), c.name) << c.compat << "/" << c.kind;
    }
    EXPECT_EQ(sr_status(dict_file_name(2, 1)), ier::BADFILENUMBER);
}

TEST_F(DictTest, TemporaryFileNameIsAFreshFileOnStack31) {
    std::string tmp = dir_.path + "/tmp";
    std::filesystem::create_directories(tmp);
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    setenv("TMPDIR", tmp.c_str(), 1);
    int depth = st_count(grp::StkAux);
    std::string a = str(dict_file_name(1, 7));
    std::string b = str(dict_file_name(1, 7));
    if (old) setenv("TMPDIR", saved.c_str(), 1);
    else unsetenv("TMPDIR");
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(tmp + "/", 0), 0u) << a;
    struct stat st;
    ASSERT_EQ(::stat(a.c_str(), &st), 0) << "made, so that no one else can take the name";
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st_count(grp::StkAux), depth + 2);
    EXPECT_EQ(str(st_top(grp::StkAux)), b);
}

// ------------------------------------------------------------ FILESTRUCT

class DictProc : public DictTest {
protected:
    IER run(const std::string& text) {
        int index = -1;
        IER st = proc_load_text(sr(text), &index);
        if (st) return st;
        st = proc_run(index, 0);
        proc_unload(index);
        return st;
    }
};

TEST_F(DictProc, FilestructDefinesAndRestoreRemoves) {
    two_structures();
    sysv_set(sysv::CURFIL, 1);
    // The structure lives until the end of the run: it is looked at inside.
    ASSERT_EQ(run("FILESTRUCT 'Work','CODE;5;A,QTY;2+3;n,N_LINE;4;N','<0001005,<0011004>'\n"
                  "C=_CURFIL\nCODE{}='ab'\nQTY{WORK}=12\nK=CODE{3}=='ab   '\nQ=QTY{}+1\n"),
              0)
        << detail();
    EXPECT_EQ(dict_count(), 2) << "the run's clean-up removes what it defined";
    EXPECT_EQ(sysv_get(sysv::CURFIL), 1);
    EXPECT_EQ(sysv_get(var_int_find(sr("C"))), 3);
    EXPECT_EQ(sysv_get(var_int_find(sr("K"))), 1) << "a text field reads padded to its width";
    EXPECT_EQ(sysv_get(var_int_find(sr("Q"))), 13);

    // Defined outside a run, it stays until RESTORE.
    ArgumentList a;
    a.count = 3;
    a.arg[0].text = sr("Work");
    a.arg[1].text = sr("CODE;5;A,QTY;2+3;n,N_LINE;4;N");
    a.arg[2].text = sr("<0001005,<0011004>");
    ASSERT_EQ(dict_command(kw::FILESTRUCT, a), 0);
    ASSERT_EQ(dict_count(), 3);
    EXPECT_EQ(str(dict_name(3)), "work");
    EXPECT_EQ(dict_class(3), 0);
    EXPECT_EQ(dict_width(3), 14);
    FieldInfo fi;
    ASSERT_TRUE(dict_field(3, 2, &fi));
    EXPECT_EQ(fi.width, 5);
    EXPECT_EQ(fi.type, 'N');
    EXPECT_EQ(dict_keys(3), 2);
    EXPECT_EQ(key_of(3, 2), (std::vector<Seg>{{10, 4, 3}}));
    EXPECT_EQ(sysv_get(sysv::CURFIL), 3);
    a.count = 1;
    a.arg[0].text = sr("restore");
    ASSERT_EQ(dict_command(kw::FILESTRUCT, a), 0);
    EXPECT_EQ(dict_count(), 2);
    EXPECT_EQ(sysv_get(sysv::CURFIL), 1);
    EXPECT_EQ(st_count(grp::FileNames), 2);
    EXPECT_EQ(dict_keys(2), 1) << "the structures before the mark are as they were";
}

TEST_F(DictProc, FilestructWithoutKeysGetsTheDefaultKey) {
    ASSERT_EQ(run("FILESTRUCT 'w','A;3;A,N_LINE;2;N',''\nK=_CURFIL\n"), 0);
    ArgumentList a;
    a.count = 2;
    a.arg[0].text = sr("w");
    a.arg[1].text = sr("A;3;A,N_LINE;2;N");
    ASSERT_EQ(dict_command(kw::FILESTRUCT, a), 0);
    EXPECT_EQ(key_of(1, 1), (std::vector<Seg>{{3, 2, 2}}));
}

TEST_F(DictProc, EighthMarkIsRefused) {
    ArgumentList a;
    a.count = 2;
    a.arg[1].text = sr("A;1;A");
    for (int i = 0; i < kDictMarksMax; i++) {
        a.arg[0].text = sr("t");
        ASSERT_EQ(dict_command(kw::FILESTRUCT, a), 0) << i;
    }
    EXPECT_EQ(dict_command(kw::FILESTRUCT, a), ier::DATAOUTBOUND);
    EXPECT_EQ(dict_count(), kDictMarksMax);
    a.arg[0].text = sr("RESTORE");
    for (int i = kDictMarksMax - 1; i >= 0; i--) {
        ASSERT_EQ(dict_command(kw::FILESTRUCT, a), 0);
        EXPECT_EQ(dict_count(), i);
    }
}

TEST_F(DictProc, RestoreWithoutAMarkRemovesEveryStructure) {
    two_structures();
    sysv_set(sysv::CURFIL, 2);
    ArgumentList a;
    a.count = 1;
    a.arg[0].text = sr("RESTORE");
    ASSERT_EQ(dict_command(kw::FILESTRUCT, a), 0);
    EXPECT_EQ(dict_count(), 0);
    EXPECT_EQ(st_count(grp::FileNames), 0);
    EXPECT_EQ(sysv_get(sysv::CURFIL), 0);
}

TEST_F(DictProc, FailedFilestructLeavesNothingBehind) {
    two_structures();
    const char* bad[] = {
        "FILESTRUCT 'w','A;32768;A',''\n",
        "FILESTRUCT 'w','A;3;A','<0003005>'\n",
        "FILESTRUCT 'w','A;''x'';A',''\n",
        "FILESTRUCT 'w','A;3;A','<00031>'\n",
    };
    const IER want[] = {ier::DATAOUTBOUND, ier::INTERNALERROR, ier::TypeMismatch, ier::BADINPUTDATA};
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(run(bad[i]), want[i]) << bad[i];
        EXPECT_EQ(dict_count(), 2) << bad[i];
        EXPECT_EQ(dict_marks(), 0) << bad[i];
    }
}

TEST_F(DictProc, LoadstructAndOtherLevelOneCodes) {
    put("XXDICC.DAT", kThree);
    ASSERT_EQ(run("LOADSTRUCT 'XXAPP'\n"), 0);
    EXPECT_EQ(dict_count(), 1) << "a loaded dictionary stays after the run";
    EXPECT_EQ(run("LOADSTRUCT 'QQ'\n"), ier::FileNotFound);
    ArgumentList a;
    EXPECT_EQ(dict_command(kw::RC_WRITE, a), kCmdNotMine);
    EXPECT_EQ(dict_command(kw::RC_DELETE, a), kCmdNotMine);
}

// ------------------------------------------------------------ start-up

IER install_hook(int phase) {
    if ((phase & 15) == 1) {
        script_install();
        dict_install();
    }
    return 0;
}

TEST(DictStartup, LoadsTheDictionaryAndDeclaresAVariablePerFile) {
    test::TempDir d;
    d.put("app/CODICC.DAT", header(1, "", 0, "Orders") + field(6, 'N', "N_LINE") + header(2, "", 0, "CLIENTS") +
                                field(10, 'A', "NAME") + field(4, 'N', "N_LINE"));
    std::string line = "/opt/qv/ledger /DPATH:'" + d.path + "/app'";
    ex_install();
    fnlib_install();
    StartRequest rq;
    rq.cmdline = sr(line);
    rq.appcode = sr("COLDGR27K:x");
    rq.flags = kStartLoadDictionary;
    rq.hook = install_hook;
    ASSERT_EQ(runtime_start(rq), 0);
    EXPECT_EQ(dict_count(), 2) << "found in the second pass, loaded once";
    EXPECT_EQ(sysv_get(var_int_find(sr("orders"))), 1);
    EXPECT_EQ(sysv_get(var_int_find(sr("clients"))), 2);
    EXPECT_EQ(str(ex_text(sr("FN$TRIM(N_LINE{CLIENTS})+'x'"))), "x");
    shutdown(nullptr, 0);
    ASSERT_EQ(rt_stores_init(), 0);
    EXPECT_EQ(dict_count(), 0) << "a new build of the stores starts without a dictionary";
    rt_stores_teardown();
    for (int l = 0; l < kCmdLevels; l++) cmd_register(l, nullptr);
    script_ports_reset();
    ex_set_field_port(nullptr);
    rt_ports_reset();
}

}  // namespace
}  // namespace rt
