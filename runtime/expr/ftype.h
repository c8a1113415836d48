// Field types, masks, numbers written and read with the locale parameters,
// dates and times.
#pragma once
#include "runtime/core/types.h"
#include "runtime/expr/value.h"

namespace rt {

// The letters of the types that read as numbers in expressions.
constexpr std::string_view kNumericTypes = "NL123456789";
bool ft_is_numeric(char type);

// The format parameters (environment item 0, or the built-in texts).
struct FormatParams {
    char decimal = '.', thousands = ',';
    StrRef num_chars{};      // characters allowed in number input
    StrRef logic_in{};       // logical input letters (blank, N, Y)
    StrRef logic_words{};    // logical display words (blank, NO, YES), comma list
    StrRef months{};         // month names, comma list
    StrRef date_pattern{};   // "[M] [D],[Y]"
};
// Views into the environment item (or the built-in texts when builtin is
// set or the item is empty); valid until the string table changes.
void ft_params(FormatParams* out, bool builtin = false);

// Storage form, display form and fit of a value for a field of a type and
// length. Fit fails with 168 when a number needs more places than the field.
StrRef ft_storage(char type, StrRef text, int length);
StrRef ft_display(char type, StrRef stored, int length);
StrRef ft_fit(char type, StrRef text, int length);

// Masks.
StrRef ft_default_mask(char type, int length, bool for_storage);
StrRef ft_mask_for(StrRef type_text);
StrRef ft_mask(StrRef mask, StrRef value, int mode);

// A user's text for a number field, reduced to a number text.
StrRef ft_input_number(StrRef text);

// Dates: YYYYMMDD as a number or an 8-digit text.
bool dt_leap(int year);
int dt_month_len(int year, int month);
bool dt_valid(int32_t date);
int32_t dt_today();
// A date as the user writes it (separated, or DDMMYY) to the 8-digit text;
// the empty text for an invalid date.
StrRef dt_read(StrRef text);
// Formats 0..4.
StrRef dt_format(StrRef date, int code);
// unit 1 days, 2 months, 4 years; n above 10000 is a second date and the
// result the difference.
IER dt_arith(int32_t date, int32_t n, int unit, int32_t* out);

// Times: milliseconds since midnight.
int32_t tm_now();
int32_t tm_read(StrRef text);
StrRef tm_format(int32_t ms, int flags);

}  // namespace rt
