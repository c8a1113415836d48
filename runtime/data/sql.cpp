#include "runtime/data/sql.h"

#include <fcntl.h>
#include <libpq-fe.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "runtime/core/cmdline.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/hooks.h"
#include "runtime/core/list.h"
#include "runtime/core/log.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/script/child.h"

namespace rt {
namespace {

SqlSlot g_slot[kSqlSlots];

constexpr std::string_view kKindFiles = "sqlusrprm.dat,sqladmprm.dat,slqusrpr2.dat";
constexpr std::string_view kParamsFile = "sqlparams.dat";
constexpr std::string_view kGuest = "guest";
constexpr int kCatalogueTablesMax = kStructsMax - 1;  // the thirtieth takes no field
constexpr int kDialogLayout = 91;
// A dialog that keeps confirming texts that fail would ask for ever.
constexpr int kDialogTriesMax = 100;
// The statement in an error detail is cut here: the detail is for people.
constexpr size_t kDetailStatementMax = 2000;

IER default_dialog(int, StrRef, StrRef* entered) {
    // While an answer file is being replayed the dialog's answer is its next
    // line; otherwise there is nobody to ask.
    ScratchMark m = scr_mark();
    bool given = false;
    bool replaying = cmd_option(opt::INPUT, &given).n > 0 && sysv_get(sysv::INHND) != 0;
    scr_release(m);
    if (replaying) {
        StrRef a = next_answer();
        if (sr_ok(a) && a.n) {
            *entered = a;
            return 0;
        }
    }
    return ier::UserCanceled;
}
SqlDialogFn g_dialog = default_dialog;

// The parameters of the latest successful connection, as a connection text:
// what start-up stores as the program's connection text.
std::string g_last_text;

bool has_nul(StrRef s) { return s.n && std::memchr(s.p, '\0', s.n) != nullptr; }

void set_stk(int n) { sysv_set(sysv::SQLSTK, static_cast<int16_t>(n)); }

void set_connected_flag() {
    bool any = false;
    for (const SqlSlot& s : g_slot) any = any || s.conn;
    int16_t aux = sysv_get(sysv::AUXSTAT);
    aux = any ? int16_t(aux | kAuxConnected) : int16_t(aux & ~kAuxConnected);
    sysv_set(sysv::AUXSTAT, aux);
}

// The log line of a statement: successes with _TRACE bit 4, failures with
// bit 2 or 4. What is logged never holds a password.
SqlStatementFn g_statement_hook = nullptr;

void log_statement(StrRef text, IER st) {
    if (g_statement_hook) {
        ScratchMark m = scr_mark();
        StrRef masked = sql_mask(text);
        g_statement_hook(sr_ok(masked) ? masked : sr("?"), st);
        scr_release(m);
    }
    unsigned bits = st < 3 ? logcat::SqlAll : (logcat::SqlFailed | logcat::SqlAll);
    if (!(static_cast<unsigned>(static_cast<uint16_t>(sysv_get(sysv::TRACE))) & bits)) return;
    ScratchMark m = scr_mark();
    StrRef masked = sql_mask(text);
    StrRef line = fmt("%s %i", {sr_ok(masked) ? masked : sr("?"), static_cast<int>(st)});
    if (sr_ok(line)) log_text(line, bits);
    scr_release(m);
}

// A server or library message as the detail of st, with the statement.
IER report(IER st, int module, StrRef message, StrRef statement) {
    ScratchMark m = scr_mark();
    err_origin(1, module, st);
    StrRef text = sql_error_text(message);
    err_detail(st, sr_ok(text) ? text : sr_empty());
    if (sr_ok(statement) && statement.n) {
        StrRef shown = sql_mask(statement);
        if (sr_ok(shown) && shown.n > kDetailStatementMax) shown = str_sub(shown, 0, kDetailStatementMax);
        if (sr_ok(shown)) err_detail(st, shown, true);
    }
    scr_release(m);
    return st;
}

// The error message of a failed result: its primary message (the full one
// repeats the statement with a caret line). When the statement sets a
// password, the quoted parts (where the server echoes the statement's
// words) are masked.
StrRef result_message(PGresult* r, StrRef statement) {
    const char* primary = r ? PQresultErrorField(r, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
    const char* full = r ? PQresultErrorMessage(r) : nullptr;
    StrRef text = sr_c(primary && *primary ? primary : (full ? full : "unknown failure"));
    if (!sr_ok(text)) return text;
    StrRef masked = sql_mask(statement);
    if (sr_ok(masked) && masked.n == statement.n) return scr_copy(text);
    ScrBuild b;
    bool in = false;
    for (uint16_t i = 0; i < text.n; i++) {
        char c = text.p[i];
        if (c == '"') {
            in = !in;
            b.put(c);
            if (in) b.put("****");
        } else if (!in) {
            b.put(c);
        }
    }
    return b.done();
}

// Status of a failed result: duplicates (unique violation, duplicate
// object) are 183, everything else 162.
IER failure_status(PGresult* r) {
    const char* code = r ? PQresultErrorField(r, PG_DIAG_SQLSTATE) : nullptr;
    if (code && (std::strcmp(code, "23505") == 0 || std::strcmp(code, "42710") == 0))
        return ier::DataAlreadyExist;
    return ier::SQLERROR;
}

// A COPY the runtime never asked for would leave the connection in a state
// where no statement runs: it is ended at once (its result is the error).
void end_copy(PGconn* c, ExecStatusType s) {
    if (s == PGRES_COPY_IN || s == PGRES_COPY_BOTH) {
        PQputCopyEnd(c, "COPY is not available here");
    } else if (s == PGRES_COPY_OUT) {
        char* buf = nullptr;
        while (PQgetCopyData(c, &buf, 0) > 0) {
            PQfreemem(buf);
            buf = nullptr;
        }
    }
}

bool is_copy(ExecStatusType s) { return s == PGRES_COPY_IN || s == PGRES_COPY_OUT || s == PGRES_COPY_BOTH; }

// Reads every pending result, keeping the last; COPY states are ended.
PGresult* drain(PGconn* c) {
    PGresult* last = nullptr;
    while (PGresult* r = PQgetResult(c)) {
        ExecStatusType s = PQresultStatus(r);
        if (is_copy(s)) {
            end_copy(c, s);
            PQclear(r);
            continue;
        }
        if (last) PQclear(last);
        last = r;
        // A broken connection keeps answering with the same error.
        if (PQstatus(c) == CONNECTION_BAD) break;
    }
    return last;
}

// Cancels the statement on the server and reads what is left, so that the
// connection is ready for the next statement.
void cancel(PGconn* c) {
    if (PGcancel* k = PQgetCancel(c)) {
        char why[256];
        PQcancel(k, why, sizeof why);
        PQfreeCancel(k);
    }
    if (PGresult* r = drain(c)) PQclear(r);
}

// Sends the statement and runs the progress callback while it runs. 0 with
// *out set (possibly nullptr); the callback's status when it cancelled; 162
// when sending or reading fails.
IER exec_async(PGconn* c, const char* text, SqlProgressFn progress, PGresult** out, StrRef statement) {
    *out = nullptr;
    if (!PQsendQuery(c, text) || !PQconsumeInput(c))
        return report(ier::SQLERROR, mod::SQLEXEC, sr_c(PQerrorMessage(c)), statement);
    if (IER r = progress(0)) {
        cancel(c);
        return r;
    }
    int fd = PQsocket(c);
    do {
        // Waiting on the socket keeps the loop from spinning; the callback
        // still runs several times a second to keep the windows alive.
        if (fd >= 0) {
            pollfd p{fd, POLLIN, 0};
            ::poll(&p, 1, 100);
        }
        if (!PQconsumeInput(c)) {
            IER st = report(ier::SQLERROR, mod::SQLEXEC, sr_c(PQerrorMessage(c)), statement);
            if (PGresult* r = drain(c)) PQclear(r);
            return st;
        }
        if (IER r = progress(2)) {
            cancel(c);
            return r;
        }
    } while (PQisBusy(c));
    *out = drain(c);
    progress(1);
    return 0;
}

PGresult* exec_sync(PGconn* c, const char* text) {
    PGresult* r = PQexec(c, text);
    if (r && is_copy(PQresultStatus(r))) {
        end_copy(c, PQresultStatus(r));
        PQclear(r);
        r = drain(c);
    }
    return r;
}

// The slot number or -1, with 168 reported for a number out of range.
int current_checked() {
    int16_t n = sysv_get(sysv::SQLSTK);
    if (n >= 0 && n < kSqlSlots) return n;
    // A script may set _SQLSTK to anything; the layer refuses to work with
    // such a number rather than ending the process.
    err_raise(ier::DATAOUTBOUND, mod::SQLEXEC, "sqlControlFailure");
    return -1;
}

// A free slot for a result of connection c: from 1 up, one of c or without
// a connection, holding no result. -1 when none.
int free_slot(PGconn* c) {
    for (int i = 1; i < kSqlSlots; i++)
        if ((g_slot[i].conn == c || !g_slot[i].conn) && !g_slot[i].res) return i;
    return -1;
}

int base_slot(PGconn* c) {
    for (int i = 0; i < kSqlSlots; i++)
        if (g_slot[i].conn == c) return i;
    return -1;
}

// Runs a query of the layer itself (the catalogue) on connection c: the
// result with its rows, or nullptr with *st set (2 for no row). No slot is
// touched.
PGresult* query(PGconn* c, StrRef statement, IER* st) {
    *st = 0;
    const char* text = scr_cstr(statement);
    PGresult* r = exec_sync(c, text);
    ExecStatusType s = r ? PQresultStatus(r) : PGRES_FATAL_ERROR;
    if (s == PGRES_TUPLES_OK) {
        log_statement(statement, 0);
        return r;
    }
    if (r) {
        *st = report(failure_status(r), mod::SQLEXEC, result_message(r, statement), statement);
        PQclear(r);
    } else {
        *st = report(ier::SQLERROR, mod::SQLEXEC, sr_c(PQerrorMessage(c)), statement);
    }
    log_statement(statement, *st);
    return nullptr;
}

StrRef value_of(PGresult* r, int row, int col) {
    if (!r || row < 0 || col < 0 || row >= PQntuples(r) || col >= PQnfields(r)) return sr_empty();
    return sr(PQgetvalue(r, row, col), static_cast<size_t>(PQgetlength(r, row, col)));
}

StrRef value_of(PGresult* r, int row, const char* col) { return value_of(r, row, r ? PQfnumber(r, col) : -1); }

// One value of a connection text: trimmed, then unquoted.
StrRef conn_item(StrRef text, int n) { return str_unquote(str_trim(lst_field(text, n))); }

// A named option of a text, "name=value" or "name:value", as written and
// then in the other letter case of the name.
StrRef named(StrRef text, std::string_view name, bool* found) {
    StrRef v = str_keyword(text, sr(name), 1, found);
    if (*found) return str_trim(v);
    std::string other(name);
    for (char& ch : other) ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 32 : ch);
    v = str_keyword(text, sr(other), 1, found);
    return *found ? str_trim(v) : sr_empty();
}

// The path a remembered-parameters file is read from: found through the
// search path, else "".
StrRef find_file(std::string_view name) {
    StrRef f = env_find(sr(name));
    return sr_ok(f) ? f : sr_empty();
}

// Where a remembered-parameters file is written: where it was found, else
// in the first folder of the search path, else in the current folder.
std::string write_path(std::string_view name) {
    StrRef found = find_file(name);
    if (found.n) return plat::os_path(sv(found));
    StrRef first = str_trim(lst_field(env_get(env::DocPath), 1));
    if (!first.n) return std::string(name);
    return plat::os_path(sv(path_join(first, sr(name))));
}

// Replaces the file by text readable by its owner only (it holds a
// password): a new file of mode 0600 in the same folder, renamed over it.
bool write_private(const std::string& path, StrRef text) {
    size_t slash = path.rfind('/');
    std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    std::string tmpl = dir + "/.sqlprm.XXXXXX";
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, 0600) == 0;
    for (size_t done = 0; ok && done < text.n;) {
        ssize_t w = ::write(fd, text.p + done, text.n - done);
        if (w < 0 && errno == EINTR) continue;
        ok = w > 0;
        if (ok) done += size_t(w);
    }
    ok = ::fsync(fd) == 0 && ok;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(tmpl.c_str(), path.c_str()) != 0) {
        ::unlink(tmpl.c_str());
        return false;
    }
    return true;
}

