// Shared by the files of the built-in function library.
#pragma once
#include "runtime/core/types.h"
#include "runtime/expr/func.h"
#include "runtime/expr/value.h"

namespace rt {

// Function numbers in the table.
namespace fnno {
enum : int {
    Acc = 1, FLen, SLen, ParmN, ValN, Acum, ChkN, FileFind, FileRel, FileLocate, FileSel,
    Chng, Chrs, Date, Flds, Mask, Mids, Parm, Trim, Envelop, ChkT, Sort, Exec, Read, Write,
    Macro, Environ, StrTab, Key, Time, Ier, Exp, SqlChild,
};
}

inline bool fn_count_ok(const FnCall& c, int lo, int hi) { return c.argc >= lo && c.argc <= hi; }
// An integer argument: the integer part of a number, or of a number text.
long long fn_arg_int(const FnCall& c, int i, long long def = 0);
// A text result (a new scratch string), or its status.
IER fn_text_result(Value* r, StrRef t);

// Makes the accumulator array "_#(" (elements 0..256) when it does not exist.
IER fn_acc_ready();

// Each file of the library installs its functions.
void fn_text_install();   // texts, lists, numbers, dates, control
void fn_file_install();   // files, records, procedures, the string table
void llist_install();     // SORT$: local lists and sorting

}  // namespace rt
