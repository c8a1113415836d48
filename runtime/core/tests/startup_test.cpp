// Start-up, the start program, answer files, the close request and shutdown,
// run through the same calls a program's main function makes.
#include "runtime/core/startup.h"

#include <string>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/msg.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

std::vector<int> g_phases;
IER g_phase_result[4] = {0, 0, 0, 0};
std::vector<std::string> g_calls;  // program commands and answers seen
std::vector<std::string> g_evals;

IER record_hook(int phase) {
    g_phases.push_back(phase);
    return g_phase_result[phase & 3];
}

class StartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_phases.clear();
        g_calls.clear();
        g_evals.clear();
        for (IER& r : g_phase_result) r = 0;
        rt_ports_reset();
        set_program_run(nullptr);
    }
    void TearDown() override {
        if (started_) shutdown(nullptr, 0);
        rt_ports_reset();
        set_program_run(nullptr);
    }
    IER start(const std::string& args, uint8_t flags = 0, const char* code = "COLDGR27K:VodazEZI") {
        line_ = "/opt/qv/ledger " + args;
        StartRequest rq;
        rq.cmdline = sr(line_);
        rq.appcode = sr_c(code);
        rq.description = sr("Ledger");
        rq.flags = flags;
        rq.hook = record_hook;
        started_ = true;
        return runtime_start(rq);
    }
    test::BoxRecorder boxes_;
    std::string line_;
    bool started_ = false;
};

IER no_files(StrRef) { return 0; }

TEST_F(StartupTest, PhasesAndEnvironment) {
    rt_ports().load_dictionary = no_files;
    ASSERT_EQ(start("/X:1", 2), 0);
    EXPECT_EQ(g_phases, (std::vector<int>{33, 34})) << "flags x 16 + phase";
    EXPECT_EQ(str(env_get(env::CommandLine)), "/opt/qv/ledger /X:1");
    EXPECT_EQ(str(env_get(env::ApName)), "COLDGR27K:VodazEZI");
    EXPECT_EQ(str(env_get(env::ApDescrip)), "Ledger");
    EXPECT_EQ(str(env_get(env::LangModule)), "EN") << "no language set anywhere";
    EXPECT_EQ(str(env_get(env::DocPath)), "/opt/qv");
    EXPECT_EQ(str(env_get(env::HelpPath)), "/opt/qv/Help");
    EXPECT_EQ(sysv_get(sysv::TRACE), 1);
    EXPECT_EQ(sysv_get(sysv::DEVHIG), 24);
    // Item 0: the format parameters, NUL-separated.
    std::string fp = str(env_get(env::FormatParams));
    EXPECT_EQ(fp.substr(0, 4), ".,'0");
    EXPECT_EQ(std::count(fp.begin(), fp.end(), '\0'), 2);
    EXPECT_EQ(shutdown(record_hook, 0), 0);
    started_ = false;
    EXPECT_EQ(g_phases.back(), 3);
}

// The language comes from phase 1 and the file from the search path; a
// message asked for before either is known must not use up the one load.
IER spanish_hook(int phase) {
    if ((phase & 15) == 1) {
        ScratchMark m = scr_mark();
        msg(31);  // an early lookup: built-in text, language file not tried
        scr_release(m);
        env_set(env::LangModule, "ES");
    }
    return 0;
}

TEST_F(StartupTest, LanguageFileLoadsOnceLanguageAndPathAreKnown) {
    test::TempDir d;
    d.put("app/CODICC.DAT", "");
    d.put("app/QV_LANG_ES.MSJ", "0019 ,.'0123456789,-D',' NS','  ,NO,SI'\r\n0031 Proceso no definido\r\n");
    // The search path reaches the file only in the dictionary's second pass.
    line_ = "/opt/qv/ledger /DPATH:'" + d.path + "/app'";
    StartRequest rq;
    rq.cmdline = sr(line_);
    rq.appcode = sr("COLDGR27K:VodazEZI");
    rq.flags = kStartLoadDictionary;
    rq.hook = spanish_hook;
    started_ = true;
    ASSERT_EQ(runtime_start(rq), 0);
    EXPECT_EQ(lang_state(), LangState::Loaded);
    ScratchMark m = scr_mark();
    EXPECT_EQ(str(msg(31)), "Proceso no definido");
    scr_release(m);
    EXPECT_EQ(str(env_get(env::FormatParams)).substr(0, 4), ",.'0") << "item 0 is built again from the language file";
}

