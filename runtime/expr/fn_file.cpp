// The built-in functions that reach files, data-file records, procedures
// and the string table.
#include <cstring>

#include "platform/fs.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/hooks.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnimpl.h"
#include "runtime/expr/recport.h"
#include "runtime/expr/vars.h"

namespace rt {
namespace {

// ------------------------------------------------------------ the record port

// Without a data layer no data file exists: every file is out of bounds,
// and the key of file 0 (no file) is empty.
int no_file_number(StrRef) { return 0; }
IER no_record_count(int, long long* count) {
    *count = 0;
    return ier::FILEOUTBOUND;
}
IER no_find(StrRef, int, int, int) { return ier::FILEOUTBOUND; }
IER no_relate(int, int, int, int, StrRef) { return ier::FILEOUTBOUND; }
IER no_locate(int, int) { return ier::FILEOUTBOUND; }
IER no_select(StrRef) { return ier::FILEOUTBOUND; }
IER no_key_text(int file, int, int, int, StrRef* out) {
    *out = sr_empty();
    return file == 0 ? IER(0) : IER(ier::FILEOUTBOUND);
}
IER no_last_status(int, IER* st) {
    *st = 0;
    return ier::FILEOUTBOUND;
}
IER no_field_chars(StrRef, int, StrRef* out) {
    *out = sr_empty();
    return ier::FILEOUTBOUND;
}

constexpr RecordPort kNoRecords{no_file_number, no_record_count, no_find,      no_relate,     no_locate,
                                no_select,      no_key_text,     no_last_status, no_field_chars};
RecordPort g_port = kNoRecords;

// ------------------------------------------------------------ helpers

int precis() { return num_precis(); }

IER num_result(ScratchMark m, Value* r, long long n) {
    scr_release(m);
    *r = Value::number(num_from_int(n, precis()));
    return 0;
}

IER text_result(ScratchMark m, Value* r, StrRef t) {
    if (!sr_ok(t)) {
        scr_release(m);
        return sr_status(t);
    }
    return fn_text_result(r, scr_keep(m, t));
}

// A status of the record layer: errors stop the evaluation, anything lower
// is the function's numeric value.
IER status_result(ScratchMark m, Value* r, IER st) {
    if (st >= 128) {
        scr_release(m);
        return st;
    }
    return num_result(m, r, st);
}

bool arg_absent(const FnCall& c, int i) {
    return !fn_arg_present(c, i) || (fn_arg_is_text(c, i) && !fn_arg_text(c, i).n);
}

int clamp_int(long long v) { return v < -32768 ? -32768 : v > 65535 ? 65535 : static_cast<int>(v); }

// A data file argument: absent means the current file, a number is the
// file's number, a text its name (or number). A name of no data file is
// refused here, so that file 0 ("none") is only reached when asked for.
IER file_arg(const FnCall& c, int i, int* file) {
    if (arg_absent(c, i)) {
        *file = sysv_get(sysv::CURFIL);
        return 0;
    }
    if (!fn_arg_is_text(c, i)) {
        *file = clamp_int(fn_arg_int(c, i));
        return 0;
    }
    StrRef name = fn_arg_text(c, i);
    *file = g_port.file_number(name);
    if (!*file) return err_detail(ier::FILEOUTBOUND, name, true);
    return 0;
}

// Splits text at ';' or ',' outside quotes and parentheses (as argument
// lists are split): the next part from *pos, and *pos moves past its
// separator. False when nothing is left.
bool next_part(StrRef text, size_t* pos, StrRef* part, std::string_view seps = ";,") {
    size_t i = *pos, n = text.n;
    if (i > n || (i == n && (i == 0 || seps.find(text.p[i - 1]) == std::string_view::npos))) return false;
    const char* s = text.p;
    int depth = 0;
    size_t start = i;
    for (; i < n; i++) {
        char ch = s[i];
        if (ch == '\'' || ch == '"') {
            const void* close = std::memchr(s + i + 1, ch, n - i - 1);
            if (!close) {
                i = n;
                break;
            }
            i = static_cast<size_t>(static_cast<const char*>(close) - s);
        } else if (ch == '(') {
            depth++;
        } else if (ch == ')') {
            depth--;
        } else if (depth <= 0 && seps.find(ch) != std::string_view::npos) {
            break;
        }
    }
    *part = sr(s + start, i - start);
    *pos = i < n ? i + 1 : n + 1;
    return true;
}

// The parts of a raw argument text; an empty text has none.
int count_parts(StrRef raw) {
    if (!raw.n) return 0;
    int k = 0;
    size_t pos = 0;
    StrRef p;
    while (next_part(raw, &pos, &p)) k++;
    return k;
}

StrRef nth_part(StrRef raw, int n) {
    size_t pos = 0;
    StrRef p = sr_empty();
    for (int i = 0; i <= n; i++)
        if (!next_part(raw, &pos, &p)) return sr_empty();
    return p;
}

// Evaluates one raw argument as a number; an empty one gives def.
IER raw_int(StrRef part, long long def, long long* out) {
    *out = def;
    if (!part.n) return 0;
    Value v;
    ScratchMark m = scr_mark();
    IER st = ex_eval(part, &v);
    scr_release(m);
    if (st >= 122 && st != ier::NullExpression) return st;
    if (v.is_text()) return ier::TypeMismatch;
    if (st != ier::NullExpression) *out = num_int_part(v.num, precis());
    return 0;
}

// Names of files given by the user may hold %NAME% items.
StrRef file_name_arg(const FnCall& c, int i) { return env_expand(fn_arg_text(c, i)); }

// ------------------------------------------------------------ records

IER fn_flen(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 1)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    StrRef name = fn_arg_text(c, 0);
    if (int file = g_port.file_number(name)) {
        long long count = 0;
        if (IER st = g_port.record_count(file, &count)) {
            scr_release(m);
            return st;
        }
        return num_result(m, r, count);
    }
    return num_result(m, r, file_size(env_expand(name)));
}

IER fn_filefind(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 4)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    int file = 0;
    if (IER st = file_arg(c, 1, &file)) {
        scr_release(m);
        return st;
    }
    // Index 0 stands for the file's own default index.
    int index = clamp_int(fn_arg_int(c, 2, 0));
    int flags = clamp_int(fn_arg_int(c, 3, 0));
    return status_result(m, r, g_port.find(fn_arg_text(c, 0), file, index, flags));
}

