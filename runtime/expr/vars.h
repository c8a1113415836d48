// The variable store: one global set of named variables whose type comes
// from the name ('(' array, '$' text, '#' number, else a 16-bit integer),
// and the scope mark that makes variables local to a procedure.
#pragma once
#include "runtime/core/types.h"
#include "runtime/expr/value.h"

namespace rt {

constexpr int kArrayDimsMax = 4;

enum class VarType : char { Invalid = 0, Int = 'i', Num = 'n', Text = 't', Array = 'a' };
VarType var_type(StrRef name);

// The variable's number (its position in its type's name list), -1 when it
// does not exist. The text constants (".lf$" ...) are not variables.
int var_find(StrRef name, VarType* type = nullptr);

// Reads a variable: integers and numbers give numbers (an integer read
// times 10^_PRECIS), texts give texts; a missing variable gives 0 or the
// empty text and is not created. Names beginning with "_" go to hook slot 0
// first. An array name without indices, or a name with '@', gives 147.
IER var_read(StrRef name, Value* out);
// Assigns (creating the variable): a number to an integer or number
// variable, a text to a text variable; the other mixes give 128. 157 when the
// name list cannot grow.
IER var_assign(StrRef name, const Value& v);

// Arrays: the name as written with its '(' ("A(", "T$(", "N#(").
IER var_array_make(StrRef name, const int* sizes, int dims, const Value& init);
// Reading an array that does not exist makes it, with these indices as its
// sizes. An index below 0 or beyond its dimension gives 168.
IER var_array_read(StrRef name, const int* index, int dims, Value* out);
IER var_array_write(StrRef name, const int* index, int dims, const Value& v);

// Scope: the sizes of the store at a moment; restoring removes what was
// created after it.
struct VarScope {
    uint16_t list_len[4];
    uint16_t list_count[4];
    unsigned arrays, ints, nums;
    int texts;
};
VarScope var_scope_mark();
IER var_scope_restore(const VarScope& mark);

// The screen-field type held in _V<n>$: its first character and the number
// after it; 181 when the variable does not exist.
IER var_screen_field_type(int n, char* type, int* length);

// Frees the element blocks of the arrays (before the stores are torn down)
// and forgets the name index.
void vars_done();

// Hook slot 0: resolves "_" names of screen fields. mode 1 reads (the answer
// is the text), mode 5 writes value (a number as plain decimal text, "0.5").
// The error value 163 means "not mine"; any other error value is the result.
using FieldNameFn = StrRef (*)(StrRef name, int mode, StrRef value);
constexpr int kHookRead = 1, kHookWrite = 5;

}  // namespace rt
