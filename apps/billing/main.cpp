// billing: the invoicing program.
#include "runtime/core/startup.h"
#include "runtime/data/dict.h"
#include "runtime/data/sql.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/script/programs.h"
#include "runtime/ui/wm.h"
#include "runtime/script/proc.h"

namespace {

// The settings files, loaded in this order at the end of start-up; the
// fourth is required.
constexpr std::string_view kSettingsFiles =
    "%APPPATH_DATA%\\%APNAME%CLCUSR.%DATABASE_HOST%.%DATABASE_DBNAME%.DAT,%APNAME%CLCUSR.DAT,"
    "%APPPATH_DATA%\\%APNAME%PARINI.DAT,%APNAME%CLCFIX.DAT;1,QVCLCUSR.DAT,%APPPATH_DATA%\\QVCLCUSR.DAT";

rt::IER ga_hook(int phase) {
    switch (phase & 15) {
    case 1:  // hook slots and functions are registered here, and the command levels
        rt::script_install();
        rt::dict_install();  // after the command levels: it takes level 1
        return 0;
    case 2:
        // The connection comes first: the settings files are named after
        // the database. A program with no connection configured starts
        // without one.
        if (rt::sql_startup_configured()) {
            if (rt::IER st = rt::sql_connect_startup(rt::sqlopt::KindUser)) return st;
        }
        return rt::eval_config_list(rt::sr(kSettingsFiles));
    case 3:
        rt::sql_disconnect_all();
        return 0;
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
    rt::programs_install();
    rt::ui_install();
    return rt::app_main(argc, argv, app);
}
