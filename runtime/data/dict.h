// File structures and the data dictionary: numbered, named, fixed-width
// record layouts of typed fields with keys, their record buffers (the
// current record and its saved copy), and field references name{file}.
#pragma once
#include "runtime/core/types.h"

namespace rt {

struct ArgumentList;

constexpr int kStructsMax = 30;       // a thirtieth opens but takes no field
constexpr int kKeySegmentsMax = 5;
constexpr int kDictLineMax = 512;
constexpr int kFieldWidthMax = 32767;
constexpr int kDictMarksMax = 7;      // FILESTRUCT marks

struct KeySegment {
    uint16_t offset;  // 0-based in the record
    uint16_t length;
};

// ------------------------------------------------------------ building

// Appends a structure; its number is returned in *number. 161 when 30 are open.
IER dict_open(int cls, StrRef name, StrRef folder, int* number = nullptr);
// Adds a field to the structure opened last: 161 when none is open or it is
// the thirtieth; 168 for a width over 32,767 or a record over 65,535.
IER dict_add_field(StrRef name, int width, char type);
// Completes the structures before `structure`, then adds the key (at most 5
// segments are kept); 163 for a structure beyond the open ones or no
// segment, 141 for a segment outside the record's fields. A declared key
// takes the place of a default key given earlier, so declared keys come
// first in whatever order they arrive.
IER dict_add_key(int structure, int segments, const KeySegment* seg);
IER dict_add_relation(int structure, StrRef text);  // 151 for a structure not open
void dict_complete(int up_to);                      // default keys where none was declared

// Loads XXDICC.DAT and XXREL.DAT for the prefix (first two characters of
// name) through the search path; 164 with the name when XXDICC.DAT is missing.
// Structures are completed once both files (and what they include) are read,
// so the keys of XXREL.DAT come before any default key. Lines over 512
// characters give 146, malformed numbers 163, an include cycle 163.
IER dict_load(StrRef name);
// The name of a definition file of a prefix: kind 1..5 of
// "DICC.DAT,REL.DAT,RELUP.DAT,RELUPSQL.DAT,MENU.PPN" (a new scratch string).
StrRef dict_def_name(StrRef prefix, int kind);
// Removes every structure (a new start-up, tests).
void dict_clear();

// ------------------------------------------------------------ reading

int dict_count();                      // open structures
int dict_find(StrRef name);            // structure number by name, 0 when none
StrRef dict_name(int structure);       // views, valid until the dictionary changes
StrRef dict_folder(int structure);
StrRef dict_relations(int structure);
int dict_class(int structure);
int dict_fields(int structure);        // field count
int dict_width(int structure);         // record width
int dict_keys(int structure);          // key count
// A number unique to this opening of the structure (0 when it is not open):
// what keeps state per structure (the file control) sees a reopened number.
unsigned dict_stamp(int structure);
// A data file named as in a reference's file part: empty for the current
// file, a number, or a name. 0 when it names no open structure.
int dict_file_number(StrRef file_part);

struct FieldInfo {
    int number = 0;   // within the structure, from 1
    int offset = 0;
    int width = 0;
    char type = 'A';
    StrRef name{};
};
// Field by number (from 1); false when out of range.
bool dict_field(int structure, int field, FieldInfo* out);
// Field number by name (exact), else by number text; -1 when none.
int dict_field_find(int structure, StrRef name);
// Key k (from 1): its segments.
int dict_key(int structure, int key, KeySegment* seg);  // segment count, 0 when none
// The field that holds the first byte of a key's segment (from 1); 0 when none.
int dict_key_field(int structure, int key, int segment);

// ------------------------------------------------------------ records

// Field value: the field's characters in half `buffer` (1 current, 2 saved)
// of the record, a view. 168 with "(File:%s, Field:%s)" for a field or file
// out of range.
IER dict_value(int structure, int field, int buffer, StrRef* out);
// Sets a field of the current record, formatted to its type and width: 151
// for a file not open, 168 for a bad field or a value that does not fit
// (the record unchanged).
IER dict_set(int structure, int field, StrRef text);
IER dict_key_value(int structure, int key, int buffer, StrRef* out);  // a new scratch string
IER dict_set_key(int structure, int key, StrRef text);
void dict_clear_record(int structure);
void dict_save_record(int structure);     // current → saved copy
void dict_restore_record(int structure);  // saved copy → current
bool dict_record_changed(int structure);
// The whole current record (a view) and writing it whole (for the record
// layer, which moves rows in and out).
StrRef dict_record(int structure, int buffer);
IER dict_put_record(int structure, StrRef record);

// File names of a structure's own files (kinds of the list
// ",FD,DIR,NDX,TMP,TXT"; 1 the name; 7 a new temporary file, made with
// mkstemp and pushed on stack 31 for its owner to delete). A new scratch
// string; the error value 151 for a structure not open (kinds other than 7).
StrRef dict_file_name(int structure, int kind);

// Field references: "field{file}" resolved to structure and field.
IER dict_resolve(StrRef file_part, StrRef field_part, int* structure, int* field);

// FILESTRUCT's marks: save before defining, restore removes what came after.
IER dict_mark();          // 168 for an eighth mark
IER dict_restore_mark();  // with no mark left every structure is removed
int dict_marks();         // marks held

// The level-1 command handler: LOADSTRUCT and FILESTRUCT; the other codes
// go on (kCmdNotMine).
IER dict_command(int code, const ArgumentList& args);

// Puts the field references into the evaluator, LOADSTRUCT/FILESTRUCT into
// level 1 of the command chain (with the record commands of rec_install), the interpreter's clean-up of FILESTRUCT
// structures and the start-up's dictionary load. Call it after
// script_install() (which fills level 1 with a placeholder).
void dict_install();

}  // namespace rt
