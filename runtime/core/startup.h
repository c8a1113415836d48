// Start-up, the start program, the close request and shutdown: the
// runtime's side of the contract with each program's main function.
#pragma once
#include "runtime/core/types.h"

namespace rt {

// Phase hook of the application: phase flags*16+1, flags*16+2, then 3.
using StartupHook = IER (*)(int phase);
// Runs a program command: type number in the high 16 bits, a status (163 for
// an unknown type) in the low 16 bits.
using ProgramRunFn = IER (*)(uint32_t type_code, StrRef args);

constexpr uint8_t kStartLoadDictionary = 2;

struct StartRequest {
    void* instance = nullptr;
    StrRef cmdline{};           // the whole command line, or:
    int argc = 0;               // an argument vector (program path first)
    char** argv = nullptr;
    StrRef appcode{};
    StrRef description{};
    uint8_t flags = 0;
    StartupHook hook = nullptr;
};

// What a program's main function hands the runtime; app_main makes the
// calls in their order (memory settings, program-run callback, screen size,
// start, start program, shutdown) and returns the exit status.
struct AppConfig {
    std::string_view code;     // application code
    std::string_view title;
    int scratch_kib = -1;      // -1: the runtime's default
    int block_entries = -1;
    int cols = 80, rows = 24;
    uint8_t flags = 0;
    StartupHook hook = nullptr;
    ProgramRunFn program_run = nullptr;  // nullptr: the runtime's dispatcher
};
int app_main(int argc, char** argv, const AppConfig& app);

void set_program_run(ProgramRunFn f);
ProgramRunFn program_run();
void set_screen_size(int cols, int rows);
void screen_size(int* cols, int* rows);

// Runs the start-up sequence. A status above 121 is shown in the error box
// before it is returned; 121 (nothing more to run) is returned without one.
IER runtime_start(const StartRequest& rq);
// Runs the start program; an empty name selects the default one.
IER start_program(StrRef name);
// Phase 3, teardown with the leak check, and the exit status (0..255).
int shutdown(StartupHook hook, IER status);

// Runs one program command through the program-run callback. When its first
// word names no type and default_type is given, the whole command is the
// parameter text of that type.
IER run_command(StrRef command, int default_type = 0);
// The runtime's own dispatcher (used when the application stores none).
IER run_generic(uint32_t type_code, StrRef args);
// Asks whether the main window may close.
bool close_request();

// Answer files: the next line of the INPUT file, and recording an answer in
// the OUTPUT file.
StrRef next_answer();
bool record_answer(StrRef text);

// Evaluating expression files at start-up.
IER eval_config_file(StrRef name, bool required);
IER eval_config_list(StrRef list);

// The parts of the system that later subsystems provide. Each has a default
// that behaves as the runtime does while that part is absent.
struct RtPorts {
    IER (*window_instance)(void* instance);
    IER (*load_dictionary)(StrRef prefix);   // the data dictionary
    IER (*load_fonts)();                     // "QVFONT.PPN"
    void (*about_box)();
    IER (*open_main_window)(StrRef menu);
    IER (*message_loop)();
    int (*running_children)();
    // Bracket substitution of a program command (a new scratch string).
    StrRef (*substitute)(StrRef text);
    // Position of a program type name, 0 when unknown.
    int (*program_type)(StrRef name);
    // The runtime's dispatcher of program types (what run_generic runs).
    IER (*dispatch)(uint32_t type_code, StrRef args);
    // Evaluates an expression list.
    IER (*eval)(StrRef text);
};
RtPorts& rt_ports();
void rt_ports_reset();

// A part that keeps blocks of its own in the stores gives them back here,
// before the teardown's leak check; the last one added runs first. Adding
// the same function twice adds it once.
constexpr int kReleasersMax = 8;
void rt_on_release(void (*fn)());

// The stores alone (for tools and tests): block table, scratch area, string
// table, runtime arrays, hook slots and system variables.
IER rt_stores_init();
// Frees everything; returns the module of a leaked block, 0 when none.
int rt_stores_teardown();
// Counts the times the stores were built: what a module derives from them
// (an index, a cache) is stale when the count it saw has changed.
unsigned rt_stores_generation();

}  // namespace rt