// The first line of a remembered-parameters file, "" when there is none.
StrRef read_kind_file(int kind) {
    StrRef name = sql_kind_file(kind);
    if (!name.n) return sr_empty();
    StrRef found = find_file(sv(name));
    if (!found.n) return sr_empty();
    StrRef text = file_read(found);
    if (!sr_ok(text)) return sr_empty();
    uint16_t eol = str_find_any(text, "\r\n");
    return str_trim(eol == kNotFound ? text : str_sub(text, 0, eol));
}

bool identifier(StrRef s) {
    if (!s.n) return false;
    auto alpha = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
    if (!alpha(s.p[0])) return false;
    for (uint16_t i = 1; i < s.n; i++)
        if (!alpha(s.p[i]) && !(s.p[i] >= '0' && s.p[i] <= '9') && s.p[i] != '_') return false;
    return true;
}

// Width and type of a column of the catalogue. Numeric widths count the
// digits before the point, as the database creation writes numeric(w+d,d);
// binary integer and float precisions are turned into decimal digits.
void column_layout(PGresult* r, int row, int precis, int* width, char* type) {
    static constexpr std::string_view kTypes =
        "character,date,smallint,integer,bigint,decimal,numeric,real,double precision,serial,bigserial";
    StrRef data_type = value_of(r, row, "data_type");
    int t = lst_pos(sr(kTypes), data_type);
    auto num = [&](const char* col, long long dflt) {
        StrRef v = value_of(r, row, col);
        return v.n ? std::atoll(std::string(sv(v)).c_str()) : dflt;
    };
    if (t == 2) {
        *width = 8;
        *type = 'D';
        return;
    }
    if (t >= 3) {
        long long digits = num("numeric_precision", -1);
        long long radix = num("numeric_precision_radix", 10);
        long long scale = num("numeric_scale", -1);
        if (digits > 0 && radix == 2) {
            // The decimal digits of the largest signed value of that many
            // bits: 16 bits give 5, 32 give 10, 64 give 19.
            unsigned long long v = digits >= 64 ? ~0ULL >> 1 : (1ULL << (digits - 1)) - 1;
            for (digits = 1; v >= 10; v /= 10) digits++;
        }
        if (digits <= 0) digits = 18;
        if (scale < 0) scale = (t == 8 || t == 9 || t == 6 || t == 7) ? precis : 0;
        if (scale > 9) scale = 9;
        long long w = digits - scale;
        *width = static_cast<int>(w < 1 ? 1 : w);
        *type = scale == 0 ? 'N' : static_cast<char>('0' + scale);
        return;
    }
    long long len = num("character_maximum_length", 255);
    if (len > kFieldWidthMax) len = kFieldWidthMax;
    *width = static_cast<int>(len < 1 ? 1 : len);
    StrRef name = value_of(r, row, "column_name");
    uint16_t dot = str_find_char(name, '.');
    StrRef head = str_upper(dot == kNotFound ? name : str_sub(name, 0, dot));
    *type = lst_pos(sr("FECHA,DATE,FEC"), head) ? 'D' : 'A';
}