// FILEREL(file; a; b; flags; assignments) or FILEREL(a; b; flags;
// assignments) on the current file: the numbers are evaluated, the last
// part is passed on as written.
IER fn_filerel(const FnCall& c, Value* r) {
    int parts = count_parts(c.raw);
    if (parts < 4 || parts > 5) return ier::SINTAXERROR;
    long long n[4] = {sysv_get(sysv::CURFIL), 0, 0, 0};
    int evaluated = parts - 1;
    size_t pos = 0;
    StrRef part;
    for (int i = 0; i < evaluated; i++) {
        next_part(c.raw, &pos, &part);
        int slot = i + (4 - evaluated);
        if (IER st = raw_int(part, n[slot], &n[slot])) return st;
    }
    next_part(c.raw, &pos, &part);
    int file = clamp_int(n[0]), a = clamp_int(n[1]), b = clamp_int(n[2]), flags = clamp_int(n[3]);
    ScratchMark m = scr_mark();
    WorkRelationFn work = reinterpret_cast<WorkRelationFn>(hk_get(hook::WorkRelation));
    IER st = (flags & 4) && (sysv_get(sysv::UPSTAT) & 4) && work ? work(file, a, b, flags, part)
                                                                 : g_port.relate(file, a, b, flags, part);
    return status_result(m, r, st);
}

constexpr std::string_view kActions = "NEW,TOP,PRV,RLD,NXT,BOT,FND,SVE,INS,DEL,LST,NLS,BLS,IMP,MDE,DDE,PRN,TSL";
constexpr int kActionNxt = 5;

IER fn_filelocate(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 2)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    int action = kActionNxt;
    if (!arg_absent(c, 0)) {
        if (fn_arg_is_text(c, 0)) {
            StrRef word = str_upper(str_trim(fn_arg_text(c, 0)));
            action = lst_pos(sr(kActions), word);
            if (!action) {
                std::string_view w = sv(word);
                action = w == "NEXT" ? kActionNxt : w == "PREVIOUS" ? 3 : w == "BOTTOM" ? 6 : 0;
            }
        } else {
            long long k = fn_arg_int(c, 0);
            action = k >= 1 && k <= lst_count(sr(kActions)) ? static_cast<int>(k) : 0;
        }
        if (!action) {
            scr_release(m);
            return ier::SINTAXERROR;
        }
    }
    int file = 0;
    if (IER st = file_arg(c, 1, &file)) {
        scr_release(m);
        return st;
    }
    return status_result(m, r, g_port.locate(action, file));
}

