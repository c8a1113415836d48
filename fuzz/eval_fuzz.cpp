// Fuzz target for the expression evaluator. The input is a list of
// expressions, one per line, evaluated in turn in one variable store, so
// that assignments of one line feed the next. Every few thousand inputs the
// stores are built again, so the variable store is random too.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/strtab.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/vars.h"

using namespace rt;

namespace {

// Boxes (a leak report of a list the input never killed) are not shown.
int no_box(StrRef, StrRef, int kind) { return kind == 5 ? 2 : 1; }

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
    std::string_view in(reinterpret_cast<const char*>(data), size);
    ScratchMark m = scr_mark();
    int lines = 0;
    while (!in.empty() && lines++ < 64) {
        size_t nl = in.find('\n');
        std::string_view line = in.substr(0, nl);
        in = nl == std::string_view::npos ? std::string_view() : in.substr(nl + 1);
        if (line.size() > 4096) continue;
        Value v;
        ex_eval(sr(line), &v);
        ex_brackets(sr(line), static_cast<int>(line.size() & 0x1FF));
        // Every evaluation gives back what it took.
        if (st_count(grp::StkArgs) != 0) std::abort();
        scr_release(m);
        if (scr_mark() != m) std::abort();
    }
    return 0;
}