// Fields and keys of one catalogue structure.
IER load_table(PGconn* c, int structure, StrRef table) {
    ScratchMark m = scr_mark();
    IER st = 0;
    StrRef lit = sql_quote(table);
    StrRef q = fmt(
        "SELECT column_name, data_type, numeric_precision, numeric_precision_radix, numeric_scale, "
        "character_maximum_length, ordinal_position FROM information_schema.columns "
        "WHERE table_schema = 'public' AND table_name = %s ORDER BY ordinal_position",
        {lit});
    PGresult* cols = query(c, q, &st);
    if (!cols) {
        scr_release(m);
        return st;
    }
    // Field number by attribute number: a dropped column leaves a gap in the
    // attribute numbers that the field numbers do not have.
    std::vector<int> field_of;
    int n = PQntuples(cols);
    int precis = num_precis();
    for (int i = 0; i < n && !st; i++) {
        int width = 0;
        char type = 'A';
        column_layout(cols, i, precis, &width, &type);
        st = dict_add_field(value_of(cols, i, "column_name"), width, type);
        int attnum = std::atoi(std::string(sv(value_of(cols, i, "ordinal_position"))).c_str());
        if (attnum > 0) {
            if (static_cast<size_t>(attnum) >= field_of.size()) field_of.resize(size_t(attnum) + 1, 0);
            field_of[size_t(attnum)] = i + 1;
        }
        scr_release(m);
    }
    PQclear(cols);
    if (st) return st;

    lit = sql_quote(table);
    q = fmt("SELECT array_to_string(i.indkey, ' ') AS indkey FROM pg_index i "
            "JOIN pg_class t ON t.oid = i.indrelid JOIN pg_namespace s ON s.oid = t.relnamespace "
            "WHERE s.nspname = 'public' AND t.relname = %s ORDER BY i.indisprimary DESC, i.indexrelid",
            {lit});
    PGresult* idx = query(c, q, &st);
    if (!idx) {
        scr_release(m);
        return st == ier::EndOfFile ? IER(0) : st;
    }
    n = PQntuples(idx);
    for (int i = 0; i < n && !st; i++) {
        StrRef keys = value_of(idx, i, "indkey");
        KeySegment seg[kKeySegmentsMax];
        int nseg = 0;
        bool usable = keys.n > 0;
        int count = lst_count(keys, ' ');
        for (int k = 1; k <= count && usable && nseg < kKeySegmentsMax; k++) {
            int attnum = std::atoi(std::string(sv(lst_field(keys, k, ' '))).c_str());
            // 0 is an expression: such an index has no field to name.
            int f = attnum > 0 && static_cast<size_t>(attnum) < field_of.size() ? field_of[size_t(attnum)] : 0;
            FieldInfo info;
            if (!f || !dict_field(structure, f, &info)) {
                usable = false;
                break;
            }
            seg[nseg++] = {static_cast<uint16_t>(info.offset), static_cast<uint16_t>(info.width)};
        }
        if (usable && nseg) st = dict_add_key(structure, nseg, seg);
        scr_release(m);
    }
    PQclear(idx);
    scr_release(m);
    return st;
}

}  // namespace

