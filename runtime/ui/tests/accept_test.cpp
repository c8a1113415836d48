// Screens and Accept windows on the headless window system: field names and
// places, storing and recomputing, moving and confirming, cancelling, the
// last values of a caption, conditions, answer files, the program types and
// the script commands.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ui/wnd.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/hooks.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/recport.h"
#include "runtime/expr/vars.h"
#include "runtime/script/proc.h"
#include "runtime/script/programs.h"
#include "runtime/ui/screen.h"
#include "runtime/ui/wm.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using namespace plat;
using test::str;

class AcceptTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        ex_install();
        fnlib_install();
        script_install();
        programs_install();
        ui_install();
        cmd_register_runtime();
        wnd_set_screen_size(24, 80);
        ASSERT_EQ(wnd_init(WND_HEADLESS), WND_OK);
        m_ = scr_mark();
    }
    void TearDown() override {
        if (in_ != kBadHandle) f_close(in_);
        sysv_set(sysv::INHND, 0);
        scr_release(m_);
        ui_reset();
        prog_set_chooser(nullptr);
        msgbox_set_port(nullptr);
        script_ports_reset();
        rt_ports_reset();
        cmd_set_window_level(nullptr);
        script_done();
        vars_done();
        RtTest::TearDown();
    }
    static void keys(const std::string& script) { ASSERT_EQ(wnd_script_set(script), WND_OK) << script; }
    static void set_text(const char* name, const char* v) { ASSERT_EQ(var_assign(sr(name), Value::of_text(sr(v))), 0); }
    static std::string text(const char* name) {
        Value v;
        if (var_read(sr(name), &v)) return "?";
        return v.is_text() ? str(v.text) : str(num_plain(v.num, num_precis()));
    }
    static AcceptResult accept(const std::string& caption, const std::string& list, const std::string& k) {
        wnd_script_set(k);
        return accept_window(sr(caption), sr(list));
    }
    // Answers come from this file, as option INPUT gives them.
    void input(const std::string& content) {
        path_ = dir_.put("answers.txt", content);
        in_ = f_open(sr(path_), fmode::ReadOnly);
        ASSERT_NE(in_, kBadHandle);
        sysv_set(sysv::INHND, static_cast<int16_t>(in_));
    }
    // Confirms are recorded in this file, as option OUTPUT asks.
    std::string output() {
        std::string p = dir_.path + "/out.txt";
        EXPECT_EQ(env_set(env::CommandLine, "prog /OUTPUT:'" + p + "'"), 0);
        return p;
    }
    static std::string slurp(const std::string& p) {
        std::ifstream f(p, std::ios::binary);
        std::stringstream s;
        s << f.rdbuf();
        return s.str();
    }
    ScratchMark m_ = 0;
    test::TempDir dir_;
    std::string path_;
    uint16_t in_ = kBadHandle;
};

// ---------------------------------------------------------------- building