// FILESEL(name; mode) opens a file and gives its handle; FILESEL(handle)
// closes one; FILESEL(list) selects data files.
IER fn_filesel(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 2)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    if (c.argc == 2) {
        int mode = clamp_int(fn_arg_int(c, 1, fmode::Update));
        return num_result(m, r, f_open(file_name_arg(c, 0), mode));
    }
    if (!fn_arg_is_text(c, 0)) {
        long long h = fn_arg_int(c, 0);
        if (h >= 0 && h < kFileHandles) f_close(static_cast<uint16_t>(h));
        return num_result(m, r, 0);
    }
    return status_result(m, r, g_port.select(fn_arg_text(c, 0)));
}

IER fn_key(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 0, 4)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    int file = 0;
    if (IER st = file_arg(c, 0, &file)) {
        scr_release(m);
        return st;
    }
    if (file == 0) return text_result(m, r, sr_empty());
    int index = clamp_int(fn_arg_int(c, 1, 0));
    int buffer = clamp_int(fn_arg_int(c, 2, 1));
    int segments = clamp_int(fn_arg_int(c, 3, 0));
    StrRef out = sr_empty();
    IER st = g_port.key_text(file, index, buffer, segments, &out);
    if (st >= 128) {
        scr_release(m);
        return st;
    }
    return text_result(m, r, out);
}

IER fn_ier(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 0, 1)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    int file = 0;
    if (IER st = file_arg(c, 0, &file)) {
        scr_release(m);
        return st;
    }
    IER last = 0;
    if (IER st = g_port.last_status(file, &last)) {
        scr_release(m);
        return st;
    }
    return num_result(m, r, last);
}

// FN$FLDS(reference; buffer): the value of a field, array element or
// variable as it is stored, without evaluating the reference.
IER fn_flds(const FnCall& c, Value* r) {
    int parts = count_parts(c.raw);
    if (parts < 1 || parts > 2) return ier::SINTAXERROR;
    StrRef ref = str_trim(nth_part(c.raw, 0));
    long long buffer = 1;
    if (IER st = raw_int(nth_part(c.raw, 1), 1, &buffer)) return st;
    if (!ref.n) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    std::string_view s = sv(ref);
    if (s.back() == '}' && s.find('{') != std::string_view::npos) {
        StrRef out = sr_empty();
        if (IER st = g_port.field_chars(ref, clamp_int(buffer), &out)) {
            scr_release(m);
            return st;
        }
        return text_result(m, r, out);
    }
    size_t open = s.find('(');
    if (open != std::string_view::npos && s.back() == ')' && open > 0) {
        StrRef inner = sr(s.substr(open + 1, s.size() - open - 2));
        int idx[kArrayDimsMax], dims = 0;
        size_t pos = 0;
        StrRef part;
        while (inner.n && next_part(inner, &pos, &part)) {
            if (dims == kArrayDimsMax) {
                scr_release(m);
                return ier::DIMSTRUCERROR;
            }
            long long k = 0;
            if (IER st = raw_int(part, 0, &k)) {
                scr_release(m);
                return st;
            }
            idx[dims++] = k < -1 ? -1 : k > 65535 ? 65536 : static_cast<int>(k);
        }
        Value v;
        IER st = var_array_read(sr(s.substr(0, open + 1)), idx, dims, &v);
        if (st) {
            scr_release(m);
            return st;
        }
        if (v.is_text()) return text_result(m, r, v.text);
        scr_release(m);
        *r = v;
        return 0;
    }
    Value v;
    if (var_find(ref) >= 0 || s[0] == '.') {
        IER st = var_read(ref, &v);
        if (st) {
            scr_release(m);
            return st;
        }
    } else {
        auto* resolve = hk_get_as<StrRef(StrRef, int, StrRef)>(hook::FieldResolver);
        StrRef ans = resolve ? resolve(scr_copy(ref), clamp_int(buffer), sr_empty()) : sr_err(ier::SINTAXERROR);
        if (!sr_ok(ans) || !ans.n) {
            scr_release(m);
            return ier::SINTAXERROR;
        }
        v = Value::of_text(ans);
    }
    if (v.is_text()) return text_result(m, r, v.text);
    scr_release(m);
    *r = v;
    return 0;
}

// ------------------------------------------------------------ procedures

