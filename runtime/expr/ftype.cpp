#include "runtime/expr/ftype.h"

#include <sys/time.h>

#include <ctime>

#include "runtime/core/env.h"
#include "runtime/core/msg.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/fixed.h"

namespace rt {
namespace {

// The catalogue's own texts of messages 0019 and 0117: ft_params(builtin)
// must not see a language file's replacement.
StrRef builtin_numbers() { return msg_builtin(19); }
StrRef builtin_dates() { return msg_builtin(117); }

constexpr int kAuxEmptyDate = 64;  // _AUXSTAT: an empty date stays empty
constexpr int kCompatDates = 4;    // _COMPAT: compact six-character F dates
constexpr int kDayMs = 86400000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }
bool all_digits(std::string_view s) {
    for (char c : s)
        if (!is_digit(c)) return false;
    return !s.empty();
}
std::string_view trimmed(StrRef s) { return sv(str_trim(s)); }

// A list field as the format parameters write it: quoted fields lose their
// quotes (and the blanks around them); a bare field is taken as it is, since
// its blanks may be the content (the blank logical letter).
StrRef param_field(StrRef list, int n) {
    StrRef f = lst_field(list, n);
    StrRef t = str_trim(f);
    if (t.n >= 2 && is_quote(t.p[0]) && t.p[t.n - 1] == t.p[0]) return sr(t.p + 1, t.n - 2);
    return f;
}

void parse_params(FormatParams* out, StrRef numbers, StrRef dates) {
    FormatParams b;  // the built-in values, for every field the texts leave out
    if (numbers.p != builtin_numbers().p) parse_params(&b, builtin_numbers(), builtin_dates());
    *out = FormatParams{};
    out->decimal = numbers.n >= 1 ? numbers.p[0] : '.';
    out->thousands = numbers.n >= 2 ? numbers.p[1] : ',';
    StrRef list = numbers.n > 2 ? sr(numbers.p + 2, numbers.n - 2u) : sr_empty();
    out->num_chars = param_field(list, 1);
    out->logic_in = param_field(list, 2);
    out->logic_words = param_field(list, 3);
    out->months = param_field(dates, 1);
    out->date_pattern = param_field(dates, 2);
    if (numbers.p == builtin_numbers().p) return;
    if (!out->num_chars.n) out->num_chars = b.num_chars;
    if (!out->logic_in.n) out->logic_in = b.logic_in;
    if (!out->logic_words.n) out->logic_words = b.logic_words;
    if (!out->months.n) out->months = b.months;
    if (!out->date_pattern.n) out->date_pattern = b.date_pattern;
}

// Marks, for every character of a mask, whether it lies inside quotes (the
// quotes included): such characters are copied and never placeholders.
// A scratch buffer of s.size() bytes; nullptr (with *st) when none is left.
char* quoted_flags(std::string_view s, IER* st) {
    char* f = scr_alloc_w(s.size() ? s.size() : 1, st);
    if (!f) return nullptr;
    char q = 0;
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i];
        if (q) {
            f[i] = 1;
            if (c == q) q = 0;
        } else if (is_quote(c)) {
            f[i] = 1;
            q = c;
        } else {
            f[i] = 0;
        }
    }
    return f;
}

StrRef fit_left(std::string_view t, int len) {
    ScrBuild b;
    size_t n = len > 0 ? static_cast<size_t>(len) : 0;
    if (t.size() >= n) b.put(t.substr(0, n));
    else b.put(t).put_n(' ', n - t.size());
    return b.done();
}

StrRef blanks(int len) { return scr_alloc(len > 0 ? static_cast<size_t>(len) : 0, ' '); }

StrRef fail_fit() {
    err_origin(1, mod::BufferFld, ier::DATAOUTBOUND);
    return sr_err(ier::DATAOUTBOUND);
}

// ---- numbers ------------------------------------------------------------

int type_decimals(char type) { return (type >= '1' && type <= '9') ? type - '0' : 0; }

