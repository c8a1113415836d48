// The string table: texts in 39 numbered groups, held in one fixed block;
// groups 30..36 work as stacks and 37, 38 as queues.
#pragma once
#include "runtime/core/types.h"

namespace rt {

constexpr int kStrGroups = 39;
constexpr int kStrItemsMax = 2048;        // length-table entries; 2047 items usable
constexpr size_t kStrTableBytes = 65535;  // the whole block
constexpr size_t kStrTextBytes = kStrTableBytes - 2 * kStrGroups - 2 * kStrItemsMax;  // 61361

// Groups in use.
namespace grp {
enum : int {
    Env = 0,          // environment items
    FileNames = 1,    // data file names, item = file number - 1
    FileFolders = 2,  // data file folders
    DictFields = 3,
    FileKeys = 4,
    MenuTexts = 5,
    RecordTexts = 6,
    Relations = 7,
    ReportLines = 8,
    Runtime = 9,      // runtime texts, items below
    Transfer = 10,
    VarNames = 12,    // name lists by type
    TextValues = 13,  // values of text variables
    StkResults = 30,
    StkAux = 31,
    StkScreen = 32,
    StkSelections = 33,
    StkWinResults = 34,
    StkArgs = 35,
    StkUserFiles = 36,
    QueLines = 37,     // lines read from a text file
    QueUserFields = 38,
};
}  // namespace grp

// Items of group 9.
namespace rtitem {
enum : int { LangTexts = 2, AnswerList = 7, Detail = 9, LogName = 10 };
}

// Creates the table (one block of module 1). 145 when no block is left.
IER st_init();
bool st_ready();
void st_done();

// The text of an item: points into the table, valid until the table changes.
// An item beyond the group's count (or a table not yet built) is empty.
StrRef st_get(int g, int i);
// Sets an item, first extending the group with empty items. 159 when the
// group, position, item total or text space is out of bounds; the table is
// then unchanged. The text may point into the table itself.
IER st_set(int g, int i, StrRef t);
IER st_del(int g, int i);
void st_clear(int g);
int st_count(int g);
IER st_push(int g, StrRef t);
StrRef st_top(int g);       // last item; item 0 for the queues 37, 38
IER st_pop(int g);          // deletes what top gives
StrRef st_take(int g);      // top as a scratch copy, then pop
void st_popto(int g, int count);

// Statistics for tests and benchmarks.
int st_items_total();
size_t st_text_total();

}  // namespace rt
