#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ui/wnd.h"

using namespace plat;

namespace {

// ---- key names -----------------------------------------------------------

struct NameCase {
    const char* name;
    int key;
};

TEST(KeyNames, NamesReadAsKeys) {
    const NameCase cases[] = {
        {"F2", wnd_key_f(2)}, {"f12", wnd_key_f(12)}, {"PgDn", WND_K_PGDN}, {"PgUp", WND_K_PGUP},
        {"Enter", WND_K_ENTER}, {"Esc", WND_K_ESC}, {"Tab", WND_K_TAB}, {"S-Tab", WND_K_TAB | WND_K_SHIFT},
        {"C-End", WND_K_END | WND_K_CTRL}, {"Up", WND_K_UP}, {"Down", WND_K_DOWN}, {"Left", WND_K_LEFT},
        {"Right", WND_K_RIGHT}, {"Home", WND_K_HOME}, {"End", WND_K_END}, {"Del", WND_K_DEL},
        {"Bksp", WND_K_BKSP}, {"Space", ' '}, {"Alt-1", wnd_key_f(1)}, {"Alt-9", wnd_key_f(9)},
        {"Alt-0", wnd_key_f(10)}, {"Alt--", wnd_key_f(11)}, {"Alt-=", wnd_key_f(12)},
        {"A-x", WND_K_ALT | 'x'}, {"C-a", 1}, {"C-]", 29}, {"Shift-Ctrl-Home", WND_K_HOME | WND_K_SHIFT | WND_K_CTRL},
        {"F13", 0}, {"F0", 0}, {"Foo", 0}, {"C-Space", 0}, {"S-", 0}, {"a", 0}, {"", 0},
    };
    for (auto& c : cases) EXPECT_EQ(wnd_key_from_name(c.name), c.key) << c.name;
}

TEST(KeyNames, WrittenNamesReadBack) {
    const char* names[] = {"F1", "F11", "Enter", "S-Tab", "C-End", "PgDn", "C-Left", "A-F4", "C-a",
                           "\"x\"", "\"\\\"\"", "Space", "A-q"};
    for (const char* n : names) {
        int key = wnd_key_from_name(n);
        if (n[0] == '"') {  // a typed character is written in quotes
            std::vector<WndScriptEntry> e;
            ASSERT_EQ(wnd_script_parse(n, &e, nullptr), WND_OK) << n;
            ASSERT_EQ(e.size(), 1u) << n;
            key = e[0].key;
        }
        EXPECT_EQ(wnd_key_name(key), n) << n;
    }
}

// ---- key script ----------------------------------------------------------

struct ScriptCase {
    const char* text;
    std::vector<WndScriptEntry> want;  // kind, key, row, col, line
};

TEST(KeyScript, Parses) {
    const ScriptCase cases[] = {
        {"F2 PgDn", {{WND_SK_KEY, wnd_key_f(2), 0, 0, 1}, {WND_SK_KEY, WND_K_PGDN, 0, 0, 1}}},
        {"# comment only\n\n  S-Tab # and after\nC-End",
         {{WND_SK_KEY, WND_K_TAB | WND_K_SHIFT, 0, 0, 3}, {WND_SK_KEY, WND_K_END | WND_K_CTRL, 0, 0, 4}}},
        {"\"ab\"", {{WND_SK_KEY, 'a', 0, 0, 1}, {WND_SK_KEY, 'b', 0, 0, 1}}},
        {"\"a\\\"\\\\\"", {{WND_SK_KEY, 'a', 0, 0, 1}, {WND_SK_KEY, '"', 0, 0, 1}, {WND_SK_KEY, '\\', 0, 0, 1}}},
        {"\"#1 x\"", {{WND_SK_KEY, '#', 0, 0, 1}, {WND_SK_KEY, '1', 0, 0, 1}, {WND_SK_KEY, ' ', 0, 0, 1}, {WND_SK_KEY, 'x', 0, 0, 1}}},
        {"\"\xC3\xBC\xE2\x82\xAC\"", {{WND_SK_KEY, 0xFC, 0, 0, 1}, {WND_SK_KEY, 0x80, 0, 0, 1}}},  // UTF-8 in, Windows-1252 keys out
        {"yes NO Ok cancel",
         {{WND_SK_ANSWER, WND_ID_YES, 0, 0, 1}, {WND_SK_ANSWER, WND_ID_NO, 0, 0, 1},
          {WND_SK_ANSWER, WND_ID_OK, 0, 0, 1}, {WND_SK_ANSWER, WND_ID_CANCEL, 0, 0, 1}}},
        {"Tick\nDump", {{WND_SK_TICK, 0, 0, 0, 1}, {WND_SK_DUMP, 0, 0, 0, 2}}},
        {"Click:3,14 DClick:0,0 RClick:23,79",
         {{WND_SK_MOUSE, WND_M_CLICK, 3, 14, 1}, {WND_SK_MOUSE, WND_M_DBLCLICK, 0, 0, 1},
          {WND_SK_MOUSE, WND_M_RCLICK, 23, 79, 1}}},
        {"Size:30x100", {{WND_SK_RESIZE, 0, 30, 100, 1}}},
        {"", {}},
    };
    for (auto& c : cases) {
        std::vector<WndScriptEntry> got;
        std::string err;
        ASSERT_EQ(wnd_script_parse(c.text, &got, &err), WND_OK) << c.text << ": " << err;
        ASSERT_EQ(got.size(), c.want.size()) << c.text;
        for (size_t i = 0; i < got.size(); i++) {
            EXPECT_EQ(got[i].kind, c.want[i].kind) << c.text << " #" << i;
            EXPECT_EQ(got[i].key, c.want[i].key) << c.text << " #" << i;
            EXPECT_EQ(got[i].row, c.want[i].row) << c.text << " #" << i;
            EXPECT_EQ(got[i].col, c.want[i].col) << c.text << " #" << i;
            EXPECT_EQ(got[i].line, c.want[i].line) << c.text << " #" << i;
        }
    }
}

TEST(KeyScript, ErrorsNameTheLine) {
    const struct {
        const char* text;
        const char* want;
    } cases[] = {
        {"Enter\n\"open", "line 2: text without its closing quote"},
        {"Enter Tab\n\nHello", "line 3: unknown key 'Hello'"},
        {"x", "line 1: unknown key 'x'"},
        {"Click:3", "line 1: expected Click:ROW,COL"},
        {"Click:3,x", "line 1: expected Click:ROW,COL"},
        {"Size:0x80", "line 1: expected Size:ROWSxCOLS"},
    };
    for (auto& c : cases) {
        std::vector<WndScriptEntry> got;
        std::string err;
        EXPECT_EQ(wnd_script_parse(c.text, &got, &err), WND_ESCRIPT) << c.text;
        EXPECT_NE(err.find(c.want), std::string::npos) << c.text << " gave: " << err;
    }
}

// ---- the headless window system -------------------------------------------

class Ui : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* e : {WND_ENV_KEYS, WND_ENV_SCREEN_DUMP, WND_ENV_TREE_DUMP, WND_ENV_UI}) unsetenv(e);
        wnd_set_screen_size(24, 80);
        ASSERT_EQ(wnd_init(WND_HEADLESS), WND_OK) << wnd_error();
    }
    void TearDown() override { wnd_shutdown(); }

    // A window whose client area starts at screen cell (3, 5).
    static int window(std::string_view caption = "Test", int style = WND_WS_BORDER, int owner = 0,
                      WndRect rect = WndRect{2, 4, 14, 60}) {
        WndSpec s;
        s.owner = owner;
        s.style = style;
        s.rect = rect;
        s.caption = caption;
        int w = wnd_create(s);
        EXPECT_GT(w, 0);
        return w;
    }
    static void add(int w, int kind, int id, int row, int col, int cols, std::string_view text = "", int style = 0,
                    int rows = 1, int limit = 0) {
        WndCtlSpec c;
        c.kind = kind;
        c.id = id;
        c.row = row;
        c.col = col;
        c.cols = cols;
        c.rows = rows;
        c.text = text;
        c.style = style;
        c.limit = limit;
        ASSERT_EQ(wnd_ctl_create(w, c), WND_OK) << "control " << id;
    }
    // n painted cells from a screen cell; glyphs read as '#'.
    static std::string cells(int row, int col, int n) {
        wnd_dump_screen();
        std::string out;
        for (int i = 0; i < n; i++) {
            WndCell c;
            if (wnd_cell(row, col + i, &c) != WND_OK) break;
            out += (c.attr & WND_A_GLYPH) ? '#' : c.ch;
        }
        return out;
    }
    static std::string screen_line(int row) {
        std::istringstream in(wnd_dump_screen());
        std::string line;
        for (int i = 0; i <= row && std::getline(in, line); i++) {
        }
        return line;
    }
    // Runs the window's loop over a key script and keeps every event.
    static std::vector<WndEvent> run(int w, std::string_view script, int* status = nullptr) {
        EXPECT_EQ(wnd_script_set(script), WND_OK) << wnd_error();
        std::vector<WndEvent> seen;
        int r = wnd_run(w, [](const WndEvent& e, void* ctx) {
            static_cast<std::vector<WndEvent>*>(ctx)->push_back(e);
            return 0;
        }, &seen);
        if (status) *status = r;
        return seen;
    }
    static std::vector<int> of_type(const std::vector<WndEvent>& evs, int type, int WndEvent::*field) {
        std::vector<int> out;
        for (auto& e : evs)
            if (e.type == type) out.push_back(e.*field);
        return out;
    }
};

