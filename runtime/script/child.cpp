#include "runtime/script/child.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/fs.h"
#include "platform/proc.h"
#include "runtime/core/cmdline.h"
#include "platform/ui/wnd.h"
#include "runtime/core/env.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/script/proc.h"
#include "runtime/script/programs.h"

namespace rt {

const char* const kChildConnectionVar = "QV_RUNPRM";

namespace {

// A running child and the connection file made for it, which goes when the
// child has ended in case it died before taking it.
struct Child {
    int pid = 0;
    std::string connection;
};
Child g_children[kChildrenMax];
std::string g_exe;  // empty: our own executable

int default_launch(const ChildLaunch& rq, int* pid) {
    plat::SpawnRequest sp;
    sp.argv = rq.argv;
    sp.env = rq.env;
    return plat::spawn(sp, pid);
}
ChildLauncher g_launch = default_launch;

// The program type of a run string: its first word, up to the first blank
// outside quotes, or the first comma when there is no blank.
int run_type(StrRef run) {
    StrRef s = str_trim(run);
    uint16_t cut = str_find_char(s, ' ', 0, true);
    if (cut == kNotFound) cut = str_find_char(s, ',', 0, true);
    return prog_type(cut == kNotFound ? s : str_sub(s, 0, cut));
}

// Writes the connection text into a new file only we can read; "" when it
// cannot be made.
std::string write_connection(StrRef text) {
    std::string path = plat::make_temp_file(".runprm");
    if (path.empty()) return path;
    int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    bool ok = fd >= 0;
    for (size_t done = 0; ok && done < text.n;) {
        ssize_t w = ::write(fd, text.p + done, text.n - done);
        if (w < 0 && errno == EINTR) continue;
        ok = w > 0;
        if (ok) done += size_t(w);
    }
    if (fd >= 0 && ::close(fd) != 0) ok = false;
    if (!ok) {
        ::unlink(path.c_str());
        path.clear();
    }
    return path;
}

void forget(Child& c) {
    if (!c.connection.empty()) ::unlink(c.connection.c_str());
    c = Child{};
}

struct SinkAdapter {
    ChildSink sink;
    void* ctx;
};
int adapt_sink(void* ctx, const char* data, size_t n) {
    auto* a = static_cast<SinkAdapter*>(ctx);
    ScratchMark m = scr_mark();
    IER st = a->sink(a->ctx, sr(data, n));
    scr_release(m);
    return st;
}

}  // namespace

IER child_argv(StrRef run_string, const std::string& exe, std::vector<std::string>* argv) {
    if (!sr_ok(run_string)) return sr_status(run_string);
    if (std::memchr(run_string.p, '\0', run_string.n)) return ier::BADINPUTDATA;
    ScratchMark m = scr_mark();
    // In quotes the run string is one option value to the child, whatever
    // blanks, colons, slashes or option names it holds.
    StrRef quoted = str_quote(run_string);
    IER st = sr_status(quoted);
    if (!st) {
        argv->clear();
        argv->push_back(exe);
        StrRef run = lst_field(kOptionList, opt::RUN);
        argv->push_back("/" + std::string(sv(run)) + ":" + std::string(sv(quoted)));
        StrRef first = lst_field(env_get(env::CommandLine), 2, ' ');
        if (first.n) argv->push_back(std::string(sv(first)));
    }
    scr_release(m);
    return st;
}

IER child_start(StrRef run_string) {
    if (!sr_ok(run_string)) return sr_status(run_string);
    ScratchMark m = scr_mark();
    IER st = 0;
    if (cmd_option(opt::OUTPUT).n) {
        // Recording a run: the run string goes to the record, and the caller
        // runs the program here.
        st = record_answer(run_string) ? IER(ier::FEATUREREMOVED)
                                       : err_raise(ier::DiskIO, mod::ExecRunTime, "OUTPUT");
        scr_release(m);
        return st;
    }
    int type = run_type(run_string);
    scr_release(m);
    if (sysv_get(sysv::OUTHND) != 0 || type == ptype::Help || type == ptype::FontSet) return ier::FEATUREREMOVED;
    if (child_count() >= kChildrenMax) return ier::DATAOUTBOUND;

    std::string exe = g_exe.empty() ? plat::self_exe() : g_exe;
    if (exe.empty()) return err_raise(ier::CHILDEXECERROR, mod::ExecRunTime, "no executable");
    ChildLaunch rq;
    if ((st = child_argv(run_string, exe, &rq.argv))) return err_detail(st, run_string);

    Child c;
    StrRef conn = env_get(env::Database);
    if (sr_ok(conn) && conn.n) {
        c.connection = write_connection(conn);
        if (c.connection.empty()) return err_raise(ier::DISKWRITERROR, mod::ExecRunTime, plat::temp_folder());
        rq.env.push_back(std::string(kChildConnectionVar) + "=" + c.connection);
    } else {
        rq.env.push_back(kChildConnectionVar);  // none to pass: no name inherited from our own parent
    }
    // The parent's key script and dump files are its own: a child replaying
    // them would take the parent's keys and write over its dumps.
    for (const char* own : {plat::WND_ENV_KEYS, plat::WND_ENV_SCREEN_DUMP, plat::WND_ENV_TREE_DUMP})
        rq.env.push_back(own);
    int e = g_launch(rq, &c.pid);
    if (e || c.pid <= 0) {
        forget(c);
        std::string why = exe + ": " + std::strerror(e ? e : EINVAL);
        return err_raise(ier::CHILDEXECERROR, mod::ExecRunTime, why);
    }
    for (Child& slot : g_children) {
        if (!slot.pid) {
            slot = std::move(c);
            return 0;
        }
    }
    return ier::DATAOUTBOUND;  // not reached: the count was checked
}

int child_count() {
    int n = 0;
    for (Child& c : g_children) {
        if (!c.pid) continue;
        if (plat::proc_poll(c.pid) == 1) n++;
        else forget(c);
    }
    return n;
}

int child_open_viewer(int n, StrRef arg) {
    std::string a(sv(arg));
    if (plat::file_exists(a)) a = plat::os_path(a);
    return plat::open_viewer(n, a);
}

IER child_run_command(StrRef command, ChildSink sink, void* ctx, int* exit_code) {
    if (!sr_ok(command)) return sr_status(command);
    SinkAdapter ad{sink, ctx};
    int code = -1;
    int r = plat::run_shell(sv(command), sink ? adapt_sink : nullptr, &ad, &code);
    if (r < 0) return err_raise(ier::FileNotFound, mod::ExecRunTime, "/bin/sh");
    if (r > 0) return static_cast<IER>(r);
    if (exit_code) *exit_code = code;
    return 0;
}

IER child_system_command(const ArgumentList& a) {
    ScratchMark m = scr_mark();
    bool first_is_text = a.count > 0 && a.arg[0].is_text;
    int16_t n = first_is_text ? 0 : arg_num(a, 0);
    int16_t result;
    if (n) {
        result = static_cast<int16_t>(child_open_viewer(n, arg_text(a, 1)));
    } else {
        StrRef cmd = env_expand(first_is_text ? arg_text(a, 0) : arg_text(a, 1));
        int code = 0;
        IER st = sr_status(cmd);
        if (!st) st = child_run_command(cmd, nullptr, nullptr, &code);
        result = static_cast<int16_t>(st ? st : code);
    }
    scr_release(m);
    return sysv_set(sysv::STAT, result);
}

StrRef child_take_connection() {
    const char* name = std::getenv(kChildConnectionVar);
    if (!name || !*name) return sr_empty();
    std::string path = name;
    ::unsetenv(kChildConnectionVar);
    int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return sr_empty();
    // Only a file of ours that nobody else can read or write holds a
    // connection text we take.
    struct stat st;
    bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                (st.st_mode & 077) == 0 && st.st_size <= static_cast<off_t>(kStrMax);
    StrRef text = sr_empty();
    if (ours) {
        IER err = 0;
        size_t size = static_cast<size_t>(st.st_size);
        char* buf = size ? scr_alloc_w(size, &err) : nullptr;
        size_t got = 0;
        while (buf && got < size) {
            ssize_t r = ::read(fd, buf + got, size - got);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;
            got += size_t(r);
        }
        if (buf) text = {buf, static_cast<uint16_t>(got)};
        ::unlink(path.c_str());
    }
    ::close(fd);
    return text;
}

void child_set_launcher(ChildLauncher f) { g_launch = f ? f : default_launch; }

void child_set_executable(const std::string& path) { g_exe = path; }

void child_install() { rt_ports().running_children = child_count; }

}  // namespace rt
