// The character-cell window system: windows, controls, menus, message boxes
// and one event queue, laid out in character cells, behind two backends (a
// headless virtual screen fed by a key script, and an ncursesw terminal).
//
// Windows are named by integer handles that are never reused in a process,
// so a stale handle is refused (WND_EBADWND) instead of reaching another
// window. Controls are named by (window handle, control id). Texts are
// Windows-1252 byte strings; conversion to UTF-8 happens only in the terminal
// backend and in dumps meant for people. Everything is single-threaded.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

// ---- environment variables read by the window system --------------------

inline constexpr const char* WND_ENV_UI = "QV_UI";                    // "headless" or "terminal"
inline constexpr const char* WND_ENV_KEYS = "QV_KEYS";                // key script (headless)
inline constexpr const char* WND_ENV_SCREEN_DUMP = "QV_SCREEN_DUMP";  // screen dump file (headless)
inline constexpr const char* WND_ENV_TREE_DUMP = "QV_TREE_DUMP";      // window/control tree dump file

// ---- statuses ------------------------------------------------------------

enum : int {
    WND_OK = 0,
    WND_EMPTY = 1,    // peek: nothing pending
    WND_NOINPUT = 2,  // a wait found no input and none will come (headless, key script used up)
    WND_QUIT = 3,     // a loop ended on a quit event
    WND_EBADWND = -101,  // no such window (or it was destroyed)
    WND_EBADCTL = -102,  // no such control in the window
    WND_EDUP = -103,     // a control with that id exists already
    WND_EARG = -104,     // an argument out of range
    WND_EKIND = -105,    // the operation does not apply to this kind of control
    WND_EINIT = -106,    // the backend could not start (see wnd_error)
    WND_ESCRIPT = -107,  // the key script does not parse (see wnd_error)
    WND_EFULL = -108,    // too many windows
};

// ---- start and end -------------------------------------------------------

enum : int { WND_AUTO = 0, WND_HEADLESS = 1, WND_TERMINAL = 2 };

// Starts the window system. WND_AUTO takes QV_UI when it is set, else the
// terminal when standard input and output are terminals, else headless.
// The headless backend reads the key script named by QV_KEYS. Calling it
// again while started does nothing. Other functions start it on first use.
int wnd_init(int backend = WND_AUTO);
// Writes the exit dumps (headless), gives the terminal back, and forgets all
// windows, events, timers and script input. Also runs at process exit.
void wnd_shutdown();
int wnd_backend();           // WND_HEADLESS or WND_TERMINAL, 0 when not started
const char* wnd_error();     // text of the last WND_EINIT / WND_ESCRIPT

// Gives the terminal to another program that runs in the foreground (a child
// instance, a pager) and takes it back, repainted. Nothing happens headless.
int wnd_suspend();
int wnd_resume();

// The screen (work area) in cells: 80 x 24 unless the program sets another
// size. In a terminal the terminal's size holds and follows its resizes.
void wnd_set_screen_size(int rows, int cols);
void wnd_screen_size(int* rows, int* cols);

// ---- cell attributes -----------------------------------------------------

using WndAttr = uint16_t;
enum : int {  // colours (add WND_BRIGHT for the bright eight)
    WND_BLACK = 0, WND_RED, WND_GREEN, WND_YELLOW, WND_BLUE, WND_MAGENTA, WND_CYAN, WND_WHITE,
    WND_BRIGHT = 8,
};
enum : WndAttr {
    WND_A_BOLD = 0x100,
    WND_A_REVERSE = 0x200,
    WND_A_UNDERLINE = 0x400,
    WND_A_DIM = 0x800,
    WND_A_FG = 0x1000,    // bits 0-3 hold a foreground colour (else the default)
    WND_A_BG = 0x2000,    // bits 4-7 hold a background colour (else the default)
    WND_A_GLYPH = 0x4000, // the cell's character is a WND_G_ line-drawing glyph
};
// Attribute 0 means the default colours (for controls: the theme's look).
constexpr WndAttr wnd_attr(int fg, int bg, int flags = 0) {
    return WndAttr((fg & 15) | ((bg & 15) << 4) | WND_A_FG | WND_A_BG | flags);
}
constexpr WndAttr wnd_attr_fg(int fg, int flags = 0) { return WndAttr((fg & 15) | WND_A_FG | flags); }

