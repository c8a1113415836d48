// The function table: the built-in functions of the expression language and
// the extensions an application registers, called by name from expressions.
#pragma once
#include "runtime/core/types.h"
#include "runtime/expr/value.h"

namespace rt {

constexpr int kFnBuiltins = 33;
constexpr int kFnExtFirst = 34, kFnExtLast = 49;  // 16 extension slots
constexpr int kFnArgsMax = 16;
extern const std::string_view kFnBuiltinNames;

// How a function receives its arguments: evaluated, only the first one
// evaluated, or the text inside its parentheses as written.
enum class FnArgs : uint8_t { Evaluated, First, Raw };

struct FnCall {
    int number = 0;
    StrRef name{};
    StrRef raw{};      // the text inside the parentheses
    int argc = 0;      // values pushed on stack 35, the last one on top
    uint8_t kinds[kFnArgsMax] = {};  // 0 number, 1 text, in argument order
};

// A function reads its arguments from stack 35 and sets *result; a text
// result is a new scratch string. The caller cuts the stack back.
using FnImpl = IER (*)(const FnCall& call, Value* result);

// The function's number (1..49), 0 when the name is none; exactly, then in
// upper case.
int fn_lookup(StrRef name);
FnArgs fn_args(int number);
// Whether the name gives a text result ('$' in it).
bool fn_returns_text(StrRef name);

// Built-ins are filled in by the function library; an extension gets the
// next number from 34 on (168 beyond 49).
void fn_set_builtin(int number, FnImpl f, FnArgs mode = FnArgs::Evaluated);
IER fn_register(StrRef name, FnImpl f, FnArgs mode = FnArgs::Evaluated);
// Calls function number n; 147 when the number has no function.
IER fn_invoke(const FnCall& call, Value* result);
// Forgets the extensions (a new start-up, tests).
void fn_reset();

// Argument i (0 = the first) of a call, from stack 35.
bool fn_arg_present(const FnCall& c, int i);
bool fn_arg_is_text(const FnCall& c, int i);
StrRef fn_arg_text(const FnCall& c, int i);  // a number argument as its text
Num fn_arg_num(const FnCall& c, int i, Num def = 0);

}  // namespace rt
