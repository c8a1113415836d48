// The window manager on the headless window system: keys and commands into
// screen events, the handler chain, the window stack, the loops, the
// progress window, the close check, the selection window, FontSet and the
// window commands of procedures.
#include "runtime/ui/wm.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/ui/wnd.h"
#include "runtime/core/env.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/vars.h"
#include "runtime/script/child.h"
#include "runtime/script/proc.h"
#include "runtime/script/programs.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using namespace plat;
using test::str;

constexpr int NAV(int k) { return sev_make(sev::Nav, k); }

int window(int kind = wkind::Overlapped8, int rows = 10, int cols = 40) {
    WinSpec s;
    s.kind = kind;
    s.rows = rows;
    s.cols = cols;
    s.caption = "w";
    return wm_create(s);
}

class UiTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        ex_install();
        fnlib_install();
        script_install();
        programs_install();
        ui_install();
        wnd_set_screen_size(24, 80);
        ASSERT_EQ(wnd_init(WND_HEADLESS), WND_OK);
        m_ = scr_mark();
    }
    void TearDown() override {
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
    ScratchMark m_ = 0;
};

// ---------------------------------------------------------------- tables

TEST_F(UiTest, KeysToClassesToEventsInBothMaps) {
    struct Case {
        const char* key;
        int keyclass, map0, map1;
    } cases[] = {
        {"Enter", 0, sev::NextField, sev::NextField},
        {"Tab", 9, sev::NextField, sev::NextField},
        {"S-Tab", 8, sev::PrevField, sev::PrevField},
        {"Esc", 3, sev::Cancel, sev::Cancel},
        {"F1", 11, sev::Help, sev::Help},
        {"F2", 12, sev::Recall, sev::Recall},
        {"F3", 13, NAV(nav::BLS), NAV(nav::MDE)},
        {"F4", 14, NAV(nav::NLS), 0},
        {"F5", 15, NAV(nav::PRN), NAV(nav::PRN)},
        {"F6", 16, NAV(nav::FND), NAV(nav::FND)},
        {"F7", 17, NAV(nav::IMP), NAV(nav::IMP)},
        {"F8", 18, NAV(nav::DEL), NAV(nav::DEL)},
        {"F9", 19, NAV(nav::INS), NAV(nav::INS)},
        {"F10", 20, NAV(nav::DDE), NAV(nav::DDE)},
        {"F11", 21, NAV(nav::DDE), NAV(nav::MDE)},
        {"Alt--", 21, NAV(nav::DDE), NAV(nav::MDE)},  // the terminal's stand-in for F11
        {"F12", 4, 0, 0},
        {"Up", 22, sev::Up, sev::Up},
        {"PgUp", 23, NAV(nav::PRV), NAV(nav::PRV)},
        {"Left", 4, 0, 0},
        {"Right", 4, 0, 0},
        {"Down", 28, sev::Down, sev::Down},
        {"PgDn", 29, NAV(nav::NXT), NAV(nav::NXT)},
        {"C-End", 32, sev::Confirm, sev::Confirm},
        {"End", 4, 0, 0},
        {"S-F3", 13, NAV(nav::BLS), NAV(nav::MDE)},  // Shift matters for Tab only
        {"C-Tab", 9, sev::NextField, sev::NextField},
        {"A-x", 4, 0, 0},
        {"Home", 4, 0, 0},
    };
    for (const Case& c : cases) {
        int key = wnd_key_from_name(c.key);
        ASSERT_NE(key, 0) << c.key;
        int kc = key_class(key);
        EXPECT_EQ(kc, c.keyclass) << c.key;
        EXPECT_EQ(key_event(0, kc), c.map0) << c.key << " in map 0";
        EXPECT_EQ(key_event(1, kc), c.map1) << c.key << " in map 1";
        EXPECT_EQ(key_event(7, kc), c.map0) << c.key << ": another map number reads as map 0";
    }
    EXPECT_EQ(key_class('a'), keycls::Other);
    EXPECT_EQ(key_class(' '), keycls::Other);
}

