#include <chrono>
#include <thread>

#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/msg.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/script/child.h"
#include "runtime/script/proc.h"
#include "runtime/script/procrec.h"

namespace rt {
namespace {

CommandHandler g_levels[kCmdLevels];
CommandHandler g_window_level = nullptr;  // the window system's level 2

// Where PRINT and ACCEPT write next in the current script window.
int g_row = 0, g_col = 0;

IER removed(StrRef what) {
    err_origin(1, mod::ExecRunTime, ier::FEATUREREMOVED);
    return err_detail(ier::FEATUREREMOVED, what, true);
}

// Level 0: devices, KILL and SYSTEM. The devices and SYSTEM come with their
// own layers.
IER level0(int code, const ArgumentList& a) {
    if (code == kw::SYSTEM) return child_system_command(a);
    if (code == kw::KILL) {
        ScratchMark m = scr_mark();
        StrRef name = env_expand(arg_text(a, 0));
        file_delete(name);
        scr_release(m);
        return 0;
    }
    return kCmdNotMine;
}

// Level 2 without windows: the window and screen commands. MESSAGE,
// LOCATE, PRINT and WAIT are complete here; the window system takes the
// others (and PRINT into its windows).
IER level2(int code, const ArgumentList& a) {
    switch (code) {
    case kw::MESSAGE: {
        ScratchMark m = scr_mark();
        StrRef text = arg_text(a, 0);
        StrRef second = arg_text(a, 1);
        if (!second.n) {
            msg_box(text, msg(12), box::Warning);
        } else {
            char answer = msg_box(text, msg(14), box::YesNo);
            StrRef yes = msg(11);
            sysv_set(sysv::STAT, static_cast<int16_t>(yes.n && answer == yes.p[0] ? 1 : 0));
        }
        scr_release(m);
        return 0;
    }
    case kw::LOCATE:
        g_row = arg_num(a, 0);
        g_col = arg_num(a, 1);
        return 0;
    case kw::PRINT: {
        StrRef t = arg_text(a, 0);
        script_ports().print(g_row, g_col, t);
        g_col += t.n;
        return 0;
    }
    case kw::WAIT: {
        StrRef first = arg_text(a, 0);
        if (a.count && a.arg[0].is_text && sv(str_upper(first)) == "KEY") {
            int key = 0;
            IER st = script_ports().wait_key(&key);
            if (st) return st;
            sysv_set(sysv::LASTKEY, static_cast<int16_t>(key));
            return 0;
        }
        // Milliseconds of the steady clock: neither processor time nor a
        // clock that may be set back.
        long long ms = a.count && !a.arg[0].is_text ? num_int_part(a.arg[0].value, num_precis()) : 0;
        if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return 0;
    }
    default:
        return kCmdNotMine;
    }
}

// Level 4: transfers; CONNECT and REMOTE are removed.
IER level4(int code, const ArgumentList&) {
    if (code == kw::CONNECT) return removed(sr_empty());
    if (code == kw::REMOTE) return removed(sr("ExecRunTrans REMOTE"));
    return kCmdNotMine;
}

// Level 5: file selections and scans; SHELL is removed.
IER level5(int code, const ArgumentList&) {
    if (code == kw::SHELL) return removed(sr("ExecRunUtils SHELL"));
    return kCmdNotMine;
}

// Levels 1 (data) and 3 (reports) are filled by their layers.
IER level_later(int, const ArgumentList&) { return kCmdNotMine; }

}  // namespace

int16_t arg_num(const ArgumentList& a, int i) { return (i >= 0 && i < a.count) ? a.arg[i].num : 0; }

StrRef arg_text(const ArgumentList& a, int i) { return (i >= 0 && i < a.count) ? a.arg[i].text : sr_empty(); }

void cmd_register(int level, CommandHandler h) {
    if (level >= 0 && level < kCmdLevels) g_levels[level] = h;
}

CommandHandler cmd_handler(int level) { return (level >= 0 && level < kCmdLevels) ? g_levels[level] : nullptr; }

void cmd_register_runtime() {
    cmd_register(5, level5);
    cmd_register(4, level4);
    cmd_register(3, level_later);
    cmd_register(2, g_window_level ? g_window_level : level2);
    cmd_register(1, level_later);
    cmd_register(0, level0);
    g_row = g_col = 0;
}

void cmd_set_window_level(CommandHandler h) { g_window_level = h; }

IER cmd_window_level_base(int code, const ArgumentList& args) { return level2(code, args); }

IER cmd_dispatch(int code, const ArgumentList& args) {
    bool any = false;
    for (int level = 0; level < kCmdLevels; level++) {
        if (!g_levels[level]) continue;
        any = true;
        IER st = g_levels[level](code, args);
        if (st != kCmdNotMine) return st;
    }
    return any ? IER(ier::SINTAXERROR) : IER(ier::FEATUREREMOVED);
}

void script_install() {
    cmd_register_runtime();
    child_install();
    proc_put_runner();
    rt_on_release(script_done);
}

}  // namespace rt