const SqlSlot& sql_slot(int n) {
    static const SqlSlot none;
    return n >= 0 && n < kSqlSlots ? g_slot[n] : none;
}

int sql_current() { return current_checked(); }

StrRef sql_kind_file(int kind) {
    if (kind >= 16) kind = (kind & sqlopt::KindMask) >> 4;
    return kind >= 0 && kind < 3 ? lst_field(kKindFiles, kind + 1) : sr_empty();
}

IER sql_connect(StrRef host, StrRef db, StrRef user, StrRef password, int options) {
    for (StrRef s : {host, db, user, password})
        if (!sr_ok(s)) return sr_status(s);
    for (StrRef s : {host, db, user, password})
        if (has_nul(s)) return err_raise(ier::BADINPUTDATA, mod::SQLCONNECT, "NUL in a connection parameter");
    ScratchMark m = scr_mark();
    if (!user.n) user = sr(kGuest);
    int cur = current_checked();
    if (cur < 0) return ier::DATAOUTBOUND;
    if (g_slot[cur].conn) {
        cur = -1;
        for (int i = 0; i < kSqlSlots && cur < 0; i++)
            if (!g_slot[i].conn) cur = i;
        if (cur < 0) return err_raise(ier::DATAOUTBOUND, mod::SQLCONNECT, "no free connection slot");
        set_stk(cur);
    }
    if (!host.n) return ier::BADINPUTDATA;

    // Every value is a parameter of its own: nothing in a host, a name or a
    // password can reach the others or the connection string syntax.
    const char* keys[8];
    const char* vals[8];
    int k = 0;
    keys[k] = "host", vals[k++] = scr_cstr(host);
    if (db.n) keys[k] = "dbname", vals[k++] = scr_cstr(db);
    keys[k] = "user", vals[k++] = scr_cstr(user);
    if (password.n) keys[k] = "password", vals[k++] = scr_cstr(password);
    keys[k] = "client_encoding", vals[k++] = "WIN1252";
    // A host that never answers must not hold the program for ever.
    if (!std::getenv("PGCONNECT_TIMEOUT")) keys[k] = "connect_timeout", vals[k++] = "20";
    keys[k] = nullptr, vals[k] = nullptr;
    PGconn* c = PQconnectdbParams(keys, vals, 0);
    IER st = 0;
    if (!c) {
        st = err_raise(ier::SQLERROR, mod::SQLCONNECT, "out of memory");
    } else if (PQstatus(c) != CONNECTION_OK) {
        st = report(ier::SQLERROR, mod::SQLCONNECT, sr_c(PQerrorMessage(c)), sr_empty());
        PQfinish(c);
        c = nullptr;
    } else if (PQclientEncoding(c) != pg_char_to_encoding("WIN1252")) {
        // Every text of the runtime is Windows-1252: a connection that
        // cannot speak it would garble data.
        st = report(ier::SQLERROR, mod::SQLCONNECT, sr("the server refused client_encoding WIN1252"), sr_empty());
        PQfinish(c);
        c = nullptr;
    }
    if (c) {
        g_slot[cur].conn = c;
        g_slot[cur].res = nullptr;
        set_connected_flag();
        g_last_text = std::string(sv(sql_conn_text(host, db, user, password)));
    }
    log_statement(fmt("connect host=%s dbname=%s user=%s", {host, db, user}), st);
    if (!st && (options & (sqlopt::Tables | sqlopt::Columns)) && db.n && dict_count() == 0)
        st = sql_load_catalogue(options);
    scr_release(m);
    return st;
}

