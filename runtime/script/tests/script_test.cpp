// The procedure compiler and interpreter.
#include <string>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/hooks.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/vars.h"
#include "runtime/script/proc.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

std::string g_printed;
void capture_print(int, int, StrRef t) { g_printed += str(t); }

class ScriptTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        ex_install();
        fnlib_install();
        script_install();
        script_ports_reset();
        script_ports().print = capture_print;
        g_printed.clear();
        in_ = std::make_unique<test::InFolder>(dir_.path);
        env_set(env::DocPath, sr(dir_.path));
    }
    void TearDown() override {
        in_.reset();
        script_done();
        for (int l = 0; l < kCmdLevels; l++) cmd_register(l, nullptr);
        script_ports_reset();
        vars_done();
        RtTest::TearDown();
    }
    std::string put(const std::string& name, const std::string& text) { return dir_.put(name, text); }
    // Compiles text and gives (code, operand) of every instruction.
    std::vector<std::pair<int, int>> compiled(const std::string& text, IER* st = nullptr) {
        int index = -1;
        IER s = proc_load_text(sr(text), &index);
        if (st) *st = s;
        std::vector<std::pair<int, int>> out;
        if (s) return out;
        for (int k = 0; k < proc_instructions(index); k++) {
            Instruction in = proc_instruction(index, k);
            out.push_back({in.code, in.operand});
        }
        proc_unload(index);
        return out;
    }
    IER run_file(const std::string& name, const std::string& entry = "") {
        return proc_run_by_name(sr(entry), sr(name), 0);
    }
    std::string var(const std::string& expr) {
        ScratchMark m = scr_mark();
        StrRef t = ex_text(sr(expr));
        std::string r = str(t);
        scr_release(m);
        return r;
    }
    test::TempDir dir_;
    std::unique_ptr<test::InFolder> in_;
};

using Code = std::vector<std::pair<int, int>>;

TEST_F(ScriptTest, CompiledOperandsOfBlocks) {
    struct Case {
        const char* text;
        Code want;
    } cases[] = {
        {"IF c\nX=1\nELSE\nX=2\nENDIF", {{10, 3}, {0, 0}, {9, 5}, {0, 0}, {5, 2}}},
        {"IF c\nX=1\nENDIF\nY=1", {{10, 3}, {0, 0}, {5, 0}, {0, 0}}},
        {"DO_WHILE I<3\nI=I+1\nLOOP", {{12, 3}, {0, 0}, {6, 0}}},
        {"DO\nI=I+1\nLOOP_UNTIL I>3", {{15, 3}, {0, 0}, {8, 0}}},
        {":top\nX=1\nGOTO top\nGOSUB top", {{0, 0}, {1, 0}, {2, 0}}},
        {"; remark\n# remark\n// remark\n\n   \nREM text", {{0, 0}}},  // REM is an expression
        {"goto Next\n:Next\nGOTO Next", {{1, 1}, {1, 1}}},
        {":a\nX=1\n:a\nGOTO a", {{0, 0}, {1, 0}}},  // the first of two labels
        {":LOOP1 a comment\nGOTO LOOP1", {{1, 0}}},
        {"DEF_FN first\nX=1\nDEF_FN last", {{0, 0}}},
        {"IF(A>1)", {{0, 0}}},  // not the keyword IF
        {"if a\nendif", {{10, 2}, {5, 0}}},
        {"IF a\nX=1", {{10, 2}, {0, 0}}},  // left open: past the end, never back to the start
    };
    for (const Case& c : cases) {
        IER st = 0;
        EXPECT_EQ(compiled(c.text, &st), c.want) << c.text;
        EXPECT_EQ(st, 0) << c.text;
    }
}

TEST_F(ScriptTest, CompileErrors) {
    IER st = 0;
    err_detail_clear();
    compiled("X=1\n:Next\nGOTO next", &st);
    EXPECT_EQ(st, ier::SINTAXERROR);
    EXPECT_EQ(str(err_detail_get()), "\r\nLabel 'next' in line 2 (+ remmarks) not found");
    err_detail_clear();
    compiled("; a remark\nX=1\nELSE", &st);
    EXPECT_EQ(st, ier::SINTAXERROR);
    EXPECT_NE(str(err_detail_get()).find("in line 2 (+ remmarks)"), std::string::npos) << str(err_detail_get());
    std::string deep;
    for (int i = 0; i < 17; i++) deep += "IF a\n";
    compiled(deep, &st);
    EXPECT_EQ(st, ier::OUTOFMEMORY) << "the 17th nested opener";
    std::string labels;
    for (int i = 0; i < 129; i++) labels += ":l" + std::to_string(i) + "\n";
    compiled(labels, &st);
    EXPECT_EQ(st, ier::OUTOFMEMORY) << "the 129th label";
    std::string entries;
    for (int i = 0; i < 129; i++) entries += "DEF_FN e" + std::to_string(i) + "\n";
    compiled(entries, &st);
    EXPECT_EQ(st, ier::OUTOFMEMORY);
    EXPECT_EQ(proc_count(), 0);
}