IER fn_exec(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 2)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    StrRef name = fn_arg_text(c, 0);
    if (path_ext(name).n) {
        IER st = eval_config_file(name, true);
        if (st >= 128) {
            scr_release(m);
            return st;
        }
        return text_result(m, r, sr_empty());
    }
    ExecProcFn run = reinterpret_cast<ExecProcFn>(hk_get(hook::ExecProc));
    if (!run) {
        scr_release(m);
        return err_raise(ier::FEATUREREMOVED, mod::ExpExec, "EXEC$()");
    }
    IER st = run(name, fn_arg_text(c, 1));
    if (st >= 128) {
        scr_release(m);
        return st;
    }
    StrRef out = st_take(grp::StkResults);
    if (!sr_ok(out)) {
        scr_release(m);
        return sr_status(out);
    }
    out = scr_keep(m, out);
    IER ks = fn_text_result(r, out);
    return ks ? ks : st;
}

// ------------------------------------------------------------ files

IER fn_read(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 1, 3)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    long long off = fn_arg_int(c, 1, 0);
    long long count = fn_arg_int(c, 2, -1);
    // A string value holds at most 65535 bytes: a larger count is refused,
    // never cut short.
    if (count < -1 || count > static_cast<long long>(kStrMax)) {
        scr_release(m);
        return ier::DATAOUTBOUND;
    }
    if (fn_arg_is_text(c, 0)) {
        StrRef t = file_read(file_name_arg(c, 0), off < 0 ? 0 : off, count);
        IER st = sr_status(t);
        if (st == ier::STRINGTOOLONG) st = ier::DATAOUTBOUND;
        if (st == ier::DATAOUTBOUND || st == ier::OUTOFMEMORY) {
            scr_release(m);
            return st;
        }
        return text_result(m, r, st ? sr_empty() : t);
    }
    long long hv = fn_arg_int(c, 0);
    uint16_t h = hv >= 0 && hv < kFileHandles ? static_cast<uint16_t>(hv) : kBadHandle;
    if (h == kBadHandle || count == 0) return text_result(m, r, sr_empty());
    if (off < -1) return text_result(m, r, sr_empty());
    if (count == -1) {
        if (off != -1 && f_seek(h, off)) return text_result(m, r, sr_empty());
        StrRef line = f_read_line(h);
        IER st = sr_status(line);
        if (st == ier::STRINGTOOLONG) {
            scr_release(m);
            return ier::DATAOUTBOUND;
        }
        return text_result(m, r, st ? sr_empty() : line);
    }
    IER err = 0;
    char* buf = scr_alloc_w(static_cast<size_t>(count), &err);
    if (!buf) {
        scr_release(m);
        return err;
    }
    long long got = f_read(h, off == -1 ? kPosNone : off, static_cast<size_t>(count), buf);
    return text_result(m, r, sr(buf, got < 0 ? 0 : static_cast<size_t>(got)));
}

// The key of an entry "key=value": the text before the first '=' outside
// quotes, trimmed; empty when there is no '='.
StrRef entry_key(StrRef entry) {
    uint16_t eq = str_find_char(entry, '=', 0, true);
    if (eq == kNotFound) return sr_empty();
    return str_trim(str_sub(entry, 0, eq));
}

bool list_has_key(StrRef list, StrRef key) {
    size_t pos = 0;
    StrRef e;
    while (list.n && next_part(list, &pos, &e, ","))
        if (sv(entry_key(e)) == sv(key)) return true;
    return false;
}

// Whether an old entry stays: it is not empty and the list does not set
// its key.
bool entry_stays(StrRef list, StrRef e) {
    if (!e.n) return false;
    StrRef key = entry_key(e);
    return !key.n || !list_has_key(list, key);
}

