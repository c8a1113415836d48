#include "platform/proc.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace plat {
namespace {

std::string_view env_name(std::string_view entry) { return entry.substr(0, entry.find('=')); }

// The inherited environment with the request's changes applied.
std::vector<std::string> merged_env(const std::vector<std::string>& changes) {
    std::vector<std::string> out;
    for (char** e = environ; e && *e; ++e) {
        std::string_view name = env_name(*e);
        bool changed = false;
        for (const std::string& c : changes)
            if (env_name(c) == name) changed = true;
        if (!changed) out.emplace_back(*e);
    }
    for (const std::string& c : changes)
        if (c.find('=') != std::string::npos) out.push_back(c);
    return out;
}

std::vector<char*> c_vector(std::vector<std::string>& v) {
    std::vector<char*> out;
    out.reserve(v.size() + 1);
    for (std::string& s : v) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

int exit_code_of(int wstatus) {
    if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
    return -1;
}

enum : int { kNoPipe = -1 };

// posix_spawn with the settings every process of ours gets: standard input
// from /dev/null, output as asked (or into out_fd), no other descriptor of
// ours, default signal handling and an empty signal mask. new_session
// detaches it from our terminal: it can neither read it nor be stopped by it,
// and it can be killed together with what it starts.
int spawn_with(const SpawnRequest& rq, int out_fd, bool new_session, int* pid) {
    if (rq.argv.empty() || rq.argv[0].empty()) return EINVAL;
    for (const std::string& a : rq.argv)
        if (a.find('\0') != std::string::npos) return EINVAL;
    std::vector<std::string> args = rq.argv;
    std::vector<std::string> envs = merged_env(rq.env);
    std::vector<char*> argv = c_vector(args);
    std::vector<char*> envp = c_vector(envs);

    posix_spawn_file_actions_t fa;
    posix_spawnattr_t at;
    if (int e = posix_spawn_file_actions_init(&fa)) return e;
    if (int e = posix_spawnattr_init(&at)) {
        posix_spawn_file_actions_destroy(&fa);
        return e;
    }
    int e = rq.keep_stdin ? 0 : posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (!e && out_fd != kNoPipe) {
        e = posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
        if (!e) e = posix_spawn_file_actions_adddup2(&fa, out_fd, 2);
    } else if (!e && rq.quiet) {
        e = posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        if (!e) e = posix_spawn_file_actions_adddup2(&fa, 1, 2);
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    if (!e) e = posix_spawn_file_actions_addclosefrom_np(&fa, 3);
#endif
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : {SIGPIPE, SIGINT, SIGQUIT, SIGTERM, SIGHUP, SIGCHLD, SIGTSTP, SIGTTIN, SIGTTOU, SIGALRM})
        sigaddset(&defaults, s);
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef POSIX_SPAWN_SETSID
    if (new_session) flags |= POSIX_SPAWN_SETSID;
#else
    if (new_session) flags |= POSIX_SPAWN_SETPGROUP;
#endif
    if (!e) e = posix_spawnattr_setflags(&at, flags);
    if (!e) e = posix_spawnattr_setsigmask(&at, &none);
    if (!e) e = posix_spawnattr_setsigdefault(&at, &defaults);
    if (!e) {
        pid_t p = 0;
        bool search = rq.search_path && rq.argv[0].find('/') == std::string::npos;
        e = search ? posix_spawnp(&p, argv[0], &fa, &at, argv.data(), envp.data())
                   : posix_spawn(&p, argv[0], &fa, &at, argv.data(), envp.data());
        if (!e) *pid = p;
    }
    posix_spawnattr_destroy(&at);
    posix_spawn_file_actions_destroy(&fa);
    return e;
}

int wait_blocking(int pid) {
    int ws = 0;
    for (;;) {
        pid_t r = ::waitpid(pid, &ws, 0);
        if (r == pid) return exit_code_of(ws);
        if (r < 0 && errno != EINTR) return -1;
    }
}

// A descriptor number above 2, so that placing the pipe on 1 and 2 in the
// new process never meets it there.
int above_stdio(int fd) {
    if (fd > 2) return fd;
    int d = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return d;
}

bool executable_in_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view rest = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    while (true) {
        size_t c = rest.find(':');
        std::string dir(rest.substr(0, c));
        if (dir.empty()) dir = ".";
        std::string full = dir + "/" + name;
        struct stat st;
        if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(full.c_str(), X_OK) == 0) return true;
        if (c == std::string_view::npos) return false;
        rest.remove_prefix(c + 1);
    }
}

}  // namespace