TEST_F(Ui, ControlsAppearAtTheirCells) {
    int w = window();
    add(w, WND_LABEL, 1, 0, 2, 5, "Name:");
    add(w, WND_LABEL, 2, 1, 0, 8, "Right", WND_CS_RIGHT);
    add(w, WND_EDIT, 3, 2, 2, 10, "Ana");
    add(w, WND_EDIT, 4, 3, 2, 10, "secret", WND_CS_PASSWORD);
    add(w, WND_EDIT, 5, 4, 2, 10, "42", WND_CS_RIGHT);
    add(w, WND_CHECK, 6, 5, 2, 12, "Remember");
    add(w, WND_BUTTON, 7, 6, 2, 8, "Ok");
    add(w, WND_PROGRESS, 8, 7, 2, 10);
    wnd_progress_set(w, 8, 1, 2);
    add(w, WND_TEXT, 9, 8, 2, 20, "", 0, 2);
    wnd_text_put(w, 9, 1, 3, "hello", 0);
    wnd_set_check(w, 6, true);
    const struct {
        int row, col;
        const char* want;
    } cases[] = {
        {3, 7, "Name:"}, {4, 5, "   Right"}, {5, 7, "Ana       "}, {6, 7, "******    "},
        {7, 7, "       42 "}, {8, 7, "[X] Remember"}, {9, 7, "[  Ok  ]"}, {10, 7, "#####....."},
        {12, 10, "hello"},
    };
    for (auto& c : cases) {
        std::string got = cells(c.row, c.col, int(std::string(c.want).size()));
        if (std::string(c.want).find('#') != std::string::npos) {
            // the bar: half block glyphs, then shade glyphs
            WndCell cell;
            wnd_cell(c.row, c.col + 4, &cell);
            EXPECT_EQ(cell.ch, WND_G_BLOCK);
            wnd_cell(c.row, c.col + 5, &cell);
            EXPECT_EQ(cell.ch, WND_G_SHADE);
            continue;
        }
        EXPECT_EQ(got, c.want) << "row " << c.row;
    }
}