TEST_F(UiTest, CommandsToEvents) {
    struct Case {
        int id, code, event;
    } cases[] = {
        {1500, WND_N_CLICKED, sev_make(sev::MenuCommand, 0)},
        {1503, WND_N_CLICKED, sev_make(sev::MenuCommand, 3)},
        {1699, WND_N_CLICKED, sev_make(sev::MenuCommand, 199)},
        {1702, WND_N_CLICKED, sev_make(sev::Popup, 2)},
        {1949, WND_N_CLICKED, sev_make(sev::Popup, 249)},
        {3000, WND_N_CLICKED, NAV(0)},
        {3005, WND_N_CLICKED, NAV(nav::NXT)},
        {3020, WND_N_CLICKED, NAV(20)},
        {3100, WND_N_CLICKED, NAV(nav::Confirm)},
        {3101, WND_N_CLICKED, NAV(nav::StatusButton)},
        {3600, WND_N_CLICKED, sev_make(sev::AppButton, 0)},
        {3649, WND_N_CLICKED, sev_make(sev::AppButton, 49)},
        {3650, WND_N_CLICKED, sev_make(sev::AppButton2, 0)},
        {3652, WND_N_CLICKED, sev_make(sev::AppButton2, 2)},
        {3350, WND_N_DBLCLK, NAV(nav::Confirm)},  // a double-click is the Ok command
        {2004, WND_N_DBLCLK, NAV(nav::Confirm)},
        {3350, WND_N_SELENDOK, sev::Notify9},
        {1110, WND_N_CLICKED, 0},
        {1480, WND_N_CLICKED, 0},
        {2004, WND_N_CHANGE, 0},
        {3021, WND_N_CLICKED, 0},
        {3350, WND_N_SELCHANGE, 0},
    };
    for (const Case& c : cases) {
        sysv_set(sysv::LASTKEY, keycls::Enter);
        EXPECT_EQ(command_event(c.id, c.code), c.event) << c.id << " code " << c.code;
        EXPECT_EQ(sysv_get(sysv::LASTKEY), c.event ? keycls::Other : keycls::Enter)
            << c.id << ": a translated command sets the last key class to 4";
    }
}

// ---------------------------------------------------------------- the chain

std::vector<int> g_seen;
IER record(int, int event) {
    int k = sev_kind(event);
    if (k != sev::FieldFocus && k != sev::FocusedByClick && k != sev::FieldBlur && k != sev::Activated)
        g_seen.push_back(event);
    return 0;
}

TEST_F(UiTest, KeysAndClicksReachTheScreenHandler) {
    struct Case {
        const char* script;
        int keymap;
        std::vector<int> events;
    } cases[] = {
        {"PgDn", 0, {NAV(nav::NXT)}},
        {"PgUp F11", 1, {NAV(nav::PRV), NAV(nav::MDE)}},
        {"F4", 0, {NAV(nav::NLS)}},
        {"F4", 1, {}},
        {"F3 F11", 0, {NAV(nav::BLS), NAV(nav::DDE)}},
        {"Esc", 0, {sev::Cancel}},
        {"C-End Up Down", 0, {sev::Confirm, sev::Up, sev::Down}},
        {"Enter S-Tab", 1, {sev::NextField, sev::PrevField}},
        {"\"ab\" Left", 0, {}},
        {"DClick:8,21", 0, {NAV(nav::Confirm)}},  // on the first row of the list
        {"Click:8,21", 0, {}},
    };
    for (const Case& c : cases) {
        g_seen.clear();
        WinSpec ws;
        ws.kind = wkind::Overlapped8;
        ws.caption = "chain";
        ws.rows = 10;
        ws.cols = 40;
        int sw = sw_open(ws, record, nullptr, c.keymap);
        ASSERT_GE(sw, 0);
        int w = sw_get(sw)->wnd;
        // outer 12 x 42 centred: the client starts at row 7, column 20
        WndCtlSpec list;
        list.kind = WND_LIST;
        list.id = ctlid::ListBase;
        list.row = 1;
        list.col = 1;
        list.rows = 3;
        list.cols = 10;
        list.style = WND_CS_NOTAB;
        ASSERT_EQ(wnd_ctl_create(w, list), WND_OK);
        wnd_list_add(w, list.id, "one");
        wnd_list_add(w, list.id, "two");
        wnd_set_focus(w, 0);
        keys(c.script);
        EXPECT_EQ(wm_modal_wait(w), ier::UserCanceled) << c.script << ": the script ran out";
        EXPECT_EQ(g_seen, c.events) << c.script << " in map " << c.keymap;
        EXPECT_TRUE(wnd_exists(w)) << c.script << ": only a handler closes a screen window";
        sw_close(sw);
        EXPECT_FALSE(wnd_exists(w));
        EXPECT_EQ(sw_get(sw), nullptr);
    }
}

struct Stored {
    int field;
    std::string text;
};
std::vector<Stored> g_stored;
IER store_rec(int, int field, StrRef text) {
    g_stored.push_back({field, str(text)});
    return 0;
}

