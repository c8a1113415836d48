// The built-in functions that reach files, data-file records, procedures
// and the string table, called through the evaluator.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "runtime/core/hooks.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/func.h"
#include "runtime/expr/recport.h"
#include "runtime/expr/vars.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

// Two data files: 1 "clients" with three records and 2 "notes" with none.
// Every call is written to g_log so that a test sees what reached the port.
std::string g_log;

bool known(int file) { return file == 1 || file == 2; }

int fake_file_number(StrRef name) {
    std::string n = str(name);
    if (n == "clients" || n == "1") return 1;
    if (n == "notes" || n == "2") return 2;
    return 0;
}
IER fake_record_count(int file, long long* count) {
    *count = file == 1 ? 3 : 0;
    return known(file) ? IER(0) : IER(ier::FILEOUTBOUND);
}
IER fake_find(StrRef key, int file, int index, int flags) {
    g_log = "find " + str(key) + " " + std::to_string(file) + " " + std::to_string(index) + " " + std::to_string(flags);
    if (!known(file)) return ier::FILEOUTBOUND;
    return str(key) == "A1" ? 0 : str(key) == "ZZ" ? 2 : 1;
}
IER fake_relate(int file, int a, int b, int flags, StrRef raw) {
    g_log = "relate " + std::to_string(file) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
            std::to_string(flags) + " " + str(raw);
    return 3;
}
IER fake_locate(int action, int file) {
    g_log = "locate " + std::to_string(action) + " " + std::to_string(file);
    if (!known(file)) return ier::FILEOUTBOUND;
    return action == 6 ? 2 : 0;  // BOT: the end of the file
}
IER fake_select(StrRef list) {
    g_log = "select " + str(list);
    return 0;
}
IER fake_key_text(int file, int index, int buffer, int segments, StrRef* out) {
    if (!known(file)) return ier::FILEOUTBOUND;
    *out = scr_copy(sr("K" + std::to_string(file) + "." + std::to_string(index) + "." + std::to_string(buffer) +
                       "." + std::to_string(segments)));
    return 0;
}
IER fake_last_status(int file, IER* st) {
    *st = file == 1 ? 7 : 0;
    return known(file) ? IER(0) : IER(ier::FILEOUTBOUND);
}
IER fake_field_chars(StrRef ref, int buffer, StrRef* out) {
    if (str(ref) != "NAME{clients}") return ier::SINTAXERROR;
    *out = scr_copy(sr(buffer == 2 ? "Old" : "Smith"));
    return 0;
}
const RecordPort kFake{fake_file_number, fake_record_count, fake_find,       fake_relate,     fake_locate,
                       fake_select,      fake_key_text,     fake_last_status, fake_field_chars};

IER fake_work_relation(int file, int a, int b, int flags, StrRef raw) {
    g_log = "work " + std::to_string(file) + " " + std::to_string(a) + " " + std::to_string(b) + " " +
            std::to_string(flags) + " " + str(raw);
    return 4;
}

// A procedure runner: leaves "ran:name:args" on stack 30; the procedure
// FAIL ends with 163.
IER fake_exec(StrRef name, StrRef args) {
    if (str(name) == "FAIL") return ier::BADINPUTDATA;
    return st_push(grp::StkResults, sr("ran:" + str(name) + ":" + str(args)));
}

StrRef fake_screen_field(StrRef name, int mode, StrRef) {
    if (str(name) == "_EMPTY$") return sr_empty();
    if (str(name).rfind("_SCR", 0) != 0) return sr_err(ier::BADINPUTDATA);
    return scr_copy(sr("field:" + str(name) + ":" + std::to_string(mode)));
}

struct Case {
    const char* text;
    const char* want;  // a number as printed, a text in quotes, or "error N"
    const char* log = "";  // what reached the record port, when it matters
};

class FnFileTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        ex_install();
        fnlib_install();
        g_log.clear();
        m_ = scr_mark();
    }
    void TearDown() override {
        scr_release(m_);
        rec_set_port(nullptr);
        fn_reset();
        vars_done();
        RtTest::TearDown();
    }
    // The value as rtcli prints it: numbers plainly, texts in quotes.
    std::string eval(const std::string& text) {
        Value v;
        IER s = ex_eval(sr(text), &v);
        if (s >= 128) return "error " + std::to_string(s);
        return v.is_text() ? "'" + str(v.text) + "'" : str(num_plain(v.num, num_precis()));
    }
    void run(std::initializer_list<Case> cases) {
        for (const Case& c : cases) {
            g_log.clear();
            EXPECT_EQ(eval(c.text), c.want) << c.text;
            if (*c.log) {
                EXPECT_EQ(g_log, c.log) << c.text;
            }
        }
    }
    ScratchMark m_ = 0;
};


TEST_F(FnFileTest, RecordFunctionsReachThePort) {
    rec_set_port(&kFake);
    run({
        {"FN#FLEN('clients')", "3"},
        {"FN#FLEN(1)", "3"},
        {"FN#FLEN('notes')", "0"},
        {"FILEFIND('A1';'clients')", "0", "find A1 1 0 0"},
        {"FILEFIND('B';2;3;4)", "1", "find B 2 3 4"},
        {"FILEFIND(12;2)", "1", "find 12 2 0 0"},
        {"_CURFIL=1;FILEFIND('ZZ')", "2", "find ZZ 1 0 0"},  // the current file by default
        {"FILEFIND('A1';'nosuch')", "error 161"},
        {"FILEFIND('A1';7)", "error 161"},
        {"FILELOCATE('TOP';2)", "0", "locate 2 2"},
        {"FILELOCATE('';2)", "0", "locate 5 2"},  // NXT by default
        {"FILELOCATE('nxt')", "0", "locate 5 1"},
        {"FILELOCATE('BOTTOM')", "2", "locate 6 1"},
        {"FILELOCATE(18;1)", "0", "locate 18 1"},
        {"FILELOCATE('XYZ')", "error 147"},
        {"FILELOCATE(19)", "error 147"},
        {"KEY$()", "'K1.0.1.0'"},
        {"KEY$(2;3;2;1)", "'K2.3.2.1'"},
        {"KEY$('notes')", "'K2.0.1.0'"},
        {"KEY$(0)", "''"},
        {"IER()", "7"},
        {"IER('notes')", "0"},
        {"IER(9)", "error 161"},
        {"FILESEL('1;2,3')", "0", "select 1;2,3"},
        {"FN$FLDS(NAME{clients})", "'Smith'"},
        {"FN$FLDS(NAME{clients};1+1)", "'Old'"},
        {"FILEREL(2;1;4;X=1)", "3", "relate 1 2 1 4 X=1"},
        {"FILEREL(2;3;1;0;NAME{clients}='a,b')", "3", "relate 2 3 1 0 NAME{clients}='a,b'"},
        {"FILEREL(2;1;'x';X=1)", "error 128"},
        {"FILEREL(2;1;4)", "error 147"},
    });
}

TEST_F(FnFileTest, WithoutDataLayerNoFileExists) {
    run({
        {"FN#FLEN('clients')", "0"},
        {"FILEFIND('A1')", "error 161"},
        {"FILEFIND('A1';'clients')", "error 161"},
        {"FILELOCATE('NXT')", "error 161"},
        {"KEY$()", "''"},
        {"KEY$(3)", "error 161"},
        {"IER()", "error 161"},
        {"FILESEL('RESTORE')", "error 161"},
        {"FILEREL(1;2;0;X=1)", "error 161"},
        {"FN$FLDS(NAME{clients})", "error 161"},
    });
}

TEST_F(FnFileTest, WorkRelationDuringAnAccumulation) {
    rec_set_port(&kFake);
    hk_register_as(fake_work_relation, hook::WorkRelation);
    run({
        {"_UPSTAT=4;FILEREL(1;2;3;4;X=1)", "4", "work 1 2 3 4 X=1"},
        {"_UPSTAT=4;FILEREL(1;2;3;1;X=1)", "3", "relate 1 2 3 1 X=1"},  // no create flag
        {"_UPSTAT=1;FILEREL(1;2;3;4;X=1)", "3", "relate 1 2 3 4 X=1"},  // no accumulation
    });
}

