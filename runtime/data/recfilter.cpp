// Conditions of the expression language as SQL: read operand by operand
// with the evaluator's own scanner, so that a quoted text is always one
// value and reaches the statement only as a literal.
#include <string>
#include <vector>

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/rec.h"
#include "runtime/data/recsql.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"

namespace rt {
namespace {

constexpr int kFilterDepthMax = 32;

enum class Kind { Field, Number, Text, Group };

struct Item {
    Kind kind = Kind::Number;
    std::string sql;   // as it goes into the statement
    std::string text;  // a text constant's value
    char type = 'A';   // a field's type
    bool zero = false; // a number constant 0
    int op = 0;        // the operator after it
};

std::string_view trimmed(StrRef s) {
    std::string_view t = sv(s);
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return t;
}

bool is_comparison(int op) {
    return op == exop::Gt || op == exop::Lt || op == exop::Eq || op == exop::Ge || op == exop::Le ||
           op == exop::Ne || op == exop::Assign;
}
bool is_joiner(int op) {
    return op == exop::And || op == exop::BitAnd || op == exop::Or || op == exop::BitOr || op == exop::At ||
           op == exop::Xor;
}

std::string op_sql(int op) {
    switch (op) {
    case exop::Mul: return "*";
    case exop::Div: return "/";
    case exop::Round: return "!";
    case exop::Percent: return "%";
    case exop::Add: return "+";
    case exop::Sub: return "-";
    case exop::Gt: return ">";
    case exop::Lt: return "<";
    case exop::Eq:
    case exop::Assign: return "=";
    case exop::Ge: return ">=";
    case exop::Le: return "<=";
    case exop::Ne: return "<>";
    case exop::And:
    case exop::BitAnd: return "AND";
    default: return "OR";
    }
}

IER translate(std::string_view text, std::string* out, int depth);

// A field reference name{file}; false when the operand is not one.
bool field_ref(std::string_view t, int* file, int* field) {
    if (t.empty() || t.back() != '}' || t.front() == '\'' || t.front() == '"') return false;
    size_t open = t.find('{');
    if (open == std::string_view::npos || open == 0) return false;
    return dict_resolve(sr(t.substr(open + 1, t.size() - open - 2)), sr(t.substr(0, open)), file, field) == 0;
}

IER operand(const ExToken& tk, int sign, Item* it, int depth) {
    std::string_view name = trimmed(tk.operand);
    if (tk.paren && name.empty()) {
        std::string inner;
        if (IER st = translate(sv(tk.inner), &inner, depth + 1)) return st;
        it->kind = Kind::Group;
        it->sql = (sign < 0 ? "-(" : "(") + inner + ")";
        return 0;
    }
    int file = 0, field = 0;
    if (!tk.paren && field_ref(name, &file, &field)) {
        FieldInfo fi;
        dict_field(file, field, &fi);
        it->kind = Kind::Field;
        it->type = fi.type;
        it->sql = (sign < 0 ? "-" : "") + sql_name(sv(fi.name));
        return 0;
    }
    // Anything else is a constant (a number, a text, a variable, a call):
    // its value is written, never its text.
    std::string whole = tk.paren ? std::string(name) + "(" + std::string(sv(tk.inner)) + ")" : std::string(name);
    ScratchMark m = scr_mark();
    Value v;
    IER st = ex_eval(sr(whole), &v);
    if (st >= 122 && st != ier::NullExpression) {
        scr_release(m);
        return st;
    }
    if (v.is_text()) {
        it->kind = Kind::Text;
        it->text = std::string(sv(v.text));
        it->sql = it->text.empty() ? "NULL" : sql_literal(it->text);
    } else {
        Num n = sign < 0 ? -v.num : v.num;
        it->kind = Kind::Number;
        it->zero = n == 0;
        it->sql = std::string(sv(num_plain(n, num_precis())));
    }
    scr_release(m);
    return 0;
}

// A text compared with a number field must be a number.
IER as_number(Item* it) {
    std::string out;
    if (sql_render('N', it->text, &out)) return err_raise(ier::BADINPUTDATA, mod::DataFile, "not a number: " + it->text);
    it->kind = Kind::Number;
    it->sql = out;
    it->zero = out.find_first_not_of("+-0.") == std::string::npos && out != "NULL";
    return 0;
}

std::string like_pattern(const std::string& t) {
    std::string p;
    for (char c : t) {
        if (c == '*') p += '%';
        else if (c == '%' || c == '_' || c == '\\') p += std::string("\\") + c;
        else p += c;
    }
    return p;
}

std::string comparison(const Item& l, int op, Item& r, IER* st) {
    *st = 0;
    bool numeric_field = l.kind == Kind::Field && sql_numeric_type(l.type);
    if (numeric_field && r.kind == Kind::Text && !r.text.empty())
        if ((*st = as_number(&r))) return {};
    bool eq = op == exop::Eq || op == exop::Assign;
    if (r.kind == Kind::Text && r.text.empty() && (eq || op == exop::Ne)) {
        // No row equals NULL: an empty text is matched as empty or NULL.
        bool date_field = l.kind == Kind::Field && (l.type == 'D' || l.type == 'F');
        if (numeric_field || date_field) return l.sql + (eq ? " IS NULL" : " IS NOT NULL");
        return eq ? "(" + l.sql + " IS NULL OR " + l.sql + " = '')"
                  : "(" + l.sql + " IS NOT NULL AND " + l.sql + " <> '')";
    }
    if (eq && r.kind == Kind::Text && r.text.find('*') != std::string::npos)
        return l.sql + " ILIKE " + sql_literal(like_pattern(r.text));
    std::string cmp = l.sql + " " + op_sql(op) + " " + r.sql;
    if (numeric_field && ((eq && r.kind == Kind::Number && r.zero) || op == exop::Lt || op == exop::Le))
        return "(" + l.sql + " IS NULL OR " + cmp + ")";
    return cmp;
}

IER translate(std::string_view text, std::string* out, int depth) {
    if (depth > kFilterDepthMax) return ier::EXPCALCERROR;
    std::vector<Item> items;
    StrRef t = sr(text);
    size_t pos = 0;
    int sign = 1;
    for (;;) {
        ExToken tk;
        if (IER st = ex_scan(t, pos, &tk)) return st;
        bool empty = trimmed(tk.operand).empty() && !tk.paren;
        if (empty && (tk.op == exop::Sub || tk.op == exop::Add)) {
            if (tk.op == exop::Sub) sign = -sign;
            pos = tk.next;
            continue;
        }
        if (empty) return err_raise(ier::SINTAXERROR, mod::DataFile, "condition: " + std::string(text));
        if (tk.op == kExEndPart) return err_raise(ier::SINTAXERROR, mod::DataFile, "condition: " + std::string(text));
        Item it;
        if (IER st = operand(tk, sign, &it, depth)) return st;
        sign = 1;
        it.op = tk.op;
        items.push_back(std::move(it));
        if (tk.op == kExEnd) break;
        if (tk.op == exop::Discount) return err_raise(ier::SINTAXERROR, mod::DataFile, "condition: " + std::string(text));
        pos = tk.next;
    }
    // Written left to right; a comparison takes the operands up to the next
    // comparison or joiner as its right side.
    std::string sql;
    size_t i = 0;
    while (i < items.size()) {
        std::string left = items[i].sql;
        Item lhs = items[i];
        int op = items[i].op;
        size_t j = i + 1;
        while (op > 0 && !is_comparison(op) && !is_joiner(op) && j < items.size()) {
            left += " " + op_sql(op) + " " + items[j].sql;
            lhs.kind = Kind::Group;
            op = items[j].op;
            j++;
        }
        lhs.sql = left;
        if (is_comparison(op) && j < items.size()) {
            Item rhs = items[j];
            int after = items[j].op;
            size_t k = j + 1;
            std::string right = rhs.sql;
            while (after > 0 && !is_comparison(after) && !is_joiner(after) && k < items.size()) {
                right += " " + op_sql(after) + " " + items[k].sql;
                rhs.kind = Kind::Group;
                after = items[k].op;
                k++;
            }
            rhs.sql = right;
            IER st = 0;
            sql += comparison(lhs, op, rhs, &st);
            if (st) return st;
            op = after;
            j = k;
        } else {
            sql += left;
        }
        if (op > 0 && j < items.size()) sql += " " + op_sql(op) + " ";
        i = j;
    }
    *out = std::move(sql);
    return 0;
}

}  // namespace

IER rec_filter(StrRef condition, std::string* out) {
    out->clear();
    if (!sr_ok(condition)) return sr_status(condition);
    if (static_cast<uint16_t>(sysv_get(sysv::AUXSTAT)) & kAuxRawSql) {
        *out = std::string(sv(condition));
        return 0;
    }
    if (trimmed(condition).empty()) return 0;
    return translate(sv(condition), out, 0);
}

}  // namespace rt
