// The text, list, number, date and control functions of the expression
// language, and the accumulators.
#include "runtime/expr/fnimpl.h"

#include <algorithm>
#include <ctime>

#include "platform/fs.h"
#include "runtime/core/env.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/ftype.h"
#include "runtime/expr/func.h"
#include "runtime/expr/vars.h"

namespace rt {
namespace {

// ------------------------------------------------------------ helpers

// A text result kept as the latest scratch string above the mark.
IER text_out(Value* r, ScratchMark m, StrRef t) {
    if (!sr_ok(t)) {
        scr_release(m);
        return sr_status(t);
    }
    StrRef kept = scr_keep(m, t);
    if (!sr_ok(kept)) return sr_status(kept);
    *r = Value::of_text(kept);
    return 0;
}

IER num_out(Value* r, ScratchMark m, Num v) {
    scr_release(m);
    *r = Value::number(v);
    return 0;
}

// Where a text is required a number is refused.
inline bool need_text(const FnCall& c, int i) { return !fn_arg_present(c, i) || fn_arg_is_text(c, i); }

// A character given by its code, or as a text whose first character is not
// a digit (ENVELOP$(X$;'(') means the same as ENVELOP$(X$;40)).
char char_arg(const FnCall& c, int i, char def) {
    if (!fn_arg_present(c, i)) return def;
    if (fn_arg_is_text(c, i)) {
        StrRef t = fn_arg_text(c, i);
        if (!t.n) return def;
        if (t.p[0] < '0' || t.p[0] > '9') return t.p[0];
    }
    return static_cast<char>(static_cast<unsigned char>(fn_arg_int(c, i, static_cast<unsigned char>(def)) & 0xFF));
}

// Functions that evaluate texts of their own start a fresh evaluation each
// time, so a text that reaches itself again (MACRO$ of a variable holding
// that same call) would nest without end: the depth is bounded here.
constexpr int kTextNestMax = 32;
int g_text_nest = 0;
struct TextNest {
    TextNest() { g_text_nest++; }
    ~TextNest() { g_text_nest--; }
    bool too_deep() const { return g_text_nest > kTextNestMax; }
};

inline bool quote_char(char c) { return c == '\'' || c == '"'; }

// Walks the fields of a comma list once from the start (asking for field i
// each time would read a long list over and over).
struct FieldWalk {
    StrRef l;
    size_t at = 0;
    bool more;
    explicit FieldWalk(StrRef list) : l(list), more(sr_ok(list) && list.n > 0) {}
    bool next(StrRef* f) {
        if (!more) return false;
        uint16_t k = str_find_char(l, ',', at, true);
        size_t b = at, e = k == kNotFound ? l.n : k;
        more = k != kNotFound;
        at = e + 1;
        *f = sr(l.p + b, e - b);
        return true;
    }
};

// The end of the argument that starts at i in the text inside a call's
// parentheses: the next ';' or ',' outside parentheses and quotes. An
// unclosed quote hides the rest, as it does for the evaluator.
size_t arg_end(StrRef raw, size_t i) {
    int depth = 0;
    for (; i < raw.n; i++) {
        char c = raw.p[i];
        if (quote_char(c)) {
            size_t k = i + 1;
            while (k < raw.n && raw.p[k] != c) k++;
            if (k >= raw.n) return raw.n;
            i = k;
        } else if (c == '(') {
            depth++;
        } else if (c == ')') {
            depth--;
        } else if (depth == 0 && (c == ';' || c == ',')) {
            return i;
        }
    }
    return raw.n;
}

// Cuts the raw argument text into its arguments (views). An empty text has
// none; "a;" has two, the second empty. Returns the count, which may exceed
// max (the parts beyond it are not stored).
int raw_args(StrRef raw, StrRef* parts, int max) {
    if (!sr_ok(raw) || !raw.n) return 0;
    int n = 0;
    size_t i = 0;
    for (;;) {
        size_t e = arg_end(raw, i);
        if (n < max) parts[n] = sr(raw.p + i, e - i);
        n++;
        if (e >= raw.n) break;
        i = e + 1;
    }
    return n;
}

// An argument written in parentheses loses them, when they enclose all of it.
StrRef unparen(StrRef t) {
    while (t.n >= 2 && t.p[0] == '(' && t.p[t.n - 1] == ')') {
        int depth = 0;
        size_t i = 0;
        for (; i < t.n; i++) {
            char c = t.p[i];
            if (quote_char(c)) {
                size_t k = i + 1;
                while (k < t.n && t.p[k] != c) k++;
                i = k;
            } else if (c == '(') {
                depth++;
            } else if (c == ')' && --depth == 0) {
                break;
            }
        }
        if (i != t.n - 1u) break;  // "(a)+(b)": the first ')' closes early
        t = sr(t.p + 1, t.n - 2u);
    }
    return t;
}

// Evaluates an argument text. Only errors and a cancel count: an empty
// expression is no error here, and a warning belongs to the evaluation
// that raised it.
IER eval_text(StrRef t, Value* v) {
    IER st = ex_eval(t, v);
    return st >= 128 || st == ier::UserCanceled ? st : IER(0);
}

// Evaluates to a number; a text value is read as a number.
IER eval_num(StrRef t, Num* out) {
    *out = 0;
    ScratchMark m = scr_mark();
    Value v;
    IER st = eval_text(t, &v);
    if (!st && v.is_text()) st = num_parse(v.text, num_precis(), out);
    else if (!st) *out = v.num;
    scr_release(m);
    return st;
}

// ------------------------------------------------------------ accumulators

constexpr int kAccLast = 256;  // elements 0..256

// The 0-based position of a name in the accumulator names (_ACUMX$),
// ignoring case and blanks around the names; -1 when it is not there.
int acc_name_pos(StrRef name) {
    Value names;
    if (var_read(sr("_ACUMX$"), &names) || !names.is_text()) return -1;
    StrRef want = str_upper(str_trim(name));
    FieldWalk w(names.text);
    StrRef f;
    for (int i = 0; w.next(&f); i++) {
        ScratchMark m = scr_mark();
        StrRef u = str_upper(str_trim(f));
        bool same = sr_ok(u) && sr_ok(want) && sv(u) == sv(want);
        scr_release(m);
        if (same) return i;
    }
    return -1;
}

}  // namespace

// The accumulators are made by the application at start-up; a program that
// did not gets them at the first use (a read or an assignment).
IER fn_acc_ready() {
    if (var_find(sr("_#(")) >= 0) return 0;
    int size = kAccLast;
    return var_array_make(sr("_#("), &size, 1, Value::number(0));
}

namespace {

IER fn_acc(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 3)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    IER st = fn_acc_ready();
    if (st) {
        scr_release(m);
        return st;
    }
    long long index = 0;
    if (fn_arg_is_text(c, 0)) {
        StrRef word = str_upper(str_trim(fn_arg_text(c, 0)));
        if (sv(word) == "CLS") {
            long long end = fn_arg_int(c, 1, kAccLast + 1), start = fn_arg_int(c, 2, 0);
            if (start < 0) start = 0;
            if (end > kAccLast + 1) end = kAccLast + 1;
            for (long long i = start; i < end && !st; i++) {
                int k = static_cast<int>(i);
                st = var_array_write(sr("_#("), &k, 1, Value::number(0));
            }
            num_out(r, m, 0);
            return st;
        }
        // DIM has no action of its own: it reads element 0 plus offset.
        if (sv(word) != "DIM") {
            int pos = acc_name_pos(word);
            if (pos < 0) return num_out(r, m, 0);
            index = pos;
        }
    } else {
        index = fn_arg_int(c, 0, 0);
    }
    long long off = fn_arg_int(c, 1, 0);
    // Any offset this large is out of range anyway; kept small, the sum
    // cannot overflow.
    if (off < -100000 || off > 100000) off = 100000;
    index += off;
    if (index < 0 || index > kAccLast) {
        scr_release(m);
        return ier::DATAOUTBOUND;
    }
    int k = static_cast<int>(index);
    Value v;
    st = var_array_read(sr("_#("), &k, 1, &v);
    scr_release(m);
    if (st) return st;
    *r = v.is_text() ? Value::number(0) : v;
    return 0;
}

// ------------------------------------------------------------ numbers

IER fn_slen(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 1)) return ier::SINTAXERROR;
    if (!need_text(c, 0)) return ier::TypeMismatch;
    ScratchMark m = scr_mark();
    StrRef t = fn_arg_text(c, 0);
    return num_out(r, m, num_from_int(t.n, num_precis()));
}

