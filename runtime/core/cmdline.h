// The command line: normalisation and option lookup.
#pragma once
#include "runtime/core/types.h"

namespace rt {

// Options, numbered as the list kOptionList counts them from 1.
namespace opt {
enum : int {
    Help = 1, APNAME, APSTART, DPATH, SCRWID, SCRHIG, INPUT, OUTPUT, FILE, INDEX,
    DEVICE, RUN, MODE, TRACE, CONFIG, HOST, DATABASE, USER, PASSW,
};
}
extern const std::string_view kOptionList;

// Normalises a command line into a new scratch string: trims, folds runs of
// blanks outside quotes, and turns " --" and " -" outside quotes into " /".
StrRef cmd_normalize(StrRef line);

// Builds the process command line from an argument vector: the program path,
// then the arguments joined with single blanks. An argument that holds a
// blank, a tab or a '/' in its value (as Linux paths do) and no quote of its
// own gets its value quoted, so that option lookup keeps it whole.
StrRef cmd_from_argv(StrRef program, int argc, char** argv);

// Looks option number n up in the given normalised line: a view or a scratch
// string, empty when absent.
// keep_case leaves a bare value as written (for values that name new files).
StrRef cmd_option_in(StrRef line, int n, bool* found = nullptr, bool keep_case = false);
// The same in the stored command line (environment item 1).
StrRef cmd_option(int n, bool* found = nullptr);
// Position of the option's value in a comma list, 0 when absent.
int cmd_option_is(int n, StrRef list);

}  // namespace rt