// A number right-aligned in len places with the type's decimals; 168 when
// it needs more places (a zero integer part is dropped before giving up).
StrRef fit_number(char type, StrRef text, int len) {
    int d = type_decimals(type);
    Num v = 0;
    if (num_parse(text, d, &v)) return fail_fit();  // beyond 20 digits: no field holds it
    char dg[24];  // least significant first, at least d + 1 digits
    int k = 0;
    unsigned long long u = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do { dg[k++] = static_cast<char>('0' + u % 10); u /= 10; } while (u || k <= d);
    char buf[32];
    size_t n = 0;
    if (v < 0) buf[n++] = '-';
    size_t need = (v < 0) + static_cast<size_t>(k) + (d > 0);
    // "0.05" where it does not fit is written ".05".
    bool drop_zero = d > 0 && k == d + 1 && dg[d] == '0' && len >= 0 && need > static_cast<size_t>(len);
    for (int i = k - 1; i >= d; i--)
        if (!(drop_zero && i == d)) buf[n++] = dg[i];
    if (d > 0) {
        buf[n++] = '.';
        for (int i = d - 1; i >= 0; i--) buf[n++] = dg[i];
    }
    if (len < 0 || n > static_cast<size_t>(len)) return fail_fit();
    ScrBuild b;
    b.put_n(' ', static_cast<size_t>(len) - n).put(std::string_view(buf, n));
    return b.done();
}

// ---- logical ------------------------------------------------------------

// The stored letter (' ', '0', '1') of a logical value or input.
char logic_letter(StrRef text, const FormatParams& fp) {
    std::string_view t = trimmed(text);
    if (t.empty()) return ' ';
    char c = upper(t[0]);
    if (c == '0' || c == '1') return c;
    std::string_view in = sv(fp.logic_in);
    for (size_t i = 0; i < in.size() && i < 3; i++)
        if (upper(in[i]) == c) return " 01"[i];
    return ' ';
}

// ---- dates --------------------------------------------------------------

