#include "runtime/expr/vars.h"

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <type_traits>
#include <unordered_map>

#include "runtime/core/blocks.h"
#include "runtime/core/hooks.h"
#include "runtime/core/list.h"
#include "runtime/core/rtarray.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/startup.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/fixed.h"

namespace rt {
namespace {

// Group 12 holds one name list per type, in this order.
constexpr int kListInt = 0, kListNum = 1, kListText = 2, kListArray = 3, kLists = 4;

// An element block larger than this is refused with 145 instead of asking
// the system for gigabytes that four extents of 65535 could multiply to.
constexpr uint64_t kArrayBytesMax = 64u << 20;
constexpr int kExtentMax = 65535;

int list_of(VarType t) {
    switch (t) {
        case VarType::Int: return kListInt;
        case VarType::Num: return kListNum;
        case VarType::Text: return kListText;
        case VarType::Array: return kListArray;
        default: return -1;
    }
}

// --- name indexes ---------------------------------------------------------
//
// The lists stay the stored form (the scope mark and other modules read
// them); beside each one a hash index maps a name to its number, so that a
// lookup does not walk the list. The index follows the list by its length:
// this module keeps it in step when it changes a list, and anything that
// only appends (core's var_declare_int) is picked up from the old length on.

struct SvHash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};

struct NameIndex {
    std::deque<std::string> names;  // by number; a deque keeps the keys' storage in place
    std::unordered_map<std::string_view, int, SvHash, std::equal_to<>> pos;
    size_t len = 0;                 // the list length the index stands for