TEST_F(Ui, ListsAndGridsShowTheirRows) {
    int w = window();
    add(w, WND_LIST, 1, 0, 0, 10, "", 0, 3);
    for (const char* t : {"alpha", "beta", "gamma", "delta"}) wnd_list_add(w, 1, t);
    wnd_list_select(w, 1, 3);  // scrolls so that the selection shows
    add(w, WND_GRID, 2, 4, 0, 20, "", 0, 3);
    wnd_grid_add_column(w, 2, "Code", 4, 0);
    wnd_grid_add_column(w, 2, "Amount", 8, WND_CS_RIGHT);
    wnd_list_add(w, 2, "A1");
    wnd_grid_set_cell(w, 2, 0, 1, "12.50");
    add(w, WND_DROPDOWN, 3, 8, 0, 8);
    wnd_list_add(w, 3, "one");
    wnd_list_add(w, 3, "two");
    wnd_set_text(w, 3, "TWO");
    EXPECT_EQ(cells(3, 5, 5), "beta ");
    EXPECT_EQ(cells(5, 5, 5), "delta");
    EXPECT_EQ(cells(7, 5, 13), "Code# Amount ");
    EXPECT_EQ(cells(8, 5, 13), "A1  #   12.50");
    EXPECT_EQ(cells(11, 5, 8), "two    #");
    std::string text;
    wnd_get_text(w, 3, &text);
    EXPECT_EQ(text, "two");
}

TEST_F(Ui, DumpShowsFrameCaptionAndFields) {
    int w = window("Customers");
    add(w, WND_EDIT, 1, 0, 2, 8, "Ana");
    std::string top = screen_line(2), field = screen_line(3);
    EXPECT_EQ(top.substr(0, 4), "    ");
    EXPECT_NE(top.find("\u250C\u2500 Customers \u2500"), std::string::npos) << top;
    EXPECT_NE(field.find("\u2502  Ana_____"), std::string::npos) << field;
    EXPECT_EQ(screen_line(15).find("\u2514"), 4u);  // the frame's last row
}

struct FocusCase {
    const char* script;
    std::vector<int> want;  // controls that got the focus, in order
};

TEST_F(Ui, TabMovesTheFocusOverTabStops) {
    const FocusCase cases[] = {
        {"", {1}},
        {"Tab", {1, 2}},
        {"Tab Tab Tab", {1, 2, 4, 1}},  // the disabled and the NOTAB control are passed over
        {"S-Tab", {1, 4}},
        {"Tab S-Tab", {1, 2, 1}},
        {"Click:6,8", {1, 5}},  // a click reaches a control that Tab passes over
    };
    for (auto& c : cases) {
        int w = window();
        add(w, WND_EDIT, 1, 0, 2, 10);
        add(w, WND_CHECK, 2, 1, 2, 10, "Check");
        add(w, WND_BUTTON, 3, 2, 2, 8, "Off", WND_CS_DISABLED);
        add(w, WND_BUTTON, 4, 2, 12, 8, "Ok");
        add(w, WND_EDIT, 5, 3, 2, 10, "", WND_CS_NOTAB);
        add(w, WND_LABEL, 6, 4, 2, 10, "label");
        int status;
        auto evs = run(w, c.script, &status);
        EXPECT_EQ(status, WND_NOINPUT) << c.script;
        EXPECT_EQ(of_type(evs, WND_EV_FOCUS, &WndEvent::ctl), c.want) << c.script;
        int fw, fc;
        wnd_focus(&fw, &fc);
        EXPECT_EQ(fw, w);
        EXPECT_EQ(fc, c.want.back()) << c.script;
        wnd_destroy(w);
    }
}

TEST_F(Ui, FocusChangesReportLossBeforeGain) {
    int w = window();
    add(w, WND_EDIT, 1, 0, 2, 10);
    add(w, WND_EDIT, 2, 1, 2, 10);
    auto evs = run(w, "Tab");
    std::vector<std::pair<int, int>> got;
    for (auto& e : evs)
        if (e.type == WND_EV_FOCUS || e.type == WND_EV_BLUR) got.push_back({e.type, e.ctl});
    std::vector<std::pair<int, int>> want = {{WND_EV_FOCUS, 1}, {WND_EV_BLUR, 1}, {WND_EV_FOCUS, 2}};
    EXPECT_EQ(got, want);
}

