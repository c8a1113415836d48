#include "runtime/expr/eval.h"

#include <cstdlib>
#include <cstring>

#include "runtime/core/cmdline.h"
#include "runtime/core/env.h"
#include "runtime/core/hooks.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/ftype.h"
#include "runtime/expr/fnimpl.h"
#include "runtime/expr/func.h"
#include "runtime/expr/vars.h"

namespace rt {
namespace {

// ------------------------------------------------------------ characters

constexpr char kDivide = static_cast<char>(0xF7);  // the "÷" of Windows-1252

struct OpTable {
    bool op[256] = {};
    constexpr OpTable() {
        const char chars[] = "*/!%\xF7+-(;,:)=><&@|";
        for (const char* c = chars; *c; c++) op[static_cast<unsigned char>(*c)] = true;
    }
};
constexpr OpTable kOps;
inline bool is_op_char(char c) { return kOps.op[static_cast<unsigned char>(c)]; }
inline bool is_quote_char(char c) { return c == '\'' || c == '"'; }
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Precedence by operator number; -1 for "no operator".
constexpr int kPrec[21] = {-1, 4, 4, 4, 4, 4, 3, 3, 0, 2, 2, 2, 2, 2, 2, 1, 5, 1, 1, 1, 1};

// What follows an operand when it is not an operator.
constexpr int kEndExpr = -1;  // ';' or ','
constexpr int kEndText = -2;  // the end of the range

// The operator at s[i] (and s[i+1]); 0 when it is not one of the list.
int op_at(const char* s, size_t i, size_t end, size_t* len) {
    char c = s[i];
    char d = i + 1 < end ? s[i + 1] : '\0';
    *len = 1;
    if (d == '=' || d == '>' || d == '<' || d == '&' || d == '@' || d == '|') {
        int two = 0;
        if (c == '=' && d == '=') two = exop::Eq;
        else if (c == '>' && d == '=') two = exop::Ge;
        else if (c == '<' && d == '=') two = exop::Le;
        else if (c == '<' && d == '>') two = exop::Ne;
        else if (c == '&' && d == '&') two = exop::And;
        else if (c == '|' && d == '|') two = exop::Or;
        else if (c == '@' && d == '@') two = exop::Xor;
        *len = 2;
        return two;  // any other pair is not an operator
    }
    switch (c) {
    case '*': return exop::Mul;
    case '/': return exop::Div;
    case '!': return exop::Round;
    case '%': return exop::Percent;
    case kDivide: return exop::Discount;
    case '+': return exop::Add;
    case '-': return exop::Sub;
    case '=': return exop::Assign;
    case '>': return exop::Gt;
    case '<': return exop::Lt;
    case '&': return exop::BitAnd;
    case '|': return exop::BitOr;
    case '@': return exop::At;
    default: return 0;  // ':', ')' or '(' in an operator's place
    }
}

// What the characters of an operand's text say of its kind.
enum : uint8_t { kHasQuote = 1, kHasBrace = 2, kHasDollar = 4, kHasHash = 8 };

// Position of the next operator character outside quotes, or end. An
// unclosed quote hides the rest. *shape collects what the text before it
// holds.
size_t next_op(const char* s, size_t i, size_t end, uint8_t* shape = nullptr) {
    uint8_t f = 0;
    for (; i < end; i++) {
        char c = s[i];
        if (is_quote_char(c)) {
            f |= kHasQuote;
            const void* close = std::memchr(s + i + 1, c, end - i - 1);
            if (!close) {
                i = end;
                break;
            }
            i = static_cast<size_t>(static_cast<const char*>(close) - s);
        } else if (is_op_char(c)) {
            break;
        } else if (c == '{') {
            f |= kHasBrace;
        } else if (c == '$') {
            f |= kHasDollar;
        } else if (c == '#') {
            f |= kHasHash;
        }
    }
    if (shape) *shape = f;
    return i < end ? i : end;
}

// Walks [i, end) outside quotes at parenthesis depth: stops at the ')'
// that closes the '(' at i (want_close), or at a ';' or ',' of depth 0.
// Returns end when there is none or an unclosed quote hides the rest.
size_t walk(const char* s, size_t i, size_t end, bool want_close) {
    int depth = 0;
    for (; i < end; i++) {
        char c = s[i];
        if (is_quote_char(c)) {
            const void* close = std::memchr(s + i + 1, c, end - i - 1);
            if (!close) return end;
            i = static_cast<size_t>(static_cast<const char*>(close) - s);
        } else if (c == '(') {
            depth++;
        } else if (c == ')') {
            if (--depth == 0 && want_close) return i;
        } else if (!want_close && depth == 0 && (c == ';' || c == ',')) {
            return i;
        }
    }
    return end;
}

// The ')' matching the '(' at i, outside quotes; end when there is none.
size_t match_paren(const char* s, size_t i, size_t end) { return walk(s, i, end, true); }

// Splits [from, end) at ';' or ',' outside parentheses and quotes: returns
// the end of the first part.
size_t part_end(const char* s, size_t i, size_t end) { return walk(s, i, end, false); }

// ------------------------------------------------------------ cursor

struct Cursor {
    const char* s;
    size_t end;
    size_t pos;       // start of the operand
    size_t ostart, olen;
    bool paren;       // a parenthesised part follows the operand
    size_t pstart, plen;
    int op;           // operator after the operand, kEndExpr, kEndText or 0
    size_t next;      // position after the operator
    uint8_t shape;    // of the operand's text (its name for a call)
};

// One scanner step from c.pos.
IER scan(Cursor& c) {
    const char* s = c.s;
    size_t i = next_op(s, c.pos, c.end, &c.shape);
    c.ostart = c.pos;
    c.paren = false;
    c.olen = i - c.pos;
    if (i < c.end && s[i] == '(') {
        size_t close = match_paren(s, i, c.end);
        if (close >= c.end) return ier::LoopFailure;
        c.paren = true;
        c.pstart = i + 1;
        c.plen = close - i - 1;
        i = next_op(s, close + 1, c.end);
        // Anything between the ')' and the next operator belongs to no one.
        if (i != close + 1) return ier::SINTAXERROR;
    }
    if (i >= c.end) {
        c.op = kEndText;
        c.next = c.end;
        return 0;
    }
    char ch = s[i];
    if (ch == ';' || ch == ',') {
        c.op = kEndExpr;
        c.next = i + 1;
        return 0;
    }
    size_t len = 1;
    c.op = op_at(s, i, c.end, &len);
    c.next = i + len;
    return c.op ? IER(0) : IER(ier::SINTAXERROR);
}

// ------------------------------------------------------------ operands

enum class Lv : uint8_t { None, Var, Element, Field };

// What an operand is, for assignment and for the numeric-field rule.
struct Operand {
    uint8_t shape = 0;
    Lv lv = Lv::None;
    bool lazy = false;      // not evaluated yet (the target of an '=')
    bool null = false;      // empty operand
    bool null_end = false;  // empty, and nothing follows
    bool num_field = false; // a field of a numeric type
    StrRef name{};          // the operand's text
    StrRef inner{};         // inside its parentheses
};

constexpr std::string_view kDotConstants =
    "envron,lang,cmdline,apname,apdesc,langmodule,docpath,docroot,helppath,funclist,butlabels,maskparms,"
    "datem,datey,envvar,maincond,pdfhead,dialog,aux,scrbuf,fsel,wret,fnparm,usrfil,fileln,usrfif,top,next,"
    "previous,bottom,noprint,iscgi";
constexpr int kDotValues[] = {0,  0,  1,  2,  3,  4,  5,  5,  7,  8,  9,  10, 100, 10000, 9,  1,    3,
                              7,  31, 32, 33, 34, 35, 36, 37, 38, 36, 16, 20, 32,  8192,  16384};

const FieldPort* g_fields = nullptr;

// Nesting (groups, arguments, signs, and evaluations started from inside an
// evaluation by a function) deeper than this is refused rather than allowed
// to exhaust the stack. The count is shared by all evaluations.
constexpr int kNestMax = 400;
int nest_ = 0;

class Evaluator {
public:
    // Evaluates the expressions of [0, n) of s; the value of the last.
    IER list(const char* s, size_t n, Value* out, int depth);

private:
    IER expr(Cursor& c, Value& v);
    IER climb(Cursor& c, int minprec, Value& left, Operand& lo);
    IER operand(Cursor& c, Value& v, Operand& o);
    IER value_of(Value& v, Operand& o);
    IER call(Operand& o, Value& v);
    IER indices(StrRef inner, int* idx, int* dims);
    IER field_parts(StrRef ref, FieldRef* f);
    IER assign(Operand& o, const Value& v);
    IER apply(int op, Value& l, const Operand& lo, const Value& r);

