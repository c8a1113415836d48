// Record access on SQL tables: every record operation on a file structure
// (first, next, previous, find, read by key, insert, update, delete, the
// write of a window or a script) becomes one SQL statement over the
// structure's table, and the row it returns goes into the record buffer.
// Keys shared by several rows are walked through a held result; one of
// several rows with one key is changed under a FOR UPDATE cursor.
#pragma once
#include <string>

#include "runtime/core/types.h"

namespace rt {

constexpr int kCursorsMax = 30;
constexpr int kAuxTransaction = 4096;  // _AUXSTAT: a transaction is open
constexpr int kAuxRawSql = 256;        // _AUXSTAT: conditions are SQL as written
constexpr int kUpstatNoDeleteCheck = 16;
constexpr int kUpstatNoKeyTest = 64;
constexpr int kSyscompatPlainOrder = 1;

// Move bits (the low byte of an operation word).
namespace mv {
enum : int { Clear = 0x01, Equal = 0x02, Back = 0x04, Relative = 0x10, End = 0x20, Value = 0x40 };
constexpr int Top = 0x24, Bot = 0x20, Nxt = 0x12, Prv = 0x16, Fnd = 0x40, Lst = 0x42;
}
// Record-write operations (the high byte of an operation word, shifted).
namespace rw {
enum : int { Insert = 0x0500, Delete = 0x0600, Write = 0x0700, NewRules = 0x0100, OldRules = 0x0200,
             KeyTests = 0x0800, NoRules = 0x1000 };
}
// Read-by-key options.
namespace rk {
enum : int { GreaterEqual = 1, Fill = 2 };
}

// One per open structure, addressed by file number; reset when the
// structure is (re)opened.
struct FileControl {
    int16_t key = 1;
    IER status = 2;
    int16_t work_handle = -1;
    int16_t held_slot = -1;  // a multi-row result of one key value
    int held_row = 0;
    int16_t rules = -1;
    IER batch_status = 0;
    int batch_cut = 0, batch_row = 0;
    int16_t batch_slot = -1, batch_prev = -1;
    uint8_t mode = 0;
    unsigned stamp = 0;
    // The results the slots held when this file took them: a slot that
    // another user has taken since (the connection closed and reopened) is
    // never released on this file's account.
    const void* held_res = nullptr;
    const void* batch_res = nullptr;
    const void* prev_res = nullptr;
};
// The control of an open file; nullptr (and 161 reported) for file 0 or a
// file beyond the open structures.
FileControl* rec_control(int file);
// Resets a file's control, releasing what it held (a selection opens it).
IER rec_open(int file);
// Releases what every file holds and forgets the controls.
void rec_reset_all();

// ------------------------------------------------------------ text

// The column list of a structure is its fields; trailing NUL, NULL, OTHER
// and AVOID fields live only in the buffer.
int rec_stored_fields(int file);
// The key condition of key k with a value (cut into the key's fields), the
// key order of key k, a field's SQL value from half `buffer`.
IER rec_key_condition(int file, int key, StrRef value, int op, std::string* out);
IER rec_range(int file, int key, StrRef start, StrRef bound, int op, StrRef extra, std::string* out);
std::string rec_key_order(int file, int key, bool descending);
IER rec_field_sql(int file, int field, int buffer, std::string* out, bool* is_null = nullptr);
// The condition that a row equals half `buffer` of the record in every
// stored field.
IER rec_row_condition(int file, int buffer, std::string* out);

// An expression-language condition as SQL (field references become
// columns, constants values); with _AUXSTAT 256 the text as it stands.
IER rec_filter(StrRef condition, std::string* out);

// ------------------------------------------------------------ records

IER rec_move(int file, int bits, StrRef extra = {}, StrRef bound = {});
IER rec_read_key(int file, int key, StrRef value, int options);
// Positions on the first record, by the current key, satisfying a
// condition of the expression language.
IER rec_find_where(int file, StrRef condition);
IER rec_insert(int file);
IER rec_update(int file);
IER rec_delete(int file, bool check);
IER rec_write(int op, int file, StrRef rules, StrRef test);
// An operation word: write part (high byte) then move part (low byte).
IER rec_operation(int file, int word);
// A navigation action by code (1..18 of the action list) or word.
int rec_action_code(StrRef word);  // 0 when none
int rec_action_word(int code);     // 0x00FF for actions without data work
IER rec_action(int file, int code);

IER rec_begin();
IER rec_end(IER st);
IER rec_delete_group(int file, int key, StrRef value, int options);
IER rec_delete_all(StrRef table);
IER rec_count(int file, StrRef where, long long* count);

IER rec_batch(int file, int key, StrRef start, StrRef bound, int limit, int op, StrRef condition);
int rec_batch_rows(int file);
StrRef rec_batch_value(int file, int row, int field);  // a view; empty when out of range
IER rec_batch_load(int file, int row);
void rec_batch_release(int file);

// Calls per record of a loop; its status stops the loop when it is 122 or
// above.
using RecLoopFn = IER (*)(void* ctx);
IER rec_loop(int file, StrRef start, StrRef record_cond, StrRef write_exp, StrRef end_cond, StrRef rules,
             RecLoopFn each, void* ctx, int* written);

// The relational-update rules of a write (the import layer registers
// them): run on the record in the buffer, with _SGN set to sign. None
// registered: no rules run.
using RelUpdateFn = IER (*)(int file, StrRef rules, int sign);
void rec_set_rel_update(RelUpdateFn f);

// The RC_INSERT, RC_DELETE and RC_WRITE commands (level 1, before the
// dictionary's), the record port of the built-in functions. Called by
// dict_install().
IER rec_command(int code, const struct ArgumentList& args);
void rec_install();

}  // namespace rt
