#include "runtime/core/str.h"

#include <cstring>

#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"

namespace rt {
namespace {

inline char up(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
inline char low(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
inline bool in_set(std::string_view set, char c) { return std::memchr(set.data(), c, set.size()) != nullptr; }
inline bool c_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// First position at or after from whose character satisfies pred. With
// quote_aware, a quote character opens a part that runs to the next one of
// the same kind and is skipped whole; an unclosed quote hides the rest. The
// quotes themselves are never reported then.
template <class Pred>
uint16_t scan(StrRef s, size_t from, bool quote_aware, Pred pred) {
    size_t n = s.n;
    for (size_t i = from; i < n; i++) {
        char ch = s.p[i];
        if (quote_aware && is_quote(ch)) {
            const void* close = std::memchr(s.p + i + 1, ch, n - i - 1);
            if (!close) return kNotFound;
            i = static_cast<size_t>(static_cast<const char*>(close) - s.p);
            continue;
        }
        if (pred(ch)) return static_cast<uint16_t>(i);
    }
    return kNotFound;
}

// C integer conversion: leading white space, an optional sign, digits.
// Saturates instead of overflowing.
long long parse_ll(StrRef s) {
    size_t i = 0, n = s.n;
    while (i < n && c_space(s.p[i])) i++;
    bool neg = false;
    if (i < n && (s.p[i] == '+' || s.p[i] == '-')) neg = s.p[i++] == '-';
    unsigned long long v = 0;
    constexpr unsigned long long kMax = 9223372036854775807ull;
    bool over = false;
    for (; i < n && s.p[i] >= '0' && s.p[i] <= '9'; i++) {
        unsigned d = static_cast<unsigned>(s.p[i] - '0');
        if (over || v > (kMax + 1 - d) / 10) { over = true; continue; }
        v = v * 10 + d;
    }
    if (over) return neg ? -static_cast<long long>(kMax) - 1 : static_cast<long long>(kMax);
    if (neg) return v > kMax ? -static_cast<long long>(kMax) - 1 : -static_cast<long long>(v);
    return v > kMax ? static_cast<long long>(kMax) : static_cast<long long>(v);
}

constexpr std::string_view kYesWords = "YES,SI,Y,S,ON";

}  // namespace

bool is_quote(char c) { return c == '\'' || c == '"'; }

char partner_of(char c) {
    switch (c) {
        case '[': return ']';
        case '(': return ')';
        case '{': return '}';
        case '<': return '>';
        default: return c;
    }
}

bool is_yes_word(StrRef s) {
    if (!sr_ok(s) || s.n == 0 || s.n > 3) return false;
    char u[3];
    for (size_t i = 0; i < s.n; i++) u[i] = up(s.p[i]);
    return lst_pos(sr(kYesWords), sr(u, s.n)) != 0;
}

StrRef str_concat(StrRef a, StrRef b) {
    if (!sr_ok(a)) return a;
    if (!sr_ok(b)) return b;
    ScratchMark m = scr_mark();
    ScrBuild out;
    out.put(a).put(b);
    return scr_keep(m, out.done());
}

StrRef str_join(StrRef a, StrRef sep, StrRef b) {
    if (!sr_ok(a)) return a;
    if (!sr_ok(sep)) return sep;
    if (!sr_ok(b)) return b;
    ScratchMark m = scr_mark();
    ScrBuild out;
    out.put(a);
    if (a.n && b.n) out.put(sep);
    out.put(b);
    return scr_keep(m, out.done());
}

StrRef str_assign_text(StrRef name, StrRef value) {
    if (!sr_ok(name)) return name;
    if (!sr_ok(value)) return value;
    if (!name.n || !value.n) return sr_err(ier::BADINPUTDATA);
    ScratchMark m = scr_mark();
    ScrBuild out;
    out.put(name).put('=').put(value);
    return scr_keep(m, out.done());
}

StrRef str_sub(StrRef s, int start, int len) {
    if (!sr_ok(s)) return s;
    size_t n = s.n;
    if (start < 0) {
        // From the end, and then the rest of the text.
        long long st = static_cast<long long>(n) + start;
        size_t b = st < 0 ? 0 : static_cast<size_t>(st);
        return sr(s.p + b, n - b);
    }
    size_t b = static_cast<size_t>(start) > n ? n : static_cast<size_t>(start);
    size_t rest = n - b;
    size_t l = (len < 0 || static_cast<size_t>(len) > rest) ? rest : static_cast<size_t>(len);
    return sr(s.p + b, l);
}

static StrRef map_case(StrRef s, char (*f)(char)) {
    if (!sr_ok(s)) return s;
    IER e = 0;
    char* d = scr_alloc_w(s.n, &e);
    if (!d) return sr_err(e);
    for (size_t i = 0; i < s.n; i++) d[i] = f(s.p[i]);
    return sr(d, s.n);
}

StrRef str_upper(StrRef s) { return map_case(s, up); }
StrRef str_lower(StrRef s) { return map_case(s, low); }

StrRef str_trim(StrRef s, int sides, std::string_view set) {
    if (!sr_ok(s)) return s;
    size_t b = 0, e = s.n;
    if (sides & 1)
        while (b < e && in_set(set, s.p[b])) b++;
    if (sides & 2)
        while (e > b && in_set(set, s.p[e - 1])) e--;
    return sr(s.p + b, e - b);
}

StrRef str_unquote(StrRef s) {
    if (!sr_ok(s)) return s;
    if (s.n >= 2 && is_quote(s.p[0]) && s.p[s.n - 1] == s.p[0]) return sr(s.p + 1, s.n - 2);
    return s;
}

StrRef str_normalize(StrRef s) {
    if (!sr_ok(s)) return s;
    StrRef v = str_unquote(str_trim(s, 3));
    if (v.n == s.n) return str_upper(s);
    return scr_copy(v);
}

int16_t str_number(StrRef s) {
    if (!sr_ok(s)) return 0;
    if (is_yes_word(s)) return 1;
    // Kept to 16 bits by truncation, as a C conversion to a short would.
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned long long>(parse_ll(s)) & 0xFFFF));
}

uint16_t str_find_char(StrRef s, char c, size_t from, bool quote_aware) {
    if (!sr_ok(s) || from >= s.n) return kNotFound;
    // NUL-separated lists hold arbitrary texts: their search is always plain.
    bool qa = quote_aware && c != '\0';
    if (!qa) {
        const void* hit = std::memchr(s.p + from, c, s.n - from);
        return hit ? static_cast<uint16_t>(static_cast<const char*>(hit) - s.p) : kNotFound;
    }
    return scan(s, from, true, [c](char ch) { return ch == c; });
}

uint16_t str_find_any(StrRef s, std::string_view set, size_t from) {
    if (!sr_ok(s) || from >= s.n) return kNotFound;
    return scan(s, from, false, [set](char ch) { return in_set(set, ch); });
}

uint16_t str_find_text(StrRef s, StrRef t, bool quote_aware, size_t from) {
    if (!sr_ok(s) || !sr_ok(t) || t.n > s.n || from > s.n) return kNotFound;
    if (t.n == 0) return static_cast<uint16_t>(from);
    size_t last = s.n - t.n;  // last possible start
    while (from <= last) {
        uint16_t p = str_find_char(s, t.p[0], from, quote_aware);
        if (p == kNotFound || p > last) return kNotFound;
        if (std::memcmp(s.p + p, t.p, t.n) == 0) return p;
        // p lay outside quotes and is no quote itself, so the search may
        // restart right after it.
        from = size_t(p) + 1;
    }
    return kNotFound;
}

uint16_t str_find_last(StrRef s, StrRef t, int mode) {
    if (!sr_ok(s) || !sr_ok(t) || t.n == 0 || s.n == 0) return kNotFound;
    switch (mode) {
        case 0:
            for (size_t i = s.n; i-- > 0;)
                if (std::memchr(t.p, s.p[i], t.n)) return static_cast<uint16_t>(i);
            return kNotFound;
        case 1:
            for (size_t i = s.n; i-- > 0;)
                if (s.p[i] == t.p[0]) return static_cast<uint16_t>(i);
            return kNotFound;
        case 2:
            if (t.n > s.n) return kNotFound;
            for (size_t i = s.n - t.n + 1; i-- > 0;)
                if (std::memcmp(s.p + i, t.p, t.n) == 0) return static_cast<uint16_t>(i);
            return kNotFound;
        default:
            return kNotFound;
    }
}

int str_count(StrRef s, StrRef t) {
    if (!sr_ok(s) || !sr_ok(t) || t.n == 0) return 0;
    int k = 0;
    size_t from = 0;
    for (;;) {
        uint16_t p = str_find_text(s, t, false, from);
        if (p == kNotFound) return k;
        k++;
        from = size_t(p) + t.n;
    }
}

StrRef str_replace(StrRef s, StrRef t, StrRef r, bool plain) {
    if (!sr_ok(s)) return s;
    if (!sr_ok(t)) return t;
    if (!sr_ok(r)) return r;
    ScratchMark m = scr_mark();
    if (t.n == 0) return scr_copy(s);  // nothing to look for
    // A lone quote character can never be found by a quote-aware search.
    bool qa = !plain && !(t.n == 1 && is_quote(t.p[0]));
    ScrBuild out;
    size_t from = 0;
    while (from <= s.n && !out.status()) {
        uint16_t p = str_find_text(s, t, qa, from);
        if (p == kNotFound) break;
        out.put(sr(s.p + from, p - from)).put(r);
        from = size_t(p) + t.n;
    }
    out.put(sr(s.p + from, s.n - from));
    StrRef res = scr_keep(m, out.done());
    if (!sr_ok(res)) err_origin(1, mod::STRCONCAT, sr_status(res));
    return res;
}

StrRef str_overwrite(StrRef s, int pos, StrRef t) {
    if (!sr_ok(s)) return s;
    if (!sr_ok(t)) return t;
    long long at = pos < 0 ? static_cast<long long>(s.n) + pos : pos;
    if (at < 0) at = 0;
    StrRef c = scr_copy(s);
    if (!sr_ok(c)) return c;
    if (static_cast<size_t>(at) < s.n) {
        size_t k = s.n - static_cast<size_t>(at);
        if (k > t.n) k = t.n;
        std::memmove(const_cast<char*>(c.p) + at, t.p, k);
    }
    return c;
}

StrRef str_keep(StrRef s, std::string_view set) {
    if (!sr_ok(s)) return s;
    ScratchMark m = scr_mark();
    ScrBuild out;
    for (size_t i = 0; i < s.n; i++)
        if (in_set(set, s.p[i])) out.put(s.p[i]);
    return scr_keep(m, out.done());
}

StrRef str_translate(StrRef s, std::string_view from, std::string_view to) {
    if (!sr_ok(s)) return s;
    StrRef c = scr_copy(s);
    if (!sr_ok(c)) return c;
    char* d = const_cast<char*>(c.p);
    for (size_t i = 0; i < c.n; i++) {
        const void* hit = std::memchr(from.data(), d[i], from.size());
        if (!hit) continue;
        size_t k = static_cast<size_t>(static_cast<const char*>(hit) - from.data());
        // A character without a counterpart in to stays as it is.
        if (k < to.size()) d[i] = to[k];
    }
    return c;
}

StrRef str_collapse(StrRef s, char c) {
    if (!sr_ok(s)) return s;
    ScratchMark m = scr_mark();
    ScrBuild out;
    for (size_t i = 0; i < s.n; i++)
        if (!(s.p[i] == c && i > 0 && s.p[i - 1] == c)) out.put(s.p[i]);
    return scr_keep(m, out.done());
}

StrRef str_repeat(StrRef s, int n) {
    if (!sr_ok(s)) return s;
    if (n <= 0 || s.n == 0) return scr_copy(sr_empty());
    if (static_cast<unsigned long long>(s.n) * static_cast<unsigned>(n) > kStrMax) return sr_err(ier::STRINGTOOLONG);
    ScratchMark m = scr_mark();
    ScrBuild out;
    for (int i = 0; i < n; i++) out.put(s);
    return scr_keep(m, out.done());
}

StrRef str_wrap(StrRef s, char c) {
    if (!sr_ok(s)) return s;
    ScratchMark m = scr_mark();
    ScrBuild out;
    out.put(c).put(s).put(partner_of(c));
    return scr_keep(m, out.done());
}

StrRef str_enclosed(StrRef s, char c, bool quote_aware) {
    if (!sr_ok(s)) return s;
    // A quote character is looked for plainly: the quote-aware search skips it.
    bool qa = quote_aware && !is_quote(c);
    char p = partner_of(c);
    uint16_t open = str_find_char(s, c, 0, qa);
    if (open == kNotFound) return sr_empty();
    uint16_t close = str_find_char(s, p, size_t(open) + 1, qa && !is_quote(p));
    if (close == kNotFound) return sr_empty();
    if (c != p) {
        // Balance nested pairs: count both characters strictly inside the
        // candidate, and move the end to the next partner while they differ.
        long nc = 0, np = 0;
        auto count_in = [&](size_t b, size_t e) {
            StrRef part = sr(s.p + b, e - b);
            for (size_t i = 0; i < part.n; i++) {
                uint16_t k = scan(part, i, qa, [c, p](char ch) { return ch == c || ch == p; });
                if (k == kNotFound) break;
                if (part.p[k] == c) nc++; else np++;
                i = k;
            }
        };
        count_in(size_t(open) + 1, close);
        while (nc != np) {
            uint16_t next = str_find_char(s, p, size_t(close) + 1, qa);
            if (next == kNotFound) return sr_empty();
            np++;  // the old end is now inside
            count_in(size_t(close) + 1, next);
            close = next;
        }
    }
    return sr(s.p + open + 1, size_t(close) - open - 1);
}

StrRef str_quote(StrRef s, char q) {
    if (!sr_ok(s)) return s;
    if (!is_quote(q)) q = '\'';
    char other = q == '\'' ? '"' : '\'';
    bool has_q = std::memchr(s.p, q, s.n) != nullptr;
    if (has_q) {
        if (std::memchr(s.p, other, s.n)) return sr_err(ier::BADINPUTDATA);
        q = other;
    }
    ScratchMark m = scr_mark();
    ScrBuild out;
    out.put(q).put(s).put(q);
    return scr_keep(m, out.done());
}

bool str_all_of(StrRef s, std::string_view set) {
    if (!sr_ok(s)) return false;
    for (size_t i = 0; i < s.n; i++)
        if (!in_set(set, s.p[i])) return false;
    return true;
}

int str_compare(StrRef a, StrRef b) {
    size_t n = a.n < b.n ? a.n : b.n;
    if (!sr_ok(a) || !sr_ok(b)) n = 0;
    int c = n ? std::memcmp(a.p, b.p, n) : 0;  // memcmp compares unsigned bytes
    if (c) return c > 0 ? 1 : -1;
    size_t la = sr_ok(a) ? a.n : 0, lb = sr_ok(b) ? b.n : 0;
    return la == lb ? 0 : (la < lb ? -1 : 1);
}

bool str_compare_op(StrRef a, StrRef b, int op) {
    int c = str_compare(a, b);
    switch (op) {
        case 1: return c == 0;
        case 2: return c > 0;
        case 3: return c >= 0;
        case 4: return c < 0;
        case 5: return c <= 0;
        default: return false;
    }
}

bool str_in_range(StrRef range, long long v) {
    if (!sr_ok(range) || range.n == 0) return false;
    int n = lst_count(range, '-');
    long long lo = parse_ll(lst_field(range, 1, '-'));
    long long hi = parse_ll(lst_field(range, n, '-'));
    return lo <= v && v <= hi;
}

int str_find_range(StrRef ranges, long long v) {
    if (!sr_ok(ranges)) return 0;
    int n = lst_count(ranges);
    for (int i = 1; i <= n; i++)
        if (str_in_range(lst_field(ranges, i), v)) return i;
    return 0;
}

StrRef str_num(int16_t n) {
    ScratchMark m = scr_mark();
    ScrBuild out;
    out.put_int(n);
    return scr_keep(m, out.done());
}

StrRef str_num_pad(long long n, int width, char fill) {
    char digits[24];
    int k = 0;
    unsigned long long u = n < 0 ? 0ull - static_cast<unsigned long long>(n) : static_cast<unsigned long long>(n);
    do { digits[k++] = static_cast<char>('0' + u % 10); u /= 10; } while (u);
    int len = k + (n < 0 ? 1 : 0);
    ScratchMark m = scr_mark();
    ScrBuild out;
    size_t pad = width > len ? static_cast<size_t>(width - len) : 0;
    // With zero fill the sign goes before the zeros, so the text stays a number.
    if (n < 0 && fill == '0') out.put('-');
    out.put_n(fill, pad);
    if (n < 0 && fill != '0') out.put('-');
    while (k > 0) out.put(digits[--k]);
    return scr_keep(m, out.done());
}

StrRef str_keyword(StrRef text, StrRef name, int mode, bool* found) {
    if (found) *found = false;
    if (!sr_ok(text)) return text;
    if (!sr_ok(name)) return name;
    if (name.n == 0 || name.n >= text.n) return sr_empty();
    bool nul = (mode & 4) != 0;
    // In NUL mode the items are arbitrary texts whose quotes mean nothing.
    bool qa = !nul;
    constexpr std::string_view kStops = ": &/";
    auto starts_item = [&](size_t pos) {
        if (pos == 0) return true;
        char b = text.p[pos - 1];
        return nul ? b == '\0' : (b == ':' || b == ' ' || b == '&' || b == '/');
    };
    for (char suffix : {':', '='}) {
        size_t from = 0;
        for (;;) {
            uint16_t pos = str_find_text(text, name, qa, from);
            if (pos == kNotFound) break;
            size_t after = size_t(pos) + name.n;
            if (after < text.n && text.p[after] == suffix && starts_item(pos)) {
                size_t v = after + 1;
                uint16_t end = nul ? str_find_char(text, '\0', v, false)
                                   : scan(text, v, true, [&](char ch) { return in_set(kStops, ch); });
                StrRef raw = sr(text.p + v, (end == kNotFound ? text.n : end) - v);
                if (found) *found = true;
                if ((mode & 3) == 3) return str_normalize(raw);
                if (mode & 1) return str_unquote(raw);
                return raw;
            }
            from = size_t(pos) + 1;
        }
    }
    return sr_empty();
}

}  // namespace rt