TEST_F(UiTest, EscapeInAFieldRaisesCancelWithoutStoringOrClosing) {
    struct Case {
        const char* script;
        int event;
        bool stored;
    } cases[] = {
        {"\"x\" Esc", sev::Cancel, false},
        {"\"x\" Tab", sev::NextField, true},
        {"\"x\" C-End", sev::Confirm, true},
    };
    for (const Case& c : cases) {
        g_seen.clear();
        g_stored.clear();
        field_ports().store = store_rec;
        WinSpec ws;
        ws.caption = "fields";
        int sw = sw_open(ws, record);
        int w = sw_get(sw)->wnd;
        for (int n = 1; n <= 2; n++) {
            WndCtlSpec e;
            e.kind = WND_EDIT;
            e.id = ctlid::FieldBase + n;
            e.row = n;
            e.cols = 10;
            ASSERT_EQ(wnd_ctl_create(w, e), WND_OK);
        }
        keys(c.script);
        wm_modal_wait(w);
        ASSERT_FALSE(g_seen.empty()) << c.script;
        EXPECT_EQ(g_seen.back(), c.event) << c.script;
        EXPECT_EQ(sw_get(sw)->field, 1) << c.script << ": the focus made field 1 current";
        EXPECT_TRUE(wnd_exists(w)) << c.script;
        if (c.stored) {
            ASSERT_FALSE(g_stored.empty()) << c.script;
            EXPECT_EQ(g_stored[0].field, 1);
            EXPECT_EQ(g_stored[0].text, "x");
        } else {
            EXPECT_TRUE(g_stored.empty()) << c.script << ": Escape does not store the field";
        }
        sw_close(sw);
    }
}

int g_follow_calls = 0;
IER count_up(int sw, int event) {
    g_seen.push_back(event);
    sw_get(sw)->state++;
    return 0;
}
// After a state change to 2 the next index follows, once.
int follow_27(int, int before, int after, int event) {
    g_follow_calls++;
    return after == 2 && before != after ? sev::NextIndex : event;
}
IER decline(int, int) { return 163; }

TEST_F(UiTest, FollowUpsAndTheDefaultLinks) {
    WinSpec ws;
    ws.caption = "follow";
    int sw = sw_open(ws, count_up, follow_27);
    g_seen.clear();
    sw_get(sw)->state = 1;
    EXPECT_EQ(sw_dispatch(sw, sev::NextField), 0);
    EXPECT_EQ(g_seen, (std::vector<int>{sev::NextField, sev::NextIndex}));
    EXPECT_EQ(g_follow_calls, 2) << "the follow-up that gives the incoming event ends the chain";
    sw_close(sw);

    // Nobody takes a close event: the window default closes it.
    sw = sw_open(ws, decline);
    int w = sw_get(sw)->wnd;
    EXPECT_EQ(sw_dispatch(sw, sev::CloseWindow), 0);
    EXPECT_FALSE(wnd_exists(w));
    EXPECT_EQ(sw_get(sw), nullptr);
    EXPECT_EQ(ws_count(), 0);
}

IER close_and_fail(int, int event) { return event == sev::Help ? 0x100 | ier::BadUserData : 0; }

TEST_F(UiTest, AResultAsksToCloseAndIsReported) {
    test::BoxRecorder boxes;
    WinSpec ws;
    ws.caption = "result";
    int sw = sw_open(ws, close_and_fail);
    int w = sw_get(sw)->wnd;
    EXPECT_EQ(sw_dispatch(sw, sev::Help), ier::BadUserData);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, box::Warning);
    EXPECT_EQ(sw_get(sw)->status, ier::BadUserData);
    wm_pump();  // the close request posted to the top window
    EXPECT_TRUE(wnd_exists(w)) << "the close request goes to the handlers";
}

using ScreenDeathTest = UiTest;
TEST_F(ScreenDeathTest, DispatchWithoutAScreenWindowStopsTheProgram) {
    test::TempDir dir;
    test::InFolder in(dir.path);
    EXPECT_EXIT(sw_dispatch(5, sev::Help), testing::ExitedWithCode(141), "ScreenActionSet");
}

// ---------------------------------------------------------------- the stack

TEST_F(UiTest, ThirtyThreeWindowsLeaveThirtyTwoTrackedAndOwnersEnabled) {
    std::vector<int> w;
    for (int i = 0; i < 33; i++) {
        w.push_back(window(wkind::Popup9));
        ASSERT_GT(w.back(), 0);
    }
    EXPECT_EQ(ws_count(), kWindowStackMax);
    EXPECT_GE(ws_find(w[32]), kWindowStackMax) << "the 33rd is made but not tracked";
    EXPECT_EQ(ws_top(), w[31]);
    EXPECT_EQ(wnd_owner(w[32]), w[31]);
    EXPECT_FALSE(wnd_enabled(w[31])) << "a modal window disables its owner";
    for (int i = 32; i > 0; i--) {
        wm_destroy(w[i]);
        EXPECT_TRUE(wnd_enabled(w[i - 1])) << "owner of window " << i + 1 << " enabled again";
        EXPECT_EQ(wnd_active(), w[i - 1]) << "and active";
        EXPECT_EQ(ws_top(), w[i - 1]);
    }
    EXPECT_EQ(ws_count(), 1);
    EXPECT_FALSE(wm_quit_posted());
    wm_destroy(w[0]);
    EXPECT_EQ(ws_count(), 0);
    EXPECT_TRUE(wm_quit_posted());
    EXPECT_TRUE(wm_pump()) << "the pump reports the quit";
}

