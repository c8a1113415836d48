#include "runtime/core/strtab.h"

#include <cstring>

#include "runtime/core/blocks.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"

namespace rt {
namespace {

// The block holds the group counts, the item lengths and the texts, in that
// order. The start offsets of the texts are kept beside it so that a read
// does not have to sum the lengths.
uint8_t* g_blk = nullptr;
uint16_t* g_cnt = nullptr;   // [kStrGroups]
uint16_t* g_len = nullptr;   // [kStrItemsMax]
char* g_text = nullptr;      // [kStrTextBytes]
uint32_t g_off[kStrItemsMax + 1];
int g_total = 0;             // items in all groups
char g_copy[kStrMax];        // a text that lies inside the table, while it moves

// First global position of each group, kept in step with the counts.
int g_base[kStrGroups + 1];

void rebase() {
    g_base[0] = 0;
    for (int k = 0; k < kStrGroups; k++) g_base[k + 1] = g_base[k] + g_cnt[k];
}

inline int base_of(int g) { return g_base[g]; }

void reoffset(int from) {
    for (int k = from; k < g_total; k++) g_off[k + 1] = g_off[k] + g_len[k];
}

bool in_table(const char* p) {
    return p >= reinterpret_cast<const char*>(g_blk) &&
           p < reinterpret_cast<const char*>(g_blk) + kStrTableBytes;
}

IER refuse(int module) {
    err_origin(1, module, module == mod::DynStrings ? ier::STROUTBOUND : ier::LOADSTRERROR);
    return ier::STROUTBOUND;
}

}  // namespace

IER st_init() {
    if (g_blk) return ier::UndefWarning;
    g_blk = static_cast<uint8_t*>(blk_alloc(mod::STRINGINIT, kStrTableBytes));
    if (!g_blk) return ier::OUTOFMEMORY;
    g_cnt = reinterpret_cast<uint16_t*>(g_blk);
    g_len = g_cnt + kStrGroups;
    g_text = reinterpret_cast<char*>(g_len + kStrItemsMax);
    g_total = 0;
    g_off[0] = 0;
    rebase();
    return 0;
}

bool st_ready() { return g_blk != nullptr; }

void st_done() {
    if (!g_blk) return;
    blk_free(mod::STRINGINIT, g_blk);
    g_blk = nullptr;
    g_cnt = g_len = nullptr;
    g_text = nullptr;
    g_total = 0;
}

int st_count(int g) { return (g_blk && g >= 0 && g < kStrGroups) ? g_cnt[g] : 0; }

StrRef st_get(int g, int i) {
    if (!g_blk || g < 0 || g >= kStrGroups || i < 0 || i >= g_cnt[g]) return sr_empty();
    int k = base_of(g) + i;
    return sr(g_text + g_off[k], g_len[k]);
}

IER st_set(int g, int i, StrRef t) {
    if (!sr_ok(t)) return sr_status(t);
    if (!g_blk) return ier::STROUTBOUND;
    if (g < 0 || g >= kStrGroups || i < 0) return refuse(mod::DynStrings);
    int base = base_of(g);
    int pos = base + i;
    if (pos >= kStrItemsMax) return refuse(mod::DynStrings);
    int add = i + 1 - g_cnt[g];
    if (add < 0) add = 0;
    size_t old_len = add ? 0 : g_len[pos];
    size_t text_total = g_off[g_total];
    if (g_total + add >= kStrItemsMax || text_total - old_len + t.n >= kStrTextBytes)
        return refuse(mod::STRINGASSIGN);
    if (t.n && in_table(t.p)) {
        std::memcpy(g_copy, t.p, t.n);
        t.p = g_copy;
    }
    if (add) {
        // New empty items go after the group's last item.
        int at = base + g_cnt[g];
        std::memmove(g_len + at + add, g_len + at, sizeof(uint16_t) * static_cast<size_t>(g_total - at));
        std::memset(g_len + at, 0, sizeof(uint16_t) * static_cast<size_t>(add));
        g_total += add;
        g_cnt[g] = static_cast<uint16_t>(g_cnt[g] + add);
        rebase();
        reoffset(at);
    }
    uint32_t start = g_off[pos];
    size_t tail = g_off[g_total] - (start + old_len);
    std::memmove(g_text + start + t.n, g_text + start + old_len, tail);
    if (t.n) std::memcpy(g_text + start, t.p, t.n);
    g_len[pos] = t.n;
    reoffset(pos);
    return 0;
}

IER st_del(int g, int i) {
    if (!g_blk || g < 0 || g >= kStrGroups || i < 0 || i >= g_cnt[g]) return 0;
    int pos = base_of(g) + i;
    uint32_t start = g_off[pos];
    size_t len = g_len[pos];
    std::memmove(g_text + start, g_text + start + len, g_off[g_total] - start - len);
    std::memmove(g_len + pos, g_len + pos + 1, sizeof(uint16_t) * static_cast<size_t>(g_total - pos - 1));
    g_total--;
    g_cnt[g]--;
    rebase();
    reoffset(pos);
    return 0;
}

void st_clear(int g) {
    if (!g_blk || g < 0 || g >= kStrGroups || !g_cnt[g]) return;
    int base = base_of(g);
    int n = g_cnt[g];
    uint32_t start = g_off[base];
    uint32_t end = g_off[base + n];
    std::memmove(g_text + start, g_text + end, g_off[g_total] - end);
    std::memmove(g_len + base, g_len + base + n, sizeof(uint16_t) * static_cast<size_t>(g_total - base - n));
    g_total -= n;
    g_cnt[g] = 0;
    rebase();
    reoffset(base);
}

IER st_push(int g, StrRef t) { return st_set(g, st_count(g), t); }

StrRef st_top(int g) {
    int n = st_count(g);
    if (!n) return sr_empty();
    return st_get(g, (g == grp::QueLines || g == grp::QueUserFields) ? 0 : n - 1);
}

IER st_pop(int g) {
    int n = st_count(g);
    if (!n) return 0;
    return st_del(g, (g == grp::QueLines || g == grp::QueUserFields) ? 0 : n - 1);
}

StrRef st_take(int g) {
    StrRef r = scr_copy(st_top(g));
    st_pop(g);
    return r;
}

void st_popto(int g, int count) {
    while (st_count(g) > count && st_count(g) > 0) st_pop(g);
}

int st_items_total() { return g_total; }
size_t st_text_total() { return g_blk ? g_off[g_total] : 0; }

}  // namespace rt
