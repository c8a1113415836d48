// Screens built from field lists, their values, and the Accept window: a
// modal window that shows the fields, lets the user fill them and returns
// their values; the program types Accept and AcceptRun and the script
// commands ACCEPT, BOUNDS and READ.
#pragma once
#include <string>

#include "runtime/core/types.h"

namespace rt {

// Flag bits of a screen field.
namespace sff {
enum : int {
    Plain = 1, FileBound = 2, Assign = 4, CurrentFile = 16, Perform = 32, UpdFields = 64,
    Windows = 256, Editable = 512, Alarm = 1024, Password = 0x4000,
};
}
// Store flags: 1 keep the text as given (with a field of bit 1), 0x10 into
// the record buffer, 0x20 / 0x40 run PERFORM$ and recompute UPDFIELDS$ and
// the follow-up list, 0x80 write even when unchanged, 0x200 take the
// remembered value. The runtime uses 1, 17, 116, 118 and 230.
namespace stf {
enum : int { Plain = 1, Show = 2, Record = 0x10, Perform = 0x20, Update = 0x40, Force = 0x80, Recall = 0x200 };
constexpr int Edit = 118, Recompute = 116;
}
constexpr int kBuildSideBySide = 0x80;  // all fields on one row (lines, grids)
constexpr int kEditHidden = 81;         // edit mode of a field without a control
constexpr int kRecomputeDepthMax = 16;  // chains of fields that update each other

// Builds a screen from a field list: parses it with its options, lays the
// fields out and pushes it as the current screen. *screen gets its index.
IER screen_build(StrRef list, int flags, int* screen);
// Draws the prompts of a screen into a window and ties the screen to it.
IER screen_draw(int screen, int w);
// ScreenSetWin: the controls of the screen's fields in the current screen
// window (edit boxes, check boxes).
IER screen_set_win(int sw);
int screen_fields(int screen);
// Stores text into field n (1-based) with store flags.
IER screen_store(int screen, int flags, int n, StrRef text);
// A field's value (trailing blanks removed) and its control's text; scratch
// strings.
StrRef screen_value(int screen, int n);
StrRef screen_ctl_value(int screen, int n);
// Recomputes the fields of a list of field names or numbers.
IER screen_recompute(int screen, int flags, StrRef fields);
// The field's name in FD$, its type letter, edit mode and flags.
StrRef screen_field_name(int screen, int n);
char screen_field_type(int screen, int n);
int screen_field_mode(int screen, int n);
int screen_field_flags(int screen, int n);
void screen_field_place(int screen, int n, int* row, int* col, int* width);
// A screen parameter: the screen's option block, then the option set of
// the running program, then the script variable (each with the section
// prefix first).
StrRef screen_param(int screen, StrRef name);
// The default event handling of a screen window (the last link).
IER screen_default_handler(int sw, int event);
// SCRBACK:array - the value buffer to a script array (confirm) or the array
// to the remembered values (record windows).
IER screen_scrback_save(int screen, StrRef command);
IER screen_scrback_load(int screen, StrRef command);

// ------------------------------------------------------------ Accept

struct AcceptResult {
    IER status = 0;
    std::string values;  // the values, each quoted, comma-separated
    std::string cond;    // the condition built from fields with an operator
};
// Refuses a confirm (the field count given) with a non-zero status.
using AcceptCheck = IER (*)(int fields);
// The application's confirm action (hook slot ACCEPT_PRC%).
using AcceptProcFn = IER (*)(const AcceptResult* result);

AcceptResult accept_window(StrRef caption, StrRef list, int flags = 0, AcceptCheck check = nullptr);
// The program types Accept and AcceptRun (parameter text "file,section,...").
IER accept_program(StrRef params);
// The script commands ACCEPT, BOUNDS and READ; kCmdNotMine for others.
struct ArgumentList;
IER accept_commands(int code, const ArgumentList& a);
// The last caption and values the runtime keeps.
std::string accept_last_caption();
std::string accept_last_values();
// Puts the screens layer into the runtime: the field ports, the program
// runners and the name resolver of hook slot 0 (at first use).
void screens_install();
void screens_reset();

}  // namespace rt
