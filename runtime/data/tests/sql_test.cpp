// The SQL connection layer against the private cluster (scripts/pgcluster.sh
// exports PGHOST, PGPORT and PGUSER). Each test has a database of its own.
// Without the cluster the live tests are skipped; the quoting and text
// rules run everywhere.
#include "runtime/data/sql.h"

#include <libpq-fe.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/proc.h"
#include "runtime/core/env.h"
#include "runtime/core/hooks.h"
#include "runtime/core/log.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/script/child.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;
namespace fs = std::filesystem;

std::string env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string detail() { return str(err_detail_get()); }

// ------------------------------------------------------------ no server

class SqlText : public test::RtTest {};

TEST_F(SqlText, LiteralsEndWhereTheyShould) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"abc", "'abc'"},
        {"", "''"},
        {"a'b", "E'a\\x27b'"},
        {"a\"b", "E'a\\x22b'"},
        {"a\\", "E'a\\\\'"},
        {"x'\\", "E'x\\x27\\\\'"},
    };
    for (const Case& c : cases) EXPECT_EQ(str(sql_quote(sr(c.in))), c.out) << c.in;
}

TEST_F(SqlText, NamesAreQuoted) {
    EXPECT_EQ(str(sql_quote_name(sr("clients"))), "\"clients\"");
    EXPECT_EQ(str(sql_quote_name(sr("a\"b"))), "\"a\"\"b\"");
}

TEST_F(SqlText, ServerMessagesAreTidied) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"ERROR: relation does not exist.\n", "ERROR: relation does not exist"},
        {"connection refused 5432 \r\n", "connection refused"},
        {"syntax error at or near \"SELEC\"\n", "syntax error at or near \"SELEC\""},
        {"la tabla \xC2\xAB" "clientes\xC2\xBB no existe", "la tabla \"clientes\" no existe"},
        {"conexi\xC3\xB3n del a\xC3\xB1o", "conexi\xF3n del a\xF1o"},
        // Already Windows-1252 (as the server sends it): left as it is.
        {"conexi\xF3n", "conexi\xF3n"},
    };
    for (const Case& c : cases) EXPECT_EQ(str(sql_error_text(sr(c.in))), c.out) << c.in;
}

TEST_F(SqlText, PasswordsAreMasked) {
    for (std::string s : {"ALTER ROLE u WITH PASSWORD 'secret'", "create role u login password E'se\\x27cret'",
                          "CREATE ROLE u PASSWORD 'secret' IN ROLE g"}) {
        std::string m = str(sql_mask(sr(s)));
        EXPECT_EQ(m.find("secret"), std::string::npos) << m;
        EXPECT_EQ(m.find("cret"), std::string::npos) << m;
    }
    EXPECT_EQ(str(sql_mask(sr("SELECT 1"))), "SELECT 1");
}

TEST_F(SqlText, ConnectionTextsKeepTheirValues) {
    EXPECT_EQ(str(sql_conn_text(sr("h"), sr("d"), sr("u"), sr("p"))), "h,d,u,p");
    EXPECT_EQ(str(sql_conn_text(sr("h"), sr("d"), sr(""), sr("p,w'x"), 1)), "h,d,,\"p,w'x\",1");
    EXPECT_EQ(sr_status(sql_conn_text(sr("h"), sr("d"), sr("u"), sr("'\""))), ier::BADINPUTDATA)
        << "a value with both quotes cannot be handed on";
}

TEST_F(SqlText, NoConnectionNoStatement) {
    EXPECT_EQ(sql_exec(sr("SELECT 1")), ier::SQLERROR);
    EXPECT_EQ(sql_connect(sr(""), sr("db"), sr("u"), sr(""), 0), ier::BADINPUTDATA) << "empty host";
    EXPECT_EQ(sql_slot(0).conn, nullptr);
}

// ------------------------------------------------------------ live