TEST_F(StartupTest, OptionsSetTraceAndApplicationCode) {
    ASSERT_EQ(start("  /apname:xy   -TRACE:6"), 0);
    EXPECT_EQ(str(env_get(env::CommandLine)), "/opt/qv/ledger /apname:xy /TRACE:6");
    EXPECT_EQ(str(env_get(env::ApName)), "XY") << "APNAME replaces the whole code";
    EXPECT_EQ(str(env_prefix()), "XY");
    EXPECT_EQ(sysv_get(sysv::TRACE), 7) << "bit 1 is forced on";
}

TEST_F(StartupTest, FailingPhaseOneEndsWithItsStatusInABox) {
    g_phase_result[1] = ier::SQLERROR;
    EXPECT_EQ(start("", 2), ier::SQLERROR);
    EXPECT_EQ(g_phases, std::vector<int>{33});
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].kind, box::Error);
    EXPECT_EQ(boxes_.boxes[0].text, "Error SQLERROR");
}

TEST_F(StartupTest, TraceLogStartEndsWithAFreshLog) {
    test::TempDir d;
    test::InFolder in(d.path);
    d.put("log.txt", "old line\r\nolder line\r\n");
    EXPECT_EQ(start("/TRACE:273", 2), ier::Info);
    EXPECT_EQ(g_phases, std::vector<int>{33}) << "nothing runs after the log start";
    EXPECT_TRUE(boxes_.boxes.empty()) << "121 is returned without a box";
    std::string log = d.read("log.txt");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
    EXPECT_EQ(log.find("old line"), std::string::npos);
    EXPECT_EQ(shutdown(record_hook, ier::Info), 0);
    started_ = false;
}

TEST_F(StartupTest, TraceAboutBoxThenGoesOn) {
    EXPECT_EQ(start("/TRACE:256"), 0);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].caption, "About Box");
    EXPECT_EQ(g_phases.size(), 2u);
}

TEST_F(StartupTest, DictionaryFoundInTheSecondPass) {
    test::TempDir d;
    d.put("apps/CODICC.DAT", "");
    d.put("work/.keep", "");
    test::InFolder in(d.path + "/work");
    // Not beside the program: the second pass tries ..\APPS beside the
    // current folder (found whatever the case of the folder's name).
    EXPECT_EQ(start("", 2), 0);
    EXPECT_EQ(str(env_get(env::DocPath)), d.path + "/APPS");
    EXPECT_TRUE(boxes_.boxes.empty());
}

TEST_F(StartupTest, DictionaryFromDpathOrMissing) {
    test::TempDir d;
    d.put("My App/CODICC.DAT", "");
    EXPECT_EQ(start("/DPATH:'" + d.path + "/My App'", 2), 0);
    EXPECT_EQ(str(env_get(env::DocPath)), d.path + "/My App");
    EXPECT_EQ(str(env_get(env::HelpPath)), d.path + "/My App/Help") << "help follows the second pass";
    shutdown(nullptr, 0);
    started_ = false;

    test::TempDir empty;
    test::InFolder in(empty.path);
    g_phases.clear();
    EXPECT_EQ(start("", 2), ier::FileNotFound);
    EXPECT_EQ(g_phases, std::vector<int>{33}) << "phase 2 is not reached";
    ASSERT_FALSE(boxes_.boxes.empty());
    EXPECT_NE(boxes_.boxes.back().text.find("File Not Found"), std::string::npos);
    EXPECT_NE(boxes_.boxes.back().text.find("CODICC.DAT"), std::string::npos);
}

TEST_F(StartupTest, ShortApplicationNameIsClearedByPhaseTwo) {
    // No dictionary can be named by a one-letter code: 156, which a
    // successful phase 2 clears.
    EXPECT_EQ(start("/APNAME:x", 2), 0);
    EXPECT_EQ(g_phases.size(), 2u);
    shutdown(nullptr, 0);
    g_phases.clear();
    g_phase_result[2] = ier::LOADSTRERROR;
    EXPECT_EQ(start("/APNAME:x", 2), ier::LOADSTRERROR);
}

IER two_files(StrRef) {
    st_set(grp::FileNames, 0, sr("Accounts"));
    st_set(grp::FileNames, 1, sr("Journal"));
    return 0;
}