struct EditCase {
    int style, limit;
    const char* initial;
    bool select_all;
    const char* script;
    const char* want;
    int changes;
};

TEST_F(Ui, EditsTakeTypedKeys) {
    const EditCase cases[] = {
        {0, 0, "", false, "\"abc\"", "abc", 3},
        {0, 3, "", false, "\"abcd\"", "abc", 3},
        {WND_CS_READONLY, 0, "keep", false, "\"x\" Bksp Del", "keep", 0},
        {0, 0, "old", true, "\"n\"", "n", 1},
        {0, 0, "abc", false, "Left Bksp", "ac", 1},
        {0, 0, "abc", false, "Home Del", "bc", 1},
        {0, 0, "abc", false, "Home S-Right S-Right \"X\"", "Xc", 1},
        {0, 0, "one two", false, "C-Left Bksp", "onetwo", 1},
        {0, 2, "ab", true, "\"xyz\"", "xy", 2},  // typing over a selection makes room
        {WND_CS_PASSWORD, 0, "", false, "\"pw\"", "pw", 2},
    };
    for (auto& c : cases) {
        int w = window();
        add(w, WND_EDIT, 1, 0, 0, 10, c.initial, c.style, 1, c.limit);
        if (c.select_all) wnd_edit_select(w, 1, 0, -1);
        auto evs = run(w, c.script);
        std::string text;
        wnd_get_text(w, 1, &text);
        EXPECT_EQ(text, c.want) << c.script;
        int changes = 0;
        for (auto& e : evs) changes += e.type == WND_EV_COMMAND && e.ctl == 1 && e.code == WND_N_CHANGE;
        EXPECT_EQ(changes, c.changes) << c.script;
        wnd_destroy(w);
    }
}

TEST_F(Ui, LongEditTextScrollsWithTheCaret) {
    int w = window();
    add(w, WND_EDIT, 1, 0, 0, 6);
    run(w, "\"abcdefghij\"");
    EXPECT_EQ(cells(3, 5, 6), "fghij ");  // the caret's cell stays free at the end
    int r, c;
    ASSERT_TRUE(wnd_cursor(&r, &c));
    EXPECT_EQ(r, 3);
    EXPECT_EQ(c, 10);
    run(w, "Home");
    EXPECT_EQ(cells(3, 5, 6), "abcdef");
}

struct ListCase {
    int kind;
    const char* script;
    int sel;
    std::vector<int> codes;  // notifications of the control
};

TEST_F(Ui, ListKeysMoveTheSelection) {
    const ListCase cases[] = {
        {WND_LIST, "Down", 0, {WND_N_SELCHANGE}},
        {WND_LIST, "Down Down Up", 0, {WND_N_SELCHANGE, WND_N_SELCHANGE, WND_N_SELCHANGE}},
        {WND_LIST, "PgDn", 3, {WND_N_SELCHANGE}},  // a page is the three rows shown
        {WND_LIST, "End Home", 0, {WND_N_SELCHANGE, WND_N_SELCHANGE}},
        {WND_LIST, "End Down", 5, {WND_N_SELCHANGE}},
        {WND_LIST, "\"g\"", 4, {WND_N_SELCHANGE}},  // the next item starting with the key
        {WND_LIST, "Down Enter", 0, {WND_N_SELCHANGE, WND_N_DBLCLK}},
        {WND_GRID, "Down Down Enter", 1, {WND_N_SELCHANGE, WND_N_SELCHANGE, WND_N_DBLCLK}},
        {WND_LIST, "DClick:5,6", 2, {WND_N_SELCHANGE, WND_N_DBLCLK}},
        {WND_GRID, "RClick:5,6", 1, {WND_N_SELCHANGE, WND_N_RCLICK}},  // the grid's header takes a row
        {WND_DROPDOWN, "Down", 0, {WND_N_SELCHANGE}},
        {WND_DROPDOWN, "Space Down Down Enter", 2, {WND_N_SELCHANGE, WND_N_SELENDOK}},
        {WND_DROPDOWN, "Space Esc", -1, {}},
    };
    for (auto& c : cases) {
        int w = window();
        add(w, c.kind, 1, 0, 0, 12, "", 0, c.kind == WND_DROPDOWN ? 1 : 3);
        for (const char* t : {"apple", "banana", "cherry", "date", "grape", "kiwi"}) wnd_list_add(w, 1, t);
        auto evs = run(w, c.script);
        int sel = -2;
        wnd_list_selection(w, 1, &sel);
        EXPECT_EQ(sel, c.sel) << c.script;
        std::vector<int> codes;
        for (auto& e : evs)
            if (e.type == WND_EV_COMMAND && e.ctl == 1) codes.push_back(e.code);
        EXPECT_EQ(codes, c.codes) << c.script;
        wnd_destroy(w);
    }
}

