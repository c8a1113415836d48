#include "runtime/core/scratch.h"

#include <cstring>

#include "runtime/core/blocks.h"
#include "runtime/core/status.h"

namespace rt {
namespace {

struct Mark {
    uint32_t off;
    uint16_t len;
};

char* g_area = nullptr;
size_t g_cap = 0;
Mark* g_marks = nullptr;
int g_nmarks = 0;
int g_cur = 0;
size_t g_top = 0;
size_t g_high_bytes = 0;
int g_high_mark = 0;

inline size_t round4(size_t n) { return (n + 3) & ~size_t(3); }

// Claims the next mark for n bytes at the top; nullptr with *err on failure.
char* claim(size_t n, IER* err) {
    if (!g_area) { *err = ier::OUTOFMEMORY; return nullptr; }
    if (n > kStrMax) { *err = ier::STRINGTOOLONG; return nullptr; }
    if (g_cur + 1 >= g_nmarks || g_top + round4(n) > g_cap) { *err = ier::OUTOFMEMORY; return nullptr; }
    g_cur++;
    g_marks[g_cur] = {static_cast<uint32_t>(g_top), static_cast<uint16_t>(n)};
    char* p = g_area + g_top;
    g_top += round4(n);
    if (g_top > g_high_bytes) g_high_bytes = g_top;
    if (g_cur > g_high_mark) g_high_mark = g_cur;
    return p;
}

}  // namespace

StrRef sr_c(const char* s) {
    if (!s) return sr_err(ier::BADINPUTDATA);
    size_t n = std::strlen(s);
    if (n > kStrMax) return sr_err(ier::STRINGTOOLONG);
    return sr(s, n);
}

IER scr_init(int kib) {
    if (g_area) return ier::UndefWarning;
    if (kib < kScratchMinKiB) kib = kScratchMinKiB;
    size_t cap = static_cast<size_t>(kib) * 1024;
    auto* area = static_cast<char*>(blk_alloc(mod::ExecRunTime, cap, false));
    auto* marks = static_cast<Mark*>(blk_alloc(mod::ExecRunTime, sizeof(Mark) * static_cast<size_t>(kib)));
    if (!area || !marks) {
        if (area) blk_free(mod::ExecRunTime, area);
        if (marks) blk_free(mod::ExecRunTime, marks);
        return ier::OUTOFMEMORY;
    }
    g_area = area;
    g_cap = cap;
    g_marks = marks;
    g_nmarks = kib;
    g_cur = 0;
    g_marks[0] = {0, 0};
    g_top = 0;
    g_high_bytes = 0;
    g_high_mark = 0;
    return 0;
}

bool scr_ready() { return g_area != nullptr; }

void scr_done() {
    if (!g_area) return;
    blk_free(mod::ExecRunTime, g_area);
    blk_free(mod::ExecRunTime, g_marks);
    g_area = nullptr;
    g_marks = nullptr;
    g_cap = 0;
    g_nmarks = 0;
    g_cur = 0;
    g_top = 0;
}

ScratchMark scr_mark() { return static_cast<ScratchMark>(g_cur); }

ScratchMark scr_release(ScratchMark m) {
    // Only downwards: a mark above the current one is not a live string, and
    // moving the top up to it would hand out bytes that are still in use.
    if (!g_area || m >= g_cur) return static_cast<ScratchMark>(g_cur);
    g_cur = m;
    g_top = g_marks[m].off + round4(g_marks[m].len);
    return m;
}

char* scr_alloc_w(size_t n, IER* err) {
    IER e = 0;
    char* p = claim(n, &e);
    if (err) *err = e;
    return p;
}

StrRef scr_alloc(size_t n, int fill) {
    IER e = 0;
    char* p = claim(n, &e);
    if (!p) return sr_err(e);
    if (fill != 255 && n) std::memset(p, fill, n);
    return sr(p, n);
}

StrRef scr_copy(StrRef s) {
    if (!sr_ok(s)) return s;
    IER e = 0;
    char* p = claim(s.n, &e);
    if (!p) return sr_err(e);
    if (s.n) std::memmove(p, s.p, s.n);
    return sr(p, s.n);
}

StrRef scr_keep(ScratchMark m, StrRef s) {
    scr_release(m);
    return scr_copy(s);
}

StrRef scr_latest() {
    if (!g_area) return sr_empty();
    return sr(g_area + g_marks[g_cur].off, g_marks[g_cur].len);
}

StrRef scr_free() {
    if (!g_area) return sr_empty();
    size_t rest = g_cap - g_top;
    rest = rest > 4 ? rest - 4 : 0;
    if (rest > kStrMax) rest = kStrMax;
    return sr(g_area + g_top, rest);
}

const char* scr_cstr(StrRef s) {
    if (!sr_ok(s)) return "";
    IER e = 0;
    char* p = claim(size_t(s.n) + 1, &e);
    if (!p) return "";
    std::memmove(p, s.p, s.n);
    p[s.n] = 0;
    return p;
}

size_t scr_used() { return g_top; }
size_t scr_capacity() { return g_cap; }
int scr_marks_max() { return g_nmarks; }
size_t scr_high_bytes() { return g_high_bytes; }
int scr_high_mark() { return g_high_mark; }

ScrBuild::ScrBuild() : base_(nullptr) {
    if (!g_area) st_ = ier::OUTOFMEMORY;
}

// The builder takes the top of the area at its first write; a scratch
// allocation made after that would overwrite the text, so it is caught here.
bool ScrBuild::bind() {
    if (st_) return false;
    if (!base_) {
        base_ = g_area + g_top;
        cap_ = g_cap - g_top;
    } else if (base_ != g_area + g_top) {
        st_ = ier::INTERNALERROR;
        return false;
    }
    return true;
}

ScrBuild& ScrBuild::put(std::string_view t) {
    if (!bind()) return *this;
    if (len_ + t.size() > kStrMax) { st_ = ier::STRINGTOOLONG; return *this; }
    if (len_ + t.size() > cap_) { st_ = ier::OUTOFMEMORY; return *this; }
    if (!t.empty()) std::memmove(base_ + len_, t.data(), t.size());
    len_ += t.size();
    return *this;
}

ScrBuild& ScrBuild::put(StrRef t) {
    if (!sr_ok(t)) {
        if (!st_) st_ = sr_status(t);
        return *this;
    }
    return put(sv(t));
}

ScrBuild& ScrBuild::put(char c) { return put(std::string_view(&c, 1)); }

ScrBuild& ScrBuild::put_n(char c, size_t n) {
    if (!bind()) return *this;
    if (len_ + n > kStrMax) { st_ = ier::STRINGTOOLONG; return *this; }
    if (len_ + n > cap_) { st_ = ier::OUTOFMEMORY; return *this; }
    std::memset(base_ + len_, c, n);
    len_ += n;
    return *this;
}

ScrBuild& ScrBuild::put_int(long long v) {
    char buf[24];
    int k = 0;
    unsigned long long u = v < 0 ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    do { buf[k++] = static_cast<char>('0' + u % 10); u /= 10; } while (u);
    if (v < 0) buf[k++] = '-';
    char out[24];
    for (int i = 0; i < k; i++) out[i] = buf[k - 1 - i];
    return put(std::string_view(out, static_cast<size_t>(k)));
}

StrRef ScrBuild::done() {
    if (!bind()) return sr_err(st_);
    // The text already sits at the top: claiming the mark makes it a string.
    IER e = 0;
    char* p = claim(len_, &e);
    if (!p) return sr_err(e);
    return sr(p, len_);
}

}  // namespace rt