    void clear() {
        pos.clear();
        names.clear();
        len = 0;
    }
    void add(std::string_view n) {
        names.emplace_back(n);
        // A repeated name keeps its first number, as a scan of the list would.
        pos.emplace(names.back(), static_cast<int>(names.size() - 1));
    }
    void cut(size_t count) {
        while (names.size() > count) {
            auto it = pos.find(std::string_view(names.back()));
            if (it != pos.end() && it->second == static_cast<int>(names.size() - 1)) pos.erase(it);
            names.pop_back();
        }
    }
    // Indexes the names of list from byte offset `from` on.
    void add_from(StrRef list, size_t from) {
        size_t b = from;
        for (size_t i = from; i <= list.n; i++) {
            if (i == list.n || list.p[i] == ',') {
                add(std::string_view(list.p + b, i - b));
                b = i + 1;
            }
        }
        len = list.n;
    }
};

NameIndex g_idx[kLists];
// The indexes belong to one building of the stores: they are rebuilt from
// scratch (tests, a second start), and a new list can have the same length
// as the old one with other names in it.
unsigned g_generation = 0;

void indexes_reset() {
    for (auto& x : g_idx) x.clear();
}

void ensure_indexes() {
    if (g_generation == rt_stores_generation()) return;
    indexes_reset();
    g_generation = rt_stores_generation();
}

NameIndex& synced(int t) {
    ensure_indexes();
    NameIndex& x = g_idx[t];
    StrRef list = st_get(grp::VarNames, t);
    if (list.n == x.len) return x;
    if (list.n > x.len && (x.len == 0 ? x.names.empty() : list.p[x.len] == ',')) {
        x.add_from(list, x.len == 0 ? 0 : x.len + 1);
    } else {
        x.clear();
        if (list.n) x.add_from(list, 0);
    }
    return x;
}

int lookup(int t, StrRef name) {
    NameIndex& x = synced(t);
    auto it = x.pos.find(sv(name));
    return it == x.pos.end() ? -1 : it->second;
}

int list_count(int t) {
    return static_cast<int>(synced(t).names.size());
}

// A name that would break its list (or the quote-aware list scans) cannot be
// created.
bool creatable(StrRef name) {
    return sr_ok(name) && name.n && sv(name).find_first_of(",'\"@") == std::string_view::npos;
}

// Appends name to list t. The new variable's number is the old count.
IER list_append(int t, StrRef name) {
    ScratchMark m = scr_mark();
    StrRef list = st_get(grp::VarNames, t);
    ScrBuild b;
    b.put(list);
    if (list.n) b.put(',');
    b.put(name);
    StrRef grown = b.done();
    IER st = sr_ok(grown) ? st_set(grp::VarNames, t, grown) : IER(ier::VARNAMEERROR);
    ensure_indexes();
    if (!st) {
        NameIndex& x = g_idx[t];
        if (x.len == list.n) {
            // From the new list: the name itself may have lain in the table.
            x.add(std::string_view(grown.p + grown.n - name.n, name.n));
            x.len = grown.n;
        }  // else the next lookup re-reads the list
    }
    scr_release(m);
    return st ? IER(ier::VARNAMEERROR) : IER(0);
}

// Cuts list t back to its first `len` bytes (`count` names).
IER list_cut(int t, uint16_t len, uint16_t count) {
    StrRef list = st_get(grp::VarNames, t);
    if (list.n < len || (list.n > len && len && list.p[len] != ',')) return ier::INTERNALERROR;
    if (list.n == len) return 0;
    IER st = st_set(grp::VarNames, t, sr(list.p, len));  // shrinking: the table has room
    ensure_indexes();
    if (!st) {
        NameIndex& x = g_idx[t];
        if (x.len >= len && x.names.size() >= count) {
            x.cut(count);
            x.len = len;
        } else {
            x.clear();
            x.len = SIZE_MAX;  // re-read on the next lookup
        }
    }
    return st;
}

// --- text constants -------------------------------------------------------

bool text_constant(StrRef name, StrRef* out) {
    if (name.n < 2 || name.p[0] != '.') return false;
    char c = name.p[1];
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
    switch (lst_pos("lf$,tab$,pchr$,null$", sv(name).substr(1))) {
        case 1: *out = sr("\r\n"); return true;
        case 2: *out = sr("\t"); return true;
        case 3: *out = sr("\\"); return true;
        case 4: *out = sr_empty(); return true;
        default: return false;
    }
}

// --- the screen-field hook ------------------------------------------------

FieldNameFn field_hook(StrRef name) {
    if (!name.n || name.p[0] != '_') return nullptr;
    return hk_get_as<std::remove_pointer_t<FieldNameFn>>(hook::FieldResolver);
}

// --- arrays ---------------------------------------------------------------

// The record of runtime array 6: 28 bytes, read and written by copy because
// the records lie back to back with no alignment for the pointer.
#pragma pack(push, 4)
struct ArrayDesc {
    char type;            // element type: 'i', 'n' or 't'
    uint8_t dims;
    uint16_t elem_size;
    uint32_t count;       // elements
    uint16_t extent[kArrayDimsMax];  // size + 1 per dimension
    uint32_t bytes;       // of the element block
    char* block;          // module VarStruct
};
#pragma pack(pop)
static_assert(sizeof(ArrayDesc) == 28);

bool desc_get(int no, ArrayDesc* d) {
    void* p = no >= 0 ? ra_get(arr::ArrayDescs, static_cast<unsigned>(no)) : nullptr;
    if (!p) return false;
    std::memcpy(d, p, sizeof *d);
    return d->block != nullptr;
}

void desc_release(int no) {
    ArrayDesc d;
    if (desc_get(no, &d)) blk_free(mod::VarStruct, d.block);
}

// The element of an array at the given indices. Every index is checked
// against its own dimension, so no index reaches another row or memory
// outside the block.
IER element_at(const ArrayDesc& d, const int* index, int dims, size_t* off) {
    if (dims != d.dims) return ier::DIMSTRUCERROR;
    uint64_t lin = 0;
    for (int k = 0; k < dims; k++) {
        if (index[k] < 0 || index[k] >= d.extent[k]) return ier::DATAOUTBOUND;
        lin = lin * d.extent[k] + static_cast<uint64_t>(index[k]);
    }
    if (lin >= d.count) return ier::DATAOUTBOUND;
    uint64_t o = lin * d.elem_size;
    if (o + d.elem_size > d.bytes) return ier::DATAOUTBOUND;
    *off = static_cast<size_t>(o);
    return 0;
}

int16_t int_element(Num v, int p) {
    // Array elements truncate where integer variables round.
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint64_t>(num_int_part(v, p))));
}

