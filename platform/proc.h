// Processes: starting programs without waiting, asking whether they still
// run, running a shell command with its output read through a pipe, and
// opening a viewer. Every process started here reads its standard input from
// /dev/null (unless asked to keep ours) and inherits no open file of ours
// beyond 0, 1 and 2.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace plat {

struct SpawnRequest {
    std::vector<std::string> argv;  // argv[0] is the program's path
    // Changes to the inherited environment: "NAME=value" sets or replaces,
    // a bare "NAME" removes.
    std::vector<std::string> env;
    bool quiet = false;       // standard output and error to /dev/null
    bool search_path = false; // look argv[0] up in PATH when it has no '/'
    bool keep_stdin = false;  // standard input stays ours (a program run in the foreground)
};

// Starts the program and returns at once. 0 with *pid set, or the errno of
// the failure (a program that does not exist or cannot be run fails here).
int spawn(const SpawnRequest& rq, int* pid);

// Whether a process we started still runs: 1 running; 0 ended, reaped, and
// *exit_code (optional) set; -1 not a process of ours (already reaped).
int proc_poll(int pid, int* exit_code = nullptr);
// Waits for the process to end and reaps it: its exit code, -1 when it is
// not ours. The exit code of a process ended by signal s is 128 + s, as the
// shell reports it.
int proc_wait(int pid);

// Receives a command's output, at most kOutputPiece bytes at a time and in
// order. A non-zero result stops the command; it should be positive, so
// that it cannot be taken for the failure to start.
using OutputSink = int (*)(void* ctx, const char* data, size_t n);
constexpr size_t kOutputPiece = 1024;

// Runs the program (argv[0] looked up in PATH when it has no '/') with its
// standard output and error into one pipe, hands what arrives to the sink
// (nullptr discards it), and waits for it to end. Returns 0 with *exit_code
// set; -1 when it could not be started; or the sink's non-zero result, the
// program (and what it started) having been killed and reaped. Output that a
// background process of the command writes after the command itself ended
// is not waited for.
int run_capture(const std::vector<std::string>& argv, OutputSink sink, void* ctx, int* exit_code);
// The same for a command line of /bin/sh.
int run_shell(std::string_view command, OutputSink sink, void* ctx, int* exit_code);

// Quotes a text as one word of /bin/sh.
std::string sh_quote(std::string_view s);

// Opens viewer n (1 and up) on the argument without waiting: 0, or -1 when
// no viewer is configured or it cannot start. Viewer n is the command of
// the environment variable QV_VIEWER_<n>, a /bin/sh command line in which
// "%s" stands for the argument (quoted as one word), or to which the
// argument is appended when it holds no "%s"; without one, xdg-open when a
// graphical display is available. Viewers write to /dev/null.
int open_viewer(int n, std::string_view arg);

}  // namespace plat