// WRITE(name; -2; list): the entries of the list (their values evaluated
// now) and then the file's entries the list does not name. The whole text
// is made before the file is touched and replaces it in one step, so a
// failure at any point leaves the old file as it was.
IER merge_entries(StrRef name, StrRef list, Value* r) {
    ScratchMark base = scr_mark();
    auto io_failed = [&]() {
        scr_release(base);
        *r = Value::number(num_from_int(ier::FileIO, precis()));
        return IER(0);
    };
    StrRef old = sr_empty();
    if (plat::file_exists(sv(name))) {
        // An old file that cannot be read whole is never replaced: its
        // entries would be lost.
        old = file_read(name);
        if (IER st = sr_status(old)) {
            if (st != ier::STRINGTOOLONG) return io_failed();
            scr_release(base);
            return ier::DATAOUTBOUND;
        }
    }
    // The list's entries, each value evaluated and written back as an
    // assignment text.
    ScratchMark m = scr_mark();
    StrRef fresh = sr_empty();
    size_t pos = 0;
    StrRef e;
    IER st = 0;
    while (!st && list.n && next_part(list, &pos, &e, ",")) {
        e = str_trim(e);
        if (!e.n) continue;
        StrRef key = entry_key(e);
        if (!key.n) {
            st = err_detail(ier::SINTAXERROR, e, true);
            break;
        }
        StrRef expr = str_trim(str_sub(e, str_find_char(e, '=', 0, true) + 1));
        Value v;
        IER es = ex_eval(expr, &v);
        if (es >= 122 && es != ier::NullExpression) {
            st = es;
            break;
        }
        StrRef value;
        if (v.is_text()) {
            value = str_quote(v.text);
        } else {
            value = num_text(v.num, precis());
            if (sr_ok(value) && !value.n) value = sr("0");
        }
        if (!sr_ok(value)) {
            st = sr_status(value);
            break;
        }
        if (fresh.n + (fresh.n ? 1u : 0u) + key.n + 1u + value.n > kStrMax) {
            st = ier::DATAOUTBOUND;
            break;
        }
        ScrBuild b;
        if (fresh.n) b.put(fresh).put(';');
        b.put(key).put('=').put(value);
        StrRef joined = b.done();
        if (!sr_ok(joined)) {
            st = ier::OUTOFMEMORY;
            break;
        }
        fresh = scr_keep(m, joined);
    }
    if (st) {
        scr_release(base);
        return st;
    }
    // The old entries that stay (a hand-written file may hold one a line),
    // measured first so that a text too long is refused, never cut.
    constexpr std::string_view kOldSeps = ";\r\n";
    size_t total = fresh.n;
    pos = 0;
    while (old.n && next_part(old, &pos, &e, kOldSeps)) {
        e = str_trim(e);
        if (entry_stays(list, e)) total += (total ? 1 : 0) + e.n;
    }
    if (total > kStrMax) {
        scr_release(base);
        return ier::DATAOUTBOUND;
    }
    if (!total) {
        // No entry at all: there is nothing to keep in the file.
        file_delete(name);
        scr_release(base);
        *r = Value::number(0);
        return 0;
    }
    ScrBuild b;
    b.put(fresh);
    pos = 0;
    while (old.n && next_part(old, &pos, &e, kOldSeps)) {
        e = str_trim(e);
        if (!entry_stays(list, e)) continue;
        if (b.size()) b.put(';');
        b.put(e);
    }
    StrRef text = b.done();
    if (!sr_ok(text)) {
        scr_release(base);
        return ier::OUTOFMEMORY;
    }
    if (file_write(name, kWriteReplace, text)) return io_failed();
    st = eval_config_file(name, true);
    scr_release(base);
    if (st >= 128) return st;
    *r = Value::number(0);
    return 0;
}

IER fn_write(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 3, 3)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    long long off = fn_arg_int(c, 1, 0);
    StrRef text = fn_arg_text(c, 2);
    if (!sr_ok(text)) {
        scr_release(m);
        return sr_status(text);
    }
    if (!fn_arg_is_text(c, 0)) {
        long long hv = fn_arg_int(c, 0);
        if (hv < 0 || hv >= kFileHandles) return num_result(m, r, kBadHandle);
        long long n = f_write(static_cast<uint16_t>(hv), off == -1 ? kPosNone : off, text);
        return num_result(m, r, n < 0 ? kBadHandle : n);
    }
    StrRef name = file_name_arg(c, 0);
    if (!sr_ok(name)) {
        scr_release(m);
        return sr_status(name);
    }
    if (off == -2) {
        IER st = merge_entries(name, text, r);
        scr_release(m);
        return st;
    }
    IER st = off == -3 ? file_write(name, kWriteReplace, text) : off < -3 ? IER(ier::FileIO) : file_write(name, off, text);
    return num_result(m, r, st ? ier::FileIO : 0);
}

// ------------------------------------------------------------ the string table

constexpr int kFirstStack = grp::StkResults;