    IER warn_ = 0;
    struct Nest {
        int& n;
        explicit Nest(int& k) : n(k) { n++; }
        ~Nest() { n--; }
    };
};

IER Evaluator::list(const char* s, size_t n, Value* out, int depth) {
    Nest guard(nest_);
    if (nest_ > kNestMax) return ier::EXPCALCERROR;
    Cursor c{s, n, 0, 0, 0, false, 0, 0, kEndText, 0, 0};
    IER st = 0;
    *out = Value::number(0);
    for (;;) {
        size_t start = c.pos;
        Value v;
        st = expr(c, v);
        if (st >= 128 || st == ier::UserCanceled) {
            if (depth == 0 && st >= 128) {
                err_origin(1, mod::ExpExec, st);
                err_detail(st, sr(s + start, n - start), true);
            }
            return st;
        }
        *out = v;
        if (c.op == kEndText) return depth == 0 && !st && warn_ ? warn_ : st;
        c.pos = c.next;
    }
}

IER Evaluator::expr(Cursor& c, Value& v) {
    Operand o;
    IER st = operand(c, v, o);
    if (st) return st;
    if (o.null_end) {
        v = Value::number(0);
        return ier::NullExpression;
    }
    if ((st = climb(c, 0, v, o))) return st;
    if ((st = value_of(v, o))) return st;
    if (c.op != kEndExpr && c.op != kEndText) return ier::SINTAXERROR;
    return 0;
}

IER Evaluator::climb(Cursor& c, int minprec, Value& left, Operand& lo) {
    IER st = 0;
    while (c.op > 0 && kPrec[c.op] >= minprec) {
        int op = c.op;
        if (op == exop::Assign) {
            // Right-associative: the whole rest, further '=' included, is
            // the value; the left operand is only the place it goes.
            if (!lo.lazy) return ier::SINTAXERROR;
            c.pos = c.next;
            Value r;
            Operand ro;
            if ((st = operand(c, r, ro))) return st;
            if (ro.null_end) return ier::SINTAXERROR;
            if ((st = climb(c, 0, r, ro)) || (st = value_of(r, ro))) return st;
            if ((st = assign(lo, r))) return st;
            left = r;
            lo = Operand{};
            continue;
        }
        if ((st = value_of(left, lo))) return st;
        c.pos = c.next;
        Value r;
        Operand ro;
        if ((st = operand(c, r, ro))) return st;
        if (ro.null_end || (ro.null && left.is_text())) return ier::SINTAXERROR;
        while (c.op > 0 && kPrec[c.op] > kPrec[op])
            if ((st = climb(c, kPrec[c.op], r, ro))) return st;
        if ((st = value_of(r, ro))) return st;
        if ((st = apply(op, left, lo, r))) return st;
        lo = Operand{};
    }
    return 0;
}

IER Evaluator::operand(Cursor& c, Value& v, Operand& o) {
    Nest guard(nest_);
    if (nest_ > kNestMax) return ier::EXPCALCERROR;
    IER st = scan(c);
    if (st) return st;
    o = Operand{};
    o.name = sr(c.s + c.ostart, c.olen);
    if (c.paren) o.inner = sr(c.s + c.pstart, c.plen);
    if (!c.olen && !c.paren) {
        if (c.op == exop::Add || c.op == exop::Sub) {
            // A sign: it takes the operand after it and what binds tighter
            // than a sum (so 2*-3+1 is -5, and 1+-2 is -1).
            int sign = c.op;
            c.pos = c.next;
            Operand io;
            if ((st = operand(c, v, io))) return st;
            if (io.null_end) return ier::SINTAXERROR;
            if ((st = value_of(v, io))) return st;
            while (c.op > 0 && kPrec[c.op] > kPrec[exop::Add])
                if ((st = climb(c, kPrec[c.op], v, io)) || (st = value_of(v, io))) return st;
            if (v.is_text()) return ier::SINTAXERROR;
            if (sign == exop::Sub) {
                if (v.num == INT64_MIN) return ier::EXPCALCERROR;
                v.num = -v.num;
            }
            return 0;
        }
        o.null = true;
        o.null_end = c.op == kEndExpr || c.op == kEndText;
        v = Value::number(0);
        return 0;
    }
    // The target of an assignment is not read.
    std::string_view n = sv(o.name);
    o.shape = c.shape;
    if (c.op == exop::Assign) {
        int fno = c.paren && c.olen ? fn_lookup(o.name) : -1;
        if (fno == 0 || fno == fnno::Acc) o.lv = Lv::Element;  // _#(n)=v sets an accumulator
        else if (!c.paren && (o.shape & kHasBrace) && !(o.shape & kHasQuote))
            o.lv = Lv::Field;
        else if (!c.paren && c.olen && !(o.shape & kHasQuote) &&
                 ((o.shape & (kHasDollar | kHasHash)) || static_cast<unsigned char>(n[0]) >= 'A'))
            o.lv = Lv::Var;
        if (o.lv != Lv::None) {
            o.lazy = true;
            return 0;
        }
    }
    o.lazy = true;
    return value_of(v, o);
}

// Reads the value of an operand that has not been read yet.
IER Evaluator::value_of(Value& v, Operand& o) {
    if (!o.lazy) return 0;
    o.lazy = false;
    std::string_view n = sv(o.name);
    if (o.inner.p && !o.name.n) return list(o.inner.p, o.inner.n, &v, 1);  // a group
    if (o.inner.p) return call(o, v);
    if (o.shape & kHasQuote) {
        StrRef t = str_normalize(o.name);
        if (!sr_ok(t)) return sr_status(t);
        v = Value::of_text(t);
        return 0;
    }
    if (o.shape & kHasBrace) {
        FieldRef f;
        IER st = field_parts(o.name, &f);
        if (st) return st;
        StrRef text = sr_empty();
        if (!g_fields || !g_fields->read) return ier::FILEOUTBOUND;
        if ((st = g_fields->read(f, &text))) return st;
        o.num_field = ft_is_numeric(f.type);
        if (o.num_field) {
            Num x = 0;
            num_parse(text, num_precis(), &x);
            v = Value::number(x);
        } else {
            v = Value::of_text(text);
        }
        return 0;
    }
    if ((o.shape & (kHasDollar | kHasHash)) || static_cast<unsigned char>(n[0]) >= 'A')
        return var_read(o.name, &v);
    // A number literal, or a dot-constant.
    int p = num_precis();
    if (n.size() > 1 && n[0] == '.' && ((n[1] | 0x20) >= 'a' && (n[1] | 0x20) <= 'z')) {
        int k = lst_pos(kDotConstants, n.substr(1));
        v = Value::number(k ? num_from_int(kDotValues[k - 1], p) : 0);
        return 0;
    }
    Num x = 0;
    IER st = num_parse(o.name, p, &x);
    v = Value::number(x);
    return st;
}

IER Evaluator::indices(StrRef inner, int* idx, int* dims) {
    *dims = 0;
    size_t i = 0;
    int p = num_precis();
    while (i <= inner.n) {
        size_t e = part_end(inner.p, i, inner.n);
        if (*dims == kArrayDimsMax) return ier::DIMSTRUCERROR;
        Value v;
        IER st = list(inner.p + i, e - i, &v, 1);
        if (st >= 122 && st != ier::NullExpression) return st;
        if (v.is_text()) return ier::TypeMismatch;
        long long k = num_int_part(v.num, p);
        idx[(*dims)++] = k < -1 ? -1 : k > 65535 ? 65536 : static_cast<int>(k);
        if (e >= inner.n) break;
        i = e + 1;
    }
    return 0;
}

IER Evaluator::call(Operand& o, Value& v) {
    int fn = fn_lookup(o.name);
    if (fn) {
        FnCall call;
        call.number = fn;
        call.name = o.name;
        call.raw = o.inner;
        int base = st_count(grp::StkArgs);
        IER st = 0;
        FnArgs mode = fn_args(fn);
        if (mode != FnArgs::Raw && o.inner.n) {
            size_t i = 0;
            while (i <= o.inner.n && call.argc < kFnArgsMax) {
                size_t e = part_end(o.inner.p, i, o.inner.n);
                Value a;
                if (e == i) {
                    a = Value::of_text(sr_empty());  // an empty argument
                } else {
                    st = list(o.inner.p + i, e - i, &a, 1);
                    if (st >= 122 && st != ier::NullExpression) break;
                    st = 0;
                }
                Num raw = a.num;
                IER ps = a.is_text() ? st_push(grp::StkArgs, a.text) : st_push(grp::StkArgs, sr(reinterpret_cast<const char*>(&raw), sizeof raw));
                if (ps) {
                    st = ps;
                    break;
                }
                call.kinds[call.argc++] = a.is_text() ? 1 : 0;
                if (mode == FnArgs::First || e >= o.inner.n) break;
                i = e + 1;
            }
        }
        if (!st) st = fn_invoke(call, &v);
        st_popto(grp::StkArgs, base);
        if (st >= 128 || st == ier::UserCanceled) return st;
        // A warning does not cut the expression short: it is the status of
        // the whole evaluation when nothing worse happens.
        if (st > ier::UserCanceled) warn_ = st;
        // The name decides the kind of the result.
        bool want_text = fn_returns_text(o.name);
        if (want_text && !v.is_text()) v = Value::of_text(num_text(v.num, num_precis()));
        else if (!want_text && v.is_text()) {
            Num x = 0;
            num_parse(v.text, num_precis(), &x);
            v = Value::number(x);
        }
        return st < 128 ? IER(0) : st;
    }
    std::string_view n = sv(o.name);
    auto* line_column = hk_get_as<StrRef(StrRef, int)>(hook::LineColumn);
    if (n[0] == '_' && line_column) {
        int idx[kArrayDimsMax], dims = 0;
        if (IER st = indices(o.inner, idx, &dims)) return st;
        StrRef t = line_column(o.name, dims ? idx[0] : 0);
        if (!sr_ok(t)) return sr_status(t);
        if (var_type(o.name) == VarType::Text) {
            v = Value::of_text(t);
        } else {
            Num x = 0;
            num_parse(t, num_precis(), &x);
            v = Value::number(x);
        }
        return 0;
    }
    int idx[kArrayDimsMax], dims = 0;
    if (IER st = indices(o.inner, idx, &dims)) return st;
    // The array's name is written with its '(' right after it.
    return var_array_read(sr(o.name.p, o.name.n + 1), idx, dims, &v);
}

IER Evaluator::field_parts(StrRef ref, FieldRef* f) {
    std::string_view r = sv(ref);
    size_t open = r.find('{');
    size_t close = r.find('}');
    IER st = 0;
    if (open == std::string_view::npos || close != r.size() - 1 || close < open || !g_fields) {
        st = !g_fields && open != std::string_view::npos && close == r.size() - 1 ? IER(ier::FILEOUTBOUND)
                                                                                   : IER(ier::SINTAXERROR);
    } else {
        st = g_fields->resolve(sr(r.substr(open + 1, close - open - 1)), sr(r.substr(0, open)), f);
    }
    if (st == ier::SINTAXERROR) {
        ScratchMark m = scr_mark();
        ScrBuild b;
        b.put("Field:").put(r);
        err_detail(st, b.done(), true);
        scr_release(m);
    }
    return st;
}

IER Evaluator::assign(Operand& o, const Value& v) {
    switch (o.lv) {
    case Lv::Var:
        return var_assign(o.name, v);
    case Lv::Element: {
        int idx[kArrayDimsMax], dims = 0;
        if (IER st = indices(o.inner, idx, &dims)) return st;
        if (fn_lookup(o.name) == fnno::Acc)
            if (IER st = fn_acc_ready()) return st;
        return var_array_write(sr(o.name.p, o.name.n + 1), idx, dims, v);
    }
    case Lv::Field: {
        FieldRef f;
        if (IER st = field_parts(o.name, &f)) return st;
        if (!g_fields->write) return ier::FILEOUTBOUND;
        StrRef t = v.is_text() ? v.text : num_text(v.num, num_precis());
        return g_fields->write(f, t);
    }
    default:
        return ier::SINTAXERROR;
    }
}

// "==" with a '*' in the right text: a pattern, compared ignoring case.
bool wild_equal(std::string_view l, std::string_view r) {
    auto ieq = [](char a, char b) {
        unsigned char x = static_cast<unsigned char>(a), y = static_cast<unsigned char>(b);
        if (x >= 'a' && x <= 'z') x -= 32;
        if (y >= 'a' && y <= 'z') y -= 32;
        return x == y;
    };
    if (r.empty() || r[0] != '*') {
        std::string_view head = r.substr(0, r.find('*'));
        if (l.size() < head.size()) return false;
        for (size_t i = 0; i < head.size(); i++)
            if (!ieq(l[i], head[i])) return false;
        return true;
    }
    std::string_view part = r.substr(1);
    part = part.substr(0, part.find('*'));
    if (part.size() > l.size()) return false;
    for (size_t i = 0; i + part.size() <= l.size(); i++) {
        size_t k = 0;
        while (k < part.size() && ieq(l[i + k], part[k])) k++;
        if (k == part.size()) return true;
    }
    return false;
}

IER Evaluator::apply(int op, Value& l, const Operand& lo, const Value& r) {
    int p = num_precis();
    Num one = pow10i(p);
    Value rv = r;
    if (l.is_text() != rv.is_text()) {
        if (!l.is_text() && lo.num_field && rv.is_text()) {
            Num x = 0;
            num_parse(rv.text, p, &x);
            rv = Value::number(x);
        } else {
            return ier::TypeMismatch;
        }
    }
    if (l.is_text()) {
        int cmp = 0;
        switch (op) {
        case exop::Add: {
            StrRef t = str_concat(l.text, rv.text);
            if (!sr_ok(t)) return sr_status(t);
            l = Value::of_text(t);
            return 0;
        }
        case exop::Gt: case exop::Lt: case exop::Ge: case exop::Le: case exop::Ne: case exop::Eq:
            cmp = str_compare(l.text, rv.text);
            break;
        default:
            return ier::SINTAXERROR;
        }
        bool res = false;
        switch (op) {
        case exop::Gt: res = cmp > 0; break;
        case exop::Lt: res = cmp < 0; break;
        case exop::Ge: res = cmp >= 0; break;
        case exop::Le: res = cmp <= 0; break;
        case exop::Ne: res = cmp != 0; break;
        default:
            res = cmp == 0;
            if (!res && !(sysv_get(sysv::AUXSTAT) & 128) && sv(rv.text).find('*') != std::string_view::npos)
                res = wild_equal(sv(l.text), sv(rv.text));
            break;
        }
        l = Value::number(res ? one : 0);
        return 0;
    }
    Num a = l.num, b = rv.num, out = 0;
    IER st = 0;
    long long ia = a / (one ? one : 1), ib = b / (one ? one : 1);
    switch (op) {
    case exop::Mul: st = num_mul(a, b, p, &out); break;
    case exop::Div: st = num_div(a, b, p, &out); break;
    case exop::Round: {
        long long places = ib;
        st = num_round_places(a, places < -100 ? -100 : places > 100 ? 100 : static_cast<int>(places), p, &out);
        break;
    }
    case exop::Percent: st = num_percent(a, b, p, &out); break;
    case exop::Discount: {
        Num pc = 0;
        st = num_percent(a, b, p, &pc);
        if (!st) st = num_sub(a, pc, &out);
        break;
    }
    case exop::Add: st = num_add(a, b, &out); break;
    case exop::Sub: st = num_sub(a, b, &out); break;
    case exop::Gt: out = a > b ? one : 0; break;
    case exop::Lt: out = a < b ? one : 0; break;
    case exop::Eq: out = a == b ? one : 0; break;
    case exop::Ge: out = a >= b ? one : 0; break;
    case exop::Le: out = a <= b ? one : 0; break;
    case exop::Ne: out = a != b ? one : 0; break;
    case exop::BitAnd: out = num_from_int(ia & ib, p); break;
    case exop::BitOr:
    case exop::At: out = num_from_int((ia & ib) ? 0 : (ia | ib), p); break;
    case exop::And: out = (a && b) ? one : 0; break;
    case exop::Or: out = (a || b) ? one : 0; break;
    case exop::Xor: out = ((ia || ib) && !(ia & ib)) ? one : 0; break;
    default: return ier::SINTAXERROR;
    }
    if (st) return st;
    l = Value::number(out);
    return 0;
}

// ------------------------------------------------------------ preparing

constexpr std::string_view kAcceptNum = "_ACCEPT#(";
constexpr std::string_view kAcceptText = "_ACCEPT$(";
constexpr std::string_view kAcceptNumBody = "FN#VALN(FN$TRIM(FN$PARM(_$(.envvar;.dialog);%s);'FIT'))";
constexpr std::string_view kAcceptTextBody = "FN$TRIM(FN$PARM(_$(.envvar;.dialog);%s);'FIT')";

// Checks the text and takes out its blanks (and expands the two macros).
// The result is the text itself when there was nothing to change.
IER prepare(StrRef text, StrRef* out) {
    const char* s = text.p;
    size_t n = text.n;
    int depth = 0;
    bool blanks = false, macros = false;
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        if (is_quote_char(c)) {
            const void* close = std::memchr(s + i + 1, c, n - i - 1);
            if (!close) break;
            i = static_cast<size_t>(static_cast<const char*>(close) - s);
        } else if (c == '(') {
            depth++;
            if (i >= 8 && s[i - 8] == '_' && (sv(sr(s + i - 8, 9)) == kAcceptNum || sv(sr(s + i - 8, 9)) == kAcceptText))
                macros = true;
        } else if (c == ')') {
            depth--;
        } else if (is_blank(c)) {
            size_t j = i;
            while (j < n && is_blank(s[j])) j++;
            bool ok = (i > 0 && is_op_char(s[i - 1])) || (j < n && is_op_char(s[j]));
            if (!ok) return err_detail(ier::SINTAXERROR, sr(s + j, n - j), true);
            blanks = true;
            i = j - 1;
        }
    }
    if (depth != 0) return err_detail(ier::LoopFailure, text, true);
    if (!blanks && !macros) {
        *out = text;
        return 0;
    }
    ScrBuild b;
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        if (is_quote_char(c)) {
            const void* close = std::memchr(s + i + 1, c, n - i - 1);
            size_t e = close ? static_cast<size_t>(static_cast<const char*>(close) - s) : n - 1;
            b.put(sr(s + i, e - i + 1));
            i = e;
        } else if (!is_blank(c)) {
            b.put(c);
        }
    }
    StrRef plain = b.done();
    if (!sr_ok(plain) || !macros) {
        *out = plain;
        return sr_status(plain);
    }
    // Each macro with its argument becomes the expression it stands for.
    ScrBuild m;
    const char* p = plain.p;
    size_t pn = plain.n;
    for (size_t i = 0; i < pn;) {
        std::string_view rest(p + i, pn - i);
        bool num = rest.substr(0, kAcceptNum.size()) == kAcceptNum;
        bool txt = rest.substr(0, kAcceptText.size()) == kAcceptText;
        if (num || txt) {
            size_t open = i + kAcceptNum.size() - 1;
            size_t close = match_paren(p, open, pn);
            std::string_view arg(p + open + 1, close - open - 1);
            std::string_view body = num ? kAcceptNumBody : kAcceptTextBody;
            size_t at = body.find("%s");
            m.put(body.substr(0, at)).put(arg).put(body.substr(at + 2));
            i = close + 1;
        } else if (is_quote_char(p[i])) {
            const void* close = std::memchr(p + i + 1, p[i], pn - i - 1);
            size_t e = close ? static_cast<size_t>(static_cast<const char*>(close) - p) : pn - 1;
            m.put(sr(p + i, e - i + 1));
            i = e + 1;
        } else {
            m.put(p[i++]);
        }
    }
    *out = m.done();
    return sr_status(*out);
}