IER fn_parm_n(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 3)) return ier::SINTAXERROR;
    if (!need_text(c, 0)) return ier::TypeMismatch;
    ScratchMark m = scr_mark();
    int p = num_precis();
    StrRef list = fn_arg_text(c, 0);
    if (c.argc == 1) return num_out(r, m, num_from_int(lst_count(list), p));
    if (c.argc == 3 && !fn_arg_is_text(c, 2)) {
        // Ranges "low-high": which one holds the value.
        long long v = fn_arg_int(c, 1, 0);
        FieldWalk w(list);
        StrRef f;
        int k = 0;
        for (int i = 1; !k && w.next(&f); i++)
            if (str_in_range(f, v)) k = i;
        return num_out(r, m, num_from_int(k, p));
    }
    int pos = lst_pos(list, fn_arg_text(c, 1));
    if (c.argc == 2) return num_out(r, m, num_from_int(pos, p));
    // A lookup table: the number in the same place of the third list.
    Num v = 0;
    if (pos > 0) num_parse(str_trim(lst_field(fn_arg_text(c, 2), pos)), p, &v);
    return num_out(r, m, v);
}

int32_t date_number(StrRef text) {
    std::string_view s = sv(text);
    if (s.size() != 8) return 0;
    int32_t v = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9') return 0;
        v = v * 10 + (ch - '0');
    }
    return v;
}

