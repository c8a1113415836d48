// Fuzz target for screen field lists. The input is one list (the first
// line) and a text to store in every field (the second line). The parser
// must never fail on its own invariants, and a screen built from a list must
// hold every field with a sane place and a value no longer than its field.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/ui/fieldlist.h"
#include "runtime/ui/screen.h"

using namespace rt;

namespace {

int no_box(StrRef, StrRef, int kind) { return kind == 5 ? 2 : 1; }

void check(bool ok) {
    if (!ok) std::abort();
}

void build() {
    msgbox_set_port(no_box);
    if (rt_stores_init() != 0) std::abort();
    ex_install();
    fnlib_install();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int runs = 0;
    if (runs++ % 4096 == 0) {
        if (runs > 1) rt_stores_teardown();
        build();
    }
    if (size > 20000) return 0;
    std::string_view in(reinterpret_cast<const char*>(data), size);
    size_t nl = in.find('\n');
    std::string_view list = in.substr(0, nl);
    std::string_view value = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);

    FieldSpec fs;
    int st = fs_parse(list, &fs);
    if (st == 0) {
        check(!fs.items.empty() && int(fs.items.size()) <= kScreenFieldsMax);
        for (const FieldItem& it : fs.items) check(it.parts >= 1 && it.at_row >= 0 && it.at_col >= 0);
    }
    // Options: what is set is read back.
    std::string block = fs_option_set(fs.options, "FD$", "A$,B#");
    std::string v;
    check(fs_option(block, "FD$", &v) && v == "A$,B#");

    ScratchMark m = scr_mark();
    int sc = -1;
    if (screen_build(sr(list), 0, &sc) == 0) {
        int n = screen_fields(sc);
        check(n == int(fs.items.size()));
        for (int i = 1; i <= n; i++) {
            int row, col, width;
            screen_field_place(sc, i, &row, &col, &width);
            check(width >= 1 && width <= kFieldLengthMax && row >= 0 && col >= 0);
            ScratchMark fm = scr_mark();
            screen_store(sc, stf::Edit, i, sr(value.substr(0, 1000)));
            check(screen_value(sc, i).n <= kFieldLengthMax);
            scr_release(fm);
        }
        screen_release(sc);
    }
    scr_release(m);
    check(scr_mark() == m);
    return 0;
}