void put_element(const ArrayDesc& d, size_t off, const Value& v, int p) {
    char* e = d.block + off;
    if (d.type == 'i') {
        int16_t x = int_element(v.num, p);
        std::memcpy(e, &x, sizeof x);
    } else if (d.type == 'n') {
        std::memcpy(e, &v.num, sizeof v.num);
    } else {
        // Fixed length: a shorter text is padded, so no bytes of an earlier
        // value stay behind it; a longer one is cut.
        size_t n = v.text.n < d.elem_size ? v.text.n : d.elem_size;
        if (n) std::memmove(e, v.text.p, n);
        std::memset(e + n, ' ', d.elem_size - n);
    }
}

IER array_make(StrRef name, const int* sizes, int dims, const Value& init, int* number = nullptr) {
    if (var_type(name) != VarType::Array) return ier::SINTAXERROR;
    if (dims < 1 || dims > kArrayDimsMax || !sizes) return ier::DIMSTRUCERROR;
    VarType et = var_type(sr(name.p, name.n - 1u));
    ArrayDesc d{};
    switch (et) {
        case VarType::Int: d.type = 'i'; d.elem_size = 2; break;
        case VarType::Num: d.type = 'n'; d.elem_size = 8; break;
        case VarType::Text: d.type = 't'; d.elem_size = init.is_text() ? init.text.n : 0; break;
        default: return ier::TypeMismatch;
    }
    if ((et == VarType::Text) != init.is_text()) return ier::TypeMismatch;
    if (et == VarType::Text && !sr_ok(init.text)) return sr_status(init.text);
    uint64_t count = 1;
    for (int k = 0; k < dims; k++) {
        if (sizes[k] < 0 || sizes[k] >= kExtentMax) return ier::DIMSTRUCERROR;
        d.extent[k] = static_cast<uint16_t>(sizes[k] + 1);
        count *= d.extent[k];
        if (count * d.elem_size > kArrayBytesMax) return ier::OUTOFMEMORY;
    }
    if (count == 1 || d.elem_size == 0) return ier::SINTAXERROR;
    if (!creatable(name)) return ier::SINTAXERROR;
    d.dims = static_cast<uint8_t>(dims);
    d.count = static_cast<uint32_t>(count);
    d.bytes = static_cast<uint32_t>(count * d.elem_size);
    d.block = static_cast<char*>(blk_alloc(mod::VarStruct, d.bytes, false));
    if (!d.block) return ier::OUTOFMEMORY;
    int p = num_precis();
    for (size_t off = 0; off < d.bytes; off += d.elem_size) put_element(d, off, init, p);

    int no = lookup(kListArray, name);
    bool fresh = no < 0;
    if (fresh) no = list_count(kListArray);
    ArrayDesc old;
    bool had = desc_get(no, &old);  // a remade array, or a record left without its name
    if (!ra_put(arr::ArrayDescs, static_cast<unsigned>(no), &d, sizeof d)) {
        blk_free(mod::VarStruct, d.block);
        return ier::OUTOFMEMORY;
    }
    if (had) blk_free(mod::VarStruct, old.block);
    if (fresh) {
        if (IER st = list_append(kListArray, name)) {
            blk_free(mod::VarStruct, d.block);
            ArrayDesc none{};
            ra_put(arr::ArrayDescs, static_cast<unsigned>(no), &none, sizeof none);
            return st;
        }
    }
    if (number) *number = no;
    return 0;
}

}  // namespace

