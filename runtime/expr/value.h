// A value of the expression language: a number (64-bit fixed point with
// _PRECIS decimals) or a text (a string value, as a rule in the scratch area).
#pragma once
#include "runtime/core/types.h"

namespace rt {

using Num = int64_t;  // the value times 10 to the power _PRECIS

struct Value {
    enum Kind : uint8_t { Number = 0, Text = 1 };
    Kind kind = Number;
    Num num = 0;
    StrRef text{};

    static Value number(Num n) { return {Number, n, {}}; }
    static Value of_text(StrRef t) { return {Text, 0, t}; }
    bool is_text() const { return kind == Text; }
};

}  // namespace rt