// A date argument: a number is its digits, a text with a separator is read
// as the user writes dates.
StrRef date_arg(const FnCall& c, int i) {
    if (!fn_arg_is_text(c, i)) {
        Num v = fn_arg_num(c, i);
        return num_text(num_from_int(num_int_part(v, num_precis()), 0), 0);
    }
    return fn_arg_text(c, i);
}

IER fn_valn(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 3)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    int p = num_precis();
    StrRef kind = c.argc > 1 ? str_upper(str_trim(fn_arg_text(c, 1))) : sr("N");
    if (!kind.n) kind = sr("N");
    char k = kind.n == 1 ? kind.p[0] : 0;
    if (k == 'N') {
        // A number is already one; a text is read as a user types it.
        if (!fn_arg_is_text(c, 0)) return num_out(r, m, fn_arg_num(c, 0));
        Num v = 0;
        IER st = num_parse(ft_input_number(fn_arg_text(c, 0)), p, &v);
        if (st) {
            scr_release(m);
            return st;
        }
        return num_out(r, m, v);
    }
    if (k != 'D' && k != 'M' && k != 'Y' && k != 'V') {
        scr_release(m);
        return ier::SINTAXERROR;
    }
    int32_t first = date_number(dt_read(date_arg(c, 0)));
    int unit = k == 'D' ? 1 : k == 'M' ? 2 : 4;
    bool second_is_date = false;
    int32_t n = 0;
    // An empty third argument is an absent one (no move), not today.
    if (fn_arg_is_text(c, 2) && fn_arg_text(c, 2).n) {
        n = date_number(dt_read(fn_arg_text(c, 2)));
        second_is_date = true;
    } else if (fn_arg_present(c, 2) && !fn_arg_is_text(c, 2)) {
        long long v = fn_arg_int(c, 2, 0);
        n = static_cast<int32_t>(v < -100000000 ? -100000000 : v > 99999999 ? 99999999 : v);
        second_is_date = n > 10000;
    }
    int32_t out = 0;
    IER st = 0;
    if (second_is_date) {
        // From the first date to the second; nothing to count with an empty
        // (or invalid) one.
        if (k != 'V' && first && n > 10000) st = dt_arith(n, first, unit, &out);
    } else if (k == 'V') {
        out = first;
    } else {
        st = dt_arith(first, n, unit, &out);
    }
    scr_release(m);
    if (st) return st;
    *r = Value::number(num_from_int(out, p));
    return 0;
}