TEST_F(AcceptTest, FieldNamesFromFdOrNumbered) {
    set_text("FD$", "");
    struct Case {
        const char* list;
        std::vector<std::string> names;
    } cases[] = {
        {"'Kgs:':'26':,'Tot:':'26'", {"_SCRF1#", "_SCRF2#"}},
        {"'N:':'A20','D:':'D8','P:':'P8','T:':'T5','L:':'L1'", {"_SCRF1$", "_SCRF2$", "_SCRF3$", "_SCRF4#", "_SCRF5#"}},
        {"'a':'A1','b':'N2' /FD$=FIRST$", {"FIRST$", "_SCRF2#"}},
        {"'a':'A1':X$,'b':'N2' /FD$=\"ONE$,TWO#\"", {"ONE$", "TWO#"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        int sc = -1;
        ASSERT_EQ(screen_build(sr(c.list), 0, &sc), 0);
        ASSERT_EQ(screen_fields(sc), int(c.names.size()));
        std::string all;
        for (int i = 0; i < screen_fields(sc); i++) {
            EXPECT_EQ(str(screen_field_name(sc, i + 1)), c.names[size_t(i)]);
            all += (i ? "," : "") + c.names[size_t(i)];
        }
        // the completed list goes back into the options
        EXPECT_EQ(str(screen_param(sc, sr("FD$"))), all);
    }
    // a script variable stands in for a missing option
    set_text("FD$", "V1$,V2#");
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'a':'A1','b':'N2'"), 0, &sc), 0);
    EXPECT_EQ(str(screen_field_name(sc, 1)), "V1$");
    EXPECT_EQ(str(screen_field_name(sc, 2)), "V2#");
}

TEST_F(AcceptTest, FieldPlaces) {
    struct Case {
        const char* list;
        int n, row, col, width;
    } cases[] = {
        {"'Name:':'A30'/ROW=5/COL=20", 1, 5, 20, 30},
        {"'Kgs:':'26','Total:':'26'", 1, 1, 6, 6},  // a common column after the longest prompt
        {"'Kgs:':'26','Total:':'26'", 2, 2, 6, 6},
        {"{3,10}'Host:':'A30'", 1, 3, 15, 30},      // column plus the prompt's length
        {"'Name';'A20';N$,'Qty';'N5';Q#", 2, 2, 4, 5},
        {"'When:':'D10'", 1, 1, 5, 8},              // a date shows in 8 at most
        {"'Long:':'A200'", 1, 1, 5, 74},            // the field ends inside the window
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        int sc = -1;
        ASSERT_EQ(screen_build(sr(c.list), 0, &sc), 0);
        int row, col, width;
        screen_field_place(sc, c.n, &row, &col, &width);
        EXPECT_EQ(row, c.row);
        EXPECT_EQ(col, c.col);
        EXPECT_EQ(width, c.width);
    }
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'Name';'A20';N$,'Qty';'N5';Q#"), 0, &sc), 0);
    EXPECT_EQ(str(screen_field_name(sc, 1)), "_SCRF1$");  // FD$ names, not the bound variables
    EXPECT_EQ(screen_field_type(sc, 2), 'N');
}

TEST_F(AcceptTest, VariableTypesComeFromVn) {
    int sc = -1;
    EXPECT_EQ(screen_build(sr("'a':'V3':X$"), 0, &sc), ier::VariableScreenField);
    set_text("_V3$", "N8");
    ASSERT_EQ(screen_build(sr("'a':'V3':X$"), 0, &sc), 0);
    EXPECT_EQ(screen_field_type(sc, 1), 'N');
    int row, col, width;
    screen_field_place(sc, 1, &row, &col, &width);
    EXPECT_EQ(width, 8);
    // _COMPAT bit 1024: V<n> is no variable type, and nothing is missing
    sysv_set(sysv::COMPAT, 1024);
    EXPECT_EQ(screen_build(sr("'a':'V7':X$"), 0, &sc), 0);
    sysv_set(sysv::COMPAT, 0);
}

TEST_F(AcceptTest, EditModes) {
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'a':'A1','b':'A1','c':'A1','d':'A1' /HIDDEN$=_SCRF2$:NOEDIT$=_SCRF3$:EDIT$=\"_SCRF4$,_SCRF1$\""), 0, &sc), 0);
    EXPECT_EQ(screen_field_mode(sc, 1), 2);
    EXPECT_EQ(screen_field_mode(sc, 2), kEditHidden);
    EXPECT_EQ(screen_field_mode(sc, 3), 0);
    EXPECT_EQ(screen_field_mode(sc, 4), 1);
}

TEST_F(AcceptTest, StoreFormatsByType) {
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'n':'N8','l':'L1','a':'A3','d':'D8'"), 0, &sc), 0);
    struct Case {
        int n, flags;
        const char* in;
        const char* out;
    } cases[] = {
        {1, stf::Edit, " 12.50 ", "12.5"},
        {2, stf::Edit, "yes", "Y"},
        {2, stf::Edit, "n", "N"},
        {3, stf::Edit, "abcdef", "abc"},
        {4, stf::Edit, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.in);
        ASSERT_EQ(screen_store(sc, c.flags, c.n, sr(c.in)), 0);
        EXPECT_EQ(str(screen_value(sc, c.n)), c.out);
    }
}

// ---------------------------------------------------------------- the window

