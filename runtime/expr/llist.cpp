#include "runtime/expr/llist.h"

#include <algorithm>
#include <cstring>

#include "runtime/core/blocks.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnimpl.h"

namespace rt {
namespace {

// The script holds a copy of a list's state, so the handle cannot carry a
// pointer: a copy kept from before an ADD (whose block may since have moved),
// a killed list's handle or made-up bytes would reach freed or foreign
// memory. The handle's first field names a slot of this table instead, with
// the slot's generation, and the table keeps the state that counts.
constexpr int kSlotBits = 10;
constexpr int kSlots = 1 << kSlotBits;
constexpr uint32_t kGenMask = (1u << (32 - kSlotBits)) - 1;
constexpr size_t kMaxBytes = 65535;  // the handle holds sizes in 16 bits

struct Slot {
    char* blk = nullptr;  // the item block (module Sort)
    uint32_t gen = 0;     // raised by each NEW in the slot, never 0 while live
    uint16_t size = 0;    // bytes allocated
    uint16_t k = 0, l = 0, count = 0;
    uint8_t flags = 0;
    bool live = false;
};
Slot g_slots[kSlots];
unsigned g_stores = 0;  // the build of the stores the live slots belong to

// Blocks of an earlier build of the stores, or of stores already torn
// down, are gone with them: forget them without touching them.
void sync() {
    unsigned g = rt_stores_generation();
    if (g == g_stores && blk_ready()) return;
    g_stores = g;
    for (Slot& s : g_slots) {
        s.blk = nullptr;
        s.live = false;
    }
}

// Handle layout (little-endian): id 0..3, bytes in use 4..5, block size
// 6..7, block status 8..9, K 10..11, L 12..13, count 14..15, position 16..17,
// flags 18, zero 19..23.
constexpr size_t kPosAt = 16, kPosEnd = 18;

void put16(char* p, unsigned v) {
    p[0] = static_cast<char>(v & 0xFF);
    p[1] = static_cast<char>((v >> 8) & 0xFF);
}
unsigned get16(const char* p) {
    return static_cast<unsigned char>(p[0]) | (static_cast<unsigned>(static_cast<unsigned char>(p[1])) << 8);
}
uint32_t get32(const char* p) { return get16(p) | (static_cast<uint32_t>(get16(p + 2)) << 16); }

void encode(int idx, const Slot& s, unsigned pos, char* h) {
    std::memset(h, 0, kLlistHandleLen);
    uint32_t id = (s.gen << kSlotBits) | static_cast<uint32_t>(idx);
    put16(h, id & 0xFFFF);
    put16(h + 2, id >> 16);
    put16(h + 4, static_cast<unsigned>(s.count) * s.l);
    put16(h + 6, s.size);
    put16(h + 8, 0);
    put16(h + 10, s.k);
    put16(h + 12, s.l);
    put16(h + 14, s.count);
    put16(h + kPosAt, pos);
    h[18] = static_cast<char>(s.flags);
}

// A new scratch string holding the handle.
StrRef make_handle(int idx, const Slot& s, unsigned pos) {
    IER err = 0;
    char* h = scr_alloc_w(kLlistHandleLen, &err);
    if (!h) return sr_err(err);
    encode(idx, s, pos, h);
    return sr(h, kLlistHandleLen);
}

// The slot a handle names. Every field but the position must be what the
// list's latest NEW or ADD returned; the position is the handle's own cursor
// and is checked against the count wherever it is used.
IER open(StrRef h, int* idx, unsigned* pos) {
    if (!sr_ok(h)) return sr_status(h);
    if (h.n != kLlistHandleLen) return ier::SINTAXERROR;
    sync();
    uint32_t id = get32(h.p);
    int i = static_cast<int>(id & (kSlots - 1));
    const Slot& s = g_slots[i];
    if (!s.live || s.gen != (id >> kSlotBits)) return ier::SINTAXERROR;
    char want[kLlistHandleLen];
    encode(i, s, 0, want);
    if (std::memcmp(want, h.p, kPosAt) != 0 ||
        std::memcmp(want + kPosEnd, h.p + kPosEnd, kLlistHandleLen - kPosEnd) != 0)
        return ier::SINTAXERROR;
    *idx = i;
    *pos = get16(h.p + kPosAt);
    return 0;
}

constexpr std::string_view kActions = "NEW,TOP,PRV,RLD,NXT,BOT,FND,SVE,INS,DEL,LST,NLS,BLS,IMP,MDE,DDE,PRN,TSL";
enum { ActTop = 2, ActPrv = 3, ActNxt = 5, ActBot = 6 };

int action_of(StrRef action) {
    StrRef up = str_upper(action);
    if (!sr_ok(up)) return 0;
    std::string_view a = sv(up);
    if (a == "NEXT") a = "NXT";
    else if (a == "PREVIOUS") a = "PRV";
    else if (a == "BOTTOM") a = "BOT";
    return lst_pos(kActions, a);
}

// Byte order of two texts as if both were padded with blanks to the same
// length: the order their items would have in a list of that length.
int compare_padded(std::string_view a, std::string_view b) {
    size_t n = std::min(a.size(), b.size());
    int c = n ? std::memcmp(a.data(), b.data(), n) : 0;
    if (c) return c;
    bool a_longer = a.size() > b.size();
    std::string_view rest = a_longer ? a.substr(n) : b.substr(n);
    for (char ch : rest) {
        auto u = static_cast<unsigned char>(ch);
        if (u != ' ') return (u > ' ') == a_longer ? 1 : -1;
    }
    return 0;
}

}  // namespace

IER llist_new(long long a, long long b, long long flags, StrRef* handle) {
    *handle = sr_empty();
    if (a < 0 || b < 0 || a > static_cast<long long>(kMaxBytes) || b > static_cast<long long>(kMaxBytes) ||
        a * 256 > static_cast<long long>(kMaxBytes) || flags < 0 || flags > 255)
        return ier::DATAOUTBOUND;
    sync();
    int i = 0;
    while (i < kSlots && g_slots[i].live) i++;
    if (i == kSlots) return ier::OUTOFMEMORY;
    ScratchMark m = scr_mark();
    IER err = 0;
    char* h = scr_alloc_w(kLlistHandleLen, &err);
    if (!h) return err;
    size_t first = static_cast<size_t>(a) * 256;
    auto* blk = static_cast<char*>(blk_alloc(mod::Sort, first));
    if (!blk) {
        scr_release(m);
        return ier::OUTOFMEMORY;
    }
    Slot& s = g_slots[i];
    s.gen = (s.gen + 1) & kGenMask;
    if (!s.gen) s.gen = 1;
    s.blk = blk;
    s.size = static_cast<uint16_t>(first);
    s.k = static_cast<uint16_t>(std::min(a, b));
    s.l = static_cast<uint16_t>(std::max(a, b));
    s.count = 0;
    s.flags = static_cast<uint8_t>(flags);
    s.live = true;
    encode(i, s, 0, h);
    *handle = sr(h, kLlistHandleLen);
    return 0;
}

IER llist_add(StrRef handle, StrRef item, StrRef* out) {
    *out = sr_empty();
    int i;
    unsigned pos;
    if (IER st = open(handle, &i, &pos)) return st;
    if (!sr_ok(item)) return sr_status(item);
    Slot& s = g_slots[i];
    if (item.n > s.l) return ier::BADINPUTDATA;

    ScratchMark m = scr_mark();
    IER err = 0;
    char* padded = scr_alloc_w(s.l ? s.l : 1, &err);
    if (!padded) return err;
    if (item.n) std::memcpy(padded, item.p, item.n);
    std::memset(padded + item.n, ' ', s.l - item.n);

    // The items are always in order, so the first item that does not sort
    // before the new one is found by halving.
    const size_t L = s.l, K = s.k;
    const bool desc = s.flags & llf::Descending;
    size_t lo = 0, hi = s.count;
    while (lo < hi) {
        size_t mid = (lo + hi) / 2;
        int c = K ? std::memcmp(s.blk + mid * L, padded, K) : 0;
        if (desc ? c > 0 : c < 0) lo = mid + 1;
        else hi = mid;
    }
    size_t at = lo;
    if (at < s.count && (!K || std::memcmp(s.blk + at * L, padded, K) == 0)) {
        if (s.flags & llf::Unique) {
            *out = scr_keep(m, handle);
            return sr_ok(*out) ? IER(5) : sr_status(*out);
        }
        at++;  // right after the one equal item
    }

    size_t count = size_t(s.count) + 1;
    if (count > kMaxBytes || count * L > kMaxBytes) {
        scr_release(m);
        return ier::DATAOUTBOUND;
    }
    // The new handle exists before the list changes, so that the script
    // can never be left without the handle of the changed list.
    char* h = scr_alloc_w(kLlistHandleLen, &err);
    if (!h) {
        scr_release(m);
        return err;
    }
    if (s.size < count * L) {
        size_t grown = std::min(2 * count * L, kMaxBytes);
        auto* p = static_cast<char*>(blk_resize(mod::Sort, s.blk, grown));
        if (!p) {
            scr_release(m);
            return ier::OUTOFMEMORY;
        }
        s.blk = p;
        s.size = static_cast<uint16_t>(grown);
    }
    if (L) {
        std::memmove(s.blk + (at + 1) * L, s.blk + at * L, (s.count - at) * L);
        std::memcpy(s.blk + at * L, padded, L);
    }
    s.count = static_cast<uint16_t>(count);
    encode(i, s, pos, h);
    *out = scr_keep(m, sr(h, kLlistHandleLen));
    return sr_status(*out);
}

IER llist_move(StrRef handle, StrRef action, StrRef* out) {
    *out = sr_empty();
    int i;
    unsigned pos;
    if (IER st = open(handle, &i, &pos)) return st;
    const Slot& s = g_slots[i];
    ScratchMark m = scr_mark();
    // Positions are 16-bit and unsigned: PRV from the first item leaves the
    // items as NXT from the last one does.
    switch (action_of(action)) {
        case ActTop: pos = 0; break;
        case ActPrv: pos = (pos - 1) & 0xFFFF; break;
        case ActNxt: pos = (pos + 1) & 0xFFFF; break;
        case ActBot: pos = (s.count - 1u) & 0xFFFF; break;
        default: break;
    }
    scr_release(m);
    IER st = 0;
    if (pos >= s.count) {
        pos = s.count ? s.count - 1u : 0;
        st = 2;
    }
    *out = make_handle(i, s, pos);
    return sr_ok(*out) ? st : sr_status(*out);
}

IER llist_get(StrRef handle, StrRef* item) {
    *item = sr_empty();
    int i;
    unsigned pos;
    if (IER st = open(handle, &i, &pos)) return st;
    const Slot& s = g_slots[i];
    if (pos >= s.count) return 0;
    *item = scr_copy(sr(s.blk + size_t(pos) * s.l, s.l));
    return sr_status(*item);
}

IER llist_kill(StrRef handle) {
    int i;
    unsigned pos;
    if (IER st = open(handle, &i, &pos)) return st;
    Slot& s = g_slots[i];
    IER st = blk_free(mod::Sort, s.blk);
    // Retired even when the release failed: a block whose guard was
    // overwritten stays in the table, where the leak check names it.
    s.blk = nullptr;
    s.live = false;
    return st;
}

int llist_live() {
    sync();
    int n = 0;
    for (const Slot& s : g_slots) n += s.live;
    return n;
}

IER llist_sort_text(StrRef text, long long flags, StrRef* out) {
    *out = sr_empty();
    if (!sr_ok(text)) return sr_status(text);
    if (flags < 0 || flags > 255) return ier::DATAOUTBOUND;
    const char sep = (flags & llf::NulSeparator) ? '\0' : ',';
    const int count = lst_count(text, sep);
    if (!count) return 0;
    const size_t L = static_cast<size_t>(lst_longest(text, sep));

    // With K = L two items have equal keys only when they are the same text
    // once padded, so the order among equal keys cannot show in the result:
    // the fields are sorted as views into the text, with no padded copies
    // and no limit but that of the joined result.
    struct Field {
        uint16_t at, n;
    };
    auto* f = static_cast<Field*>(blk_alloc(mod::Sort, sizeof(Field) * static_cast<size_t>(count), false));
    if (!f) return ier::OUTOFMEMORY;
    const bool qa = sep != '\0';
    size_t from = 0;
    for (int k = 0; k < count; k++) {
        uint16_t e = str_find_char(text, sep, from, qa);
        size_t end = e == kNotFound ? text.n : e;
        StrRef v = str_unquote(sr(text.p + from, end - from));
        f[k] = {static_cast<uint16_t>(v.p - text.p), v.n};
        from = end + 1;
    }
    auto view = [&](const Field& x) { return std::string_view(text.p + x.at, x.n); };
    const bool desc = flags & llf::Descending;
    std::sort(f, f + count, [&](const Field& x, const Field& y) {
        int c = compare_padded(view(x), view(y));
        return desc ? c > 0 : c < 0;
    });

    ScrBuild b;
    bool any = false;
    for (int k = 0; k < count; k++) {
        if ((flags & llf::Unique) && k && compare_padded(view(f[k - 1]), view(f[k])) == 0) continue;
        if (any) b.put(sep);
        any = true;
        if (flags & llf::TrimItems) {
            b.put(str_trim(sr(view(f[k])), 2));
        } else {
            b.put(view(f[k]));
            b.put_n(' ', L - f[k].n);
        }
    }
    StrRef r = b.done();
    blk_free(mod::Sort, f);
    if (!sr_ok(r)) return sr_status(r);
    *out = r;
    return 0;
}

namespace {

constexpr std::string_view kCommands = "NEW,ADD,MOVE,GET,KILL";
enum { CmdNew = 1, CmdAdd, CmdMove, CmdGet, CmdKill };

// SORT$(command; ...) or SORT$(text [; flags]). ADD and MOVE leave their
// status in _IER as well: below 128 it is no error, so the evaluator drops
// it, and _IER is how a script sees a refused duplicate or a move past an end.
IER fn_sort(const FnCall& c, Value* r) {
    if (c.argc < 1) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    StrRef first = fn_arg_text(c, 0);
    int cmd = fn_arg_is_text(c, 0) ? lst_pos(kCommands, sv(first)) : 0;
    static const int lo[] = {1, 2, 3, 3, 2, 2}, hi[] = {2, 4, 3, 3, 2, 2};
    if (!fn_count_ok(c, lo[cmd], hi[cmd])) {
        scr_release(m);
        return ier::SINTAXERROR;
    }
    StrRef out = sr_empty();
    IER st = 0;
    switch (cmd) {
        case CmdNew: st = llist_new(fn_arg_int(c, 1), fn_arg_int(c, 2), fn_arg_int(c, 3), &out); break;
        case CmdAdd: st = llist_add(fn_arg_text(c, 1), fn_arg_text(c, 2), &out); break;
        case CmdMove: st = llist_move(fn_arg_text(c, 1), fn_arg_text(c, 2), &out); break;
        case CmdGet: st = llist_get(fn_arg_text(c, 1), &out); break;
        case CmdKill:
            st = llist_kill(fn_arg_text(c, 1));
            scr_release(m);
            *r = Value::number(num_from_int(st, num_precis()));
            return st;
        default: st = llist_sort_text(first, fn_arg_int(c, 1), &out); break;
    }
    if (st >= 128) {
        scr_release(m);
        return st;
    }
    if (cmd == CmdAdd || cmd == CmdMove) sysv_set(sysv::IER_, static_cast<int16_t>(st));
    IER rs = fn_text_result(r, scr_keep(m, out));
    return rs ? rs : st;
}

}  // namespace

void llist_install() { fn_set_builtin(fnno::Sort, fn_sort); }

}  // namespace rt