// ------------------------------------------------------------ FN#ACUM

// The loop variable is an integer variable: a plain name.
bool int_var_name(StrRef t) {
    if (!t.n || var_type(t) != VarType::Int) return false;
    unsigned char c0 = static_cast<unsigned char>(t.p[0]);
    if (!((c0 >= 'A' && c0 <= 'Z') || (c0 >= 'a' && c0 <= 'z') || c0 == '_')) return false;
    for (size_t i = 1; i < t.n; i++) {
        unsigned char ch = static_cast<unsigned char>(t.p[i]);
        if (!((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '_'))
            return false;
    }
    return true;
}

IER acum_add(StrRef expr, Num* sum) {
    Num v = 0;
    if (IER st = eval_num(expr, &v)) return st;
    return num_add(*sum, v, sum);
}

constexpr long long kIntLast = 32767;  // the largest value of an integer variable

// FN#ACUM(expression; variable; start; end).
IER acum_loop(const StrRef* a, Num* sum) {
    StrRef var = a[1];
    if (!int_var_name(var)) return ier::SINTAXERROR;
    int p = num_precis();
    Num start = 0, end = 0;
    Value first;
    IER st = eval_num(a[2], &start);
    if (!st) st = var_assign(var, Value::number(start));
    // The variable holds the start as an integer variable keeps it.
    if (!st) st = var_read(var, &first);
    if (!st) st = eval_num(a[3], &end);
    if (st) return st;
    long long k = num_int_part(first.num, p);
    long long last = num_int_part(end, p);
    // The count runs in a wider integer than the variable: an end of 32767
    // or more stops at the variable's largest value instead of wrapping it
    // round to -32768 and going on for ever.
    if (last > kIntLast) last = kIntLast;
    for (; k <= last && !st; k++) {
        ScratchMark it = scr_mark();
        st = var_assign(var, Value::number(num_from_int(k, p)));
        if (!st) st = acum_add(a[0], sum);
        scr_release(it);
    }
    if (st) return st;
    return var_assign(var, Value::number(num_from_int(k > kIntLast ? kIntLast : k, p)));
}

// FN#ACUM(expression; condition [; next condition]): the conditions advance
// something of their own (a record read).
IER acum_while(const StrRef* a, int n, Num* sum) {
    StrRef cond = a[1];
    StrRef next = n == 3 && a[2].n ? a[2] : cond.n ? cond : sr("0");
    IER t = ex_cond(cond);
    while (t == 1) {
        ScratchMark it = scr_mark();
        IER st = acum_add(a[0], sum);
        scr_release(it);
        if (st) return st;
        t = ex_cond(next);
    }
    return t >= 122 ? t : IER(0);
}

IER fn_acum(const FnCall& c, Value* r) {
    StrRef a[4];
    int n = raw_args(c.raw, a, 4);
    if (n < 2 || n > 4) return ier::SINTAXERROR;
    TextNest nest;
    if (nest.too_deep()) return ier::EXPCALCERROR;
    for (int i = 0; i < n; i++) a[i] = unparen(a[i]);
    ScratchMark m = scr_mark();
    Num sum = 0;
    IER st = n == 4 ? acum_loop(a, &sum) : acum_while(a, n, &sum);
    scr_release(m);
    if (st) return st;
    *r = Value::number(sum);
    return 0;
}

// ------------------------------------------------------------ CHK#, CHK$

IER chk(const FnCall& c, Value* r, bool want_text) {
    if (c.argc < 1) return ier::SINTAXERROR;
    TextNest nest;
    if (nest.too_deep()) return ier::EXPCALCERROR;
    ScratchMark m = scr_mark();
    Num sel = 0;
    if (fn_arg_is_text(c, 0)) num_parse(fn_arg_text(c, 0), num_precis(), &sel);
    else sel = fn_arg_num(c, 0);
    // Only the chosen arguments are evaluated: the others are passed over as
    // written, whatever they would do.
    Value v = want_text ? Value::of_text(sr_empty()) : Value::number(0);
    size_t i = arg_end(c.raw, 0);
    int no = 1;
    IER st = 0;
    while (i < c.raw.n && !st) {
        size_t b = i + 1, e = arg_end(c.raw, b);
        no++;
        bool take = sel ? no == 2 : no > 2;
        if (take) {
            scr_release(m);
            StrRef part = sr(c.raw.p + b, e - b);
            if (part.n) st = eval_text(part, &v);
            else v = want_text ? Value::of_text(sr_empty()) : Value::number(0);
        }
        if (sel && no == 2) break;
        i = e;
    }
    if (st) {
        scr_release(m);
        return st;
    }
    if (v.is_text()) {
        IER kept = text_out(r, m, v.text);
        if (kept) return kept;
    } else {
        num_out(r, m, v.num);
    }
    return v.is_text() != want_text ? IER(ier::TypeWarning) : IER(0);
}

IER fn_chk_n(const FnCall& c, Value* r) { return chk(c, r, false); }
IER fn_chk_t(const FnCall& c, Value* r) { return chk(c, r, true); }

// ------------------------------------------------------------ texts

// The characters of the text that occur in set.
StrRef keep_chars(StrRef text, StrRef set) {
    bool in[256] = {};
    for (size_t i = 0; i < set.n; i++) in[static_cast<unsigned char>(set.p[i])] = true;
    ScrBuild b;
    for (size_t i = 0; i < text.n; i++)
        if (in[static_cast<unsigned char>(text.p[i])]) b.put(text.p[i]);
    return b.done();
}

// Every chunk of the list replaced by the character of the same place: one
// pass from the left, so a replacement is never looked into again. The
// chunks are sorted once, so that a long list costs a search per position
// rather than a comparison with every chunk.
StrRef filter_chunks(StrRef text, StrRef chunks, StrRef chars) {
    size_t k = chars.n, w = k ? chunks.n / k : 0;
    if (!w) return scr_copy(text);
    ScratchMark m = scr_mark();
    IER err = 0;
    auto* order = reinterpret_cast<uint16_t*>(scr_alloc_w(k * sizeof(uint16_t), &err));
    if (!order) return sr_err(err);
    auto chunk = [&](size_t j) { return std::string_view(chunks.p + j * w, w); };
    for (size_t j = 0; j < k; j++) order[j] = static_cast<uint16_t>(j);
    // Equal chunks keep their order: the first of them wins.
    std::stable_sort(order, order + k, [&](uint16_t x, uint16_t y) { return chunk(x) < chunk(y); });
    ScrBuild b;
    for (size_t i = 0; i < text.n;) {
        if (i + w <= text.n) {
            std::string_view here(text.p + i, w);
            uint16_t* at = std::lower_bound(order, order + k, here,
                                            [&](uint16_t x, std::string_view v) { return chunk(x) < v; });
            if (at != order + k && chunk(*at) == here) {
                b.put(chars.p[*at]);
                i += w;
                continue;
            }
        }
        b.put(text.p[i++]);
    }
    return scr_keep(m, b.done());
}

IER fn_chng(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 2, 4)) return ier::SINTAXERROR;
    if (!need_text(c, 0) || !need_text(c, 1) || !need_text(c, 2)) return ier::TypeMismatch;
    ScratchMark m = scr_mark();
    StrRef text = fn_arg_text(c, 0), from = fn_arg_text(c, 1), to = fn_arg_text(c, 2);
    StrRef out;
    std::string_view f = sv(from);
    if (f == "UCASE") out = str_upper(text);
    else if (f == "LCASE") out = str_lower(text);
    else if (f == "CLEAN") out = str_collapse(text, ' ');
    else if (f == "FILTER") out = c.argc < 4 ? keep_chars(text, to) : filter_chunks(text, to, fn_arg_text(c, 3));
    else {
        bool plain = fn_arg_present(c, 3) && !fn_arg_is_text(c, 3) && fn_arg_num(c, 3) != 0;
        out = str_replace(text, from, to, plain);
    }
    return text_out(r, m, out);
}