int64_t floor_div(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 of a Gregorian date; month 1..12, any day (a day
// beyond the month runs on into the next ones).
int64_t day_number(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    int64_t era = floor_div(y, 400);
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civil_of(int64_t z, int64_t* y, int64_t* m, int64_t* d) {
    z += 719468;
    int64_t era = floor_div(z, 146097);
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    *d = doy - (153 * mp + 2) / 5 + 1;
    *m = mp < 10 ? mp + 3 : mp - 9;
    *y = yoe + era * 400 + (*m <= 2);
}

// Months outside 1..12 move the year.
void norm_month(int64_t* y, int64_t* m) {
    int64_t k = floor_div(*m - 1, 12);
    *y += k;
    *m -= k * 12;
}

// The day number of a date whose parts may lie outside their ranges.
int64_t day_number_of(int32_t date) {
    int64_t y = date / 10000, m = date / 100 % 100, d = date % 100;
    norm_month(&y, &m);
    return day_number(y, m, d);
}

bool lang_day_first() {
    std::string_view l = sv(env_get(env::LangModule));
    if (l.size() != 2) return false;
    char a = upper(l[0]), b = upper(l[1]);
    return (a == 'E' && b == 'S') || (a == 'F' && b == 'R') || (a == 'I' && b == 'T');
}

bool empty_dates_stay() { return (sysv_get(sysv::AUXSTAT) & kAuxEmptyDate) != 0; }

int window_year(int yy) {
    int base = sysv_get(sysv::BYEAR), pivot = sysv_get(sysv::BKYEAR);
    return yy < pivot ? base + yy : base - 100 + yy;
}

void put2(ScrBuild& b, int v) { b.put(static_cast<char>('0' + v / 10 % 10)).put(static_cast<char>('0' + v % 10)); }
void put4(ScrBuild& b, int v) {
    put2(b, v / 100);
    put2(b, v % 100);
}

StrRef date_text(int y, int m, int d) {
    ScrBuild b;
    put4(b, y);
    put2(b, m);
    put2(b, d);
    return b.done();
}

// The date number of an 8-digit date text; 0 for anything else.
int32_t date_of(std::string_view t) {
    if (t.size() != 8 || !all_digits(t)) return 0;
    int32_t v = 0;
    for (char c : t) v = v * 10 + (c - '0');
    return v;
}

// Three parts (day, month and year in some order) to the date text; the
// empty text when any of them is missing or the date does not exist.
StrRef parts_to_date(std::string_view day, std::string_view month, std::string_view year) {
    if (!all_digits(day) || !all_digits(month) || !all_digits(year) || day.size() > 2 || month.size() > 2 ||
        year.size() > 4)
        return scr_copy(sr_empty());
    auto num = [](std::string_view s) {
        int v = 0;
        for (char c : s) v = v * 10 + (c - '0');
        return v;
    };
    int d = num(day), m = num(month), y = num(year);
    if (year.size() == 2) y = window_year(y);
    int32_t date = y * 10000 + m * 100 + d;
    if (!dt_valid(date)) return scr_copy(sr_empty());
    return date_text(y, m, d);
}

// The first date separator outside quotes, or npos.
size_t date_separator(std::string_view t) {
    char q = 0;
    for (size_t i = 0; i < t.size(); i++) {
        char c = t[i];
        if (q) {
            if (c == q) q = 0;
        } else if (is_quote(c)) {
            q = c;
        } else if (c == '-' || c == '.' || c == '/') {
            return i;
        }
    }
    return std::string_view::npos;
}

// A stored date value to its 8-digit text: compact and century-less forms
// are expanded; blank stays empty; anything else is returned as it is.
StrRef stored_date(char type, StrRef stored) {
    std::string_view raw = sv(stored);
    if (type == 'F' && raw.size() == 6 && (sysv_get(sysv::COMPAT) & kCompatDates)) {
        if (raw[0] == ' ') return scr_copy(sr_empty());
        ScrBuild b;
        unsigned char c0 = static_cast<unsigned char>(raw[0]);
        if (c0 >= 'A') b.put("20").put(static_cast<char>(c0 - 17));
        else b.put("19").put(raw[0]);
        for (size_t i = 1; i < 6; i++) b.put(raw[i] == ' ' ? '0' : raw[i]);
        return b.done();
    }
    std::string_view t = trimmed(stored);
    if (t.empty()) return scr_copy(sr_empty());
    if (t.size() == 6 && all_digits(t)) {
        ScrBuild b;
        put4(b, window_year((t[0] - '0') * 10 + (t[1] - '0')));
        b.put(t.substr(2));
        return b.done();
    }
    if (date_separator(t) != std::string_view::npos) return dt_read(sr(t));
    return scr_copy(sr(t));
}

StrRef replace_parts(std::string_view pattern, StrRef month, int d, int y) {
    ScrBuild b;
    for (size_t i = 0; i < pattern.size(); i++) {
        if (pattern[i] == '[' && i + 2 < pattern.size() && pattern[i + 2] == ']') {
            char k = pattern[i + 1];
            if (k == 'M') { b.put(month); i += 2; continue; }
            if (k == 'D') { put2(b, d); i += 2; continue; }
            if (k == 'Y') { put4(b, y); i += 2; continue; }
        }
        b.put(pattern[i]);
    }
    return b.done();
}

// ---- masks --------------------------------------------------------------

bool is_mask_char(char c) { return c == '\\' || c == '?' || c == '#' || c == '0'; }
bool is_digit_place(char c) { return c == '#' || c == '0'; }

// The first mask character outside quotes, or npos.
size_t first_mask_char(std::string_view m) {
    char q = 0;
    for (size_t i = 0; i < m.size(); i++) {
        char c = m[i];
        if (q) {
            if (c == q) q = 0;
        } else if (is_quote(c)) {
            q = c;
        } else if (is_mask_char(c)) {
            return i;
        }
    }
    return std::string_view::npos;
}

StrRef text_mask(std::string_view mask, std::string_view value, char first) {
    IER st = 0;
    char* lit = quoted_flags(mask, &st);
    if (!lit) return sr_err(st);
    char* m = scr_alloc_w(mask.size() ? mask.size() : 1, &st);
    if (!m) return sr_err(st);
    const size_t n = mask.size();
    for (size_t i = 0; i < n; i++) m[i] = mask[i];
    // "\   \" is a wide placeholder: its blanks count as backslashes.
    for (size_t i = 0; i < n; i++) {
        if (m[i] != '\\' || lit[i]) continue;
        size_t j = i + 1;
        while (j < n && m[j] == ' ' && !lit[j]) j++;
        if (j > i + 1 && j < n && m[j] == '\\' && !lit[j])
            for (size_t k = i + 1; k < j; k++) m[k] = '\\';
        i = j - 1;
    }
    bool positional = first == '?' || first == '0';
    size_t next = 0;
    for (size_t i = 0; i < n; i++) {
        if (lit[i]) continue;
        if (m[i] == '?' && positional) {
            m[i] = i < value.size() ? value[i] : ' ';
        } else if (m[i] == '\\' || m[i] == '?') {
            // Characters that a positional '?' before this place took are used.
            while (positional && next < value.size() && next < i && mask[next] == '?' && !lit[next]) next++;
            m[i] = next < value.size() ? value[next++] : ' ';
        }
    }
    return sr(m, n);
}

StrRef numeric_mask(std::string_view mask_in, std::string_view value, const FormatParams& fp) {
    ScratchMark mk = scr_mark();
    IER st = 0;
    char* lit = quoted_flags(mask_in, &st);
    if (!lit) return sr_err(st);
    size_t n = mask_in.size();
    size_t f = std::string_view::npos;
    for (size_t i = 0; i < n && f == std::string_view::npos; i++)
        if (!lit[i] && is_digit_place(mask_in[i])) f = i;
    if (f == std::string_view::npos) return scr_keep(mk, sr(mask_in));
    size_t dp = std::string_view::npos;
    for (size_t i = f; i < n && dp == std::string_view::npos; i++)
        if (!lit[i] && mask_in[i] == '.') dp = i;
    size_t int_end = dp == std::string_view::npos ? n : dp;
    int places = 0, decimals = 0;
    for (size_t i = f; i < n; i++)
        if (!lit[i] && is_digit_place(mask_in[i])) (i < int_end ? places : decimals)++;

    // The value without blanks and thousands separators, rounded to the
    // mask's decimals.
    char* vb = scr_alloc_w(value.size() ? value.size() : 1, &st);
    if (!vb) return sr_err(st);
    size_t vn = 0;
    for (char c : value)
        if (c != ' ' && c != ',') vb[vn++] = c;
    Num v = 0;
    if (IER e = num_parse(sr(vb, vn), decimals, &v)) return sr_err(e);
    char dg[24];
    int k = 0;
    unsigned long long u = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do { dg[k++] = static_cast<char>('0' + u % 10); u /= 10; } while (u || k < decimals);
    // dg: least significant first; the integer digits are those above the
    // decimals, without leading zeros.
    int int_digits = k - decimals;
    while (int_digits > 0 && dg[decimals + int_digits - 1] == '0') int_digits--;

    // Too many digits: the separators go and the mask grows on the left.
    std::string_view m = mask_in;
    if (int_digits > places) {
        size_t extra = static_cast<size_t>(int_digits - places);
        char* g = scr_alloc_w(n + extra, &st);
        char* gl = g ? scr_alloc_w(n + extra, &st) : nullptr;
        if (!gl) return sr_err(st);
        size_t o = 0;
        for (size_t i = 0; i < n; i++) {
            if (i == f)
                for (size_t e = 0; e < extra; e++) { gl[o] = 0; g[o++] = '#'; }
            if (i >= f && i < int_end && !lit[i] && mask_in[i] == ',') continue;
            gl[o] = lit[i];
            g[o++] = mask_in[i];
        }
        m = std::string_view(g, o);
        lit = gl;
        n = o;
        int_end = n;
        for (size_t i = f; i < n; i++)
            if (!lit[i] && m[i] == '.') { int_end = i; break; }
        dp = int_end < n ? int_end : std::string_view::npos;
    }

    char* out = scr_alloc_w(n + 1, &st);
    if (!out) return sr_err(st);
    out[0] = ' ';
    char* o = out + 1;  // out[0] is room for a sign in front of the mask
    size_t first_zero = n;
    for (size_t i = f; i < int_end; i++)
        if (!lit[i] && m[i] == '0') { first_zero = i; break; }
    int used = 0;
    size_t leftmost = dp != std::string_view::npos ? dp : n;
    for (size_t i = int_end; i-- > 0;) {
        char c = m[i];
        if (lit[i] || i < f) {
            o[i] = c;
        } else if (c == '#' || c == '0') {
            if (used < int_digits) o[i] = dg[decimals + used++];
            else o[i] = c == '0' ? '0' : ' ';
            if (o[i] != ' ') leftmost = i;
        } else if (c == ',') {
            o[i] = (used < int_digits || first_zero < i) ? fp.thousands : ' ';
        } else {
            o[i] = c;
        }
    }
    if (dp != std::string_view::npos) {
        o[dp] = fp.decimal;
        int next = decimals;
        for (size_t i = dp + 1; i < n; i++) {
            if (lit[i]) o[i] = m[i];
            else if (is_digit_place(m[i])) o[i] = dg[--next];
            else if (m[i] == ',') o[i] = fp.thousands;
            else o[i] = m[i];
        }
    }
    char* start = o;
    size_t len = n;
    if (v < 0) {
        size_t s = leftmost;
        if (s > f && !lit[s - 1] && o[s - 1] == ' ' && (m[s - 1] == '#' || m[s - 1] == ',')) {
            o[s - 1] = '-';
        } else {
            // No blank place before the first digit: the sign goes in front of it.
            for (size_t i = 0; i < s; i++) out[i] = o[i];
            out[s] = '-';
            start = out;
            len = n + 1;
        }
    }
    return scr_keep(mk, sr(start, len));
}

}  // namespace

// ---- format parameters -----------------------------------------------------

bool ft_is_numeric(char type) { return type && kNumericTypes.find(type) != std::string_view::npos; }

void ft_params(FormatParams* out, bool builtin) {
    StrRef item = builtin ? sr_empty() : env_get(env::FormatParams);
    if (!sr_ok(item) || item.n == 0) {
        parse_params(out, builtin_numbers(), builtin_dates());
        return;
    }
    std::string_view t = sv(item);
    size_t z1 = t.find('\0');
    std::string_view numbers = t.substr(0, z1);
    std::string_view dates;
    if (z1 != std::string_view::npos) {
        dates = t.substr(z1 + 1);
        dates = dates.substr(0, dates.find('\0'));
    }
    parse_params(out, sr(numbers), sr(dates));
}

// ---- storage, display, fit -------------------------------------------------

StrRef ft_fit(char type, StrRef text, int length) {
    if (!sr_ok(text)) return text;
    type = upper(type);
    if (type == 'V') return scr_copy(sr_empty());
    if (type == 'N' || (type >= '1' && type <= '9')) return fit_number(type, text, length);
    if (type == 'L') {
        FormatParams fp;
        ft_params(&fp);
        char c = logic_letter(text, fp);
        return fit_left(std::string_view(&c, 1), length);
    }
    return fit_left(sv(text), length);
}

StrRef ft_storage(char type, StrRef text, int length) {
    if (!sr_ok(text)) return text;
    type = upper(type);
    ScratchMark m = scr_mark();
    switch (type) {
    case 'B':
    case 'C': {
        StrRef kept = str_keep(text, "0123456789 ");
        StrRef r = fit_left(sv(kept), length);
        if (type == 'C' && sr_ok(r) && str_trim(r, 1).n) {
            char* w = const_cast<char*>(r.p);  // our own fresh scratch string
            for (size_t i = 0; i < r.n; i++)
                if (w[i] == ' ') w[i] = '0';
        }
        return scr_keep(m, r);
    }
    case 'D':
    case 'F': {
        std::string_view t = trimmed(text);
        if (t.empty()) return scr_keep(m, blanks(length));
        StrRef d = dt_read(sr(t));
        int32_t date = sr_ok(d) ? date_of(sv(d)) : 0;
        if (!date || !dt_valid(date)) return scr_keep(m, blanks(length));
        if (length != 6) return scr_keep(m, fit_left(sv(d), length));
        if (type == 'F' && (sysv_get(sysv::COMPAT) & kCompatDates)) {
            // The tens of the year become a letter, so only 2000..2099 fit:
            // any other year would read back as another date.
            int y = date / 10000;
            if (y < 2000 || y > 2099) {
                scr_release(m);
                return fail_fit();
            }
            char c[6];
            for (int i = 0; i < 6; i++) c[i] = d.p[2 + i];
            c[0] = static_cast<char>(c[0] + 17);
            if (c[2] == '0') c[2] = ' ';
            if (c[4] == '0') c[4] = ' ';
            return scr_keep(m, scr_copy(sr(c, 6)));
        }
        return scr_keep(m, scr_copy(sr(d.p + 2, 6)));
    }
    default:
        return scr_keep(m, ft_fit(type, text, length));
    }
}

StrRef ft_display(char type, StrRef stored, int length) {
    if (!sr_ok(stored)) return stored;
    type = upper(type);
    ScratchMark m = scr_mark();
    switch (type) {
    case 'V':
        return blanks(length);
    case 'D':
    case 'F': {
        StrRef d = stored_date(type, stored);
        if (!sr_ok(d)) return scr_keep(m, d);
        if (d.n == 0 && type == 'F') return scr_keep(m, blanks(length));
        if (length != 8 && length != 10) return scr_keep(m, blanks(length));
        // dt_format stands in today's date for an empty one (unless told
        // not to) and gives blanks for an invalid one.
        return scr_keep(m, dt_format(d, length == 8 ? 1 : 2));
    }
    case 'L': {
        FormatParams fp;
        ft_params(&fp);
        char c = logic_letter(stored, fp);
        StrRef word = lst_field(fp.logic_words, c == ' ' ? 1 : c == '0' ? 2 : 3);
        return scr_keep(m, fit_left(sv(word), length));
    }
    case 'N':
    case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': {
        StrRef mask = ft_default_mask(type, length, true);
        return scr_keep(m, ft_mask(mask, stored, 2));
    }
    default:
        return length > 0 ? scr_keep(m, fit_left(sv(stored), length)) : scr_copy(stored);
    }
}

// ---- masks ---------------------------------------------------------------

StrRef ft_default_mask(char type, int length, bool for_storage) {
    type = upper(type);
    size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    bool number = type == 'N' || (type >= '1' && type <= '9');
    if (!number) return scr_alloc(n, '\\');
    char point = '.';
    if (!for_storage) {
        FormatParams fp;
        ft_params(&fp);
        point = fp.decimal;
    }
    StrRef r = scr_alloc(n, '#');
    int d = type_decimals(type);
    if (sr_ok(r) && d > 0 && d + 1 < length) const_cast<char*>(r.p)[n - 1 - static_cast<size_t>(d)] = point;
    return r;
}

StrRef ft_mask_for(StrRef type_text) {
    if (!sr_ok(type_text)) return type_text;
    std::string_view t = sv(type_text);
    if (t.empty()) return scr_copy(type_text);
    if (t[0] != '\\' && t[0] != '#' && t[0] != '0') {
        std::string_view rest = sv(str_trim(sr(t.substr(1))));
        if (all_digits(rest) && rest.size() <= 5) {
            long len = 0;
            for (char c : rest) len = len * 10 + (c - '0');
            if (len > 0 && len <= static_cast<long>(kStrMax)) return ft_default_mask(t[0], static_cast<int>(len), true);
        }
    }
    // A decimal-class suffix ",.n" after the first character.
    size_t s = t.find(",.", 1);
    size_t e = s == std::string_view::npos ? s : s + 2;
    while (e != std::string_view::npos && e < t.size() && is_digit(t[e])) e++;
    size_t first = std::string_view::npos;
    for (size_t i = 0; i < t.size() && first == std::string_view::npos; i++)
        if (is_digit_place(t[i])) first = i;
    if (s == std::string_view::npos || e == s + 2 || first == std::string_view::npos || first >= s)
        return scr_copy(type_text);
    int n = 0;
    for (size_t i = s + 2; i < e && n < 1000; i++) n = n * 10 + (t[i] - '0');
    int dec = n;
    StrRef parms = env_get(env::MaskParms);
    if (sr_ok(parms) && parms.n) dec = lst_num(parms, n + 1);
    if (dec < 0) dec = 0;
    ScratchMark m = scr_mark();
    StrRef r = scr_copy(type_text);
    if (!sr_ok(r)) return r;
    char* w = const_cast<char*>(r.p);
    const char fill = t[s - 1];       // the decimal and units places
    const char lead = t[first];       // the other integer places
    // From the end of the suffix back to the first placeholder.
    long i = static_cast<long>(e) - 1;
    const long lo = static_cast<long>(first);
    for (int k = 0; k < dec && i >= lo; k++) w[i--] = fill;
    if (dec > 0 && i >= lo) w[i--] = '.';
    for (int place = 1; i >= lo; place++, i--) {
        if (place == 1) w[i] = fill;
        else if (place % 4 == 0 && i != lo) w[i] = ',';
        else w[i] = lead;
    }
    return scr_keep(m, r);
}

StrRef ft_mask(StrRef mask, StrRef value, int mode) {
    if (!sr_ok(mask)) return mask;
    if (!sr_ok(value)) return value;
    std::string_view m = sv(mask), v = sv(value);
    size_t fi = first_mask_char(m);
    if (fi == std::string_view::npos) return scr_copy(mask);
    char first = m[fi];
    bool digit_first = is_digit_place(first);
    bool numeric_value = true;
    for (char c : v)
        if (std::string_view(".-1234567890,D ").find(c) == std::string_view::npos) numeric_value = false;
    ScratchMark mk = scr_mark();
    if (mode == 1 || (digit_first && mode != 0 && numeric_value)) {
        FormatParams fp;
        ft_params(&fp, mode == 1);
        return scr_keep(mk, numeric_mask(m, v, fp));
    }
    if (digit_first && m.find('\\') == std::string_view::npos && m.find('?') == std::string_view::npos)
        return scr_copy(mask);
    return scr_keep(mk, text_mask(m, v, first));
}

StrRef ft_input_number(StrRef text) {
    if (!sr_ok(text)) return text;
    FormatParams fp;
    ft_params(&fp);
    std::string_view allowed = sv(fp.num_chars);
    std::string_view t = trimmed(text);
    char buf[kNumDigitsMax];
    size_t n = 0;
    for (size_t i = 0; i < t.size() && n < sizeof buf; i++) {
        char c = t[i];
        if (c != '.' && allowed.find(c) == std::string_view::npos) break;
        if (c == '-' && n > 0) break;
        bool leading = n == 0 || (n == 1 && buf[0] == '-');
        if (c == '0' && leading && !(i + 1 < t.size() && t[i + 1] == fp.decimal)) continue;
        buf[n++] = c == fp.decimal ? '.' : c;
    }
    return scr_copy(sr(buf, n));
}

// ---- dates -----------------------------------------------------------------

bool dt_leap(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int dt_month_len(int year, int month) {
    switch (month) {
    case 4: case 6: case 9: case 11: return 30;
    case 2: return dt_leap(year) ? 29 : 28;
    default: return 31;
    }
}

bool dt_valid(int32_t date) {
    int y = date / 10000, m = date / 100 % 100, d = date % 100;
    return y >= 1 && y <= 9999 && m >= 1 && m <= 12 && d >= 1 && d <= dt_month_len(y, m);
}

int32_t dt_today() {
    std::time_t now = std::time(nullptr);
    std::tm lt{};
    localtime_r(&now, &lt);
    return (lt.tm_year + 1900) * 10000 + (lt.tm_mon + 1) * 100 + lt.tm_mday;
}

StrRef dt_read(StrRef text) {
    if (!sr_ok(text)) return text;
    std::string_view t = trimmed(text);
    if (t.empty()) {
        if (empty_dates_stay()) return scr_alloc(8, ' ');
        int32_t d = dt_today();
        return date_text(d / 10000, d / 100 % 100, d % 100);
    }
    size_t at = date_separator(t);
    if (at == std::string_view::npos) {
        if (t.size() != 6) return scr_copy(sr(t));
        return parts_to_date(t.substr(0, 2), t.substr(2, 2), t.substr(4, 2));
    }
    StrRef list = sr(t);
    char sep = t[at];
    if (lst_count(list, sep) != 3) return scr_copy(sr_empty());
    std::string_view a = trimmed(lst_field(list, 1, sep));
    std::string_view b = trimmed(lst_field(list, 2, sep));
    std::string_view y = trimmed(lst_field(list, 3, sep));
    return lang_day_first() ? parts_to_date(a, b, y) : parts_to_date(b, a, y);
}

StrRef dt_format(StrRef date, int code) {
    if (!sr_ok(date)) return date;
    std::string_view t = trimmed(date);
    int32_t d = 0;
    if (t.empty()) {
        if (!empty_dates_stay()) d = dt_today();
    } else {
        d = date_of(t);
    }
    if (!d || !dt_valid(d)) return blanks(code == 1 ? 8 : code == 2 ? 10 : 0);
    int y = d / 10000, mo = d / 100 % 100, dd = d % 100;
    bool day_first = lang_day_first();
    switch (code) {
    case 0:
        return date_text(y, mo, dd);
    case 1:
    case 2: {
        ScrBuild b;
        if (day_first) put2(b, dd);
        else put2(b, mo);
        b.put('-');
        if (day_first) put2(b, mo);
        else put2(b, dd);
        b.put('-');
        if (code == 1) put2(b, y % 100);
        else put4(b, y);
        return b.done();
    }
    case 3:
    case 4: {
        FormatParams fp;
        ft_params(&fp);
        StrRef month = str_trim(lst_field(fp.months, mo));
        if (code == 3) return replace_parts("[M] [Y]", str_sub(month, 0, 3), dd, y);
        return replace_parts(sv(fp.date_pattern), month, dd, y);
    }
    default:
        return scr_copy(sr_empty());
    }
}

IER dt_arith(int32_t date, int32_t n, int unit, int32_t* out) {
    *out = 0;
    if (n > 10000) {
        int64_t y1 = date / 10000, m1 = date / 100 % 100, y2 = n / 10000, m2 = n / 100 % 100;
        int64_t r = 0;
        if (unit == 4) r = y1 - y2;
        else if (unit == 2) r = (y1 - y2) * 12 + (m1 - m2);
        else if (unit == 1) r = day_number_of(date) - day_number_of(n);
        *out = static_cast<int32_t>(r);
        return 0;
    }
    if (date <= 0) return 0;  // an empty date stays empty
    int64_t y = date / 10000, m = date / 100 % 100, d = date % 100;
    if (unit == 4) {
        y += n;
    } else if (unit == 2) {
        m += n;
        norm_month(&y, &m);
        int last = dt_month_len(static_cast<int>(y), static_cast<int>(m));
        if (d > last) d = last;
    } else if (unit == 1) {
        d += n;
    }
    norm_month(&y, &m);
    civil_of(day_number(y, m, 1) + d - 1, &y, &m, &d);
    if (y < 1 || y > 9999) return ier::EXPCALCERROR;
    *out = static_cast<int32_t>(y * 10000 + m * 100 + d);
    return 0;
}

// ---- times -----------------------------------------------------------------

int32_t tm_now() {
    struct timeval tv{};
    gettimeofday(&tv, nullptr);
    std::time_t s = tv.tv_sec;
    std::tm lt{};
    localtime_r(&s, &lt);
    return ((lt.tm_hour * 60 + lt.tm_min) * 60 + lt.tm_sec) * 1000 + static_cast<int32_t>(tv.tv_usec / 1000);
}

int32_t tm_read(StrRef text) {
    std::string_view t = trimmed(text);
    if (t.empty()) return tm_now();
    int64_t ms = 0;
    size_t dot = t.find('.');
    if (dot != std::string_view::npos) {
        // Up to three digits of the fraction of a second: ".5" is 500 ms.
        int k = 0;
        for (size_t i = dot + 1; i < t.size() && k < 3 && is_digit(t[i]); i++, k++) ms = ms * 10 + (t[i] - '0');
        if (k == 0) ms = 0;
        for (; k > 0 && k < 3; k++) ms *= 10;
        t = t.substr(0, dot);
    }
    StrRef list = sr(t);
    int count = lst_count(list, ':');
    auto field = [&](int i) -> int64_t {
        if (i < 1) return 0;
        std::string_view f = trimmed(lst_field(list, i, ':'));
        int64_t v = 0;
        for (size_t k = 0; k < f.size() && k < 9 && is_digit(f[k]); k++) v = v * 10 + (f[k] - '0');
        return v;
    };
    int64_t total = ((field(count - 2) * 60 + field(count - 1)) * 60 + field(count)) * 1000 + ms;
    // A time of day: whole days beyond it are dropped.
    return static_cast<int32_t>(total % kDayMs);
}

StrRef tm_format(int32_t ms, int flags) {
    int64_t v = ((static_cast<int64_t>(ms) % kDayMs) + kDayMs) % kDayMs;
    int h = static_cast<int>(v / 3600000), mi = static_cast<int>(v / 60000 % 60), s = static_cast<int>(v / 1000 % 60);
    int f = static_cast<int>(v % 1000);
    bool sep = flags & 1;
    char full[16];
    size_t n = 0;
    auto two = [&](int x) {
        full[n++] = static_cast<char>('0' + x / 10);
        full[n++] = static_cast<char>('0' + x % 10);
    };
    two(h);
    if (sep) full[n++] = ':';
    two(mi);
    size_t keep = n;
    if (sep) full[n++] = ':';
    two(s);
    if (flags & 2) keep = n;
    full[n++] = '.';
    full[n++] = static_cast<char>('0' + f / 100);
    full[n++] = static_cast<char>('0' + f / 10 % 10);
    full[n++] = static_cast<char>('0' + f % 10);
    if (flags & 4) keep += 4;
    if (keep > n) keep = n;
    return scr_copy(sr(full, keep));
}

}  // namespace rt