TEST_F(UiTest, PushingAWindowAgainMovesItToTheTop) {
    int a = window(), b = window(), c = window();
    EXPECT_TRUE(ws_push(a, wkind::Overlapped8));
    EXPECT_EQ(ws_count(), 3);
    EXPECT_EQ(ws_at(0), b);
    EXPECT_EQ(ws_at(1), c);
    EXPECT_EQ(ws_at(2), a);
    ws_pop(c);
    EXPECT_EQ(ws_at(0), b);
    EXPECT_EQ(ws_at(1), a);
    EXPECT_EQ(ws_find(c), kWindowStackMax);
}

TEST_F(UiTest, TheLastDestroyEndsTheMessageLoop) {
    window();
    window();
    keys("Esc Esc F2");
    EXPECT_EQ(wm_message_loop(), 0) << "ended by the windows, not by the script";
    EXPECT_EQ(ws_count(), 0);
    EXPECT_EQ(wnd_script_left(), 1);
    EXPECT_TRUE(wm_quit_posted());
    keys("F2");
    EXPECT_EQ(wm_modal_wait(0), 0) << "a wait with no window returns at once";
    EXPECT_EQ(wnd_script_left(), 1);
}

int g_b = 0;
int open_on_x(const WndEvent& ev, void*) {
    if (ev.type == WND_EV_KEY && ev.key == 'x') {
        g_b = window(wkind::Overlapped8, 5, 20);
        return 1;
    }
    return 0;
}

TEST_F(UiTest, AModalWaitEndsWithItsOwnWindowOnly) {
    int a = window();
    wm_set_proc(a, open_on_x, nullptr);
    keys("\"x\" Esc Esc F5");
    EXPECT_EQ(wm_modal_wait(a), 0);
    EXPECT_FALSE(wnd_exists(a));
    EXPECT_FALSE(wnd_exists(g_b)) << "the window on top was closed first";
    EXPECT_EQ(wnd_script_left(), 1);
}

TEST_F(UiTest, WindowKindsAndClassNames) {
    env_set(env::ApName, sr("COLDGR27K:VodazEZI"));
    EXPECT_EQ(str(wkind_class_name(wkind::Main)), "COLDGR27K");
    EXPECT_EQ(str(wkind_class_name(wkind::MantDlg)), "MantDlgCOLDGR27K");
    EXPECT_EQ(str(wkind_class_name(wkind::Progress)), "ProgressCOLDGR27K");
    for (int k : {3, 4, 5, 6, 7, 9, 10}) EXPECT_TRUE(wkind_modal(k)) << k;
    for (int k : {0, 1, 2, 8, 11}) EXPECT_FALSE(wkind_modal(k)) << k;
    int big = window(wkind::Maximized, 5, 5);
    WndRect r;
    wnd_rect(big, &r);
    EXPECT_EQ(r.rows, 24);
    EXPECT_EQ(r.cols, 80);
    int tall = window(wkind::Overlapped8, 40, 20);
    wnd_rect(tall, &r);
    EXPECT_EQ(r.rows, 24) << "cut to the screen; the rest scrolls";
    EXPECT_EQ(r.row, 0);
}

// ---------------------------------------------------------------- progress

TEST_F(UiTest, ProgressCountsAboveTheBarAreHalvedWithTheDivisorDoubled) {
    struct Case {
        long count, range, divisor;
    } cases[] = {
        {100000, 50000, 2}, {65535, 65535, 1}, {65536, 32768, 2}, {300000, 37500, 8}, {10, 10, 1},
        {0, kProgressUnknownRange, 1},
    };
    for (const Case& c : cases) {
        progress_expect(c.count);
        ProgressState s = progress_state();
        EXPECT_EQ(s.range, c.range) << c.count;
        EXPECT_EQ(s.divisor, c.divisor) << c.count;
    }
}

TEST_F(UiTest, ProgressStepsMoveTheBar) {
    ASSERT_EQ(progress_open(300, kProgressBar), 0);
    EXPECT_TRUE(progress_is_open());
    progress_expect(100000);
    for (int i = 0; i < 3; i++) progress_step(1);
    EXPECT_EQ(progress_state().pos, 1) << "steps smaller than the divisor add up";
    progress_step(99997);
    EXPECT_EQ(progress_state().pos, 50000);
    progress_expect(0);
    for (int i = 0; i < 200; i++) progress_step(1);
    EXPECT_EQ(progress_state().pos, 200);
    progress_step(1);
    EXPECT_EQ(progress_state().pos, 1) << "an unknown count goes round again";
    std::string caption;
    wnd_caption(progress_state().window, &caption);
    EXPECT_EQ(caption, "Process in progress.....");
    std::string cancel;
    wnd_get_text(progress_state().window, ctlid::ProgressCancel, &cancel);
    EXPECT_EQ(cancel, "Cancel");
    progress_close();
    EXPECT_FALSE(progress_is_open());
    EXPECT_EQ(ws_count(), 0);
}