TEST_F(FnFileTest, ArgumentCounts) {
    run({
        {"FN#FLEN()", "error 147"},
        {"FN#FLEN(1;2)", "error 147"},
        {"FILEFIND()", "error 147"},
        {"FILEFIND(1;2;3;4;5)", "error 147"},
        {"FILELOCATE()", "error 147"},
        {"FILESEL()", "error 147"},
        {"KEY$(1;2;3;4;5)", "error 147"},
        {"IER(1;2)", "error 147"},
        {"EXEC$()", "error 147"},
        {"READ$()", "error 147"},
        {"WRITE('a';1)", "error 147"},
        {"_$(1;2;3;4)", "error 147"},
        {"FN$FLDS()", "error 147"},
        {"FN$FLDS(X$;1;2)", "error 147"},
    });
}

TEST_F(FnFileTest, FileLengthByName) {
    test::TempDir dir;
    test::InFolder in(dir.path);
    dir.put("data.txt", "12345");
    setenv("TEMP", dir.path.c_str(), 1);
    run({
        {"FN#FLEN('data.txt')", "5"},
        {"FN#FLEN('%TEMP%/data.txt')", "5"},
        {"FN#FLEN('missing.txt')", "0"},
        {"FN#FLEN('')", "0"},
    });
    unsetenv("TEMP");
    // A data file of that name is counted, not the file on disk.
    dir.put("clients", "123456789");
    rec_set_port(&kFake);
    EXPECT_EQ(eval("FN#FLEN('clients')"), "3");
}

TEST_F(FnFileTest, ReadAndWriteNamedFiles) {
    test::TempDir dir;
    test::InFolder in(dir.path);
    run({
        {"WRITE('a.txt';-3;'hello')", "0"},
        {"WRITE('a.txt';-1;'!')", "0"},
        {"WRITE('a.txt';1;'E')", "0"},
        {"READ$('a.txt')", "'hEllo!'"},
        {"READ$('a.txt';2;3)", "'llo'"},
        {"READ$('a.txt';4)", "'o!'"},
        {"READ$('a.txt';0;0)", "''"},
        {"READ$('missing.txt')", "''"},
        {"READ$('a.txt';0;65536)", "error 168"},
        {"WRITE('a.txt';-3;12)", "0"},
        {"READ$('a.txt')", "'12'"},
        {"WRITE('nofolder/a.txt';-1;'x')", "131"},
        {"WRITE('a.txt';-3;'')", "0"},
    });
    EXPECT_FALSE(dir.exists("a.txt"));
    // A file longer than a string value is refused, never read in part.
    dir.put("big.txt", std::string(70000, 'b'));
    run({
        {"READ$('big.txt')", "error 168"},
        {"READ$('big.txt';69995)", "'bbbbb'"},
        {"READ$('big.txt';0;3)", "'bbb'"},
    });
}

TEST_F(FnFileTest, ReadAndWriteHandles) {
    test::TempDir dir;
    test::InFolder in(dir.path);
    dir.put("l.txt", "one\r\ntwo\nthree");
    run({
        {"H=FILESEL('l.txt';8);H>=3", "1"},
        {"READ$(H)", "'one'"},
        {"READ$(H;-1)", "'two'"},
        {"READ$(H;-1)", "'three'"},
        {"READ$(H;-1)", "''"},
        {"READ$(H)", "'one'"},  // offset 0 by default
        {"READ$(H;0;3)", "'one'"},
        {"READ$(H;5;3)", "'two'"},
        {"READ$(H;-1;100)", "'\nthree'"},
        {"READ$(H;-1;100)", "''"},
        {"READ$(H;0;0)", "''"},
        {"WRITE(H;-1;'x')", "65535"},  // opened read-only
        {"FILESEL(H)", "0"},
        {"READ$(H)", "''"},
        {"FILESEL('missing.txt';8)", "65535"},
        {"W=FILESEL('w.txt';2);WRITE(W;-1;'abc')", "3"},
        {"WRITE(W;1;'Z')", "1"},
        {"READ$(W;0;10)", "'aZc'"},
        {"FILESEL(W)", "0"},
        {"READ$(77)", "''"},
    });
    EXPECT_EQ(dir.read("w.txt"), "aZc");
}