enum : char {  // glyphs of cells with WND_A_GLYPH
    WND_G_HLINE = 'q', WND_G_VLINE = 'x', WND_G_ULCORNER = 'l', WND_G_URCORNER = 'k',
    WND_G_LLCORNER = 'm', WND_G_LRCORNER = 'j', WND_G_LTEE = 't', WND_G_RTEE = 'u',
    WND_G_TTEE = 'w', WND_G_BTEE = 'v', WND_G_BLOCK = '0', WND_G_SHADE = 'a',
    WND_G_UARROW = '-', WND_G_DARROW = '.', WND_G_LARROW = ',', WND_G_RARROW = '+',
};

struct WndCell {
    char ch = ' ';
    WndAttr attr = 0;
};

// ---- keys ----------------------------------------------------------------

// A key code below 0x100 is a typed character (Windows-1252; Ctrl+A..Ctrl+Z
// are 1..26, Ctrl+] is 29). Named keys start at 0x100 and may carry the
// modifier bits. Space is the character ' '.
enum : int {
    WND_K_ENTER = 0x100, WND_K_TAB, WND_K_ESC, WND_K_BKSP, WND_K_INS, WND_K_DEL,
    WND_K_HOME, WND_K_END, WND_K_PGUP, WND_K_PGDN, WND_K_UP, WND_K_DOWN, WND_K_LEFT, WND_K_RIGHT,
    WND_K_F1 = 0x140,  // F1..F12 are WND_K_F1 + 0..11
    WND_K_SHIFT = 0x1000, WND_K_CTRL = 0x2000, WND_K_ALT = 0x4000,
    WND_K_MODS = 0x7000,
};
constexpr int wnd_key_f(int n) { return WND_K_F1 + n - 1; }
// The key-script name of a key ("F2", "S-Tab", "C-End", "\"a\""); and back
// (0 for an unknown name). "Alt-1".."Alt-9", "Alt-0", "Alt--", "Alt-=" read
// as F1..F12, as the terminal delivers them.
std::string wnd_key_name(int key);
int wnd_key_from_name(std::string_view name);

// ---- events --------------------------------------------------------------

enum : int {
    WND_EV_NONE = 0,
    WND_EV_KEY,      // key: the key code; wnd, ctl: the active window and its focused control
    WND_EV_MOUSE,    // key: WND_M_ button; row, col: screen cell; wnd, ctl: what is there
    WND_EV_COMMAND,  // wnd, ctl: the control or menu item id; code: a WND_N_ notification
    WND_EV_FOCUS,    // wnd, ctl: the control that got the focus (0: the window itself)
    WND_EV_BLUR,     // wnd, ctl: the control that lost it
    WND_EV_CLOSE,    // wnd: a request to close it (Esc by default handling; Ctrl+C in a terminal)
    WND_EV_TIMER,    // wnd, code: the timer
    WND_EV_RESIZE,   // row, col: the new screen size
    WND_EV_USER,     // wnd, ctl, code, param: as posted by the program
    WND_EV_QUIT,     // code: as posted
};
enum : int {  // notification codes of WND_EV_COMMAND
    WND_N_CLICKED = 0,   // button pressed, check box toggled, menu item chosen, row clicked
    WND_N_SELCHANGE = 1, // the selection of a list, grid or drop-down list moved
    WND_N_DBLCLK = 2,    // a row was double-clicked or Enter was pressed on it
    WND_N_CHANGE = 3,    // the user changed an edit's text
    WND_N_RCLICK = 5,    // a row of a list or grid was right-clicked
    WND_N_SELENDOK = 9,  // a drop-down list closed on a choice
};
enum : int { WND_M_CLICK = 1, WND_M_DBLCLICK = 2, WND_M_RCLICK = 3, WND_M_WHEELUP = 4, WND_M_WHEELDOWN = 5 };

struct WndEvent {
    int type = WND_EV_NONE;
    int wnd = 0;
    int ctl = 0;
    int key = 0;
    int code = 0;
    long param = 0;
    int row = 0, col = 0;
};

