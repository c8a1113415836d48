// Fuzz target for the procedure compiler: random procedure texts are
// compiled and, when they compile, their instructions are checked to jump
// only inside the procedure (or just past its end), then unloaded.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/script/proc.h"

using namespace rt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        if (rt_stores_init() != 0) std::abort();
        ex_install();
        fnlib_install();
        return true;
    }();
    (void)ready;
    if (size > 60000) return 0;
    ScratchMark m = scr_mark();
    int index = -1;
    IER st = proc_load_text(sr(reinterpret_cast<const char*>(data), size), &index);
    if (!st) {
        int n = proc_instructions(index);
        for (int k = 0; k < n; k++) {
            Instruction in = proc_instruction(index, k);
            if (in.code > kw::Last || in.operand > n) std::abort();
            (void)proc_statement(index, k);
        }
        if (proc_unload(index) != 0) std::abort();
    }
    if (proc_count() != 0) std::abort();
    scr_release(m);
    return 0;
}