TEST_F(Ui, ButtonsAndChecksAnswerKeysAndClicks) {
    const struct {
        const char* script;
        std::vector<int> clicked;  // ids of the commands, in order
        bool checked;
    } cases[] = {
        {"Tab Space", {2}, true},
        {"Tab Tab Enter", {3}, false},
        {"Enter", {4}, false},          // Enter in a field presses the default button
        {"Click:4,7", {2}, true},
        {"Click:5,15", {4}, false},
        {"Click:5,7 Click:5,7", {3, 3}, false},
    };
    for (auto& c : cases) {
        int w = window();
        add(w, WND_EDIT, 1, 0, 2, 10);
        add(w, WND_CHECK, 2, 1, 2, 10, "Check");
        add(w, WND_BUTTON, 3, 2, 2, 8, "One");
        add(w, WND_BUTTON, 4, 2, 10, 8, "Two", WND_CS_DEFAULT);
        auto evs = run(w, c.script);
        std::vector<int> clicked;
        for (auto& e : evs)
            if (e.type == WND_EV_COMMAND && e.code == WND_N_CLICKED) clicked.push_back(e.ctl);
        EXPECT_EQ(clicked, c.clicked) << c.script;
        bool on = false;
        wnd_get_check(w, 2, &on);
        EXPECT_EQ(on, c.checked) << c.script;
        wnd_destroy(w);
    }
}

TEST_F(Ui, ClickMovesTheFocusBeforeTheCommand) {
    int w = window();
    add(w, WND_EDIT, 1, 0, 2, 10);
    add(w, WND_BUTTON, 2, 2, 2, 8, "Ok");
    auto evs = run(w, "Click:5,8");
    std::vector<int> types;
    for (auto& e : evs)
        if (e.type != WND_EV_MOUSE) types.push_back(e.type);
    std::vector<int> want = {WND_EV_FOCUS, WND_EV_BLUR, WND_EV_FOCUS, WND_EV_COMMAND};
    EXPECT_EQ(types, want);
}

struct BoxCase {
    int kind;
    const char* script;
    int answer;
    const char* printed;
    int left;  // script entries left afterwards
};

TEST_F(Ui, MessageBoxesAnswerFromTheScriptOrByDefault) {
    const BoxCase cases[] = {
        {WND_MB_YESNO, "No", WND_ID_NO, "[question] Caption\n    First line\n    second\n    -> No\n", 0},
        {WND_MB_YESNO, "yes Enter", WND_ID_YES, "-> Yes", 1},
        {WND_MB_YESNO, "", WND_ID_YES, "-> Yes", 0},
        {WND_MB_YESNO, "Enter", WND_ID_YES, "-> Yes", 1},  // a key is not an answer: it stays for the window
        {WND_MB_YESNO, "Dump No", WND_ID_NO, "-> No", 0},
        {WND_MB_INFO, "OK", WND_ID_OK, "[information] Caption", 0},
        {WND_MB_WARNING, "No", WND_ID_OK, "does not answer this box", 0},
        {WND_MB_ERROR, "", WND_ID_OK, "[error] Caption", 0},
    };
    for (auto& c : cases) {
        ASSERT_EQ(wnd_script_set(c.script), WND_OK);
        testing::internal::CaptureStderr();
        int a = wnd_msgbox("First line\r\nsecond", "Caption", c.kind);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(a, c.answer) << c.script;
        EXPECT_NE(err.find(c.printed), std::string::npos) << c.script << " printed: " << err;
        EXPECT_EQ(wnd_script_left(), c.left) << c.script;
    }
}

TEST_F(Ui, WaitsEndAtOnceWithoutInput) {
    int w = window();
    add(w, WND_EDIT, 1, 0, 0, 10);
    WndEvent ev;
    while (wnd_peek(&ev) == WND_OK) {
    }
    EXPECT_EQ(wnd_get(&ev), WND_NOINPUT);
    EXPECT_EQ(wnd_run(w, nullptr, nullptr), WND_NOINPUT);
    int key;
    EXPECT_EQ(wnd_wait_key(&key), WND_NOINPUT);
    EXPECT_EQ(wnd_popup(w, 5, 5, 0, {{0, 1701, "One"}, {0, 1702, "Two"}}), 0);
    EXPECT_TRUE(wnd_exists(w));
    wnd_destroy(w);
    EXPECT_EQ(wnd_run(0, nullptr, nullptr), WND_OK);  // no window: nothing to wait for
}

TEST_F(Ui, PeekLeavesTheScriptForTheWaits) {
    int w = window();
    add(w, WND_EDIT, 1, 0, 0, 10);
    ASSERT_EQ(wnd_script_set("Enter Esc"), WND_OK);
    WndEvent ev;
    while (wnd_peek(&ev) == WND_OK) {
    }
    EXPECT_EQ(wnd_script_left(), 2);
    ASSERT_EQ(wnd_get(&ev), WND_OK);
    EXPECT_EQ(ev.type, WND_EV_KEY);
    EXPECT_EQ(ev.key, WND_K_ENTER);
    EXPECT_EQ(ev.wnd, w);
    EXPECT_EQ(ev.ctl, 1);
}

TEST_F(Ui, EscClosesTheWindowAndEndsItsLoop) {
    int w = window();
    int status;
    auto evs = run(w, "Esc Enter", &status);
    EXPECT_EQ(status, WND_OK);
    EXPECT_FALSE(wnd_exists(w));
    EXPECT_EQ(of_type(evs, WND_EV_CLOSE, &WndEvent::wnd), std::vector<int>{w});
    EXPECT_EQ(wnd_script_left(), 1);
}

