// The SQL text of record operations, built without a server: values,
// comparisons, key conditions, key orders, ranges and filters; and the
// refusal of files that are not open.
#include <string>

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/rec.h"
#include "runtime/data/recsql.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/recport.h"
#include "runtime/expr/vars.h"
#include "runtime/script/proc.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

class RecText : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        ex_install();
        fnlib_install();
        script_install();
        dict_install();
        dict_clear();
        m_ = scr_mark();
        // sales: SERIE A3, YEAR N4, AMOUNT 2 (10), NOTE A20, DUE D8, NUL A5 (buffer only)
        ASSERT_EQ(dict_open(0, sr("sales"), sr(""), &file_), 0);
        ASSERT_EQ(dict_add_field(sr("SERIE"), 3, 'A'), 0);
        ASSERT_EQ(dict_add_field(sr("YEAR"), 4, 'N'), 0);
        ASSERT_EQ(dict_add_field(sr("AMOUNT"), 10, '2'), 0);
        ASSERT_EQ(dict_add_field(sr("NOTE"), 20, 'A'), 0);
        ASSERT_EQ(dict_add_field(sr("DUE"), 8, 'D'), 0);
        ASSERT_EQ(dict_add_field(sr("NUL"), 5, 'A'), 0);
        KeySegment k[] = {{0, 3}, {3, 4}};
        ASSERT_EQ(dict_add_key(file_, 2, k), 0);
        KeySegment k2[] = {{0, 3}};
        ASSERT_EQ(dict_add_key(file_, 1, k2), 0);
        sysv_set(sysv::CURFIL, static_cast<int16_t>(file_));
    }
    void TearDown() override {
        scr_release(m_);
        rec_reset_all();
        dict_clear();
        script_done();
        for (int l = 0; l < kCmdLevels; l++) cmd_register(l, nullptr);
        script_ports_reset();
        rec_set_port(nullptr);
        ex_set_field_port(nullptr);
        vars_done();
        sysv_set(sysv::AUXSTAT, 0);
        sysv_set(sysv::SYSCOMPAT, 0);
        RtTest::TearDown();
    }
    std::string filter(const std::string& cond, IER* st = nullptr) {
        std::string out;
        IER s = rec_filter(sr(cond), &out);
        if (st) *st = s;
        else EXPECT_EQ(s, 0) << cond << ": " << str(err_detail_get());
        return out;
    }
    ScratchMark m_{};
    int file_ = 0;
};

TEST_F(RecText, ValuesAreRenderedByType) {
    struct Case {
        char type;
        std::string text, sql;
        IER st;
    } cases[] = {
        {'A', "abc   ", "'abc'", 0},
        {'A', "  x", "'  x'", 0},
        {'A', "     ", "NULL", 0},
        {'A', std::string("ab\0cd", 5), "'ab'", 0},
        {'A', "it's", "E'it\\x27s'", 0},
        {'A', "a\\b", "E'a\\\\b'", 0},
        {'N', "  2024", "2024", 0},
        {'2', "   -12.50", "-12.50", 0},
        {'2', "     ", "NULL", 0},
        {'N', "1; DROP TABLE x", "", ier::BADINPUTDATA},
        {'N', "12'", "", ier::BADINPUTDATA},
        {'3', "1.2.3", "", ier::BADINPUTDATA},
        {'D', "20240115", "'20240115'", 0},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(sql_render(c.type, c.text, &out), c.st) << c.text;
        if (!c.st) {
            EXPECT_EQ(out, c.sql) << c.text;
        }
    }
}

TEST_F(RecText, ComparisonsAcceptNullWhereKeyOrderPutsIt) {
    struct Case {
        char type;
        std::string text;
        int op;
        std::string sql;
    } cases[] = {
        {'A', "A", sqlop::Eq, "\"F\" = 'A'"},
        {'A', "A", sqlop::Gt, "\"F\" > 'A'"},
        {'A', "A", sqlop::Lt, "(\"F\" < 'A' OR \"F\" IS NULL)"},
        {'A', "A", sqlop::Le, "(\"F\" <= 'A' OR \"F\" IS NULL)"},
        {'A', "A", sqlop::Ne, "(\"F\" <> 'A' OR \"F\" IS NULL)"},
        {'A', "", sqlop::Eq, "(\"F\" = '' OR \"F\" IS NULL)"},
        {'A', "", sqlop::Gt, "\"F\" > ''"},
        {'N', "", sqlop::Ge, "(\"F\" >= 0 OR \"F\" IS NULL)"},
        {'N', "", sqlop::Lt, "\"F\" < 0"},
        {'D', "20240115", sqlop::Gt, "\"F\" > '20240115'"},
        {'D', "", sqlop::Eq, "\"F\" IS NULL"},
        {'D', "", sqlop::Gt, "\"F\" IS NOT NULL"},
        {'D', "", sqlop::Ne, "\"F\" IS NOT NULL"},
        {'D', "", sqlop::Lt, "(\"F\" IS NULL AND \"F\" IS NOT NULL)"},
    };
    for (const Case& c : cases) {
        std::string out;
        ASSERT_EQ(sql_compare(SqlField{"F", c.type, c.text}, c.op, &out), 0);
        EXPECT_EQ(out, c.sql) << c.text << " op " << c.op;
    }
}