IER evaluate(StrRef text, Value* out, bool prepared = false) {
    *out = Value::number(0);
    if (!sr_ok(text)) return sr_status(text);
    ScratchMark m = scr_mark();
    StrRef t = text;
    IER st = prepared ? IER(0) : prepare(text, &t);
    if (st) {
        err_origin(1, mod::ExpExec, st);
        scr_release(m);
        return st;
    }
    Evaluator ev;
    st = ev.list(t.p, t.n, out, 0);
    if (out->is_text()) {
        StrRef kept = scr_keep(m, out->text);
        if (!sr_ok(kept)) {
            *out = Value::number(0);
            return sr_status(kept);
        }
        out->text = kept;
    } else {
        scr_release(m);
    }
    return st;
}

IER effect_port(StrRef text) { return ex_effect(text); }

StrRef substitute_port(StrRef text) { return ex_brackets(text, brk::Plain); }

}  // namespace

IER ex_eval(StrRef text, Value* out) { return evaluate(text, out); }

IER ex_scan(StrRef text, size_t pos, ExToken* out) {
    if (!sr_ok(text)) return sr_status(text);
    Cursor c{};
    c.s = text.p;
    c.end = text.n;
    c.pos = pos > text.n ? text.n : pos;
    if (IER st = scan(c)) return st;
    out->operand = sr(c.s + c.ostart, c.olen);
    out->paren = c.paren;
    out->inner = c.paren ? sr(c.s + c.pstart, c.plen) : sr_empty();
    out->op = c.op == kEndExpr ? kExEndPart : c.op == kEndText ? kExEnd : c.op;
    out->next = c.next;
    return 0;
}