IER fn_chrs(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 2)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    long long count = fn_arg_int(c, 1, 1);
    StrRef unit;
    char ch = 0;
    if (fn_arg_is_text(c, 0)) {
        unit = fn_arg_text(c, 0);
    } else {
        ch = static_cast<char>(static_cast<unsigned long long>(fn_arg_int(c, 0, 0)) & 0xFF);
        unit = sr(&ch, 1);
    }
    if (count <= 0 || !unit.n) return text_out(r, m, scr_copy(sr_empty()));
    if (static_cast<unsigned long long>(count) * unit.n > kStrMax) {
        scr_release(m);
        return ier::STRINGTOOLONG;
    }
    return text_out(r, m, str_repeat(unit, static_cast<int>(count)));
}

IER fn_date(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 0, 2)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    long long format = fn_arg_int(c, 1, 0);
    if (format < 0 || format > 255) format = 127;  // no such format: the empty text
    StrRef date = c.argc ? date_arg(c, 0) : sr_empty();
    if (format & 128) {
        // The first argument names a file: its last-written date.
        StrRef name = env_expand(fn_arg_text(c, 0));
        plat::FileInfo fi;
        if (!sr_ok(name) || !plat::file_info(sv(name), &fi)) return text_out(r, m, scr_copy(sr_empty()));
        std::time_t t = static_cast<std::time_t>(fi.written);
        std::tm tm{};
        localtime_r(&t, &tm);
        date = num_text((tm.tm_year + 1900) * 10000LL + (tm.tm_mon + 1) * 100 + tm.tm_mday, 0);
    } else if (sv(date).find_first_of("-./") != std::string_view::npos) {
        // A date the user wrote wrongly shows as no date, not as today's.
        date = dt_read(date);
        if (sr_ok(date) && !str_trim(date).n) date = sr("00000000");
    }
    return text_out(r, m, dt_format(date, static_cast<int>(format & 127)));
}

