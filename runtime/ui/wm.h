// The window manager: the stack of top-level windows, window kinds, the cell
// grid and the font stack, keys and commands turned into screen events and
// dispatched to the handlers of the current screen window, the message pumps
// and modal waits, the progress window, the list-selection window and popup
// menus, the status line, the script text windows of procedures, and the
// installation of all of it into the runtime. It sits on the character-cell
// window system of platform/ui; handles are that system's window handles.
#pragma once
#include <cstdint>

#include "platform/ui/wnd.h"
#include "runtime/core/types.h"

namespace rt {

// ------------------------------------------------------------ installation

enum : int {
    kUiStartLate = 1,  // the window system starts with the first window, not at start-up
};
// Puts the window manager into the runtime: the start-up ports (window
// system start, fonts, message loop, About box), message boxes, the script
// ports, the window command level (2), the list chooser and the FontSet
// runner. Called by each program before the runtime starts.
void ui_install(int flags = 0);
// Forgets every window, record and setting of this layer and stops the
// window system (tests, and a second start in one process).
void ui_reset();

// ------------------------------------------------------------ control ids

namespace ctlid {
enum : int {
    ProgressCancel = 1110,
    InfoLine = 1480,
    ModeLine = 1481,
    MenuFirst = 1500, MenuLast = 1699,    // menu bar items, buttons of a button list
    PopupFirst = 1700, PopupLast = 1949,  // popup menu items
    FieldBase = 1999,                     // + n: the control of screen field n
    NavFirst = 3000, NavLast = 3020,      // + k: navigation action k
    Ok = 3100,
    Status = 3101,
    ListBase = 3350,                      // + n: list boxes
    AppFirst = 3600, AppLast = 3649,      // application buttons, first group
    AppSecond = 3650,                     // and up: the second group
    LabelBase = 4000,                     // + column + row * grid columns
};
}
constexpr int kSelectItemsMax = 200;  // items of a popup menu or selection list

// ------------------------------------------------------------ keys and events

namespace keycls {
enum : int {
    Enter = 0, Escape = 3, Other = 4, Special = 6, ShiftTab = 8, Tab = 9,
    F1 = 11,  // F1..F11 are 11..21
    Up = 22, PageUp = 23, Down = 28, PageDown = 29, CtrlEnd = 32,
};
}

// Screen events: the low byte is the kind, the bits above it the parameter.
namespace sev {
enum : int {
    None = 0, NextField = 1, PrevField = 2, Popup = 15, MenuCommand = 16, CloseProgram = 17,
    OpenAttached = 18, Help = 19, Recall = 20, Cancel = 21, Confirm = 22, SerialData = 23,
    ScannerText = 24, Nav = 25, NextIndex = 27, CloseRequest = 28, CloseWindow = 29,
    BadData = 30, Down = 31, Up = 32, EnterDocType = 33, LeaveDocType = 34, LinesForward = 35,
    LinesLeave = 36, LinesBackward = 37, FocusedByClick = 38, LineInserted = 39, Seek = 41,
    Save = 42, AppButton = 43, AppButton2 = 44, FieldFocus = 91, FieldBlur = 92, Notify9 = 94,
    Activated = 95,
};
}
namespace nav {  // positions in "NEW,TOP,PRV,RLD,NXT,BOT,FND,SVE,INS,DEL,LST,NLS,BLS,IMP,MDE,DDE,PRN,TSL"
enum : int {
    NEW = 1, TOP, PRV, RLD, NXT, BOT, FND, SVE, INS, DEL, LST, NLS, BLS, IMP, MDE, DDE, PRN, TSL,
    Confirm = 100, StatusButton = 101,
};
}
constexpr int sev_make(int kind, int param = 0) { return kind | (param << 8); }
constexpr int sev_kind(int event) { return event & 0xFF; }
constexpr int sev_param(int event) { return event >> 8; }

// A key of the window system (plat::WND_K_*, characters) to its key class.
int key_class(int key);
// The screen event of a key class in key map 0 or 1 (another map number
// reads as map 0); 0 for none.
int key_event(int keymap, int keyclass);
// The screen event of a command from a control or menu (id, notification
// code); 0 for none. A translated command sets _LASTKEY to 4.
int command_event(int id, int code);

// ------------------------------------------------------------ window stack

constexpr int kWindowStackMax = 32;

namespace wkind {
enum : int {
    Main = 0, LnMant = 1, Mant = 2, MantDlg = 3, Grid = 4, Dialogx = 5, DevSel = 6, Progress = 7,
    Overlapped8 = 8, Popup9 = 9, Popup10 = 10, Maximized = 11, Count = 12,
};
}
bool wkind_modal(int kind);
// The class name of a kind: its suffix joined to the application name.
StrRef wkind_class_name(int kind);

// What a window does with the events sent to it: non-zero when it took the
// event, 0 for the default handling (a close request then destroys it).
using WinProc = int (*)(const plat::WndEvent& ev, void* ctx);

struct WinSpec {
    int kind = wkind::Popup9;
    std::string_view caption;
    int owner = -1;          // -1: the top of the stack; 0: none
    int row = -1, col = -1;  // outer position on the screen; -1: centred
    int rows = 10, cols = 40;  // client area in cells
    bool menu = false;       // a menu bar row goes above the client area
    bool hidden = false;
    WinProc proc = nullptr;
    void* ctx = nullptr;
};
// Creates a top-level window and pushes it on the stack (a 33rd window is
// made but not tracked). Returns the handle, or 0 with 179 recorded.
int wm_create(const WinSpec& want);
// Destroys a window (and those it owns) and pops it; with the stack empty
// the program's quit is signalled.
IER wm_destroy(int w);
IER wm_set_proc(int w, WinProc proc, void* ctx);

// The stack itself. Push moves a window already there to the top; it
// refuses (false) a 33rd window. Pop gives the focus to the new top.
bool ws_push(int w, int kind);
void ws_pop(int w);
int ws_top();          // 0 when empty
int ws_find(int w);    // slot, kWindowStackMax or more when not there
int ws_count();
int ws_at(int pos);    // from the bottom (0) up; 0 beyond the top
int ws_kind(int w);    // -1 when not there
void ws_show_top();
bool wm_quit_posted();

// ------------------------------------------------------------ loops

// Handles what is pending; true when the program should quit (the last
// window went, or a quit was posted). Does nothing before the window system
// has started.
bool wm_pump();
// Waits until window w is destroyed (w == 0: until no window is left), then
// handles what is pending. 0; 122 when no input can come (the headless key
// script is used up) or a quit was posted first.
IER wm_modal_wait(int w);
// The program's message loop: until the last window is gone.
IER wm_message_loop();
// Waits for a key and gives its key class; 122 when none can come.
IER wm_wait_key(int* keyclass);
// The event handler every loop of this layer uses: the window's own
// procedure, then the default handling.
int wm_event(const plat::WndEvent& ev, void* ctx);

// ------------------------------------------------------------ cell grid, fonts

struct CellGrid {
    int16_t cols = 80, rows = 24, left = 0, top = 0, extra = 0, spacing = 0;
};
CellGrid& grid_default();
CellGrid& grid_override();  // in use while its column count is not 0
const CellGrid& grid_active();
// SCREENSIZE$: columns, rows, left offset, top offset, extra rows, spacing.
IER grid_set_override(StrRef list);
void grid_reset_offsets();
// A screen position in client cells (row or column 0 stays 0).
void grid_cell(int row, int col, int* crow, int* ccol);

constexpr int kFontStackMax = 7;
struct FontSetting {
    int16_t height = 0, width = 0, weight = 400;
    char face[32] = {};
};
IER font_push(const FontSetting& f);  // 168 when 7 are pushed
void font_pop();
int font_depth();
const FontSetting* font_top();  // nullptr when none
// Cell size in pixels of the active font (the system font: 9 x 16).
void font_cell_pixels(int* width, int* height);
// What the font can mean in a terminal: bold.
plat::WndAttr font_attr();
// One line of QVFONT.PPN: "height;width;weight text;face".
FontSetting font_parse(StrRef line);
// Start-up: the first line of QVFONT.PPN pushed; a missing file is no error.
IER fonts_load();
// The FontSet program: choose the first line of QVFONT.PPN.
IER fontset_run(StrRef params);

// ------------------------------------------------------------ controls

// A control's text (at most 384 characters unless max says otherwise).
StrRef ctl_text(int w, int id, int max = 384);
IER ctl_set_text(int w, int id, StrRef text);
// A static label at a screen position (id 4000 + column + row x columns).
IER ctl_label(int w, int row, int col, StrRef text);
IER ctl_ok_button(int w, int row, int col);
// A bar of navigation buttons (ids 3000 + action) across one row.
IER ctl_nav_bar(int w, int row, const int* actions, const char* const* labels, int n);
// List box n (id 3350 + n) holding the items of a comma list (at most 200).
IER ctl_list_box(int w, int n, int row, int col, int rows, int cols, StrRef items);

// ------------------------------------------------------------ screens

// A parsed screen layout (runtime array 4); filled by the screens layer.
struct Screen {
    int16_t use_count;  // windows showing it; a record at 0 is free for the next screen
    int16_t keymap;   // KEYMAP% (0 or 1)
    int16_t fields;   // field count
    int16_t flags;
    CellGrid grid;    // SCREENSIZE$ (cols 0: none)
    uint32_t layout;  // the screens layer's own record
};

// Handlers of a screen window. A handler returns 163 for an event it does
// not know; 0x100 added to a status below 128 asks for the top window to
// close. The follow-up gives the next event (-1, 0 or the same one: none).
using ScreenHandler = IER (*)(int sw, int event);
using FollowHandler = int (*)(int sw, int state_before, int state_after, int event);

// A window showing a screen (runtime array 5).
struct ScreenWindow {
    int16_t screen;   // index in array 4, -1 none
    int16_t field;    // current field (1-based, 0 none)
    int16_t index;    // current key number
    int16_t state;
    int16_t flags;
    int16_t keymap;   // used when there is no screen
    int16_t status;   // the last status of 122 and up
    int16_t in_use;
    int32_t wnd;
    ScreenHandler handler;
    FollowHandler follow;
    ScreenHandler app_handler;
    void* values;
    void* saved;
};

int screen_add(const Screen& s);      // index, -1 when the array cannot grow
Screen* screen_get(int index);        // valid until array 4 changes
int sw_add(const ScreenWindow& s);    // reuses a free record; -1 when none
ScreenWindow* sw_get(int sw);         // nullptr for a free or missing one
int sw_of_window(int w);              // -1 when none
void sw_release(int sw);
// A window of a kind with a screen window over it (tests, simple windows).
int sw_open(const WinSpec& want, ScreenHandler handler, FollowHandler follow = nullptr, int keymap = 0);

// The current screen and screen window; making a window current selects its
// screen and copies the key map into _KEYMAP.
int sw_current();
int screen_current();
void sw_set_current(int sw);

// What the screens layer tells about fields; defaults: every field is
// editable, passes its check and stores nothing.
struct FieldPorts {
    bool (*editable)(int sw, int field);
    bool (*check)(int sw, int field);             // ALARM$ of the field being left
    IER (*store)(int sw, int field, StrRef text); // the control's text into the value
};
FieldPorts& field_ports();
// The last link of the handler chain (help, cancel, confirm, navigation,
// field movement); nullptr gives the built-in one.
void sw_set_default_handler(ScreenHandler h);
// ScreenActionWinDefault: 95 refocuses the current field, 29 closes.
IER sw_win_default(int sw, int event);
// Sends an event to a screen window through its handler chain and the
// follow-ups; reports a result of 122 or more. ctl is the control concerned
// (91 and 92).
IER sw_dispatch(int sw, int event, int ctl = 0);
// Closes a screen window: the window destroyed, the record released, the
// grid offsets reset.
void sw_close(int sw);
// The text of the last keyboard scanner sequence.
StrRef scanner_text();

// ------------------------------------------------------------ progress window

enum : int { kProgressBar = 0, kProgressText = 1 };
constexpr int kProgressUnknownRange = 200;
IER progress_open(int width_px, int mode);  // 170 when it cannot be made
void progress_expect(long count);            // 0: unknown
void progress_step(long amount);
IER progress_set_text(StrRef text);
void progress_close();
bool progress_is_open();
bool progress_cancelled();
struct ProgressState {
    long range, divisor, pos;
    int window;
};
ProgressState progress_state();

// ------------------------------------------------------------ choices

// The list-selection window: the 1-based choice, 0 when closed without one.
// *st (optional) gets 122 when no input could come.
struct SelectSpec {
    StrRef caption{};
    StrRef items{};       // comma list
    bool buttons = false; // a grid of buttons instead of a list box
    bool at_focus = false;
};
int select_run(const SelectSpec& want, IER* st = nullptr);
// A popup menu at a screen cell (row < 0: at the cursor) ending on the row
// above it; the 1-based choice, 0 for none.
int popup_run(StrRef items, int row = -1, int col = -1);

// ------------------------------------------------------------ status line

StrRef status_line(StrRef title);

// ------------------------------------------------------------ script windows

constexpr int kScriptWindowsMax = 16;
int script_window_count();
int script_window_current();         // its handle, 0 when none
IER script_window_open(int rows, int cols, StrRef caption);
IER script_window_select(int number);  // 1-based; 163 when there is none
void script_window_close_top();
void script_windows_close_all();
// Where the next PRINT goes (client cells of the current script window).
void script_locate(int row, int col);
void script_position(int* row, int* col);
// The window command level (2): COLOR, LOCATE, PRINT, WAIT KEY, WINMENU, WINOPEN,
// WINCLOSE, WINSELECT, WINPROG; the rest goes to the runtime's own level.
struct ArgumentList;
IER script_commands(int code, const ArgumentList& a);

}  // namespace rt