int wnd_post(const WndEvent& ev);
int wnd_post_close(int w);
int wnd_post_quit(int code);
// Takes the next pending event without waiting: WND_OK, or WND_EMPTY. In the
// terminal it reads keys already typed; headless it never takes script
// input (that is taken only when the program waits for the user).
int wnd_peek(WndEvent* ev);
// Takes the next event, waiting for input: WND_OK, or WND_NOINPUT when the
// headless key script is used up (at once, so a test never hangs).
int wnd_get(WndEvent* ev);
// Default handling of an event (what a control does with a key or click, Tab
// moving the focus, Enter pressing the default button, Esc posting a close
// request, F10 or Alt+letter opening the menu bar, a close request destroying
// the window). Handlers call it for the events they do not take themselves.
int wnd_dispatch(const WndEvent& ev);
// Gets and handles events until window w is destroyed (w == 0: until no
// window is left). The handler sees each event first; when it returns 0 the
// event gets the default handling. Returns WND_OK, WND_NOINPUT, or WND_QUIT
// (the quit event is posted again so that enclosing loops end too).
using WndHandler = int (*)(const WndEvent& ev, void* ctx);
int wnd_run(int w, WndHandler handler, void* ctx);
// Waits for a key, giving other events their default handling: WND_OK with
// *key set, WND_NOINPUT or WND_QUIT (posted again).
int wnd_wait_key(int* key);

// Timers post WND_EV_TIMER every ms milliseconds; a timer's events do not
// pile up. Headless, timers run only at the script word Tick.
int wnd_set_timer(int w, int id, int ms);
int wnd_kill_timer(int w, int id);

// ---- windows -------------------------------------------------------------

enum : int {
    WND_WS_BORDER = 1,    // a frame line, with the caption in its top line
    WND_WS_MODAL = 2,     // disables the owner until the window is destroyed
    WND_WS_CENTRE = 4,    // centred on the screen (again after each resize)
    WND_WS_MAXIMIZE = 8,  // covers the screen and follows its size
    WND_WS_HIDDEN = 16,   // created hidden
};
struct WndRect {
    int row = 0, col = 0, rows = 0, cols = 0;
};
struct WndSpec {
    int owner = 0;
    int style = WND_WS_BORDER;
    WndRect rect;  // outer rectangle on the screen (position ignored when centred)
    std::string_view caption;
    long user = 0;
};

// A new window on top of the others; returns its handle (> 0) or a status.
int wnd_create(const WndSpec& want);
// Destroys the window with its controls, its timers and the windows it owns;
// a modal window re-enables its owner, which comes to the top.
int wnd_destroy(int w);
bool wnd_exists(int w);
int wnd_show(int w, bool on);
bool wnd_visible(int w);
int wnd_enable(int w, bool on);
bool wnd_enabled(int w);  // false while disabled or while a modal window it owns is open
int wnd_move(int w, const WndRect& r);
int wnd_rect(int w, WndRect* out);
// The client area (where controls live) on the screen: the rectangle less the
// frame and the menu bar.
int wnd_client(int w, WndRect* out);
// The outer size of a window whose client area has the given size.
void wnd_outer_size(int style, bool has_menu, int* rows, int* cols);
int wnd_set_caption(int w, std::string_view text);
int wnd_caption(int w, std::string* out);
int wnd_owner(int w);  // 0 when none or no such window
int wnd_set_user(int w, long v);
long wnd_user(int w);
// Brings a window to the top; the top visible, enabled window is the active
// one and gets the keys.
int wnd_activate(int w);
int wnd_active();
int wnd_windows(std::vector<int>* out);  // bottom to top
// The area of the client that is shown may be smaller than its content: the
// extent is the content's size, the scroll position its first shown cell.
// Focusing a control scrolls it into view.
int wnd_set_extent(int w, int rows, int cols);
int wnd_scroll(int w, int row, int col);
int wnd_scroll_pos(int w, int* row, int* col);

// ---- focus ---------------------------------------------------------------

// Gives the focus to a control (id 0: to the window itself); the window
// comes to the top when it is enabled. FOCUS and BLUR events are posted for
// every change of the focus, whatever caused it.
int wnd_set_focus(int w, int id);
int wnd_focus(int* w, int* id);

