// The window manager put into the runtime: start-up ports, message boxes,
// the interpreter's ports and window level, the chooser and FontSet.
#include "runtime/core/env.h"
#include "runtime/core/fmt.h"
#include "runtime/core/list.h"
#include "runtime/core/msg.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/script/child.h"
#include "runtime/script/proc.h"
#include "runtime/script/programs.h"
#include "runtime/ui/screen.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;

int g_flags = 0;

IER window_instance(void*) {
    int cols, rows;
    screen_size(&cols, &rows);
    wnd_set_screen_size(rows, cols);
    grid_default().cols = static_cast<int16_t>(cols);
    grid_default().rows = static_cast<int16_t>(rows);
    if (g_flags & kUiStartLate) return 0;
    if (wnd_init() != WND_OK) return ui::window_error("window system");
    return 0;
}

// The box kinds and answers of the runtime are those of the window system.
int box_port(StrRef text, StrRef caption, int kind) { return wnd_msgbox(sv(text), sv(caption), kind); }

void about_box() {
    ScratchMark m = scr_mark();
    StrRef pattern = msg(76);
    StrRef text;
    if (pattern.n) {
        StrRef prog = lst_field(env_get(env::CommandLine), 1, ' ');
        text = fmt(pattern, {"2017", env_get(env::ApDescrip), "2.20", 0, env_get(env::LangModule),
                             static_cast<int>(sysv_get(sysv::PRECIS)), 1700, prog, env_folder(folder::Default),
                             env_folder(folder::Data)});
    } else {
        text = fmt("%s\r\n%s", {env_get(env::ApDescrip), env_get(env::ApName)});
    }
    msg_box(text, msg(75), box::Info);
    scr_release(m);
}

void pump() { wm_pump(); }

// A choice from a list: the answer file first, as a dialog would take it.
int choose(StrRef caption, StrRef items) {
    ScratchMark m = scr_mark();
    StrRef a = next_answer();
    int n = a.n ? str_number(a) : -1;
    scr_release(m);
    if (n >= 0) return n;
    SelectSpec s;
    s.caption = caption;
    s.items = items;
    return select_run(s);
}

}  // namespace

void ui_install(int flags) {
    g_flags = flags;
    RtPorts& p = rt_ports();
    p.window_instance = window_instance;
    p.load_fonts = fonts_load;
    p.message_loop = wm_message_loop;
    p.about_box = about_box;
    msgbox_set_port(box_port);
    ScriptPorts& s = script_ports();
    s.pump = pump;
    s.cancel_requested = ui::script_cancel_requested;
    s.close_progress = progress_close;
    s.progress_open = progress_is_open;
    s.close_script_windows = script_windows_close_all;
    s.wait_key = ui::script_wait_key;
    cmd_set_window_level(script_commands);
    cmd_register(2, script_commands);
    prog_set_chooser(choose);
    prog_register_runner(ptype::FontSet, fontset_run);
    ui::launcher_install();
    screens_install();
}

void ui_reset() {
    screens_reset();
    ui::script_reset();
    ui::progress_reset();
    ui::dispatch_reset();
    ui::fonts_reset();
    ui::wstack_reset();
    grid_default() = CellGrid{};
    grid_override() = CellGrid{0, 0, 0, 0, 0, 0};
    child_set_launcher(nullptr);
    wnd_shutdown();
}

}  // namespace rt
