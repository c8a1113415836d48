// Programs: the program types and their dispatcher, procedure programs,
// parameter names and values with sections, and the definition files with
// numbered records.
#pragma once
#include "runtime/core/types.h"

namespace rt {

extern const std::string_view kProgramTypes;  // "Menu,Accept,...,ExpEval"
extern const std::string_view kFileTypes;     // "PPN,PAN,STP,..."

namespace ptype {
enum : int {
    None = 0, Menu, Accept, AcceptRun, MantAux, MantMain, MantAuto, MantMovs, LnManMain, LnNavMain, PrcExec,
    Report, Reorg, Copy, FileTrans, Help, Perform, FontSet, WizzSelect, ExpEval,
};
}

// The type named exactly, 0 when none.
int prog_type(StrRef name);

// A runner of one program type (its parameter text).
using ProgramRunner = IER (*)(StrRef params);
// The layers that build a type register its runner here; a type without
// one gives 163 with message 0031 "Process not defined".
void prog_register_runner(int type, ProgramRunner runner);
// The runtime's dispatcher (type number in the high 16 bits).
IER prog_dispatch(uint32_t type_code, StrRef params);

// Runs a program run string through the application's callback: brackets
// substituted, split at the first blank (or comma when there is none); when
// the first item names no type, default_type's name is put in front.
IER prog_run(StrRef run_string, int default_type = 0);
// Runs comma-separated run strings from position start (1-based), stopping
// at the first non-zero status; a string of an excluded type is not run and
// gives 124 with its position in *position.
IER prog_run_list(StrRef list, int start, StrRef excluded_types, int* position);

// The two runners of this layer.
IER prc_exec(StrRef params);
IER exp_eval(StrRef params);

// A list offered for a choice (procedure selection); 1-based, 0 for none.
// The window system puts its list-selection window here; until then the
// choice comes from the answer file, else none is made.
using ChooseFn = int (*)(StrRef caption, StrRef items);
void prog_set_chooser(ChooseFn f);

// ------------------------------------------------------------ parameters

// The name of parameter number n (with the section prefix when _AUX is not
// 0); empty for an unknown number. A view or a new scratch string.
StrRef param_name(int number);
// The value of parameter number n in a parameter text: the named option
// (with its section, then bare), else the variable of that name; item n > 0
// takes that comma-separated item. A new scratch string.
StrRef param_value(int number, int item, StrRef params);
// The value of parameter n in the definition loaded last (top of stack 31),
// with its section prefix; no other fallback.
StrRef def_param(int number);

// Sections: the list is item 8 of group 9; the saved record is a text.
StrRef sections_save();
IER sections_set(int aux, StrRef list);  // aux -1 and an empty list keep
IER sections_restore(StrRef saved);      // 163 when it is not a saved record

// ------------------------------------------------------------ definitions

// Loads record n of a definition file (lines of that record joined with
// ':') onto stack 31; a missing record pushes an empty text when
// empty_if_missing, else gives 164.
IER def_load(StrRef file, int kind, int n, bool empty_if_missing = true);
// Writes record n: the text split at ':' outside quotes, each line with the
// prefix of its kind, where record n stood, or before the first greater
// record, or at the end; the file is replaced by temporary file and rename.
// 168 when n does not fit the kind's number columns.
IER def_write(StrRef file, int kind, int n, StrRef text);

// Puts the dispatcher, the type lookup and the runners into the runtime.
void programs_install();

}  // namespace rt
