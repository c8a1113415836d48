// The record layer as the built-in functions reach it. The data layer puts
// its functions here; until then no data file exists, and every call
// answers as it does for a file that is not there.
#pragma once
#include "runtime/core/types.h"

namespace rt {

struct RecordPort {
    // The number of a data file given by name or number; 0 when it is none.
    int (*file_number)(StrRef name);
    IER (*record_count)(int file, long long* count);
    // Finds a record by key (or, with flag 8, by a record condition).
    IER (*find)(StrRef key, int file, int index, int flags);
    // Follows a relation of the file (a, b and flags passed on; raw text).
    IER (*relate)(int file, int a, int b, int flags, StrRef raw);
    // Moves by an action of "NEW,TOP,PRV,RLD,NXT,..." (its number).
    IER (*locate)(int action, int file);
    // Selects data files by a list; "RESTORE" gives the previous selection.
    IER (*select)(StrRef list);
    // The key of an index from half `buffer` of the record (1 current, 2 saved).
    IER (*key_text)(int file, int index, int buffer, int segments, StrRef* out);
    IER (*last_status)(int file, IER* st);
    // The characters of field{file} in half `buffer` of the record.
    IER (*field_chars)(StrRef ref, int buffer, StrRef* out);
};

// nullptr puts back the answers of "no data file".
void rec_set_port(const RecordPort* port);
const RecordPort& rec_port();

// Hook slot 1: runs a procedure for EXEC$ with its argument text; its result
// is left on top of stack 30.
using ExecProcFn = IER (*)(StrRef name, StrRef args);

// Hook slot 3: the work-file relation access FILEREL calls during an
// accumulation; the arguments are those of RecordPort::relate.
using WorkRelationFn = IER (*)(int file, int a, int b, int flags, StrRef raw);

}  // namespace rt