StrRef sql_conn_text(StrRef host, StrRef db, StrRef user, StrRef password, int remember) {
    StrRef parts[4] = {host, db, user, password};
    for (StrRef v : parts)
        if (!sr_ok(v)) return v;
    ScratchMark m = scr_mark();
    // A value that would split the list or lose its edges goes in quotes.
    StrRef shown[4];
    for (int i = 0; i < 4; i++) {
        StrRef v = parts[i];
        bool quote = v.n && (str_find_any(v, ",'\"") != kNotFound || v.p[0] == ' ' || v.p[0] == '\t' ||
                             v.p[v.n - 1] == ' ' || v.p[v.n - 1] == '\t');
        shown[i] = quote ? str_quote(v, '"') : v;
        if (!sr_ok(shown[i])) {
            scr_release(m);
            return sr_err(ier::BADINPUTDATA);
        }
    }
    ScrBuild b;
    for (int i = 0; i < 4; i++) b.put(i ? "," : "").put(shown[i]);
    if (remember >= 0) b.put(',').put_int(remember);
    return scr_keep(m, b.done());
}

IER sql_connect_text(StrRef text, int options) {
    if (!sr_ok(text)) return sr_status(text);
    ScratchMark m = scr_mark();
    IER st;
    if (lst_count(text) >= 4) {
        int remember = lst_num(text, 5);
        st = sql_connect(conn_item(text, 1), conn_item(text, 2), conn_item(text, 3), conn_item(text, 4), options);
        StrRef file = sql_kind_file(options & sqlopt::KindMask);
        // Remembered only once it has worked: a mistyped password must not
        // replace the good one.
        if (!st && remember != 0 && file.n) {
            std::string path = write_path(sv(file));
            if (!write_private(path, text)) {
                ScratchMark lm = scr_mark();
                log_text(fmt("%s not written: %s", {sr(path), std::strerror(errno)}));
                scr_release(lm);
            }
        }
        scr_release(m);
        return st;
    }
    StrRef cmdline = env_get(env::CommandLine);
    bool found = false;
    StrRef host = named(cmdline, "sqlhost", &found);
    StrRef src = cmdline;
    if (!found) {
        StrRef name = str_trim(text);
        if (!name.n) name = sr(kParamsFile);
        StrRef path = find_file(sv(name));
        if (!path.n) {
            st = err_raise(ier::SQLERROR, mod::SQLCONNECT, "");
            err_detail(st, fmt("%s not found", {name}));
            scr_release(m);
            return st;
        }
        src = file_read_joined(path, sr(" "));
        if (!sr_ok(src)) {
            st = err_raise(ier::SQLERROR, mod::SQLCONNECT, sv(path));
            scr_release(m);
            return st;
        }
        host = named(src, "sqlhost", &found);
    }
    bool f2, f3, f4;
    StrRef db = named(src, "database", &f2);
    StrRef user = named(src, "user", &f3);
    StrRef pw = named(src, "passw", &f4);
    st = sql_connect(host, db, user, pw, options);
    scr_release(m);
    return st;
}