// A statement on a connection of the test's own, beside the layer: the
// first value of the result, or "ERROR: ..." when it failed.
std::string direct(const std::string& db, const std::string& user, const std::string& password,
                   const std::string& host, const std::string& sql) {
    const char* keys[] = {"host", "dbname", "user", "password", "client_encoding", nullptr};
    const char* vals[] = {host.c_str(), db.c_str(), user.c_str(), password.c_str(), "WIN1252", nullptr};
    PGconn* c = PQconnectdbParams(keys, vals, 0);
    std::string out;
    if (PQstatus(c) != CONNECTION_OK) {
        out = std::string("ERROR: ") + PQerrorMessage(c);
    } else {
        PGresult* r = PQexec(c, sql.c_str());
        ExecStatusType s = PQresultStatus(r);
        if (s == PGRES_TUPLES_OK && PQntuples(r) > 0) out.assign(PQgetvalue(r, 0, 0), size_t(PQgetlength(r, 0, 0)));
        else if (s != PGRES_TUPLES_OK && s != PGRES_COMMAND_OK) out = std::string("ERROR: ") + PQresultErrorMessage(r);
        PQclear(r);
    }
    PQfinish(c);
    return out;
}

std::string literal(const std::string& v) {
    PGconn* c = PQconnectStart("");
    char* e = c ? PQescapeLiteral(c, v.data(), v.size()) : nullptr;
    std::string out = e ? e : "''";
    if (e) PQfreemem(e);
    if (c) PQfinish(c);
    return out;
}

class PgTest : public test::RtTest {
protected:
    std::string host_, user_, db_;
    std::vector<std::string> roles_;
    test::TempDir dir_;