TEST_F(UiTest, TheCancelButtonEscapeAndTheCloseBoxSetTheCancelFlag) {
    WndEvent cmd;
    cmd.type = WND_EV_COMMAND;
    cmd.ctl = ctlid::ProgressCancel;
    WndEvent esc;
    esc.type = WND_EV_KEY;
    esc.key = WND_K_ESC;
    WndEvent close;
    close.type = WND_EV_CLOSE;
    for (WndEvent ev : {cmd, esc, close}) {
        ASSERT_EQ(progress_open(200, kProgressText), 0);
        EXPECT_FALSE(progress_cancelled());
        ev.wnd = progress_state().window;
        wnd_post(ev);
        wm_pump();
        EXPECT_TRUE(progress_cancelled()) << ev.type;
        EXPECT_TRUE(progress_is_open()) << "the operation closes the window, not the user";
        progress_close();
        EXPECT_FALSE(progress_cancelled());
    }
}

// ---------------------------------------------------------------- close check

int g_children = 0;
int children() { return g_children; }

TEST_F(UiTest, TheMainWindowClosesOnlyWhenTheCloseCheckAllows) {
    struct Case {
        int children, auxstat, answer;
        bool closes;
        const char* box;
    } cases[] = {
        {1, 0, box::Yes, false, "There are windows open (1 Screens, 1 Windows)"},
        {2, 32, box::Yes, false, "There are windows open (2 Screens, 2 Windows)"},
        {0, 32, box::Yes, true, ""},
        {0, 0, box::No, false, "Do you want to Close Program? (0 Screens, 0 Windows)"},
        {0, 0, box::Yes, true, "Do you want to Close Program? (0 Screens, 0 Windows)"},
    };
    for (const Case& c : cases) {
        test::BoxRecorder boxes;
        boxes.answer = c.answer;
        g_children = c.children;
        rt_ports().running_children = children;
        sysv_set(sysv::AUXSTAT, static_cast<int16_t>(c.auxstat));
        WinSpec ws;
        ws.kind = wkind::Main;
        ws.caption = "main";
        int sw = sw_open(ws, nullptr);
        int w = sw_get(sw)->wnd;
        wnd_post_close(w);
        wm_pump();
        EXPECT_EQ(wnd_exists(w), !c.closes) << c.children << " children, _AUXSTAT " << c.auxstat;
        if (*c.box) {
            ASSERT_EQ(boxes.boxes.size(), 1u);
            EXPECT_NE(boxes.boxes[0].text.find(c.box), std::string::npos) << boxes.boxes[0].text;
            EXPECT_EQ(boxes.boxes[0].kind, c.children ? box::Warning : box::YesNo);
        } else {
            EXPECT_TRUE(boxes.boxes.empty());
        }
        if (!c.closes) sw_close(sw);
    }
}

// ---------------------------------------------------------------- choices

TEST_F(UiTest, TheSelectionWindowTakesTheChoiceFromTheKeys) {
    struct Case {
        const char* script;
        bool buttons;
        int choice;
        IER st;
    } cases[] = {
        {"Enter", false, 1, 0},
        {"Down Down Enter", false, 3, 0},
        {"End Enter", false, 4, 0},
        {"\"c\" Enter", false, 3, 0},
        {"DClick:11,38", false, 2, 0},
        {"Esc", false, 0, 0},
        {"", false, 0, ier::UserCanceled},
        {"Down Down Enter", true, 3, 0},
        {"Tab Space", true, 2, 0},
        {"Esc", true, 0, 0},
    };
    for (const Case& c : cases) {
        keys(c.script);
        SelectSpec s;
        s.caption = sr("Pick");
        s.items = sr("alpha,beta,'c,d',delta");
        s.buttons = c.buttons;
        IER st = 99;
        EXPECT_EQ(select_run(s, &st), c.choice) << c.script << (c.buttons ? " (buttons)" : "");
        EXPECT_EQ(st, c.st) << c.script;
        EXPECT_EQ(ws_count(), 0) << "the window is gone";
    }
}

TEST_F(UiTest, ASelectionOfThirtyButtonsTakesTwoColumns) {
    test::TempDir dir;
    std::string dump = dir.path + "/tree.txt";
    setenv(WND_ENV_TREE_DUMP, dump.c_str(), 1);
    std::string items;
    for (int i = 1; i <= 30; i++) items += (i > 1 ? "," : "") + std::string("Item ") + std::to_string(i);
    keys("Dump Right Down Enter");
    SelectSpec s;
    s.caption = sr("Thirty");
    s.items = sr(items);
    s.buttons = true;
    EXPECT_EQ(select_run(s), 17) << "Right goes to the next column, Down one further";
    unsetenv(WND_ENV_TREE_DUMP);
    std::string tree = dir.read("tree.txt");
    // 30 rows do not fit 22: two columns of 15, each as wide as the longest item + 5
    EXPECT_NE(tree.find("size 17x26"), std::string::npos) << tree;
    EXPECT_NE(tree.find("button 1514 \"Item 15\" at 14,0 size 1x11"), std::string::npos) << tree;
    EXPECT_NE(tree.find("button 1515 \"Item 16\" at 0,12 size 1x11"), std::string::npos) << tree;
}