TEST_F(ScriptTest, ManyStatementsAreNotBoundByTheStringTable) {
    // 16,383 statements of a file far larger than any string value.
    std::string big;
    for (int i = 0; i < 16383; i++) big += "X=X+1\n";
    put("big.prc", big);
    int index = -1;
    ASSERT_EQ(proc_load(sr("big.prc"), &index), 0);
    EXPECT_EQ(proc_instructions(index), 16383);
    EXPECT_EQ(proc_run(index, 0), 0);
    EXPECT_EQ(var("X"), "16383");
    proc_unload(index);
    put("big.prc", big + "X=1\n");
    EXPECT_EQ(proc_load(sr("big.prc"), &index), ier::OUTOFMEMORY) << "16,384 statements";
    EXPECT_EQ(proc_count(), 0);
}

TEST_F(ScriptTest, MissingFileLeavesTheTableUnchanged) {
    int index = -1;
    put("empty.prc", "");
    EXPECT_EQ(proc_load(sr("nosuch.prc"), &index), ier::FileNotFound);
    EXPECT_EQ(str(err_detail_get()).find("nosuch.prc") != std::string::npos, true);
    EXPECT_EQ(proc_load(sr("empty.prc"), &index), ier::FileNotFound);
    EXPECT_EQ(proc_count(), 0);
    put("sub/found.prc", "X=7");
    env_set(env::DocPath, sr(dir_.path + "/nothing," + dir_.path + "/SUB"));
    EXPECT_EQ(run_file("found.prc"), 0) << "found in the search path";
    EXPECT_EQ(var("X"), "7");
}

TEST_F(ScriptTest, LoopsAndSubroutinesCompute) {
    put("loops.prc",
        "S=0\nI=1\nDO_WHILE I<=10\n  GOSUB add\n  I=I+1\nLOOP\n"
        "F=1\nDO\n  F=F*2\nLOOP_UNTIL F>=64\n"
        "IF 'text'\n  T$='true'\nELSE\n  T$='false'\nENDIF\n"
        "RETURN\n:add\nS=S+I\nRETURN\n");
    EXPECT_EQ(run_file("loops.prc"), 0);
    EXPECT_EQ(var("S"), "55");
    EXPECT_EQ(var("F"), "64");
    EXPECT_EQ(var("T$"), "false") << "a text condition is false";
}

TEST_F(ScriptTest, CallsWithArgumentsAndLocalVariables) {
    put("lib.prc",
        "DEF_FN add2\nLOCALVARS A#,B#\nR#=A#+B#\nEND\n"
        "DEF_FN greet\nLOCALVARS W$\nG$='hello '+W$\nEND\n");
    put("isolated.prc", "CALL add2,'lib.prc' 10,20\n");
    EXPECT_EQ(run_file("isolated.prc"), 0);
    EXPECT_EQ(var("R#"), "") << "variables made by an isolated call go with it";
    put("main.prc",
        "CALL add2,'lib.prc',0 1.5,2\n"
        "CALL greet,'lib.prc',0 'world'\n"
        "CALL add2,'lib.prc' 10,20\n");
    EXPECT_EQ(run_file("main.prc"), 0);
    EXPECT_EQ(var("R#"), "30") << "an isolated call still sets variables that existed before it";
    EXPECT_EQ(var("G$"), "hello world");
    EXPECT_EQ(proc_count(), 0) << "what a call loads it unloads";
    // An extra argument: the callee runs, then the call fails.
    put("extra.prc", "CALL add2,'lib.prc',0 1,2,3\n");
    err_detail_clear();
    EXPECT_EQ(run_file("extra.prc"), ier::SINTAXERROR);
    EXPECT_NE(str(err_detail_get()).find("LOCALVARS"), std::string::npos);
    EXPECT_EQ(st_count(grp::StkArgs), 0);
    // Too few arguments never take what is not theirs.
    put("few.prc", "CALL add2,'lib.prc',0 1\n");
    EXPECT_EQ(run_file("few.prc"), ier::SINTAXERROR);
    EXPECT_EQ(st_count(grp::StkArgs), 0);
    std::string many = "CALL add2,'lib.prc',0 1";
    for (int i = 0; i < 16; i++) many += ",1";
    put("many.prc", many + "\n");
    EXPECT_EQ(run_file("many.prc"), ier::SINTAXERROR) << "17 arguments";
}

