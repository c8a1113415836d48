// billing: the invoicing program.
#include "runtime/core/startup.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"

namespace {

rt::IER ga_hook(int phase) {
    switch (phase & 15) {
    case 1:  // hook slots, command levels and functions are registered here
    case 2:  // connection and settings files
    case 3:  // the database session is closed here
    default:
        return 0;
    }
}

rt::IER ga_program_run(uint32_t type_code, rt::StrRef args) { return rt::run_generic(type_code, args); }

}  // namespace

int main(int argc, char** argv) {
    rt::AppConfig app;
    app.code = "GAPTMH48V:VodazEZI";
    app.title = "Billing";
    app.scratch_kib = 512;
    app.flags = rt::kStartLoadDictionary;
    app.hook = ga_hook;
    app.program_run = ga_program_run;
    rt::ex_install();
    rt::fnlib_install();
    return rt::app_main(argc, argv, app);
}