TEST_F(UiTest, ListsHoldAtMost200Items) {
    std::string items;
    for (int i = 1; i <= 250; i++) items += (i > 1 ? "," : "") + std::to_string(i);
    keys("End Enter");
    SelectSpec s;
    s.caption = sr("Many");
    s.items = sr(items);
    EXPECT_EQ(select_run(s), kSelectItemsMax);
    keys("End Enter");
    EXPECT_EQ(popup_run(sr(items), 20, 10), kSelectItemsMax);
    keys("Down Enter");
    EXPECT_EQ(popup_run(sr("a,b,c"), 20, 10), 2);
    keys("Esc");
    EXPECT_EQ(popup_run(sr("a,b,c")), 0);
}

TEST_F(UiTest, ProcedureFilesAreOfferedInTheSelectionWindow) {
    test::TempDir dir;
    test::InFolder in(dir.path);
    env_set(env::DocPath, sr(dir.path));
    dir.put("a.prc", "; First one\nWRITE('a.txt';-3;'a')\n");
    dir.put("b.prc", "; Second one\nWRITE('b.txt';-3;'b')\n");
    keys("Down Enter Esc");
    EXPECT_EQ(run_command(sr("PrcExec *.prc")), 0);
    EXPECT_FALSE(dir.exists("a.txt"));
    EXPECT_TRUE(dir.exists("b.txt")) << "the second file was chosen, then none";
    EXPECT_EQ(ws_count(), 0);
}

// ---------------------------------------------------------------- fonts

TEST_F(UiTest, FontSettingsAndFontSetRewritingTheFile) {
    test::TempDir dir;
    test::InFolder in(dir.path);
    env_set(env::DocPath, sr(dir.path));
    dir.put("QVFONT.PPN", "14;8;BOLD;Courier New\r\n16;9;normal;Lucida Console\r\n12;7;Bold;Fixed\r\n");
    EXPECT_EQ(fonts_load(), 0);
    ASSERT_EQ(font_depth(), 1);
    EXPECT_EQ(font_top()->height, 14);
    EXPECT_EQ(font_top()->weight, 700);
    EXPECT_EQ(std::string(font_top()->face), "Courier New");
    EXPECT_EQ(font_attr(), WND_A_BOLD);
    EXPECT_EQ(font_parse(sr("12;7;Bold;Fixed")).weight, 400) << "only BOLD in capitals is bold";
    EXPECT_EQ(font_parse(sr(";;;")).height, 0);
    int cw, ch;
    font_cell_pixels(&cw, &ch);
    EXPECT_EQ(cw, 8);
    EXPECT_EQ(ch, 14);
    for (int i = 1; i < kFontStackMax; i++) EXPECT_EQ(font_push(FontSetting{}), 0);
    EXPECT_EQ(font_push(FontSetting{}), ier::DATAOUTBOUND);

    int main = window(wkind::Main);
    keys("Down Enter");
    EXPECT_EQ(run_command(sr("FontSet")), 0);
    EXPECT_FALSE(wnd_exists(main)) << "the program ends with its main window";
    EXPECT_EQ(dir.read("QVFONT.PPN"),
              "16;9;normal;Lucida Console\r\n14;8;BOLD;Courier New\r\n12;7;Bold;Fixed\r\n");
    EXPECT_EQ(find_files(dir.path + "/*"), std::vector<std::string>{"QVFONT.PPN"}) << "no temporary file left";

    keys("Esc");
    EXPECT_EQ(run_command(sr("FontSet")), 0);
    EXPECT_EQ(dir.read("QVFONT.PPN"),
              "16;9;normal;Lucida Console\r\n14;8;BOLD;Courier New\r\n12;7;Bold;Fixed\r\n");
}

// ---------------------------------------------------------------- grid, status line

TEST_F(UiTest, CellGridPositions) {
    grid_default() = CellGrid{80, 24, 0, 0, 0, 0};
    ASSERT_EQ(grid_set_override(sr("60,20,2,1,2")), 0);
    struct Case {
        int row, col, crow, ccol;
    } cases[] = {{0, 0, 0, 0}, {1, 1, 4, 3}, {3, 10, 6, 12}, {0, 5, 0, 7}};
    for (const Case& c : cases) {
        int r, col;
        grid_cell(c.row, c.col, &r, &col);
        EXPECT_EQ(r, c.crow) << c.row << "," << c.col;
        EXPECT_EQ(col, c.ccol) << c.row << "," << c.col;
    }
    ASSERT_EQ(grid_set_override(sr("60,20,0,0,0,50")), 0);
    int r, col;
    grid_cell(4, 1, &r, &col);
    EXPECT_EQ(r, 6) << "line spacing adds half a row each";
    grid_reset_offsets();
    EXPECT_EQ(grid_active().cols, 60);
    EXPECT_EQ(grid_override().left, 0);
    grid_override().cols = 0;
    EXPECT_EQ(grid_active().cols, 80);
}