// ---- controls ------------------------------------------------------------

enum : int {
    WND_LABEL = 1, WND_EDIT, WND_CHECK, WND_BUTTON, WND_LIST, WND_DROPDOWN, WND_GRID,
    WND_PROGRESS, WND_TEXT,
};
enum : int {
    WND_CS_RIGHT = 1,       // label, edit, grid column: right-aligned
    WND_CS_CENTRE = 2,      // label, grid column: centred
    WND_CS_PASSWORD = 4,    // edit: shows '*' for each character
    WND_CS_READONLY = 8,    // edit: can be read and selected, not changed
    WND_CS_DEFAULT = 16,    // button: Enter elsewhere in the window presses it
    WND_CS_NOTAB = 32,      // not visited by Tab
    WND_CS_HIDDEN = 64,     // created hidden
    WND_CS_DISABLED = 128,  // created disabled
};
struct WndCtlSpec {
    int kind = 0;
    int id = 0;
    int row = 0, col = 0;    // in the client area
    int rows = 1, cols = 0;  // cols 0: as wide as the text
    int style = 0;
    std::string_view text;
    int limit = 0;  // edit: most characters (0: no limit)
};

int wnd_ctl_create(int w, const WndCtlSpec& want);
int wnd_ctl_destroy(int w, int id);
bool wnd_ctl_exists(int w, int id);
int wnd_ctl_kind(int w, int id);  // 0 when none
int wnd_ctl_ids(int w, std::vector<int>* out);  // in creation (Tab) order
int wnd_ctl_move(int w, int id, int row, int col, int rows, int cols);
int wnd_ctl_rect(int w, int id, WndRect* out);  // client coordinates
int wnd_ctl_enable(int w, int id, bool on);
bool wnd_ctl_enabled(int w, int id);
int wnd_ctl_show(int w, int id, bool on);
bool wnd_ctl_visible(int w, int id);
int wnd_ctl_set_style(int w, int id, int style);
int wnd_ctl_style(int w, int id);  // the style, or a status
// Colours of a label, check box, button or text viewer (0: the theme's).
int wnd_ctl_set_attr(int w, int id, WndAttr a);

// The text of a label, edit, check box or button; of a list, drop-down list
// or grid the selected item (first cell); of a text viewer all lines joined
// by CR LF (setting it splits at CR LF, LF or CR).
int wnd_set_text(int w, int id, std::string_view text);
int wnd_get_text(int w, int id, std::string* out);

// Edit: length limit (0: none), selection (to = -1: the end; the caret goes
// to `to`).
int wnd_edit_limit(int w, int id, int n);
int wnd_edit_select(int w, int id, int from, int to);
int wnd_edit_selection(int w, int id, int* from, int* to);

int wnd_set_check(int w, int id, bool on);
int wnd_get_check(int w, int id, bool* on);

// Lists, drop-down lists and grids (a grid's items are its rows; the text
// given is the row's first cell). Indices count from 0; index -1 appends.
int wnd_list_insert(int w, int id, int index, std::string_view text);  // the new index, or a status
int wnd_list_add(int w, int id, std::string_view text);
int wnd_list_delete(int w, int id, int index);
int wnd_list_clear(int w, int id);
int wnd_list_count(int w, int id);  // or a status
int wnd_list_item(int w, int id, int index, std::string* out);
int wnd_list_set_item(int w, int id, int index, std::string_view text);
int wnd_list_select(int w, int id, int index);  // -1: none
int wnd_list_selection(int w, int id, int* index);  // -1: none

// Grid columns and cells. The header takes the control's first row.
int wnd_grid_add_column(int w, int id, std::string_view header, int width, int align);
int wnd_grid_column_count(int w, int id);
int wnd_grid_set_cell(int w, int id, int row, int col, std::string_view text);
int wnd_grid_cell(int w, int id, int row, int col, std::string* out);

// Progress bar: pos of range.
int wnd_progress_set(int w, int id, int pos, int range);

