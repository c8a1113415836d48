#include "runtime/core/sysvar.h"

#include "runtime/core/list.h"
#include "runtime/core/str.h"
#include "runtime/core/rtarray.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"

namespace rt {

const std::string_view kSysIntVars =
    "_AUXSTAT,_RELRES,_CURFIL,_CUREDFLD,_DEVHIG=24,_DEVWID=80,_DEVLIN,_DEVPOS,_DEVPAG,_CURROW,"
    "_STAT,_LASTKEY=4,_SGN,_UPSTAT=1,_IER,_SYSCOMPAT,_SQLSTK,_COUNT,_HCOUNT,_ADMSTAT,_COMPAT,"
    "_SCRSTAT,_LMAX,_LNUM,_LLST,_HNUM,_SAFE,_LB=128,_AUX,_KEYMAP,_SERIAL,_TRACE=1,_PRECIS=2,"
    "_BYEAR=2000,_BKYEAR=80,_DX,_INHND,_OUTHND,_DATE,_DOCST,_WMAXROW,_USER01,_USER02,_USER03";
const std::string_view kSysTextVars = "_ACUM$,_ACUMX$,_LTEXT$";

namespace {
constexpr int kNamesInt = 0, kNamesText = 2, kNameLists = 4;
}

IER sysv_init() {
    ScratchMark m = scr_mark();
    ScrBuild names;
    StrRef list = sr(kSysIntVars);
    int n = lst_count(list);
    int16_t values[sysv::IntCount] = {};
    for (int i = 1; i <= n && i <= sysv::IntCount; i++) {
        std::string_view f = sv(lst_field(list, i));
        size_t eq = f.find('=');
        if (i > 1) names.put(',');
        names.put(f.substr(0, eq));
        if (eq != std::string_view::npos) values[i - 1] = str_number(sr(f.substr(eq + 1)));
    }
    StrRef nl = names.done();
    IER st = sr_status(nl);
    for (int k = 0; !st && k < kNameLists; k++) st = st_set(grp::VarNames, k, sr_empty());
    if (!st) st = st_set(grp::VarNames, kNamesInt, nl);
    if (!st) st = st_set(grp::VarNames, kNamesText, sr(kSysTextVars));
    for (int i = 0; !st && i < sysv::IntCount; i++)
        if (!ra_put(arr::IntValues, static_cast<unsigned>(i), &values[i], sizeof(int16_t))) st = ier::OUTOFMEMORY;
    for (int i = 0; !st && i < lst_count(sr(kSysTextVars)); i++) st = st_set(grp::TextValues, i, sr_empty());
    scr_release(m);
    return st;
}

int16_t sysv_get(int no) {
    auto* p = static_cast<int16_t*>(ra_get(arr::IntValues, static_cast<unsigned>(no)));
    return p ? *p : 0;
}

IER sysv_set(int no, int16_t value) {
    auto* p = static_cast<int16_t*>(ra_get(arr::IntValues, static_cast<unsigned>(no)));
    if (!p) return ier::VARHANDLERROR;
    *p = value;
    return 0;
}

int var_int_find(StrRef name) {
    int pos = lst_pos(st_get(grp::VarNames, kNamesInt), name);
    return pos - 1;
}

IER var_declare_int(StrRef name, int16_t value) {
    if (!sr_ok(name) || !name.n || sv(name).find_first_of("(,$#@'\"") != std::string_view::npos)
        return ier::SINTAXERROR;
    int no = var_int_find(name);
    if (no < 0) {
        ScratchMark m = scr_mark();
        StrRef names = st_get(grp::VarNames, kNamesInt);
        no = lst_count(names);
        StrRef grown = lst_set(names, 0, name);
        IER st = sr_ok(grown) ? st_set(grp::VarNames, kNamesInt, grown) : IER(ier::VARNAMEERROR);
        scr_release(m);
        if (st) {
            err_origin(1, mod::VARNMASSIGN, ier::VARNAMEERROR);
            return ier::VARNAMEERROR;
        }
    }
    if (!ra_put(arr::IntValues, static_cast<unsigned>(no), &value, sizeof value)) return ier::OUTOFMEMORY;
    return 0;
}

}  // namespace rt

namespace rt {
char var_type_of(StrRef name) {
    if (!sr_ok(name) || !name.n) return 0;
    // One pass: '@' refuses the name, '(' outranks '$', which outranks '#'.
    bool paren = false, dollar = false, hash = false;
    for (uint16_t i = 0; i < name.n; i++) {
        switch (name.p[i]) {
        case '@': return 0;
        case '(': paren = true; break;
        case '$': dollar = true; break;
        case '#': hash = true; break;
        default: break;
        }
    }
    return paren ? 'a' : dollar ? 't' : hash ? 'n' : 'i';
}
}  // namespace rt
