// appctl's own layer: the files of the shared data folder (users,
// companies, details, rights), the SQL side of roles, rights and company
// databases, and the windows that drive them. Names and passwords reach
// SQL only escaped (or encrypted); names reach file names only checked.
#pragma once
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/types.h"

namespace ap {

using rt::IER;
using Names = std::vector<std::string>;

// The four group roles of every installation, by position 1..4: the first
// two get write rights on new tables, the last two read rights.
constexpr std::string_view kGroups = "management,admins,trusts,externs";
constexpr std::string_view kSkipDatabases = "template0,template1,postgres";
Names groups();
bool is_group(std::string_view name);

// Edge blanks (and line ends) removed; a message of the catalogue as text.
std::string trimmed(std::string_view s);
std::string msg_text(int code);

// ------------------------------------------------------------ files

// A name that may become part of a file name: not empty, no "/", "\" or
// control character, not "." or "..".
bool name_ok(std::string_view name);
// A file of the shared data folder.
std::string data_file(std::string_view name);
std::string users_file(std::string_view db = {});  // APUSRLIST.DAT, APUSRLIST.<db>.DAT
std::string companies_file();                        // APCOLIST.DAT
std::string user_details_file(std::string_view login);
std::string company_details_file(std::string_view db);
std::string rights_file(std::string_view db);

// A list file: one comma list. A missing file is an empty list.
Names list_read(const std::string& file);
IER list_write(const std::string& file, const Names& names);
// Text files: one value per line (CR LF written, any line end read).
Names lines_read(const std::string& file);
IER lines_write(const std::string& file, const Names& lines, std::string_view joiner = "\r\n");

// A subject's permission letters from a rights file ("" when it has none),
// and its line rewritten (the other lines as they were).
std::string rights_get(std::string_view db, std::string_view subject);
IER rights_set(std::string_view db, std::string_view subject, std::string_view letters);

// Both lists without duplicates, a's order first.
Names merge(const Names& a, const Names& b, std::string_view skip = {});

// A text as an expression of the field-list language that gives the text
// back unchanged, whatever quotes it holds (defaults of Accept fields).
std::string expr_literal(std::string_view v);

// ------------------------------------------------------------ SQL side

// The administrator login of the session: host, user, password. Kept in
// memory only; sqladmprm.dat keeps the host for the next session.
struct AdminLogin {
    std::string host, user, password;
    bool set = false;
};
AdminLogin& admin_login();
std::string admin_default_host();  // sqladmprm.dat, else "localhost"

// The dialogs the SQL side and the windows ask. Accept: 0 with the
// confirmed field values, else the status it was left with (122 cancelled).
// Select: the 1-based choice, 0 when the list was closed.
struct Dialogs {
    IER (*accept)(std::string_view caption, std::string_view fields, Names* values);
    int (*select)(std::string_view caption, std::string_view items, IER* st);
    // A message shown to the user (no answer) and a question (true for yes).
    void (*show)(std::string_view text);
    bool (*ask)(std::string_view text);
};
Dialogs& dialogs();
// The windows of the window manager, answered from the INPUT file and
// recorded with OUTPUT (the program; tests put fakes in dialogs()).
void install_dialogs();

// Connects as administrator to db (empty: the server's default database),
// asking the login once per session (message 0090 / 0093). 122 when the
// dialog is left.
IER admin_connect(std::string_view db);
void admin_disconnect();

// Roles. Every name is quoted as an identifier; passwords are sent
// encrypted for the server, never as typed.
IER role_create_groups();  // existing groups are no error
IER role_create_login(std::string_view login, std::string_view password);
IER role_set_password(std::string_view login, std::string_view password);
IER role_grant(std::string_view group, std::string_view login);
IER role_revoke(std::string_view group, std::string_view login);
IER role_drop(std::string_view login);
bool role_exists(std::string_view name);

// Rights on one table of the connected database; group addresses a group.
IER rights_revoke(std::string_view role, std::string_view table, bool group);
IER rights_grant(std::string_view role, std::string_view table, bool write, bool group);

// Lists from the connected server.
Names server_databases();
Names server_logins();
Names server_group_members(std::string_view group);
Names server_tables();  // schema public, by name

// The column of a dictionary field: "character (10)", "numeric (12,2)".
std::string column_type(char type, int width);

// Creates (or completes) company database db from every dictionary of the
// document folder but the runtime's own (QV..), with each dictionary's SQL
// script; owner is the user given tables are owned by first. The log gets
// every statement of database, table and index creation. 0, 124 when
// tables or indexes failed (counted in *warnings), or the failing status.
IER company_build(std::string_view host, std::string_view db, std::string_view user,
                  std::string_view password, int* warnings);
// Runs an SQL script of "-->exec"-separated statements on the connection.
IER sql_script_run(const std::string& file);

// ------------------------------------------------------------ operations

// Each asks what it needs through dialogs(); statuses of 122 and above are
// the caller's to show.
IER user_new();
IER user_details(std::string_view login, bool* removed);
IER user_remove(std::string_view login);
IER company_new();
IER company_details(std::string_view db);
IER permissions(std::string_view db, std::string_view subject);
Names users_all();                     // the all-users list with management's members
Names company_users(std::string_view db);
Names companies_all();

// The main selection loop: the program's status.
IER main_loop();

}  // namespace ap
