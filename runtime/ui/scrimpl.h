// Internals shared by the screen and Accept modules.
#pragma once
#include <string>
#include <vector>

#include "runtime/expr/value.h"
#include "runtime/ui/fieldlist.h"
#include "runtime/ui/screen.h"
#include "runtime/ui/wm.h"

namespace rt::ui {

struct ScreenField {
    FieldItem item;
    int row = 0, col = 0;   // cells of the screen grid
    int len = 0;            // display length
    int maxc = 0;           // most characters
    int width = 0;          // display width
    int mode = 0;           // 0 read-only, 81 hidden, else position in the edit order
    int file = 0, field = 0;
    int flags = 0;
    char type = 'A';
    std::string name;       // FD$ name
    std::string assign, alarm, perform, upd, windows, follow;
    int voff = 0;           // offset in the value buffers
    int clear = 0;
};

struct ScreenLayout {
    bool live = false;
    FieldSpec fs;
    std::string options;    // the option block, FD$ completed
    std::vector<ScreenField> f;
    std::string values;     // every field's text at its offset, blank filled
    std::string remembered; // the remembered values (F2, SCRBACK, 0x200)
    int bound_first = 0, bound_last = 0, beginfld = 0, keymap = 0, curfile = 0;
    int unicndx = 0, autondx = 0, max_ids = 0, relopt = 0;
    std::string help, on_confirm, on_cancel, set, ik1;
    int wnd = 0;            // the window that shows it, 0 none
    int depth = 0;          // nesting of recomputes
    bool asking = false;    // a replay asks for the fields it could not replay (no other prompts)
};

ScreenLayout* layout(int screen);
// The field of a name (FD$ name, without case), 0 when none.
int field_by_name(int screen, std::string_view name);
// Numbers of a list of field names or numbers (',' or ';' separated).
std::vector<int> field_list(int screen, std::string_view names);
// The screen that "_" names resolve against while a dialog runs.
void set_active_screen(int screen);
int active_screen();
// The option-set stack of running programs.
void option_set_push(StrRef text);
void option_set_pop();
// ALARM$ of field n: 0 passes; 126 (reported) or another status fails.
IER check_alarm(int screen, int n, bool report);
// Text quoted for a values list: '...' or "..." when it holds '.
std::string quote_value(std::string_view v);
void screens_layout_reset();
// A field's text as a number (0 when it holds none).
Num number_of(const std::string& v);
// The value of field n without trailing blanks.
std::string rtrim_value(const ScreenLayout& L, int n);
// The line a confirm records: every value quoted, passwords left empty.
std::string answer_line(int screen);
// What a confirm does beyond closing: ON_CONFIRM$, the answer line.
IER confirm_effects(int screen);
void field_ports_install();
int first_field(int screen);  // the first field of the visiting order
void focus(int sw, int n);

}  // namespace rt::ui
