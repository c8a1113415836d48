#include "runtime/core/list.h"

#include <cstring>

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"

namespace rt {
namespace {

// Walks the fields of a list from the start. Separators inside quotes do not
// split, except that NUL (lists of arbitrary texts) and a quote character
// used as the separator split plainly: a quote-aware search could never find
// a quote.
struct FieldIter {
    StrRef l;
    char sep;
    bool qa;
    size_t at = 0;
    bool more;

    FieldIter(StrRef list, char s)
        : l(list), sep(s), qa(s != '\0' && !is_quote(s)), more(sr_ok(list) && list.n > 0) {}

    bool next(StrRef* f) {
        if (!more) return false;
        uint16_t k = str_find_char(l, sep, at, qa);
        size_t b = at, e;
        if (k == kNotFound) {
            e = l.n;
            more = false;
        } else {
            e = k;
            at = size_t(k) + 1;  // a trailing separator leaves one empty field
        }
        *f = sr(l.p + b, e - b);
        return true;
    }
};

inline bool same(StrRef a, StrRef b) { return a.n == b.n && (a.n == 0 || std::memcmp(a.p, b.p, a.n) == 0); }

// Offsets of field n (1-based) in the list; false when there is none.
bool field_bounds(StrRef list, int n, char sep, size_t* b, size_t* e) {
    if (n <= 0) return false;
    FieldIter it(list, sep);
    StrRef f;
    for (int k = 1; it.next(&f); k++) {
        if (k == n) {
            *b = static_cast<size_t>(f.p - list.p);
            *e = *b + f.n;
            return true;
        }
    }
    return false;
}

}  // namespace

int lst_count(StrRef list, char sep) {
    FieldIter it(list, sep);
    StrRef f;
    int k = 0;
    while (it.next(&f)) k++;
    return k;
}

StrRef lst_field(StrRef list, int n, char sep) {
    if (!sr_ok(list)) return list;
    size_t b, e;
    if (!field_bounds(list, n, sep, &b, &e)) return sr_empty();
    return sr(list.p + b, e - b);
}

int16_t lst_num(StrRef list, int n, char sep) {
    if (!sr_ok(list)) return 0;
    ScratchMark m = scr_mark();
    int16_t v = str_number(str_normalize(lst_field(list, n, sep)));
    scr_release(m);
    return v;
}

int lst_pos(StrRef list, StrRef value, char sep) {
    if (!sr_ok(list) || !sr_ok(value)) return 0;
    FieldIter it(list, sep);
    StrRef f;
    for (int k = 1; it.next(&f); k++)
        if (same(f, value)) return k;
    return 0;
}

StrRef lst_set(StrRef list, int n, StrRef value, char sep) {
    if (!sr_ok(list)) return list;
    if (!sr_ok(value)) return value;
    ScratchMark m = scr_mark();
    ScrBuild out;
    if (n < 0) {
        out.put(list);
    } else if (n == 0) {
        out.put(list);
        if (list.n) out.put(sep);
        out.put(value);
    } else {
        size_t b, e;
        if (field_bounds(list, n, sep, &b, &e)) {
            out.put(sr(list.p, b)).put(value).put(sr(list.p + e, list.n - e));
        } else {
            // Pad with empty fields so that the value becomes field n; an
            // empty list has no first field yet, so it needs one separator less.
            int count = lst_count(list, sep);
            out.put(list).put_n(sep, static_cast<size_t>(count == 0 ? n - 1 : n - count)).put(value);
        }
    }
    return scr_keep(m, out.done());
}

StrRef lst_del(StrRef list, int n, char sep) {
    if (!sr_ok(list)) return list;
    ScratchMark m = scr_mark();
    ScrBuild out;
    size_t b, e;
    if (!field_bounds(list, n, sep, &b, &e)) {
        out.put(list);
    } else if (b > 0) {
        out.put(sr(list.p, b - 1)).put(sr(list.p + e, list.n - e));  // with the separator before it
    } else if (e < list.n) {
        out.put(sr(list.p + e + 1, list.n - e - 1));  // field 1: the separator after it
    }  // else the only field: the list becomes empty
    return scr_keep(m, out.done());
}

StrRef lst_union(StrRef a, StrRef b, char sep) {
    if (!sr_ok(a)) return a;
    if (!sr_ok(b)) return b;
    ScratchMark m = scr_mark();
    ScrBuild out;
    out.put(a);
    FieldIter it(b, sep);
    StrRef f;
    while (it.next(&f) && !out.status()) {
        // Checked against what was built so far, so that a field that b
        // repeats is added once.
        StrRef sofar = sr(out.data(), out.size());
        if (lst_pos(sofar, f, sep)) continue;
        if (out.size()) out.put(sep);
        out.put(f);
    }
    return scr_keep(m, out.done());
}

StrRef lst_diff(StrRef a, StrRef b, char sep) {
    if (!sr_ok(a)) return a;
    if (!sr_ok(b)) return b;
    ScratchMark m = scr_mark();
    ScrBuild out;
    FieldIter it(a, sep);
    StrRef f;
    bool first = true;
    while (it.next(&f) && !out.status()) {
        if (lst_pos(b, f, sep)) continue;
        if (!first) out.put(sep);
        out.put(f);
        first = false;
    }
    return scr_keep(m, out.done());
}

int lst_shortest(StrRef list, char sep) {
    if (!sr_ok(list)) return 0;
    int best = list.n;
    FieldIter it(list, sep);
    StrRef f;
    while (it.next(&f)) {
        int l = str_unquote(f).n;
        if (l < best) best = l;
    }
    return best;
}

int lst_longest(StrRef list, char sep) {
    if (!sr_ok(list)) return 0;
    int best = 0;
    FieldIter it(list, sep);
    StrRef f;
    while (it.next(&f)) {
        int l = str_unquote(f).n;
        if (l > best) best = l;
    }
    return best;
}

LstSplit lst_split(StrRef list, char sep) {
    LstSplit r;
    if (!sr_ok(list)) {
        r.status = sr_status(list);
        return r;
    }
    int count = lst_count(list, sep);
    if (count == 0) return r;
    // Scratch strings start on 4-byte boundaries; the array needs the
    // alignment of a pointer, so one spare slot's worth of room is taken.
    size_t bytes = static_cast<size_t>(count) * sizeof(StrRef) + alignof(StrRef);
    if (bytes > kStrMax) {
        r.status = ier::STRINGTOOLONG;
        return r;
    }
    IER e = 0;
    char* raw = scr_alloc_w(bytes, &e);
    if (!raw) {
        r.status = e;
        return r;
    }
    uintptr_t at = reinterpret_cast<uintptr_t>(raw);
    at = (at + alignof(StrRef) - 1) & ~static_cast<uintptr_t>(alignof(StrRef) - 1);
    auto* arr = reinterpret_cast<StrRef*>(at);
    FieldIter it(list, sep);
    StrRef f;
    int k = 0;
    while (it.next(&f)) arr[k++] = f;
    r.fields = arr;
    r.count = count;
    return r;
}

}  // namespace rt