TEST_F(ScriptTest, EntriesOfLoadedProceduresAndReentry) {
    // A library stays loaded; its entries call each other.
    put("lib.prc",
        "DEF_FN outer\nN=N+1\nCALL inner\nN=N+100\nEND\n"
        "DEF_FN inner\nN=N+10\nEND\n");
    int index = -1;
    ASSERT_EQ(proc_load(sr("lib.prc"), &index), 0);
    EXPECT_EQ(proc_run_by_name(sr("outer"), sr_empty(), 0), 0);
    EXPECT_EQ(var("N"), "111") << "the inner entry returned to its caller's position";
    EXPECT_EQ(proc_run_by_name(sr("nosuch"), sr_empty(), 0), ier::SINTAXERROR);
    EXPECT_EQ(proc_run_by_name(sr_empty(), sr_empty(), 0), ier::SINTAXERROR);
    proc_unload(index);
}

TEST_F(ScriptTest, ExecResultIsExactlyOneValue) {
    put("calc.prc", "DEF_FN twice\nV=21\nV*2\nEND\nDEF_FN none\nRETURN\n");
    int index = -1;
    ASSERT_EQ(proc_load(sr("calc.prc"), &index), 0);
    st_push(grp::StkResults, sr("foreign"));
    EXPECT_EQ(proc_run_by_name(sr("twice"), sr_empty(), runf::Result), 0);
    EXPECT_EQ(st_count(grp::StkResults), 2);
    EXPECT_EQ(str(st_top(grp::StkResults)), "42");
    st_pop(grp::StkResults);
    EXPECT_EQ(proc_run_by_name(sr("none"), sr_empty(), runf::Result), 0);
    EXPECT_EQ(st_count(grp::StkResults), 2) << "an entry that computed nothing still gives one (empty) result";
    EXPECT_EQ(str(st_top(grp::StkResults)), "");
    st_popto(grp::StkResults, 0);
    proc_unload(index);
}

TEST_F(ScriptTest, GosubDepthAndReturnOutside) {
    put("deep.prc", "N=0\n:again\nN=N+1\nGOSUB again\n");
    EXPECT_EQ(run_file("deep.prc"), ier::PRCSTCKERROR);
    EXPECT_EQ(var("N"), "65") << "64 nested GOSUBs, the 65th refused";
    put("ret.prc", "X=1\nRETURN\nX=2\n");
    EXPECT_EQ(run_file("ret.prc"), 0);
    EXPECT_EQ(var("X"), "1");
    put("remarks.prc", "; nothing\n# at all\n");
    EXPECT_EQ(run_file("remarks.prc"), 0);
}

TEST_F(ScriptTest, ErrorsReportTheStatement) {
    put("bad.prc", "; first\nX=1\n\nY='a'-1\nZ=3\n");
    err_detail_clear();
    EXPECT_EQ(run_file("bad.prc"), ier::TypeMismatch);
    EXPECT_NE(str(err_detail_get()).find("Line: 2 (+ remmarks):\r\n Y='a'-1"), std::string::npos) << str(err_detail_get());
    EXPECT_EQ(var("Z"), "") << "nothing after the error ran";
    put("cmd.prc", "WINMENU 'a','b'\n");
    err_detail_clear();
    EXPECT_EQ(run_file("cmd.prc"), ier::SINTAXERROR) << "a command no level takes";
    EXPECT_NE(str(err_detail_get()).find("WINMENU 'a','b'"), std::string::npos) << str(err_detail_get());
    put("shell.prc", "SHELL 'ls'\n");
    EXPECT_EQ(run_file("shell.prc"), ier::FEATUREREMOVED);
}