IER fn_mask(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 2, 3)) return ier::SINTAXERROR;
    if (!need_text(c, 0)) return ier::TypeMismatch;
    ScratchMark m = scr_mark();
    long long mode = fn_arg_int(c, 2, 255);
    if (mode < 0 || mode > 255) mode = 255;
    return text_out(r, m, ft_mask(fn_arg_text(c, 0), fn_arg_text(c, 1), static_cast<int>(mode)));
}

IER fn_mids(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 2, 3)) return ier::SINTAXERROR;
    if (!need_text(c, 0)) return ier::TypeMismatch;
    ScratchMark m = scr_mark();
    StrRef t = fn_arg_text(c, 0);
    long long n = t.n;
    long long start = fn_arg_int(c, 1, 1);
    long long len = fn_arg_int(c, 2, n);
    // 1-based; -1 is the last character; a start before the first one is
    // the first one.
    long long b = start < 0 ? n + start : start - 1;
    if (b < 0) b = 0;
    if (b > n) b = n;
    if (len < 0) len = 0;
    if (len > n - b) len = n - b;
    return text_out(r, m, scr_copy(sr(t.p + b, static_cast<size_t>(len))));
}

IER fn_parm(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 3)) return ier::SINTAXERROR;
    if (!need_text(c, 0)) return ier::TypeMismatch;
    ScratchMark m = scr_mark();
    long long n = fn_arg_int(c, 1, 0);
    char sep = char_arg(c, 2, ',');
    if (n < 1 || n > 65535) return text_out(r, m, scr_copy(sr_empty()));
    return text_out(r, m, scr_copy(lst_field(fn_arg_text(c, 0), static_cast<int>(n), sep)));
}