void sql_set_dialog(SqlDialogFn f) { g_dialog = f ? f : default_dialog; }

bool sql_startup_configured() {
    ScratchMark m = scr_mark();
    bool run = cmd_option(opt::RUN).n > 0;
    const char* handed = std::getenv(kChildConnectionVar);
    bool yes = (run && handed && *handed) || find_file(sv(sql_kind_file(0))).n || find_file(kParamsFile).n;
    if (!yes) {
        bool found = false;
        named(env_get(env::CommandLine), "sqlhost", &found);
        yes = found;
    }
    scr_release(m);
    return yes;
}

IER sql_connect_startup(int options) {
    ScratchMark m = scr_mark();
    int kind = (options & sqlopt::KindMask) >> 4;
    StrRef t = sr_empty();
    bool run = cmd_option(opt::RUN).n > 0;
    bool params = false;
    if (run) {
        // A child connects as its parent did, without asking.
        t = child_take_connection();
        if (!sr_ok(t) || !t.n) t = read_kind_file(kind);
    } else {
        bool found = false;
        named(env_get(env::CommandLine), "sqlhost", &found);
        params = found || find_file(kParamsFile).n;
    }
    IER st = ier::SQLERROR;
    for (int tries = 0;; tries++) {
        if ((sr_ok(t) && t.n) || params) {
            st = sql_connect_text(sr_ok(t) ? t : sr_empty(), options);
            params = false;
            if (st != ier::SQLERROR) break;
            // The failure was shown in the dialog's place: the dialog asks again.
            status_box(st);
        }
        if (tries >= kDialogTriesMax) break;
        StrRef defaults = read_kind_file(kind);
        if (!defaults.n) defaults = sr("localhost");
        StrRef entered = sr_empty();
        IER ds = g_dialog(kDialogLayout, defaults, &entered);
        if (ds) {
            st = ds;
            break;
        }
        t = sr_ok(entered) ? scr_copy(entered) : sr_empty();
        if (!t.n) {
            st = ier::UserCanceled;
            break;
        }
    }
    if (!st) {
        int item = env_get(env::Database).n ? env::Database2 : env::Database;
        st = env_set(item, g_last_text);
    }
    scr_release(m);
    return st;
}

IER sql_disconnect() {
    int cur = current_checked();
    if (cur < 0) return ier::DATAOUTBOUND;
    PGconn* c = g_slot[cur].conn;
    if (c) {
        // Every slot that shares the connection loses it with its result: a
        // slot left pointing at a finished connection would be used again.
        for (SqlSlot& s : g_slot) {
            if (s.conn != c) continue;
            if (s.res) PQclear(s.res);
            s = SqlSlot{};
        }
        PQfinish(c);
    }
    while (cur > 0 && !g_slot[cur].conn) cur--;
    set_stk(cur);
    set_connected_flag();
    return 0;
}

void sql_disconnect_all() {
    for (SqlSlot& s : g_slot) {
        if (s.res) PQclear(s.res);
        s.res = nullptr;
    }
    for (SqlSlot& s : g_slot) {
        PGconn* c = s.conn;
        if (!c) continue;
        for (SqlSlot& t : g_slot)
            if (t.conn == c) t.conn = nullptr;
        PQfinish(c);
    }
    g_last_text.clear();
    if (sysv_get(sysv::SQLSTK) != 0) set_stk(0);
    set_connected_flag();
}

IER sql_exec(StrRef statement, int slot, long long* rows) {
    if (rows) *rows = 0;
    if (!sr_ok(statement)) return sr_status(statement);
    if (!statement.n) return ier::BADINPUTDATA;
    if (has_nul(statement)) return err_raise(ier::BADINPUTDATA, mod::SQLEXEC, "NUL in a statement");
    int cur = current_checked();
    if (cur < 0) return ier::DATAOUTBOUND;
    if (slot != kSqlChoose && (slot < 0 || slot >= kSqlSlots))
        return err_raise(ier::DATAOUTBOUND, mod::SQLEXEC, "slot out of range");
    PGconn* c = g_slot[cur].conn;
    if (!c) {
        IER st = err_raise(ier::SQLERROR, mod::SQLEXEC, "no database connection");
        log_statement(statement, st);
        return st;
    }
    ScratchMark m = scr_mark();
    const char* text = scr_cstr(statement);
    PGresult* r = nullptr;
    IER st = 0;
    if (auto progress = hk_get_as<IER(int)>(hook::SqlProgress)) {
        st = exec_async(c, text, progress, &r, statement);
    } else {
        r = exec_sync(c, text);
    }
    if (!st && !r) st = report(ier::SQLERROR, mod::SQLEXEC, sr_c(PQerrorMessage(c)), statement);
    if (!st) {
        switch (PQresultStatus(r)) {
        case PGRES_COMMAND_OK: {
            if (rows) *rows = std::atoll(PQcmdTuples(r));
            PQclear(r);
            break;
        }
        case PGRES_TUPLES_OK:
        case PGRES_SINGLE_TUPLE: {
            int n = PQntuples(r);
            if (rows) *rows = n;
            if (n == 0) {
                PQclear(r);
                st = ier::EndOfFile;
                break;
            }
            int target = slot;
            if (target == kSqlChoose) target = n == 1 ? base_slot(c) : free_slot(c);
            else if (g_slot[target].conn && g_slot[target].conn != c) target = -1;
            if (target < 0) {
                PQclear(r);
                st = err_raise(ier::DATAOUTBOUND, mod::SQLEXEC, "no free result slot");
                break;
            }
            if (g_slot[target].res) PQclear(g_slot[target].res);
            g_slot[target].conn = c;
            g_slot[target].res = r;
            set_stk(target);
            break;
        }
        case PGRES_EMPTY_QUERY:
            PQclear(r);
            st = ier::BADINPUTDATA;
            break;
        default:
            st = report(failure_status(r), mod::SQLEXEC, result_message(r, statement), statement);
            PQclear(r);
            break;
        }
    }
    log_statement(statement, st);
    scr_release(m);
    return st;
}

