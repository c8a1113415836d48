// Program types, the dispatcher, procedure programs, parameters and
// definition files.
#include "runtime/script/programs.h"

#include <string>

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

class ProgramsTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        ex_install();
        fnlib_install();
        script_install();
        programs_install();
        set_program_run(nullptr);
        in_ = std::make_unique<test::InFolder>(dir_.path);
        env_set(env::DocPath, sr(dir_.path));
        m_ = scr_mark();
    }
    void TearDown() override {
        scr_release(m_);
        in_.reset();
        prog_set_chooser(nullptr);
        rt_ports_reset();
        script_done();
        vars_done();
        RtTest::TearDown();
    }
    std::string var(const std::string& expr) { return str(ex_text(sr(expr))); }
    test::TempDir dir_;
    std::unique_ptr<test::InFolder> in_;
    ScratchMark m_ = 0;
};

TEST_F(ProgramsTest, RunStringsDispatchByType) {
    dir_.put("a.prx", "N=N+1\n");
    ex_effect(sr("N=0"));  // procedure programs run isolated: N must exist before
    EXPECT_EQ(run_command(sr("PrcExec,a.prx")), 0);
    EXPECT_EQ(run_command(sr("PrcExec a.prx")), 0);
    EXPECT_EQ(var("N"), "2") << "comma and blank forms run alike";
    EXPECT_EQ(run_command(sr("ExpEval X=1+1,Y=X*5")), 0);
    EXPECT_EQ(var("Y"), "10");
    EXPECT_EQ(run_command(sr("ExpEval X='a'-'b'")), ier::SINTAXERROR);
    err_detail_clear();
    EXPECT_EQ(run_command(sr("Nosuch x")), ier::BADINPUTDATA);
    EXPECT_EQ(str(err_detail_get()), "Process not defined");
    EXPECT_EQ(run_command(sr("Report x")), ier::BADINPUTDATA) << "a type whose runner is not built";
    EXPECT_EQ(run_command(sr("X=3"), ptype::ExpEval), 0) << "a default type takes the whole string";
    EXPECT_EQ(var("X"), "3");
}

TEST_F(ProgramsTest, ProcedureProgramWithLibrariesAndExpressionFiles) {
    dir_.put("init.prc", "BASE=40\r\nSEEN$=SEEN$+'i'");
    dir_.put("l1.prx", "DEF_FN who\nW$='l1'\nEND\nDEF_FN add\nLOCALVARS A\nR=A+2\nEND\n");
    dir_.put("l2.prx", "DEF_FN who\nW$='l2'\nEND\n");
    dir_.put("main.prx", "DEF_FN Start\nCALL who,,0\nCALL add,,0 BASE\nOUT$=W$+'/'+FN$TRIM(R)\nLOCAL=1\nEND\n");
    EXPECT_EQ(prc_exec(sr("main.prx;l1.prx;l2.prx,Start,init.prc")), 0);
    EXPECT_EQ(var("SEEN$"), "i") << "the expression file ran";
    EXPECT_EQ(var("OUT$"), "") << "Start ran isolated: its new variables are gone";
    EXPECT_EQ(proc_count(), 0) << "every procedure it loaded is unloaded";
    // With OUT$ existing before, the isolated run's result stays.
    ex_effect(sr("OUT$=''"));
    EXPECT_EQ(prc_exec(sr("main.prx;l1.prx;l2.prx,Start,init.prc")), 0);
    EXPECT_EQ(var("OUT$"), "l1/42") << "l2 loaded first, then l1: l1's entry is the most recent";
    EXPECT_EQ(var("LOCAL"), "");
    // A later load that fails still unloads what was loaded.
    dir_.put("bad.prx", "GOTO nowhere\n");
    EXPECT_EQ(prc_exec(sr("main.prx;bad.prx;l2.prx,Start")), ier::SINTAXERROR);
    EXPECT_EQ(proc_count(), 0);
    EXPECT_EQ(prc_exec(sr("main.prx,Start,missing.prc")), ier::FileNotFound);
}

int g_offers = 0;
std::string g_items;
int choose_first_then_none(StrRef caption, StrRef items) {
    g_items = str(items);
    return g_offers++ == 0 ? 2 : 0;
}

TEST_F(ProgramsTest, PatternOffersTheProceduresUntilNoneIsChosen) {
    dir_.put("a1.prx", "; Close the month\nA=A+1\n");
    dir_.put("a2.prx", "B=B+1\n");
    prog_set_chooser(choose_first_then_none);
    g_offers = 0;
    ex_effect(sr("B=0"));
    EXPECT_EQ(prc_exec(sr("a*.prx")), 0);
    EXPECT_EQ(g_offers, 2) << "offered again after a run";
    EXPECT_EQ(g_items, "Close the month,a2.prx");
    EXPECT_EQ(var("B"), "1");
    EXPECT_EQ(prc_exec(sr("zz*.prx")), ier::BADINPUTDATA);
}

