// billing: the invoicing program.
#include "runtime/core/startup.h"
#include "runtime/data/appstart.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/script/programs.h"
#include "runtime/ui/wm.h"

namespace {

rt::IER ga_program_run(uint32_t type_code, rt::StrRef args) { return rt::run_generic(type_code, args); }

}  // namespace

int main(int argc, char** argv) {
    rt::AppConfig app;
    app.code = "GAPTMH48V:VodazEZI";
    app.title = "Billing";
    app.scratch_kib = 512;
    app.flags = rt::kStartLoadDictionary;
    app.hook = rt::business_startup_phase;
    app.program_run = ga_program_run;
    rt::ex_install();
    rt::fnlib_install();
    rt::programs_install();
    rt::ui_install();
    return rt::app_main(argc, argv, app);
}
