// The screen-field language: a field list ("'Host:':'A30':HOST$:'x',...")
// and its option block after " /" (NAME=value pairs). The parser is pure:
// it touches neither variables nor windows, so that a screen can be read,
// checked and fuzzed on its own. Expressions (prompts, defaults) are kept as
// written; the screens layer evaluates them.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace rt {

constexpr int kScreenFieldsMax = 200;   // fields of one screen
constexpr int kFieldLengthMax = 384;    // characters of one field (a control's text)
constexpr int kFieldListTextMax = 32767;

// One item of a field list.
struct FieldItem {
    std::string text;        // the item as written (after ";" became ":")
    int parts = 0;
    std::string prompt;      // part 1 without braces: quoted text or expression
    bool prompt_literal = false;  // prompt was a quoted text (unquoted here)
    int brace_row = 0, brace_col = 0;  // {row,col} before the prompt (0: none)
    int at_row = 0, at_col = 0;        // /ROW= and /COL= (0: none)
    char type = 0;           // type letter, upper case; 0 when part 2 is empty
    int length = 0;          // from part 2
    int vnum = -1;           // V<n>: take type and length from _Vn$
    std::string bind;        // part 3 without its comparison operator
    std::string op;          // comparison operator that ends part 3 ("==", ">=", ...)
    bool file_field = false; // part 3 is FIELD{file}
    std::string def;         // part 4: default expression
    std::string target;      // part 5: assignment target
};

struct FieldSpec {
    std::vector<FieldItem> items;
    std::string options;     // the option block (without the " /")
};

// Parses a list. 0; 163 for an empty list, an item without parts or more
// items than kScreenFieldsMax; 146 for a text beyond kFieldListTextMax.
int fs_parse(std::string_view list, FieldSpec* out);

// Splits at sep outside quotes and outside (), [] and {} (kept as written).
std::vector<std::string> fs_split(std::string_view text, char sep);
// The text without one pair of enclosing quotes.
std::string fs_unquote(std::string_view t);
// True when the type letter reads as a text for automatic field names.
bool fs_text_type(char type);

// Option blocks: NAME=value separated by ':', ' ', '&' or '/'; a quoted value
// may hold those and loses its quotes. Names compare without case.
struct FsOption {
    std::string name, value;
};
std::vector<FsOption> fs_options(std::string_view block);
// The value of NAME (its first occurrence); false when the block does not
// hold it.
bool fs_option(std::string_view block, std::string_view name, std::string* value);
// The block with NAME set to value (written NAME="value" in front, where it
// holds over any later one).
std::string fs_option_set(std::string_view block, std::string_view name, std::string_view value);

// The comparison operators a bound part may end with, longest first.
std::string_view fs_trailing_op(std::string_view part3);

}  // namespace rt