TEST_F(UiTest, ControlsByTheirNumbers) {
    int w = window(wkind::Overlapped8, 10, 60);
    grid_default() = CellGrid{80, 24, 0, 0, 0, 0};
    ASSERT_EQ(ctl_label(w, 2, 5, sr("Name:")), 0);
    EXPECT_EQ(wnd_ctl_kind(w, ctlid::LabelBase + 5 + 2 * 80), WND_LABEL);
    ASSERT_EQ(ctl_label(w, 2, 5, sr("Town:")), 0) << "the same position: the same label";
    EXPECT_EQ(str(ctl_text(w, ctlid::LabelBase + 165)), "Town:");
    ASSERT_EQ(ctl_ok_button(w, 8, 2), 0);
    EXPECT_EQ(wnd_ctl_kind(w, ctlid::Ok), WND_BUTTON);
    const int actions[] = {nav::PRV, nav::NXT, nav::SVE};
    const char* const labels[] = {"<", ">", "Save"};
    ASSERT_EQ(ctl_nav_bar(w, 0, actions, labels, 3), 0);
    for (int a : actions) EXPECT_EQ(wnd_ctl_kind(w, ctlid::NavFirst + a), WND_BUTTON) << a;
    ASSERT_EQ(ctl_list_box(w, 2, 4, 0, 3, 20, sr("a,b,'c,d'")), 0);
    EXPECT_EQ(wnd_list_count(w, ctlid::ListBase + 2), 3);
    std::string long_text(500, 'x');
    WndCtlSpec e;
    e.kind = WND_EDIT;
    e.id = ctlid::FieldBase + 1;
    e.cols = 10;
    wnd_ctl_create(w, e);
    ctl_set_text(w, e.id, sr(long_text));
    EXPECT_EQ(ctl_text(w, e.id).n, 384) << "a control's text is read to 384 characters";
    EXPECT_EQ(ctl_text(w, e.id, 500).n, 500);
    EXPECT_EQ(ctl_label(999, 1, 1, sr("x")), ier::WindowsControlError);
}

TEST_F(UiTest, StatusLine) {
    env_set(env::ApDescrip, sr("Ledger"));
    env_set(env::Database, sr("db1,'Company One',user,secret"));
    std::string line = str(status_line(sr_empty()));
    EXPECT_EQ(line.rfind(" Ledger  |  ", 0), 0u) << line;
    EXPECT_NE(line.find("|  Company One /"), std::string::npos) << line;
    EXPECT_EQ(line.find("secret"), std::string::npos);
    EXPECT_EQ(line.substr(line.size() - 2), "  ");
    EXPECT_EQ(str(status_line(sr("Title"))).rfind(" Title  |", 0), 0u);
}

// ---------------------------------------------------------------- procedures

std::vector<std::string> g_printed;
void print_rec(int row, int col, StrRef t) {
    g_printed.push_back(std::to_string(row) + "," + std::to_string(col) + ":" + str(t));
}

TEST_F(UiTest, ProcedureWindowCommands) {
    script_ports().print = print_rec;
    int index = -1;
    ASSERT_EQ(proc_load_text(sr("DEF_FN Go\n"
                                "LOCATE 0,3\n"
                                "PRINT 'out'\n"
                                "WINOPEN 5,30,'First'\n"
                                "LOCATE 1,2\n"
                                "PRINT 'ab'\n"
                                "PRINT 'cd'\n"
                                "COLOR 14,1\n"
                                "PRINT '!'\n"
                                "WINOPEN 3,20,'Second'\n"
                                "PRINT 'two'\n"
                                "WINSELECT 1\n"
                                "LOCATE 2,0\n"
                                "PRINT 'back'\n"
                                "END\n"),
                             &index),
              0);
    EXPECT_EQ(proc_run_by_name(sr("Go"), sr_empty(), 0), 0);
    EXPECT_EQ(g_printed, (std::vector<std::string>{"0,3:out"})) << "without a window PRINT goes to the port";
    ASSERT_EQ(script_window_count(), 2) << "a run from an entry point leaves its windows";
    std::vector<int> wins;
    wnd_windows(&wins);
    ASSERT_EQ(wins.size(), 2u);
    std::string text;
    wnd_get_text(wins[0], ctlid::LabelBase, &text);
    EXPECT_EQ(text, "\r\n  abcd!\r\nback");
    wnd_get_text(wins[1], ctlid::LabelBase, &text);
    EXPECT_EQ(text, "two");
    EXPECT_EQ(script_window_current(), wins[0]);
    std::string caption;
    wnd_caption(wins[1], &caption);
    EXPECT_EQ(caption, "Second");
    WndRect r;
    wnd_client(wins[0], &r);
    EXPECT_EQ(r.rows, 5);
    EXPECT_EQ(r.cols, 30);

    // WINCLOSE closes the top one; the first becomes current.
    ASSERT_EQ(proc_load_text(sr("DEF_FN Close\nWINCLOSE\nEND\n"), &index), 0);
    EXPECT_EQ(proc_run_by_name(sr("Close"), sr_empty(), 0), 0);
    EXPECT_EQ(script_window_count(), 1);
    EXPECT_FALSE(wnd_exists(wins[1]));

    // A whole run closes what it opened.
    ASSERT_EQ(proc_load_text(sr("WINOPEN 4,20,'Third'\nPRINT 'x'\n"), &index), 0);
    EXPECT_EQ(proc_run(index, 0), 0);
    EXPECT_EQ(script_window_count(), 0);
    EXPECT_EQ(ws_count(), 0);
}

