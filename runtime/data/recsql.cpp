#include "runtime/data/recsql.h"

#include <cstring>

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/data/sql.h"

namespace rt {
namespace {

constexpr std::string_view kOps[] = {"", "=", ">", ">=", "<", "<=", "<>", "IS", "IS NOT"};

std::string_view trim_blanks(std::string_view t, bool left) {
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    if (left)
        while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    return t;
}

// An optional sign, digits with at most one point, at least one digit.
bool is_number(std::string_view t) {
    size_t i = 0;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) i++;
    bool digit = false, point = false;
    for (; i < t.size(); i++) {
        char c = t[i];
        if (c >= '0' && c <= '9') digit = true;
        else if (c == '.' && !point) point = true;
        else return false;
    }
    return digit;
}

// True when t holds `word` outside literals, names and parentheses.
bool top_level_has(const std::string& t, std::string_view word) {
    int depth = 0;
    for (size_t i = 0; i < t.size(); i++) {
        char c = t[i];
        if (c == '\'') {
            for (i++; i < t.size(); i++) {
                if (t[i] == '\\') i++;
                else if (t[i] == '\'') {
                    if (i + 1 < t.size() && t[i + 1] == '\'') i++;
                    else break;
                }
            }
        } else if (c == '"') {
            for (i++; i < t.size(); i++) {
                if (t[i] == '"') {
                    if (i + 1 < t.size() && t[i + 1] == '"') i++;
                    else break;
                }
            }
        } else if (c == '(') {
            depth++;
        } else if (c == ')') {
            depth--;
        } else if (depth == 0 && t.compare(i, word.size(), word) == 0) {
            return true;
        }
    }
    return false;
}

std::string wrapped(const std::string& part, std::string_view other) {
    return top_level_has(part, other) ? "(" + part + ")" : part;
}

}  // namespace

bool sql_numeric_type(char type) { return type && std::strchr("NL123456789", type) != nullptr; }

std::string sql_name(std::string_view name) {
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string sql_literal(std::string_view text) {
    ScratchMark m = scr_mark();
    StrRef q = sql_quote(sr(text));
    std::string out = sr_ok(q) ? std::string(sv(q)) : std::string("NULL");
    scr_release(m);
    return out;
}

IER sql_render(char type, std::string_view text, std::string* out, bool* is_null) {
    size_t nul = text.find('\0');
    if (nul != std::string_view::npos) text = text.substr(0, nul);
    bool numeric = sql_numeric_type(type);
    text = trim_blanks(text, numeric);
    if (is_null) *is_null = text.empty();
    if (text.empty()) {
        *out = "NULL";
        return 0;
    }
    if (numeric) {
        if (!is_number(text)) return ier::BADINPUTDATA;
        *out = std::string(text);
        return 0;
    }
    *out = sql_literal(text);
    return 0;
}

IER sql_compare(const SqlField& f, int op, std::string* out) {
    if (op < sqlop::Eq || op > sqlop::IsNot) return ier::BADINPUTDATA;
    std::string value;
    bool null = false;
    if (IER st = sql_render(f.type, f.text, &value, &null)) return st;
    std::string name = sql_name(f.name);
    if (null && (f.type == 'D' || f.type == 'F')) {
        // A date column has no empty value to stand for NULL: the same
        // order (NULLs first) is written with IS NULL.
        static constexpr std::string_view kNullDate[] = {"",           " IS NULL", " IS NOT NULL", "",
                                                        "",           " IS NULL", " IS NOT NULL", " IS NULL",
                                                        " IS NOT NULL"};
        if (op == sqlop::Ge) *out = "(" + name + " IS NULL OR " + name + " IS NOT NULL)";
        else if (op == sqlop::Lt) *out = "(" + name + " IS NULL AND " + name + " IS NOT NULL)";
        else *out = name + std::string(kNullDate[op]);
        return 0;
    }
    if (null) value = sql_numeric_type(f.type) ? "0" : "''";
    std::string cmp = name + " " + std::string(kOps[op]) + " " + value;
    if ((null && (op & 1)) || (!null && (op & 4)))
        cmp = "(" + cmp + " OR " + name + " IS NULL)";
    *out = std::move(cmp);
    return 0;
}

std::string sql_join(const std::string& a, const std::string& b, bool with_or) {
    if (a.empty()) return b.empty() ? std::string() : b;
    if (b.empty()) return a;
    std::string_view other = with_or ? " AND " : " OR ";
    return wrapped(a, other) + (with_or ? " OR " : " AND ") + wrapped(b, other);
}

IER sql_key_condition(const SqlField* f, int n, int op, std::string* out) {
    out->clear();
    if (n <= 0) return 0;
    if (op < sqlop::Eq || op > sqlop::Le) return ier::BADINPUTDATA;
    std::string eq;  // the equality of the fields before i
    std::string all;
    for (int i = 0; i < n; i++) {
        std::string c;
        bool last = i == n - 1;
        int this_op = op == sqlop::Eq || last ? op : (op <= sqlop::Ge ? sqlop::Gt : sqlop::Lt);
        IER st = sql_compare(f[i], this_op, &c);
        if (st == ier::BADINPUTDATA) return 5;  // a number key field that holds no number
        if (st) return st;
        if (op == sqlop::Eq) {
            all = sql_join(all, c);
            continue;
        }
        all = sql_join(all, sql_join(eq, c), true);
        if (!last) {
            std::string e;
            if ((st = sql_compare(f[i], sqlop::Eq, &e))) return st == ier::BADINPUTDATA ? IER(5) : st;
            eq = sql_join(eq, e);
        }
    }
    *out = std::move(all);
    return 0;
}

std::string sql_key_order(const std::string_view* names, int n, bool descending, bool compat) {
    std::string_view suffix = compat ? (descending ? " DESC" : "") : (descending ? " DESC NULLS LAST" : " NULLS FIRST");
    std::string out;
    for (int i = 0; i < n; i++) {
        if (i) out += ',';
        out += sql_name(names[i]);
        out += suffix;
    }
    return out;
}

IER sql_range_condition(const SqlField* start, int ns, const SqlField* bound, int nb, int op,
                        std::string_view extra, std::string* out) {
    int common = 0;
    while (common < ns && common < nb && start[common].text == bound[common].text) common++;
    std::string eq, lower, upper;
    if (IER st = sql_key_condition(start, common, sqlop::Eq, &eq)) return st;
    if (IER st = sql_key_condition(start + common, ns - common, op, &lower)) return st;
    int bound_op = op == sqlop::Gt || op == sqlop::Ge ? sqlop::Le : sqlop::Ge;
    if (nb > common)
        if (IER st = sql_key_condition(bound + common, nb - common, bound_op, &upper)) return st;
    std::string all = sql_join(sql_join(eq, lower), upper);
    if (!extra.empty()) {
        // A condition from elsewhere is always kept whole.
        std::string e = "(" + std::string(extra) + ")";
        all = all.empty() ? std::string(extra) : sql_join(all, e);
    }
    *out = std::move(all);
    return 0;
}

}  // namespace rt