IER fn_strtab(const FnCall& c, Value* r) {
    if (!fn_count_ok(c, 0, 3)) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    long long g = fn_arg_int(c, 0, kFirstStack);
    long long item = fn_arg_int(c, 1, 0);
    if (g < 0 || g >= kStrGroups) {
        scr_release(m);
        return ier::STROUTBOUND;
    }
    int group = static_cast<int>(g);
    bool stack = group >= kFirstStack;
    // Stack 35 holds the arguments of the calls in progress, this one's on
    // top: it is read from below them, and changing it would take arguments
    // away from under a running call.
    int hidden = group == grp::StkArgs ? c.argc : 0;
    if (group == grp::StkArgs && (c.argc > 2 || item < 0)) {
        scr_release(m);
        return ier::SINTAXERROR;
    }
    if (c.argc > 2) {
        StrRef value = fn_arg_text(c, 2);
        IER st = !sr_ok(value) ? sr_status(value)
                 : stack       ? st_push(group, value)
                 : item < 0    ? IER(ier::SINTAXERROR)
                 : item >= kStrItemsMax ? IER(ier::STROUTBOUND)
                               : st_set(group, static_cast<int>(item), value);
        if (st) {
            scr_release(m);
            return st;
        }
    }
    if (item < 0 && !stack) {
        scr_release(m);
        return ier::SINTAXERROR;
    }
    if (stack) {
        // Popping past the bottom is Out of Data, which counts as success.
        for (long long k = item; k < 0 && st_count(group) > 0; k++) st_pop(group);
        StrRef top;
        if (hidden) {
            int n = st_count(group) - hidden;
            top = n > 0 ? st_get(group, n - 1) : sr_empty();
        } else {
            top = st_top(group);
        }
        return text_result(m, r, scr_copy(top));
    }
    return text_result(m, r, scr_copy(st_get(group, item > 65535 ? 65535 : static_cast<int>(item))));
}

// ------------------------------------------------------------ SQLCHILD

constexpr int kSqlLevels = 7;

IER fn_sqlchild(const FnCall& c, Value* r) {
    int16_t level = sysv_get(sysv::SQLSTK);
    if (level >= kSqlLevels) return ier::STROUTBOUND;
    int16_t row = sysv_get(sysv::CURROW);
    int16_t last = sysv_get(sysv::IER_);
    sysv_set(sysv::SQLSTK, static_cast<int16_t>(level + 1));
    sysv_set(sysv::CURROW, 0);
    IER st = 0;
    if (c.raw.n) {
        ScratchMark m = scr_mark();
        Value v;
        st = ex_eval(c.raw, &v);
        scr_release(m);
    }
    sysv_set(sysv::SQLSTK, level);
    sysv_set(sysv::CURROW, row);
    sysv_set(sysv::IER_, last);
    *r = Value::number(0);
    return st >= 128 || st == ier::UserCanceled ? st : IER(0);
}

}  // namespace

void rec_set_port(const RecordPort* port) {
    g_port = kNoRecords;
    if (!port) return;
    // A data layer may leave out what it does not serve.
    if (port->file_number) g_port.file_number = port->file_number;
    if (port->record_count) g_port.record_count = port->record_count;
    if (port->find) g_port.find = port->find;
    if (port->relate) g_port.relate = port->relate;
    if (port->locate) g_port.locate = port->locate;
    if (port->select) g_port.select = port->select;
    if (port->key_text) g_port.key_text = port->key_text;
    if (port->last_status) g_port.last_status = port->last_status;
    if (port->field_chars) g_port.field_chars = port->field_chars;
}

const RecordPort& rec_port() { return g_port; }

void fn_file_install() {
    fn_set_builtin(fnno::FLen, fn_flen);
    fn_set_builtin(fnno::FileFind, fn_filefind);
    fn_set_builtin(fnno::FileRel, fn_filerel, FnArgs::Raw);
    fn_set_builtin(fnno::FileLocate, fn_filelocate);
    fn_set_builtin(fnno::FileSel, fn_filesel);
    fn_set_builtin(fnno::Flds, fn_flds, FnArgs::Raw);
    fn_set_builtin(fnno::Exec, fn_exec);
    fn_set_builtin(fnno::Read, fn_read);
    fn_set_builtin(fnno::Write, fn_write);
    fn_set_builtin(fnno::StrTab, fn_strtab);
    fn_set_builtin(fnno::Key, fn_key);
    fn_set_builtin(fnno::Ier, fn_ier);
    fn_set_builtin(fnno::SqlChild, fn_sqlchild, FnArgs::Raw);
}

}  // namespace rt
