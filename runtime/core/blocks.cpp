#include "runtime/core/blocks.h"

#include <cstdlib>
#include <cstring>

#include "runtime/core/status.h"

namespace rt {
namespace {

constexpr unsigned char kGuard[4] = {0x00, 0x21, 0x21, 0x00};

struct Entry {
    uint16_t module;
    uint32_t size;
    void* p;
};

struct Settings {
    int scratch_kib = kScratchDefaultKiB;
    int entries = kBlockTableDefault;
} g_set;

Entry* g_tab = nullptr;  // g_tab[0] is the table's own block
int g_n = 0;
int g_used = 0;

int find_entry(const void* p) {
    if (!p || !g_tab) return -1;
    for (int i = 0; i < g_n; i++)
        if (g_tab[i].p == p) return i;
    return -1;
}

}  // namespace

void mem_settings(int scratch_kib, int block_entries) {
    if (scratch_kib != -1) g_set.scratch_kib = scratch_kib < kScratchMinKiB ? kScratchMinKiB : scratch_kib;
    if (block_entries != -1) g_set.entries = block_entries < 8 ? 8 : block_entries;
}
int mem_scratch_kib() { return g_set.scratch_kib; }
int mem_block_entries() { return g_set.entries; }

IER blk_init() {
    if (g_tab) return ier::UndefWarning;
    int n = g_set.entries;
    size_t bytes = sizeof(Entry) * static_cast<size_t>(n);
    auto* t = static_cast<Entry*>(std::calloc(1, bytes + sizeof kGuard));
    if (!t) return ier::OUTOFMEMORY;
    std::memcpy(reinterpret_cast<char*>(t) + bytes, kGuard, sizeof kGuard);
    g_tab = t;
    g_n = n;
    g_tab[0] = {static_cast<uint16_t>(mod::ExecRunTime), static_cast<uint32_t>(bytes), t};
    g_used = 1;
    return 0;
}

bool blk_ready() { return g_tab != nullptr; }

void* blk_alloc(int module, size_t size, bool fill) {
    if (!g_tab || size > 0xFFFFFFF0u) return nullptr;
    int i = 1;
    while (i < g_n && g_tab[i].p) i++;
    if (i >= g_n) return nullptr;
    auto* p = static_cast<char*>(fill ? std::calloc(1, size + sizeof kGuard) : std::malloc(size + sizeof kGuard));
    if (!p) return nullptr;
    std::memcpy(p + size, kGuard, sizeof kGuard);
    g_tab[i] = {static_cast<uint16_t>(module), static_cast<uint32_t>(size), p};
    g_used++;
    return p;
}

IER blk_free(int module, void* p) {
    int i = find_entry(p);
    if (i <= 0) return ier::MEMORYALLOCERR;
    Entry& e = g_tab[i];
    if (std::memcmp(static_cast<char*>(e.p) + e.size, kGuard, sizeof kGuard) != 0) return ier::MemoryOverflow;
    if (e.module != module) return ier::INTERNALERROR;
    std::free(e.p);
    e = {0, 0, nullptr};
    g_used--;
    return 0;
}

void* blk_resize(int module, void* p, size_t size) {
    if (!p) return blk_alloc(module, size);
    int i = find_entry(p);
    if (i <= 0 || g_tab[i].module != module || size > 0xFFFFFFF0u) return nullptr;
    Entry& e = g_tab[i];
    if (std::memcmp(static_cast<char*>(e.p) + e.size, kGuard, sizeof kGuard) != 0) return nullptr;
    auto* q = static_cast<char*>(std::realloc(e.p, size + sizeof kGuard));
    if (!q) return nullptr;
    if (size > e.size) std::memset(q + e.size, 0, size - e.size);
    std::memcpy(q + size, kGuard, sizeof kGuard);
    e.p = q;
    e.size = static_cast<uint32_t>(size);
    return q;
}

int blk_count() { return g_used; }

int blk_highest_entry() {
    if (!g_tab) return -1;
    for (int i = g_n - 1; i >= 0; i--)
        if (g_tab[i].p) return i;
    return -1;
}

int blk_highest_module() {
    int i = blk_highest_entry();
    return i < 0 ? 0 : g_tab[i].module;
}

int blk_entry_module(int entry) {
    return (g_tab && entry >= 0 && entry < g_n && g_tab[entry].p) ? g_tab[entry].module : 0;
}
size_t blk_entry_size(int entry) {
    return (g_tab && entry >= 0 && entry < g_n && g_tab[entry].p) ? g_tab[entry].size : 0;
}
int blk_entry_of(const void* p) { return find_entry(p); }

void blk_done() {
    if (!g_tab) return;
    for (int i = 1; i < g_n; i++)
        if (g_tab[i].p) std::free(g_tab[i].p);
    std::free(g_tab);
    g_tab = nullptr;
    g_n = 0;
    g_used = 0;
}

}  // namespace rt