int g_seen_code = 0;
std::string g_seen_args;
IER fake_level7(int code, const ArgumentList& a) {
    if (code != kw::WINMENU) return kCmdNotMine;
    g_seen_code = code;
    g_seen_args.clear();
    for (int i = 0; i < a.count; i++) g_seen_args += (a.arg[i].is_text ? "t:" : "n:") + str(a.arg[i].text) + ";";
    return 0;
}
IER fake_level1(int code, const ArgumentList&) { return code == kw::RC_WRITE ? IER(0) : kCmdNotMine; }

TEST_F(ScriptTest, CommandChainPassesCodesUpward) {
    cmd_register(7, fake_level7);
    cmd_register(1, fake_level1);
    cmd_register(16, fake_level7);  // beyond the last level: ignored
    put("cmds.prc", "WINMENU 'Pick','a,b',1+2\nRC_WRITE 0\n");
    EXPECT_EQ(run_file("cmds.prc"), 0);
    EXPECT_EQ(g_seen_code, kw::WINMENU);
    EXPECT_EQ(g_seen_args, "t:Pick;t:a,b;n:3;");
    for (int l = 0; l < kCmdLevels; l++) cmd_register(l, nullptr);
    EXPECT_EQ(run_file("cmds.prc"), ier::FEATUREREMOVED) << "no handler at all";
}

TEST_F(ScriptTest, RuntimeCommands) {
    test::BoxRecorder boxes;
    boxes.answer = 3;  // No
    put("f.txt", "x");
    put("cmds.prc",
        "MESSAGE 'Saved'\nMESSAGE 'Delete?','yes'\nA=_STAT\nKILL 'f.txt'\n"
        "LOCATE 2,5\nPRINT 'ab'\nPRINT 'cd'\nWAIT 1\n");
    EXPECT_EQ(run_file("cmds.prc"), 0);
    ASSERT_EQ(boxes.boxes.size(), 2u);
    EXPECT_EQ(boxes.boxes[0].caption, "Information Message");
    EXPECT_EQ(boxes.boxes[1].kind, 5);
    EXPECT_EQ(var("A"), "") << "No: _STAT 0";
    EXPECT_FALSE(dir_.exists("f.txt"));
    EXPECT_EQ(g_printed, "abcd");
}

TEST_F(ScriptTest, TraceWritesOneLinePerStatement) {
    sysv_set(sysv::TRACE, 9);
    put("t.prc", "I=0\nDO_WHILE I<2\nI=I+1\nLOOP\n");
    EXPECT_EQ(run_file("t.prc"), 0);
    std::string log = dir_.read("PrcLog.txt");
    // I=0, then twice DO_WHILE, I=I+1, LOOP, then the last DO_WHILE.
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8) << log;
    EXPECT_EQ(log.substr(0, 6), "1\t I=0");
    EXPECT_NE(log.find("2\tDO_WHILE I<2\r\n"), std::string::npos) << log;
}

bool g_cancel = false;
bool cancel_now() { return g_cancel; }
int g_closed = 0;
void count_close() { g_closed++; }

TEST_F(ScriptTest, CancelAndCleanUp) {
    script_ports().cancel_requested = cancel_now;
    script_ports().close_script_windows = count_close;
    g_cancel = true;
    put("c.prc", "X=1\n");
    EXPECT_EQ(run_file("c.prc"), ier::UserCanceled);
    g_cancel = false;
    g_closed = 0;
    put("fail.prc", "X='a'*2\n");
    EXPECT_EQ(run_file("fail.prc"), ier::TypeMismatch);
    EXPECT_EQ(g_closed, 1) << "a failed whole run is cleaned up too";
    put("lib.prc", "DEF_FN e\nX=1\n");
    int index = -1;
    ASSERT_EQ(proc_load(sr("lib.prc"), &index), 0);
    g_closed = 0;
    EXPECT_EQ(proc_run_by_name(sr("e"), sr_empty(), 0), 0);
    EXPECT_EQ(g_closed, 0) << "a run started at an entry point cleans nothing";
    proc_unload(index);
}

TEST_F(ScriptTest, ExecFunctionRunsAProcedure) {
    put("calc.prc", "DEF_FN sq\nV=7\nV*V\nEND\n");
    int index = -1;
    ASSERT_EQ(proc_load(sr("calc.prc"), &index), 0);
    EXPECT_EQ(var("EXEC$('sq')"), "49");
    EXPECT_EQ(st_count(grp::StkResults), 0);
    proc_unload(index);
}

}  // namespace
}  // namespace rt
