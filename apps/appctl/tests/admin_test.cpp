// appctl against the private cluster (scripts/pgcluster.sh exports PGHOST,
// PGPORT and PGUSER): users, groups, companies built from a dictionary, and
// rights, with the windows answered by a script of answers. Roles belong to
// the whole cluster, so these tests hold the lock "pgroles".
#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "apps/appctl/admin.h"
#include "runtime/core/env.h"
#include "runtime/core/log.h"
#include "runtime/core/msg.h"
#include "runtime/expr/eval.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/sql.h"
#include "tests/support/rtfixture.h"

namespace ap {
namespace {

using rt::test::str;
namespace fs = std::filesystem;

std::string env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// ------------------------------------------------------------ scripted windows

struct Asked {
    std::string caption, fields;
};
struct Script {
    std::deque<Names> answers;  // one per Accept window; an empty entry cancels
    std::deque<std::string> choices;  // list items by text; "" closes the list
    std::vector<Asked> asked;
    std::vector<std::string> shown;
    bool yes = true;
};
Script* g_script = nullptr;

IER fake_accept(std::string_view caption, std::string_view fields, Names* values) {
    g_script->asked.push_back({std::string(caption), std::string(fields)});
    if (g_script->answers.empty() || g_script->answers.front().empty()) {
        if (!g_script->answers.empty()) g_script->answers.pop_front();
        return rt::ier::UserCanceled;
    }
    *values = g_script->answers.front();
    g_script->answers.pop_front();
    return 0;
}
int fake_select(std::string_view caption, std::string_view items, IER* st) {
    g_script->asked.push_back({std::string(caption), std::string(items)});
    std::string want = g_script->choices.empty() ? "" : g_script->choices.front();
    if (!g_script->choices.empty()) g_script->choices.pop_front();
    int n = 1;
    size_t at = 0;
    std::string list(items);
    while (!want.empty()) {
        size_t comma = list.find(',', at);
        if (list.substr(at, comma == std::string::npos ? std::string::npos : comma - at) == want) return n;
        if (comma == std::string::npos) break;
        at = comma + 1, n++;
    }
    if (st) *st = rt::ier::UserCanceled;
    return 0;
}
void fake_show(std::string_view text) { g_script->shown.emplace_back(text); }
bool fake_ask(std::string_view text) {
    g_script->shown.emplace_back(text);
    return g_script->yes;
}

// ------------------------------------------------------------ direct SQL

// A statement as the superuser over the socket; the first value, or
// "<error>" on failure.
std::string direct(const std::string& db, const std::string& sql) {
    std::string conninfo = "host='" + env_or_empty("PGHOST") + "' dbname='" + db + "' user='" +
                           env_or_empty("PGUSER") + "' options='-c client_min_messages=warning'";
    PGconn* c = PQconnectdb(conninfo.c_str());
    std::string out;
    if (PQstatus(c) != CONNECTION_OK) {
        out = std::string("<") + PQerrorMessage(c) + ">";
    } else {
        PGresult* r = PQexec(c, sql.c_str());
        if (PQresultStatus(r) == PGRES_TUPLES_OK) {
            for (int i = 0; i < PQntuples(r); i++) out += std::string(i ? "," : "") + PQgetvalue(r, i, 0);
        } else if (PQresultStatus(r) != PGRES_COMMAND_OK) {
            out = std::string("<") + PQresultErrorMessage(r) + ">";
        }
        PQclear(r);
    }
    PQfinish(c);
    return out;
}

// Logs in over TCP with a password, as a person would; "" when it works.
std::string login_works(const std::string& user, const std::string& password, const std::string& db = "postgres") {
    const char* keys[] = {"host", "port", "dbname", "user", "password", nullptr};
    std::string port = env_or_empty("PGPORT");
    const char* vals[] = {"127.0.0.1", port.c_str(), db.c_str(), user.c_str(), password.c_str(), nullptr};
    PGconn* c = PQconnectdbParams(keys, vals, 0);
    std::string out = PQstatus(c) == CONNECTION_OK ? "" : PQerrorMessage(c);
    PQfinish(c);
    return out;
}

// ------------------------------------------------------------ fixture

class Appctl : public rt::test::RtTest {
protected:
    Script script_;
    rt::test::TempDir root_, work_;
    std::string docs_;  // the document folder; the shared data folder is its ../data
    std::unique_ptr<rt::test::InFolder> in_;
    std::vector<std::string> roles_, dbs_;
    std::string host_, super_;
    std::string tag_;