bool ex_is_prepared(StrRef text) {
    if (!sr_ok(text)) return false;
    ScratchMark m = scr_mark();
    StrRef t;
    IER st = prepare(text, &t);
    bool same = !st && t.p == text.p && t.n == text.n;
    scr_release(m);
    err_detail_clear();
    return same;
}

IER ex_eval_checked(StrRef text, Value* out) { return evaluate(text, out, true); }

IER ex_effect(StrRef text) {
    Value v;
    ScratchMark m = scr_mark();
    IER st = evaluate(text, &v);
    scr_release(m);
    return st < 128 ? IER(0) : st;
}

StrRef ex_text(StrRef text) {
    ScratchMark m = scr_mark();
    Value v;
    IER st = evaluate(text, &v);
    if (st >= 122 && st != ier::NullExpression) {
        scr_release(m);
        return sr_err(st);
    }
    if (v.is_text()) return v.text;
    return scr_keep(m, num_text(v.num, num_precis()));
}

Num ex_num(StrRef text) {
    ScratchMark m = scr_mark();
    Value v;
    IER st = evaluate(text, &v);
    scr_release(m);
    if ((st >= 122 && st != ier::NullExpression) || v.is_text()) return 0;
    return v.num;
}

int16_t ex_int(StrRef text) { return num_to_int16(ex_num(text), num_precis()); }

