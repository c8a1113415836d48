// The scratch area: one block that works as a stack of scratch strings. An
// operation notes the current mark when it starts, builds temporaries freely,
// and before it returns releases back to its mark, copying its one result to
// the new top (scr_keep).
#pragma once
#include "runtime/core/types.h"

namespace rt {

using ScratchMark = uint16_t;

// Creates the area of kib KiB with kib marks (two blocks of module 9).
IER scr_init(int kib);
bool scr_ready();
void scr_done();

ScratchMark scr_mark();
// Cuts the area back so that the string of mark m is the latest. A mark at or
// above the current one changes nothing. Returns the current mark.
ScratchMark scr_release(ScratchMark m);
// A new scratch string of n bytes, filled with fill unless it is 255.
// 145 when the area or the mark table is full, 146 when n > 65535.
StrRef scr_alloc(size_t n, int fill = 0);
// Writable form of scr_alloc; nullptr with *err set on failure.
char* scr_alloc_w(size_t n, IER* err);
StrRef scr_copy(StrRef s);
// Release to m, then copy s (s may lie in the released part).
StrRef scr_keep(ScratchMark m, StrRef s);
StrRef scr_latest();
// The free rest of the area from the top: free bytes minus 4 (never below
// 0), at most 65535. Writing there is allowed until the next allocation.
StrRef scr_free();
// A scratch copy followed by a NUL; an error value gives "".
const char* scr_cstr(StrRef s);

// Statistics.
size_t scr_used();
size_t scr_capacity();
int scr_marks_max();
size_t scr_high_bytes();
int scr_high_mark();

// Builds one scratch string in place at the top of the area: appends go
// straight to the free space, done() turns what was written into the latest
// scratch string. No other scratch allocation may happen between the first
// put and done() (that gives 141 from done()). An overflow (area or 65535 bytes) keeps its status in the
// builder (146) and later puts do nothing.
class ScrBuild {
public:
    ScrBuild();
    ScrBuild& put(std::string_view t);
    ScrBuild& put(StrRef t);
    ScrBuild& put(char c);
    ScrBuild& put_n(char c, size_t n);
    ScrBuild& put_int(long long v);
    size_t size() const { return len_; }
    char* data() { return base_; }
    IER status() const { return st_; }
    // Shortens the text built so far.
    void truncate(size_t n) { if (n < len_) len_ = n; }
    StrRef done();  // the error value when an overflow happened

private:
    bool bind();
    char* base_;
    size_t len_ = 0;
    size_t cap_ = 0;
    IER st_ = 0;
};

}  // namespace rt
