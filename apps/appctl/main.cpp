// appctl: users, companies, roles and rights of an installation.
#include <cstdio>

#include "apps/appctl/admin.h"
#include "runtime/core/blocks.h"
#include "runtime/core/cmdline.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/log.h"
#include "runtime/core/msg.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/sql.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fnlib.h"
#include "runtime/script/programs.h"
#include "runtime/ui/wm.h"

namespace {

// Its files carry the prefix "AP"; it has no data dictionary of its own.
constexpr std::string_view kAppCode = "APCTL:appctl";
constexpr std::string_view kTitle = "Aplication Control";
constexpr std::string_view kMessages = "1001 Copy Structure from this Database";

rt::IER ap_hook(int phase) {
    if ((phase & 15) == 2 && (static_cast<uint16_t>(rt::sysv_get(rt::sysv::TRACE)) & 0x100)) {
        // A start to probe the installation: one line, then nothing runs.
        rt::ScratchMark m = rt::scr_mark();
        rt::log_text(rt::fmt("%s,%s", {"0", rt::env_get(rt::env::LangModule)}));
        rt::scr_release(m);
        return rt::ier::Info;
    }
    if ((phase & 15) == 3) rt::sql_disconnect_all();
    return 0;
}

// appctl has no menu: its main selection loop is the program. An answer
// file given with INPUT answers its windows in order, and OUTPUT records
// them.
rt::IER run_appctl() {
    rt::ScratchMark m = rt::scr_mark();
    rt::StrRef input = rt::cmd_option(rt::opt::INPUT);
    uint16_t h = input.n ? rt::f_open(input, rt::fmode::ReadOnly | rt::fmode::Quiet) : rt::kBadHandle;
    rt::scr_release(m);
    if (h != rt::kBadHandle) rt::sysv_set(rt::sysv::INHND, static_cast<int16_t>(h));
    bool out_given = false;
    rt::cmd_option(rt::opt::OUTPUT, &out_given);
    if (out_given) rt::sysv_set(rt::sysv::OUTHND, 1);
    rt::IER st = ap::main_loop();
    if (h != rt::kBadHandle) {
        rt::f_close(h);
        rt::sysv_set(rt::sysv::INHND, 0);
    }
    return st;
}

}  // namespace

int main(int argc, char** argv) {
    rt::ex_install();
    rt::fnlib_install();
    rt::programs_install();
    rt::ui_install();
    rt::dict_install();
    ap::install_dialogs();
    rt::mem_settings(-1, -1);
    rt::set_screen_size(80, 24);
    rt::StartRequest rq;
    rq.argc = argc;
    rq.argv = argv;
    rq.appcode = rt::sr(kAppCode);
    rq.description = rt::sr(kTitle);
    rq.hook = ap_hook;
    rt::msg_set_app_block(kMessages);
    rt::IER st = rt::runtime_start(rq);
    if (st == 0) {
        rt::FontSetting font;
        font.height = 24, font.width = 12, font.weight = 400;
        std::snprintf(font.face, sizeof font.face, "%s", "Lucida Console");
        rt::font_push(font);
        st = run_appctl();
        if (st >= rt::ier::UserCanceled && st != rt::ier::UserCanceled) rt::status_box(st);
    }
    return rt::shutdown(ap_hook, st);
}