VarType var_type(StrRef name) {
    switch (var_type_of(name)) {
        case 'a': return VarType::Array;
        case 't': return VarType::Text;
        case 'n': return VarType::Num;
        case 'i': return VarType::Int;
        default: return VarType::Invalid;
    }
}

int var_find(StrRef name, VarType* type) {
    VarType t = var_type(name);
    if (type) *type = t;
    int l = list_of(t);
    StrRef c;
    if (l < 0 || text_constant(name, &c)) return -1;
    ScratchMark m = scr_mark();
    ensure_indexes();
    int no = lookup(l, name);
    scr_release(m);
    return no;
}

IER var_read(StrRef name, Value* out) {
    *out = Value{};
    if (!sr_ok(name)) return sr_status(name);
    VarType t = var_type(name);
    if (t == VarType::Invalid || t == VarType::Array) return ier::SINTAXERROR;
    if (t == VarType::Text) *out = Value::of_text(sr_empty());
    ScratchMark m = scr_mark();
    int p = num_precis();
    if (FieldNameFn f = field_hook(name)) {
        // The resolver may change the string table, where the name may lie.
        name = scr_copy(name);
        if (!sr_ok(name)) return sr_status(name);
        StrRef r = f(name, kHookRead, sr_empty());
        IER st = sr_status(r);
        if (st != ier::BADINPUTDATA) {
            if (st) {
                scr_release(m);
                return st;
            }
            if (t == VarType::Text) {
                out->text = scr_keep(m, r);
                return sr_status(out->text);
            }
            Num v = 0;
            st = num_parse(r, p, &v);
            scr_release(m);
            if (st) return st;
            out->num = t == VarType::Int ? num_from_int(num_to_int16(v, p), p) : v;
            return 0;
        }
    }
    if (t == VarType::Text) {
        StrRef c;
        if (text_constant(name, &c)) {
            scr_release(m);
            out->text = c;  // static storage
            return 0;
        }
    }
    ensure_indexes();
    int no = lookup(list_of(t), name);
    if (no < 0) {
        scr_release(m);
        return 0;
    }
    switch (t) {
        case VarType::Int: {
            auto* v = static_cast<int16_t*>(ra_get(arr::IntValues, static_cast<unsigned>(no)));
            scr_release(m);
            out->num = v ? num_from_int(*v, p) : 0;
            return 0;
        }
        case VarType::Num: {
            auto* v = static_cast<Num*>(ra_get(arr::NumValues, static_cast<unsigned>(no)));
            scr_release(m);
            if (v) std::memcpy(&out->num, v, sizeof(Num));
            return 0;
        }
        default:
            out->text = scr_keep(m, st_get(grp::TextValues, no));
            return sr_status(out->text);
    }
}