TEST_F(UiTest, ProcedureWindowCommandFailuresAndWaits) {
    struct Case {
        const char* text;
        IER st;
        int stat;
    } cases[] = {
        {"WINOPEN 5,30\n", ier::SINTAXERROR, -1},
        {"WINSELECT 3\n", ier::BADINPUTDATA, -1},
        {"WINOPEN 5,30,'W'\nWAIT KEY\n", 0, -1},
        {"WINMENU 'Pick','a,b,c'\n", 0, 2},
        {"WINMENU 'Pick','a,b,c'\nWINMENU 'Again','x,y'\n", ier::UserCanceled, 0},
        {"WINOPEN 1000,0,'PROGRESS'\nWINPROG 10\n", 0, 0},
        {"WINPROG 'Reading'\n", 0, 0},
    };
    for (const Case& c : cases) {
        keys("Down Enter");
        sysv_set(sysv::STAT, -1);
        int index = -1;
        ASSERT_EQ(proc_load_text(sr(c.text), &index), 0) << c.text;
        EXPECT_EQ(proc_run(index, 0), c.st) << c.text;
        proc_unload(index);
        EXPECT_EQ(sysv_get(sysv::STAT), c.stat) << c.text;
        EXPECT_EQ(ws_count(), 0) << c.text << ": the run closed its windows";
    }
    // WAIT KEY keeps the key class
    keys("F3");
    int index = -1;
    ASSERT_EQ(proc_load_text(sr("WAIT KEY\n"), &index), 0);
    EXPECT_EQ(proc_run(index, 0), 0);
    EXPECT_EQ(sysv_get(sysv::LASTKEY), 13);
    keys("");
    EXPECT_EQ(proc_run(index, 0), ier::UserCanceled) << "no key can come";
}

}  // namespace
}  // namespace rt

namespace rt {
namespace {

// Run by the terminal test inside a tmux pane (QV_TEST_LAUNCH names a
// folder): a child instance opens in a window of its own and is counted
// until it ends.
TEST_F(UiTest, AChildInstanceUnderTmuxGetsAWindowOfItsOwn) {
    const char* folder = std::getenv("QV_TEST_LAUNCH");
    if (!folder || !*folder || !std::getenv("TMUX")) GTEST_SKIP() << "runs inside tmux from the terminal test";
    ui_reset();
    ASSERT_EQ(wnd_init(WND_TERMINAL), WND_OK) << wnd_error();
    ui_install();
    std::string dir = folder, out = dir + "/child.txt";
    test::TempDir t;
    std::string exe = t.put("child.sh", "#!/bin/sh\necho \"$TMUX_PANE $QV_TEST_MARK $*\" > '" + out + "'\nsleep 1\n");
    ASSERT_EQ(::chmod(exe.c_str(), 0755), 0);
    setenv("QV_TEST_MARK", "inherited", 1);
    child_set_executable(exe);
    ASSERT_EQ(child_start(sr("PrcExec x.prx")), 0);
    EXPECT_EQ(child_count(), 1);
    for (int i = 0; i < 200 && child_count() > 0; i++) ::usleep(50000);
    EXPECT_EQ(child_count(), 0) << "the child ended and was counted off";
    child_set_executable("");
    wnd_shutdown();
    std::ifstream f(out);
    std::string got((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_NE(got.find("inherited /RUN:'PrcExec x.prx'"), std::string::npos) << got;
    EXPECT_EQ(got.rfind(std::string(std::getenv("TMUX_PANE")) + " ", 0), std::string::npos)
        << "the child ran in another pane: " << got;
}

}  // namespace
}  // namespace rt