TEST_F(RecText, KeyConditions) {
    struct Case {
        std::string value;
        int op;
        std::string sql;
        IER st;
    } cases[] = {
        {"A  2024", sqlop::Eq, "\"SERIE\" = 'A' AND \"YEAR\" = 2024", 0},
        {"A  2024", sqlop::Gt, "\"SERIE\" > 'A' OR (\"SERIE\" = 'A' AND \"YEAR\" > 2024)", 0},
        {"A  2024", sqlop::Ge, "\"SERIE\" > 'A' OR (\"SERIE\" = 'A' AND \"YEAR\" >= 2024)", 0},
        {"A  2024", sqlop::Lt,
         "(\"SERIE\" < 'A' OR \"SERIE\" IS NULL) OR (\"SERIE\" = 'A' AND (\"YEAR\" < 2024 OR \"YEAR\" IS NULL))", 0},
        {"A", sqlop::Eq, "\"SERIE\" = 'A'", 0},
        {"", sqlop::Eq, "", 0},
        {"A  20x4", sqlop::Eq, "", 5},
        {"A  1 OR", sqlop::Gt, "", 5},
    };
    for (const Case& c : cases) {
        std::string out;
        EXPECT_EQ(rec_key_condition(file_, 1, sr(c.value), c.op, &out), c.st) << c.value;
        EXPECT_EQ(out, c.sql) << c.value << " op " << c.op;
    }
}

TEST_F(RecText, KeyOrders) {
    EXPECT_EQ(rec_key_order(file_, 1, false), "\"SERIE\" NULLS FIRST,\"YEAR\" NULLS FIRST");
    EXPECT_EQ(rec_key_order(file_, 1, true), "\"SERIE\" DESC NULLS LAST,\"YEAR\" DESC NULLS LAST");
    // The first field alone is ordered by the first three.
    EXPECT_EQ(rec_key_order(file_, 2, false), "\"SERIE\" NULLS FIRST,\"YEAR\" NULLS FIRST,\"AMOUNT\" NULLS FIRST");
    sysv_set(sysv::SYSCOMPAT, kSyscompatPlainOrder);
    EXPECT_EQ(rec_key_order(file_, 1, true), "\"SERIE\" DESC,\"YEAR\" DESC");
    EXPECT_EQ(rec_key_order(file_, 1, false), "\"SERIE\",\"YEAR\"");
}

TEST_F(RecText, Ranges) {
    struct Case {
        std::string start, bound;
        int op;
        std::string extra, sql;
    } cases[] = {
        {"A  2024", "", sqlop::Gt, "", "\"SERIE\" > 'A' OR (\"SERIE\" = 'A' AND \"YEAR\" > 2024)"},
        {"A  2024", "A  2024", sqlop::Gt, "", "\"SERIE\" = 'A' AND \"YEAR\" = 2024"},
        {"A  2020", "A  2024", sqlop::Ge, "", "\"SERIE\" = 'A' AND \"YEAR\" >= 2020 AND (\"YEAR\" <= 2024 OR \"YEAR\" IS NULL)"},
        {"A  2024", "", sqlop::Gt, "\"NOTE\" = 'x' OR \"YEAR\" = 1",
         "(\"SERIE\" > 'A' OR (\"SERIE\" = 'A' AND \"YEAR\" > 2024)) AND (\"NOTE\" = 'x' OR \"YEAR\" = 1)"},
        {"", "", sqlop::Gt, "\"YEAR\" = 1", "\"YEAR\" = 1"},
    };
    for (const Case& c : cases) {
        std::string out;
        ASSERT_EQ(rec_range(file_, 1, sr(c.start), sr(c.bound), c.op, sr(c.extra), &out), 0);
        EXPECT_EQ(out, c.sql) << c.start << ".." << c.bound;
    }
}