IER fn_trim(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 2)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    StrRef t = fn_arg_text(c, 0);
    int mode = 3;
    StrRef word = fn_arg_present(c, 1) ? str_upper(str_trim(fn_arg_text(c, 1))) : sr_empty();
    if (word.n) {
        mode = lst_pos(sr("LEFTTRIM,RIGHTRIM,BOTHTRIM,FIT"), word);
        if (!mode) {
            scr_release(m);
            return ier::SINTAXERROR;
        }
    }
    return text_out(r, m, mode == 4 ? str_normalize(t) : scr_copy(str_trim(t, mode)));
}

IER fn_envelop(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 2)) return ier::SINTAXERROR;
    if (!need_text(c, 0)) return ier::TypeMismatch;
    ScratchMark m = scr_mark();
    return text_out(r, m, str_wrap(fn_arg_text(c, 0), char_arg(c, 1, '\'')));
}

IER fn_macro(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 3)) return ier::SINTAXERROR;
    if (!need_text(c, 0) || !need_text(c, 2)) return ier::TypeMismatch;
    TextNest nest;
    if (nest.too_deep()) return ier::EXPCALCERROR;
    ScratchMark m = scr_mark();
    long long flags = fn_arg_int(c, 1, 0);
    if (flags < 0 || flags > 0xFFFF) flags = 0;
    int f = static_cast<int>(flags);
    // Flag 8 is this function's own (evaluate what comes out); flag 4 means
    // a lookup of words, for which the other flags are fixed.
    int bflags = (f & brk::Lookup) ? (brk::Plain | brk::Lookup | brk::EmptyStays) : (f & ~8);
    StrRef out = ex_brackets(fn_arg_text(c, 0), bflags, fn_arg_text(c, 2));
    if (sr_ok(out) && (f & 8)) out = ex_text(str_trim(out));
    return text_out(r, m, out);
}

IER fn_environ(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 2)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    long long item = fn_arg_int(c, 1, 1);
    if (item < 0 || item >= kStrItemsMax) return text_out(r, m, scr_copy(sr_empty()));
    // The item may move when the string table changes: a copy is returned.
    if (item >= 2) return text_out(r, m, scr_copy(env_get(static_cast<int>(item))));
    if (!need_text(c, 0)) {
        scr_release(m);
        return ier::TypeMismatch;
    }
    StrRef v = str_keyword(env_get(static_cast<int>(item)), str_trim(fn_arg_text(c, 0)), 1);
    return text_out(r, m, scr_copy(v));
}

IER fn_time(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 0, 2)) return ier::SINTAXERROR;
    if (!need_text(c, 0)) return ier::TypeMismatch;
    ScratchMark m = scr_mark();
    long long format = fn_arg_int(c, 1, 0);
    if (format < 0 || format > 255) format = 0;
    int32_t ms = 0;
    if (format & 128) {
        // The argument names a file: the time of day it was last written.
        StrRef name = env_expand(fn_arg_text(c, 0));
        plat::FileInfo fi;
        if (!sr_ok(name) || !plat::file_info(sv(name), &fi)) return text_out(r, m, scr_copy(sr_empty()));
        std::time_t t = static_cast<std::time_t>(fi.written);
        std::tm tm{};
        localtime_r(&t, &tm);
        ms = ((tm.tm_hour * 60 + tm.tm_min) * 60 + tm.tm_sec) * 1000;
    } else {
        ms = tm_read(fn_arg_text(c, 0));
    }
    return text_out(r, m, tm_format(ms, static_cast<int>(format & 127)));
}