TEST_F(FnFileTest, WriteMergesEntriesAndEvaluatesTheFile) {
    test::TempDir dir;
    test::InFolder in(dir.path);
    struct Merge {
        const char* old;  // nullptr: no file
        const char* list;
        const char* want;
    };
    for (const Merge& c : std::initializer_list<Merge>{
             {"A=1;B$='old';C=3", "B$=\"new\"+\"!\",D=2*3,E=,C=0", "B$='new!';D=6;E=0;C=0;A=1"},
             {"A=1\r\nB=2\n\nX$='a;b'\n", "B=1/4", "B=.25;A=1;X$='a;b'"},
             {nullptr, "N#=-1/20,T$=S$", "N#=-.05;T$=\"it's\""},
             {"A=1", "", "A=1"},
         }) {
        eval("S$=\"it's\"");
        if (c.old) dir.put("cfg.dat", c.old);
        else std::filesystem::remove(std::filesystem::path(dir.path) / "cfg.dat");
        EXPECT_EQ(eval(std::string("WRITE('cfg.dat';-2;'") + c.list + "')"), "0") << c.list;
        EXPECT_EQ(dir.read("cfg.dat"), c.want) << c.list;
    }
    // The file was evaluated: its variables hold the values written.
    run({
        {"N#", "-0.05"},
        {"T$", "'it's'"},
        {"X$", "'a;b'"},
        {"B", "0"},  // an integer variable: .25 is 0
        {"D", "6"},
        {"B$", "'new!'"},
    });
}

TEST_F(FnFileTest, FailedMergeLeavesTheOldFileWhole) {
    test::TempDir dir;
    test::InFolder in(dir.path);
    const std::string old = "A=1;P$='" + std::string(50000, 'p') + "'";
    eval("V$='" + std::string(16000, 'v') + "'");
    struct Fail {
        const char* list;
        const char* want;
    };
    for (const Fail& c : std::initializer_list<Fail>{
             {"A=2,B$=\"x\"+1", "error 128"},   // a value that cannot be evaluated
             {"A=2,B", "error 147"},            // an entry without '='
             {"W$=V$", "error 168"},            // the new text would not fit a string value
         }) {
        dir.put("cfg.dat", old);
        EXPECT_EQ(eval(std::string("WRITE('cfg.dat';-2;'") + c.list + "')"), c.want) << c.list;
        EXPECT_EQ(dir.read("cfg.dat"), old) << c.list;
    }
    EXPECT_EQ(eval("A"), "0");  // the file was not evaluated either
    // A folder where the file should be: the replacement fails and leaves
    // the folder, its content and no temporary file behind.
    dir.put("box.dat/inside", "kept");
    EXPECT_EQ(eval("WRITE('box.dat';-2;'A=2')"), "131");
    EXPECT_EQ(dir.read("box.dat/inside"), "kept");
    int entries = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path)) entries += e.path().filename() != "cfg.dat";
    EXPECT_EQ(entries, 1);
    EXPECT_EQ(eval("A"), "0");
}

