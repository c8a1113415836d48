// Internals shared by the window system's modules: the store of windows and
// controls (wnd.cpp owns it), the painter (paint.cpp), the key names
// (keys.cpp) and the two backends (headless.cpp, term.cpp).
#pragma once
#include <deque>
#include <string>
#include <vector>

#include "platform/ui/wnd.h"

namespace plat::ui {

struct Column {
    std::string header;
    int width = 0;
    int align = 0;
};

struct Ctl {
    int id = 0, kind = 0, style = 0;
    int row = 0, col = 0, rows = 1, cols = 1;
    bool enabled = true, visible = true;
    WndAttr attr = 0;
    std::string text;
    // edit: caret and selection anchor are byte positions; hscroll is the
    // first character shown
    int limit = 0, caret = 0, anchor = 0, hscroll = 0;
    bool checked = false;
    // list and drop-down items; grid rows (cells[0] is the row's text)
    std::vector<std::string> items;
    std::vector<Column> columns;
    std::vector<std::vector<std::string>> cells;
    int sel = -1, top = 0, left = 0;
    int pos = 0, range = 100;
    // text viewer content
    std::vector<std::vector<WndCell>> lines;
    WndAttr fill = 0;
};

enum : int { SYS_NONE = 0, SYS_BOX = 1, SYS_MENU = 2 };

struct Win {
    int h = 0, owner = 0, style = 0;
    WndRect rect;
    std::string caption;
    bool visible = true, enabled = true;
    int modal_kids = 0;        // modal windows that disabled this one
    bool disabled_owner = false;
    long user = 0;
    int focus = 0;
    int ext_rows = 0, ext_cols = 0, scr_row = 0, scr_col = 0;
    std::vector<Ctl> ctls;
    std::vector<WndMenuItem> menu;
    int menu_hot = -1;  // bar item shown open while the menu is tracked
    int sys = SYS_NONE;
    int box_kind = 0;
    // a menu popup's items, selection and first shown item
    std::vector<WndMenuItem> pitems;
    int psel = -1, ptop = 0;
};

struct Timer {
    int w = 0, id = 0, ms = 0;
    long long due = 0;
};

// What a backend does. read() waits at most timeout_ms (-1: without limit)
// for raw input and returns 1 with a KEY, MOUSE or RESIZE event (MOUSE with
// row, col; wnd and ctl are filled in by the caller), 0 when nothing came,
// -1 when no input will ever come.
struct Backend {
    int kind = 0;
    bool realtime = false;  // timers run on the clock
    int (*open)(std::string* err) = nullptr;
    void (*close)() = nullptr;
    int (*read)(WndEvent* ev, int timeout_ms) = nullptr;
    void (*show)() = nullptr;  // present the painted screen
    int (*msgbox)(std::string_view text, std::string_view caption, int kind) = nullptr;
    void (*beep)() = nullptr;
    void (*exit_dump)() = nullptr;
    void (*suspend)() = nullptr;
    void (*resume)() = nullptr;
};

const Backend* headless_backend();
const Backend* terminal_backend();
bool terminal_usable();  // stdin and stdout are terminals

struct State {
    bool started = false;
    const Backend* be = nullptr;
    std::string error;
    int rows = 24, cols = 80;
    std::vector<Win> wins;  // bottom to top
    int next_handle = 1;
    std::deque<WndEvent> queue;
    std::vector<Timer> timers;
    int rep_w = 0, rep_c = 0;  // the focus last reported
    int quiet = 0;             // focus reports held back (inside a box or menu)
    std::vector<WndCell> screen;
    int cur_row = 0, cur_col = 0;
    bool cur_on = false;
    bool mono = false;  // no colours: the painter uses bold, reverse, underline
    int dumps = 0;
};

State& st();
Win* win(int h);                    // nullptr when none; never kept across calls
Ctl* ctl(Win* w, int id);
int win_index(int h);               // position in the z-order, -1 when none
int active_window();
bool focusable(const Ctl& c);
int effective_ctl(Win& w);        // the control with the focus in w (0: none)
int edit_offset(const Ctl& c);    // first cell of a right-aligned edit's text
void client_rect(const Win& w, WndRect* r);
void screen_resized(int rows, int cols);
long long now_ms();

// The painter: draws every window into st().screen and sets the cursor.
void paint();
std::string dump_screen_text();
std::string dump_tree_text();
std::string glyph_utf8(char g);

// Hit test for the mouse: the top visible window at a cell and its control.
void hit(int row, int col, int* w, int* id, bool* menubar, int* bar_item);
// Positions of the menu bar's level-0 items: starting column on the screen
// and width of each.
void bar_layout(const Win& w, std::vector<int>* cols, std::vector<int>* widths);
std::string menu_label(std::string_view text, int* hot);  // '&' removed; hot: index of key letter

// Message box drawn in the window system (terminal backend).
int drawn_msgbox(std::string_view text, std::string_view caption, int kind);

// Script input of the headless backend.
int headless_take_answer(int kind, int* answer);  // 1 when an answer word was taken
void headless_set_script(std::vector<WndScriptEntry> entries);
int headless_left();

}  // namespace plat::ui