TEST_F(RecText, FiltersBecomeSql) {
    ASSERT_EQ(var_assign(sr("LIM#"), Value::number(500 * 100)), 0);
    ASSERT_EQ(var_assign(sr("T$"), Value::of_text(sr("x' OR '1'='1"))), 0);
    struct Case {
        std::string cond, sql;
    } cases[] = {
        {"SERIE{}==\"AB*\"", "\"SERIE\" ILIKE 'AB%'"},
        {"SERIE{sales}=='A_*'", "\"SERIE\" ILIKE E'A\\\\_%'"},
        {"YEAR{}>=2020&&YEAR{}<=2024", "\"YEAR\" >= 2020 AND (\"YEAR\" IS NULL OR \"YEAR\" <= 2024)"},
        {"AMOUNT{}==0||NOTE{}<>''", "(\"AMOUNT\" IS NULL OR \"AMOUNT\" = 0) OR (\"NOTE\" IS NOT NULL AND \"NOTE\" <> '')"},
        {"NOTE{}==''", "(\"NOTE\" IS NULL OR \"NOTE\" = '')"},
        {"DUE{}==''", "\"DUE\" IS NULL"},
        {"DUE{}<>''&&DUE{}>='20240101'", "\"DUE\" IS NOT NULL AND \"DUE\" >= '20240101'"},
        {"AMOUNT{}>LIM#*2", "\"AMOUNT\" > 500 * 2"},
        {"(SERIE{}=='A'|SERIE{}=='B')&YEAR{}==2024",
         "(\"SERIE\" = 'A' OR \"SERIE\" = 'B') AND \"YEAR\" = 2024"},
        {"NOTE{} == T$", "\"NOTE\" = E'x\\x27 OR \\x271\\x27=\\x271'"},
        {"NOTE{}==\"a'b\"", "\"NOTE\" = E'a\\x27b'"},
        {"YEAR{}=='2024'", "\"YEAR\" = 2024"},
        {"AMOUNT{}>-5", "\"AMOUNT\" > -5"},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(filter(c.cond), c.sql) << c.cond;
    IER st = 0;
    filter("YEAR{}=='1 OR 1=1'", &st);
    EXPECT_EQ(st, ier::BADINPUTDATA) << "a text for a number field must be a number";
    sysv_set(sysv::AUXSTAT, static_cast<int16_t>(kAuxRawSql));
    EXPECT_EQ(filter("\"YEAR\" BETWEEN 1 AND 2"), "\"YEAR\" BETWEEN 1 AND 2");
}

TEST_F(RecText, StoredFieldsLeaveBufferOnlyOnesOut) { EXPECT_EQ(rec_stored_fields(file_), 5); }

TEST_F(RecText, FilesThatAreNotOpenAreRefused) {
    for (int f : {0, file_ + 1, 31, -1}) {
        EXPECT_EQ(rec_move(f, mv::Nxt), ier::FILEOUTBOUND) << f;
        EXPECT_EQ(rec_write(rw::Write, f, {}, {}), ier::FILEOUTBOUND) << f;
        EXPECT_EQ(rec_operation(f, 0x0F12), ier::FILEOUTBOUND) << f;
        EXPECT_EQ(rec_delete_group(f, 1, sr("A"), 0), ier::FILEOUTBOUND) << f;
    }
    // Through a procedure: the current file is 0.
    sysv_set(sysv::CURFIL, 0);
    ArgumentList a;
    EXPECT_EQ(cmd_dispatch(kw::RC_WRITE, a), ier::FILEOUTBOUND);
    Value v;
    EXPECT_EQ(ex_eval(sr("FILELOCATE('NXT';0)"), &v), ier::FILEOUTBOUND);
    EXPECT_EQ(ex_eval(sr("FN#FLEN(0)"), &v), 0) << "file 0 is no data file: a file size";
}

TEST_F(RecText, AReopenedStructureStartsAfresh) {
    FileControl* c = rec_control(file_);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->key, 1);
    EXPECT_EQ(c->status, 2);
    c->key = 2;
    c->status = 0;
    EXPECT_EQ(rec_control(file_)->key, 2);
    dict_clear();
    int n = 0;
    ASSERT_EQ(dict_open(0, sr("other"), sr(""), &n), 0);
    ASSERT_EQ(dict_add_field(sr("X"), 3, 'A'), 0);
    dict_complete(n);
    ASSERT_EQ(n, file_);
    c = rec_control(n);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->key, 1) << "the same number, another structure";
    EXPECT_EQ(c->status, 2);
    EXPECT_EQ(c->held_slot, -1);
}

TEST_F(RecText, ActionsAndWords) {
    struct Case {
        std::string word;
        int code, op;
    } cases[] = {
        {"NEW", 1, 0x0F01}, {"TOP", 2, 0x0F24}, {"prv", 3, 0x0F16},     {"RLD", 4, 0},
        {"NXT", 5, 0x0F12}, {"BOT", 6, 0x0F20}, {"FND", 7, 0x0040},     {"SVE", 8, 0x0F00},
        {"INS", 9, 0x0D00}, {"DEL", 10, 0x0642}, {"LST", 11, 0x0042},   {"BLS", 13, 0x0046},
        {"PRN", 17, 0x00FF}, {"NEXT", 5, 0x0F12}, {"PREVIOUS", 3, 0x0F16}, {"BOTTOM", 6, 0x0F20},
        {"XYZ", 0, 0x00FF},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rec_action_code(sr(c.word)), c.code) << c.word;
        EXPECT_EQ(rec_action_word(c.code), c.op) << c.word;
    }
}

}  // namespace
}  // namespace rt
