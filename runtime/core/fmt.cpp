#include "runtime/core/fmt.h"

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"

namespace rt {
namespace {

// Digits of v in base 10 or 16 into buf (reversed order undone); returns length.
int digits(unsigned long long v, int base, char* buf) {
    char tmp[24];
    int k = 0;
    do {
        int d = static_cast<int>(v % static_cast<unsigned>(base));
        tmp[k++] = static_cast<char>(d < 10 ? '0' + d : 'a' + d - 10);
        v /= static_cast<unsigned>(base);
    } while (v);
    for (int i = 0; i < k; i++) buf[i] = tmp[k - 1 - i];
    return k;
}

void pad_put(ScrBuild& b, std::string_view body, std::string_view sign, int width, bool left, bool zero) {
    int len = static_cast<int>(body.size() + sign.size());
    int fill = width > len ? width - len : 0;
    if (left) {
        b.put(sign).put(body).put_n(' ', static_cast<size_t>(fill));
    } else if (zero) {
        b.put(sign).put_n('0', static_cast<size_t>(fill)).put(body);
    } else {
        b.put_n(' ', static_cast<size_t>(fill)).put(sign).put(body);
    }
}

}  // namespace

StrRef fmt(size_t capacity, std::string_view pat, std::initializer_list<FmtArg> args) {
    if (capacity == 0 || capacity > kStrMax) capacity = kStrMax;
    const FmtArg* next = args.begin();
    const FmtArg* end = args.end();
    ScrBuild b;
    size_t i = 0;
    while (i < pat.size()) {
        size_t pc = pat.find('%', i);
        if (pc == std::string_view::npos) {
            b.put(pat.substr(i));
            break;
        }
        b.put(pat.substr(i, pc - i));
        size_t j = pc + 1;
        bool left = false, zero = false;
        while (j < pat.size() && (pat[j] == '-' || pat[j] == '0')) {
            (pat[j] == '-' ? left : zero) = true;
            j++;
        }
        int width = 0;
        while (j < pat.size() && pat[j] >= '0' && pat[j] <= '9' && width < 1000) width = width * 10 + (pat[j++] - '0');
        int prec = -1;
        if (j < pat.size() && pat[j] == '.') {
            prec = 0;
            j++;
            while (j < pat.size() && pat[j] >= '0' && pat[j] <= '9' && prec < 100000) prec = prec * 10 + (pat[j++] - '0');
        }
        // Length modifiers are accepted and ignored.
        while (j < pat.size() && (pat[j] == 'l' || pat[j] == 'h')) j++;
        char conv = j < pat.size() ? pat[j] : 0;
        switch (conv) {
        case '%':
            b.put('%');
            break;
        case 's': {
            StrRef s = sr_empty();
            if (next != end) {
                s = next->kind == FmtArg::Str ? next->s : sr_empty();
                ++next;
            }
            std::string_view body = sv(s);
            if (prec >= 0 && body.size() > static_cast<size_t>(prec)) body = body.substr(0, static_cast<size_t>(prec));
            pad_put(b, body, {}, width, left, false);
            break;
        }
        case 'i': case 'd': case 'u': case 'x': case 'X': case 'c': {
            long long v = 0;
            if (next != end) {
                v = next->kind == FmtArg::Int ? next->i : 0;
                ++next;
            }
            char buf[24];
            if (conv == 'c') {
                buf[0] = static_cast<char>(v);
                pad_put(b, std::string_view(buf, 1), {}, width, left, false);
                break;
            }
            bool neg = (conv == 'i' || conv == 'd') && v < 0;
            unsigned long long u = neg ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
            if (conv == 'u' || conv == 'x' || conv == 'X') u &= 0xFFFFFFFFull;
            int n = digits(u, (conv == 'x' || conv == 'X') ? 16 : 10, buf);
            if (conv == 'X')
                for (int k = 0; k < n; k++)
                    if (buf[k] >= 'a') buf[k] = static_cast<char>(buf[k] - 32);
            pad_put(b, std::string_view(buf, static_cast<size_t>(n)), neg ? "-" : "", width, left, zero);
            break;
        }
        default:
            // Not ours to fill (%n, %p, a lone % ...): copied as written.
            b.put(pat.substr(pc, (conv ? j + 1 : j) - pc));
            break;
        }
        if (b.size() > capacity) break;
        i = conv ? j + 1 : j;
    }
    if (b.status() || b.size() > capacity) {
        err_origin(1, mod::FormatStrings, ier::STRINGTOOLONG);
        return sr_err(ier::STRINGTOOLONG);
    }
    return b.done();
}

}  // namespace rt