    void SetUp() override {
        host_ = env_or_empty("PGHOST");
        user_ = env_or_empty("PGUSER");
        if (host_.empty() || user_.empty() || env_or_empty("PGPORT").empty())
            GTEST_SKIP() << "no private cluster: eval \"$(scripts/pgcluster.sh start)\"";
        RtTest::SetUp();
        static std::atomic<int> seq{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        db_ = "qvt_" + std::to_string(::getpid()) + "_" + std::to_string(seq++) + "_" + info->name();
        for (char& ch : db_) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        db_ = db_.substr(0, 60);
        ASSERT_EQ(admin("CREATE DATABASE \"" + db_ +
                        "\" ENCODING 'WIN1252' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0"),
                  "");
        ASSERT_EQ(env_set(env::DocPath, dir_.path), 0);
        dict_clear();
    }

    void TearDown() override {
        if (db_.empty()) return;  // skipped
        sql_disconnect_all();
        dict_clear();
        admin("DROP DATABASE IF EXISTS \"" + db_ + "\" WITH (FORCE)");
        for (const std::string& r : roles_) admin("DROP ROLE IF EXISTS \"" + r + "\"");
        RtTest::TearDown();
    }

    std::string admin(const std::string& sql, const std::string& db = "postgres") {
        return direct(db, user_, "", host_, sql);
    }
    // In the test's database, as the superuser.
    std::string in_db(const std::string& sql) { return admin(sql, db_); }

    // A login role of this test with a password.
    std::string role(const std::string& password) {
        std::string name = "qvr_" + std::to_string(::getpid()) + "_" + std::to_string(roles_.size()) + "_" +
                           db_.substr(db_.size() > 20 ? db_.size() - 20 : 0);
        roles_.push_back(name);
        EXPECT_EQ(admin("CREATE ROLE \"" + name + "\" LOGIN PASSWORD " + literal(password)), "");
        return name;
    }

    IER connect(int options = 0) { return sql_connect(sr(host_), sr(db_), sr(user_), sr(""), options); }
    IER exec(const std::string& s, long long* rows = nullptr) { return sql_exec(sr(s), kSqlChoose, rows); }
    // First value of a statement's result through the layer.
    std::string value(const std::string& s) {
        if (exec(s) != 0) return "<" + detail() + ">";
        return str(sql_value(0, 0, sql_current()));
    }
    std::string file(const std::string& name) { return dir_.path + "/" + name; }
};

struct SlotSnapshot {
    SqlSlot slot[kSqlSlots];
    int16_t stk;
    bool operator==(const SlotSnapshot& o) const {
        for (int i = 0; i < kSqlSlots; i++)
            if (slot[i].conn != o.slot[i].conn || slot[i].res != o.slot[i].res) return false;
        return stk == o.stk;
    }
};
SlotSnapshot snapshot() {
    SlotSnapshot s;
    for (int i = 0; i < kSqlSlots; i++) s.slot[i] = sql_slot(i);
    s.stk = sysv_get(sysv::SQLSTK);
    return s;
}

TEST_F(PgTest, GuestConnectsAndIsRemembered) {
    // The guest role is shared by every run on the cluster.
    EXPECT_EQ(admin("DO $$BEGIN CREATE ROLE guest LOGIN PASSWORD 'pw'; "
                    "EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END$$"),
              "");
    EXPECT_EQ(admin("ALTER ROLE guest LOGIN PASSWORD 'pw'"), "");
    std::string text = "localhost," + db_ + ",,pw,1";
    ASSERT_EQ(sql_connect_text(sr(text), sqlopt::KindUser), 0) << detail();
    EXPECT_EQ(value("SELECT current_user"), "guest");
    EXPECT_EQ(value("SELECT current_database()"), db_);
    EXPECT_EQ(value("SHOW client_encoding"), "WIN1252");
    EXPECT_TRUE(sysv_get(sysv::AUXSTAT) & kAuxConnected);
    EXPECT_EQ(dir_.read("sqlusrprm.dat"), text);
    struct stat st;
    ASSERT_EQ(::stat(file("sqlusrprm.dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 077, 0u) << "the file holds a password";
}

TEST_F(PgTest, AFailedConnectionIsNotRememberedNorShown) {
    std::string name = role("right one");
    sysv_set(sysv::TRACE, 7);
    log_set_file(sr(file("sql.log")));
    std::string text = "localhost," + db_ + "," + name + ",wrong-secret,1";
    EXPECT_EQ(sql_connect_text(sr(text), sqlopt::KindUser), ier::SQLERROR);
    EXPECT_NE(detail().find("password authentication failed"), std::string::npos) << detail();
    EXPECT_EQ(detail().find("wrong-secret"), std::string::npos);
    EXPECT_FALSE(dir_.exists("sqlusrprm.dat")) << "written only after success";
    EXPECT_EQ(sql_slot(0).conn, nullptr);
    EXPECT_FALSE(sysv_get(sysv::AUXSTAT) & kAuxConnected);
    EXPECT_NE(dir_.read("sql.log").find("user=" + name), std::string::npos) << "the attempt is logged";
    EXPECT_EQ(dir_.read("sql.log").find("secret"), std::string::npos);
}

TEST_F(PgTest, PasswordsWithQuotesAndBlanksInjectNothing) {
    // Each value is a parameter of its own: none can add a parameter or end
    // the connection string.
    std::string pw = "it's a \"pw\" x' dbname='postgres";
    std::string name = role(pw);
    ASSERT_EQ(sql_connect(sr("localhost"), sr(db_), sr(name), sr(pw), 0), 0) << detail();
    EXPECT_EQ(value("SELECT current_database()"), db_);
    sql_disconnect_all();

    std::string pw2 = " a, b's ";
    std::string name2 = role(pw2);
    StrRef text = sql_conn_text(sr("localhost"), sr(db_), sr(name2), sr(pw2));
    ASSERT_TRUE(sr_ok(text));
    ASSERT_EQ(sql_connect_text(text, sqlopt::KindNone), 0) << detail();
    EXPECT_EQ(value("SELECT current_user"), name2);
}

TEST_F(PgTest, ParameterFiles) {
    std::string name = role("p w");
    dir_.put("sqlparams.dat", "sqlhost=localhost\r\ndatabase=" + db_ + "\r\nuser=" + name + "\r\npassw='p w'\r\n");
    ASSERT_EQ(sql_connect_text(sr(""), 0), 0) << detail();
    EXPECT_EQ(value("SELECT current_user"), name);
    sql_disconnect_all();

    dir_.put("other.dat", "sqlhost='" + host_ + "'\r\ndatabase=" + db_ + "\r\nuser=" + user_ + "\r\n");
    ASSERT_EQ(sql_connect_text(sr("other.dat"), 0), 0) << detail();
    EXPECT_EQ(value("SELECT current_database()"), db_);
    sql_disconnect_all();

    EXPECT_EQ(sql_connect_text(sr("missing.dat"), 0), ier::SQLERROR);
    EXPECT_NE(detail().find("missing.dat"), std::string::npos);

    // The command line's named options come before any file.
    env_set(env::CommandLine, "prog /sqlhost=localhost /database=" + db_ + " /user=" + name + " /passw='p w'");
    fs::remove(file("sqlparams.dat"));
    ASSERT_EQ(sql_connect_text(sr(""), 0), 0) << detail();
    EXPECT_EQ(value("SELECT current_user"), name);
}

TEST_F(PgTest, Statuses) {
    ASSERT_EQ(connect(), 0) << detail();
    ASSERT_EQ(exec("CREATE TABLE t (id integer PRIMARY KEY, v text); INSERT INTO t VALUES (1, 'a'), (2, 'b')"), 0);
    ASSERT_EQ(exec("CREATE TYPE mood AS ENUM ('ok')"), 0);
    struct Case {
        std::string sql;
        IER st;
        long long rows;
        std::string in_detail;
    } cases[] = {
        {"UPDATE t SET v = 'c'", 0, 2, ""},
        {"SELECT id FROM t", 0, 2, ""},
        {"SELECT id FROM t WHERE id = 9", ier::EndOfFile, 0, ""},
        {"INSERT INTO t VALUES (1, 'again')", ier::DataAlreadyExist, 0, "duplicate key"},
        {"CREATE TYPE mood AS ENUM ('ok')", ier::DataAlreadyExist, 0, "already exists"},
        {"SELEC id FROM t", ier::SQLERROR, 0, "syntax error"},
        {"SELECT nothing FROM t", ier::SQLERROR, 0, "SELECT nothing FROM t"},
        {"", ier::BADINPUTDATA, 0, ""},
    };
    for (const Case& c : cases) {
        err_detail_clear();
        long long rows = -1;
        EXPECT_EQ(sql_exec(sr(c.sql), kSqlChoose, &rows), c.st) << c.sql;
        EXPECT_EQ(rows, c.rows) << c.sql;
        if (!c.in_detail.empty()) {
            EXPECT_NE(detail().find(c.in_detail), std::string::npos) << detail();
        }
    }
    err_detail_clear();
    EXPECT_EQ(exec("SELEC 1"), ier::SQLERROR);
    EXPECT_NE(detail().find("syntax error at or near \"SELEC\""), std::string::npos) << "the server's message";
    EXPECT_NE(detail().find("SELEC 1"), std::string::npos) << "and the statement";
    EXPECT_EQ(value("SELECT 1"), "1") << "the connection goes on after a failure";
}

TEST_F(PgTest, ResultSlots) {
    ASSERT_EQ(connect(), 0) << detail();
    ASSERT_EQ(exec("CREATE TABLE t AS SELECT g AS n FROM generate_series(1, 5) g"), 0);

    ASSERT_EQ(exec("SELECT n FROM t ORDER BY n"), 0);
    int first = sql_current();
    EXPECT_NE(first, 0) << "many rows take a slot of their own";
    SlotSnapshot held = snapshot();
    EXPECT_EQ(exec("SELECT n FROM t WHERE n > 99"), ier::EndOfFile);
    EXPECT_TRUE(snapshot() == held) << "a query without rows leaves the slots as they were";

    ASSERT_EQ(exec("SELECT n * 10 FROM t ORDER BY n"), 0);
    int second = sql_current();
    EXPECT_NE(second, first);
    EXPECT_EQ(sql_slot(second).conn, sql_slot(0).conn) << "the connection is shared";
    EXPECT_EQ(sql_rows(first), 5);
    EXPECT_EQ(str(sql_value(4, 0, first)), "5") << "the first result stays readable";
    EXPECT_EQ(str(sql_value(4, 0, second)), "50");

    ASSERT_EQ(exec("SELECT 7 AS seven"), 0);
    EXPECT_EQ(sql_current(), 0) << "one row goes to the connection's base slot";
    EXPECT_EQ(sql_column(sr("seven")), 0);
    EXPECT_EQ(sql_column(sr("eight")), -1);
    EXPECT_EQ(str(sql_value(0, 0, first)), "1");

    // The count query puts everything back.
    SlotSnapshot before = snapshot();
    EXPECT_EQ(sql_count(sr("SELECT count(*) FROM t")), 5);
    EXPECT_EQ(sql_count(sr("SELECT broken")), 0);
    EXPECT_TRUE(snapshot() == before);

    // Slots 1 to 7 fill up; the next result finds none.
    sql_release(first);
    sql_release(second);
    int taken = 0;
    IER st = 0;
    while ((st = exec("SELECT n FROM t")) == 0 && taken < 10) taken++;
    EXPECT_EQ(st, ier::DATAOUTBOUND);
    EXPECT_EQ(taken, kSqlSlots - 1);
    sql_release(3);
    EXPECT_EQ(exec("SELECT n FROM t"), 0);
    EXPECT_EQ(sql_current(), 3);
    EXPECT_EQ(sql_exec(sr("SELECT n FROM t"), 8), ier::DATAOUTBOUND);
}

TEST_F(PgTest, ASlotNumberOutOfRangeIsRefused) {
    ASSERT_EQ(connect(), 0) << detail();
    for (int16_t bad : {8, 99, -1}) {
        sysv_set(sysv::SQLSTK, bad);
        err_detail_clear();
        EXPECT_EQ(exec("SELECT 1"), ier::DATAOUTBOUND) << bad;
        EXPECT_EQ(detail(), "sqlControlFailure");
        EXPECT_EQ(sql_disconnect(), ier::DATAOUTBOUND);
    }
    sysv_set(sysv::SQLSTK, 0);
    EXPECT_EQ(value("SELECT 1"), "1") << "the process and the connection go on";
}

TEST_F(PgTest, DisconnectClearsEverySlotOfTheConnection) {
    ASSERT_EQ(connect(), 0) << detail();
    ASSERT_EQ(exec("SELECT generate_series(1, 3)"), 0);
    ASSERT_EQ(exec("SELECT generate_series(1, 4)"), 0);
    pg_conn* a = sql_slot(0).conn;
    sysv_set(sysv::SQLSTK, 0);
    ASSERT_EQ(connect(), 0) << "a second connection takes a slot without one";
    int b_slot = sql_current();
    pg_conn* b = sql_slot(b_slot).conn;
    EXPECT_NE(b, a);
    ASSERT_EQ(b_slot, 3);

    sysv_set(sysv::SQLSTK, 1);
    EXPECT_EQ(sql_disconnect(), 0);
    for (int i = 0; i < kSqlSlots; i++) {
        EXPECT_NE(sql_slot(i).conn, a) << i;
        if (i != b_slot) {
            EXPECT_EQ(sql_slot(i).res, nullptr) << i;
        }
    }
    EXPECT_EQ(sysv_get(sysv::SQLSTK), 0);
    EXPECT_TRUE(sysv_get(sysv::AUXSTAT) & kAuxConnected) << "the second is still there";

    sysv_set(sysv::SQLSTK, static_cast<int16_t>(b_slot));
    EXPECT_EQ(value("SELECT 2"), "2");
    EXPECT_EQ(sql_disconnect(), 0);
    EXPECT_EQ(sysv_get(sysv::SQLSTK), 0);
    EXPECT_FALSE(sysv_get(sysv::AUXSTAT) & kAuxConnected);
    EXPECT_EQ(exec("SELECT 1"), ier::SQLERROR);
}

TEST_F(PgTest, HostileValuesRoundTrip) {
    ASSERT_EQ(connect(), 0) << detail();
    ASSERT_EQ(exec("CREATE TABLE h (id integer, v text); CREATE TABLE victim (x integer)"), 0);
    std::string every;
    for (int b = 1; b <= 255; b++) every += static_cast<char>(b);
    std::vector<std::string> values = {"a\"\\",     "x'\\",  " OR 1=1 --", "O'Brien", every,
                                       "\\x27",     "E'",    "\\'",        "'; DROP TABLE victim; --",
                                       "\\\\\\",    "\"\"",  "$$",         ""};
    // Two values side by side in one statement: a literal that ended early
    // would make the next one SQL.
    for (size_t i = 0; i + 1 < values.size(); i++) {
        ScratchMark m = scr_mark();
        std::string sql = "INSERT INTO h VALUES (" + std::to_string(2 * i) + ", " + str(sql_quote(sr(values[i]))) +
                          "), (" + std::to_string(2 * i + 1) + ", " + str(sql_quote(sr(values[i + 1]))) + ")";
        scr_release(m);
        ASSERT_EQ(exec(sql), 0) << sql << "\n" << detail();
    }
    EXPECT_EQ(in_db("SELECT count(*) FROM victim"), "0") << "the victim table is still there";
    for (size_t i = 0; i + 1 < values.size(); i++) {
        for (size_t k : {i, i + 1}) {
            std::string id = std::to_string(k == i ? 2 * i : 2 * i + 1);
            EXPECT_EQ(value("SELECT v FROM h WHERE id = " + id), values[k]) << k;
            EXPECT_EQ(in_db("SELECT v FROM h WHERE id = " + id), values[k]) << "read beside the layer";
        }
        ScratchMark m = scr_mark();
        std::string where = "SELECT count(*) FROM h WHERE v = " + str(sql_quote(sr(values[i])));
        scr_release(m);
        long long expect = i == 0 ? 1 : 2;
        EXPECT_EQ(sql_count(sr(where)), expect) << "a value in a condition selects only itself: " << values[i];
    }
}

// The progress display of hook slot 23.
std::vector<int> g_phases;
int g_cancel_after = -1;  // phase-2 calls before the answer is 122; -1 never
IER progress(int phase) {
    g_phases.push_back(phase);
    if (phase == 2 && g_cancel_after >= 0 && g_cancel_after-- == 0) return ier::UserCanceled;
    return 0;
}

TEST_F(PgTest, AsynchronousStatementsAndCancel) {
    ASSERT_EQ(connect(), 0) << detail();
    g_phases.clear();
    g_cancel_after = -1;
    hk_register_as(progress, hook::SqlProgress);
    EXPECT_EQ(value("SELECT 40 + 2"), "42");
    ASSERT_GE(g_phases.size(), 3u);
    EXPECT_EQ(g_phases.front(), 0);
    EXPECT_EQ(g_phases[1], 2);
    EXPECT_EQ(g_phases.back(), 1);

    ASSERT_EQ(exec("CREATE TABLE t (n integer)"), 0);
    g_phases.clear();
    g_cancel_after = 2;
    EXPECT_EQ(exec("INSERT INTO t SELECT 1 FROM pg_sleep(60)"), ier::UserCanceled);
    EXPECT_EQ(std::count(g_phases.begin(), g_phases.end(), 1), 0) << "no end phase after a cancel";
    EXPECT_EQ(value("SELECT 'next'"), "next") << "the next statement works";
    EXPECT_EQ(value("SELECT count(*) FROM t"), "0") << "the cancelled statement did nothing";

    hk_register(nullptr, hook::SqlProgress);
    EXPECT_EQ(value("SELECT 'plain'"), "plain");
}

TEST_F(PgTest, StatementLog) {
    ASSERT_EQ(connect(), 0) << detail();
    log_set_file(sr(file("sql.log")));
    struct Case {
        int16_t trace;
        bool ok_logged, failed_logged;
    } cases[] = {{1, false, false}, {3, false, true}, {5, true, true}};
    for (const Case& c : cases) {
        sysv_set(sysv::TRACE, c.trace);
        std::string ok = "SELECT 'ok" + std::to_string(c.trace) + "'";
        std::string bad = "SELECT bad" + std::to_string(c.trace) + " FROM nowhere";
        exec(ok);
        exec(bad);
        std::string log = dir_.read("sql.log");
        EXPECT_EQ(log.find(ok) != std::string::npos, c.ok_logged) << c.trace;
        EXPECT_EQ(log.find(bad) != std::string::npos, c.failed_logged) << c.trace;
    }
    std::string name = role("first");
    sysv_set(sysv::TRACE, 7);
    err_detail_clear();
    EXPECT_EQ(exec("ALTER ROLE \"" + name + "\" PASSWORD 'sekrit-one'"), 0);
    EXPECT_EQ(exec("CREATE ROLE \"" + name + "\" LOGIN PASSWORD 'sekrit-two'"), ier::DataAlreadyExist);
    EXPECT_EQ(detail().find("sekrit"), std::string::npos) << detail();
    EXPECT_EQ(exec("ALTER ROLE \"" + name + "\" PASSWORD 'sekrit-three' SYNTAX \"sekrit-four\""), ier::SQLERROR);
    EXPECT_EQ(detail().find("sekrit"), std::string::npos) << detail();
    std::string log = dir_.read("sql.log");
    EXPECT_NE(log.find("ALTER ROLE"), std::string::npos);
    EXPECT_EQ(log.find("sekrit"), std::string::npos) << log;
}

TEST_F(PgTest, CatalogueBuildsFileStructures) {
    ASSERT_EQ(in_db("CREATE TABLE clients (id integer PRIMARY KEY, gone integer, name character(20), "
                    "amount numeric(12,2), fecha character(8), qty smallint, born date, note varchar(30));"
                    "ALTER TABLE clients DROP COLUMN gone;"
                    "CREATE INDEX clients_name ON clients (name, id);"
                    "CREATE TABLE \"o'q\" (x numeric(5));"
                    "CREATE SCHEMA other; CREATE TABLE other.clients (z text PRIMARY KEY, y integer);"
                    "CREATE INDEX other_y ON other.clients (y);"),
              "");
    ASSERT_EQ(connect(sqlopt::Tables | sqlopt::Columns), 0) << detail();
    EXPECT_EQ(str(sql_table_list()), "clients,o'q");
    ASSERT_EQ(dict_count(), 2);
    EXPECT_EQ(str(dict_name(1)), "clients");
    EXPECT_EQ(str(dict_name(2)), "o'q");

    struct Want {
        const char* name;
        int offset, width;
        char type;
    } want[] = {{"id", 0, 10, 'N'},   {"name", 10, 20, 'A'}, {"amount", 30, 10, '2'}, {"fecha", 40, 8, 'D'},
                {"qty", 48, 5, 'N'}, {"born", 53, 8, 'D'},  {"note", 61, 30, 'A'}};
    ASSERT_EQ(dict_fields(1), 7) << "the other schema's columns and the dropped one are not there";
    for (int i = 0; i < 7; i++) {
        FieldInfo f;
        ASSERT_TRUE(dict_field(1, i + 1, &f));
        EXPECT_EQ(str(f.name), want[i].name);
        EXPECT_EQ(f.offset, want[i].offset) << want[i].name;
        EXPECT_EQ(f.width, want[i].width) << want[i].name;
        EXPECT_EQ(f.type, want[i].type) << want[i].name;
    }
    ASSERT_EQ(dict_keys(1), 2);
    KeySegment seg[kKeySegmentsMax];
    ASSERT_EQ(dict_key(1, 1, seg), 1) << "the primary key first";
    EXPECT_EQ(seg[0].offset, 0);
    EXPECT_EQ(seg[0].length, 10);
    ASSERT_EQ(dict_key(1, 2, seg), 2) << "then the index, its columns in its own order";
    EXPECT_EQ(seg[0].offset, 10) << "name, past the dropped column";
    EXPECT_EQ(seg[0].length, 20);
    EXPECT_EQ(seg[1].offset, 0);

    ASSERT_EQ(dict_fields(2), 1);
    FieldInfo x;
    ASSERT_TRUE(dict_field(2, 1, &x));
    EXPECT_EQ(x.width, 5);
    EXPECT_EQ(x.type, 'N');
    EXPECT_EQ(dict_keys(2), 1) << "a table without index gets the default key";

    fnlib_install();
    EXPECT_EQ(ex_int(sr("clients")), 1) << "scripts name the file by its table";
}

// ------------------------------------------------------------ child

std::string g_handover;
unsigned g_handover_mode = 0;
int watch_launch(const ChildLaunch& rq, int* pid) {
    std::string var = std::string(kChildConnectionVar) + "=";
    for (const std::string& e : rq.env) {
        if (e.rfind(var, 0) != 0) continue;
        g_handover = e.substr(var.size());
        struct stat st;
        g_handover_mode = ::stat(g_handover.c_str(), &st) == 0 ? st.st_mode & 0777 : 01000;
    }
    plat::SpawnRequest sp;
    sp.argv = rq.argv;
    sp.env = rq.env;
    return plat::spawn(sp, pid);
}

std::string g_wait_for;
bool eventually(bool (*cond)()) {
    for (int i = 0; i < 1200; i++) {
        if (cond()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

TEST_F(PgTest, AChildConnectsWithTheParentsConnection) {
    // The child is the ledger, run with the connection handed over and a
    // program that writes down the connection it got.
    test::TempDir app;
    app.put("CODICC.DAT", "");
    app.put("COCLCFIX.DAT", "");
    ASSERT_EQ(env_set(env::CommandLine, std::string(QV_LEDGER_EXE) + " /DPATH:" + app.path), 0);
    StrRef text = sql_conn_text(sr(host_), sr(db_), sr(user_), sr(""));
    ASSERT_EQ(env_set(env::Database, text), 0);
    std::string handed = str(env_get(env::Database));
    child_set_executable(QV_LEDGER_EXE);
    child_set_launcher(watch_launch);
    struct Case {
        bool connected;
        std::string out;
    } cases[] = {{true, app.path + "/with.txt"}, {false, app.path + "/without.txt"}};
    for (const Case& c : cases) {
        g_handover.clear();
        if (!c.connected) env_set(env::Database, "");
        std::string run = "ExpEval WRITE('" + c.out + "';-3;'conn='+ENVRON$('x';11))";
        ASSERT_EQ(child_start(sr(run)), 0) << detail();
        g_wait_for = c.out;
        EXPECT_TRUE(eventually([] { return fs::exists(g_wait_for); })) << "the child ran its program";
        if (c.connected) {
            // Still before the parent notices the child has ended (which
            // would remove a file left over): the child itself removed it.
            ASSERT_FALSE(g_handover.empty());
            EXPECT_EQ(g_handover_mode & 077, 0u) << "never readable by other users";
            EXPECT_FALSE(fs::exists(g_handover)) << "the child took the file";
        }
        ASSERT_TRUE(eventually([] { return child_count() == 0; }));
        EXPECT_EQ(app.read(fs::path(c.out).filename()), "conn=" + (c.connected ? handed : std::string()))
            << "a child without a connection starts all the same";
    }
    child_set_launcher(nullptr);
    child_set_executable("");
}

}  // namespace
}  // namespace rt