int spawn(const SpawnRequest& rq, int* pid) { return spawn_with(rq, kNoPipe, false, pid); }

int proc_poll(int pid, int* exit_code) {
    if (pid <= 0) return -1;
    int ws = 0;
    for (;;) {
        pid_t r = ::waitpid(pid, &ws, WNOHANG);
        if (r == 0) return 1;
        if (r == pid) {
            if (exit_code) *exit_code = exit_code_of(ws);
            return 0;
        }
        if (errno != EINTR) return -1;
    }
}

int proc_wait(int pid) { return pid > 0 ? wait_blocking(pid) : -1; }

int run_capture(const std::vector<std::string>& argv, OutputSink sink, void* ctx, int* exit_code) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    int rfd = above_stdio(fds[0]), wfd = above_stdio(fds[1]);
    if (rfd < 0 || wfd < 0) {
        if (rfd >= 0) ::close(rfd);
        if (wfd >= 0) ::close(wfd);
        return -1;
    }
    SpawnRequest rq;
    rq.argv = argv;
    rq.search_path = true;
    int pid = 0;
    int e = spawn_with(rq, wfd, true, &pid);
    ::close(wfd);  // the command holds the only writing end now: its end is our end of file
    if (e) {
        ::close(rfd);
        return -1;
    }
    // The command's end is noticed even when a process it left in the
    // background keeps the pipe open: then the pipe is read until it is
    // empty, and not waited on further.
    bool ended = false;
    int code = -1;
    int result = 0;
    char buf[kOutputPiece];
    for (;;) {
        pollfd p{rfd, POLLIN, 0};
        int r = ::poll(&p, 1, ended ? 0 : 100);
        if (r < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (r == 0) {
            if (ended) break;
            int ws = 0;
            pid_t w = ::waitpid(pid, &ws, WNOHANG);
            if (w == pid) {
                ended = true;
                code = exit_code_of(ws);
            } else if (w < 0 && errno != EINTR) {
                ended = true;  // reaped elsewhere: its code is lost
            }
            continue;
        }
        ssize_t n = ::read(rfd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            break;
        }
        if (n == 0) break;
        if (sink) {
            int s = sink(ctx, buf, size_t(n));
            if (s) {
                result = s;
                break;
            }
        }
    }
    ::close(rfd);
    if (result) {
        // The command and everything it started form the session's group.
        if (!ended) {
            ::kill(-pid, SIGKILL);
            wait_blocking(pid);
        }
        return result;
    }
    if (!ended) code = wait_blocking(pid);
    if (exit_code) *exit_code = code;
    return 0;
}

int run_shell(std::string_view command, OutputSink sink, void* ctx, int* exit_code) {
    return run_capture({"/bin/sh", "-c", std::string(command)}, sink, ctx, exit_code);
}

std::string sh_quote(std::string_view s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    out += '\'';
    return out;
}

int open_viewer(int n, std::string_view arg) {
    if (n < 1 || arg.find('\0') != std::string_view::npos) return -1;
    std::string var = "QV_VIEWER_" + std::to_string(n);
    const char* conf = std::getenv(var.c_str());
    SpawnRequest rq;
    rq.quiet = true;
    // A shell between us and the viewer puts it in the background and ends
    // at once: we wait for that shell only, and the viewer, when it ends,
    // leaves no process of ours behind.
    if (conf && *conf) {
        std::string cmd = conf;
        std::string q = sh_quote(arg);
        size_t at = cmd.find("%s");
        if (at == std::string::npos) {
            if (!arg.empty()) cmd += " " + q;
        } else {
            for (; at != std::string::npos; at = cmd.find("%s", at + q.size())) cmd.replace(at, 2, q);
        }
        rq.argv = {"/bin/sh", "-c", "eval \"$1\" &", "sh", cmd};
    } else {
        const char* x11 = std::getenv("DISPLAY");
        const char* wl = std::getenv("WAYLAND_DISPLAY");
        if (!(x11 && *x11) && !(wl && *wl)) return -1;
        if (!executable_in_path("xdg-open")) return -1;
        rq.argv = {"/bin/sh", "-c", "\"$@\" &", "sh", "xdg-open", std::string(arg)};
    }
    int pid = 0;
    if (spawn_with(rq, kNoPipe, true, &pid)) return -1;
    return wait_blocking(pid) == 0 ? 0 : -1;
}

}  // namespace plat