TEST_F(AcceptTest, ConfirmingAndCancellingByKey) {
    const char* list = "'Name:':'A20':NAME$,'Qty:':'N5':QTY#";
    struct Case {
        const char* keys;
        IER status;
        const char* name;
        const char* qty;
    } cases[] = {
        {"\"Smith\" Enter \"12\" Enter", 0, "Smith", "12"},    // Enter past the last field confirms
        {"\"Smith\" Tab \"12\" Tab", 0, "Smith", "12"},
        {"\"Smith\" Down \"12\" Down", 0, "Smith", "12"},
        {"\"Smith\" Enter \"12\" PgDn", 0, "Smith", "12"},     // Page Down on the last field
        {"\"Smith\" PgDn", 0, "Smith", "0"},                   // and on any other
        {"\"Smith\" C-End", 0, "Smith", "0"},
        {"\"Smith\" Enter \"12\" Esc", 122, "keep", "7"},      // Escape changes nothing
        {"\"Smith\" Enter Close", 122, "keep", "7"},           // the close box after Enter cancels
        {"\"Smith\"", 122, "keep", "7"},                       // no input left
        {"\"Smith\" Enter \"12\" PgUp Up Esc", 122, "keep", "7"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        set_text("NAME$", "keep");
        ASSERT_EQ(var_assign(sr("QTY#"), Value::number(num_from_int(7, num_precis()))), 0);
        AcceptResult r = accept("Order " + std::string(c.keys), list, c.keys);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(text("NAME$"), c.name);
        EXPECT_EQ(text("QTY#"), c.qty);
        EXPECT_EQ(ws_count(), 0);
    }
}

TEST_F(AcceptTest, OkButtonConfirms) {
    // nothing to edit: the focus is on Ok, and Enter presses it
    AcceptResult r = accept("k", "'a:':'A5':A$:'v' /NOEDIT$=_SCRF1$", "Enter");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(text("A$"), "v");
    EXPECT_EQ(ws_count(), 0);
}

TEST_F(AcceptTest, EnterWrapsInsideBounds) {
    struct Case {
        const char* list;
        const char* keys;
        IER status;
        const char* a;
        const char* b;
        const char* c;
    } cases[] = {
        // without BOUNDS$ Enter on the last field confirms
        {"'a':'A5':A$,'b':'A5':B$,'c':'A5':C$", "\"1\" Enter \"2\" Enter \"3\" Enter", 0, "1", "2", "3"},
        // inside the range it wraps to the range's first field
        {"'a':'A5':A$,'b':'A5':B$,'c':'A5':C$ /BOUNDS$=\"_SCRF1$,_SCRF2$\"", "\"1\" Enter \"2\" Enter \"9\" C-End", 0, "9",
         "2", ""},
        // and backwards to its last
        {"'a':'A5':A$,'b':'A5':B$,'c':'A5':C$ /BOUNDS$=\"_SCRF1$,_SCRF2$\"", "S-Tab \"7\" C-End", 0, "", "7", ""},
        // before the first field outside a range the cursor stays
        {"'a':'A5':A$,'b':'A5':B$", "S-Tab \"5\" C-End", 0, "5", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        set_text("A$", "");
        set_text("B$", "");
        set_text("C$", "");
        AcceptResult r = accept(std::string("b ") + c.keys + c.list, c.list, c.keys);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(text("A$"), c.a);
        EXPECT_EQ(text("B$"), c.b);
        EXPECT_EQ(text("C$"), c.c);
    }
}

TEST_F(AcceptTest, LastConfirmedValuesPerCaption) {
    const char* list = "'Name:':'A20':NAME$,'Pw:':'P8':PW$,'City:':'A20':CITY$:'Rome'";
    struct Step {
        const char* caption;
        const char* keys;
        const char* name;
        const char* pw;
        const char* city;
    } steps[] = {
        {"Customer", "\"Smith\" Enter \"secret\" Enter \"Paris\" Enter", "Smith", "secret", "Paris"},
        // the same caption: the name comes back, the password never does,
        // a field with a default takes its default
        {"Customer", "Enter Enter Enter", "Smith", "", "Rome"},
        {"Other", "Enter Enter Enter", "", "", "Rome"},
        // another caption in between forgets them
        {"Customer", "Enter Enter Enter", "", "", "Rome"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.keys);
        AcceptResult r = accept(s.caption, list, s.keys);
        ASSERT_EQ(r.status, 0);
        EXPECT_EQ(text("NAME$"), s.name);
        EXPECT_EQ(text("PW$"), s.pw);
        EXPECT_EQ(text("CITY$"), s.city);
    }
    EXPECT_EQ(accept_last_caption(), "Customer");
    EXPECT_EQ(accept_last_values(), "'','','Rome'");
}

TEST_F(AcceptTest, EscapeKeepsEveryVariable) {
    set_text("A$", "one");
    set_text("B$", "two");
    AcceptResult r = accept("e", "'a':'A5':A$,'b':'A5':B$:'dflt','c':'A5':C$:'':X$", "\"zz\" Enter \"yy\" Esc");
    EXPECT_EQ(r.status, ier::UserCanceled);
    EXPECT_EQ(text("A$"), "one");
    EXPECT_EQ(text("B$"), "two");
    EXPECT_EQ(var_find(sr("X$")), -1);
}

TEST_F(AcceptTest, HiddenFieldStillAssigned) {
    const char* list =
        "'Qty:':'N5':Q#,'Price:':'N5':P#:4,'Total:':'N8':T# /HIDDEN$=\"_SCRF2#,_SCRF3#\":"
        "ASSIGN$=\",,_SCRF1#*_SCRF2#\":_SCRF1#$=_SCRF3#";
    AcceptResult r = accept("h", list, "\"3\" Enter");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(text("Q#"), "3");
    EXPECT_EQ(text("P#"), "4");   // the default of a hidden field
    EXPECT_EQ(text("T#"), "12");  // its ASSIGN$ result
    EXPECT_EQ(r.values, "'3','4','12'");
}

TEST_F(AcceptTest, CalculatorFollowUps) {
    const char* list =
        "'Kgs:':'26':,'Tot:':'26' /ASSIGN$=\"0,_SCRF1#+_SCRF2#\":_SCRF1#$=\"_SCRF2#,_SCRF1#\":NOEDIT$=\"_SCRF2#\"";
    // Kgs is added to the total and then cleared (its ASSIGN$ is 0)
    AcceptResult r = accept("calc", list, "\"5\" Enter");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.values, "'0','5'");
}

TEST_F(AcceptTest, FieldsThatUpdateEachOtherEnd) {
    // each recomputes the other: the chain stops at its depth limit
    const char* list = "'a':'N8':A#,'b':'N8':B# /ASSIGN$=\"_SCRF2#+1,_SCRF1#+1\":_SCRF1#$=_SCRF2#:_SCRF2#$=_SCRF1#";
    AcceptResult r = accept("loop", list, "\"1\" Enter Enter");
    ASSERT_EQ(r.status, 0);
    Value a, b;
    ASSERT_EQ(var_read(sr("A#"), &a), 0);
    ASSERT_EQ(var_read(sr("B#"), &b), 0);
    EXPECT_LT(a.num, num_from_int(100, num_precis()));
    EXPECT_GT(b.num, 0);
}

TEST_F(AcceptTest, FailedAssignReportsAndKeeps) {
    test::BoxRecorder boxes;
    AcceptResult r = accept("f", "'a':'N5':A#,'b':'N5':B#:9 /ASSIGN$=\"0,1+*\":_SCRF1#$=_SCRF2#", "\"1\" Enter Enter");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(text("B#"), "9");
    bool seen = false;
    for (const test::Box& b : boxes.boxes) {
        if (b.text.find("Bad params for screen field 2") != std::string::npos) seen = true;
    }
    EXPECT_TRUE(seen);
}

TEST_F(AcceptTest, AlarmKeepsTheCursor) {
    test::BoxRecorder boxes;
    AcceptResult r = accept("al", "'n':'N5':N#,'m':'A5':M$ /ALARM$=\"_SCRF1#>10\"", "\"5\" Enter BkSp \"20\" Enter \"x\" Enter");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(text("N#"), "20");
    EXPECT_EQ(text("M$"), "x");
    ASSERT_FALSE(boxes.boxes.empty());
    EXPECT_NE(boxes.boxes[0].text.find("_SCRF1#>10"), std::string::npos) << boxes.boxes[0].text;
    EXPECT_NE(boxes.boxes[0].text.find("Bad user data"), std::string::npos) << boxes.boxes[0].text;
}

TEST_F(AcceptTest, ConditionFromFieldsWithOperators) {
    struct Case {
        const char* keys;
        IER status;
        const char* cond;
    } cases[] = {
        {"\"12\" Enter \"Smith\" Enter", 0, "CODE{1}>=12&&NAME{1}=='Smith'"},
        {"\"12x\" Enter \"O'Hara\" Enter", 0, "CODE{1}>=12&&NAME{1}==\"O'Hara\""},
        {"Enter \"a')||1||('\" Enter", 0, "NAME{1}==\"a')||1||('\""},  // an empty field adds nothing
        {"Enter Enter", 0, ""},
        {"Enter \"a'b\\\"c\" Enter", ier::BADINPUTDATA, ""},  // both quotes: refused, never pasted
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        AcceptResult r = accept(std::string("cond ") + c.keys, "'From:':'N8':CODE{1}>=,'Name:':'A20':NAME{1}==", c.keys);
        EXPECT_EQ(r.status, c.status);
        if (!c.status) {
            EXPECT_EQ(r.cond, c.cond);
            EXPECT_EQ(str(st_get(grp::Runtime, 1)), c.cond);
        }
    }
}

IER refuse_once(int fields) {
    static int calls = 0;
    return fields == 2 && calls++ == 0 ? IER(ier::BadUserData) : IER(0);
}

TEST_F(AcceptTest, CheckCallbackMayRefuse) {
    test::BoxRecorder boxes;
    wnd_script_set("\"a\" Enter \"b\" Enter Enter");
    AcceptResult r = accept_window(sr("chk"), sr("'a':'A5':A$,'b':'A5':B$"), 0, refuse_once);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(text("A$"), "a");
    EXPECT_EQ(text("B$"), "b");
}

// ---------------------------------------------------------------- answer files

TEST_F(AcceptTest, ConfirmRecordsTheValuesWithoutPasswords) {
    std::string out = output();
    const char* list = "'Name:':'A20':NAME$,'Pw:':'P8':PW$,'Note:':'A20':NOTE$";
    ASSERT_EQ(accept("rec", list, "\"Smith\" Enter \"secret\" Enter \"it's\" Enter").status, 0);
    ASSERT_EQ(accept("rec", list, "Esc").status, 122);  // a cancel records nothing
    EXPECT_EQ(text("PW$"), "secret");
    EXPECT_EQ(slurp(out), "'Smith','',\"it's\"\r\n");
}

TEST_F(AcceptTest, ReplayTakesTheAnswerWithoutAWindow) {
    input("'Smith','12',\"it's\"\r\n'next'\r\n");
    keys("Esc");  // a window would take this and cancel
    AcceptResult r = accept_window(sr("rp"), sr("'Name:':'A20':NAME$,'Qty:':'N5':QTY#,'Note:':'A9':NOTE$"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(text("NAME$"), "Smith");
    EXPECT_EQ(text("QTY#"), "12");
    EXPECT_EQ(text("NOTE$"), "it's");
    EXPECT_EQ(wnd_script_left(), 1);
    // the next dialog takes the next line
    r = accept_window(sr("rp2"), sr("'X:':'A9':X$"));
    EXPECT_EQ(text("X$"), "next");
    // and at the end of the file the user answers
    r = accept_window(sr("rp3"), sr("'Y:':'A9':Y$"));
    EXPECT_EQ(r.status, 122);
    EXPECT_EQ(wnd_script_left(), 0);
}

TEST_F(AcceptTest, ReplayAsksForThePassword) {
    input("'Smith','',''\r\n");
    keys("\"pw\" Enter");
    AcceptResult r = accept_window(sr("rp"), sr("'Name:':'A20':NAME$,'Pw:':'P8':PW$,'Note:':'A9':NOTE$"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(text("NAME$"), "Smith");
    EXPECT_EQ(text("PW$"), "pw");
    EXPECT_EQ(text("NOTE$"), "");
}

TEST_F(AcceptTest, ReplayRecordsAgain) {
    std::string out = output();
    input("'a','b'\r\n");
    ASSERT_EQ(accept_window(sr("x"), sr("'1':'A5':A$,'2':'A5':B$")).status, 0);
    EXPECT_EQ(slurp(out), "'a','b'\r\n");
}

// ---------------------------------------------------------------- programs and commands

AcceptResult g_seen;
int g_calls = 0;
IER on_confirm(const AcceptResult* r) {
    g_seen = *r;
    g_calls++;
    return 0;
}

TEST_F(AcceptTest, AcceptRunProgram) {
    test::InFolder here(dir_.path);
    dir_.put("ACC.PPN",
             " 1 ACBOUND$=\"'Name:':'A20':NAME$,'Qty:':'N5':QTY#\"\r\n 1 WINNAME$='Order'\r\n 1 ACCEPT_PRC%=9\r\n"
             " 2 ACBOUND$=\"'Name:':'A20':NAME$\"\r\n"
             " 3 WINNAME$='Nothing'\r\n 3 ACCEPT_PRC%=9\r\n");
    hk_register_as(on_confirm, 9);
    g_calls = 0;
    keys("\"Jo\" Enter \"4\" Enter");
    EXPECT_EQ(prog_dispatch(uint32_t(ptype::AcceptRun) << 16, sr("ACC,1")), 0);
    EXPECT_EQ(g_calls, 1);
    EXPECT_EQ(g_seen.values, "'Jo','4'");
    EXPECT_EQ(text("NAME$"), "Jo");
    EXPECT_EQ(accept_last_caption(), "Order");
    // no ACCEPT_PRC%: 163 with its name
    keys("\"x\" Enter");
    EXPECT_EQ(prog_dispatch(uint32_t(ptype::Accept) << 16, sr("ACC,2")), ier::BADINPUTDATA);
    EXPECT_NE(str(err_detail_get()).find("ACCEPT_PRC%"), std::string::npos);
    err_detail_clear();
    // no ACBOUND$
    EXPECT_EQ(prog_dispatch(uint32_t(ptype::AcceptRun) << 16, sr("ACC,3")), ier::BADINPUTDATA);
    EXPECT_NE(str(err_detail_get()).find("ACBOUND$"), std::string::npos);
    err_detail_clear();
    // a cancel is the program's status, and the hook is not called
    keys("Esc");
    EXPECT_EQ(prog_dispatch(uint32_t(ptype::AcceptRun) << 16, sr("ACC,1")), ier::UserCanceled);
    EXPECT_EQ(g_calls, 1);
    // the form with record handling is not available here
    EXPECT_EQ(prog_dispatch(uint32_t(ptype::AcceptRun) << 16, sr("ACC,1,a,b,c,d,0")), ier::BADINPUTDATA);
    err_detail_clear();
    hk_register(nullptr, 9);
}

TEST_F(AcceptTest, ScriptCommandsAcceptReadBounds) {
    test::BoxRecorder boxes;
    int idx = -1;
    ASSERT_EQ(proc_load_text(sr("LOCATE 2,10\r\n"
                                "ACCEPT \"'Name:':'A20':NAME$\"\r\n"
                                "LOCATE 3,10\r\n"
                                "ACCEPT \"'Qty:':'N5':QTY#\"\r\n"
                                "READ '/ALARM$=\"1,_SCRF2#>0\"'\r\n"
                                "BOUNDS \"'City:':'A10':CITY$\"\r\n"),
                             &idx),
              0);
    keys("\"Ann\" Enter \"0\" Enter BkSp \"3\" Enter \"Oslo\" Enter");
    EXPECT_EQ(proc_run(idx, 0), 0);
    EXPECT_EQ(text("NAME$"), "Ann");
    EXPECT_EQ(text("QTY#"), "3");
    EXPECT_EQ(text("CITY$"), "Oslo");
    EXPECT_EQ(st_count(grp::StkScreen), 0);
    ASSERT_EQ(boxes.boxes.size(), 1u);  // the quantity 0 was refused once
    EXPECT_NE(boxes.boxes[0].text.find("_SCRF2#>0"), std::string::npos);
    proc_unload(idx);
    // READ with nothing queued, ACCEPT without its text
    ASSERT_EQ(proc_load_text(sr("READ ''\r\n"), &idx), 0);
    EXPECT_EQ(proc_run(idx, 0), ier::SINTAXERROR);
    proc_unload(idx);
    err_detail_clear();
}

TEST_F(AcceptTest, ScrbackCopiesTheValues) {
    AcceptResult r = accept("s", "'a':'A3':A$,'b':'A2':B$ /ON_CONFIRM$=\"SCRBACK:BUF$\"", "\"xy\" Enter \"z\" Enter");
    ASSERT_EQ(r.status, 0);
    Value v;
    int idx[1] = {0};
    ASSERT_EQ(var_array_read(sr("BUF$("), idx, 1, &v), 0);
    EXPECT_EQ(str(v.text), "xy z ");
}

// A data-file field as an item of one part: its name and width from the
// record layer.
IER fake_chars(StrRef ref, int, StrRef* out) {
    if (sv(ref).rfind("NAME{", 0) != 0) return ier::FILEOUTBOUND;
    *out = scr_copy(sr("Smith     "));
    return 0;
}

TEST_F(AcceptTest, FileFieldItems) {
    RecordPort p = rec_port();
    p.field_chars = fake_chars;
    rec_set_port(&p);
    int sc = -1;
    ASSERT_EQ(screen_build(sr("NAME{CUST}==,'x':'A1'"), 0, &sc), 0);
    int row, col, width;
    screen_field_place(sc, 1, &row, &col, &width);
    EXPECT_EQ(width, 10);
    test::BoxRecorder boxes;
    EXPECT_EQ(screen_build(sr("CODE{9}"), 0, &sc), ier::FILEOUTBOUND);
    EXPECT_NE(str(err_detail_get()).find("Field:CODE{9}"), std::string::npos);
    err_detail_clear();
    AcceptResult r = accept("ff", "NAME{CUST}==", "\"Smith\" Enter");
    EXPECT_EQ(r.cond, "NAME{CUST}=='Smith'");
    rec_set_port(nullptr);
}

}  // namespace
}  // namespace rt

namespace rt {
namespace {

// ---------------------------------------------------------------- the connection dialog

TEST_F(AcceptTest, ConnectionDialogFromDefaults) {
    struct Case {
        int layout;
        const char* defaults;
        const char* keys;
        const char* entered;
    } cases[] = {
        {91, "db1,books,ann,pw0,1", "Enter Enter Enter Enter \"Y\" Enter", "db1,books,ann,pw0,1"},
        {91, "db1,books,ann,,0", "Enter \"shop\" Enter Enter \"x'y\" Enter \"N\" Enter", "db1,shop,ann,\"x'y\",0"},
        {92, "h2,ignored,x,y", "Enter \"d\" Enter Enter \"p\" Enter", "h2,d,postgres,p"},
        {93, "h3", "Enter Enter \"p\" Enter", "h3,,postgres,p"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        keys(c.keys);
        StrRef entered{};
        ASSERT_EQ(sql_accept_dialog(c.layout, sr(c.defaults), &entered), 0);
        EXPECT_EQ(str(entered), c.entered);
    }
    keys("Esc");
    StrRef entered{};
    EXPECT_EQ(sql_accept_dialog(91, sr("h,d,u,p"), &entered), ier::UserCanceled);
}

TEST_F(AcceptTest, ConnectionDialogRecordedAndReplayedWithoutPassword) {
    std::string out = output();
    keys("\"dbhost\" Enter \"books\" Enter \"ann\" Enter \"secret\" Enter \"Y\" Enter");
    StrRef entered{};
    ASSERT_EQ(sql_accept_dialog(91, sr(""), &entered), 0);
    EXPECT_EQ(str(entered), "dbhost,books,ann,secret,1");
    std::string recorded = slurp(out);
    EXPECT_EQ(recorded.find("secret"), std::string::npos);
    EXPECT_EQ(recorded, "'dbhost','books','ann','','Y'\r\n");
    // replayed: the password is asked for, everything else comes from the line
    input(recorded);
    keys("\"again\" Enter");
    ASSERT_EQ(sql_accept_dialog(91, sr("other,x,y,z"), &entered), 0);
    EXPECT_EQ(str(entered), "dbhost,books,ann,again,1");
}

}  // namespace
}  // namespace rt

namespace rt {
namespace {

TEST_F(AcceptTest, LogicalFieldAsCheckBox) {
    struct Case {
        int auxstat;
        const char* keys;
        const char* value;
    } cases[] = {
        {16, "\" \" Enter", "Y"},    // Space toggles the box
        {16, "Enter", ""},
        {0, "\"y\" Enter", "Y"},    // without bit 16 an edit box
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.keys);
        sysv_set(sysv::AUXSTAT, static_cast<int16_t>(c.auxstat));
        AcceptResult r = accept(std::string("chk ") + c.keys + std::to_string(c.auxstat), "'Paid:':'L1':PAID$", c.keys);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(text("PAID$"), c.value);
    }
    sysv_set(sysv::AUXSTAT, 0);
}

TEST_F(AcceptTest, ReturnedValueFillsTheFieldThatGetsTheFocus) {
    ASSERT_EQ(st_push(grp::StkWinResults, sr("'from below':_SCRF2$")), 0);
    AcceptResult r = accept("ret", "'a':'A12':A$,'b':'A12':B$ /ASSIGN$=\",_SCRF1$+'!'\"", "Enter Enter");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(text("A$"), "from below");
    EXPECT_EQ(text("B$"), "from below!");
    EXPECT_EQ(st_count(grp::StkWinResults), 0);
}

TEST_F(AcceptTest, RecallTakesTheRememberedValue) {
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'a':'A3','b':'A2'"), 0, &sc), 0);
    int size[1] = {1};
    ASSERT_EQ(var_array_make(sr("KEEP$("), size, 1, Value::of_text(sr("abcde"))), 0);
    ASSERT_EQ(screen_scrback_load(sc, sr("SCRBACK:KEEP$")), 0);
    ASSERT_EQ(screen_store(sc, stf::Edit | stf::Recall, 2, sr("zz")), 0);
    EXPECT_EQ(str(screen_value(sc, 2)), "de");
    // an ON_CONFIRM$ of another form does nothing
    EXPECT_EQ(screen_scrback_save(sc, sr("OTHER:KEEP$")), 0);
}

}  // namespace
}  // namespace rt

namespace rt {
namespace {

TEST_F(AcceptTest, PerformAndUpdFields) {
    ASSERT_EQ(var_assign(sr("HITS#"), Value::number(0)), 0);
    AcceptResult r = accept("pu", "'a':'N5':A#,'b':'N5':B# /PERFORM$=\"HITS#=HITS#+1\":UPDFIELDS$=\"_SCRF2#\":ASSIGN$=\",_SCRF1#*2\"",
                            "\"4\" Enter Enter");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(text("B#"), "8");
    EXPECT_EQ(text("HITS#"), "1");  // once: the value changed once
}

TEST_F(AcceptTest, BoundPartMustBeAVariable) {
    struct Case {
        const char* list;
        IER status;
    } cases[] = {
        {"'a':'A5':NAME$", 0},
        {"'a':'A5':T$(2)", 0},
        {"'a':'A5':1X$", ier::BADINPUTDATA},
        {"'a':'A5':'quoted'", ier::BADINPUTDATA},
        {"'a':'A5':A B", ier::BADINPUTDATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        int sc = -1;
        EXPECT_EQ(screen_build(sr(c.list), 0, &sc), c.status);
        err_detail_clear();
    }
}

std::string g_written;
IER fake_resolve(StrRef file, StrRef field, FieldRef* out) {
    if (sv(file) != "1" || sv(field) != "NAME") return ier::FILEOUTBOUND;
    *out = FieldRef{1, 1, 'A'};
    return 0;
}
IER fake_read(const FieldRef&, StrRef* t) {
    *t = scr_copy(sr(g_written));
    return 0;
}
IER fake_write(const FieldRef&, StrRef t) {
    g_written = str(t);
    return 0;
}

TEST_F(AcceptTest, StoreIntoTheRecordBuffer) {
    FieldPort port{fake_resolve, fake_read, fake_write, nullptr};
    ex_set_field_port(&port);
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'n':'A20':NAME{1}"), 0, &sc), 0);
    for (const char* v : {"O'Hara", "x\"y", "a')+FN$X('"}) {
        ASSERT_EQ(screen_store(sc, stf::Edit | stf::Record, 1, sr(v)), 0) << v;
        EXPECT_EQ(g_written, v);
    }
    ex_set_field_port(nullptr);
}

}  // namespace
}  // namespace rt

namespace rt {
namespace {

TEST_F(AcceptTest, FileFieldItemsFromTheDictionary) {
    ASSERT_EQ(dict_open(0, sr("CUST"), sr_empty()), 0);
    ASSERT_EQ(dict_add_field(sr("NAME"), 20, 'A'), 0);
    ASSERT_EQ(dict_add_field(sr("AMOUNT"), 10, 'N'), 0);
    struct Case {
        const char* list;
        const char* prompt_name;
        char type;
        int width;
    } cases[] = {
        {"NAME{CUST}", "NAME", 'A', 20},
        {"AMOUNT{CUST}>=", "AMOUNT", 'N', 10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        int sc = -1;
        ASSERT_EQ(screen_build(sr(c.list), 0, &sc), 0);
        EXPECT_EQ(screen_field_type(sc, 1), c.type);
        int row, col, width;
        screen_field_place(sc, 1, &row, &col, &width);
        EXPECT_EQ(width, c.width);
        screen_release(sc);
    }
    // the prompt carries the word of the operator
    AcceptResult r = accept("dict", "AMOUNT{CUST}>=", "\"12.50\" Enter");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(r.cond, "AMOUNT{CUST}>=12.5");
    int sc = -1;
    EXPECT_EQ(screen_build(sr("NOBRACES"), 0, &sc), ier::BADINPUTDATA);
    err_detail_clear();
}

}  // namespace
}  // namespace rt

namespace rt {
namespace {

TEST_F(AcceptTest, ParametersWithTheSectionPrefixFirst) {
    ASSERT_EQ(sections_set(2, sr("INIT,LOAD")), 0);
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'a':'A1','b':'A1' /FD$=\"P$,Q$\":LOAD.FD$=\"L1$,L2$\""), 0, &sc), 0);
    EXPECT_EQ(str(screen_field_name(sc, 1)), "L1$");
    screen_release(sc);
    ASSERT_EQ(screen_build(sr("'a':'A1','b':'A1' /FD$=\"P$,Q$\""), 0, &sc), 0);
    EXPECT_EQ(str(screen_field_name(sc, 1)), "P$");  // the bare name second
    screen_release(sc);
    // the option block wins over a variable of the same name
    set_text("FD$", "V$,W$");
    ASSERT_EQ(screen_build(sr("'a':'A1','b':'A1' /FD$=\"P$,Q$\""), 0, &sc), 0);
    EXPECT_EQ(str(screen_field_name(sc, 2)), "Q$");
    screen_release(sc);
    ASSERT_EQ(sections_set(0, sr("")), 0);
    set_text("FD$", "");
}

TEST_F(AcceptTest, ControlsOfTheFields) {
    sysv_set(sysv::AUXSTAT, 16);
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'n':'N8','p':'P6','l':'L1','r':'A4','h':'A2','t':'A30' /NOEDIT$=_SCRF4$:HIDDEN$=_SCRF5$"), 0, &sc), 0);
    WinSpec ws;
    ws.kind = wkind::Dialogx;
    ws.rows = 12;
    ws.cols = 60;
    int sw = sw_open(ws, nullptr);
    ASSERT_GE(sw, 0);
    sw_get(sw)->screen = static_cast<int16_t>(sc);
    ASSERT_EQ(screen_set_win(sw), 0);
    int w = sw_get(sw)->wnd;
    struct Case {
        int field, kind, style;
    } cases[] = {
        {1, WND_EDIT, WND_CS_RIGHT},
        {2, WND_EDIT, WND_CS_PASSWORD},
        {3, WND_CHECK, 0},
        {4, WND_EDIT, WND_CS_READONLY},
        {5, 0, 0},  // hidden: no control
        {6, WND_EDIT, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.field);
        int id = ctlid::FieldBase + c.field;
        EXPECT_EQ(wnd_ctl_kind(w, id), c.kind);
        if (c.kind == WND_EDIT) {
            EXPECT_EQ(wnd_ctl_style(w, id) & (WND_CS_RIGHT | WND_CS_PASSWORD | WND_CS_READONLY), c.style);
        }
    }
    // thirty characters: half a cell less for each ten beyond the first ten
    WndRect r;
    ASSERT_EQ(wnd_ctl_rect(w, ctlid::FieldBase + 6, &r), WND_OK);
    EXPECT_EQ(r.cols, 29);
    sw_close(sw);
    screen_release(sc);
    sysv_set(sysv::AUXSTAT, 0);
}

TEST_F(AcceptTest, PlainStoresKeepTheText) {
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'a':'N8','b':'N8' /CLEAR$=\"0,1\""), 0, &sc), 0);
    struct Case {
        int n, flags;
        const char* in;
        const char* out;
    } cases[] = {
        {1, stf::Plain, " 12.50", " 12.50"},      // bit 1 in both: as given
        {1, stf::Edit, " 12.50", "12.5"},
        {2, stf::Plain, " 12.50", "12.5"},         // CLEAR$ took the field's bit 1
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        ASSERT_EQ(screen_store(sc, c.flags, c.n, sr(c.in)), 0);
        EXPECT_EQ(str(screen_value(sc, c.n)), c.out);
    }
    screen_release(sc);
}

}  // namespace
}  // namespace rt

