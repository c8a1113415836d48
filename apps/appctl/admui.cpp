// appctl's windows: the main selection loop, the users and companies lists,
// the details windows and the permissions window. Every window is a list
// selection or an Accept window, so that answer files drive all of them.
#include <algorithm>
#include <cctype>

#include "apps/appctl/admin.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/list.h"
#include "runtime/core/msg.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/core/log.h"
#include "runtime/data/sql.h"
#include "runtime/script/child.h"
#include "runtime/ui/screen.h"
#include "runtime/ui/wm.h"

namespace ap {

using namespace rt;

constexpr int kAuxNoDictionary = 256;
constexpr int kTextViewer = 1;  // _AUXSTAT: no ??DICC.DAT in the installation

// A text as an expression that gives it back unchanged, whatever quotes it
// holds: a value must never become expression code.
std::string expr_literal(std::string_view v) {
    if (v.find('\'') == std::string_view::npos) return "'" + std::string(v) + "'";
    if (v.find('"') == std::string_view::npos) return "\"" + std::string(v) + "\"";
    std::string out;
    size_t at = 0;
    while (at <= v.size()) {
        size_t q = v.find('\'', at);
        std::string_view piece = v.substr(at, q == std::string_view::npos ? std::string_view::npos : q - at);
        if (!out.empty()) out += "+";
        out += "'" + std::string(piece) + "'";
        if (q == std::string_view::npos) break;
        out += "+\"'\"";
        at = q + 1;
    }
    return out;
}

namespace {

std::string text_of(StrRef s) { return std::string(sv(s)); }

std::string msg_item(int code, int item) {
    ScratchMark m = scr_mark();
    std::string out(sv(lst_field(msg(code), item)));
    scr_release(m);
    return out;
}

bool checked(std::string_view v) {
    std::string t = trimmed(v);
    return t == "1" || t == "Y" || t == "y" || t == "S" || t == "s" || t == "T" || t == "t";
}

std::string upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string joined(const Names& items, std::string_view first = {}) {
    std::string out(first);
    for (const std::string& n : items) {
        if (!out.empty()) out += ",";
        out += n;
    }
    return out;
}

void show_status(IER st) {
    if (st < ier::UserCanceled) return;
    ScratchMark m = scr_mark();
    std::string text = text_of(error_text(st));
    scr_release(m);
    err_detail_clear();
    dialogs().show(text);
}

// Answers of nobody: the windows are not there (tests replace these).
IER no_accept(std::string_view, std::string_view, Names*) { return ier::UserCanceled; }

// The Accept window of the screens layer: its values list, each value
// quoted, becomes the values.
IER screen_accept(std::string_view caption, std::string_view fields, Names* values) {
    ScratchMark m = scr_mark();
    AcceptResult r = accept_window(sr(caption), sr(fields));
    scr_release(m);
    if (r.status) return r.status;
    values->clear();
    m = scr_mark();
    StrRef list = sr(r.values);
    int n = list.n ? lst_count(list) : 0;
    for (int i = 1; i <= n; i++) values->emplace_back(sv(str_unquote(lst_field(list, i))));
    scr_release(m);
    return 0;
}
void box_show(std::string_view text) {
    ScratchMark m = scr_mark();
    msg_box(sr(text), sr_empty(), box::Info);
    scr_release(m);
}
bool box_ask(std::string_view text) {
    ScratchMark m = scr_mark();
    bool yes = confirm(sr(text));
    scr_release(m);
    return yes;
}
// A list answered from the INPUT file names its choice by text (or by
// number); OUTPUT records the choice by text, '' when the list was closed.
int wm_select(std::string_view caption, std::string_view items, IER* st) {
    ScratchMark m = scr_mark();
    int choice = 0;
    if (sysv_get(sysv::INHND)) {
        std::string line = trimmed(sv(str_unquote(str_trim(next_answer()))));
        int n = lst_count(sr(items));
        for (int i = 1; i <= n && !choice; i++)
            if (str_compare(str_upper(str_trim(lst_field(sr(items), i))), str_upper(sr(line))) == 0) choice = i;
        if (!choice && !line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
            choice = std::atoi(line.c_str()) <= n ? std::atoi(line.c_str()) : 0;
        if (st) *st = choice ? 0 : ier::UserCanceled;
    } else {
        SelectSpec want;
        want.caption = sr(caption);
        want.items = sr(items);
        choice = select_run(want, st);
    }
    if (sysv_get(sysv::OUTHND)) {
        std::string item = choice ? std::string(sv(str_trim(lst_field(sr(items), choice)))) : std::string();
        record_answer(sr(expr_literal(item)));
    }
    scr_release(m);
    return choice;
}

// A details window: leading field texts, then one 80-character field per
// remaining label, with the stored lines as defaults.
std::string details_fields(const Names& leading, std::string_view labels, const Names& stored, bool remove,
                           std::string_view help) {
    std::string out;
    int n = lst_count(sr(labels));
    for (int i = 0; i < n; i++) {
        std::string value = i < static_cast<int>(stored.size()) ? stored[i] : std::string();
        std::string item;
        if (i < static_cast<int>(leading.size())) {
            item = leading[i];
            if (lst_count(sr(item), ':') == 2) item += "::" + expr_literal(value);
        } else {
            ScratchMark m = scr_mark();
            std::string label(sv(lst_field(labels, i + 1)));
            scr_release(m);
            item = expr_literal(label) + ":'A80'::" + expr_literal(value);
        }
        if (!out.empty()) out += ",";
        out += item;
    }
    if (remove) out += ",'Remove:':'L1'::'0'";
    out += " /HELP$=\"" + std::string(help) + "\":NOEDIT$=\"_SCRF1$\"";
    return out;
}

constexpr std::string_view kUserLabels = ",,,,Name:,Address:, ,Phones:,Emails:,Other:, , , ";
constexpr std::string_view kCompanyLabels = "Database:,Company:,Address:, ,Phones:,Emails:,Contacts:, ,Other:, , ,Config:, , , ";

std::string g_company;  // the selected company (this session only)

}  // namespace

void install_dialogs() {
    Dialogs& d = dialogs();
    d.accept = screen_accept;
    d.select = wm_select;
    d.show = box_show;
    d.ask = box_ask;
}

Dialogs& dialogs() {
    static Dialogs d{no_accept, wm_select, box_show, box_ask};
    return d;
}

// ------------------------------------------------------------ lists

// A user list (the all-users list when db is empty) with the members of
// management on the server.
Names company_users(std::string_view db) {
    Names file = list_read(users_file(db));
    Names members;
    if (!admin_connect({})) {
        members = server_group_members("management");
        admin_disconnect();
    }
    return merge(file, members);
}

Names users_all() { return company_users({}); }

Names companies_all() {
    Names file = list_read(companies_file());
    Names server;
    if (!admin_connect({})) {
        server = server_databases();
        admin_disconnect();
    }
    return merge(file, server, kSkipDatabases);
}

// ------------------------------------------------------------ users

IER user_new() {
    IER st = admin_connect({});
    if (st) return st;
    if (list_read(users_file()).empty()) role_create_groups();
    for (;;) {
        Names v;
        st = dialogs().accept("User Details", "'Login:':'A15','Password:':'P30','Retype Password:':'P30'", &v);
        if (st) break;
        v.resize(3);
        std::string login = trimmed(v[0]);
        if (login.empty() || v[1] != v[2]) {
            dialogs().show(msg_item(23, 9));
            continue;
        }
        if (!name_ok(login)) {
            show_status(ier::BadUserData);
            continue;
        }
        st = role_create_login(login, v[1]);
        if (st) {
            show_status(st);
            continue;
        }
        st = role_grant("management", login);
        if (!st && !(sysv_get(sysv::AUXSTAT) & kAuxNoDictionary)) {
            Names all = list_read(users_file());
            if (std::find(all.begin(), all.end(), login) == all.end()) all.push_back(login);
            st = list_write(users_file(), all);
        }
        break;
    }
    admin_disconnect();
    return st;
}

IER user_remove(std::string_view login) {
    // The server first: while the role stands, the files say it exists.
    for (const std::string& db : list_read(companies_file())) {
        if (admin_connect(db)) continue;  // a company dropped by other means
        for (const std::string& t : server_tables()) rights_revoke(login, t, false);
        admin_disconnect();
    }
    IER st = admin_connect({});
    if (st) return st;
    st = role_drop(login);
    admin_disconnect();
    if (st) return st;
    Names all = list_read(users_file());
    all.erase(std::remove(all.begin(), all.end(), std::string(login)), all.end());
    st = list_write(users_file(), all);
    for (const std::string& db : list_read(companies_file())) {
        Names users = list_read(users_file(db));
        auto end = std::remove(users.begin(), users.end(), std::string(login));
        if (end != users.end()) {
            users.erase(end, users.end());
            list_write(users_file(db), users);
        }
    }
    ScratchMark m = scr_mark();
    file_delete(sr(user_details_file(login)));
    scr_release(m);
    return st;
}

IER user_details(std::string_view login, bool* removed) {
    *removed = false;
    if (!name_ok(login)) return ier::BADINPUTDATA;
    Names stored = lines_read(user_details_file(login));
    stored.resize(std::max<size_t>(stored.size(), 1));
    if (trimmed(stored[0]).empty()) stored[0] = std::string(login);
    if (stored.size() > 2) stored[1].clear(), stored[2].clear();  // a password is never shown
    const Names leading = {"'Login:':'A15'", "'Password:':'P30'", "'Retype Password:':'P30'", "'Group [users]:':'A20'"};
    std::string fields = details_fields(leading, kUserLabels, stored, true, "apUSER.hlp");
    for (;;) {
        Names v;
        IER st = dialogs().accept("User Details", fields, &v);
        if (st) return st;
        int n = lst_count(sr(kUserLabels));
        v.resize(n + 1);
        if (checked(v[n])) {
            st = user_remove(login);
            if (!st) *removed = true;
            return st;
        }
        if (!v[1].empty() || !v[2].empty()) {
            if (v[1] != v[2]) {
                dialogs().show(msg_item(23, 9));
                continue;
            }
            st = admin_connect({});
            if (!st) {
                st = role_set_password(login, v[1]);
                admin_disconnect();
            }
            if (st) return st;
        }
        v[1].clear(), v[2].clear();
        std::string old_group = stored.size() > 3 ? trimmed(stored[3]) : std::string();
        std::string new_group = trimmed(v[3]);
        if (old_group.empty()) old_group = "management";  // where every user starts
        if (!new_group.empty() && new_group != old_group) {
            st = admin_connect({});
            if (st) return st;
            // The new group must exist, and the user keeps the old one until
            // the new one is granted: a typing error leaves nobody without rights.
            if (!role_exists(new_group)) st = err_raise(ier::BADINPUTDATA, mod::SQLEXEC, "no such group: " + new_group);
            if (!st) st = role_grant(new_group, login);
            if (!st) st = role_revoke(old_group, login);
            admin_disconnect();
            if (st) return st;
        }
        v.resize(n);
        return lines_write(user_details_file(login), v);
    }
}

// ------------------------------------------------------------ companies

IER company_details(std::string_view db) {
    if (!name_ok(db)) return ier::BADINPUTDATA;
    Names stored = lines_read(company_details_file(db));
    stored.resize(std::max<size_t>(stored.size(), 1));
    if (trimmed(stored[0]).empty()) stored[0] = std::string(db);
    std::string fields = details_fields({}, kCompanyLabels, stored, false, "apCO.hlp");
    Names v;
    IER st = dialogs().accept("Company Details", fields, &v);
    if (st) return st;
    v.resize(lst_count(sr(kCompanyLabels)));
    return lines_write(company_details_file(db), v);
}

IER company_new() {
    ScratchMark m = scr_mark();
    std::string fields(sv(fmt(msg(92), {sr(expr_literal(admin_default_host()))})));
    scr_release(m);
    Names v;
    IER st = dialogs().accept(msg_text(90), fields, &v);
    if (st) return st;
    v.resize(4);
    for (std::string& s : v) s = trimmed(s);
    if (v[0].empty() || v[1].empty() || v[2].empty() || v[3].empty()) return ier::BADINPUTDATA;
    if (!name_ok(v[1])) return err_raise(ier::BADINPUTDATA, mod::SQLCONNECT, "Database: " + v[1]);
    int warnings = 0;
    st = company_build(v[0], v[1], v[2], v[3], &warnings);
    if (st && st != ier::UndefWarning) return st;
    // Owner and rights of every table: the first user owns them, the
    // groups get what their position gives.
    Names users = list_read(users_file());
    m = scr_mark();
    st = sql_connect(sr(v[0]), sr(v[1]), sr(v[2]), sr(v[3]), sqlopt::KindNone);
    scr_release(m);
    if (st) return st;
    // The groups the rights go to, should the server lack them.
    role_create_groups();
    Names g = groups();
    for (const std::string& t : server_tables()) {
        if (!users.empty()) {
            m = scr_mark();
            std::string q(sv(sql_quote_name(sr(t))));
            std::string o(sv(sql_quote_name(sr(users[0]))));
            scr_release(m);
            m = scr_mark();
            st = sql_exec(sr("ALTER TABLE " + q + " OWNER TO " + o + ";"));
            scr_release(m);
            if (st) break;
        }
        for (size_t i = 0; i < g.size() && !st; i++) st = rights_grant(g[i], t, i < 2, true);
        if (st) break;
    }
    sql_disconnect();
    if (st) return st;
    Names cos = list_read(companies_file());
    if (std::find(cos.begin(), cos.end(), v[1]) != cos.end()) {
        m = scr_mark();
        std::string text = v[1] + ":" + text_of(status_text(ier::DataAlreadyExist));
        scr_release(m);
        dialogs().show(text);
    } else {
        cos.push_back(v[1]);
        st = list_write(companies_file(), cos);
    }
    if (warnings) {
        m = scr_mark();
        std::string q(sv(msg(40)));
        scr_release(m);
        if (dialogs().ask(q + " (" + std::to_string(warnings) + ")")) {
            m = scr_mark();
            StrRef log = log_file_name();
            child_open_viewer(kTextViewer, log);
            scr_release(m);
        }
    }
    return st;
}

// ------------------------------------------------------------ permissions

IER permissions(std::string_view db, std::string_view subject) {
    // Both become part of file names and file lines.
    if (!name_ok(db) || !name_ok(subject) || subject.find(':') != std::string_view::npos)
        return err_raise(ier::BADINPUTDATA, mod::SQLCONNECT, std::string(db) + ":" + std::string(subject));
    IER st = admin_connect(db);
    if (st) return st;
    Names tables = server_tables();
    std::string stored = rights_get(db, subject);
    bool group = is_group(subject);
    int pos = lst_pos(kGroups, subject);
    char fallback = pos == 3 || pos == 4 ? 'R' : 'W';
    std::string shown;
    std::string fields;
    for (size_t i = 0; i < tables.size(); i++) {
        char c = i < stored.size() ? stored[i] : fallback;
        shown += c;
        fields += expr_literal(tables[i] + "(N/R/W):") + ":'A1'::" + expr_literal(std::string(1, c)) + ",";
    }
    fields += expr_literal("Remove " + std::string(subject) + " from " + std::string(db) + ":") + ":'L1'::'0'";
    std::string caption = "Users Permission - " + std::string(subject) + " - " + std::string(db);
    Names v;
    std::string letters;
    for (;;) {
        v.clear();
        st = dialogs().accept(caption, fields, &v);
        if (st) break;
        v.resize(tables.size() + 1);
        letters.clear();
        std::string bad;
        for (size_t i = 0; i < tables.size() && bad.empty(); i++) {
            std::string l = upper(trimmed(v[i]));
            // An empty letter keeps what the table had.
            if (l.empty()) l = std::string(1, i < stored.size() ? stored[i] : shown[i]);
            if (l != "W" && l != "R" && l != "N") bad = tables[i];
            letters += l;
        }
        if (bad.empty()) break;
        dialogs().show(bad);
    }
    if (st) {
        admin_disconnect();
        return st;
    }
    bool remove = checked(v[tables.size()]);
    st = rights_set(db, subject, remove ? std::string() : letters);
    if (!st && remove) {
        Names users = list_read(users_file(db));
        users.erase(std::remove(users.begin(), users.end(), std::string(subject)), users.end());
        list_write(users_file(db), users);
        for (const std::string& t : tables)
            if ((st = rights_revoke(subject, t, group))) break;
    } else if (!st) {
        for (size_t i = 0; i < tables.size() && !st; i++) {
            // A table without a stored letter counts as changed, so that what
            // the window showed is what the server has afterwards.
            if (i < stored.size() && std::toupper(static_cast<unsigned char>(stored[i])) == letters[i]) continue;
            st = rights_revoke(subject, tables[i], group);
            if (!st && letters[i] != 'N') st = rights_grant(subject, tables[i], letters[i] == 'W', group);
        }
    }
    admin_disconnect();
    return st;
}

// ------------------------------------------------------------ main loop

namespace {

// A dictionary in the document folder, else in the applications folder,
// which then becomes the document folder.
bool dictionary_present() {
    for (int kind : {folder::Docs, folder::RunPath}) {
        ScratchMark m = scr_mark();
        StrRef f = env_folder(kind);
        bool found = f.n && sr_ok(file_find(path_join(f, sr("??DICC.DAT"))));
        if (found && kind == folder::RunPath) env_set(env::DataPath, f);
        scr_release(m);
        if (found) return true;
    }
    return false;
}

IER users_entry() {
    for (;;) {
        Names users = users_all();
        IER sst = 0;
        int choice = dialogs().select("Users", joined(users, "New User"), &sst);
        if (choice <= 0) return 0;
        IER st;
        if (choice == 1) {
            st = user_new();
        } else {
            bool removed = false;
            st = user_details(users[choice - 2], &removed);
        }
        if (st != ier::UserCanceled) show_status(st);
    }
}

IER companies_entry() {
    for (;;) {
        Names cos = companies_all();
        IER sst = 0;
        int choice = dialogs().select("Company Selection", joined(cos, "New Company"), &sst);
        if (choice <= 0) return 0;
        if (choice == 1) {
            IER st = company_new();
            if (st != ier::UserCanceled) show_status(st);
        } else if (!name_ok(cos[choice - 2])) {
            // A database made by other means may have a name no file can carry.
            show_status(err_raise(ier::BADINPUTDATA, mod::SQLCONNECT, "Database: " + cos[choice - 2]));
        } else {
            g_company = cos[choice - 2];
        }
    }
}

IER groups_entry() {
    for (;;) {
        IER sst = 0;
        int choice = dialogs().select("Company Groups", kGroups, &sst);
        if (choice <= 0) return 0;
        IER st = permissions(g_company, groups()[choice - 1]);
        if (st != ier::UserCanceled) show_status(st);
    }
}

IER company_users_entry() {
    for (;;) {
        Names users = company_users(g_company);
        IER sst = 0;
        int choice = dialogs().select("Company Users", joined(users, "Add User"), &sst);
        if (choice <= 0) return 0;
        IER st = 0;
        if (choice == 1) {
            Names all = users_all(), others;
            for (const std::string& u : all)
                if (std::find(users.begin(), users.end(), u) == users.end()) others.push_back(u);
            if (others.empty()) {
                dialogs().show(msg_text(7));
                continue;
            }
            int pick = dialogs().select("Add User", joined(others), &sst);
            if (pick <= 0) continue;
            Names listed = list_read(users_file(g_company));
            listed.push_back(others[pick - 1]);
            st = list_write(users_file(g_company), listed);
        } else {
            st = permissions(g_company, users[choice - 2]);
        }
        if (st != ier::UserCanceled) show_status(st);
    }
}

}  // namespace

IER main_loop() {
    int16_t aux = sysv_get(sysv::AUXSTAT);
    bool short_list = !dictionary_present();
    sysv_set(sysv::AUXSTAT, short_list ? int16_t(aux | kAuxNoDictionary) : int16_t(aux & ~kAuxNoDictionary));
    std::string_view items = short_list ? "Users,Company Selection"
                                        : "Users,Company Selection,Company Details,Company Groups,Company Users";
    for (;;) {
        std::string caption = "Aplication Control - " + (g_company.empty() ? std::string("No Selection") : g_company);
        IER sst = 0;
        int choice = dialogs().select(caption, items, &sst);
        if (choice <= 0) return 0;
        if (choice >= 2 && users_all().empty()) {
            dialogs().show("Please, Create at least one user first (Administrator)");
            continue;
        }
        if (choice >= 3 && g_company.empty()) {
            dialogs().show("Please, Select a Company");
            continue;
        }
        IER st = 0;
        switch (choice) {
        case 1: st = users_entry(); break;
        case 2: st = companies_entry(); break;
        case 3: st = company_details(g_company); break;
        case 4: st = groups_entry(); break;
        case 5: st = company_users_entry(); break;
        default: break;
        }
        if (st != ier::UserCanceled) show_status(st);
    }
}

}  // namespace ap