TEST_F(Ui, ModalWindowDisablesItsOwnerUntilDestroyed) {
    int a = window("A");
    add(a, WND_EDIT, 1, 0, 0, 10);
    int b = window("B", WND_WS_BORDER | WND_WS_MODAL, a, WndRect{2, 66, 8, 14});
    add(b, WND_EDIT, 1, 0, 0, 10);
    int c = window("C", WND_WS_BORDER | WND_WS_MODAL, b);
    EXPECT_FALSE(wnd_enabled(a));
    EXPECT_FALSE(wnd_enabled(b));
    EXPECT_TRUE(wnd_enabled(c));
    EXPECT_EQ(wnd_active(), c);
    // activating the owner brings the modal windows up with it
    wnd_activate(a);
    EXPECT_EQ(wnd_active(), c);
    // input for the owner goes nowhere while it is disabled
    wnd_destroy(c);
    EXPECT_TRUE(wnd_enabled(b));
    EXPECT_FALSE(wnd_enabled(a));
    EXPECT_EQ(wnd_active(), b);
    int status;
    auto evs = run(b, "Click:3,6 \"x\"", &status);
    std::string text;
    wnd_get_text(a, 1, &text);
    EXPECT_EQ(text, "");
    wnd_get_text(b, 1, &text);
    EXPECT_EQ(text, "x");
    // destroying the owner takes its owned windows along
    EXPECT_EQ(wnd_destroy(b), WND_OK);
    EXPECT_TRUE(wnd_enabled(a));
    EXPECT_EQ(wnd_active(), a);
    evs = run(a, "\"y\"");
    wnd_get_text(a, 1, &text);
    EXPECT_EQ(text, "y");
    int fw, fc;
    wnd_focus(&fw, &fc);
    EXPECT_EQ(fw, a);
    EXPECT_EQ(fc, 1);
}

TEST_F(Ui, ModalOwnerComesBackWhenTheChainIsDestroyedFromTheMiddle) {
    int a = window("A");
    int b = window("B", WND_WS_BORDER | WND_WS_MODAL, a);
    int c = window("C", WND_WS_BORDER | WND_WS_MODAL, b);
    EXPECT_EQ(wnd_destroy(b), WND_OK);
    EXPECT_FALSE(wnd_exists(c));
    EXPECT_TRUE(wnd_enabled(a));
    EXPECT_EQ(wnd_active(), a);
}

TEST_F(Ui, StaleHandlesAreRefused) {
    int a = window();
    add(a, WND_EDIT, 1, 0, 0, 10);
    wnd_destroy(a);
    int b = window();
    EXPECT_NE(a, b);
    EXPECT_EQ(wnd_set_text(a, 1, "x"), WND_EBADWND);
    EXPECT_EQ(wnd_destroy(a), WND_EBADWND);
    EXPECT_EQ(wnd_set_text(b, 1, "x"), WND_EBADCTL);
    add(b, WND_EDIT, 1, 0, 0, 10);
    WndCtlSpec dup;
    dup.kind = WND_LABEL;
    dup.id = 1;
    EXPECT_EQ(wnd_ctl_create(b, dup), WND_EDUP);
    EXPECT_EQ(wnd_list_add(b, 1, "x"), WND_EKIND);
    WndSpec s;
    s.owner = a;
    EXPECT_EQ(wnd_create(s), WND_EBADWND);
}

TEST_F(Ui, TreeDumpListsWindowsAndControls) {
    int w = window("Login");
    add(w, WND_LABEL, 4000, 0, 0, 6, "User:");
    add(w, WND_EDIT, 2000, 0, 7, 10, "ana", 0, 1, 20);
    add(w, WND_EDIT, 2001, 1, 7, 10, "s3cret", WND_CS_PASSWORD);
    add(w, WND_BUTTON, 3100, 3, 7, 8, "Ok", WND_CS_DEFAULT | WND_CS_DISABLED);
    add(w, WND_LIST, 3350, 4, 0, 10, "", 0, 3);
    wnd_list_add(w, 3350, "first");
    wnd_list_add(w, 3350, "sec\"ond");
    wnd_list_select(w, 3350, 1);
    wnd_menu_set(w, {{0, 0, "&File"}, {1, 1500, "&Quit"}});
    std::string t = wnd_dump_tree();
    std::string num = "window " + std::to_string(w) + " ";
    t.replace(t.find(num), num.size(), "window ");
    const char* want[] = {
        "window \"Login\" at 2,4 size 14x60 active\n",
        "  menu 0 id 0 \"&File\"\n",
        "  menu   1 id 1500 \"&Quit\"\n",
        "  label 4000 \"User:\" at 0,0 size 1x6\n",
        "  edit 2000 \"ana\" at 0,7 size 1x10 limit 20 focus\n",
        "  edit 2001 \"******\" at 1,7 size 1x10 password\n",
        "  button 3100 \"Ok\" at 3,7 size 1x8 default disabled\n",
        "  list 3350 - at 4,0 size 3x10 sel 1\n",
        "    item 1 \"sec\\\"ond\" *\n",
    };
    for (const char* line : want) EXPECT_NE(t.find(line), std::string::npos) << line << "in:\n" << t;
    EXPECT_EQ(t.find("s3cret"), std::string::npos);
}

