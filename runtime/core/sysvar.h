// The integer variables' storage and the system variables. System variables
// are created first, so the integer ones have fixed numbers, by which the
// runtime reads and writes them.
#pragma once
#include "runtime/core/types.h"

namespace rt {

namespace sysv {
enum : int {
    AUXSTAT = 0, RELRES, CURFIL, CUREDFLD, DEVHIG, DEVWID, DEVLIN, DEVPOS, DEVPAG, CURROW,
    STAT, LASTKEY, SGN, UPSTAT, IER_, SYSCOMPAT, SQLSTK, COUNT, HCOUNT, ADMSTAT,
    COMPAT, SCRSTAT, LMAX, LNUM, LLST, HNUM, SAFE, LB, AUX, KEYMAP,
    SERIAL, TRACE, PRECIS, BYEAR, BKYEAR, DX, INHND, OUTHND, DATE, DOCST,
    WMAXROW, USER01, USER02, USER03,
    IntCount
};
}
// The system-variable lists: integers, then texts.
extern const std::string_view kSysIntVars;
extern const std::string_view kSysTextVars;

// Creates the system variables with their defaults (names in group 12,
// integer values in runtime array 7, text values in group 13).
IER sysv_init();
int16_t sysv_get(int no);
IER sysv_set(int no, int16_t value);

// Integer variables by name (group 12 item 0 holds their names).
int var_int_find(StrRef name);  // number, -1 when missing
// Declares (or sets) an integer variable. 157 when the name list cannot grow.
IER var_declare_int(StrRef name, int16_t value);

}  // namespace rt

namespace rt {
// The type a variable name gives: 'a' array, 't' text, 'n' number,
// 'i' integer, 0 for a name that cannot be a variable (holds '@').
char var_type_of(StrRef name);
}  // namespace rt
