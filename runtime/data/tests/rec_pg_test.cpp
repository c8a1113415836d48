// Record operations on real tables of the private cluster: the statements
// sent (as the statement hook of the connection layer sees them) and what
// the tables and record buffers hold afterwards. Skipped without a cluster.
#include <libpq-fe.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/rec.h"
#include "runtime/data/recsql.h"
#include "runtime/data/sql.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/recport.h"
#include "runtime/expr/vars.h"
#include "runtime/script/proc.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;
using Lines = std::vector<std::string>;

std::string env_or_empty(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

Lines g_sent;
void record_statement(StrRef s, IER) { g_sent.push_back(str(s)); }

// A statement on a connection of the test's own; all rows, columns joined
// by '|', rows by '\n'; "ERROR: ..." on failure.
std::string direct(const std::string& db, const std::string& sql) {
    std::string host = env_or_empty("PGHOST"), user = env_or_empty("PGUSER");
    const char* keys[] = {"host", "dbname", "user", "client_encoding", nullptr};
    const char* vals[] = {host.c_str(), db.c_str(), user.c_str(), "WIN1252", nullptr};
    PGconn* c = PQconnectdbParams(keys, vals, 0);
    std::string out;
    if (PQstatus(c) != CONNECTION_OK) {
        out = std::string("ERROR: ") + PQerrorMessage(c);
    } else {
        PGresult* r = PQexec(c, sql.c_str());
        ExecStatusType s = PQresultStatus(r);
        if (s == PGRES_TUPLES_OK) {
            for (int i = 0; i < PQntuples(r); i++) {
                if (i) out += '\n';
                for (int j = 0; j < PQnfields(r); j++) {
                    if (j) out += '|';
                    out += PQgetisnull(r, i, j) ? "<null>" : std::string(PQgetvalue(r, i, j), size_t(PQgetlength(r, i, j)));
                }
            }
        } else if (s != PGRES_COMMAND_OK) {
            out = std::string("ERROR: ") + PQresultErrorMessage(r);
        }
        PQclear(r);
    }
    PQfinish(c);
    return out;
}

struct FieldDef {
    std::string name;
    int width;
    char type;
};

class RecPg : public test::RtTest {
protected:
    std::string db_;
    std::vector<std::string> roles_;

    void SetUp() override {
        if (env_or_empty("PGHOST").empty() || env_or_empty("PGUSER").empty() || env_or_empty("PGPORT").empty())
            GTEST_SKIP() << "no private cluster: eval \"$(scripts/pgcluster.sh start)\"";
        RtTest::SetUp();
        ex_install();
        fnlib_install();
        script_install();
        dict_install();
        dict_clear();
        static std::atomic<int> seq{0};
        db_ = "qvr_" + std::to_string(::getpid()) + "_" + std::to_string(seq++);
        ASSERT_EQ(direct("postgres", "CREATE DATABASE \"" + db_ +
                                         "\" ENCODING 'WIN1252' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0"),
                  "");
        ASSERT_EQ(sql_connect(sr(env_or_empty("PGHOST")), sr(db_), sr(env_or_empty("PGUSER")), sr(""), 0), 0)
            << str(err_detail_get());
        m_ = scr_mark();
        sql_set_statement_hook(record_statement);
    }
    void TearDown() override {
        if (db_.empty()) return;
        sql_set_statement_hook(nullptr);
        scr_release(m_);
        rec_reset_all();
        rec_set_rel_update(nullptr);
        sql_disconnect_all();
        dict_clear();
        script_done();
        for (int l = 0; l < kCmdLevels; l++) cmd_register(l, nullptr);
        script_ports_reset();
        rec_set_port(nullptr);
        ex_set_field_port(nullptr);
        vars_done();
        sysv_set(sysv::AUXSTAT, 0);
        sysv_set(sysv::SQLSTK, 0);
        direct("postgres", "DROP DATABASE IF EXISTS \"" + db_ + "\" WITH (FORCE)");
        for (const std::string& r : roles_) direct("postgres", "DROP ROLE IF EXISTS \"" + r + "\"");
        RtTest::TearDown();
    }

    std::string sql(const std::string& s) { return direct(db_, s); }

    int structure(const std::string& name, const std::vector<FieldDef>& fields, std::vector<KeySegment> key) {
        int n = 0;
        EXPECT_EQ(dict_open(0, sr(name), sr(""), &n), 0);
        for (const FieldDef& f : fields) EXPECT_EQ(dict_add_field(sr(f.name), f.width, f.type), 0);
        EXPECT_EQ(dict_add_key(n, static_cast<int>(key.size()), key.data()), 0);
        dict_complete(n);
        EXPECT_EQ(rec_open(n), 0);
        sysv_set(sysv::CURFIL, static_cast<int16_t>(n));
        return n;
    }
    std::string field(int file, int k, int buffer = 1) {
        StrRef v{};
        EXPECT_EQ(dict_value(file, k, buffer, &v), 0);
        std::string t = str(v);
        while (!t.empty() && t.back() == ' ') t.pop_back();
        size_t b = t.find_first_not_of(' ');
        return b == std::string::npos ? "" : t.substr(b);
    }
    // The stored fields of the current record, trimmed, joined by '|'.
    std::string record(int file) {
        std::string out;
        for (int k = 1; k <= rec_stored_fields(file); k++) out += (k > 1 ? "|" : "") + field(file, k);
        return out;
    }
    void set(int file, int k, const std::string& v) { ASSERT_EQ(dict_set(file, k, sr(v)), 0) << v; }
    Lines sent() {
        Lines s = g_sent;
        g_sent.clear();
        return s;
    }
    ScratchMark m_{};
};

// sales: SERIE A3 + YEAR N4 the key, NOTE A20, QTY N5, NUL A4 in the buffer only.
class Sales : public RecPg {
protected:
    int f_ = 0;
    void SetUp() override {
        RecPg::SetUp();
        if (db_.empty()) return;
        ASSERT_EQ(sql("CREATE TABLE sales (\"SERIE\" varchar(3), \"YEAR\" integer, \"NOTE\" varchar(20), \"QTY\" integer);"
                      "INSERT INTO sales VALUES ('A',2023,'a23',1),('A',2024,'a24',2),('A',2025,'abc',3),"
                      "('B',2000,'b00',4)"),
                  "");
        f_ = structure("sales", {{"SERIE", 3, 'A'}, {"YEAR", 4, 'N'}, {"NOTE", 20, 'A'}, {"QTY", 5, 'N'}, {"NUL", 4, 'A'}},
                       {{0, 3}, {3, 4}});
        g_sent.clear();
    }
};

const std::string kSalesAsc = " ORDER BY \"SERIE\" NULLS FIRST,\"YEAR\" NULLS FIRST LIMIT 1;";
const std::string kSalesDesc = " ORDER BY \"SERIE\" DESC NULLS LAST,\"YEAR\" DESC NULLS LAST LIMIT 1;";

TEST_F(Sales, MovesSendTheirStatements) {
    set(f_, 1, "A");
    set(f_, 2, "2024");
    struct Case {
        int bits;
        IER st;
        std::string rec;
        Lines sql;
    } cases[] = {
        {mv::Nxt, 0, "A|2025|abc|3",
         {"SELECT * FROM \"sales\" WHERE \"SERIE\" > 'A' OR (\"SERIE\" = 'A' AND \"YEAR\" > 2024)" + kSalesAsc,
          "SELECT COUNT (*) FROM \"sales\" WHERE \"SERIE\" = 'A' AND \"YEAR\" = 2025;"}},
        {mv::Nxt, 0, "B|2000|b00|4",
         {"SELECT * FROM \"sales\" WHERE \"SERIE\" > 'A' OR (\"SERIE\" = 'A' AND \"YEAR\" > 2025)" + kSalesAsc,
          "SELECT COUNT (*) FROM \"sales\" WHERE \"SERIE\" = 'B' AND \"YEAR\" = 2000;"}},
        {mv::Nxt, ier::EndOfFile, "|||",
         {"SELECT * FROM \"sales\" WHERE \"SERIE\" > 'B' OR (\"SERIE\" = 'B' AND \"YEAR\" > 2000)" + kSalesAsc}},
        // Right after the end, PRV is the last record.
        {mv::Prv, 0, "B|2000|b00|4",
         {"SELECT * FROM \"sales\"" + kSalesDesc,
          "SELECT COUNT (*) FROM \"sales\" WHERE \"SERIE\" = 'B' AND \"YEAR\" = 2000;"}},
        {mv::Prv, 0, "A|2025|abc|3",
         {"SELECT * FROM \"sales\" WHERE (\"SERIE\" < 'B' OR \"SERIE\" IS NULL) OR (\"SERIE\" = 'B' AND (\"YEAR\" < "
          "2000 OR \"YEAR\" IS NULL))" +
              kSalesDesc,
          "SELECT COUNT (*) FROM \"sales\" WHERE \"SERIE\" = 'A' AND \"YEAR\" = 2025;"}},
        {mv::Top, 0, "A|2023|a23|1",
         {"SELECT * FROM \"sales\"" + kSalesAsc,
          "SELECT COUNT (*) FROM \"sales\" WHERE \"SERIE\" = 'A' AND \"YEAR\" = 2023;"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rec_move(f_, c.bits), c.st) << c.rec;
        EXPECT_EQ(record(f_), c.rec);
        EXPECT_EQ(sent(), c.sql) << c.rec;
        EXPECT_FALSE(dict_record_changed(f_)) << "both halves hold the row";
    }
}

TEST_F(Sales, UpdatesSendOnlyWhatChanged) {
    ASSERT_EQ(rec_read_key(f_, 1, sr("A  2024"), 0), 0);
    sent();
    EXPECT_EQ(rec_operation(f_, 0x0F00), 0);
    EXPECT_EQ(sent(), Lines{}) << "an unchanged record sends nothing";
    set(f_, 5, "xx");  // a buffer-only field
    EXPECT_EQ(rec_update(f_), 0);
    EXPECT_EQ(sent(), Lines{});
    set(f_, 3, "it's new");
    EXPECT_EQ(rec_operation(f_, 0x0F00), 0);
    EXPECT_EQ(sent(), (Lines{"SELECT COUNT (*) FROM \"sales\" WHERE \"SERIE\" = 'A' AND \"YEAR\" = 2024;",
                             "UPDATE ONLY \"sales\" SET \"NOTE\" = E'it\\x27s new' WHERE \"SERIE\" = 'A' AND \"YEAR\" = 2024 "
                             "AND \"NOTE\" = 'a24' AND \"QTY\" = 2;"}));
    EXPECT_EQ(sql("SELECT \"NOTE\" FROM sales WHERE \"YEAR\"=2024"), "it's new");
    EXPECT_FALSE(dict_record_changed(f_)) << "a save brings the saved copy up to date";
}

TEST_F(Sales, NumberFieldsHoldingTextNeverReachSql) {
    ASSERT_EQ(rec_read_key(f_, 1, sr("A  2024"), 0), 0);
    sent();
    // A record written whole, as a screen may: QTY holds no number.
    std::string r = str(dict_record(f_, 1));
    r.replace(27, 5, "1;--x");
    ASSERT_EQ(dict_put_record(f_, sr(r)), 0);
    EXPECT_EQ(rec_update(f_), ier::BADINPUTDATA);
    EXPECT_EQ(rec_insert(f_), ier::BADINPUTDATA);
    std::string k = "A  20;4";
    EXPECT_EQ(rec_read_key(f_, 1, sr(k), 0), 5) << "a key that is no number is a bad key";
    for (const std::string& s : sent()) EXPECT_EQ(s.find(";--"), std::string::npos) << s;
    EXPECT_EQ(sql("SELECT count(*) FROM sales"), "4");
}

TEST_F(Sales, InsertWithKeyTestsOnAnExistingKey) {
    ASSERT_EQ(rec_move(f_, mv::Clear), 3);
    set(f_, 1, "A");
    set(f_, 2, "2024");
    set(f_, 3, "dup");
    sent();
    EXPECT_EQ(rec_operation(f_, 0x0D00), 5);
    // No INSERT; the record is read again by its key: the one that exists.
    EXPECT_EQ(sent(), (Lines{"SELECT COUNT (*) FROM \"sales\" WHERE \"SERIE\" = 'A' AND \"YEAR\" = 2024;",
                             "SELECT * FROM \"sales\" WHERE \"SERIE\" = 'A' AND \"YEAR\" = 2024" + kSalesAsc,
                             "SELECT COUNT (*) FROM \"sales\" WHERE \"SERIE\" = 'A' AND \"YEAR\" = 2024;"}));
    EXPECT_EQ(record(f_), "A|2024|a24|2");
    EXPECT_EQ(sql("SELECT count(*) FROM sales"), "4");
    ASSERT_EQ(rec_move(f_, mv::Clear), 3);
    set(f_, 1, "A");
    set(f_, 3, "dup");
    set(f_, 2, "2030");
    EXPECT_EQ(rec_operation(f_, 0x0D00), 0);
    EXPECT_EQ(sent(), (Lines{"SELECT COUNT (*) FROM \"sales\" WHERE \"SERIE\" = 'A' AND \"YEAR\" = 2030;",
                             "INSERT INTO \"sales\" VALUES ('A',2030,'dup',NULL);"}));
    EXPECT_EQ(sql("SELECT \"NOTE\" FROM sales WHERE \"YEAR\"=2030"), "dup");
}

TEST_F(Sales, ActionsSaveThenMove) {
    ASSERT_EQ(rec_read_key(f_, 1, sr("A  2024"), 0), 0);
    set(f_, 4, "7");
    // NXT saves the change first, then moves from the key.
    EXPECT_EQ(rec_action(f_, rec_action_code(sr("NEXT"))), 0);
    EXPECT_EQ(record(f_), "A|2025|abc|3");
    EXPECT_EQ(sql("SELECT \"QTY\" FROM sales WHERE \"YEAR\"=2024"), "7");
    // DEL deletes and shows the next record.
    ASSERT_EQ(rec_read_key(f_, 1, sr("A  2024"), 0), 0);
    EXPECT_EQ(rec_action(f_, 10), 0);
    EXPECT_EQ(record(f_), "A|2025|abc|3");
    EXPECT_EQ(sql("SELECT count(*) FROM sales WHERE \"YEAR\"=2024"), "0");
    // NEW clears (status 3); RLD gives the last status; SVE of a new record inserts.
    EXPECT_EQ(rec_action(f_, 1), 3);
    EXPECT_EQ(record(f_), "|||");
    EXPECT_EQ(rec_action(f_, 4), 3);
    set(f_, 1, "N");
    set(f_, 2, "1");
    EXPECT_EQ(rec_action(f_, 8), 0);
    EXPECT_EQ(sql("SELECT count(*) FROM sales WHERE \"SERIE\"='N'"), "1");
    EXPECT_EQ(rec_action(f_, 4), 0);
    EXPECT_EQ(rec_action(f_, 17), 0) << "PRN does no data work";
}

TEST_F(Sales, ReadsByKey) {
    struct Case {
        std::string value;
        int options;
        IER st;
        std::string rec;
    } cases[] = {
        {"A  2024", 0, 0, "A|2024|a24|2"},
        {"A", 0, 0, "A|2023|a23|1"},
        {"A  2026", rk::GreaterEqual, 1, "B|2000|b00|4"},  // positioned on the next
        {"A  2026", 0, 2, "|||"},
        {"", 0, 2, "|||"},
        {"", rk::GreaterEqual, 0, "A|2023|a23|1"},
        {"Z  7", rk::Fill, 2, "Z|7||"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rec_read_key(f_, 1, sr(c.value), c.options), c.st) << c.value;
        EXPECT_EQ(record(f_), c.rec) << c.value;
    }
    sent();
    EXPECT_EQ(rec_read_key(f_, 1, sr(""), 0), 2);
    EXPECT_EQ(sent(), Lines{}) << "an empty key without equal-or-greater sends nothing";
    // Through the functions of the expression language.
    Value v;
    EXPECT_EQ(ex_eval(sr("FILEFIND('B  2000';'sales')"), &v), 0);
    EXPECT_EQ(v.num, 0);
    EXPECT_EQ(str(ex_text(sr("KEY$('sales')"))), "B  2000");
    EXPECT_EQ(ex_eval(sr("FILEFIND('C  2001';'sales';0;4)"), &v), 0) << str(err_detail_get());
    EXPECT_EQ(sql("SELECT count(*) FROM sales WHERE \"SERIE\"='C' AND \"YEAR\"=2001"), "1") << "flag 4 inserts";
    EXPECT_EQ(ex_eval(sr("IER('sales')"), &v), 0);
    EXPECT_EQ(v.num, 0);
}

TEST_F(Sales, DeletesAreCheckedAndBlankKeysNotWritten) {
    ASSERT_EQ(rec_read_key(f_, 1, sr("A  2024"), 0), 0);
    ASSERT_EQ(sql("INSERT INTO sales VALUES ('A',2024,'twin',9)"), "");
    EXPECT_EQ(rec_delete(f_, true), ier::INDEXCMDERROR) << "two rows share the key";
    EXPECT_EQ(sql("SELECT count(*) FROM sales"), "5");
    sysv_set(sysv::UPSTAT, kUpstatNoDeleteCheck);
    EXPECT_EQ(rec_delete(f_, true), 0) << "the row equal to the saved copy goes";
    sysv_set(sysv::UPSTAT, 0);
    EXPECT_EQ(sql("SELECT \"NOTE\" FROM sales WHERE \"YEAR\"=2024"), "twin");
    // The key tests: a blank key or a record the test cannot tell from a
    // blank one is not written, without error.
    ASSERT_EQ(rec_move(f_, mv::Clear), 3);
    set(f_, 3, "no key");
    sent();
    EXPECT_EQ(rec_write(rw::Insert | rw::KeyTests, f_, {}, {}), 0);
    set(f_, 1, "Q");
    EXPECT_EQ(rec_write(rw::Insert | rw::KeyTests, f_, {}, sr("QTY{sales}")), 0);
    EXPECT_EQ(sent(), Lines{});
    EXPECT_EQ(rec_write(rw::Delete, f_, {}, {}), 5) << "no current record to delete";
    EXPECT_EQ(rec_read_key(f_, 1, sr("X  1"), 0), 2);
    EXPECT_EQ(rec_write(rw::Write, f_, {}, {}), 0);
    EXPECT_EQ(sent(), Lines{"SELECT * FROM \"sales\" WHERE \"SERIE\" = 'X' AND \"YEAR\" = 1" + kSalesAsc})
        << "an untouched record after a find that failed is no row to insert";
    EXPECT_EQ(sql("SELECT count(*) FROM sales"), "4");
}

TEST_F(Sales, StarTextsBecomeIlike) {
    EXPECT_EQ(rec_find_where(f_, sr("NOTE{sales}==\"AB*\"")), 0);
    EXPECT_EQ(record(f_), "A|2025|abc|3");
    Lines s = sent();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s[0], "SELECT * FROM \"sales\" WHERE \"NOTE\" ILIKE 'AB%'" + kSalesAsc);
    // The same through FILEFIND with a record condition.
    Value v;
    EXPECT_EQ(ex_eval(sr("FILEFIND('NOTE{sales}==\"B*\"';'sales';0;8)"), &v), 0) << str(err_detail_get());
    EXPECT_EQ(v.num, 0);
    EXPECT_EQ(record(f_), "B|2000|b00|4");
    EXPECT_EQ(ex_eval(sr("FN#FLEN('sales')"), &v), 0);
    EXPECT_EQ(v.num, 400) << "four rows";
}

TEST_F(Sales, ProcedureCommandsWrite) {
    sysv_set(sysv::CURFIL, static_cast<int16_t>(f_));
    ASSERT_EQ(rec_read_key(f_, 1, sr("B  2000"), 0), 0);
    int index = -1;
    ASSERT_EQ(proc_load_text(sr("QTY{sales}=44\r\nRC_WRITE 0\r\nSERIE{}='C'\r\nRC_INSERT 'sales'\r\nRC_DELETE\r\n"), &index),
              0);
    EXPECT_EQ(proc_run(index, 0), 0) << str(err_detail_get());
    EXPECT_EQ(sql("SELECT \"SERIE\",\"QTY\" FROM sales WHERE \"YEAR\"=2000 ORDER BY 1"), "B|44");
}

// Two users, each on a connection of its own (slots 0 and 1) with a
// structure of its own over the same table.
TEST_F(Sales, ConcurrentSavesKeepBothChanges) {
    ASSERT_EQ(sql("CREATE ROLE qvu1_" + db_ + " LOGIN PASSWORD 'p1'; CREATE ROLE qvu2_" + db_ + " LOGIN PASSWORD 'p2';"
                  "GRANT ALL ON sales TO qvu1_" + db_ + ", qvu2_" + db_),
              "");
    roles_ = {"qvu1_" + db_, "qvu2_" + db_};
    sql_disconnect_all();
    ASSERT_EQ(sql_connect(sr("localhost"), sr(db_), sr(roles_[0]), sr("p1"), 0), 0) << str(err_detail_get());
    ASSERT_EQ(sql_connect(sr("localhost"), sr(db_), sr(roles_[1]), sr("p2"), 0), 0) << str(err_detail_get());
    ASSERT_NE(sql_slot(0).conn, sql_slot(1).conn);
    int a = f_;
    int b = structure("sales", {{"SERIE", 3, 'A'}, {"YEAR", 4, 'N'}, {"NOTE", 20, 'A'}, {"QTY", 5, 'N'}, {"NUL", 4, 'A'}},
                      {{0, 3}, {3, 4}});
    auto as = [](int slot) { sysv_set(sysv::SQLSTK, static_cast<int16_t>(slot)); };
    as(0);
    ASSERT_EQ(rec_read_key(a, 1, sr("A  2024"), 0), 0);
    as(1);
    ASSERT_EQ(rec_read_key(b, 1, sr("A  2024"), 0), 0);
    as(0);
    set(a, 3, "by one");
    EXPECT_EQ(rec_action(a, 8), 0);
    as(1);
    set(b, 4, "99");
    EXPECT_EQ(rec_action(b, 8), 7) << "the row changed since it was read";
    EXPECT_EQ(field(b, 4), "99") << "the user's edit stays";
    EXPECT_EQ(sql("SELECT \"NOTE\",\"QTY\" FROM sales WHERE \"YEAR\"=2024"), "by one|2");
    ASSERT_EQ(rec_read_key(b, 1, sr("A  2024"), 0), 0);
    EXPECT_EQ(field(b, 3), "by one");
    set(b, 4, "99");
    EXPECT_EQ(rec_action(b, 8), 0);
    EXPECT_EQ(sql("SELECT \"NOTE\",\"QTY\" FROM sales WHERE \"YEAR\"=2024"), "by one|99");
    // Each save went out on its user's connection.
    EXPECT_EQ(sql("SELECT count(*) FROM pg_stat_activity WHERE datname='" + db_ + "' AND usename LIKE 'qvu%'"), "2");
}

class Lines3 : public RecPg {
protected:
    int f_ = 0;
    void SetUp() override {
        RecPg::SetUp();
        if (db_.empty()) return;
        ASSERT_EQ(sql("CREATE TABLE lines (\"DOC\" varchar(4), \"LINE\" integer, \"TXT\" varchar(10));"
                      "INSERT INTO lines VALUES ('D1',1,'one'),('D1',2,'two'),('D1',3,'three'),('D2',1,'other');"
                      "CREATE TABLE totals (n integer); INSERT INTO totals VALUES (10);"),
                  "");
        f_ = structure("lines", {{"DOC", 4, 'A'}, {"LINE", 3, 'N'}, {"TXT", 10, 'A'}}, {{0, 4}});
        g_sent.clear();
    }
};

const std::string kLinesOrder = "\"DOC\" NULLS FIRST,\"LINE\" NULLS FIRST,\"TXT\" NULLS FIRST";

TEST_F(Lines3, NextVisitsEveryRowOfAKeyFirst) {
    struct Case {
        int bits;
        std::string rec;
        Lines sql;
    } cases[] = {
        {mv::Top, "D1|1|one",
         {"SELECT * FROM \"lines\" ORDER BY " + kLinesOrder + " LIMIT 1;",
          "SELECT COUNT (*) FROM \"lines\" WHERE \"DOC\" = 'D1';",
          "SELECT * FROM \"lines\" WHERE \"DOC\" = 'D1' ORDER BY " + kLinesOrder + ";"}},
        {mv::Nxt, "D1|2|two", {}},
        {mv::Nxt, "D1|3|three", {}},
        {mv::Nxt, "D2|1|other",
         {"SELECT * FROM \"lines\" WHERE \"DOC\" > 'D1' ORDER BY " + kLinesOrder + " LIMIT 1;",
          "SELECT COUNT (*) FROM \"lines\" WHERE \"DOC\" = 'D2';"}},
        {mv::Prv, "D1|3|three",
         {"SELECT * FROM \"lines\" WHERE (\"DOC\" < 'D2' OR \"DOC\" IS NULL) ORDER BY \"DOC\" DESC NULLS LAST,\"LINE\" "
          "DESC NULLS LAST,\"TXT\" DESC NULLS LAST LIMIT 1;",
          "SELECT COUNT (*) FROM \"lines\" WHERE \"DOC\" = 'D1';",
          "SELECT * FROM \"lines\" WHERE \"DOC\" = 'D1' ORDER BY " + kLinesOrder + ";"}},
        {mv::Prv, "D1|2|two", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(rec_move(f_, c.bits), 0) << c.rec;
        EXPECT_EQ(record(f_), c.rec);
        EXPECT_EQ(sent(), c.sql) << c.rec;
    }
}

TEST_F(Lines3, OneOfTwoRowsSharingAKeyIsChangedUnderACursor) {
    ASSERT_EQ(rec_move(f_, mv::Top), 0);
    ASSERT_EQ(rec_move(f_, mv::Nxt), 0);
    ASSERT_EQ(record(f_), "D1|2|two");
    set(f_, 3, "TWO");
    sent();
    EXPECT_EQ(rec_update(f_), 0);
    const std::string declare = "DECLARE curs_0 CURSOR FOR SELECT * FROM \"lines\" WHERE \"DOC\" = 'D1' ORDER BY " +
                                kLinesOrder + " FOR UPDATE;";
    EXPECT_EQ(sent(), (Lines{"SELECT COUNT (*) FROM \"lines\" WHERE \"DOC\" = 'D1';", "START TRANSACTION;", declare,
                             "FETCH FIRST FROM \"curs_0\";", "FETCH NEXT FROM \"curs_0\";",
                             "UPDATE \"lines\" SET \"TXT\" = 'TWO' WHERE CURRENT OF curs_0;", "CLOSE curs_0;",
                             "COMMIT;"}));
    EXPECT_EQ(sql("SELECT \"TXT\" FROM lines WHERE \"DOC\"='D1' ORDER BY 1"), "TWO\none\nthree");

    // A saved copy that no row equals any more: the loop ends, nothing changes.
    dict_save_record(f_);  // as if "TWO" had been read
    std::string r = str(dict_record(f_, 2));
    set(f_, 3, "gone");
    dict_save_record(f_);
    set(f_, 3, "new");
    sent();
    EXPECT_EQ(rec_update(f_), 7);
    EXPECT_EQ(field(f_, 3), "new");
    EXPECT_EQ(sent(), (Lines{"SELECT COUNT (*) FROM \"lines\" WHERE \"DOC\" = 'D1';", "START TRANSACTION;", declare,
                             "FETCH FIRST FROM \"curs_0\";", "FETCH NEXT FROM \"curs_0\";", "FETCH NEXT FROM \"curs_0\";",
                             "FETCH NEXT FROM \"curs_0\";", "CLOSE curs_0;", "ROLLBACK;"}));
    EXPECT_FALSE(sysv_get(sysv::AUXSTAT) & kAuxTransaction);

    // Inside a transaction of the caller the cursor neither starts nor ends one.
    ASSERT_EQ(rec_begin(), 0);
    ASSERT_EQ(dict_put_record(f_, sr(r)), 0);
    dict_save_record(f_);
    set(f_, 3, "2nd");
    sent();
    EXPECT_EQ(rec_update(f_), 0);
    Lines s = sent();
    EXPECT_EQ(std::count(s.begin(), s.end(), "START TRANSACTION;") + std::count(s.begin(), s.end(), "COMMIT;"), 0);
    EXPECT_TRUE(sysv_get(sysv::AUXSTAT) & kAuxTransaction) << "still the caller's";
    EXPECT_EQ(sql("SELECT count(*) FROM lines WHERE \"TXT\"='2nd'"), "0") << "not committed yet";
    EXPECT_EQ(rec_end(0), 0);
    EXPECT_EQ(sql("SELECT count(*) FROM lines WHERE \"TXT\"='2nd'"), "1");
}

TEST_F(Lines3, AFailingCursorEndsItsTransaction) {
    ASSERT_EQ(sql("ALTER TABLE lines ADD CHECK (\"TXT\" <> 'bad')"), "");
    ASSERT_EQ(rec_move(f_, mv::Top), 0);
    set(f_, 3, "bad");
    sent();
    EXPECT_EQ(rec_update(f_), ier::SQLERROR);
    Lines s = sent();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.back(), "ROLLBACK;");
    EXPECT_FALSE(sysv_get(sysv::AUXSTAT) & kAuxTransaction);

    // In the caller's transaction: the failure ends it, so the caller's own
    // end finds nothing to commit.
    ASSERT_EQ(rec_begin(), 0);
    EXPECT_EQ(rec_update(f_), ier::SQLERROR);
    EXPECT_FALSE(sysv_get(sysv::AUXSTAT) & kAuxTransaction);
    EXPECT_EQ(sent().back(), "ROLLBACK;");
    EXPECT_EQ(rec_end(0), 0);
    EXPECT_EQ(sent(), Lines{});

    // The cursor number was given back.
    set(f_, 3, "fine");
    EXPECT_EQ(rec_update(f_), 0);
    s = sent();
    EXPECT_NE(std::find(s.begin(), s.end(), "CLOSE curs_0;"), s.end());
    EXPECT_EQ(sql("SELECT \"TXT\" FROM lines WHERE \"DOC\"='D1' ORDER BY \"LINE\""), "fine\ntwo\nthree");
}

int g_rule_calls = 0;
IER failing_second_rule(int, StrRef, int sign) {
    EXPECT_EQ(sign, -1);
    if (++g_rule_calls == 2) return 5;
    return sql_exec(sr("UPDATE totals SET n = n - 1;"));
}
IER failing_rule(int, StrRef, int) {
    sql_exec(sr("UPDATE totals SET n = n + 100;"));
    return ier::SQLERROR;
}

TEST_F(Lines3, AFailingDeleteGroupLeavesEverything) {
    g_rule_calls = 0;
    rec_set_rel_update(failing_second_rule);
    EXPECT_EQ(rec_delete_group(f_, 1, sr("D1"), 0), 5);
    Lines s = sent();
    ASSERT_FALSE(s.empty());
    EXPECT_EQ(s.front(), "START TRANSACTION;");
    EXPECT_EQ(s.back(), "ROLLBACK;");
    EXPECT_EQ(sql("SELECT count(*) FROM lines WHERE \"DOC\"='D1'"), "3");
    EXPECT_EQ(sql("SELECT n FROM totals"), "10") << "the first rule's change is undone";
    EXPECT_FALSE(sysv_get(sysv::AUXSTAT) & kAuxTransaction);

    rec_set_rel_update(nullptr);
    EXPECT_EQ(rec_delete_group(f_, 1, sr("D2"), 2), 7) << "asked only whether rows exist";
    EXPECT_EQ(rec_delete_group(f_, 1, sr("D2"), 0), 0);
    EXPECT_EQ(sql("SELECT count(*) FROM lines"), "3");
    EXPECT_EQ(rec_delete_group(f_, 1, sr(""), 0), 5) << "an empty value would take every row";

    // A rule failing after an insert takes the insert back.
    rec_set_rel_update(failing_rule);
    ASSERT_EQ(rec_move(f_, mv::Clear), 3);
    set(f_, 1, "D9");
    set(f_, 2, "1");
    EXPECT_EQ(rec_write(rw::Insert, f_, sr("1"), {}), ier::SQLERROR);
    EXPECT_EQ(sql("SELECT count(*) FROM lines WHERE \"DOC\"='D9'"), "0");
    EXPECT_EQ(sql("SELECT n FROM totals"), "10");

    sent();
    EXPECT_EQ(rec_delete_all(sr("lines")), 0);
    EXPECT_EQ(sent(), Lines{"DELETE FROM ONLY \"lines\";"});
    long long n = -1;
    EXPECT_EQ(rec_count(f_, {}, &n), 0);
    EXPECT_EQ(n, 0);
}

TEST_F(Lines3, BatchesAndLoops) {
    EXPECT_EQ(rec_batch(f_, 1, sr("D1"), sr("D1"), 65535, sqlop::Ge, sr("LINE{}>1")), 0);
    EXPECT_EQ(sent(), Lines{"SELECT * FROM \"lines\" WHERE \"DOC\" = 'D1' AND (\"LINE\" > 1) ORDER BY " + kLinesOrder +
                            " LIMIT 65535;"});
    EXPECT_EQ(rec_batch_rows(f_), 2);
    EXPECT_EQ(str(rec_batch_value(f_, 1, 3)), "three");
    EXPECT_EQ(rec_batch_load(f_, 0), 0);
    EXPECT_EQ(record(f_), "D1|2|two");
    rec_batch_release(f_);
    EXPECT_EQ(rec_batch_rows(f_), 0);

    // A loop copying D1's lines as D3: the callback moves to the next line.
    ASSERT_EQ(rec_read_key(f_, 1, sr("D1"), 0), 0);
    int written = 0;
    // Each D1 line is written again as a D3 line; moving on stays in the
    // held group of D1 until it is left.
    std::string end = "FILELOCATE('NXT';" + std::to_string(f_) + ")<>0";
    // The callback puts the record back as read, so that NXT has nothing to save.
    auto restore = [](void* ctx) -> IER {
        dict_restore_record(*static_cast<int*>(ctx));
        return 0;
    };
    int f = f_;
    EXPECT_EQ(rec_loop(f_, sr("1"), sr("DOC{}=='D1  '"), sr("DOC{}='D3';1"), sr(end), {}, restore, &f, &written), 0)
        << str(err_detail_get());
    EXPECT_EQ(written, 3);
    EXPECT_EQ(sql("SELECT \"LINE\",\"TXT\" FROM lines WHERE \"DOC\"='D3' ORDER BY 1"), "1|one\n2|two\n3|three");
    EXPECT_EQ(rec_loop(f_, sr("0"), sr("1"), sr("1"), sr("1"), {}, nullptr, nullptr, &written), 0);
    EXPECT_EQ(written, 0) << "a false start condition does nothing";
}

class Hostile : public RecPg {};

TEST_F(Hostile, DatesLoseTheirHyphensAndFindTheirRow) {
    ASSERT_EQ(sql("CREATE TABLE d (\"W\" date, \"N\" integer); INSERT INTO d VALUES ('2024-01-15', 1), (NULL, 2)"), "");
    int f = structure("d", {{"W", 8, 'D'}, {"N", 3, 'N'}}, {{0, 8}});
    ASSERT_EQ(rec_move(f, mv::Bot), 0);
    EXPECT_EQ(record(f), "20240115|1");
    set(f, 2, "5");
    EXPECT_EQ(rec_update(f), 0) << str(err_detail_get());
    EXPECT_EQ(sql("SELECT \"N\" FROM d WHERE \"W\" IS NOT NULL"), "5");
    ASSERT_EQ(rec_move(f, mv::Top), 0);
    EXPECT_EQ(record(f), "|2") << "NULL first in key order";
    set(f, 2, "6");
    EXPECT_EQ(rec_update(f), 0) << str(err_detail_get());
    EXPECT_EQ(sql("SELECT \"N\" FROM d WHERE \"W\" IS NULL"), "6");
}

TEST_F(Hostile, EveryByteGoesInAndComesBack) {
    ASSERT_EQ(sql("CREATE TABLE h (\"T\" varchar(300), \"K\" integer)"), "");
    int f = structure("h", {{"T", 300, 'A'}, {"K", 4, 'N'}}, {{0, 300}});
    std::string all;
    for (int b = 1; b <= 255; b++) all += static_cast<char>(b);
    std::string reversed(all.rbegin(), all.rend());
    const std::string quotes = "x' OR '1'='1\\'; DROP TABLE h; --\"";
    struct Case {
        std::string first, second;
    } cases[] = {{all, quotes}, {quotes, reversed}, {"\\\\'\"\\", all}};
    int k = 0;
    for (const Case& c : cases) {
        k++;
        ASSERT_EQ(rec_move(f, mv::Clear), 3);
        set(f, 1, c.first);
        set(f, 2, std::to_string(k));
        ASSERT_EQ(rec_write(rw::Insert | rw::KeyTests, f, {}, {}), 0) << str(err_detail_get());
        ASSERT_EQ(rec_move(f, mv::Clear), 3);
        set(f, 1, c.first);
        ASSERT_EQ(rec_move(f, mv::Fnd), 0);
        EXPECT_EQ(field(f, 1), c.first);
        EXPECT_EQ(field(f, 2), std::to_string(k));
        set(f, 1, c.second);
        ASSERT_EQ(rec_update(f), 0) << str(err_detail_get());
        ASSERT_EQ(rec_read_key(f, 1, sr(c.second), 0), 0);
        EXPECT_EQ(field(f, 1), c.second);
        EXPECT_EQ(sql("SELECT length(\"T\") FROM h WHERE \"K\"=" + std::to_string(k)), std::to_string(c.second.size()));
        ASSERT_EQ(sql("DELETE FROM h"), "");
    }
    EXPECT_EQ(sql("SELECT count(*) FROM pg_tables WHERE tablename='h'"), "1");
}

}  // namespace
}  // namespace rt
