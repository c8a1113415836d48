// Evaluations per second of a few typical expressions.
#include <benchmark/benchmark.h>

#include "runtime/core/env.h"
#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/vars.h"

using namespace rt;

namespace {

struct Runtime {
    Runtime() {
        rt_stores_init();
        ex_install();
        fnlib_install();
        // A store of some size, as an application's scripts leave it.
        for (int i = 0; i < 150; i++) {
            std::string n = "V" + std::to_string(i);
            ex_effect(sr(n + "=" + std::to_string(i) + ";" + n + "#=1.5;" + n + "$='x'"));
        }
        ex_effect(sr("PRICE#=12.5;QTY=3;DISC#=7.5;F$='John';L$='Smith'"));
    }
    ~Runtime() {
        vars_done();
        rt_stores_teardown();
    }
};

void run(benchmark::State& state, const char* text) {
    Runtime r;
    StrRef t = sr_c(text);
    for (auto _ : state) {
        ScratchMark m = scr_mark();
        Value v;
        benchmark::DoNotOptimize(ex_eval(t, &v));
        scr_release(m);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Arithmetic(benchmark::State& s) { run(s, "TOTAL#=PRICE#*QTY\xF7" "DISC#+V120*2/3-1"); }
void BM_TextCompare(benchmark::State& s) { run(s, "N$=F$+' '+L$;N$=='*SMI*'&&QTY>2"); }
void BM_DateConversion(benchmark::State& s) { run(s, "FN$DATE('03/04/2024';4)"); }
void BM_Condition(benchmark::State& s) { run(s, "(V10>5)&&(V20<100)||V30==30"); }

BENCHMARK(BM_Arithmetic);
BENCHMARK(BM_TextCompare);
BENCHMARK(BM_DateConversion);
BENCHMARK(BM_Condition);

}  // namespace
