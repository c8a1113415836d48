// The SQL side of appctl: the administrator connection, login and group
// roles, table rights, and company databases built from the application's
// data dictionaries. Every name goes into SQL as a quoted identifier and
// every value as a literal escaped by the connection layer; passwords go
// as the server's verifier, computed on this side.
#include <algorithm>
#include <cctype>

#include "apps/appctl/admin.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/list.h"
#include "runtime/core/log.h"
#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/sql.h"

namespace ap {

using namespace rt;

namespace {

constexpr std::string_view kAdminHostFile = "sqladmprm.dat";
constexpr std::string_view kDefaultDatabase = "postgres";
constexpr int kLoginTriesMax = 100;  // a dialog that keeps confirming must end
constexpr std::string_view kEncodings[] = {"WIN1252", "UTF8"};
constexpr std::string_view kNumericTypes = "NL123456789";
constexpr int kAuxNoDictionary = 256;  // _AUXSTAT: the installation has no ??DICC.DAT

std::string ident(std::string_view name) {
    ScratchMark m = scr_mark();
    std::string out(sv(sql_quote_name(sr(name))));
    scr_release(m);
    return out;
}

std::string literal(std::string_view text) {
    ScratchMark m = scr_mark();
    std::string out(sv(sql_quote(sr(text))));
    scr_release(m);
    return out;
}

// The first line of the error detail of the last failure.
std::string failure_line() {
    std::string d(sv(err_detail_get()));
    size_t end = d.find_first_of("\r\n");
    return trimmed(end == std::string::npos ? d : d.substr(0, end));
}

IER exec(const std::string& statement) {
    ScratchMark m = scr_mark();
    IER st = sql_exec(sr(statement));
    if (st == ier::EndOfFile) st = 0;  // a query that found nothing is no failure here
    scr_release(m);
    return st;
}

// A statement of the creation log: written before it is sent, and a line
// with the server's answer after it when it failed.
IER exec_logged(const std::string& statement) {
    ScratchMark m = scr_mark();
    log_line(sr(statement));
    scr_release(m);
    IER st = exec(statement);
    if (st) {
        m = scr_mark();
        log_line(sr("------- " + failure_line()));
        scr_release(m);
    }
    return st;
}

// The first column of every row of a query on the current connection.
Names column(const std::string& query) {
    Names out;
    ScratchMark m = scr_mark();
    int base = sql_current();
    IER st = sql_exec(sr(query));
    if (!st) {
        int slot = sql_current();
        int rows = sql_rows(slot);
        for (int r = 0; r < rows; r++) out.emplace_back(sv(sql_value(r, 0, slot)));
        sql_release(slot);
    }
    if (base >= 0) sysv_set(sysv::SQLSTK, static_cast<int16_t>(base));
    scr_release(m);
    return out;
}

// A password that the server keeps as a verifier, as a literal.
IER password_literal(std::string_view login, std::string_view password, std::string* out) {
    ScratchMark m = scr_mark();
    StrRef enc = sql_encrypt_password(sr(login), sr(password));
    IER st = sr_status(enc);
    if (!st) *out = literal(sv(enc));
    scr_release(m);
    return st;
}

bool starts_qv(std::string_view name) {
    return name.size() >= 2 && std::toupper(static_cast<unsigned char>(name[0])) == 'Q' &&
           std::toupper(static_cast<unsigned char>(name[1])) == 'V';
}

}  // namespace

// ------------------------------------------------------------ administrator

AdminLogin& admin_login() {
    static AdminLogin a;
    return a;
}

std::string admin_default_host() {
    Names lines = lines_read(std::string(kAdminHostFile));
    std::string host = lines.empty() ? std::string() : trimmed(lines[0]);
    return host.empty() ? std::string("localhost") : host;
}

IER admin_connect(std::string_view db) {
    AdminLogin& a = admin_login();
    std::string database = db.empty() ? std::string(kDefaultDatabase) : std::string(db);
    if (a.set) {
        ScratchMark m = scr_mark();
        IER st = sql_connect(sr(a.host), sr(database), sr(a.user), sr(a.password), sqlopt::KindNone);
        scr_release(m);
        return st;
    }
    // A login that fails is shown and asked for again, with what was typed,
    // until one works or the dialog is left: a failure that went unseen
    // would only look like an empty server.
    std::string host = admin_default_host(), user;
    for (int tries = 0; tries < kLoginTriesMax; tries++) {
        ScratchMark m = scr_mark();
        std::string fields(sv(fmt(msg(93), {sr(expr_literal(host))})));
        if (!user.empty()) {
            std::string was = "'User:':'A30'::'postgres'";
            size_t at = fields.find(was);
            if (at != std::string::npos) fields.replace(at, was.size(), "'User:':'A30'::" + expr_literal(user));
        }
        scr_release(m);
        Names v;
        IER st = dialogs().accept(msg_text(90), fields, &v);
        if (st) return st;
        v.resize(3);
        AdminLogin entered{trimmed(v[0]), trimmed(v[1]), trimmed(v[2]), true};
        m = scr_mark();
        st = sql_connect(sr(entered.host), sr(database), sr(entered.user), sr(entered.password), sqlopt::KindNone);
        std::string failure = st ? std::string(sv(error_text(st))) : std::string();
        scr_release(m);
        if (st) {
            err_detail_clear();
            dialogs().show(failure);
            host = entered.host, user = entered.user;
            continue;
        }
        a = entered;
        m = scr_mark();
        file_write(sr(kAdminHostFile), kWriteReplace, sr(a.host));
        scr_release(m);
        return 0;
    }
    return ier::UserCanceled;
}

void admin_disconnect() { sql_disconnect(); }

// ------------------------------------------------------------ roles

bool role_exists(std::string_view name) {
    return !column("SELECT rolname FROM pg_roles WHERE rolname = " + literal(name) + ";").empty();
}

IER role_create_groups() {
    for (const std::string& g : groups())
        if (!role_exists(g)) exec("CREATE ROLE " + ident(g) + " NOSUPERUSER INHERIT NOCREATEDB NOCREATEROLE;");
    return 0;
}

IER role_create_login(std::string_view login, std::string_view password) {
    std::string pw;
    if (IER st = password_literal(login, password, &pw)) return st;
    return exec("CREATE ROLE " + ident(login) + " LOGIN PASSWORD " + pw +
                " NOSUPERUSER INHERIT NOCREATEDB NOCREATEROLE;");
}

IER role_set_password(std::string_view login, std::string_view password) {
    std::string pw;
    if (IER st = password_literal(login, password, &pw)) return st;
    return exec("ALTER ROLE " + ident(login) + " PASSWORD " + pw + ";");
}

IER role_grant(std::string_view group, std::string_view login) {
    return exec("GRANT " + ident(group) + " TO " + ident(login) + ";");
}

IER role_revoke(std::string_view group, std::string_view login) {
    return exec("REVOKE " + ident(group) + " FROM " + ident(login) + ";");
}

IER role_drop(std::string_view login) { return exec("DROP ROLE " + ident(login) + ";"); }

IER rights_revoke(std::string_view role, std::string_view table, bool group) {
    return exec("REVOKE ALL ON TABLE " + ident(table) + " FROM " + (group ? "GROUP " : "") + ident(role) + ";");
}

IER rights_grant(std::string_view role, std::string_view table, bool write, bool group) {
    return exec(std::string("GRANT SELECT") + (write ? ", UPDATE, INSERT, DELETE" : "") + " ON TABLE " +
                ident(table) + " TO " + (group ? "GROUP " : "") + ident(role) + ";");
}

Names server_databases() { return column("SELECT datname from pg_database ORDER BY datname;"); }
Names server_logins() { return column("SELECT usename FROM pg_user ORDER BY usename;"); }
Names server_group_members(std::string_view group) {
    return column("SELECT usename FROM pg_user,pg_group WHERE usesysid = ANY (pg_group.grolist) AND "
                  "pg_group.groname = " + literal(group) + " ORDER BY usename;");
}
Names server_tables() {
    ScratchMark m = scr_mark();
    std::string list(sv(sql_table_list()));
    scr_release(m);
    Names out;
    size_t at = 0;
    while (!list.empty() && at <= list.size()) {
        size_t comma = list.find(',', at);
        out.push_back(list.substr(at, comma == std::string::npos ? std::string::npos : comma - at));
        if (comma == std::string::npos) break;
        at = comma + 1;
    }
    return out;
}

// ------------------------------------------------------------ company databases

std::string column_type(char type, int width) {
    if (type == 'F' && width == 6) type = 'D', width = 8;  // the short date is stored in full
    if (kNumericTypes.find(type) == std::string_view::npos) return "character (" + std::to_string(width) + ")";
    if (type >= '1' && type <= '9') {
        int d = type - '0';
        return "numeric (" + std::to_string(width + d) + "," + std::to_string(d) + ")";
    }
    return "numeric (" + std::to_string(width) + ")";
}

IER sql_script_run(const std::string& file) {
    ScratchMark m = scr_mark();
    uint16_t h = f_open(sr(file), fmode::ReadOnly | fmode::Quiet);
    scr_release(m);
    if (h == kBadHandle) return 0;  // a dictionary without a script
    std::string statement;
    IER first_failure = 0;
    auto send = [&]() {
        if (trimmed(statement).empty()) {
            statement.clear();
            return;
        }
        IER st = exec(statement);
        ScratchMark mm = scr_mark();
        if (st) {
            log_line(sr(statement));
            log_line(sr("------- " + failure_line()));
            dialogs().show(std::string(sv(error_text(st))));
            if (!first_failure) first_failure = st;
        } else {
            log_line(sr(statement));
        }
        scr_release(mm);
        statement.clear();
    };
    for (;;) {
        m = scr_mark();
        StrRef line = f_read_line(h);
        if (!sr_ok(line)) {
            scr_release(m);
            break;
        }
        std::string text(sv(line));
        scr_release(m);
        if (text.find("-->exec") != std::string::npos) {
            send();
        } else if (!text.empty() && text[0] == '-') {
            // a comment
        } else {
            if (!statement.empty()) statement += "\r\n";
            statement += text;
        }
    }
    f_close(h);
    send();
    return first_failure;
}

namespace {

bool has_field(int s, std::string_view name) {
    for (int f = 1; f <= dict_fields(s); f++) {
        FieldInfo fi;
        if (dict_field(s, f, &fi) && sv(fi.name) == name) return true;
    }
    return false;
}

// Connects to the company database, creating it when it is not there.
IER open_company(std::string_view host, std::string_view db, std::string_view user, std::string_view password,
                 bool* created) {
    *created = false;
    ScratchMark m = scr_mark();
    IER st = sql_connect(sr(host), sr(db), sr(user), sr(password), sqlopt::KindNone);
    if (!st) {
        scr_release(m);
        return 0;
    }
    // The database is not there yet: that failure was expected.
    err_origin(2, 0, 0);
    err_detail_clear();
    st = sql_connect(sr(host), sr(kDefaultDatabase), sr(user), sr(password), sqlopt::KindNone);
    scr_release(m);
    if (st) return st == ier::SQLERROR ? IER(ier::BADINPUTDATA) : st;
    // The runtime's texts are Windows-1252; a cluster whose locale cannot
    // take it gets UTF8, and the connections convert.
    for (std::string_view enc : kEncodings) {
        st = exec_logged("CREATE DATABASE " + ident(db) + " WITH OWNER = " + ident("postgres") +
                         " TEMPLATE = template0 ENCODING = " + literal(enc) + " CONNECTION LIMIT = -1;");
        if (!st) break;
    }
    sql_disconnect();
    if (st) return st == ier::SQLERROR ? IER(ier::BADINPUTDATA) : st;
    m = scr_mark();
    st = sql_connect(sr(host), sr(db), sr(user), sr(password), sqlopt::KindNone);
    scr_release(m);
    if (st) return st == ier::SQLERROR ? IER(ier::BADINPUTDATA) : st;
    *created = true;
    return 0;
}

// Creates the tables and indexes of the loaded dictionary that are not in
// *done, then runs the script. 0, 124 with warnings, or the status that
// stopped it.
IER build_from_dictionary(std::string_view host, std::string_view db, std::string_view user,
                          std::string_view password, const std::string& script, Names* done, int* warnings) {
    bool created = false;
    IER st = open_company(host, db, user, password, &created);
    if (st) return st;
    if (created && column("SELECT lanname FROM pg_language WHERE lanname = 'plpgsql';").empty())
        exec_logged("CREATE LANGUAGE plpgsql;");
    int local_warnings = 0;
    Names made;
    std::vector<int> made_structs;
    for (int s = 1; s <= dict_count() && !st; s++) {
        std::string table(sv(dict_name(s)));
        if (std::find(done->begin(), done->end(), table) != done->end()) continue;
        std::string cols;
        for (int f = 1; f <= dict_fields(s); f++) {
            FieldInfo fi;
            if (!dict_field(s, f, &fi)) continue;
            if (!cols.empty()) cols += ",";
            cols += ident(sv(fi.name)) + " " + column_type(fi.type, fi.width);
        }
        if (cols.empty()) continue;
        IER ts = exec_logged("CREATE TABLE " + ident(table) + " (" + cols + ");");
        if (!ts) ts = exec_logged("ALTER TABLE " + ident(table) + " OWNER TO " + ident(user) + ";");
        if (ts) {
            local_warnings++;
            continue;
        }
        done->push_back(table);
        made.push_back(table);
        made_structs.push_back(s);
    }
    for (size_t i = 0; i < made_structs.size() && !st; i++) {
        int s = made_structs[i];
        bool lines = has_field(s, "N_LINE");
        for (int k = 1; k <= dict_keys(s) && !st; k++) {
            KeySegment seg[kKeySegmentsMax];
            int n = dict_key(s, k, seg);
            std::string fields;
            bool dated = false;
            for (int g = 1; g <= n; g++) {
                FieldInfo fi;
                if (!dict_field(s, dict_key_field(s, k, g), &fi)) continue;
                if (!fields.empty()) fields += ",";
                fields += ident(sv(fi.name));
                dated = dated || fi.type == 'D';
            }
            if (fields.empty()) continue;
            bool unique = k == 1 && !lines && !dated;
            std::string name = made[i] + "_ndx" + std::to_string(k);
            IER is = exec_logged(std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + ident(name) +
                                 " ON " + ident(made[i]) + " USING btree (" + fields + ");");
            if (is) {
                local_warnings++;
                std::string text = made[i] + "-" + fields + ":" + failure_line() + "\r\n\r\n" + msg_text(39);
                if (!dialogs().ask(text)) st = is;
            }
        }
    }
    if (!st) sql_script_run(script);
    sql_disconnect();
    *warnings += local_warnings;
    if (st) return st;
    return local_warnings ? IER(ier::UndefWarning) : IER(0);
}

}  // namespace

IER company_build(std::string_view host, std::string_view db, std::string_view user, std::string_view password,
                  int* warnings) {
    *warnings = 0;
    ScratchMark m = scr_mark();
    StrRef docs_ref = env_folder(folder::Docs);
    std::string docs(sv(docs_ref.n ? docs_ref : sr(".")));
    StrRef found = file_find(path_join(sr(docs), sr("??DICC.DAT")));
    Names files;
    if (sr_ok(found)) {
        size_t at = 0;
        std::string all(sv(found));
        while (at < all.size()) {
            size_t end = all.find('\0', at);
            if (end == std::string::npos) end = all.size();
            files.push_back(all.substr(at, end - at));
            at = end + 1;
        }
    }
    scr_release(m);
    std::sort(files.begin(), files.end());
    Names done;
    int dictionaries = 0, warned = 0;
    IER st = 0;
    for (const std::string& file : files) {
        m = scr_mark();
        std::string name(sv(path_name(sr(file))));  // without its extension
        scr_release(m);
        if (starts_qv(name)) continue;  // the runtime's own structures
        dictionaries++;
        dict_clear();
        // The dictionary is the one of the document folder, wherever the
        // search path points.
        m = scr_mark();
        std::string path(sv(env_get(env::DocPath)));
        env_set(env::DocPath, std::string_view(docs));
        st = dict_load(sr(name.substr(0, 2)));
        env_set(env::DocPath, std::string_view(path));
        scr_release(m);
        if (st) break;
        m = scr_mark();
        std::string script(sv(path_join(sr(docs), sr(name + ".SQL"))));
        scr_release(m);
        int w = 0;
        st = build_from_dictionary(host, db, user, password, script, &done, &w);
        *warnings += w;
        if (st == ier::UndefWarning) warned++, st = 0;
        if (st) break;
    }
    dict_clear();
    if (!dictionaries && !st && (sysv_get(sysv::AUXSTAT) & kAuxNoDictionary)) {
        // No dictionary in this installation: the tables of an existing
        // database give the structures.
        ScratchMark mm = scr_mark();
        std::string fields(sv(fmt(msg(91), {sr(expr_literal(host)), sr("''"), sr(expr_literal(user)), sr("''")})));
        scr_release(mm);
        Names v;
        st = dialogs().accept(msg_text(1001), fields, &v);
        if (st) return st;
        v.resize(4);
        mm = scr_mark();
        st = sql_connect(sr(trimmed(v[0])), sr(trimmed(v[1])), sr(trimmed(v[2])), sr(v[3]),
                         sqlopt::Tables | sqlopt::Columns | sqlopt::KindNone);
        scr_release(mm);
        if (st) return st;
        sql_disconnect();
        int w = 0;
        st = build_from_dictionary(host, db, user, password, std::string(), &done, &w);
        *warnings += w;
        dict_clear();
        return st;
    }
    if (!dictionaries) return err_raise(ier::INTERNALERROR, mod::DataFile, "no data dictionary ??DICC.DAT");
    if (st) return st;
    return warned ? IER(ier::UndefWarning) : IER(0);
}

}  // namespace ap
