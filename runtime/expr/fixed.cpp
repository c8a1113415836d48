#include "runtime/expr/fixed.h"

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"

namespace rt {
namespace {

constexpr int64_t kPow10[kPrecisMax + 1] = {
    1LL, 10LL, 100LL, 1000LL, 10000LL, 100000LL, 1000000LL, 10000000LL, 100000000LL, 1000000000LL,
    10000000000LL, 100000000000LL, 1000000000000LL, 10000000000000LL, 100000000000000LL,
    1000000000000000LL, 10000000000000000LL, 100000000000000000LL, 1000000000000000000LL};

constexpr __int128 kMax = static_cast<__int128>(INT64_MAX);
constexpr __int128 kMin = static_cast<__int128>(INT64_MIN);

IER fit(__int128 v, Num* out) {
    if (v > kMax || v < kMin) return ier::EXPCALCERROR;
    *out = static_cast<Num>(v);
    return 0;
}

// Digits of |v| (v may be INT64_MIN) into buf, most significant first.
int digits_of(Num v, char* buf) {
    unsigned long long u = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    char tmp[24];
    int k = 0;
    do { tmp[k++] = static_cast<char>('0' + u % 10); u /= 10; } while (u);
    for (int i = 0; i < k; i++) buf[i] = tmp[k - 1 - i];
    return k;
}

}  // namespace

int num_precis() {
    int p = sysv_get(sysv::PRECIS);
    return p < 0 ? 0 : p > kPrecisMax ? kPrecisMax : p;
}

int64_t pow10i(int k) { return (k >= 0 && k <= kPrecisMax) ? kPow10[k] : 0; }

IER num_div_round(__int128 a, __int128 b, Num* out) {
    if (b == 0) {
        *out = 0;
        return 0;
    }
    __int128 q = a / b;
    __int128 r = a % b;
    __int128 ar = r < 0 ? -r : r;
    __int128 ab = b < 0 ? -b : b;
    // Half away from zero on the exact remainder: 2|r| >= |b|.
    if (2 * ar >= ab) q += ((a < 0) != (b < 0)) ? -1 : 1;
    return fit(q, out);
}

IER num_add(Num a, Num b, Num* out) {
    Num r;
    if (__builtin_add_overflow(a, b, &r)) return ier::EXPCALCERROR;
    *out = r;
    return 0;
}

IER num_sub(Num a, Num b, Num* out) {
    Num r;
    if (__builtin_sub_overflow(a, b, &r)) return ier::EXPCALCERROR;
    *out = r;
    return 0;
}

IER num_mul(Num a, Num b, int p, Num* out) {
    return num_div_round(static_cast<__int128>(a) * b, pow10i(p), out);
}

IER num_div(Num a, Num b, int p, Num* out) {
    if (b == 0) {
        *out = 0;
        return 0;
    }
    return num_div_round(static_cast<__int128>(a) * pow10i(p), b, out);
}

IER num_percent(Num a, Num b, int p, Num* out) {
    Num t;
    if (IER st = num_div_round(static_cast<__int128>(a) * b, 100, &t)) return st;
    return num_div_round(t, pow10i(p), out);
}

IER num_round_places(Num a, int r, int p, Num* out) {
    if (r >= p) {
        *out = a;
        return 0;
    }
    int k = p - r;
    if (k > kPrecisMax) {
        *out = 0;  // rounded to a place beyond every digit
        return 0;
    }
    __int128 unit = pow10i(k);
    Num q;
    if (IER st = num_div_round(a, unit, &q)) return st;
    return fit(static_cast<__int128>(q) * unit, out);
}

IER num_rescale(Num a, int from_p, int to_p, Num* out) {
    if (from_p == to_p) {
        *out = a;
        return 0;
    }
    if (to_p > from_p) return fit(static_cast<__int128>(a) * pow10i(to_p - from_p), out);
    return num_div_round(a, pow10i(from_p - to_p), out);
}

Num num_from_int(long long v, int p) {
    Num r = 0;
    if (fit(static_cast<__int128>(v) * pow10i(p), &r)) return v < 0 ? INT64_MIN : INT64_MAX;
    return r;
}

int16_t num_to_int16(Num v, int p) {
    Num q = 0;
    num_div_round(v, pow10i(p), &q);
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(q)));
}

