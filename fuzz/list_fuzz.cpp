// Fuzz target for the string and delimited-list operations. The input is cut
// into a separator choice, a field number, a keyword mode and three texts
// (list, value, name) separated by 0x01 bytes; every operation runs on them
// and the properties that must always hold are checked. A violation aborts.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"

using namespace rt;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "list_fuzz: %s\n", what);
    std::abort();
}
#define CHECK(cond) \
    do { if (!(cond)) fail(#cond); } while (0)

bool has_any(std::string_view s, std::string_view set) { return s.find_first_of(set) != std::string_view::npos; }
bool same(StrRef a, std::string_view b) { return sr_ok(a) && sv(a) == b; }
bool within(StrRef part, StrRef whole) {
    return part.p >= whole.p && part.p + part.n <= whole.p + whole.n;
}

// A building operation leaves exactly its result behind, or nothing when it
// fails; either way no result can be longer than a string value holds.
void check_built(StrRef r, ScratchMark before) {
    if (sr_ok(r)) {
        CHECK(scr_mark() == before + 1);
        CHECK(r.n <= kStrMax);
    } else {
        CHECK(scr_mark() == before);
        CHECK(sr_status(r) >= 128);
    }
}

// The result must be the expected text, or refused with 146 when that text
// cannot be a string value.
void check_sized(StrRef r, size_t expected_len) {
    if (expected_len > kStrMax) CHECK(sr_status(r) == ier::STRINGTOOLONG);
    else {
        CHECK(sr_ok(r));
        CHECK(r.n == expected_len);
    }
}

std::string plain_replace(std::string_view s, std::string_view t, std::string_view r) {
    if (t.empty()) return std::string(s);
    std::string out;
    size_t from = 0;
    for (;;) {
        size_t p = s.find(t, from);
        if (p == std::string_view::npos) break;
        out.append(s.substr(from, p - from)).append(r);
        from = p + t.size();
    }
    out.append(s.substr(from));
    return out;
}

void check_list(StrRef list, StrRef value, StrRef name, char sep, int n, int mode) {
    const ScratchMark base = scr_mark();
    const std::string_view L = sv(list), V = sv(value);
    const std::string_view sepv(&sep, 1);
    const bool plain_sep = sep == '\0' || is_quote(sep);
    const bool list_free = plain_sep || !has_any(L, "'\"");
    const bool value_free = !has_any(V, sepv) && (plain_sep || !has_any(V, "'\""));

    // Field count, fields and split agree, and the fields rebuild the list.
    const int count = lst_count(list, sep);
    CHECK(count >= 0 && (count == 0) == (list.n == 0));
    {
        LstSplit sp = lst_split(list, sep);
        if (sp.status == 0) {
            CHECK(sp.count == count);
            std::string rebuilt;
            for (int i = 0; i < sp.count; i++) {
                if (i) rebuilt += sep;
                rebuilt.append(sv(sp.fields[i]));
                CHECK(within(sp.fields[i], list));
                if (i < 64) CHECK(same(lst_field(list, i + 1, sep), sv(sp.fields[i])));
            }
            CHECK(rebuilt == L);
        } else {
            CHECK(sp.status == ier::STRINGTOOLONG || sp.status == ier::OUTOFMEMORY);
        }
        scr_release(base);
    }
    CHECK(lst_field(list, count + 1, sep).n == 0);
    CHECK(lst_field(list, 0, sep).n == 0);
    const StrRef fn = lst_field(list, n, sep);
    CHECK(within(fn, list) || fn.n == 0);
    if (n >= 1 && n <= count && fn.n) CHECK(lst_pos(list, fn, sep) >= 1 && lst_pos(list, fn, sep) <= n);
    (void)lst_num(list, n, sep);
    CHECK(scr_mark() == base);
    CHECK(lst_shortest(list, sep) <= list.n && lst_longest(list, sep) <= list.n);

    // Set field: the value reads back where it was put, other fields stay.
    {
        StrRef r = lst_set(list, n, value, sep);
        check_built(r, base);
        if (n > 0) {
            size_t expect = n <= count ? L.size() - fn.n + V.size()
                                       : L.size() + static_cast<size_t>(count == 0 ? n - 1 : n - count) + V.size();
            check_sized(r, expect);
        } else if (n == 0) {
            check_sized(r, L.size() + (L.empty() ? 0 : 1) + V.size());
        }
        if (sr_ok(r) && n > 0 && list_free && value_free) {
            CHECK(same(lst_field(r, n, sep), V));
            int c2 = lst_count(r, sep);
            CHECK(r.n == 0 || c2 == (n > count ? n : count));
            for (int i = 1; i <= count && i <= 16; i++)
                if (i != n) CHECK(same(lst_field(r, i, sep), sv(lst_field(list, i, sep))));
        }
        if (sr_ok(r) && n == 0 && list_free && value_free && r.n)
            CHECK(same(lst_field(r, lst_count(r, sep), sep), V));
        scr_release(base);
    }

    // Delete field: the later fields move up by one.
    {
        StrRef r = lst_del(list, n, sep);
        check_built(r, base);
        if (sr_ok(r)) {
            if (n < 1 || n > count) {
                CHECK(sv(r) == L);
            } else {
                CHECK(r.n == L.size() - fn.n - (count > 1 ? 1 : 0));
                if (r.n) {
                    CHECK(lst_count(r, sep) == count - 1);
                    for (int i = 1; i < count && i <= 16; i++)
                        CHECK(same(lst_field(r, i, sep), sv(lst_field(list, i < n ? i : i + 1, sep))));
                }
            }
        }
        scr_release(base);
    }

    // Union and difference with the value taken as a second list.
    {
        StrRef u = lst_union(list, value, sep);
        check_built(u, base);
        if (sr_ok(u)) {
            CHECK(sv(u).substr(0, L.size()) == L);
            if (list_free && (plain_sep || !has_any(V, "'\""))) {
                int cv = lst_count(value, sep);
                CHECK(lst_count(u, sep) <= count + cv);
                for (int i = 1; i <= cv && i <= 16; i++) {
                    StrRef f = lst_field(value, i, sep);
                    if (f.n) CHECK(lst_pos(u, f, sep) > 0);
                }
            }
        } else {
            CHECK(sr_status(u) == ier::STRINGTOOLONG || sr_status(u) == ier::OUTOFMEMORY);
        }
        scr_release(base);

        StrRef d = lst_diff(list, value, sep);
        check_built(d, base);
        CHECK(sr_ok(d));  // never longer than the list
        CHECK(d.n <= list.n);
        if (list_free && (plain_sep || !has_any(V, "'\"")) && d.n) {
            int cd = lst_count(d, sep);
            for (int i = 1; i <= cd && i <= 16; i++) {
                StrRef f = lst_field(d, i, sep);
                CHECK(lst_pos(value, f, sep) == 0);
                CHECK(lst_pos(list, f, sep) > 0);
            }
        }
        scr_release(base);
    }

    // Keyword value: a raw or unquoted value is a view into the text.
    {
        bool found = true;
        StrRef k = str_keyword(list, name, mode, &found);
        CHECK(sr_ok(k));
        if (!found) CHECK(k.n == 0);
        if ((mode & 3) != 3) {
            CHECK(scr_mark() == base);
            if (k.n) CHECK(within(k, list));
        } else {
            CHECK(k.n <= list.n);
        }
        if (found && name.n && (mode & 3) == 0) {
            // The name and ':' or '=' stand right before the value.
            size_t at = static_cast<size_t>(k.p - list.p);
            CHECK(at > name.n);
            CHECK(list.p[at - 1] == ':' || list.p[at - 1] == '=');
            CHECK(std::memcmp(list.p + at - 1 - name.n, name.p, name.n) == 0);
        }
        scr_release(base);
    }

    // Enclosed text sits between the character and its partner.
    for (char c : {'(', '[', '\'', sep}) {
        for (bool qa : {false, true}) {
            StrRef e = str_enclosed(list, c, qa);
            CHECK(sr_ok(e));
            if (e.n) {
                CHECK(within(e, list) && e.p > list.p && e.p + e.n < list.p + list.n);
                CHECK(e.p[-1] == c && e.p[e.n] == partner_of(c));
            }
        }
    }
    CHECK(scr_mark() == base);

    // Finding text agrees with a plain search, and quote-aware finds never
    // report more than the plain one.
    {
        uint16_t p = str_find_text(list, value, false);
        size_t ref = V.empty() ? 0 : L.find(V);
        CHECK(ref == std::string_view::npos ? p == kNotFound : p == ref);
        uint16_t q = str_find_text(list, value, true);
        if (q != kNotFound) {
            CHECK(q >= p && q + value.n <= list.n);
            CHECK(std::memcmp(list.p + q, value.p, value.n) == 0);
        }
        uint16_t l = str_find_last(list, value, 2);
        size_t rl = V.empty() ? std::string_view::npos : L.rfind(V);
        CHECK(rl == std::string_view::npos ? l == kNotFound : l == rl);
        int cnt = str_count(list, value);
        CHECK(cnt >= 0 && (cnt == 0) == (V.empty() || ref == std::string_view::npos));
    }

    // Replacing: the plain one matches a reference, replacing a text by
    // itself changes nothing, and results are refused rather than cut.
    {
        StrRef r = str_replace(list, value, name, true);
        check_built(r, base);
        std::string ref = plain_replace(L, V, sv(name));
        if (ref.size() > kStrMax) CHECK(sr_status(r) == ier::STRINGTOOLONG);
        else CHECK(same(r, ref));
        scr_release(base);
        for (bool plain : {false, true}) {
            StrRef s = str_replace(list, value, value, plain);
            CHECK(same(s, L));
            scr_release(base);
        }
        StrRef q = str_replace(list, sr(sepv), name, false);
        check_built(q, base);
        scr_release(base);
    }

    // A few text operations that build from the list.
    {
        StrRef c = str_concat(list, value);
        check_sized(c, L.size() + V.size());
        scr_release(base);
        StrRef w = str_repeat(value, n);
        check_sized(w, n > 0 ? V.size() * static_cast<size_t>(n) : 0);
        scr_release(base);
        StrRef nv = str_normalize(value);
        CHECK(sr_ok(nv) && nv.n <= value.n);
        scr_release(base);
        (void)str_number(value);
        StrRef qt = str_quote(value);
        if (sr_ok(qt)) check_sized(qt, V.size() + 2);
        else CHECK(sr_status(qt) == ier::BADINPUTDATA || sr_status(qt) == ier::STRINGTOOLONG);
        scr_release(base);
    }
    CHECK(scr_mark() == base);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] { return rt_stores_init() == 0; }();
    if (!ready) fail("the runtime stores could not be built");
    if (size < 4) return 0;

    static const char kSeps[] = {',', ';', '\0', ' ', '-', '\'', '/', ':'};
    char sep = data[0] < 0xF0 ? kSeps[data[0] % sizeof kSeps] : static_cast<char>(data[1]);
    int n;
    if (data[1] == 0xFF) n = -static_cast<int>(data[2]);
    else if (data[1] & 0x80) n = ((data[1] & 0x7F) << 9) | (data[2] << 1);  // up to 65534
    else n = data[1] % 12;
    int mode = data[3] & 7;

    std::string_view rest(reinterpret_cast<const char*>(data + 4), size - 4);
    if (rest.size() > kStrMax) return 0;
    size_t a = rest.find('\x01');
    std::string_view list = rest.substr(0, a);
    std::string_view value, name;
    if (a != std::string_view::npos) {
        std::string_view tail = rest.substr(a + 1);
        size_t b = tail.find('\x01');
        value = tail.substr(0, b);
        if (b != std::string_view::npos) name = tail.substr(b + 1);
    }

    ScratchMark m = scr_mark();
    check_list(sr(list), sr(value), sr(name), sep, n, mode);
    scr_release(m);
    return 0;
}