TEST_F(Ui, PopupMenusTrackKeys) {
    const std::vector<WndMenuItem> items = {
        {0, 1701, "&Open"}, {0, 0, "", WND_MI_SEPARATOR}, {0, 0, "&More"}, {1, 1702, "&Deep"},
        {1, 1703, "&Far"},  {0, 1704, "&Gone", WND_MI_DISABLED}, {0, 1705, "E&xit"},
    };
    const struct {
        const char* script;
        int want;
        int left;
    } cases[] = {
        {"Enter", 1701, 0},
        {"Down Enter", 0, 0},              // the submenu opens and the script ends: no choice
        {"Down Enter Enter", 1702, 0},
        {"Down Right Down Enter", 1703, 0},
        {"Down Right Left Down Enter", 1705, 0},  // past the separator and the disabled item
        {"Up Enter", 1705, 0},
        {"\"x\"", 1705, 0},
        {"\"m\" \"f\"", 1703, 0},
        {"\"g\" Esc", 0, 0},                // a disabled item cannot be chosen
        {"Esc Enter", 0, 1},
        {"Click:6,12", 1701, 0},            // the first item's row, inside the frame
        {"Click:0,0 Enter", 0, 1},          // a click outside closes the menu
    };
    int w = window();
    for (auto& c : cases) {
        ASSERT_EQ(wnd_script_set(c.script), WND_OK);
        EXPECT_EQ(wnd_popup(w, 5, 10, 0, items), c.want) << c.script;
        EXPECT_EQ(wnd_script_left(), c.left) << c.script;
        std::vector<int> ws;
        wnd_windows(&ws);
        EXPECT_EQ(ws, std::vector<int>{w}) << c.script;
    }
}

TEST_F(Ui, MenuBarPostsTheChosenCommand) {
    const struct {
        const char* script;
        std::vector<int> commands;
    } cases[] = {
        {"F10 Down Enter", {1502}},
        {"F10 Enter", {1501}},
        {"F10 Right Enter", {1503}},
        {"F10 Left Enter", {1503}},
        {"A-h Enter", {1503}},
        {"A-f \"q\"", {1502}},
        {"F10 Esc", {}},
        {"Click:3,6 Down Enter", {1502}},  // the bar's first item
    };
    for (auto& c : cases) {
        int w = window();
        wnd_menu_set(w, {{0, 0, "&File"}, {1, 1501, "&Open"}, {1, 1502, "&Quit"}, {0, 1503, "&Help"}});
        auto evs = run(w, c.script);
        EXPECT_EQ(of_type(evs, WND_EV_COMMAND, &WndEvent::ctl), c.commands) << c.script;
        wnd_destroy(w);
    }
}

TEST_F(Ui, MenuBarTakesARowFromTheClient) {
    int w = window();
    WndRect before, after;
    wnd_client(w, &before);
    wnd_menu_set(w, {{0, 1501, "&File"}, {0, 1502, "&Edit"}});
    wnd_client(w, &after);
    EXPECT_EQ(after.row, before.row + 1);
    EXPECT_EQ(after.rows, before.rows - 1);
    EXPECT_EQ(cells(3, 5, 12), " File  Edit ");
    int rows = 10, cols = 40;
    wnd_outer_size(WND_WS_BORDER, true, &rows, &cols);
    EXPECT_EQ(rows, 13);
    EXPECT_EQ(cols, 42);
}

TEST_F(Ui, TimersRunAtTick) {
    int w = window();
    wnd_set_timer(w, 7, 1000);
    wnd_set_timer(0, 8, 50);
    auto evs = run(w, "Tick Tick");
    std::vector<int> ids = of_type(evs, WND_EV_TIMER, &WndEvent::code);
    EXPECT_EQ(ids, (std::vector<int>{7, 8, 7, 8}));
    wnd_kill_timer(w, 7);
    evs = run(w, "Tick");
    EXPECT_EQ(of_type(evs, WND_EV_TIMER, &WndEvent::code), std::vector<int>{8});
}

TEST_F(Ui, ResizeReplacesCentredAndMaximizedWindows) {
    WndSpec s;
    s.style = WND_WS_BORDER | WND_WS_CENTRE;
    s.rect.rows = 10;
    s.rect.cols = 40;
    int c = wnd_create(s);
    s.style = WND_WS_MAXIMIZE;
    int m = wnd_create(s);
    WndRect r;
    wnd_rect(c, &r);
    EXPECT_EQ(r.row, 7);
    EXPECT_EQ(r.col, 20);
    auto evs = run(m, "Size:30x100");
    ASSERT_EQ(of_type(evs, WND_EV_RESIZE, &WndEvent::row), std::vector<int>{30});
    EXPECT_EQ(of_type(evs, WND_EV_RESIZE, &WndEvent::col), std::vector<int>{100});
    wnd_rect(c, &r);
    EXPECT_EQ(r.row, 10);
    EXPECT_EQ(r.col, 30);
    wnd_rect(m, &r);
    EXPECT_EQ(r.rows, 30);
    EXPECT_EQ(r.cols, 100);
    std::string d = wnd_dump_screen();
    EXPECT_EQ(std::count(d.begin(), d.end(), '\n'), 30);
}

