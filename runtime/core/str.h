// Text operations on string values. Results are new scratch strings unless
// noted "view" (a view into an argument, no copy). Every operation given an
// error value returns it (or its status) without doing anything.
#pragma once
#include "runtime/core/types.h"

namespace rt {

constexpr uint16_t kNotFound = 0xFFFF;  // position result when absent

// Quote characters and bracket partners.
bool is_quote(char c);
char partner_of(char c);  // "[](){}<>"; other characters are their own partner
bool is_yes_word(StrRef s);  // "YES,SI,Y,S,ON", case-insensitive

StrRef str_concat(StrRef a, StrRef b);
StrRef str_join(StrRef a, StrRef sep, StrRef b);  // sep only when both non-empty
StrRef str_assign_text(StrRef name, StrRef value);  // name=value, 163 when either is empty
StrRef str_sub(StrRef s, int start, int len = -1);   // view; negative start counts from the end
StrRef str_upper(StrRef s);
StrRef str_lower(StrRef s);
// sides: bit 1 left, bit 2 right; set defaults to blank and tab. View.
StrRef str_trim(StrRef s, int sides = 3, std::string_view set = " \t");
StrRef str_unquote(StrRef s);  // view
// Trim and unquote; when neither changed the length, upper case (a copy).
StrRef str_normalize(StrRef s);
// 1 for a yes-word, else C integer conversion kept to 16 bits.
int16_t str_number(StrRef s);

// Positions are 0-based; kNotFound when absent.
uint16_t str_find_char(StrRef s, char c, size_t from = 0, bool quote_aware = false);
uint16_t str_find_any(StrRef s, std::string_view set, size_t from = 0);
uint16_t str_find_text(StrRef s, StrRef t, bool quote_aware = false, size_t from = 0);
// mode 0: any character of t; 1: the character t[0]; 2: the text t.
uint16_t str_find_last(StrRef s, StrRef t, int mode);
int str_count(StrRef s, StrRef t);
// Quote-aware unless plain or t is a single quote character.
StrRef str_replace(StrRef s, StrRef t, StrRef r, bool plain = false);
StrRef str_overwrite(StrRef s, int pos, StrRef t);
StrRef str_keep(StrRef s, std::string_view set);
StrRef str_translate(StrRef s, std::string_view from, std::string_view to);
StrRef str_collapse(StrRef s, char c);
StrRef str_repeat(StrRef s, int n);
StrRef str_wrap(StrRef s, char c);
StrRef str_enclosed(StrRef s, char c, bool quote_aware = false);  // view
StrRef str_quote(StrRef s, char q = '\'');  // 163 when s holds both quotes
bool str_all_of(StrRef s, std::string_view set);
int str_compare(StrRef a, StrRef b);  // 1, 0, -1
bool str_compare_op(StrRef a, StrRef b, int op);  // 1 ==, 2 >, 3 >=, 4 <, 5 <=
bool str_in_range(StrRef range, long long v);      // "low-high"
int str_find_range(StrRef ranges, long long v);    // 1-based, 0 when none
StrRef str_num(int16_t n);
StrRef str_num_pad(long long n, int width, char fill);

// Keyword value of name in text: after "name:" or, absent, "name=", counted
// only at the start or after ':', blank, '&', '/' (NUL mode: after a NUL),
// outside quotes. mode bit 4: NUL mode; bits 1+2: normalise; bit 1: unquote;
// none: raw view. *found (optional) tells whether the keyword was present.
StrRef str_keyword(StrRef text, StrRef name, int mode, bool* found = nullptr);

}  // namespace rt
