// Fuzz target for the dictionary loader. The input is up to three files
// separated by NUL bytes: XXDICC.DAT, XXREL.DAT and QVDICC.DAT (which the
// first may include, as may itself). Whatever loads must be a consistent
// dictionary: fields end to end, keys inside the record, every field
// readable and writable without touching its neighbours.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "runtime/core/env.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/data/dict.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"

using namespace rt;

namespace {

std::string g_dir;

void write_file(const char* name, std::string_view text) {
    std::string p = g_dir + "/" + name;
    std::FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) std::abort();
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), f) != text.size()) std::abort();
    std::fclose(f);
}

void remove_file(const char* name) { ::unlink((g_dir + "/" + name).c_str()); }

// The folder goes when the fuzzer ends.
void remove_folder() {
    for (const char* n : {"XXDICC.DAT", "XXREL.DAT", "QVDICC.DAT"}) remove_file(n);
    ::rmdir(g_dir.c_str());
}

void check(bool ok) {
    if (!ok) std::abort();
}

void check_structure(int s) {
    int nf = dict_fields(s);
    int offset = 0;
    for (int f = 1; f <= nf; f++) {
        FieldInfo fi;
        check(dict_field(s, f, &fi));
        check(fi.offset == offset && fi.width >= 0 && fi.width <= kFieldWidthMax);
        offset += fi.width;
        StrRef v{};
        check(dict_value(s, f, 1, &v) == 0 && v.n == fi.width);
        // Setting a field changes that field only.
        ScratchMark m = scr_mark();
        StrRef before = scr_copy(dict_record(s, 1));
        IER st = dict_set(s, f, sr("12"));
        StrRef after = dict_record(s, 1);
        check(after.n == before.n);
        for (int i = 0; i < after.n; i++)
            if (i < fi.offset || i >= fi.offset + fi.width) check(after.p[i] == before.p[i]);
        (void)st;  // a value that does not fit is refused; either way nothing else moves
        scr_release(m);
        check(dict_field_find(s, fi.name) >= 1);
    }
    check(offset == dict_width(s));
    check(dict_record(s, 1).n == dict_width(s) && dict_record(s, 2).n == dict_width(s));
    int nk = dict_keys(s);
    check(nk > 0 || nf == 0);
    for (int k = 1; k <= nk; k++) {
        KeySegment seg[kKeySegmentsMax];
        int n = dict_key(s, k, seg);
        check(n >= 1 && n <= kKeySegmentsMax);
        size_t total = 0;
        for (int i = 0; i < n; i++) {
            check(seg[i].offset + seg[i].length <= dict_width(s));
            int f = dict_key_field(s, k, i + 1);
            check(f >= 1 && f <= nf);
            total += seg[i].length;
        }
        ScratchMark m = scr_mark();
        StrRef kv{};
        check(dict_key_value(s, k, 1, &kv) == 0 && kv.n == total);
        scr_release(m);
    }
    check(dict_find(dict_name(s)) >= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        if (rt_stores_init() != 0) std::abort();
        ex_install();
        fnlib_install();
        dict_install();
        const char* t = std::getenv("TMPDIR");
        std::string pat = std::string(t && *t ? t : "/tmp") + "/qvdictfuzz.XXXXXX";
        if (!mkdtemp(pat.data())) std::abort();
        g_dir = pat;
        std::atexit(remove_folder);
        return true;
    }();
    (void)ready;
    if (size > 200000) return 0;
    std::string_view in(reinterpret_cast<const char*>(data), size);
    std::string_view part[3];
    for (int i = 0; i < 3; i++) {
        size_t z = in.find('\0');
        part[i] = in.substr(0, z);
        in = z == std::string_view::npos ? std::string_view() : in.substr(z + 1);
    }
    write_file("XXDICC.DAT", part[0]);
    if (part[1].empty()) remove_file("XXREL.DAT");
    else write_file("XXREL.DAT", part[1]);
    if (part[2].empty()) remove_file("QVDICC.DAT");
    else write_file("QVDICC.DAT", part[2]);

    ScratchMark m = scr_mark();
    env_set(env::DocPath, sr(g_dir));
    dict_clear();
    IER st = dict_load(sr("XX"));
    (void)st;
    check(dict_count() <= kStructsMax);
    for (int s = 1; s <= dict_count(); s++) check_structure(s);
    dict_clear();
    scr_release(m);
    err_detail_clear();
    err_origin(2, 0, 0);
    return 0;
}