TEST_F(Ui, FocusScrollsALargeWindow) {
    int w = window();
    wnd_set_extent(w, 40, 58);
    add(w, WND_EDIT, 1, 0, 0, 10);
    add(w, WND_EDIT, 2, 30, 0, 10, "far");
    run(w, "Tab");
    int r, c;
    wnd_scroll_pos(w, &r, &c);
    EXPECT_EQ(r, 19);  // row 30 is the last of the 12 shown
    EXPECT_EQ(cells(14, 5, 3), "far");
}

TEST_F(Ui, TextViewerKeepsLinesAndScrolls) {
    int w = window();
    add(w, WND_TEXT, 1, 0, 0, 20, "", 0, 2);
    wnd_set_text(w, 1, "one\r\ntwo\nthree\rfour");
    EXPECT_EQ(wnd_text_line_count(w, 1), 4);
    std::string t;
    wnd_get_text(w, 1, &t);
    EXPECT_EQ(t, "one\r\ntwo\r\nthree\r\nfour");
    run(w, "Down Down Down");
    EXPECT_EQ(cells(3, 5, 5), "three");
    wnd_text_clear(w, 1, wnd_attr(WND_WHITE, WND_BLUE));
    wnd_text_put(w, 1, 0, 2, "hi", wnd_attr(WND_YELLOW, WND_BLUE, WND_A_BOLD));
    EXPECT_EQ(cells(3, 5, 4), "  hi");
    WndCell cell;
    wnd_cell(3, 5, &cell);
    EXPECT_EQ(cell.attr, wnd_attr(WND_WHITE, WND_BLUE));
    wnd_cell(3, 7, &cell);
    EXPECT_EQ(cell.attr, wnd_attr(WND_YELLOW, WND_BLUE, WND_A_BOLD));
}

TEST_F(Ui, DumpFilesGetEachDumpAndTheExit) {
    char tmpl[] = "/tmp/qvuiXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string dir = tmpl, scr = dir + "/screen.txt", tree = dir + "/tree.txt";
    setenv(WND_ENV_SCREEN_DUMP, scr.c_str(), 1);
    setenv(WND_ENV_TREE_DUMP, tree.c_str(), 1);
    int w = window("Dumped");
    add(w, WND_EDIT, 1, 0, 0, 10);
    run(w, "\"ab\" Dump \"c\"");
    wnd_shutdown();
    unsetenv(WND_ENV_SCREEN_DUMP);
    unsetenv(WND_ENV_TREE_DUMP);
    auto slurp = [](const std::string& p) {
        std::ifstream f(p);
        std::stringstream b;
        b << f.rdbuf();
        return b.str();
    };
    std::string s = slurp(scr), t = slurp(tree);
    EXPECT_EQ(s.find("# screen 1: key script line 1 (80x24)\n"), 0u) << s;
    size_t second = s.find("# screen 2: exit (80x24)\n");
    ASSERT_NE(second, std::string::npos) << s;
    EXPECT_NE(s.find("ab________"), std::string::npos);
    EXPECT_NE(s.find("abc_______", second), std::string::npos);
    EXPECT_NE(t.find("# tree 1: key script line 1\nwindow " + std::to_string(w) + " \"Dumped\""), std::string::npos) << t;
    EXPECT_NE(t.find("edit 1 \"abc\""), std::string::npos) << t;
    std::remove(scr.c_str());
    std::remove(tree.c_str());
    rmdir(dir.c_str());
    ASSERT_EQ(wnd_init(WND_HEADLESS), WND_OK);
}

TEST_F(Ui, KeyScriptComesFromTheEnvironment) {
    wnd_shutdown();
    char path[] = "/tmp/qvkeysXXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    std::string text = "# a comment\n\"hi\" Enter\n";
    ASSERT_EQ(write(fd, text.data(), text.size()), ssize_t(text.size()));
    close(fd);
    setenv(WND_ENV_KEYS, path, 1);
    ASSERT_EQ(wnd_init(WND_HEADLESS), WND_OK);
    EXPECT_EQ(wnd_script_left(), 3);
    wnd_shutdown();
    std::ofstream(path) << "Enter Bogus\n";
    EXPECT_EQ(wnd_init(WND_HEADLESS), WND_ESCRIPT);
    EXPECT_NE(std::string(wnd_error()).find("line 1: unknown key 'Bogus'"), std::string::npos) << wnd_error();
    unsetenv(WND_ENV_KEYS);
    std::remove(path);
    ASSERT_EQ(wnd_init(WND_HEADLESS), WND_OK);
}

TEST_F(Ui, BackendChoiceFollowsTheEnvironment) {
    wnd_shutdown();
    setenv(WND_ENV_UI, "headless", 1);
    ASSERT_EQ(wnd_init(WND_AUTO), WND_OK);
    EXPECT_EQ(wnd_backend(), WND_HEADLESS);
    wnd_shutdown();
    setenv(WND_ENV_UI, "bogus", 1);
    EXPECT_EQ(wnd_init(WND_AUTO), WND_EINIT);
    unsetenv(WND_ENV_UI);
    if (!isatty(0) || !isatty(1)) {  // not a terminal: headless by itself
        ASSERT_EQ(wnd_init(WND_AUTO), WND_OK);
        EXPECT_EQ(wnd_backend(), WND_HEADLESS);
        wnd_shutdown();
    }
    ASSERT_EQ(wnd_init(WND_HEADLESS), WND_OK);
}

}  // namespace