IER sql_exec_simple(StrRef statement) { return sql_exec(statement, kSqlChoose, nullptr); }

long long sql_count(StrRef statement) {
    int cur = current_checked();
    if (cur < 0 || !g_slot[cur].conn) return 0;
    int slot = free_slot(g_slot[cur].conn);
    if (slot < 0) return 0;
    SqlSlot before = g_slot[slot];
    long long v = 0;
    if (sql_exec(statement, slot, nullptr) == 0) {
        StrRef t = value_of(g_slot[slot].res, 0, 0);
        v = std::atoll(std::string(sv(t)).c_str());
    }
    if (g_slot[slot].res) PQclear(g_slot[slot].res);
    g_slot[slot] = before;
    set_stk(cur);
    return v;
}

int sql_free_slot() {
    int cur = current_checked();
    if (cur < 0 || !g_slot[cur].conn) return -1;
    return free_slot(g_slot[cur].conn);
}

void sql_set_statement_hook(SqlStatementFn f) { g_statement_hook = f; }

StrRef sql_value(int row, int column, int slot) {
    if (slot >= 0 && slot < kSqlSlots) set_stk(slot);
    int cur = current_checked();
    if (cur < 0) return sr_empty();
    return value_of(g_slot[cur].res, row, column);
}

int sql_column(StrRef name) {
    int cur = current_checked();
    if (cur < 0 || !g_slot[cur].res || !sr_ok(name)) return -1;
    ScratchMark m = scr_mark();
    int n = PQfnumber(g_slot[cur].res, scr_cstr(name));
    scr_release(m);
    return n;
}

int sql_rows(int slot) {
    if (slot >= 0 && slot < kSqlSlots) set_stk(slot);
    int cur = current_checked();
    return cur >= 0 && g_slot[cur].res ? PQntuples(g_slot[cur].res) : 0;
}

int sql_columns(int slot) {
    return slot >= 0 && slot < kSqlSlots && g_slot[slot].res ? PQnfields(g_slot[slot].res) : 0;
}

void sql_release(int slot) {
    if (slot == -1) slot = current_checked();
    if (slot < 0 || slot >= kSqlSlots || !g_slot[slot].res) return;
    PQclear(g_slot[slot].res);
    g_slot[slot].res = nullptr;
}

StrRef sql_encrypt_password(StrRef user, StrRef password) {
    for (StrRef s : {user, password})
        if (!sr_ok(s)) return s;
    int cur = current_checked();
    PGconn* c = cur >= 0 ? g_slot[cur].conn : nullptr;
    if (!c) return sr_err(err_raise(ier::SQLERROR, mod::SQLEXEC, "no database connection"));
    if (has_nul(user) || has_nul(password)) return sr_err(ier::BADINPUTDATA);
    ScratchMark m = scr_mark();
    const char* pw = scr_cstr(password);
    const char* who = scr_cstr(user);
    char* enc = PQencryptPasswordConn(c, pw, who, nullptr);
    if (!enc) {
        scr_release(m);
        return sr_err(report(ier::SQLERROR, mod::SQLEXEC, sr_c(PQerrorMessage(c)), sr_empty()));
    }
    StrRef out = scr_copy(sr_c(enc));
    PQfreemem(enc);
    return scr_keep(m, out);
}

