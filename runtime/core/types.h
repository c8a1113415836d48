// Basic value types shared by every module of the runtime: the status number
// and the string value.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rt {

// Status number returned by every operation: 0 success, 1..121 information,
// 122..127 soft conditions, 128 and above errors.
using IER = uint16_t;

// Longest text a string value can hold (its length is 16 bits).
constexpr size_t kStrMax = 65535;

// A string value: pointer and 16-bit length, not terminated, may hold NULs.
// A null pointer makes it an error value whose length carries a status
// (length 0 stands for 0xFFFF), so that errors pass through chains of string
// operations untouched.
struct StrRef {
    const char* p = nullptr;
    uint16_t n = 0;
};

inline StrRef sr_err(IER status) { return {nullptr, status}; }
// A text longer than a string value can hold is refused (146), never cut.
inline StrRef sr(const char* p, size_t n) {
    return n > kStrMax ? sr_err(146) : StrRef{p, static_cast<uint16_t>(n)};
}
inline StrRef sr(std::string_view v) { return sr(v.data() ? v.data() : "", v.size()); }
inline bool sr_ok(StrRef s) { return s.p != nullptr; }
// 0 for a valid value, else the carried status.
inline IER sr_status(StrRef s) { return s.p ? IER(0) : (s.n ? s.n : IER(0xFFFF)); }
inline std::string_view sv(StrRef s) { return s.p ? std::string_view(s.p, s.n) : std::string_view(); }
inline StrRef sr_empty() { return {"", 0}; }
// From a C string; a missing one is the error value 163, an over-long one 146.
StrRef sr_c(const char* s);

}  // namespace rt