// Text viewer: the text at a line and column of its content (which grows as
// needed), in the attribute given (0: the fill attribute); clearing empties
// it and sets the fill attribute of its empty cells. It scrolls with the
// cursor keys when it has the focus.
int wnd_text_put(int w, int id, int row, int col, std::string_view text, WndAttr a);
int wnd_text_clear(int w, int id, WndAttr fill);
int wnd_text_line_count(int w, int id);
int wnd_text_scroll(int w, int id, int top_line);

// ---- menus ---------------------------------------------------------------

enum : int { WND_MI_DISABLED = 1, WND_MI_CHECKED = 2, WND_MI_SEPARATOR = 4 };
// A menu is a flat list: an item deeper than the one before it opens a
// submenu under that one. Item 0 of level 0 is the first entry of the bar. A
// '&' marks the next letter as the item's key ("&File"); "&&" is a '&'.
struct WndMenuItem {
    int level = 0;
    int id = 0;  // 0 for a submenu title or separator
    std::string text;
    int flags = 0;
};
// The menu bar of a window (one row under the top frame line); an empty list
// removes it. Choosing an item posts WND_EV_COMMAND(w, id, WND_N_CLICKED).
int wnd_menu_set(int w, const std::vector<WndMenuItem>& items);
// Opens the menu bar at its item `index` (level-0 position) and tracks it
// until a choice or Esc; returns the id chosen (also posted), 0 for none.
int wnd_menu_open(int w, int index);
enum : int { WND_POP_ABOVE = 1 };  // the menu ends on the row above the point
// A popup menu at a screen cell, tracked until a choice or Esc; returns the
// id chosen, 0 for none (also when the headless key script is used up).
int wnd_popup(int w, int row, int col, int flags, const std::vector<WndMenuItem>& items);

// ---- message boxes -------------------------------------------------------

enum : int { WND_MB_INFO = 0, WND_MB_WARNING = 1, WND_MB_ERROR = 3, WND_MB_YESNO = 5 };
enum : int { WND_ID_NONE = 0, WND_ID_OK = 1, WND_ID_YES = 2, WND_ID_NO = 3, WND_ID_CANCEL = 4 };
// Shows a box and returns the button taken. Headless, the box is written to
// standard error and answered by the next entry of the key script when that
// is an answer word (OK, Yes, No, Cancel), else by its default (OK, Yes).
int wnd_msgbox(std::string_view text, std::string_view caption, int kind);

// ---- key script (headless input) -----------------------------------------

enum : int {
    WND_SK_KEY = 1,  // key
    WND_SK_ANSWER,   // key: a WND_ID_ answer
    WND_SK_MOUSE,    // key: WND_M_ button; row, col
    WND_SK_TICK,     // run the timers once
    WND_SK_DUMP,     // write the dumps now
    WND_SK_RESIZE,   // row, col: the new screen size
    WND_SK_CLOSE,    // the close box of the active window
};
struct WndScriptEntry {
    int kind = 0;
    int key = 0;
    int row = 0, col = 0;
    int line = 0;  // in the script, from 1
};
// Parses a key script: names of keys, "quoted text" (one key per character;
// \" and \\ inside), answer words, Tick, Dump, Click:R,C, DClick:R,C,
// RClick:R,C, Size:ROWSxCOLS, Close (the active window's close box); '#'
// starts a comment. The text may be UTF-8.
int wnd_script_parse(std::string_view text, std::vector<WndScriptEntry>* out, std::string* err);
// Headless: replaces the script input not yet taken.
int wnd_script_set(std::string_view text);
int wnd_script_left();  // entries not yet taken

// ---- dumps ---------------------------------------------------------------

// The screen as UTF-8 text, one line per row, trailing blanks removed; the
// window and control tree (ids, kinds, texts, states, focus).
std::string wnd_dump_screen();
std::string wnd_dump_tree();
// Appends both, headed by the reason, to the files that QV_SCREEN_DUMP and
// QV_TREE_DUMP name (when set). The headless backend does so at exit too.
int wnd_dump(std::string_view reason);
int wnd_cell(int row, int col, WndCell* out);  // of the painted screen
// Where the terminal cursor is shown: the caret of the focused control.
bool wnd_cursor(int* row, int* col);

}  // namespace plat