TEST_F(FnFileTest, StringTable) {
    run({
        {"_$(9;11;'abc')", "'abc'"},
        {"_$(9;11)", "'abc'"},
        {"_$(9;13)", "''"},
        {"_$(9;12;5)", "'5'"},
        {"_$(9;-1)", "error 147"},
        {"_$(39)", "error 159"},
        {"_$()", "''"},
        {"_$(31;0;'x');_$(31;0;'y')", "'y'"},
        {"_$(31)", "'y'"},
        {"_$(31;-1)", "'x'"},   // pops, then the new top
        {"_$(31;-1)", "''"},
        {"_$(31;-3)", "''"},    // popping an empty stack is no error
        {"_$(31;-2;'z')", "''"},  // pushed, then popped
        {"_$(37;0;'q1');_$(37;0;'q2')", "'q1'"},  // a queue gives its first line
        {"_$(37;-1)", "'q2'"},
        {"_$(.envvar;.dialog;'a,b');_$(.envvar;.dialog)", "'a,b'"},
        // Stack 35 holds the arguments of the calls in progress.
        {"_$(35)", "''"},
        {"_$(35;0;'x')", "error 147"},
        {"_$(35;-1)", "error 147"},
    });
    EXPECT_EQ(st_count(grp::StkArgs), 0);
}

TEST_F(FnFileTest, ExecRunsProceduresAndConfigurationFiles) {
    test::TempDir dir;
    test::InFolder in(dir.path);
    dir.put("conf.dat", "Q=4\r\nR$='z'");
    run({
        {"EXEC$('PROC')", "error 148"},
        {"EXEC$('conf.dat')", "''"},
        {"Q", "4"},
        {"R$", "'z'"},
        {"EXEC$('missing.dat')", "error 164"},
    });
    EXPECT_NE(str(err_detail_get()).find("missing.dat"), std::string::npos);
    err_detail_clear();
    EXPECT_EQ(eval("EXEC$('PROC')"), "error 148");
    EXPECT_NE(str(err_detail_get()).find("EXEC$()"), std::string::npos);
    hk_register_as(fake_exec, hook::ExecProc);
    int before = st_count(grp::StkResults);
    run({
        {"EXEC$('PROC';'a,b')", "'ran:PROC:a,b'"},
        {"EXEC$('PROC')", "'ran:PROC:'"},
        {"EXEC$('FAIL')", "error 163"},
    });
    EXPECT_EQ(st_count(grp::StkResults), before);  // the results were taken off
}

TEST_F(FnFileTest, SqlChildRunsOneLevelDeeper) {
    run({
        {"_CURROW=5;_IER=3;SQLCHILD(A=_SQLSTK;B=_CURROW;_IER=9;_CURROW=8)", "0"},
        {"A", "1"},
        {"B", "0"},
        {"_SQLSTK", "0"},
        {"_CURROW", "5"},
        {"_IER", "3"},
        {"SQLCHILD()", "0"},
        // Seven levels are allowed; the eighth is refused and nothing of it runs.
        {"SQLCHILD(SQLCHILD(SQLCHILD(SQLCHILD(SQLCHILD(SQLCHILD(SQLCHILD(L=_SQLSTK)))))))", "0"},
        {"L", "7"},
        {"M=0;SQLCHILD(SQLCHILD(SQLCHILD(SQLCHILD(SQLCHILD(SQLCHILD(SQLCHILD(SQLCHILD(M=1))))))))", "error 159"},
        {"M", "0"},
        {"_SQLSTK", "0"},
        {"SQLCHILD(_CURROW=2;'a'+1)", "error 128"},
        {"_SQLSTK", "0"},
        {"_CURROW", "5"},
    });
}

TEST_F(FnFileTest, FieldsArraysAndVariablesAsStored) {
    hk_register_as(fake_screen_field, hook::FieldResolver);
    run({
        {"X$='a,b';FN$FLDS(X$)", "'a,b'"},
        {"N#=1.5;FN$FLDS(N#)", "'1.5'"},
        {"N#(4);N#(3)=2.5;FN$FLDS(N#(1+2))", "'2.5'"},
        {"FN$FLDS(N#(9))", "error 168"},
        {"FN$FLDS(N#(1;2))", "error 149"},
        {"FN$FLDS(_SCR1$;2)", "'field:_SCR1$:2'"},
        {"FN$FLDS(_SCR1$)", "'field:_SCR1$:1'"},
        {"FN$FLDS(_EMPTY$)", "error 147"},
        {"FN$FLDS(NOPE$)", "error 147"},
    });
}

}  // namespace
}  // namespace rt
