// The log file, error-log entries and the fatal consistency check.
#pragma once
#include "runtime/core/types.h"

namespace rt {

// Log categories: bits of _TRACE.
namespace logcat {
enum : unsigned { General = 1, SqlFailed = 2, SqlAll = 4, ProcTrace = 8, Startup = 16,
                  RecordActions = 64, NoLog = 128, StartupAbout = 256 };
}

// The log file name: group 9 item 10 when set, else prefix + "log.txt".
StrRef log_file_name();
// Stores the name and deletes a file of that name, so the log starts empty.
void log_set_file(StrRef name);
// Appends the line (and CR LF) when any of bits is set in _TRACE. A file
// that cannot be written gives 164 with its name as detail.
IER log_text(StrRef text, unsigned bits = logcat::General);
IER log_text(std::string_view text, unsigned bits = logcat::General);
// Appends the line whatever _TRACE says (logs a program keeps by itself).
IER log_line(StrRef text);
IER log_status(IER st, unsigned bits = logcat::General);  // "Error #<n>"

// Appends an error-log entry (header with date, time and user, the text, a
// closing line) to file, the log file when file is empty.
IER errlog_entry(StrRef text, StrRef file);

// Fatal check: nothing when cond holds; otherwise an "Assertion Fail" box
// with the name, an entry in "assertions.log", and the process ends.
constexpr int kFatalExitStatus = 141;  // INTERNALERROR
void fatal_check(bool cond, const char* name);

// Today's date (dd, mm, yyyy ordered for the language, joined by '-') and the
// time hh:mm:ss, as used in log headers.
StrRef today_text();
StrRef now_time_text();

}  // namespace rt
