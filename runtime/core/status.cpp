#include "runtime/core/status.h"

#include <cstring>

#include "runtime/core/list.h"
#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/strtab.h"

namespace rt {
namespace {

// Names of 122..185; the empty places (174, 182, 184) keep the numbering.
constexpr std::string_view kStatusNames =
    "User Canceled,Null Expression,Undef.Warning,Type Warning,Bad user data,Out of Data,"
    "Type Mismatch,Loop Failure,Disk I/O,File I/O,Procedure Execution,PRCSTCKERROR,"
    "TRANSUPERROR,VARHANDLERROR,DISKREADERROR,DISKWRITERROR,DISKOPENERROR,NETACCESERROR,"
    "BADEXPRESION,INTERNALERROR,FARHEAPINIERR,Screen Environ,INDEXCMDERROR,OUTOFMEMORY,"
    "STRINGTOOLONG,SINTAXERROR,FEATUREREMOVED,DIMSTRUCERROR,BADSTRINGTYPE,BADFILENUMBER,"
    "FORMATFAILURE,STRCONCATERR,MEMORYALLOCERR,EXPCALCERROR,LOADSTRERROR,VARNAMEERROR,"
    "BADCOMMANDLINE,STROUTBOUND,MEMTESTERROR,FILEOUTBOUND,SQLERROR,BADINPUTDATA,"
    "File Not Found,File Exist,File Opening,CHILDEXECERROR,DATAOUTBOUND,FILENOTINIT,"
    "COMMONCTLERROR,DEVICETIMEOUT,DEVICEIOERROR,SYSTEMCMDERROR,,Permission Denied,"
    "StructMemError,ScreenStructErr,Memory Leaks,Windows Control Error,Memory Overflow,"
    "Variable ScreenField,,Data Already exist,,Graphic Support Low";
constexpr IER kFirstNamed = 122, kLastNamed = 185;

constexpr std::string_view kModuleNames =
    "STRINGINIT,STRINGASSIGN,STRCONCAT,VARNMASSIGN,SQLCONNECT,SQLEXEC,EXEC_COMPILER,"
    "Malloc-MemAcums,ExecRunTime,VarStruct,ExpExec,Sort,BufferFld,DynStrings,StructFuncs,"
    "FormatStrings,Streams,DataFile,LocalLists,Screens,Devices,HtmlScan";

// Field n (1-based) of a plain comma list known to hold no quotes.
std::string_view plain_field(std::string_view list, int n) {
    size_t start = 0;
    for (int k = 1; k < n; k++) {
        size_t c = list.find(',', start);
        if (c == std::string_view::npos) return {};
        start = c + 1;
    }
    size_t end = list.find(',', start);
    return list.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

struct Origin {
    IER st = 0;
    int module = 0;
} g_origin;

constexpr size_t kDetailKeep = 1024;

}  // namespace

std::string_view status_name(IER st) {
    if (st < kFirstNamed || st > kLastNamed) return "Undefined";
    std::string_view n = plain_field(kStatusNames, st - kFirstNamed + 1);
    return n.empty() ? std::string_view("Undefined") : n;
}

std::string_view module_name(int module) {
    if (module < 1 || module > mod::kCount) return {};
    return plain_field(kModuleNames, module);
}

StrRef status_text(IER st) {
    if (st == ier::FromOrigin) st = g_origin.st;
    if (st == 0) return msg(5);
    if (st <= 120) return msg(8);
    if (st == ier::Info || st == ier::BadUserData) {
        StrRef d = st_get(grp::Runtime, rtitem::Detail);
        if (d.n) return scr_copy(d);
    }
    return scr_copy(sr(status_name(st)));
}

StrRef error_text(IER st) {
    if (st == ier::FromOrigin) st = g_origin.st;
    ScratchMark m = scr_mark();
    StrRef t = status_text(st);
    if (st < 128) return t;
    StrRef head = msg(9);
    ScrBuild b;
    b.put(head).put(t);
    if (g_origin.module) b.put('(').put(module_name(g_origin.module)).put(')');
    StrRef d = st_get(grp::Runtime, rtitem::Detail);
    if (d.n) b.put(": ").put(d);
    StrRef r = b.done();
    return scr_keep(m, r);
}

void err_origin(int cond, int module, IER st) {
    if (cond == 2) {
        g_origin = {st, module};
        return;
    }
    if (cond && g_origin.st == 0 && st >= 128) g_origin = {st, module};
}

void err_origin_get(IER* st, int* module) {
    if (st) *st = g_origin.st;
    if (module) *module = g_origin.module;
}

IER err_detail(IER st, StrRef text, bool append) {
    if (!sr_ok(text)) return st;
    if (!append) {
        st_set(grp::Runtime, rtitem::Detail, text);
        return st;
    }
    ScratchMark m = scr_mark();
    StrRef old = scr_copy(st_get(grp::Runtime, rtitem::Detail));
    size_t keep = sr_ok(old) ? old.n : 0;
    // Keep the earliest lines: cut from the end at line breaks until the
    // kept text is short enough; a text without a break is cut hard.
    while (keep > kDetailKeep) {
        size_t k = keep;
        while (k > 0 && old.p[k - 1] != '\n' && old.p[k - 1] != '\r') k--;
        while (k > 0 && (old.p[k - 1] == '\n' || old.p[k - 1] == '\r')) k--;
        keep = k ? k : kDetailKeep;
    }
    ScrBuild b;
    b.put(sr(old.p ? old.p : "", keep));
    if (keep) b.put("\r\n");
    b.put(text);
    StrRef all = b.done();
    if (sr_ok(all)) st_set(grp::Runtime, rtitem::Detail, all);
    scr_release(m);
    return st;
}

IER err_detail(IER st, std::string_view text, bool append) { return err_detail(st, sr(text), append); }

StrRef err_detail_get() { return st_get(grp::Runtime, rtitem::Detail); }

void err_detail_clear() { st_set(grp::Runtime, rtitem::Detail, sr_empty()); }

IER err_raise(IER st, int module, std::string_view detail) {
    err_origin(1, module, st);
    return err_detail(st, detail);
}

}  // namespace rt
