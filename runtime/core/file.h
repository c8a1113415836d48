// Numbered file handles over C streams, folders and the text-line reader.
#pragma once
#include "runtime/core/types.h"

namespace rt {

constexpr int kFileHandles = 40;        // 0..2 are the standard streams
constexpr uint16_t kBadHandle = 0xFFFF;
constexpr size_t kFileNameMax = 384;    // a name must be shorter
constexpr size_t kFileChunk = 512;
constexpr long long kPosNone = -1;      // "current position" / "end of file" / "no size"

namespace fmode {
enum : int { Update = 1, Create = 2, Append = 4, ReadOnly = 8, Quiet = 128 };
}

uint16_t f_open(StrRef name, int mode);
void f_close(uint16_t h);
void f_close_all();  // shutdown
bool f_at_end(uint16_t h);
long long f_size(uint16_t h);      // kPosNone for the standard handles
long long f_tell(uint16_t h);
IER f_seek(uint16_t h, long long off);  // 130 on failure
// The next line as a new scratch string; the error value 130 at the end of
// the file, 146 when the line does not fit a string value or the scratch area.
StrRef f_read_line(uint16_t h);
// Reads up to count bytes at off (kPosNone: current position). Returns the
// count read, or -1 when off is at or beyond the end.
long long f_read(uint16_t h, long long off, size_t count, char* buf);
// Writes at off (kPosNone: end of file); -1 when a chunk is not written whole.
long long f_write(uint16_t h, long long off, StrRef text);

long long file_size(StrRef name);  // 0 when it cannot be opened
// The file's bytes from off (count -1: to the end) as a scratch string; 145
// when the free scratch space is smaller, 146 beyond 65535 bytes.
StrRef file_read(StrRef name, long long off = 0, long long count = -1);
// The whole file with CR LF, then lone LF, replaced by joiner.
StrRef file_read_joined(StrRef name, StrRef joiner);
// Writes text at off; off -2 replaces the whole file (by temporary file and
// rename). 131 when not all bytes were written.
constexpr long long kWriteReplace = -2;
IER file_write(StrRef name, long long off, StrRef text);
IER file_append_line(StrRef name, StrRef text);
int file_delete(StrRef name);
int file_rename(StrRef from, StrRef to);
// Names of matching files, each followed by a NUL; 164 when none.
StrRef file_find(StrRef pattern);
StrRef folder_current();
int folder_change(StrRef name);
int folder_make(StrRef name);        // 0 or 0xFFFF
IER folder_make_all(StrRef path);    // parents first; 163 without a folder part
// A new unique temporary file name ending in name, in the temporary folder.
StrRef temp_file_name(StrRef name);

// Reads the lines of a file onto a queue (normally 37). Record kind 0 takes
// every line whole; kinds 1..6 take the lines whose record number (at the
// kind's columns, blanks counting as zeros) equals value, keeping the kind's
// columns; a kind above 6 counts as 0. Returns the count, or 0xFFFF when the
// file cannot be opened or gave no line. When the string table fills up,
// *st gets 159 and the result is 0xFFFF: a truncated file never reads as
// complete.
constexpr int kRecordKinds = 7;
// The record number a line carries for a kind (0 for kinds 0 and 5; -1 when
// its number columns hold something else than digits and blanks), and the
// part of the line the kind keeps (a view).
int file_record_number(StrRef line, int kind);
StrRef file_record_text(StrRef line, int kind);
int file_lines_to_queue(StrRef name, int kind, int value, int queue, IER* st = nullptr);
// Takes the first n lines off queue 37, joined with joiner.
StrRef lines_join(int n, StrRef joiner);

}  // namespace rt
