// External programs: child instances (the program started again to run one
// program command), viewers, and system commands with their output read
// through a pipe.
#pragma once
#include <string>
#include <vector>

#include "runtime/core/types.h"

namespace rt {

struct ArgumentList;

constexpr int kChildrenMax = 32;
// The environment variable that names a child's connection file.
extern const char* const kChildConnectionVar;  // "QV_RUNPRM"

// Starts the program command in a child instance and returns at once: 0
// started; 148 the caller runs it itself (option OUTPUT names a file, which
// gets the run string instead; _OUTHND not 0; type Help or FontSet); 168
// with kChildrenMax running; 163 for a run string that cannot be passed
// whole (it holds both quote characters, or a NUL); 167 when the process
// cannot be started; 130 when the OUTPUT file cannot be written, 137 when
// the connection file cannot be made.
IER child_start(StrRef run_string);

// The child's argument vector for a run string: the executable, "/RUN:" and
// the run string in quotes, and the first argument of our own command line
// when there is one. 163 when the run string cannot be quoted safely.
IER child_argv(StrRef run_string, const std::string& exe, std::vector<std::string>* argv);

// Children still running; the finished ones leave the table.
int child_count();

// Opens viewer n on the argument without waiting: 0, or -1.
int child_open_viewer(int n, StrRef arg);

// Runs a command line through /bin/sh and waits for it. The sink (nullptr
// discards) gets the output in pieces of at most 1024 bytes, in order; its
// non-zero result stops the command and is returned. 0 with *exit_code set,
// or 164 when the command cannot be started.
using ChildSink = IER (*)(void* ctx, StrRef piece);
IER child_run_command(StrRef command, ChildSink sink, void* ctx, int* exit_code);

// The SYSTEM command: a first number n not 0 opens viewer n on the second
// text; otherwise the text (a first text, else the second), environment
// names expanded, runs through /bin/sh with its output discarded. _STAT
// gets the viewer's result, the command's exit code, or 164 when it cannot
// start.
IER child_system_command(const ArgumentList& a);

// In a child instance: the connection text the parent handed over, read
// from the file named by kChildConnectionVar, which is deleted (a new
// scratch string; empty when there is none). A second call gives "".
StrRef child_take_connection();

// How a child instance is launched. The default starts it in the
// background with the terminal's standard output and error; the window
// system replaces it to give a child its own terminal window or the
// foreground. The launcher returns 0 with *pid set (a process that
// proc_poll can follow), else an errno.
struct ChildLaunch {
    std::vector<std::string> argv;
    std::vector<std::string> env;  // "NAME=value" to add
};
using ChildLauncher = int (*)(const ChildLaunch& rq, int* pid);
void child_set_launcher(ChildLauncher f);  // nullptr: the default

// The program a child instance runs: our own executable, unless a test sets
// another ("" returns to our own).
void child_set_executable(const std::string& path);

// Makes the child count the runtime's port for the close request.
void child_install();

}  // namespace rt
