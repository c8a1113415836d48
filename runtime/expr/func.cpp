#include "runtime/expr/func.h"

#include <cstring>
#include <string>
#include <unordered_map>

#include "runtime/core/env.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/expr/fixed.h"

namespace rt {

const std::string_view kFnBuiltinNames =
    "_#,FN#FLEN,FN#SLEN,FN#PARM,FN#VALN,FN#ACUM,CHK#,FILEFIND,FILEREL,FILELOCATE,FILESEL,FN$CHNG,FN$CHRS,"
    "FN$DATE,FN$FLDS,FN$MASK,FN$MIDS,FN$PARM,FN$TRIM,ENVELOP$,CHK$,SORT$,EXEC$,READ$,WRITE,MACRO$,"
    "ENVRON$,_$,KEY$,TIME$,IER,EXP$,SQLCHILD";

namespace {

struct Entry {
    FnImpl f = nullptr;
    FnArgs mode = FnArgs::Evaluated;
};
Entry g_fn[kFnExtLast + 1];
int g_count = 0;  // names in the table (item 8 of the environment)

// The table lives in environment item 8 as NUL-separated names; it is made
// at the first lookup (the string table is new at every start-up, so its
// emptiness tells).
void ensure_table() {
    if (env_get(env::FuncList).n) return;
    char buf[kFnBuiltinNames.size()];
    for (size_t i = 0; i < kFnBuiltinNames.size(); i++) buf[i] = kFnBuiltinNames[i] == ',' ? '\0' : kFnBuiltinNames[i];
    env_set(env::FuncList, sr(buf, sizeof buf));
    g_count = kFnBuiltins;
    for (int i = kFnExtFirst; i <= kFnExtLast; i++) g_fn[i] = Entry{};
}

// Names to numbers, beside the table; rebuilt when the table changed (a
// new start-up, a registration).
struct FnIndex {
    unsigned generation = 0;
    size_t table_len = 0;
    std::unordered_map<std::string, int> by_name;
} g_index;

int find(std::string_view name) {
    StrRef t = env_get(env::FuncList);
    if (g_index.generation != rt_stores_generation() || g_index.table_len != t.n) {
        g_index.by_name.clear();
        std::string_view all = sv(t);
        size_t pos = 0;
        int n = 1;
        while (pos < all.size()) {
            size_t z = all.find('\0', pos);
            size_t end = z == std::string_view::npos ? all.size() : z;
            g_index.by_name.emplace(std::string(all.substr(pos, end - pos)), n++);
            pos = end + 1;
        }
        g_index.generation = rt_stores_generation();
        g_index.table_len = t.n;
    }
    // The first of two equal names wins, as a scan of the table would.
    auto it = g_index.by_name.find(std::string(name));
    return it == g_index.by_name.end() ? 0 : it->second;
}

}  // namespace

int fn_lookup(StrRef name) {
    if (!sr_ok(name) || !name.n || name.n > 64) return 0;
    ensure_table();
    std::string_view n = sv(name);
    if (int k = find(n)) return k;
    char up[64];
    bool changed = false;
    for (size_t i = 0; i < n.size(); i++) {
        char c = n[i];
        up[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
        changed |= up[i] != c;
    }
    return changed ? find(std::string_view(up, n.size())) : 0;
}

FnArgs fn_args(int number) { return (number >= 1 && number <= kFnExtLast) ? g_fn[number].mode : FnArgs::Evaluated; }

bool fn_returns_text(StrRef name) { return sv(name).find('$') != std::string_view::npos; }

void fn_set_builtin(int number, FnImpl f, FnArgs mode) {
    if (number >= 1 && number <= kFnBuiltins) g_fn[number] = {f, mode};
}

IER fn_register(StrRef name, FnImpl f, FnArgs mode) {
    if (!sr_ok(name) || !name.n) return ier::BADINPUTDATA;
    ensure_table();
    int number = g_count + 1;
    if (number < kFnExtFirst || number > kFnExtLast) return ier::DATAOUTBOUND;
    ScratchMark m = scr_mark();
    ScrBuild b;
    b.put(env_get(env::FuncList)).put('\0').put(name);
    StrRef list = b.done();
    IER st = sr_ok(list) ? env_set(env::FuncList, list) : sr_status(list);
    scr_release(m);
    if (st) return st;
    g_count = number;
    g_fn[number] = {f, mode};
    return 0;
}

IER fn_invoke(const FnCall& call, Value* result) {
    *result = Value::number(0);
    if (call.number < 1 || call.number > kFnExtLast || !g_fn[call.number].f) return ier::SINTAXERROR;
    return g_fn[call.number].f(call, result);
}

void fn_reset() {
    for (int i = kFnExtFirst; i <= kFnExtLast; i++) g_fn[i] = Entry{};
    g_count = kFnBuiltins;
}

bool fn_arg_present(const FnCall& c, int i) { return i >= 0 && i < c.argc; }

bool fn_arg_is_text(const FnCall& c, int i) { return fn_arg_present(c, i) && c.kinds[i] == 1; }

StrRef fn_arg_text(const FnCall& c, int i) {
    if (!fn_arg_present(c, i)) return sr_empty();
    int n = st_count(grp::StkArgs);
    StrRef item = st_get(grp::StkArgs, n - c.argc + i);
    if (c.kinds[i] == 1) return scr_copy(item);
    Num v = 0;
    if (item.n == sizeof v) std::memcpy(&v, item.p, sizeof v);
    return num_text(v, num_precis());
}

Num fn_arg_num(const FnCall& c, int i, Num def) {
    if (!fn_arg_present(c, i)) return def;
    int n = st_count(grp::StkArgs);
    StrRef item = st_get(grp::StkArgs, n - c.argc + i);
    if (c.kinds[i] == 1) {
        if (!item.n) return def;
        Num v = 0;
        num_parse(item, num_precis(), &v);
        return v;
    }
    Num v = 0;
    if (item.n == sizeof v) std::memcpy(&v, item.p, sizeof v);
    return v;
}

}  // namespace rt
