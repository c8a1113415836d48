// Fuzz target for the local lists and SORT$. The input is a program of
// operations on eight list registers: NEW, ADD, MOVE, GET and KILL through
// the list functions, handles with forged bytes, stale copies and handles of
// killed lists, text sorting, and SORT$ calls with argument lists made from
// the input. A model of every list (the order rule walked item by item)
// checks each result; a difference aborts. Every input ends with its lists
// killed; now and then the stores are built again with a list left alive,
// whose handle must then be refused.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnimpl.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/func.h"
#include "runtime/expr/llist.h"

using namespace rt;

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "llist_fuzz: %s\n", what);
    std::abort();
}
#define CHECK(cond) \
    do { if (!(cond)) fail(#cond); } while (0)

struct Reader {
    const uint8_t* p;
    size_t n;
    bool empty() const { return n == 0; }
    uint8_t byte() {
        if (!n) return 0;
        n--;
        return *p++;
    }
    std::string text(size_t len) {
        len = std::min(len, n);
        std::string s(reinterpret_cast<const char*>(p), len);
        p += len;
        n -= len;
        return s;
    }
};

struct Model {
    bool live = false;
    std::string handle;
    std::vector<std::string> items;
    size_t k = 0, l = 0;
    int flags = 0;
    unsigned pos = 0;
};
Model g_reg[8];

std::string str(StrRef s) { return std::string(sv(s)); }

void build() {
    if (rt_stores_init() != 0) fail("the runtime stores could not be built");
    fnlib_install();
}

// The order rule as written: walk from the first item while it sorts before
// the new one; an equal key puts the new item right after that one.
int model_add(Model& m, const std::string& item, size_t* at) {
    std::string padded = item + std::string(m.l - item.size(), ' ');
    size_t i = 0;
    for (; i < m.items.size(); i++) {
        int c = std::memcmp(m.items[i].data(), padded.data(), m.k);
        bool before = (m.flags & 2) ? c > 0 : c < 0;
        if (before) continue;
        if (c == 0) {
            if (m.flags & 1) return 5;
            i++;
        }
        break;
    }
    *at = i;
    return 0;
}

void check_refused(const std::string& h) {
    StrRef o;
    CHECK(llist_get(sr(h), &o) == ier::SINTAXERROR);
    CHECK(llist_move(sr(h), sr("TOP"), &o) == ier::SINTAXERROR);
    CHECK(llist_add(sr(h), sr_empty(), &o) == ier::SINTAXERROR);
}

void op_new(Model& m, Reader& in) {
    uint8_t x = in.byte(), y = in.byte(), f = in.byte();
    long long a = (x & 0x80) ? 250 + (x & 15) : x & 31;
    long long b = (y & 0x80) ? (y & 0x40 ? 65530 + (y & 7) : 1000 + (y & 63) * 20) : y & 63;
    long long flags = f == 0xFF ? 256 : (f & 3) | (f & 0xC0);
    StrRef h;
    IER st = llist_new(a, b, flags, &h);
    bool too_big = a * 256 > 65535 || b > 65535 || flags > 255;
    if (too_big) {
        CHECK(st == ier::DATAOUTBOUND);
        return;
    }
    if (st == ier::OUTOFMEMORY) return;  // the block table is full
    CHECK(st == 0 && h.n == kLlistHandleLen);
    m = Model{};
    m.live = true;
    m.handle = str(h);
    m.k = static_cast<size_t>(std::min(a, b));
    m.l = static_cast<size_t>(std::max(a, b));
    m.flags = static_cast<int>(flags);
}

void op_add(Model& m, Reader& in) {
    uint8_t x = in.byte();
    size_t len = (x & 0x80) ? m.l + (x & 1) : std::min<size_t>(x & 7, m.l + 1);
    len = std::min(len, kStrMax);  // what a text can hold
    std::string item = in.text(len);
    if (item.size() < len && item.size() < m.l) item.append(len - item.size(), char('a' + (x & 3)));
    StrRef out;
    IER st = llist_add(sr(m.handle), sr(item), &out);
    if (item.size() > m.l) {
        CHECK(st == ier::BADINPUTDATA);
        return;
    }
    size_t at = 0;
    int want = model_add(m, item, &at);
    if (want == 5) {
        CHECK(st == 5 && str(out) == m.handle);
        return;
    }
    if (m.items.size() + 1 > 65535 || (m.items.size() + 1) * m.l > 65535) {
        CHECK(st == ier::DATAOUTBOUND);
        return;
    }
    if (st == ier::OUTOFMEMORY) return;
    CHECK(st == 0 && out.n == kLlistHandleLen);
    std::string old = m.handle;
    m.handle = str(out);
    m.items.insert(m.items.begin() + static_cast<long>(at), item + std::string(m.l - item.size(), ' '));
    check_refused(old);  // a copy from before the ADD
}

void op_move(Model& m, Reader& in) {
    static const char* kActs[] = {"TOP", "PRV", "NXT", "BOT", "next", "Previous", "bottom", "RLD", "", "SVE"};
    uint8_t x = in.byte();
    std::string act = (x & 0x80) ? in.text(x & 7) : kActs[x % 10];
    std::string up = act;
    for (char& c : up)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    unsigned cnt = static_cast<unsigned>(m.items.size());
    unsigned pos = m.pos;
    if (up == "TOP") pos = 0;
    else if (up == "PRV" || up == "PREVIOUS") pos = (pos - 1) & 0xFFFF;
    else if (up == "NXT" || up == "NEXT") pos = (pos + 1) & 0xFFFF;
    else if (up == "BOT" || up == "BOTTOM") pos = (cnt - 1) & 0xFFFF;
    IER want = 0;
    if (pos >= cnt) {
        pos = cnt ? cnt - 1 : 0;
        want = 2;
    }
    StrRef out;
    IER st = llist_move(sr(m.handle), sr(act), &out);
    CHECK(st == want && out.n == kLlistHandleLen);
    m.handle = str(out);
    m.pos = pos;
}

void op_get(const Model& m) {
    StrRef it;
    CHECK(llist_get(sr(m.handle), &it) == 0);
    CHECK(sv(it) == (m.pos < m.items.size() ? std::string_view(m.items[m.pos]) : std::string_view()));
}

void op_kill(Model& m) {
    CHECK(llist_kill(sr(m.handle)) == 0);
    m.live = false;
    check_refused(m.handle);
    CHECK(llist_kill(sr(m.handle)) == ier::SINTAXERROR);
}

// A changed byte outside the position, or another length, is refused; a
// changed position is the handle's own and reads within the items.
void op_forge(const Model& m, Reader& in) {
    uint8_t at = in.byte(), mask = in.byte(), how = in.byte();
    std::string bad = m.handle;
    if (how & 0x80) {
        bad.resize((how & 0x40) ? bad.size() + 1 + (how & 3) : how & 15);
        check_refused(bad);
        return;
    }
    at %= kLlistHandleLen;
    if (!mask) mask = 1;
    bad[at] = static_cast<char>(bad[at] ^ mask);
    if (at == 16 || at == 17) {
        unsigned pos = static_cast<unsigned char>(bad[16]) | (static_cast<unsigned char>(bad[17]) << 8);
        StrRef it;
        CHECK(llist_get(sr(bad), &it) == 0);
        CHECK(sv(it) == (pos < m.items.size() ? std::string_view(m.items[pos]) : std::string_view()));
        return;
    }
    check_refused(bad);
    CHECK(llist_kill(sr(bad)) == ier::SINTAXERROR);
}

void op_sort(Reader& in) {
    uint8_t f = in.byte();
    int flags = (f & 3) | (f & 0xC0);
    std::string text = in.text(in.byte());
    char sep = (flags & 64) ? '\0' : ',';
    ScratchMark mk = scr_mark();
    StrRef t = sr(text);
    std::vector<std::string> fields;
    size_t longest = 0;
    for (int i = 1, n = lst_count(t, sep); i <= n; i++) {
        fields.push_back(str(str_unquote(lst_field(t, i, sep))));
        longest = std::max(longest, fields.back().size());
    }
    for (std::string& s : fields) s.append(longest - s.size(), ' ');
    std::sort(fields.begin(), fields.end(), [&](const std::string& a, const std::string& b) {
        int c = std::memcmp(a.data(), b.data(), longest);
        return (flags & 2) ? c > 0 : c < 0;
    });
    if (flags & 1) fields.erase(std::unique(fields.begin(), fields.end()), fields.end());
    std::string want;
    for (size_t i = 0; i < fields.size(); i++) {
        if (i) want += sep;
        want += (flags & 128) ? str(str_trim(sr(fields[i]), 2)) : fields[i];
    }
    StrRef out;
    IER st = llist_sort_text(t, flags, &out);
    if (want.size() > kStrMax) CHECK(st == ier::STRINGTOOLONG);
    else CHECK(st == 0 && sv(out) == want);
    scr_release(mk);
}

// SORT$ with an argument list from the input: commands, handles of the
// registers, texts and numbers in any count. A list it makes is killed; an
// ADD or KILL on a register's list goes into the model.
void op_call(Reader& in) {
    static const char* kWords[] = {"NEW", "ADD", "MOVE", "GET", "KILL", "new", "TOP", "NXT"};
    FnCall c;
    c.number = fnno::Sort;
    int base = st_count(grp::StkArgs);
    int argc = in.byte() % 6;
    std::string args[6];
    int reg = -1;  // the register whose handle is argument 2
    for (int i = 0; i < argc; i++) {
        uint8_t x = in.byte();
        std::string a;
        int kind = 1;
        switch (x & 3) {
            case 0: a = kWords[(x >> 2) & 7]; break;
            case 1:
                a = g_reg[(x >> 2) & 7].handle;
                if (i == 1) reg = (x >> 2) & 7;
                break;
            case 2: a = in.text((x >> 2) & 15); break;
            default: {
                Num v = num_from_int(static_cast<int8_t>(in.byte()), num_precis());
                a.assign(reinterpret_cast<const char*>(&v), sizeof v);
                kind = 0;
                args[i] = str(num_text(v, num_precis()));
            }
        }
        if (kind) args[i] = a;
        if (st_push(grp::StkArgs, sr(a))) break;
        c.kinds[c.argc++] = static_cast<uint8_t>(kind);
    }
    ScratchMark mk = scr_mark();
    Value v;
    IER st = fn_invoke(c, &v);
    const bool cmd = c.argc && c.kinds[0] == 1;
    if (st < 128 && v.is_text()) CHECK(sr_ok(v.text));
    if (cmd && args[0] == "NEW" && st == 0) CHECK(llist_kill(v.text) == 0);
    if (cmd && reg >= 0 && g_reg[reg].live) {
        Model& m = g_reg[reg];
        if (args[0] == "KILL" && c.argc == 2) {
            CHECK(st == 0);
            m.live = false;
        } else if (args[0] == "ADD" && c.argc == 3 && args[2].size() <= m.l) {
            size_t at = 0;
            int want = model_add(m, args[2], &at);
            if (want == 5) {
                CHECK(st == 5 && sv(v.text) == m.handle);
            } else if (st == 0) {
                m.handle = str(v.text);
                m.items.insert(m.items.begin() + static_cast<long>(at), args[2] + std::string(m.l - args[2].size(), ' '));
            } else {
                CHECK(st == ier::DATAOUTBOUND || st == ier::OUTOFMEMORY);
            }
        }
    }
    scr_release(mk);
    st_popto(grp::StkArgs, base);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static unsigned runs = 0;
    static std::string left_alive;
    if (runs++ == 0) build();
    Reader in{data, size};
    const ScratchMark base = scr_mark();
    for (int steps = 0; !in.empty() && steps < 256; steps++) {
        uint8_t op = in.byte();
        Model& m = g_reg[(op >> 4) & 7];
        switch (op & 15) {
            case 0:
            case 1:
                if (m.live) op_kill(m);
                op_new(m, in);
                break;
            case 2: case 3: case 4:
                if (m.live) op_add(m, in);
                break;
            case 5: case 6:
                if (m.live) op_move(m, in);
                break;
            case 7:
                if (m.live) op_get(m);
                break;
            case 8:
                if (m.live) op_kill(m);
                else if (!m.handle.empty()) check_refused(m.handle);
                break;
            case 9:
                if (m.live) op_forge(m, in);
                break;
            case 10: case 11:
                op_sort(in);
                break;
            default:
                op_call(in);
                break;
        }
        scr_release(base);
        CHECK(scr_mark() == base);
    }
    int live = 0;
    for (Model& m : g_reg) {
        if (!m.live) continue;
        live++;
        if (runs % 8192 == 0 && left_alive.empty()) {
            left_alive = m.handle;  // goes with the stores
            m.live = false;
            continue;
        }
        op_kill(m);
    }
    (void)live;
    if (!left_alive.empty()) {
        for (Model& m : g_reg) CHECK(!m.live);
        CHECK(llist_live() == 1);
        rt_stores_teardown();  // reports the leaked list
        build();
        CHECK(llist_live() == 0);
        check_refused(left_alive);
        left_alive.clear();
    }
    CHECK(llist_live() == 0);
    return 0;
}