IER ex_cond(StrRef text) {
    if (!sr_ok(text)) return sr_status(text);
    if (!text.n) return 1;
    ScratchMark m = scr_mark();
    Value v;
    IER st = evaluate(text, &v);
    scr_release(m);
    if (st >= 122 && st != ier::NullExpression) return st;
    if (v.is_text()) return 0;
    return v.num != 0 ? 1 : 0;
}

constexpr int kBracketRounds = 4096;

StrRef ex_brackets(StrRef text, int flags, StrRef keywords) {
    if (!sr_ok(text)) return text;
    ScratchMark m = scr_mark();
    StrRef cur = text;
    size_t from = 0;
    size_t ins_from = 0, ins_to = 0;  // the value inserted last (not scanned again)
    // Rescanning may meet its own output again: a bound keeps it finite.
    int rounds = 0;
    for (;;) {
        if (rounds == kBracketRounds) {
            scr_release(m);
            return sr_err(ier::LoopFailure);
        }
        std::string_view s = sv(cur);
        uint16_t close = str_find_char(cur, ']', from, !(flags & brk::Plain));
        if (close == kNotFound) break;
        // The innermost pair: the last '[' before the ']'; an inserted value
        // is not looked into again unless asked to.
        size_t open = s.rfind('[', close);
        if (open != std::string_view::npos && !(flags & brk::Rescan) && open >= ins_from && open < ins_to)
            open = ins_from ? s.rfind('[', ins_from - 1) : std::string_view::npos;
        if (open == std::string_view::npos) {
            from = close + 1u;
            continue;
        }
        StrRef inner = sr(s.substr(open + 1, close - open - 1));
        StrRef value = sr_empty();
        bool looked_up = false;
        if (flags & brk::Lookup) {
            value = str_keyword(keywords, inner, 3);
            if (!value.n) {
                bool found = false;
                StrRef v = str_keyword(env_get(env::CommandLine), inner, 3, &found);
                if (found) value = v;
            }
            if (!value.n) {
                const char* e = std::getenv(scr_cstr(inner));
                if (e) value = scr_copy(sr_c(e));
            }
            looked_up = value.n != 0;
        }
        if (!looked_up) {
            if (inner.n && inner.p[inner.n - 1] == '%') {
                value = inner;
            } else {
                Value v;
                IER st = evaluate(inner, &v);
                if (st >= 122 && st != ier::NullExpression) {
                    scr_release(m);
                    return sr_err(st);
                }
                if (v.is_text()) {
                    value = v.text;
                } else {
                    value = num_text(v.num, num_precis());
                    if (sr_ok(value) && !value.n && !(flags & brk::EmptyStays)) value = sr("0");
                }
            }
        }
        if (!(flags & brk::NoTrim)) value = str_trim(value);
        if (flags & brk::Quote) value = str_quote(value, (flags & brk::DoubleQuote) ? '"' : '\'');
        if (!sr_ok(value)) {
            scr_release(m);
            return value;
        }
        ScrBuild b;
        b.put(s.substr(0, open)).put(value).put(s.substr(close + 1));
        StrRef next = b.done();
        // Only the text so far is kept: the temporaries of this round go.
        next = sr_ok(next) ? scr_keep(m, next) : next;
        if (!sr_ok(next)) {
            scr_release(m);
            return next;
        }
        rounds++;
        ins_from = open;
        ins_to = open + value.n;
        from = (flags & brk::Rescan) ? open : ins_to;
        cur = next;
    }
    if (flags & brk::Escapes) {
        cur = str_replace(cur, sr("\\{"), sr("["), true);
        cur = str_replace(cur, sr("\\}"), sr("]"), true);
    }
    return scr_keep(m, cur);
}

