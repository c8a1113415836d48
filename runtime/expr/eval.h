// The expression evaluator. It reads its text through a cursor: no
// tokenising pass, no syntax tree, nothing allocated outside the scratch
// area. A text may hold several expressions separated by ';' or ','; the
// value of the last one is the result.
#pragma once
#include "runtime/core/types.h"
#include "runtime/expr/value.h"

namespace rt {

// Operators, numbered as in the operator list.
namespace exop {
enum : int {
    None = 0, Mul, Div, Round, Percent, Discount, Add, Sub, Assign, Gt, Lt, Eq, Ge, Le, Ne,
    BitAnd, BitOr, At, And, Or, Xor,
};
}

// Evaluates text. A text result is a new scratch string (the latest one).
// Statuses: 123 for an empty expression (no error by itself), 122 and 128
// and above stop the evaluation; an error records module ExpExec and adds
// the failing text to the detail text.
IER ex_eval(StrRef text, Value* out);
// A text that is checked once and evaluated many times (a procedure's
// statement): true when it needs no preparing (no blank outside quotes,
// balanced parentheses, no macro), so that ex_eval_checked may skip it.
bool ex_is_prepared(StrRef text);
IER ex_eval_checked(StrRef text, Value* out);
// For effect: statuses below 128 count as 0.
IER ex_effect(StrRef text);
// The result as text (numbers written as the system writes them); the
// error value on failure.
StrRef ex_text(StrRef text);
int16_t ex_int(StrRef text);
Num ex_num(StrRef text);
// 1 true, 0 false, or a status of 122 and above. An empty text is true; a
// text result is false.
IER ex_cond(StrRef text);

// One operand and the operator after it, read as the evaluator reads them:
// for what looks at an expression's shape without evaluating it (the SQL
// filter of the record layer). Quotes and parentheses are honoured, so a
// quoted text is always one operand.
constexpr int kExEndPart = -1;  // ';' or ',' after the operand
constexpr int kExEnd = -2;      // the end of the text
struct ExToken {
    StrRef operand{};  // as written; empty for a sign or a group
    StrRef inner{};    // inside the parentheses after it (a call's arguments, a group)
    bool paren = false;
    int op = 0;        // exop, kExEndPart or kExEnd
    size_t next = 0;   // where the next operand begins
};
// 147 for an operator that is not one, 129 for an unclosed parenthesis.
IER ex_scan(StrRef text, size_t pos, ExToken* out);

// Bracket substitution: every [expression] in text replaced by its value.
namespace brk {
enum : int { Plain = 1, NoTrim = 2, Lookup = 4, EmptyStays = 16, Quote = 32, DoubleQuote = 64,
             Rescan = 128, Escapes = 256 };
}
StrRef ex_brackets(StrRef text, int flags = 0, StrRef keywords = {});

// A search condition over comma-separated field references: low alone gives
// field==low, low and high a range; values are quoted (numbers written as
// numbers), so that no value can become code.
StrRef ex_search_cond(StrRef fields, StrRef low, StrRef high);

// Field references name{file} reach the records through this port. The
// record layer puts its functions here; without it no data file exists.
struct FieldRef {
    int file = 0;
    int field = 0;
    char type = 'A';
};
struct FieldPort {
    // file: a number, a name or empty (the current file); field: a number
    // or a name. 161 for a file that does not exist, 147 for a field.
    IER (*resolve)(StrRef file, StrRef field, FieldRef* out);
    IER (*read)(const FieldRef& f, StrRef* text);  // text: a scratch string
    IER (*write)(const FieldRef& f, StrRef text);
    // The field's name and the file's name, to write a reference back.
    IER (*names)(const FieldRef& f, StrRef* field, StrRef* file);
};
void ex_set_field_port(const FieldPort* port);  // nullptr: no data files

// Hook slot 2: the line-column resolver for "_" calls that are not
// functions (answers with a text).
using LineColumnFn = StrRef (*)(StrRef name, int index);

// Puts the evaluator into the runtime's ports (configuration files,
// program commands).
void ex_install();

}  // namespace rt
