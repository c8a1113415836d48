// Fuzz target for the translation of conditions into SQL. The input is a
// condition over the fields of one structure. Whatever comes out must be
// one condition: every literal and every name closed, parentheses
// balanced, and no ';' outside a literal, so that no input can add a
// statement or end a literal early.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/rec.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"

using namespace rt;

namespace {

int no_box(StrRef, StrRef, int kind) { return kind == 5 ? 2 : 1; }

void check(bool ok) {
    if (!ok) std::abort();
}

// Walks the text as the server reads it (E'' literals with backslash
// escapes, since every literal the layer writes with a backslash is one).
void check_sql(const std::string& t) {
    int depth = 0;
    for (size_t i = 0; i < t.size(); i++) {
        char c = t[i];
        if (c == '\'') {
            bool escapes = i > 0 && (t[i - 1] == 'E' || t[i - 1] == 'e');
            for (i++;; i++) {
                check(i < t.size());
                if (escapes && t[i] == '\\') {
                    i++;
                } else if (t[i] == '\'') {
                    check(i + 1 >= t.size() || t[i + 1] != '\'');
                    break;
                }
            }
        } else if (c == '"') {
            for (i++;; i++) {
                check(i < t.size());
                if (t[i] == '"') {
                    if (i + 1 < t.size() && t[i + 1] == '"') i++;
                    else break;
                }
            }
        } else if (c == '(') {
            depth++;
        } else if (c == ')') {
            check(--depth >= 0);
        } else {
            check(c != ';');
            check(!(c == '-' && i + 1 < t.size() && t[i + 1] == '-'));
        }
    }
    check(depth == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        msgbox_set_port(no_box);
        if (rt_stores_init() != 0) std::abort();
        ex_install();
        fnlib_install();
        dict_install();
        int n = 0;
        dict_open(0, sr("items"), sr(""), &n);
        dict_add_field(sr("CODE"), 6, 'A');
        dict_add_field(sr("QTY"), 5, 'N');
        dict_add_field(sr("PRICE"), 10, '2');
        dict_add_field(sr("WHEN"), 8, 'D');
        dict_complete(n);
        sysv_set(sysv::CURFIL, static_cast<int16_t>(n));
        return true;
    }();
    (void)ready;
    if (size > 4096) return 0;
    std::string_view in(reinterpret_cast<const char*>(data), size);
    // Only field references and constants: the functions that reach files
    // and programs are no part of a condition worth fuzzing here.
    if (in.find('(') != std::string_view::npos && in.find("FN") != std::string_view::npos) return 0;
    if (in.find("EXEC") != std::string_view::npos || in.find("WRITE") != std::string_view::npos ||
        in.find("FILE") != std::string_view::npos || in.find("READ") != std::string_view::npos)
        return 0;
    ScratchMark m = scr_mark();
    std::string out;
    if (rec_filter(sr(in), &out) == 0) check_sql(out);
    scr_release(m);
    check(scr_mark() == m);
    err_detail_clear();
    err_origin(2, 0, 0);
    return 0;
}
