// Procedures: the compiler that turns a procedure file into instructions,
// the interpreter that runs them, and the chain of command handlers that
// carries out the application commands.
#pragma once
#include "runtime/core/types.h"
#include "runtime/expr/value.h"

namespace rt {

constexpr int kProcStatementsMax = 16383;
constexpr int kProcLabelsMax = 128;
constexpr int kProcEntriesMax = 128;
constexpr int kProcBlocksMax = 16;
constexpr int kProcReturnDepth = 64;
constexpr int kCmdLevels = 16;
constexpr int kCmdArgsMax = 16;

extern const std::string_view kProcKeywords;  // "GOTO,GOSUB,...,SYSTEM"

// Statement codes: 0 an expression, 1..18 flow keywords, 19..53 commands.
namespace kw {
enum : uint16_t {
    Expr = 0, GOTO, GOSUB, CALL, RETURN, ENDIF, LOOP, LOOP_WHILE, LOOP_UNTIL, ELSE, IF, IF_TRUE,
    DO_WHILE, IF_FALSE, DO_UNTIL, DO, DEF_FN, LOCALVARS, END,
    ACCEPT, BOUNDS, COLOR, CONNECT, DEVICE, DLOCATE, DPRINT, ENDDEVICE, EXPORT, FILESELECT, IMPORT,
    KILL, LOADSTRUCT, LOCATE, MESSAGE, PRINT, SHELL, READ, REMOTE, REPORT, DOCPRINT, WAIT, WINMENU,
    WINOPEN, WINCLOSE, WINSELECT, WINPROG, RC_DELETE, RC_INSERT, RC_UPDATE, RC_WRITE, FILESTRUCT,
    FILESCAN, STATSTEPS, SYSTEM,
    Last = SYSTEM,
};
}

struct Instruction {
    uint16_t code;
    uint16_t operand;  // jump target of the flow codes, else 0
};

// ------------------------------------------------------------ compiler

// Where the compiler's lines come from.
struct LineSource {
    void* ctx;
    // The next line (without its line end); false at the end. A status in
    // *st stops the compiling.
    bool (*next)(void* ctx, StrRef* line, IER* st);
};

// Loads a procedure file (found as written, else in the search path):
// compiles it and appends it to the procedure table. *index gets its table
// index. 164 for a missing or empty file (the table unchanged), 145 for too
// many labels, entries, nested blocks or statements, 147 with the message
// for an undefined label or a closer without opener.
IER proc_load(StrRef file, int* index);
// Compiles the lines of a text (a procedure held in memory).
IER proc_load_text(StrRef text, int* index);
IER proc_unload(int index);
int proc_count();

// What a compiled procedure holds, for tools and tests.
int proc_instructions(int index);
Instruction proc_instruction(int index, int k);
StrRef proc_statement(int index, int k);  // a view, valid while loaded
int proc_entry(int index, StrRef name);   // instruction index, -1 when none

// ------------------------------------------------------------ interpreter

namespace runf {
enum : int { Isolate = 1, Result = 2 };
}

// Runs a procedure: by entry name among the loaded ones (most recent first)
// and/or by file name (loaded for this run and unloaded after it). With
// Result, exactly one text is pushed on stack 30 when the run succeeds (the
// last value computed, empty when there was none). Statuses 0 or 122 and up;
// an error carries "Line: n (+ remmarks):" and the statement in its detail.
IER proc_run_by_name(StrRef entry, StrRef file, int flags);
// Runs a loaded procedure from its start (a whole-procedure run).
IER proc_run(int index, int flags);

// ------------------------------------------------------------ commands

struct Argument {
    bool is_text;
    int16_t num;   // a number's integer value
    Num value;     // a number as the evaluator gave it
    StrRef text;   // a text, or the text form of a number
};
struct ArgumentList {
    int count = 0;
    Argument arg[kCmdArgsMax];
    StrRef statement{};  // the statement text as written
};
// Reads an argument; a missing trailing one is 0 or the empty text.
int16_t arg_num(const ArgumentList& a, int i);
StrRef arg_text(const ArgumentList& a, int i);

// A handler that does not know a code returns kCmdNotMine: the code goes on
// to the next non-empty level above; with none left the status is 147.
constexpr IER kCmdNotMine = 0xFFFE;
using CommandHandler = IER (*)(int code, const ArgumentList& args);
void cmd_register(int level, CommandHandler h);  // levels above 15 are ignored
CommandHandler cmd_handler(int level);
// Fills the runtime's levels 0 to 5 (in the order 5 to 0), as the
// application does in its phase 1.
void cmd_register_runtime();
// Runs a command through the chain from level 0.
IER cmd_dispatch(int code, const ArgumentList& args);
// The window level (2). The runtime's own handler shows MESSAGE boxes,
// waits (WAIT), keeps the LOCATE position and hands PRINT to the print
// port; the window system puts a handler of its own in its place, which
// passes on to cmd_window_level_base what it does not take.
// cmd_register_runtime registers the one set here (nullptr: the runtime's).
void cmd_set_window_level(CommandHandler h);
IER cmd_window_level_base(int code, const ArgumentList& args);

// What the interpreter asks of the window system and the data layer while
// they are absent, and where shown text goes.
struct ScriptPorts {
    void (*pump)();              // lets pending window messages be handled
    bool (*cancel_requested)();  // the user asked to cancel
    int (*open_structures)();    // file structures opened by FILESTRUCT
    void (*restore_structures)(int count);
    void (*restore_selections)(int count);  // back to that many selections
    void (*close_progress)();
    bool (*progress_open)();
    void (*close_script_windows)();
    // PRINT's text at a row and column while no script window shows it.
    void (*print)(int row, int col, StrRef text);
    // WAIT KEY: the key class of the next key, 122 when none can come.
    IER (*wait_key)(int* key);
};
ScriptPorts& script_ports();
void script_ports_reset();

// Puts the procedure runner into hook slot 1 (EXEC$) and the handlers of the
// runtime's levels; the compiler also fills the slot when it compiles.
void script_install();
// Frees the loaded procedures (before the stores are torn down).
void script_done();

}  // namespace rt