long long num_int_part(Num v, int p) { return v / pow10i(p); }

IER num_parse(StrRef text, int p, Num* out, size_t* used) {
    *out = 0;
    if (used) *used = 0;
    if (!sr_ok(text)) return sr_status(text);
    const char* s = text.p;
    size_t n = text.n, i = 0;
    while (i < n && (s[i] == ' ' || s[i] == '\t')) i++;
    bool neg = false;
    if (i < n && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
    // Collect the significant digits and where the point stands.
    char dig[64];
    int nd = 0, int_digits = 0;
    bool seen_point = false, any = false;
    for (; i < n; i++) {
        char c = s[i];
        if (c >= '0' && c <= '9') {
            any = true;
            if (nd == 0 && c == '0' && !seen_point) continue;  // leading zeros
            if (nd < static_cast<int>(sizeof dig)) dig[nd++] = c;
            else if (!seen_point) return ier::SINTAXERROR;
            if (!seen_point) int_digits++;
        } else if (c == '.' && !seen_point) {
            seen_point = true;
        } else {
            break;
        }
    }
    int exp = 0;
    if (i < n && (s[i] == 'D' || s[i] == 'd') && any) {
        size_t j = i + 1;
        int e = 0;
        bool ed = false;
        while (j < n && s[j] >= '0' && s[j] <= '9' && e < 1000) {
            e = e * 10 + (s[j++] - '0');
            ed = true;
        }
        if (ed) {
            exp = e;
            i = j;
        }
    }
    if (used) *used = i;
    int_digits += exp;
    // Integer part plus p decimals must fit the 20-digit buffer.
    if (int_digits + p > kNumDigitsMax) return ier::SINTAXERROR;
    // Value = digits with the point after int_digits, times 10^p, rounded.
    __int128 v = 0;
    int take = int_digits + p;  // digits that land in the stored integer
    for (int k = 0; k < take; k++) v = v * 10 + (k < nd ? dig[k] - '0' : 0);
    if (take < nd && take >= 0 && dig[take] >= '5') v += 1;
    if (take < 0) v = 0;
    if (neg) v = -v;
    return fit(v, out);
}

StrRef num_text(Num v, int p) {
    ScrBuild b;
    char d[24];
    int k = digits_of(v, d);
    if (v == 0) return b.done();
    if (v < 0) b.put('-');
    // At least p digits; trailing zeros of the fraction go.
    int decimals = p;
    int len = k;
    while (decimals > 0 && len > 0 && d[len - 1] == '0' && len > k - p) {
        len--;
        decimals--;
    }
    int int_len = k - p;  // may be <= 0: then the number starts with the point
    if (int_len > 0) b.put(std::string_view(d, static_cast<size_t>(int_len)));
    if (decimals > 0) {
        b.put('.');
        if (int_len < 0) b.put_n('0', static_cast<size_t>(-int_len));
        int from = int_len > 0 ? int_len : 0;
        b.put(std::string_view(d + from, static_cast<size_t>(len - from)));
    }
    return b.done();
}

StrRef num_plain(Num v, int p) {
    ScratchMark m = scr_mark();
    StrRef t = num_text(v, p);
    if (!sr_ok(t)) return t;
    std::string_view s = sv(t);
    ScrBuild b;
    if (s.empty()) b.put('0');
    else if (s[0] == '.') b.put('0').put(s);
    else if (s.size() > 1 && s[0] == '-' && s[1] == '.') b.put("-0").put(s.substr(1));
    else b.put(s);
    return scr_keep(m, b.done());
}

}  // namespace rt