TEST_F(StartupTest, OneIntegerVariablePerDataFile) {
    rt_ports().load_dictionary = two_files;
    ASSERT_EQ(start("", 2), 0);
    EXPECT_EQ(sysv_get(var_int_find(sr("accounts"))), 1);
    EXPECT_EQ(sysv_get(var_int_find(sr("journal"))), 2);
}

TEST_F(StartupTest, MissingStartProgramIs163InABox) {
    test::TempDir d;
    test::InFolder in(d.path);
    ASSERT_EQ(start("/DPATH:x"), 0);
    EXPECT_EQ(start_program(sr_empty()), ier::BADINPUTDATA);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].kind, box::Error);
    EXPECT_EQ(boxes_.boxes[0].text, "Error BADINPUTDATA: no start program COMENU.PMT or COMENU.PPN");
    EXPECT_EQ(shutdown(nullptr, ier::BADINPUTDATA), ier::BADINPUTDATA);
    started_ = false;
}

std::string g_menu;
IER fake_main_window(StrRef menu) {
    g_menu = str(menu);
    return 0;
}
int g_loops = 0;
IER fake_loop() {
    g_loops++;
    return 0;
}

TEST_F(StartupTest, StartProgramOpensTheMenuFoundInTheSearchPath) {
    test::TempDir d;
    d.put("app/comenu.ppn", "");
    d.put("app/other.pmt", "");
    rt_ports().open_main_window = fake_main_window;
    rt_ports().message_loop = fake_loop;
    g_loops = 0;
    test::InFolder in(d.path);
    ASSERT_EQ(start("/DPATH:x"), 0);
    env_set(env::DocPath, sr(d.path + "/app"));
    EXPECT_EQ(start_program(sr_empty()), 0);
    EXPECT_EQ(g_menu, d.path + "/app/COMENU.PPN") << "PMT first, then PPN";
    EXPECT_EQ(g_loops, 1);
    env_set(env::CommandLine, "prog /APSTART:other,x");
    EXPECT_EQ(start_program(sr_empty()), 0);
    EXPECT_EQ(g_menu, d.path + "/app/OTHER.PMT");
    EXPECT_TRUE(boxes_.boxes.empty());
}

int known_types(StrRef name) {
    if (sv(name) == "Accept") return 2;
    if (sv(name) == "Proc") return 3;
    return 0;
}

IER recording_runner(uint32_t type_code, StrRef args) {
    std::string call = std::to_string(type_code >> 16) + ":" + std::to_string(type_code & 0xFFFF) + " " + str(args);
    if ((type_code >> 16) == 2) call += " answer=" + str(next_answer());
    g_calls.push_back(call);
    return (type_code >> 16) ? IER(0) : IER(ier::BADINPUTDATA);
}

TEST_F(StartupTest, RunOptionAndInputFile) {
    test::TempDir d;
    d.put("in.txt", "Accept screen1\r\nfirst answer\r\nProc after,x\r\nNoSuch z\r\nProc never\r\n");
    rt_ports().program_type = known_types;
    set_program_run(recording_runner);
    test::InFolder in(d.path);
    ASSERT_EQ(start("/INPUT:'in.txt' /RUN:'Proc main'"), 0);
    // The window of the first command took the second line as its answer;
    // an unknown type stops the INPUT lines.
    EXPECT_EQ(start_program(sr_empty()), ier::BADINPUTDATA);
    EXPECT_EQ(g_calls, (std::vector<std::string>{"2:0 screen1 answer=first answer", "3:0 after,x", "0:163 z"}));
    EXPECT_EQ(sysv_get(sysv::INHND), 0);
    g_calls.clear();
    env_set(env::CommandLine, "prog /RUN:'Proc,main'");
    EXPECT_EQ(start_program(sr_empty()), 0);
    EXPECT_EQ(g_calls, std::vector<std::string>{"3:0 main"}) << "a comma separates when there is no blank";
    EXPECT_TRUE(sysv_get(sysv::SCRSTAT) & 8);
}

TEST_F(StartupTest, UnknownProgramIsProcessNotDefined) {
    ASSERT_EQ(start("/RUN:Whatever"), 0);
    EXPECT_EQ(start_program(sr_empty()), ier::BADINPUTDATA);
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].text, "Error BADINPUTDATA: Process not defined");
    EXPECT_EQ(program_run(), &run_generic) << "the runtime's dispatcher stays stored";
}

