// Text formatting of our own. Patterns may come from message catalogues and
// language files, so nothing here is ever handed to printf: %s, %i, %d, %u,
// %x, %c and %% are filled from the given arguments (with optional '-', '0',
// width and, for %s, precision); any other conversion is copied as written.
// A missing argument gives an empty text or 0.
#pragma once
#include <initializer_list>
#include "runtime/core/types.h"

namespace rt {

struct FmtArg {
    enum Kind { Int, Str } kind;
    long long i = 0;
    StrRef s{};
    FmtArg(int v) : kind(Int), i(v) {}
    FmtArg(unsigned v) : kind(Int), i(v) {}
    FmtArg(long v) : kind(Int), i(v) {}
    FmtArg(long long v) : kind(Int), i(v) {}
    FmtArg(unsigned long v) : kind(Int), i(static_cast<long long>(v)) {}
    FmtArg(StrRef v) : kind(Str), s(v) {}
    FmtArg(std::string_view v) : kind(Str), s(sr(v)) {}
    FmtArg(const char* v) : kind(Str), s(sr_c(v)) {}
};

// Formats into a new scratch string of at most capacity bytes (0: 65535).
// When the text does not fit, 146 is recorded with module FormatStrings and
// returned as the error value.
StrRef fmt(size_t capacity, std::string_view pattern, std::initializer_list<FmtArg> args);
inline StrRef fmt(std::string_view pattern, std::initializer_list<FmtArg> args) {
    return fmt(0, pattern, args);
}
// A pattern that is a string value (a message text): an error value passes.
inline StrRef fmt(StrRef pattern, std::initializer_list<FmtArg> args) {
    return sr_ok(pattern) ? fmt(0, sv(pattern), args) : pattern;
}

}  // namespace rt