namespace {

IER assign(StrRef name, const Value& v) {
    if (!sr_ok(name)) return sr_status(name);
    VarType t = var_type(name);
    if (t == VarType::Invalid || t == VarType::Array) return ier::SINTAXERROR;
    if ((t == VarType::Text) != v.is_text()) return ier::TypeMismatch;
    StrRef text = v.text;
    if (t == VarType::Text && !sr_ok(text)) return sr_status(text);
    int p = num_precis();
    if (FieldNameFn f = field_hook(name)) {
        // Copies: the resolver may change the string table, where the name
        // and the value may lie. The caller releases them.
        name = scr_copy(name);
        StrRef arg = t == VarType::Text  ? scr_copy(text)
                     : t == VarType::Int ? num_plain(num_from_int(num_to_int16(v.num, p), p), p)
                                         : num_plain(v.num, p);
        IER st = sr_status(name);
        if (!st) st = sr_status(arg);
        if (!st) st = sr_status(f(name, kHookWrite, arg));
        if (st != ier::BADINPUTDATA) return st;
        if (t == VarType::Text) text = arg;
    }
    StrRef c;
    if (t == VarType::Text && text_constant(name, &c)) return ier::SINTAXERROR;  // never readable back
    ensure_indexes();
    int l = list_of(t);
    int no = lookup(l, name);
    bool fresh = no < 0;
    if (fresh) {
        if (!creatable(name)) return ier::SINTAXERROR;
        no = list_count(l);
    }
    switch (t) {
        case VarType::Int: {
            int16_t x = num_to_int16(v.num, p);
            if (!ra_put(arr::IntValues, static_cast<unsigned>(no), &x, sizeof x)) return ier::OUTOFMEMORY;
            return fresh ? list_append(l, name) : IER(0);
        }
        case VarType::Num: {
            if (!ra_put(arr::NumValues, static_cast<unsigned>(no), &v.num, sizeof v.num)) return ier::OUTOFMEMORY;
            return fresh ? list_append(l, name) : IER(0);
        }
        default: {
            if (!fresh) return st_set(grp::TextValues, no, text);
            // The name goes in first: it moves the texts of group 13, where
            // the value may lie, so the value is taken from a scratch copy.
            ScratchMark m = scr_mark();
            StrRef keep = scr_copy(text);
            IER st = sr_status(keep);
            uint16_t len = st_get(grp::VarNames, l).n;
            if (!st) st = list_append(l, name);
            if (!st && (st = st_set(grp::TextValues, no, keep)))
                list_cut(l, len, static_cast<uint16_t>(no));  // no name without its value
            scr_release(m);
            return st;
        }
    }
}

}  // namespace

IER var_assign(StrRef name, const Value& v) {
    ScratchMark m = scr_mark();
    IER st = assign(name, v);
    scr_release(m);
    if (st) err_origin(1, mod::VARNMASSIGN, st);
    return st;
}

IER var_array_make(StrRef name, const int* sizes, int dims, const Value& init) {
    if (!sr_ok(name)) return sr_status(name);
    ScratchMark m = scr_mark();
    Value iv = init;
    ensure_indexes();
    IER st = array_make(name, sizes, dims, iv);
    scr_release(m);
    if (st) err_origin(1, mod::VarStruct, st);
    return st;
}

IER var_array_read(StrRef name, const int* index, int dims, Value* out) {
    *out = Value{};
    if (!sr_ok(name)) return sr_status(name);
    if (var_type(name) != VarType::Array) return ier::SINTAXERROR;
    ScratchMark m = scr_mark();
    ensure_indexes();
    int no = lookup(kListArray, name);
    ArrayDesc d;
    IER st = 0;
    if (no < 0 || !desc_get(no, &d)) {
        // Reading an array that was never made makes it just large enough.
        for (int k = 0; k < dims && index; k++)
            if (index[k] < 0) st = ier::DATAOUTBOUND;
        Value zero = var_type(sr(name.p, name.n - 1u)) == VarType::Text ? Value::of_text(sr_empty())
                                                                         : Value::number(0);
        if (!st) st = array_make(name, index, dims, zero, &no);
        if (!st) desc_get(no, &d);
    }
    size_t off = 0;
    if (!st) st = element_at(d, index, dims, &off);
    if (st) {
        scr_release(m);
        err_origin(1, mod::VarStruct, st);
        return st;
    }
    const char* e = d.block + off;
    if (d.type == 'i') {
        int16_t x;
        std::memcpy(&x, e, sizeof x);
        out->num = num_from_int(x, num_precis());
    } else if (d.type == 'n') {
        std::memcpy(&out->num, e, sizeof(Num));
    } else {
        out->kind = Value::Text;
        out->text = scr_keep(m, sr(e, d.elem_size));
        return sr_status(out->text);
    }
    scr_release(m);
    return 0;
}

