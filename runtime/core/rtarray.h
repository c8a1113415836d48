// The runtime-array registry: 24 numbered growable arrays of fixed-size
// records. A record pointer is valid only until the next change of its array.
#pragma once
#include "runtime/core/types.h"

namespace rt {

constexpr int kRtArrays = 24;
constexpr unsigned kRtArrayMaxCount = 65535;

namespace arr {
enum : int {
    DataFiles = 0,
    Fields = 1,
    FileRecs8 = 2,
    FileRecs20 = 3,
    Screens = 4,
    ScreenWindows = 5,
    ArrayDescs = 6,
    IntValues = 7,
    NumValues = 8,
    Frames = 10,
};
}

// Stores a copy of rec (zeros when rec is null) at index, growing the array
// to index + 1 records first. An empty slot gets a new array of that record
// size. Returns the stored record, or nullptr for a wrong record size, an
// array number out of range or no memory.
void* ra_put(int a, unsigned index, const void* rec, uint16_t size);
void* ra_get(int a, unsigned index);  // nullptr beyond the count
IER ra_remove(int a, unsigned index);  // the last record removed frees the array
unsigned ra_count(int a);
uint16_t ra_size(int a);
void ra_free(int a);
void ra_free_all();

}  // namespace rt