namespace rt {
namespace {

std::string g_help;
IER help_runner(StrRef params) {
    g_help = str(params);
    return 0;
}

TEST_F(AcceptTest, F1AsksForTheHelpPageOfTheField) {
    prog_register_runner(ptype::Help, help_runner);
    g_help.clear();
    AcceptResult r = accept("help", "'a':'A5':A$,'b':'A5':B$ /HELP$=ORDERS", "Enter F1 \"x\" Enter");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(g_help, "ORDERS,2");
    EXPECT_EQ(text("B$"), "x");
    prog_register_runner(ptype::Help, nullptr);
}

TEST_F(AcceptTest, FiledefBindsAFieldToTheRecord) {
    FieldPort port{fake_resolve, fake_read, fake_write, nullptr};
    ex_set_field_port(&port);
    g_written.clear();
    int sc = -1;
    ASSERT_EQ(screen_build(sr("'n':'A20','m':'A5' /FILEDEF$=\"1;NAME\""), 0, &sc), 0);
    EXPECT_TRUE(screen_field_flags(sc, 1) & sff::FileBound);
    EXPECT_FALSE(screen_field_flags(sc, 2) & sff::FileBound);
    ASSERT_EQ(screen_store(sc, stf::Edit, 1, sr("Jones")), 0);
    EXPECT_EQ(g_written, "Jones");
    screen_release(sc);
    ex_set_field_port(nullptr);
}

}  // namespace
}  // namespace rt