IER var_array_write(StrRef name, const int* index, int dims, const Value& v) {
    if (!sr_ok(name)) return sr_status(name);
    ScratchMark m = scr_mark();
    ensure_indexes();
    IER st = 0;
    ArrayDesc d;
    size_t off = 0;
    if (var_type(name) != VarType::Array) st = ier::SINTAXERROR;
    else if (!desc_get(lookup(kListArray, name), &d)) st = ier::DIMSTRUCERROR;
    else if ((d.type == 't') != v.is_text()) st = ier::TypeMismatch;
    else if (v.is_text() && !sr_ok(v.text)) st = sr_status(v.text);
    else st = element_at(d, index, dims, &off);
    if (!st) put_element(d, off, v, num_precis());
    scr_release(m);
    if (st) err_origin(1, mod::VARNMASSIGN, st);
    return st;
}

VarScope var_scope_mark() {
    VarScope s{};
    ScratchMark m = scr_mark();
    ensure_indexes();
    scr_release(m);
    for (int t = 0; t < kLists; t++) {
        StrRef list = st_get(grp::VarNames, t);
        s.list_len[t] = list.n;
        s.list_count[t] = static_cast<uint16_t>(list_count(t));
    }
    s.arrays = ra_count(arr::ArrayDescs);
    s.ints = ra_count(arr::IntValues);
    s.nums = ra_count(arr::NumValues);
    s.texts = st_count(grp::TextValues);
    return s;
}

IER var_scope_restore(const VarScope& mark) {
    ScratchMark m = scr_mark();
    ensure_indexes();
    scr_release(m);
    // Nothing changes unless every list still begins with what it held at
    // the mark.
    for (int t = 0; t < kLists; t++) {
        StrRef list = st_get(grp::VarNames, t);
        uint16_t len = mark.list_len[t];
        if (list.n < len || (list.n > len && len && list.p[len] != ',')) {
            err_origin(1, mod::VARNMASSIGN, ier::INTERNALERROR);
            return ier::INTERNALERROR;
        }
    }
    IER st = 0;
    for (int t = 0; t < kLists && !st; t++) st = list_cut(t, mark.list_len[t], mark.list_count[t]);
    while (ra_count(arr::IntValues) > mark.ints) ra_remove(arr::IntValues, ra_count(arr::IntValues) - 1);
    while (ra_count(arr::NumValues) > mark.nums) ra_remove(arr::NumValues, ra_count(arr::NumValues) - 1);
    while (ra_count(arr::ArrayDescs) > mark.arrays) {
        unsigned last = ra_count(arr::ArrayDescs) - 1;
        desc_release(static_cast<int>(last));
        ra_remove(arr::ArrayDescs, last);
    }
    // The items stay (later text variables reuse them) but hold nothing of
    // the scope: from the mark's count of text names on, since items between
    // that and the group's count are left over from earlier scopes.
    int from = mark.texts < mark.list_count[kListText] ? mark.texts : mark.list_count[kListText];
    for (int i = from; i < st_count(grp::TextValues); i++)
        if (st_get(grp::TextValues, i).n) st_set(grp::TextValues, i, sr_empty());
    if (st) err_origin(1, mod::VARNMASSIGN, st);
    return st;
}

IER var_screen_field_type(int n, char* type, int* length) {
    *type = 0;
    *length = 0;
    char name[24];
    int k = std::snprintf(name, sizeof name, "_V%d$", n);
    int no = var_find(sr(name, static_cast<size_t>(k)));
    StrRef v = no >= 0 ? st_get(grp::TextValues, no) : sr_empty();
    if (!v.n) return ier::VariableScreenField;
    *type = v.p[0];
    size_t i = 1;
    while (i < v.n && v.p[i] == ' ') i++;
    int len = 0;
    for (; i < v.n && v.p[i] >= '0' && v.p[i] <= '9' && len < 100000; i++) len = len * 10 + (v.p[i] - '0');
    *length = len;
    return 0;
}

void vars_done() {
    unsigned n = ra_count(arr::ArrayDescs);
    for (unsigned i = 0; i < n; i++) desc_release(static_cast<int>(i));
    ra_free(arr::ArrayDescs);
    indexes_reset();
    g_generation = 0;
}

}  // namespace rt
