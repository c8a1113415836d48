// The procedure table's records and the layout of their blocks (shared by
// the compiler and the interpreter).
#pragma once
#include <cstring>
#include <string_view>

#include "runtime/core/rtarray.h"
#include "runtime/script/proc.h"

namespace rt {

// One record of the procedure table (runtime array 10). The block holds, in
// order: the instructions, the start offsets of the statement texts (count
// + 1), the entry positions, the start offsets of the entry names (entries
// + 1), the statement texts and the entry names (each ended by a NUL), and
// one byte per instruction telling whether its text is already prepared for
// the evaluator.
struct ProcRecord {
    uint32_t id;  // unique for the process: activations find their record by it
    uint16_t count;
    uint16_t entries;
    uint32_t texts_len;
    uint32_t names_len;
    char* block;
};

inline size_t proc_block_size(const ProcRecord& r) {
    return sizeof(Instruction) * r.count + sizeof(uint32_t) * (r.count + 1u) + sizeof(uint16_t) * r.entries +
           sizeof(uint32_t) * (r.entries + 1u) + r.texts_len + r.names_len + r.count + 8;
}
inline Instruction* proc_ins(const ProcRecord& r) { return reinterpret_cast<Instruction*>(r.block); }
inline uint32_t* proc_text_off(const ProcRecord& r) {
    return reinterpret_cast<uint32_t*>(r.block + sizeof(Instruction) * r.count);
}
inline uint16_t* proc_entry_pos(const ProcRecord& r) {
    return reinterpret_cast<uint16_t*>(reinterpret_cast<char*>(proc_text_off(r)) + sizeof(uint32_t) * (r.count + 1u));
}
inline uint32_t* proc_entry_off(const ProcRecord& r) {
    // Kept 4-byte aligned after the 16-bit entry positions.
    size_t at = static_cast<size_t>(reinterpret_cast<char*>(proc_entry_pos(r)) - r.block) + sizeof(uint16_t) * r.entries;
    at = (at + 3) & ~size_t(3);
    return reinterpret_cast<uint32_t*>(r.block + at);
}
inline char* proc_texts(const ProcRecord& r) {
    return reinterpret_cast<char*>(proc_entry_off(r)) + sizeof(uint32_t) * (r.entries + 1u);
}
inline char* proc_names(const ProcRecord& r) { return proc_texts(r) + r.texts_len; }
inline uint8_t* proc_prepared(const ProcRecord& r) {
    return reinterpret_cast<uint8_t*>(proc_names(r) + r.names_len);
}

inline StrRef proc_text(const ProcRecord& r, int k) {
    uint32_t a = proc_text_off(r)[k], b = proc_text_off(r)[k + 1];
    return sr(proc_texts(r) + a, b - a - 1);
}

inline int proc_find_entry(const ProcRecord& r, std::string_view name) {
    for (int i = 0; i < r.entries; i++) {
        uint32_t a = proc_entry_off(r)[i], b = proc_entry_off(r)[i + 1];
        if (std::string_view(proc_names(r) + a, b - a - 1) == name) return proc_entry_pos(r)[i];
    }
    return -1;
}

inline ProcRecord* proc_record(int index) {
    if (index < 0 || ra_size(arr::Frames) != sizeof(ProcRecord)) return nullptr;
    return static_cast<ProcRecord*>(ra_get(arr::Frames, static_cast<unsigned>(index)));
}

// The index of the record with this id, -1 when it was unloaded.
inline int proc_index_of(uint32_t id) {
    unsigned n = ra_count(arr::Frames);
    for (unsigned i = 0; i < n; i++)
        if (static_cast<ProcRecord*>(ra_get(arr::Frames, i))->id == id) return static_cast<int>(i);
    return -1;
}

// Puts the procedure runner into hook slot 1 (done at every compile).
void proc_put_runner();

}  // namespace rt
