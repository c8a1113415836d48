// Fixed-point numbers: 64-bit integers holding the value times 10^P, where P
// is _PRECIS. Products and quotients are computed in 128 bits and rounded
// half away from zero on the exact remainder; a result that does not fit in
// 64 bits is refused with 155 rather than wrapped.
#pragma once
#include "runtime/core/types.h"
#include "runtime/expr/value.h"

namespace rt {

constexpr int kPrecisMax = 18;       // 10^18 is the largest power that fits
constexpr int kNumDigitsMax = 20;    // integer part plus P decimals of a number text

int num_precis();                    // _PRECIS, kept to 0..18
int64_t pow10i(int k);               // 10^k for 0 <= k <= 18, else 0

// a / b rounded half away from zero; b == 0 gives 0. 155 when the quotient
// does not fit in 64 bits.
IER num_div_round(__int128 a, __int128 b, Num* out);
IER num_add(Num a, Num b, Num* out);
IER num_sub(Num a, Num b, Num* out);
IER num_mul(Num a, Num b, int p, Num* out);        // a * b / 10^p
IER num_div(Num a, Num b, int p, Num* out);        // a * 10^p / b, 0 when b is 0
IER num_percent(Num a, Num b, int p, Num* out);    // b percent of a
IER num_round_places(Num a, int r, int p, Num* out);  // a rounded to r decimals
IER num_rescale(Num a, int from_p, int to_p, Num* out);
Num num_from_int(long long v, int p);              // 155-free for 16-bit inputs
// The number divided by 10^p, rounded, kept to 16 bits (as integer variables
// store it).
int16_t num_to_int16(Num v, int p);
// Integer part (truncated).
long long num_int_part(Num v, int p);

// Reads a number text: blanks trimmed, optional sign, digits, '.', decimals,
// an optional "D" and a decimal exponent (1D3 is 1000); reading stops at the
// first other character. Rounded to p decimals. 147 when the integer part
// and p decimals need more than 20 digits. *used (optional) gets the number
// of characters read.
IER num_parse(StrRef text, int p, Num* out, size_t* used = nullptr);

// Number to text as the system writes it: no trailing zeros of the fraction,
// no leading zero before the point (0.05 is ".05", -0.05 "-.05") and 0 is
// the empty text. A new scratch string.
StrRef num_text(Num v, int p);
// The same for people: "0", "0.05", "-3", "3.5". A new scratch string.
StrRef num_plain(Num v, int p);

}  // namespace rt