TEST_F(StartupTest, RecordAnswerOnlyWithOutput) {
    test::TempDir d;
    test::InFolder in(d.path);
    ASSERT_EQ(start(""), 0);
    EXPECT_FALSE(record_answer(sr("x")));
    env_set(env::CommandLine, "prog /OUTPUT:'rec.txt'");
    EXPECT_TRUE(record_answer(sr("first")));
    EXPECT_TRUE(record_answer(sr("second")));
    EXPECT_EQ(d.read("rec.txt"), "first\r\nsecond\r\n");
}

int g_children = 0;
int children() { return g_children; }

TEST_F(StartupTest, CloseRequest) {
    rt_ports().running_children = children;
    ASSERT_EQ(start(""), 0);
    g_children = 2;
    EXPECT_FALSE(close_request());
    ASSERT_EQ(boxes_.boxes.size(), 1u);
    EXPECT_EQ(boxes_.boxes[0].kind, box::Warning);
    EXPECT_EQ(boxes_.boxes[0].text, "There are windows open (2 Screens, 2 Windows)");
    g_children = 0;
    boxes_.answer = box::No;
    EXPECT_FALSE(close_request());
    EXPECT_EQ(boxes_.boxes.back().kind, box::YesNo);
    EXPECT_NE(boxes_.boxes.back().text.find("(0 Screens, 0 Windows)"), std::string::npos);
    boxes_.answer = box::Yes;
    EXPECT_TRUE(close_request());
    size_t shown = boxes_.boxes.size();
    sysv_set(sysv::AUXSTAT, 32);
    EXPECT_TRUE(close_request());
    EXPECT_EQ(boxes_.boxes.size(), shown) << "bit 32 closes without asking";
}

TEST_F(StartupTest, ExitStatus) {
    struct Case {
        IER status, hook;
        int want;
    } cases[] = {
        {0, 0, 0}, {ier::BADINPUTDATA, 0, 163}, {ier::Info, 0, 0}, {0, ier::SQLERROR, 162},
        {5, ier::SQLERROR, 0}, {300, 0, 255},  // the OS keeps 8 bits: clamped, not wrapped
    };
    for (const Case& c : cases) {
        ASSERT_EQ(start(""), 0);
        g_phase_result[3] = c.hook;
        EXPECT_EQ(shutdown(record_hook, c.status), c.want) << c.status << "/" << c.hook;
        g_phase_result[3] = 0;
    }
    started_ = false;
}

IER record_eval(StrRef text) {
    g_evals.push_back(str(text));
    return sv(text).find("bad") != std::string_view::npos ? IER(ier::EXPCALCERROR) : IER(0);
}

TEST_F(StartupTest, ConfigurationList) {
    test::TempDir d;
    d.put("app/COCLCFIX.DAT", "A=1\r\nB=2\nC=3");
    d.put("app/QVCLCUSR.DAT", "D=4");
    d.put("app/COLANGVARS.DAT", "T$=0031\r\nN=0069\r\nM=1001 7\r\n");
    rt_ports().eval = record_eval;
    ASSERT_EQ(start("/DPATH:x"), 0);
    env_set(env::DocPath, sr(d.path + "/app"));
    env_set(env::Database, "host,db,user,s3cret");
    IER st = eval_config_list(sr("%APNAME%CLCUSR.%DATABASE_HOST%.DAT,%APNAME%CLCFIX.DAT;1,QVCLCUSR.DAT"));
    EXPECT_EQ(st, 0);
    EXPECT_EQ(g_evals, (std::vector<std::string>{"A=1;B=2;C=3", "D=4", "T$='Process not defined'", "N=0", "M=7"}));
    // A required file that is missing: 164 with its name, never the password.
    g_evals.clear();
    st = eval_config_list(sr("QVCLCUSR.DAT,CO%DATABASE_PASSW%.DAT;1,COCLCFIX.DAT"));
    EXPECT_EQ(st, ier::FileNotFound);
    EXPECT_EQ(g_evals, std::vector<std::string>{"D=4"}) << "the list stops at the failing entry";
    std::string detail = str(err_detail_get());
    EXPECT_NE(detail.find("CO****.DAT"), std::string::npos) << detail;
    EXPECT_EQ(detail.find("s3cret"), std::string::npos);
}

}  // namespace
}  // namespace rt