StrRef ex_search_cond(StrRef fields, StrRef low, StrRef high) {
    if (!sr_ok(fields)) return fields;
    ScratchMark m = scr_mark();
    bool range = high.n && str_compare(low, high) < 0;
    int n = lst_count(fields);
    // Each part is built separately, then all are joined in one piece.
    StrRef parts[64];
    int np = 0;
    for (int i = 1; i <= n && np < 64; i++) {
        StrRef ref = str_trim(lst_field(fields, i));
        std::string_view r = sv(ref);
        size_t open = r.find('{');
        if (!g_fields || !g_fields->names || open == std::string_view::npos || r.back() != '}') continue;
        FieldRef f;
        if (g_fields->resolve(sr(r.substr(open + 1, r.size() - open - 2)), sr(r.substr(0, open)), &f)) continue;
        StrRef fname, file;
        if (g_fields->names(f, &fname, &file)) continue;
        bool numeric = ft_is_numeric(f.type);
        auto literal = [&](StrRef value) -> StrRef {
            if (!numeric) return str_quote(value);
            // A number is written back as a number: nothing else can pass.
            Num x = 0;
            num_parse(value, num_precis(), &x);
            return num_plain(x, num_precis());
        };
        ScrBuild ref_b;
        ref_b.put(fname).put('{').put(file).put('}');
        StrRef fr = ref_b.done();
        StrRef lo = low.n ? literal(low) : sr_empty();
        StrRef hi = range ? literal(high) : sr_empty();
        if (!sr_ok(lo) || !sr_ok(hi) || !sr_ok(fr)) {
            IER st = !sr_ok(lo) ? sr_status(lo) : !sr_ok(hi) ? sr_status(hi) : sr_status(fr);
            scr_release(m);
            return sr_err(st);
        }
        ScrBuild b;
        if (range) {
            b.put('(').put(fr).put(">=").put(lo).put("&&").put(fr).put("<=").put(hi).put(')');
        } else if (lo.n) {
            b.put(fr).put("==").put(lo);
        } else {
            continue;
        }
        parts[np++] = b.done();
    }
    ScrBuild all;
    for (int i = 0; i < np; i++) {
        if (i) all.put("||");
        all.put(parts[i]);
    }
    return scr_keep(m, all.done());
}

void ex_set_field_port(const FieldPort* port) { g_fields = port; }

void ex_install() {
    rt_ports().eval = effect_port;
    rt_ports().substitute = substitute_port;
    rt_on_release(vars_done);
}

}  // namespace rt
