// The SQL text of the record layer: field values as literals, comparisons,
// key conditions, key orders and range conditions. Pure text: nothing here
// talks to the server, so every rule can be checked without one.
#pragma once
#include <string>
#include <string_view>

#include "runtime/core/types.h"

namespace rt {

// Comparison operators, numbered as in "=,>,>=,<,<=,<>,IS,IS NOT".
namespace sqlop {
enum : int { Eq = 1, Gt, Ge, Lt, Le, Ne, Is, IsNot };
}

// One field of a condition: its column name, type letter and the field's
// characters as they stand in the record (or a piece of a key value).
struct SqlField {
    std::string_view name;
    char type = 'A';
    std::string_view text;
};

// Type letters whose values are numbers in SQL.
bool sql_numeric_type(char type);
// A name in double quotes, an inner double quote doubled.
std::string sql_name(std::string_view name);
// A text as a literal that ends where it should (the connection layer's
// quoting).
std::string sql_literal(std::string_view text);

// A field's characters as SQL: up to the first NUL; numbers trimmed, other
// types without trailing blanks; empty is NULL (*is_null set). A number
// field holding anything but a number gives 163 and nothing: no text of a
// number field ever reaches a statement unchecked.
IER sql_render(char type, std::string_view text, std::string* out, bool* is_null = nullptr);

// "name" op value. A NULL value compares as '' (text) or 0 (numbers); the
// comparison also accepts NULL rows when the value was NULL and the
// operator includes equality (=, >=, <=), or the value was not NULL and the
// operator is <, <= or <>: in ascending key order NULLs come first.
IER sql_compare(const SqlField& f, int op, std::string* out);

// The key condition over n fields: op 1 the equality of every field; ops 2
// to 5 the lexicographic comparison (strict on every field but the last).
// A number field that holds no number gives 5 (bad key).
IER sql_key_condition(const SqlField* f, int n, int op, std::string* out);

// Joins two condition parts with " AND " (or " OR "), each put in
// parentheses when it holds the other joiner at its top level; an empty
// part is left out.
std::string sql_join(const std::string& a, const std::string& b, bool with_or = false);

// The key order: each name followed by " NULLS FIRST" (ascending) or
// " DESC NULLS LAST"; with compat "" and " DESC". Joined with ",".
std::string sql_key_order(const std::string_view* names, int n, bool descending, bool compat);

// The range condition of a move or a batch: the leading fields on which
// start and bound agree give an equality; the rest of start a lexicographic
// part with op; the rest of bound one with 5 (moves up) or 3 (moves down);
// the extra condition (SQL already) is joined last.
IER sql_range_condition(const SqlField* start, int ns, const SqlField* bound, int nb, int op,
                        std::string_view extra, std::string* out);

}  // namespace rt
