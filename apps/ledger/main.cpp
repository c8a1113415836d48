// ledger: the accounting program.
#include "runtime/core/startup.h"
#include "runtime/data/appstart.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/script/programs.h"
#include "runtime/ui/wm.h"

namespace {

// Program types the ledger handles itself.
constexpr unsigned kTypeMantMain = 5, kTypeLnManMain = 8, kTypeLnNavMain = 9;

rt::IER co_program_run(uint32_t type_code, rt::StrRef args) {
    switch (type_code >> 16) {
    case kTypeLnManMain:
        return 0;  // the line maintenance runs inside its document window
    case kTypeMantMain:
    case kTypeLnNavMain:
    default:
        return rt::run_generic(type_code, args);
    }
}

}  // namespace

int main(int argc, char** argv) {
    rt::AppConfig app;
    app.code = "COLDGR27K:VodazEZI";
    app.title = "Ledger";
    app.scratch_kib = 512;  // 512 KiB and 512 marks
    app.flags = rt::kStartLoadDictionary;
    app.hook = rt::business_startup_phase;
    app.program_run = co_program_run;
    rt::ex_install();
    rt::fnlib_install();
    rt::programs_install();
    rt::ui_install();
    return rt::app_main(argc, argv, app);
}
