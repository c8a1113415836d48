// NXT through 10,000 rows of a 10-field table: the record layer against a
// plain libpq loop that sends the very statements the layer sent (captured
// by the statement hook) and reads every value of every row. Runs on the
// private cluster (eval "$(scripts/pgcluster.sh start)"); not a test.
#include <benchmark/benchmark.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/core/startup.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/rec.h"
#include "runtime/data/sql.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/script/proc.h"

using namespace rt;

namespace {

constexpr int kRows = 10000;

std::string env(const char* n) {
    const char* v = std::getenv(n);
    return v ? v : "";
}

PGconn* open_db(const std::string& db) {
    std::string host = env("PGHOST"), user = env("PGUSER");
    const char* keys[] = {"host", "dbname", "user", "client_encoding", nullptr};
    const char* vals[] = {host.c_str(), db.c_str(), user.c_str(), "WIN1252", nullptr};
    return PQconnectdbParams(keys, vals, 0);
}

bool exec(PGconn* c, const std::string& s) {
    PGresult* r = PQexec(c, s.c_str());
    ExecStatusType st = PQresultStatus(r);
    PQclear(r);
    return st == PGRES_COMMAND_OK || st == PGRES_TUPLES_OK;
}

std::vector<std::string> g_statements;
void capture(StrRef s, IER) { g_statements.emplace_back(sv(s)); }

struct Fixture {
    std::string db = "qvbench_" + std::to_string(::getpid());
    bool ok = false;
    int file = 0;

    Fixture() {
        if (env("PGHOST").empty() || env("PGPORT").empty() || env("PGUSER").empty()) return;
        PGconn* admin = open_db("postgres");
        exec(admin, "CREATE DATABASE " + db + " ENCODING 'WIN1252' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0");
        PQfinish(admin);
        PGconn* c = open_db(db);
        ok = exec(c,
                  "CREATE TABLE t10 (\"K\" integer, \"A1\" varchar(20), \"A2\" varchar(20), \"A3\" varchar(20), "
                  "\"N1\" integer, \"N2\" numeric(12,2), \"N3\" numeric(12,2), \"D1\" varchar(8), \"A4\" varchar(30), "
                  "\"N4\" integer);"
                  "INSERT INTO t10 SELECT i, 'alpha ' || i, 'beta', 'gamma ' || (i % 7), i * 3, i / 3.0, 12.5, "
                  "'20240115', 'a longer text for the row', i % 100 FROM generate_series(1, " +
                      std::to_string(kRows) + ") i;"
                                              "CREATE INDEX ON t10 (\"K\" NULLS FIRST, \"A1\" NULLS FIRST, \"A2\" NULLS FIRST); ANALYZE t10;");
        PQfinish(c);
        rt_stores_init();
        ex_install();
        fnlib_install();
        script_install();
        dict_install();
        ok = ok && sql_connect(sr(env("PGHOST")), sr(db), sr(env("PGUSER")), sr(""), 0) == 0;
        dict_open(0, sr("t10"), sr(""), &file);
        dict_add_field(sr("K"), 6, 'N');
        dict_add_field(sr("A1"), 20, 'A');
        dict_add_field(sr("A2"), 20, 'A');
        dict_add_field(sr("A3"), 20, 'A');
        dict_add_field(sr("N1"), 8, 'N');
        dict_add_field(sr("N2"), 12, '2');
        dict_add_field(sr("N3"), 12, '2');
        dict_add_field(sr("D1"), 8, 'D');
        dict_add_field(sr("A4"), 30, 'A');
        dict_add_field(sr("N4"), 4, 'N');
        dict_complete(file);
        rec_open(file);
    }
    ~Fixture() {
        if (env("PGHOST").empty()) return;
        sql_disconnect_all();
        PGconn* admin = open_db("postgres");
        exec(admin, "DROP DATABASE IF EXISTS " + db + " WITH (FORCE)");
        PQfinish(admin);
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// One walk: TOP, then NXT until the end.
long walk(int file) {
    long moves = 1;
    IER st = rec_move(file, mv::Top);
    while (st == 0) {
        st = rec_move(file, mv::Nxt);
        moves++;
    }
    return moves;
}

void BM_RuntimeNxt(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("no private cluster");
        return;
    }
    // One walk first, untimed: the table's pages and plans are warm for
    // both contenders, whichever runs first.
    walk(f.file);
    long moves = 0;
    for (auto _ : state) moves += walk(f.file);
    state.SetItemsProcessed(moves);
    state.counters["moves/s"] = benchmark::Counter(static_cast<double>(moves), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RuntimeNxt)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_LibpqSameStatements(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("no private cluster");
        return;
    }
    g_statements.clear();
    sql_set_statement_hook(capture);
    long moves = walk(f.file);
    sql_set_statement_hook(nullptr);
    PGconn* c = open_db(f.db);
    long total = 0;
    for (auto _ : state) {
        size_t bytes = 0;
        for (const std::string& s : g_statements) {
            PGresult* r = PQexec(c, s.c_str());
            for (int i = 0; i < PQntuples(r); i++)
                for (int j = 0; j < PQnfields(r); j++) bytes += static_cast<size_t>(PQgetlength(r, i, j));
            PQclear(r);
        }
        benchmark::DoNotOptimize(bytes);
        total += moves;
    }
    PQfinish(c);
    state.SetItemsProcessed(total);
    state.counters["moves/s"] = benchmark::Counter(static_cast<double>(total), benchmark::Counter::kIsRate);
    state.counters["statements/walk"] = static_cast<double>(g_statements.size());
}
BENCHMARK(BM_LibpqSameStatements)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
