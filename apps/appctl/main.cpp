// appctl: users, companies, roles and rights of an installation.
#include "runtime/core/env.h"
#include "runtime/core/fmt.h"
#include "runtime/core/log.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/data/dict.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/script/programs.h"
#include "runtime/ui/wm.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"

namespace {

// Its files carry the prefix "AP"; it has no data dictionary of its own.
constexpr std::string_view kAppCode = "APCTL:appctl";
constexpr std::string_view kTitle = "Aplication Control";

rt::IER ap_hook(int phase) {
    if ((phase & 15) == 2 && (static_cast<uint16_t>(rt::sysv_get(rt::sysv::TRACE)) & 0x100)) {
        // A start to probe the installation: one line, then nothing runs.
        rt::ScratchMark m = rt::scr_mark();
        rt::log_text(rt::fmt("%s,%s", {"0", rt::env_get(rt::env::LangModule)}));
        rt::scr_release(m);
        return rt::ier::Info;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    rt::AppConfig app;
    app.code = kAppCode;
    app.title = kTitle;
    app.hook = ap_hook;
    rt::ex_install();
    rt::fnlib_install();
    rt::programs_install();
    rt::ui_install();
    rt::dict_install();
    return rt::app_main(argc, argv, app);
}
