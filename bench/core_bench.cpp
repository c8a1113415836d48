// Figures for the runtime core's hot paths: list fields, the string table
// and the scratch area.
#include <benchmark/benchmark.h>

#include <string>

#include "runtime/core/cmdline.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/strtab.h"

using namespace rt;

namespace {

struct Stores {
    Stores() { rt_stores_init(); }
    ~Stores() { rt_stores_teardown(); }
};

// A field near the end of a 20-field list with quoted parts, as the
// vocabularies and parameter texts are.
void BM_ListField(benchmark::State& state) {
    Stores s;
    std::string list;
    for (int i = 0; i < 20; i++) list += (i % 3 ? "'x,y'" : "field") + std::to_string(i) + ",";
    for (auto _ : state) benchmark::DoNotOptimize(lst_field(sr(list), 18));
}
BENCHMARK(BM_ListField);

// Setting a variable's text in a table that holds 1500 items.
void BM_StringTableSet(benchmark::State& state) {
    Stores s;
    for (int i = 0; i < 1500; i++) st_set(13, i, sr("value of some length"));
    int i = 0;
    for (auto _ : state) {
        st_set(13, 700 + (i & 63), (i & 1) ? sr("short") : sr("a somewhat longer value"));
        i++;
    }
}
BENCHMARK(BM_StringTableSet);

void BM_StringTableGet(benchmark::State& state) {
    Stores s;
    for (int i = 0; i < 1500; i++) st_set(13, i, sr("value"));
    int i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(st_get(13, (i++ * 7) % 1500));
}
BENCHMARK(BM_StringTableGet);

void BM_ScratchKeep(benchmark::State& state) {
    Stores s;
    for (auto _ : state) {
        ScratchMark m = scr_mark();
        scr_copy(sr("temporary"));
        StrRef r = scr_copy(sr("result of the operation"));
        benchmark::DoNotOptimize(scr_keep(m, r));
        scr_release(m);
    }
}
BENCHMARK(BM_ScratchKeep);

void BM_OptionLookup(benchmark::State& state) {
    Stores s;
    StrRef line = sr("/opt/qv/ledger /DPATH:'/srv/apps' /TRACE:3 /INPUT:'answers.txt' /RUN:'Accept x'");
    for (auto _ : state) {
        ScratchMark m = scr_mark();
        benchmark::DoNotOptimize(cmd_option_in(line, opt::RUN));
        scr_release(m);
    }
}
BENCHMARK(BM_OptionLookup);

}  // namespace
