// The block table: every long-lived block of memory the runtime takes, tagged
// with its owning module, guarded at its end, and checked for leaks at
// shutdown.
#pragma once
#include "runtime/core/types.h"

namespace rt {

constexpr int kBlockTableDefault = 64;   // entries unless the application sets more
constexpr int kScratchDefaultKiB = 128;  // scratch size N (N KiB and N marks)
constexpr int kScratchMinKiB = 4;

// Memory settings, made by the application before the runtime start; -1
// leaves a value unchanged.
void mem_settings(int scratch_kib, int block_entries);
int mem_scratch_kib();
int mem_block_entries();

// Creates the table (its own entry is entry 0). A second creation gives 124.
IER blk_init();
bool blk_ready();

// Allocates size bytes for module; zero-filled unless fill is false. Returns
// nullptr when the table is full or memory is short (callers report 145).
void* blk_alloc(int module, size_t size, bool fill = true);
// 154 when the pointer is not a block of the table, 180 when the guard after
// it was overwritten (the block is kept), 141 when module is not its owner.
IER blk_free(int module, void* p);
// Resizes keeping the content; nullptr (old block untouched) on failure.
void* blk_resize(int module, void* p, size_t size);

int blk_count();              // blocks in use, the table's own included
int blk_highest_module();     // module of the highest-numbered entry in use
int blk_highest_entry();      // index of that entry, -1 when none
int blk_entry_module(int entry);
size_t blk_entry_size(int entry);
int blk_entry_of(const void* p);  // -1 when not a block of the table

// Frees every block and the table itself (the last step of shutdown).
void blk_done();

}  // namespace rt