TEST_F(ProgramsTest, ProgramListsStopAndHandOver) {
    int pos = 0;
    EXPECT_EQ(prog_run_list(sr("ExpEval A=1,Perform step,ExpEval A=2"), 1, sr("Perform"), &pos), ier::UndefWarning);
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(prog_run_list(sr("ExpEval A=1,Perform step,ExpEval A=3"), 3, sr("Perform"), &pos), 0);
    EXPECT_EQ(var("A"), "3");
    EXPECT_EQ(prog_run_list(sr("ExpEval A=4,ExpEval A='x'-'y',ExpEval A=5"), 1, sr_empty(), &pos), ier::SINTAXERROR);
    EXPECT_EQ(pos, 2);
    EXPECT_EQ(var("A"), "4");
}

TEST_F(ProgramsTest, ParametersFromTextSectionsAndVariables) {
    ex_effect(sr("FD$='from variable';INDEX=3;IK$='v'"));
    struct Case {
        int number, item;
        const char* params;
        const char* want;
    } cases[] = {
        {51, 0, "/FD$:'from text' /X:1", "from text"},   // the text wins over the variable
        {51, 0, "/X:1", "from variable"},
        {94, 0, "/X:1", "3"},                          // INDEX% read as the variable INDEX
        {94, 0, "INDEX%=7", "7"},
        {51, 2, "FD$:'a,b,c'", "b"},
        {65, 0, "/X:1", ""},                           // IK$(1) only from the text
        {65, 0, "IK$(1):'k'", "k"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(str(param_value(c.number, c.item, sr_c(c.params))), c.want) << c.number << " " << c.params;
    EXPECT_EQ(str(param_name(51)), "FD$");
    EXPECT_EQ(str(param_name(200)), "");
    StrRef saved = scr_copy(sections_save());
    ASSERT_EQ(sections_set(2, sr("INIT,LOAD,CHECK,SAVE,DELETE")), 0);
    EXPECT_EQ(str(param_name(51)), "LOAD.FD$");
    EXPECT_EQ(str(param_value(51, 0, sr("LOAD.FD$:'loaded' FD$:'bare'"))), "loaded");
    EXPECT_EQ(str(param_value(51, 0, sr("FD$:'bare'"))), "bare") << "then the bare name";
    EXPECT_EQ(sections_restore(saved), 0);
    EXPECT_EQ(sysv_get(sysv::AUX), 0);
    EXPECT_EQ(str(param_name(51)), "FD$");
    EXPECT_EQ(sections_restore(sr("garbage")), ier::BADINPUTDATA);
}

TEST_F(ProgramsTest, DefinitionRecordsRoundTrip) {
    // Record 7 of a kind-1 file: replaced in place, inserted in order, and a
    // missing file created.
    ASSERT_EQ(def_write(sr("defs.ppn"), 1, 7, sr("FD$:'x'")), 0);
    EXPECT_EQ(dir_.read("defs.ppn"), " 7 FD$\r\n 7 'x'\r\n");
    dir_.put("defs.ppn", " 3 three\r\n 7 old\r\n 7 older\r\n 9 nine\r\n");
    ASSERT_EQ(def_write(sr("defs.ppn"), 1, 7, sr("new")), 0);
    EXPECT_EQ(dir_.read("defs.ppn"), " 3 three\r\n 7 new\r\n 9 nine\r\n");
    ASSERT_EQ(def_write(sr("defs.ppn"), 1, 5, sr("five:more")), 0);
    EXPECT_EQ(dir_.read("defs.ppn"), " 3 three\r\n 5 five\r\n 5 more\r\n 7 new\r\n 9 nine\r\n");
    EXPECT_EQ(def_write(sr("defs.ppn"), 1, 150, sr("x")), ier::DATAOUTBOUND) << "beyond the kind's columns";
    // What is written reads back as the same record, for every numbered kind.
    for (int kind : {1, 2, 3, 4}) {
        std::string file = "k" + std::to_string(kind) + ".def";
        ASSERT_EQ(def_write(sr(file), kind, 12, sr("A$:'v w':B")), 0) << kind;
        ASSERT_EQ(def_write(sr(file), kind, 4, sr("other")), 0) << kind;
        ASSERT_EQ(def_load(sr(file), kind, 12), 0);
        EXPECT_EQ(str(st_top(grp::StkAux)), "A$:'v w':B") << "kind " << kind;
        st_pop(grp::StkAux);
    }
    ASSERT_EQ(def_load(sr("k1.def"), 1, 99), 0);
    EXPECT_EQ(str(st_top(grp::StkAux)), "") << "a missing record is an empty text";
    st_pop(grp::StkAux);
    EXPECT_EQ(def_load(sr("k1.def"), 1, 99, false), ier::FileNotFound);
    // Definition parameters come from the definition loaded last.
    ASSERT_EQ(def_write(sr("p.ppn"), 1, 2, sr("DEVICE$:'PDF'")), 0);
    ASSERT_EQ(def_load(sr("p.ppn"), 1, 2), 0);
    EXPECT_EQ(str(def_param(91)), "PDF");
    st_pop(grp::StkAux);
}

}  // namespace
}  // namespace rt
