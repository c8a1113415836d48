#include "runtime/core/rtarray.h"

#include <cstring>

#include "runtime/core/blocks.h"
#include "runtime/core/status.h"

namespace rt {
namespace {

struct Slot {
    char* data = nullptr;
    uint16_t size = 0;
    uint16_t count = 0;
};
Slot g_arr[kRtArrays];

bool valid(int a) { return a >= 0 && a < kRtArrays; }

}  // namespace

void* ra_put(int a, unsigned index, const void* rec, uint16_t size) {
    if (!valid(a) || size == 0 || index >= kRtArrayMaxCount) return nullptr;
    Slot& s = g_arr[a];
    if (s.data && s.size != size) return nullptr;
    if (!s.data || index >= s.count) {
        // Grow to index + 1 records; new records are zero-filled.
        size_t n = index + 1;
        auto* d = static_cast<char*>(blk_alloc(mod::StructFuncs, n * size));
        if (!d) return nullptr;
        if (s.data) {
            std::memcpy(d, s.data, size_t(s.count) * size);
            blk_free(mod::StructFuncs, s.data);
        }
        s.data = d;
        s.size = size;
        s.count = static_cast<uint16_t>(n);
    }
    char* p = s.data + size_t(index) * size;
    if (rec) std::memmove(p, rec, size);
    else std::memset(p, 0, size);
    return p;
}

void* ra_get(int a, unsigned index) {
    if (!valid(a) || index >= g_arr[a].count) return nullptr;
    return g_arr[a].data + size_t(index) * g_arr[a].size;
}

IER ra_remove(int a, unsigned index) {
    if (!valid(a) || index >= g_arr[a].count) return ier::DATAOUTBOUND;
    Slot& s = g_arr[a];
    if (s.count == 1) {
        ra_free(a);
        return 0;
    }
    std::memmove(s.data + size_t(index) * s.size, s.data + size_t(index + 1) * s.size,
                 size_t(s.count - index - 1) * s.size);
    s.count--;
    return 0;
}

unsigned ra_count(int a) { return valid(a) ? g_arr[a].count : 0; }
uint16_t ra_size(int a) { return valid(a) ? g_arr[a].size : 0; }

void ra_free(int a) {
    if (!valid(a) || !g_arr[a].data) return;
    blk_free(mod::StructFuncs, g_arr[a].data);
    g_arr[a] = Slot{};
}

void ra_free_all() {
    for (int a = 0; a < kRtArrays; a++) ra_free(a);
}

}  // namespace rt