StrRef sql_quote(StrRef text) {
    if (!sr_ok(text)) return text;
    ScratchMark m = scr_mark();
    bool plain = str_find_any(text, "'\"\\") == kNotFound;
    ScrBuild b;
    if (plain) {
        b.put('\'').put(text).put('\'');
        return scr_keep(m, b.done());
    }
    // An E'' literal reads the same whatever standard_conforming_strings
    // says, and every connection speaks the single-byte Windows-1252, where
    // no byte can be the tail of another character: escaping the apostrophe,
    // the double quote and the backslash leaves every byte as it was.
    b.put("E'");
    for (uint16_t i = 0; i < text.n; i++) {
        char c = text.p[i];
        if (c == '\'') b.put("\\x27");
        else if (c == '"') b.put("\\x22");
        else if (c == '\\') b.put("\\\\");
        else b.put(c);
    }
    b.put('\'');
    return scr_keep(m, b.done());
}

StrRef sql_quote_name(StrRef name) {
    if (!sr_ok(name)) return name;
    ScratchMark m = scr_mark();
    ScrBuild b;
    b.put('"');
    for (uint16_t i = 0; i < name.n; i++) {
        if (name.p[i] == '"') b.put('"');
        b.put(name.p[i]);
    }
    b.put('"');
    return scr_keep(m, b.done());
}

StrRef sql_table_list() {
    int cur = current_checked();
    if (cur < 0 || !g_slot[cur].conn) return sr_empty();
    ScratchMark m = scr_mark();
    IER st = 0;
    PGresult* r = query(g_slot[cur].conn,
                        sr("SELECT table_name FROM information_schema.tables WHERE table_schema = 'public' "
                           "ORDER BY table_name COLLATE \"C\""),
                        &st);
    if (!r) {
        scr_release(m);
        return sr_empty();
    }
    std::string list;
    int n = PQntuples(r);
    for (int i = 0; i < n; i++) {
        if (i) list += ',';
        list += PQgetvalue(r, i, 0);
    }
    PQclear(r);
    scr_release(m);
    StrRef out = scr_copy(sr(list));
    return sr_ok(out) ? out : sr_empty();
}

IER sql_load_catalogue(int options) {
    int cur = current_checked();
    if (cur < 0) return ier::DATAOUTBOUND;
    PGconn* c = g_slot[cur].conn;
    if (!c) return err_raise(ier::SQLERROR, mod::SQLEXEC, "no database connection");
    ScratchMark m = scr_mark();
    IER st = 0;
    PGresult* tables = query(c,
                             sr("SELECT table_name FROM information_schema.tables WHERE table_schema = 'public' "
                                "ORDER BY table_name COLLATE \"C\""),
                             &st);
    if (!tables) {
        scr_release(m);
        return st;
    }
    int n = PQntuples(tables);
    if (n > kCatalogueTablesMax) n = kCatalogueTablesMax;
    for (int i = 0; i < n && !st; i++) {
        StrRef name = value_of(tables, i, 0);
        int number = 0;
        st = dict_open(0, name, sr_empty(), &number);
        if (!st && (options & sqlopt::Columns)) st = load_table(c, number, name);
        if (!st && (options & sqlopt::Columns)) {
            // Scripts name the file by its table name. Only a plain name
            // becomes a variable: anything else would be evaluated as code.
            StrRef held = dict_name(number);
            if (identifier(held)) ex_effect(fmt("%s=%i", {held, number}));
        }
        scr_release(m);
    }
    PQclear(tables);
    if (!st) dict_complete(dict_count());
    scr_release(m);
    return st;
}

StrRef sql_error_text(StrRef text) {
    if (!sr_ok(text)) return text;
    // Line ends, blanks, full stops and digits go; a closing quote or
    // parenthesis stays, or a name at the end would lose its quote.
    size_t n = text.n;
    while (n > 0) {
        unsigned char c = static_cast<unsigned char>(text.p[n - 1]);
        if (c >= 65 || c == '"' || c == '\'' || c == ')') break;
        n--;
    }
    ScratchMark m = scr_mark();
    ScrBuild b;
    for (size_t i = 0; i < n; i++) {
        unsigned char c = static_cast<unsigned char>(text.p[i]);
        unsigned char d = i + 1 < n ? static_cast<unsigned char>(text.p[i + 1]) : 0;
        if (c == 0xC2 && (d == 0xAB || d == 0xBB)) {
            b.put('"');
            i++;
        } else if (c == 0xC3 && (d == 0xB3 || d == 0xB1)) {
            b.put(static_cast<char>(d == 0xB3 ? 0xF3 : 0xF1));
            i++;
        } else {
            b.put(static_cast<char>(c));
        }
    }
    return scr_keep(m, b.done());
}

StrRef sql_mask(StrRef statement) {
    if (!sr_ok(statement)) return statement;
    static constexpr std::string_view kWord = "PASSWORD";
    for (size_t i = 0; i + kWord.size() <= statement.n; i++) {
        size_t k = 0;
        while (k < kWord.size()) {
            char c = statement.p[i + k];
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
            if (c != kWord[k]) break;
            k++;
        }
        if (k < kWord.size()) continue;
        // Whatever follows the word (however it is quoted) is the password or
        // may hold it.
        ScratchMark m = scr_mark();
        ScrBuild b;
        b.put(sr(statement.p, i + kWord.size())).put(" ****");
        return scr_keep(m, b.done());
    }
    return scr_copy(statement);
}

}  // namespace rt
