// How a child instance shows itself in a terminal: in a new tmux window when
// the program runs under tmux, in a terminal emulator of its own when a
// graphical display is there, else in the foreground of this terminal while
// this program waits. Without a terminal (headless) it runs in the
// background, as the runtime starts it by default.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/fs.h"
#include "platform/proc.h"
#include "runtime/script/child.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;

bool env_set_(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

std::string sh_words(const std::vector<std::string>& argv) {
    std::string out;
    for (const std::string& a : argv) out += (out.empty() ? "" : " ") + sh_quote(a);
    return out;
}

// Runs a helper to its end; its exit code, or -1 when it cannot start.
int run_helper(const std::vector<std::string>& argv) {
    SpawnRequest rq;
    rq.argv = argv;
    rq.search_path = true;
    rq.quiet = true;
    int pid = 0;
    if (spawn(rq, &pid) != 0) return -1;
    return proc_wait(pid);
}

// The child runs in a new window of the tmux session. It is not our process,
// so a waiter of ours stands for it: `tmux wait-for` on a channel that the
// window's shell signals when the child ends, however it ends.
int launch_tmux(const ChildLaunch& rq, int* pid) {
    static int serial = 0;
    std::string channel = "qvchild-" + std::to_string(::getpid()) + "-" + std::to_string(++serial);
    std::string signal = "tmux wait-for -S " + channel;
    std::string cmd = "trap " + sh_quote(signal) + " EXIT HUP INT TERM; " + sh_words(rq.argv);
    std::vector<std::string> nw{"tmux", "new-window", "-c", current_folder()};
    // The window starts from the tmux server's environment: ours goes with
    // the child, as it would to a process we start (the window's own TMUX
    // names stay).
    for (char** e = environ; e && *e; e++) {
        std::string_view v(*e);
        if (v.rfind("TMUX=", 0) == 0 || v.rfind("TMUX_PANE=", 0) == 0 || v.find('=') == std::string_view::npos)
            continue;
        nw.push_back("-e");
        nw.push_back(std::string(v));
    }
    for (const std::string& e : rq.env) {
        nw.push_back("-e");
        nw.push_back(e);
    }
    nw.push_back(cmd);
    if (run_helper(nw) != 0) return ECHILD;
    SpawnRequest w;
    w.argv = {"tmux", "wait-for", channel};
    w.search_path = true;
    w.quiet = true;
    return spawn(w, pid);
}

int launch_emulator(const ChildLaunch& rq, int* pid) {
    SpawnRequest sp;
    sp.argv = {"x-terminal-emulator", "-e", "/bin/sh", "-c", sh_words(rq.argv)};
    sp.env = rq.env;
    sp.search_path = true;
    sp.quiet = true;
    return spawn(sp, pid);
}

// The terminal is handed over until the child ends.
int launch_foreground(const ChildLaunch& rq, int* pid) {
    SpawnRequest sp;
    sp.argv = rq.argv;
    sp.env = rq.env;
    sp.keep_stdin = true;
    wnd_suspend();
    int e = spawn(sp, pid);
    if (!e) proc_wait(*pid);
    wnd_resume();
    return e;
}

int launch(const ChildLaunch& rq, int* pid) {
    if (wnd_backend() != WND_TERMINAL) {
        SpawnRequest sp;
        sp.argv = rq.argv;
        sp.env = rq.env;
        return spawn(sp, pid);
    }
    if (env_set_("TMUX") && launch_tmux(rq, pid) == 0) return 0;
    if ((env_set_("DISPLAY") || env_set_("WAYLAND_DISPLAY")) && launch_emulator(rq, pid) == 0) return 0;
    return launch_foreground(rq, pid);
}

}  // namespace

namespace ui {
void launcher_install() { child_set_launcher(launch); }
}  // namespace ui

}  // namespace rt
