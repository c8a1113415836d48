// Fuzz target for the argument parsing of the built-in functions. The first
// three bytes choose a function, a second function and the form of the call
// (alone, nested, side by side, through a variable, inside CHK#); the rest,
// cut at its first line break, gives the two argument texts. After every
// evaluation the argument stack must be empty and the scratch area must hold
// nothing but the result.
//
// The functions that reach files work only on short plain names, which are
// moved into a temporary folder made here (removed at exit); handles of the
// standard streams, names with folders, WRITE's merge (it evaluates what it
// writes) and EXEC$ of files are answered with 0 instead. FN#ACUM is bounded:
// its condition form runs once, and a loop runs at most twice per input and
// never over a text that could reach another loop.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/fs.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/strtab.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnimpl.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/func.h"
#include "runtime/expr/vars.h"

using namespace rt;

namespace {

std::string g_tmp;  // the folder of every file the target lets a function touch
int g_acum_left = 0;

std::string_view fn_name(int k) {
    std::string_view all = kFnBuiltinNames;
    for (int i = 0; i < k; i++) all.remove_prefix(all.find(',') + 1);
    return all.substr(0, all.find(','));
}

bool plain_name(StrRef s) {
    if (!s.n || s.n > 3) return false;
    for (size_t i = 0; i < s.n; i++) {
        char c = s.p[i];
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
                  (c == '.' && i > 0);
        if (!ok) return false;
    }
    return true;
}

IER refuse(Value* r) {
    *r = Value::number(0);
    return 0;
}

void wrap_file_functions();

// Calls the real function with the arguments pushed again, the name (when
// given) moved into the temporary folder.
IER forward_file(const FnCall& c, Value* r, int name_arg) {
    int base = st_count(grp::StkArgs);
    for (int i = 0; i < c.argc; i++) {
        IER st = 0;
        if (i == name_arg) {
            std::string p = g_tmp + "/" + std::string(sv(fn_arg_text(c, i)));
            st = st_push(grp::StkArgs, sr(p));
        } else if (fn_arg_is_text(c, i)) {
            st = st_push(grp::StkArgs, fn_arg_text(c, i));
        } else {
            Num v = fn_arg_num(c, i);
            st = st_push(grp::StkArgs, sr(reinterpret_cast<const char*>(&v), sizeof v));
        }
        if (st) {
            st_popto(grp::StkArgs, base);
            return st;
        }
    }
    fn_file_install();
    IER st = fn_invoke(c, r);
    wrap_file_functions();
    st_popto(grp::StkArgs, base);
    return st;
}

// A name (a number counts as its text) must be plain; it is moved into the
// temporary folder.
IER forward_name(const FnCall& c, Value* r) {
    if (c.argc == 0) return forward_file(c, r, -1);  // a count error, nothing touched
    if (!plain_name(fn_arg_text(c, 0))) return refuse(r);
    return forward_file(c, r, 0);
}

// A text is a name, a number a handle, which must not be a standard stream.
IER forward_name_or_handle(const FnCall& c, Value* r) {
    if (c.argc == 0 || fn_arg_is_text(c, 0)) return forward_name(c, r);
    if (fn_arg_int(c, 0, 0) < 3) return refuse(r);
    return forward_file(c, r, -1);
}

IER guard_flen(const FnCall& c, Value* r) { return forward_name(c, r); }
IER guard_read(const FnCall& c, Value* r) { return forward_name_or_handle(c, r); }

IER guard_write(const FnCall& c, Value* r) {
    if (fn_arg_int(c, 1, 0) == -2) return refuse(r);
    return forward_name_or_handle(c, r);
}

IER guard_filesel(const FnCall& c, Value* r) {
    if (c.argc == 2) return forward_name(c, r);  // opens (or creates) a file
    // One text selects data files: no file is touched.
    if (c.argc == 1 && fn_arg_is_text(c, 0)) return forward_file(c, r, -1);
    return forward_name_or_handle(c, r);
}

IER guard_exec(const FnCall& c, Value* r) {
    // Without a procedure runner a name without extension only fails.
    if (!fn_arg_is_text(c, 0) || sv(fn_arg_text(c, 0)).find('.') != std::string_view::npos) return refuse(r);
    return forward_file(c, r, -1);
}

void wrap_file_functions() {
    fn_set_builtin(fnno::FLen, guard_flen);
    fn_set_builtin(fnno::Read, guard_read);
    fn_set_builtin(fnno::Write, guard_write);
    fn_set_builtin(fnno::FileSel, guard_filesel);
    fn_set_builtin(fnno::Exec, guard_exec);
}

size_t arg_end(std::string_view s, size_t i) {
    int depth = 0;
    for (; i < s.size(); i++) {
        char c = s[i];
        if (c == '\'' || c == '"') {
            size_t k = s.find(c, i + 1);
            if (k == std::string_view::npos) return s.size();
            i = k;
        } else if (c == '(') {
            depth++;
        } else if (c == ')') {
            depth--;
        } else if (depth == 0 && (c == ';' || c == ',')) {
            return i;
        }
    }
    return s.size();
}

bool holds_word(std::string_view s, std::string_view w) {
    for (size_t i = 0; i + w.size() <= s.size(); i++) {
        size_t k = 0;
        while (k < w.size() && (s[i + k] & ~0x20) == w[k]) k++;
        if (k == w.size()) return true;
    }
    return false;
}

IER guard_acum(const FnCall& c, Value* r) {
    std::string_view raw = sv(c.raw);
    // A text that could start another loop (directly or through a text it
    // builds) is not run: loops inside loops would take hours.
    for (std::string_view w : {"ACUM", "MACRO", "EXEC", "WRITE"})
        if (holds_word(raw, w)) return refuse(r);
    std::string parts[5];
    int n = 0;
    for (size_t i = 0; !raw.empty() && n < 5;) {
        size_t e = arg_end(raw, i);
        parts[n++] = std::string(raw.substr(i, e - i));
        if (e >= raw.size()) break;
        i = e + 1;
    }
    std::string bounded;
    FnCall c2 = c;
    if (n == 2 || n == 3) {
        // The condition form runs once: the next condition is false.
        bounded = parts[0] + ";" + parts[1] + ";0";
        c2.raw = sr(bounded);
    } else if (n == 4) {
        if (g_acum_left <= 0) return refuse(r);
        g_acum_left--;
    }
    fn_text_install();
    IER st = fn_invoke(c2, r);
    fn_set_builtin(fnno::Acum, guard_acum, FnArgs::Raw);
    return st;
}

void build() {
    if (rt_stores_init() != 0) std::abort();
    ex_install();
    fnlib_install();
    wrap_file_functions();
    fn_set_builtin(fnno::Acum, guard_acum, FnArgs::Raw);
}

void remove_tmp() {
    std::error_code ec;
    if (!g_tmp.empty()) std::filesystem::remove_all(g_tmp, ec);
}

void make_tmp() {
    std::string pat = plat::temp_folder() + "/fn_fuzz.XXXXXX";
    if (!mkdtemp(pat.data())) std::abort();
    g_tmp = pat;
    std::atexit(remove_tmp);
}

void check_eval(const std::string& text) {
    ScratchMark m = scr_mark();
    size_t used = scr_used();
    Value v;
    IER st = ex_eval(sr(text), &v);
    (void)st;
    if (st_count(grp::StkArgs) != 0) std::abort();
    // Nothing is left above the mark but the one text result.
    if (scr_mark() != m + (v.is_text() ? 1 : 0)) std::abort();
    scr_release(m);
    if (scr_mark() != m || scr_used() != used) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static int runs = 0;
    if (runs == 0) make_tmp();
    if (runs++ % 4096 == 0) {
        if (runs > 1) rt_stores_teardown();
        build();
    }
    if (size < 3 || size > 4096) return 0;
    g_acum_left = 2;
    std::string_view f = fn_name(data[0] % kFnBuiltins), g = fn_name(data[1] % kFnBuiltins);
    int form = data[2] % 6;
    std::string_view rest(reinterpret_cast<const char*>(data) + 3, size - 3);
    size_t nl = rest.find('\n');
    std::string a(rest.substr(0, nl));
    std::string b(nl == std::string_view::npos ? std::string_view() : rest.substr(nl + 1));
    std::string F(f), G(g);
    std::string text;
    switch (form) {
    case 0: text = F + "(" + a + ")"; break;
    case 1: text = F + "(" + a + ")+" + G + "(" + b + ")"; break;
    case 2: text = F + "(" + G + "(" + b + ");" + a + ")"; break;
    case 3: text = F + "(" + a + ";" + G + "(" + b + "))"; break;
    case 4: text = "X$=" + F + "(" + a + ");" + G + "(X$;" + b + ")"; break;
    default: text = "CHK#(" + F + "(" + a + ");" + G + "(" + b + ");" + F + "(" + b + "))"; break;
    }
    check_eval(text);
    // The arguments alone, as an expression list of their own.
    check_eval(a);
    return 0;
}