    void SetUp() override {
        host_ = env_or_empty("PGHOST");
        super_ = env_or_empty("PGUSER");
        if (host_.empty() || super_.empty() || env_or_empty("PGPORT").empty())
            GTEST_SKIP() << "no private cluster: eval \"$(scripts/pgcluster.sh start)\"";
        RtTest::SetUp();
        tag_ = std::to_string(::getpid());
        g_script = &script_;
        Dialogs& d = dialogs();
        d = Dialogs{fake_accept, fake_select, fake_show, fake_ask};
        admin_login() = AdminLogin{host_, super_, "", true};
        in_ = std::make_unique<rt::test::InFolder>(work_.path);
        docs_ = root_.path + "/docs";
        fs::create_directories(docs_);
        ASSERT_EQ(rt::env_set(rt::env::DataPath, docs_), 0);
        for (const char* f : {"TSDICC.DAT", "TSREL.DAT", "TSDICC.SQL", "QVDICC.DAT"})
            fs::copy_file(fs::path(QV_APPCTL_FIXTURES) / f, fs::path(docs_) / f);
        drop_groups();
    }

    void TearDown() override {
        if (host_.empty() || super_.empty()) return;
        rt::sql_disconnect_all();
        rt::dict_clear();
        for (const std::string& db : dbs_) direct("postgres", "DROP DATABASE IF EXISTS \"" + db + "\" WITH (FORCE)");
        for (const std::string& r : roles_) direct("postgres", "DROP ROLE IF EXISTS \"" + r + "\"");
        drop_groups();
        in_.reset();
        g_script = nullptr;
        RtTest::TearDown();
    }

