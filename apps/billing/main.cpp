// billing: the invoicing program.
#include "runtime/core/blocks.h"
#include "runtime/core/startup.h"

namespace {

constexpr std::string_view kAppCode = "GAPTMH48V:VodazEZI";
constexpr std::string_view kTitle = "Billing";
constexpr int kScratchKiB = 512;
constexpr int kCols = 80, kRows = 24;

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
    rt::mem_settings(kScratchKiB, -1);
    rt::set_program_run(ga_program_run);
    rt::set_screen_size(kCols, kRows);
    rt::StartRequest rq;
    rq.argc = argc;
    rq.argv = argv;
    rq.appcode = rt::sr(kAppCode);
    rq.description = rt::sr(kTitle);
    rq.flags = rt::kStartLoadDictionary;
    rq.hook = ga_hook;
    rt::IER st = rt::runtime_start(rq);
    if (st == 0) st = rt::start_program(rt::sr_empty());
    return rt::shutdown(ga_hook, st);
}