// ------------------------------------------------------------ EXP$

inline bool exp_op_char(char c) {
    return c != '\0' && std::string_view("*/!%\xF7+-(;,:)=><&@|").find(c) != std::string_view::npos;
}

constexpr int kExpOperandsMax = 1024;

IER fn_exp(const FnCall& c, Value* r) {
    if (c.argc < 1) return ier::SINTAXERROR;
    if (!need_text(c, 0)) return ier::TypeMismatch;
    ScratchMark m = scr_mark();
    StrRef tpl = fn_arg_text(c, 0);
    // The operands after the template, as written: the texts between
    // operator characters and separators, quotes kept whole.
    StrRef ops[kExpOperandsMax];
    int nops = 0;
    size_t i = arg_end(c.raw, 0);
    if (i < c.raw.n) i++;
    size_t b = i;
    for (; i <= c.raw.n && nops < kExpOperandsMax; i++) {
        if (i < c.raw.n && quote_char(c.raw.p[i])) {
            size_t k = i + 1;
            while (k < c.raw.n && c.raw.p[k] != c.raw.p[i]) k++;
            i = k < c.raw.n ? k : c.raw.n - 1;
            continue;
        }
        if (i == c.raw.n || exp_op_char(c.raw.p[i])) {
            if (i > b) ops[nops++] = sr(c.raw.p + b, i - b);
            b = i + 1;
        }
    }
    // "$n_" becomes operand n, in one pass, so an operand is never looked
    // into again; a placeholder without an operand stays as written.
    ScrBuild out;
    for (size_t k = 0; k < tpl.n;) {
        if (tpl.p[k] == '$') {
            size_t d = k + 1;
            long long no = 0;
            while (d < tpl.n && tpl.p[d] >= '0' && tpl.p[d] <= '9' && d - k <= 6) no = no * 10 + (tpl.p[d++] - '0');
            if (d > k + 1 && d < tpl.n && tpl.p[d] == '_' && no >= 1 && no <= nops) {
                out.put(ops[no - 1]);
                k = d + 1;
                continue;
            }
        }
        out.put(tpl.p[k++]);
    }
    return text_out(r, m, out.done());
}

}  // namespace

void fn_text_install() {
    fn_set_builtin(fnno::Acc, fn_acc);
    fn_set_builtin(fnno::SLen, fn_slen);
    fn_set_builtin(fnno::ParmN, fn_parm_n);
    fn_set_builtin(fnno::ValN, fn_valn);
    fn_set_builtin(fnno::Acum, fn_acum, FnArgs::Raw);
    fn_set_builtin(fnno::ChkN, fn_chk_n, FnArgs::First);
    fn_set_builtin(fnno::Chng, fn_chng);
    fn_set_builtin(fnno::Chrs, fn_chrs);
    fn_set_builtin(fnno::Date, fn_date);
    fn_set_builtin(fnno::Mask, fn_mask);
    fn_set_builtin(fnno::Mids, fn_mids);
    fn_set_builtin(fnno::Parm, fn_parm);
    fn_set_builtin(fnno::Trim, fn_trim);
    fn_set_builtin(fnno::Envelop, fn_envelop);
    fn_set_builtin(fnno::ChkT, fn_chk_t, FnArgs::First);
    fn_set_builtin(fnno::Macro, fn_macro);
    fn_set_builtin(fnno::Environ, fn_environ);
    fn_set_builtin(fnno::Time, fn_time);
    fn_set_builtin(fnno::Exp, fn_exp, FnArgs::First);
}

}  // namespace rt