    // The four groups belong to the cluster: each test starts without them.
    void drop_groups() {
        for (const std::string& g : groups()) direct("postgres", "DROP ROLE IF EXISTS \"" + g + "\"");
    }
    std::string login(const std::string& base) {
        roles_.push_back(base + "_" + tag_);
        return roles_.back();
    }
    std::string database(const std::string& base) {
        dbs_.push_back(base + "_" + tag_);
        return dbs_.back();
    }
    std::string member_of(const std::string& user) {
        return direct("postgres",
                      "SELECT string_agg(g.rolname, ',' ORDER BY g.rolname) FROM pg_auth_members m "
                      "JOIN pg_roles g ON g.oid = m.roleid JOIN pg_roles u ON u.oid = m.member "
                      "WHERE u.rolname = '" + user + "'");
    }
    IER new_user(const std::string& name, const std::string& pw) {
        script_.answers.push_back({name, pw, pw});
        return user_new();
    }
    IER new_company(const std::string& db) {
        script_.answers.push_back({host_, db, super_, "unused on the socket"});
        return company_new();
    }
    // The installation without a dictionary: the structure from database from.
    IER company_new_from(const std::string& db, const std::string& from) {
        rt::sysv_set(rt::sysv::AUXSTAT, static_cast<int16_t>(rt::sysv_get(rt::sysv::AUXSTAT) | 256));
        rt::msg_set_app_block("1001 Copy Structure from this Database");
        script_.answers.push_back({host_, db, super_, "pw"});
        script_.answers.push_back({host_, from, super_, ""});
        return company_new();
    }
    // What a role may do on a table: "W", "R" or "N".
    std::string right(const std::string& db, const std::string& role, const std::string& table) {
        std::string q = "SELECT has_table_privilege('" + role + "', '\"" + table + "\"', 'INSERT')::text || ',' || "
                        "has_table_privilege('" + role + "', '\"" + table + "\"', 'SELECT')::text";
        std::string v = direct(db, q);
        if (v == "true,true") return "W";
        if (v == "false,true") return "R";
        if (v == "false,false") return "N";
        return v;
    }
    std::string log_text() {
        std::ifstream in(work_.path + "/" + str(rt::log_file_name()), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

// ------------------------------------------------------------ files, no server

TEST(AppctlNames, OnlySafeNamesBecomeFileNames) {
    struct Case {
        std::string name;
        bool ok;
    } cases[] = {
        {"ann", true}, {"Ann O'Neil", true}, {"", false}, {".", false}, {"..", false},
        {"a/b", false}, {"a\\b", false}, {"a\nb", false}, {std::string("a\0b", 3), false}, {"\x7f", false},
    };
    for (const Case& c : cases) EXPECT_EQ(name_ok(c.name), c.ok) << c.name;
}

TEST(AppctlNames, ColumnTypes) {
    struct Case {
        char type;
        int width;
        std::string want;
    } cases[] = {
        {'A', 10, "character (10)"}, {'D', 8, "character (8)"}, {'F', 6, "character (8)"},
        {'N', 6, "numeric (6)"},     {'2', 10, "numeric (12,2)"}, {'2', 8, "numeric (10,2)"},
        {'3', 6, "numeric (9,3)"},   {'L', 1, "numeric (1)"},
    };
    for (const Case& c : cases) EXPECT_EQ(column_type(c.type, c.width), c.want) << c.type << c.width;
}

// The shared data folder is "..\data" from the document folder.
class AppctlText : public rt::test::RtTest {};

TEST_F(AppctlText, DefaultsGiveTheirTextBack) {
    rt::ex_install();
    for (std::string v : {"plain", "", "O'Brien", "say \"hi\"", "both ' and \"", "'", "''\"\"'", "a,b:c;d"})
        EXPECT_EQ(str(rt::ex_text(rt::sr(expr_literal(v)))), v) << expr_literal(v);
}

class AppctlFiles : public rt::test::RtTest {
protected:
    rt::test::TempDir root_;
    struct {
        rt::test::TempDir* root;
        void put(const std::string& name, const std::string& text) const { root->put("data/" + name, text); }
        std::string read(const std::string& name) const { return root->read("data/" + name); }
    } data_{&root_};
    void SetUp() override {
        RtTest::SetUp();
        ASSERT_EQ(rt::env_set(rt::env::DataPath, root_.path + "/docs"), 0);
    }
};

TEST_F(AppctlFiles, RightsLinesChangeOneSubjectOnly) {
    data_.put("APUSRAUTH.acme.DAT", "ann:WRN\r\nmanagement:WW\r\nbob:R");
    EXPECT_EQ(rights_get("acme", "management"), "WW");
    EXPECT_EQ(rights_get("acme", "nobody"), "");
    ASSERT_EQ(rights_set("acme", "management", "RN"), 0);
    ASSERT_EQ(rights_set("acme", "carl", "W"), 0);
    EXPECT_EQ(data_.read("APUSRAUTH.acme.DAT"), "ann:WRN\r\nmanagement:RN\r\nbob:R\r\ncarl:W");
    ASSERT_EQ(rights_set("acme", "ann", ""), 0);  // removed: the subject stays with an empty list
    EXPECT_EQ(rights_get("acme", "ann"), "");
    EXPECT_EQ(data_.read("APUSRAUTH.acme.DAT"), "ann:\r\nmanagement:RN\r\nbob:R\r\ncarl:W");
}

TEST_F(AppctlFiles, ListsMergeWithoutDuplicates) {
    data_.put("APCOLIST.DAT", "acme, zeta ,acme");
    EXPECT_EQ(list_read(companies_file()), (Names{"acme", "zeta", "acme"}));
    EXPECT_EQ(merge(list_read(companies_file()), {"postgres", "beta", "zeta", "template1"}, kSkipDatabases),
              (Names{"acme", "zeta", "beta"}));
    EXPECT_TRUE(list_read(users_file()).empty());  // no file yet
}

// ------------------------------------------------------------ users

TEST_F(Appctl, FirstUserCreatesTheGroupsTheSecondDoesNot) {
    rt::sysv_set(rt::sysv::TRACE, 4);  // every statement in the log
    std::string ann = login("ann"), bob = login("bob");
    ASSERT_EQ(new_user(ann, "s3cret pw'"), 0) << str(rt::err_detail_get());
    for (const std::string& g : groups()) EXPECT_EQ(direct("postgres", "SELECT 1 FROM pg_roles WHERE rolname='" + g + "'"), "1") << g;
    EXPECT_EQ(member_of(ann), "management");
    EXPECT_EQ(login_works(ann, "s3cret pw'"), "");
    EXPECT_EQ(list_read(users_file()), Names{ann});

    size_t before = log_text().size();
    ASSERT_EQ(new_user(bob, "other"), 0);
    std::string second = log_text().substr(before);
    EXPECT_EQ(second.find("CREATE ROLE \"management\""), std::string::npos) << second;
    EXPECT_NE(second.find("CREATE ROLE \"" + bob + "\""), std::string::npos) << second;
    EXPECT_EQ(list_read(users_file()), (Names{ann, bob}));
    // Neither password reaches the log.
    std::string all = log_text();
    EXPECT_EQ(all.find("s3cret"), std::string::npos);
    EXPECT_EQ(all.find("other"), std::string::npos);
}

TEST_F(Appctl, NewUserAsksAgainUntilThePasswordsMatch) {
    std::string ann = login("ann");
    script_.answers.push_back({ann, "one", "two"});
    script_.answers.push_back({"", "x", "x"});
    script_.answers.push_back({ann, "same", "same"});
    ASSERT_EQ(user_new(), 0);
    EXPECT_EQ(script_.shown, (std::vector<std::string>{"Passwords do not match", "Passwords do not match"}));
    EXPECT_EQ(login_works(ann, "same"), "");
    // A cancelled window creates nothing.
    script_.answers.push_back({});
    EXPECT_EQ(user_new(), rt::ier::UserCanceled);
    EXPECT_EQ(list_read(users_file()), Names{ann});
}

TEST_F(Appctl, GroupChangesKeepThePassword) {
    std::string ann = login("ann");
    ASSERT_EQ(new_user(ann, "pw1"), 0);
    // Details: login, password, retype, group, then the 9 text lines and Remove.
    Names v = {ann, "", "", "admins", "Ann Smith", "1 Main St", "", "555", "ann@example.com", "", "", "", "", "0"};
    script_.answers.push_back(v);
    bool removed = true;
    ASSERT_EQ(user_details(ann, &removed), 0) << str(rt::err_detail_get());
    EXPECT_FALSE(removed);
    EXPECT_EQ(member_of(ann), "admins");
    EXPECT_EQ(login_works(ann, "pw1"), "");
    Names stored = lines_read(user_details_file(ann));
    ASSERT_GE(stored.size(), 5u);
    EXPECT_EQ(stored[3], "admins");
    EXPECT_EQ(stored[4], "Ann Smith");

    // The window shows the stored lines, never a password, and the login
    // cannot be changed.
    script_.answers.push_back({});
    user_details(ann, &removed);
    const std::string& f = script_.asked.back().fields;
    EXPECT_NE(f.find("'Group [users]:':'A20'::'admins'"), std::string::npos) << f;
    EXPECT_NE(f.find("'Name:':'A80'::'Ann Smith'"), std::string::npos) << f;
    EXPECT_NE(f.find("NOEDIT$=\"_SCRF1$\""), std::string::npos) << f;
    EXPECT_NE(f.find("'Password:':'P30'::''"), std::string::npos) << f;

    // A group that does not exist moves nothing.
    v[3] = "admns";
    script_.answers.push_back(v);
    EXPECT_EQ(user_details(ann, &removed), rt::ier::BADINPUTDATA);
    EXPECT_EQ(member_of(ann), "admins");

    // A new password, typed twice, works at once; the file keeps none.
    v[3] = "admins", v[1] = v[2] = "pw2";
    script_.answers.push_back(v);
    ASSERT_EQ(user_details(ann, &removed), 0);
    EXPECT_EQ(login_works(ann, "pw2"), "");
    stored = lines_read(user_details_file(ann));
    EXPECT_EQ(stored[1], "");
    EXPECT_EQ(stored[2], "");
}

TEST_F(Appctl, RemovingAUserDropsTheRoleFirst) {
    std::string ann = login("ann"), bob = login("bob");
    ASSERT_EQ(new_user(ann, "a"), 0);
    ASSERT_EQ(new_user(bob, "b"), 0);
    Names v(14);
    v[0] = bob, v[13] = "1";
    script_.answers.push_back(v);
    bool removed = false;
    ASSERT_EQ(user_details(bob, &removed), 0) << str(rt::err_detail_get());
    EXPECT_TRUE(removed);
    EXPECT_EQ(direct("postgres", "SELECT count(*) FROM pg_roles WHERE rolname='" + bob + "'"), "0");
    EXPECT_EQ(list_read(users_file()), Names{ann});

    // A role the server refuses to drop (it owns a database) leaves the files.
    std::string db = database("owned");
    ASSERT_EQ(direct("postgres", "CREATE DATABASE \"" + db + "\" OWNER \"" + ann + "\""), "");
    v[0] = ann;
    script_.answers.push_back(v);
    EXPECT_EQ(user_details(ann, &removed), rt::ier::SQLERROR);
    EXPECT_FALSE(removed);
    EXPECT_EQ(list_read(users_file()), Names{ann});
}

// ------------------------------------------------------------ companies

TEST_F(Appctl, CompanyFromTheDictionary) {
    std::string ann = login("ann");
    ASSERT_EQ(new_user(ann, "a"), 0);
    std::string db = database("acme");
    ASSERT_EQ(new_company(db), 0) << str(rt::err_detail_get());
    EXPECT_EQ(list_read(companies_file()), Names{db});

    // The tables of TS, not those of the runtime's own QV dictionary.
    EXPECT_EQ(direct(db, "SELECT string_agg(tablename, ',' ORDER BY tablename) FROM pg_tables WHERE schemaname='public'"),
              "clients,lines,moves");
    EXPECT_EQ(direct(db, "SELECT string_agg(DISTINCT tableowner, ',') FROM pg_tables WHERE schemaname='public'"), ann);
    EXPECT_EQ(direct(db, "SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid='clients'::regclass "
                         "AND attname='BALANCE'"),
              "numeric(12,2)");
    EXPECT_EQ(direct(db, "SELECT format_type(atttypid, atttypmod) FROM pg_attribute WHERE attrelid='clients'::regclass "
                         "AND attname='CODE'"),
              "character(10)");
    // The first index is unique, except with a line number or a date in it.
    EXPECT_EQ(direct(db, "SELECT string_agg(indexname || ':' || (indexdef LIKE 'CREATE UNIQUE%')::text, ',' "
                         "ORDER BY indexname) FROM pg_indexes WHERE schemaname='public'"),
              "clients_ndx1:true,lines_ndx1:false,moves_ndx1:false");
    for (std::string t : {"clients", "lines", "moves"}) {
        EXPECT_EQ(right(db, "management", t), "W") << t;
        EXPECT_EQ(right(db, "admins", t), "W") << t;
        EXPECT_EQ(right(db, "trusts", t), "R") << t;
        EXPECT_EQ(right(db, "externs", t), "R") << t;
    }
    // The script's first statement failed; the second was sent on its own.
    EXPECT_EQ(direct(db, "SELECT \"NAME\" FROM clients"), "First                         ");
    EXPECT_EQ(direct(db, "SELECT current_setting('server_encoding')"), "WIN1252");
    std::string log = log_text();
    EXPECT_NE(log.find("CREATE TABLE \"clients\""), std::string::npos) << log;
    EXPECT_NE(log.find("------- "), std::string::npos) << log;
    ASSERT_FALSE(script_.shown.empty());
    EXPECT_NE(script_.shown[0].find("SQLERROR(SQLEXEC): relation \"nowhere\" does not exist"), std::string::npos)
        << script_.shown[0];
    EXPECT_EQ(log.find("comments between"), std::string::npos) << log;

    // Again: the database work finds everything there, and the company is
    // reported as existing.
    script_.shown.clear();
    script_.yes = false;  // no log viewer
    EXPECT_EQ(new_company(db), 0);
    bool reported = false;
    for (const std::string& s : script_.shown) reported = reported || s == db + ":Data Already exist";
    EXPECT_TRUE(reported) << testing::PrintToString(script_.shown);
    EXPECT_EQ(list_read(companies_file()), Names{db});
}

TEST_F(Appctl, WithoutADictionaryTheStructureComesFromADatabase) {
    for (const char* f : {"TSDICC.DAT", "TSREL.DAT", "TSDICC.SQL", "QVDICC.DAT"}) fs::remove(fs::path(docs_) / f);
    std::string from = database("from"), db = database("copy");
    ASSERT_EQ(direct("postgres", "CREATE DATABASE \"" + from + "\""), "");
    ASSERT_EQ(direct(from, "CREATE TABLE items (\"CODE\" character(6), \"PRICE\" numeric(10,2))"), "");
    EXPECT_EQ(company_new_from(db, from), 0) << str(rt::err_detail_get());
    EXPECT_EQ(direct(db, "SELECT string_agg(attname || ' ' || format_type(atttypid, atttypmod), ',' ORDER BY attnum) "
                         "FROM pg_attribute WHERE attrelid='items'::regclass AND attnum > 0"),
              "CODE character(6),PRICE numeric(10,2)");
    EXPECT_EQ(script_.asked[1].caption, "Copy Structure from this Database");
}

TEST_F(Appctl, CompanyNeedsEveryValue) {
    script_.answers.push_back({host_, database("x"), super_, ""});
    EXPECT_EQ(company_new(), rt::ier::BADINPUTDATA);
    script_.answers.push_back({host_, "a/b", super_, "pw"});
    EXPECT_EQ(company_new(), rt::ier::BADINPUTDATA);
    EXPECT_TRUE(list_read(companies_file()).empty());
}

TEST_F(Appctl, PermissionsBecomeGrants) {
    std::string ann = login("ann"), bob = login("bob");
    ASSERT_EQ(new_user(ann, "a"), 0);
    ASSERT_EQ(new_user(bob, "b"), 0);
    std::string db = database("perm");
    ASSERT_EQ(new_company(db), 0) << str(rt::err_detail_get());

    script_.shown.clear();
    // Tables in name order: clients, lines, moves. A wrong letter shows the
    // table and asks again; lower case counts.
    script_.answers.push_back({"w", "X", "n", "0"});
    script_.answers.push_back({"w", "r", "N", "0"});
    ASSERT_EQ(permissions(db, bob), 0) << str(rt::err_detail_get());
    EXPECT_EQ(script_.shown, std::vector<std::string>{"lines"});
    EXPECT_EQ(script_.asked.back().caption, "Users Permission - " + bob + " - " + db);
    EXPECT_NE(script_.asked.back().fields.find("'clients(N/R/W):':'A1'::'W'"), std::string::npos);
    // bob is in management too: test his own grants, not what he inherits.
    EXPECT_EQ(direct(db, "SELECT string_agg(table_name || ':' || privilege_type, ',' ORDER BY table_name, "
                         "privilege_type) FROM information_schema.role_table_grants WHERE grantee='" + bob + "'"),
              "clients:DELETE,clients:INSERT,clients:SELECT,clients:UPDATE,lines:SELECT");
    EXPECT_EQ(rights_get(db, bob), "WRN");

    // A group: trusts get write on moves only.
    script_.answers.push_back({"R", "R", "W", "0"});
    ASSERT_EQ(permissions(db, "trusts"), 0);
    EXPECT_EQ(right(db, "trusts", "moves"), "W");
    EXPECT_EQ(right(db, "trusts", "clients"), "R");

    // Names that would leave the data folder or break the rights file are refused.
    for (auto [d, who] : {std::pair<std::string, std::string>{"../x", bob}, {db, "a:b"}, {db, "a/b"}})
        EXPECT_EQ(permissions(d, who), rt::ier::BADINPUTDATA) << d << " " << who;

    // Remove: the subject's line stays empty and every right goes.
    script_.answers.push_back({"W", "R", "N", "1"});
    ASSERT_EQ(permissions(db, bob), 0);
    EXPECT_EQ(direct(db, "SELECT count(*) FROM information_schema.role_table_grants WHERE grantee='" + bob + "'"), "0");
    EXPECT_EQ(rights_get(db, bob), "");
}

TEST_F(Appctl, AFailedAdministratorLoginIsShownAndAskedAgain) {
    admin_login() = AdminLogin{};
    script_.answers.push_back({"/nonexistent/socket", super_, ""});
    script_.answers.push_back({host_, super_, ""});
    ASSERT_EQ(admin_connect({}), 0);
    admin_disconnect();
    ASSERT_EQ(script_.shown.size(), 1u);
    EXPECT_NE(script_.shown[0].find("SQLERROR"), std::string::npos) << script_.shown[0];
    // The second dialog offers what was typed; the working host is kept.
    ASSERT_EQ(script_.asked.size(), 2u);
    EXPECT_NE(script_.asked[1].fields.find("'/nonexistent/socket'"), std::string::npos) << script_.asked[1].fields;
    EXPECT_EQ(lines_read(work_.path + "/sqladmprm.dat"), Names{host_});
    EXPECT_TRUE(admin_login().set);
    // Leaving the dialog gives 122 and no login.
    admin_login() = AdminLogin{};
    script_.answers.push_back({});
    EXPECT_EQ(admin_connect({}), rt::ier::UserCanceled);
    EXPECT_FALSE(admin_login().set);
}

TEST_F(Appctl, MainLoopNeedsAUserFirst) {
    script_.choices = {"Company Selection", "Company Details", ""};
    EXPECT_EQ(main_loop(), 0);
    EXPECT_EQ(script_.shown, (std::vector<std::string>{"Please, Create at least one user first (Administrator)",
                                                       "Please, Create at least one user first (Administrator)"}));
    EXPECT_EQ(script_.asked.front().caption, "Aplication Control - No Selection");
    EXPECT_EQ(script_.asked.front().fields, "Users,Company Selection,Company Details,Company Groups,Company Users");
}

}  // namespace
}  // namespace ap
