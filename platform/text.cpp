// Text conversion and the Windows view of the process environment.
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/fs.h"

namespace plat {

namespace {

// Code points of bytes 0x80 to 0x9F. The five bytes Windows-1252 leaves
// undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the C1 control of the same
// number, as web browsers decode them, so that no byte is lost or turned
// into a replacement mark.
const char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

void put_utf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

bool same_fold(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = char(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z') y = char(y - 'a' + 'A');
        if (x != y) return false;
    }
    return true;
}

// An environment value, "" when unset.
std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

// The passwd entry answers when a service manager or su started the process
// without HOME or USER.
std::string home() {
    std::string h = env("HOME");
    if (h.empty())
        if (struct passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) h = pw->pw_dir;
    return h;
}

std::string user() {
    std::string u = env("USER");
    if (u.empty()) u = env("LOGNAME");
    if (u.empty())
        if (struct passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_name) u = pw->pw_name;
    return u;
}

// A folder below home, or "" when there is no home to put it under.
std::string under_home(const char* xdg, const char* rel) {
    std::string v = env(xdg);
    if (!v.empty()) return v;
    std::string h = home();
    return h.empty() ? h : h + rel;
}

}  // namespace

std::string cp1252_to_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 2);
    for (unsigned char c : s) {
        unsigned cp = c;
        if (c >= 0x80 && c < 0xA0) cp = kHigh[c - 0x80];
        put_utf8(out, cp);
    }
    return out;
}

std::string utf8_to_cp1252(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        unsigned cp = 0;
        bool ok = len > 0 && i + static_cast<size_t>(len) <= s.size();
        if (ok) {
            cp = len == 1 ? c : c & (0x7F >> len);
            for (int k = 1; k < len && ok; k++) {
                unsigned char d = static_cast<unsigned char>(s[i + static_cast<size_t>(k)]);
                ok = (d & 0xC0) == 0x80;
                cp = (cp << 6) | (d & 0x3F);
            }
        }
        if (!ok) {  // not UTF-8: the byte as it is
            out += static_cast<char>(c);
            i++;
            continue;
        }
        i += static_cast<size_t>(len);
        if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) {
            out += static_cast<char>(cp);
            continue;
        }
        char mapped = '?';
        for (int k = 0; k < 32; k++)
            if (kHigh[k] == cp) mapped = static_cast<char>(0x80 + k);
        out += mapped;
    }
    return out;
}

std::string win_env(std::string_view name) {
    std::string n(name);
    if (n.empty()) return {};
    if (const char* v = std::getenv(n.c_str())) return v;

    auto is = [&](const char* w) { return same_fold(name, w); };
    if (is("TEMP") || is("TMP")) return temp_folder();
    if (is("USERPROFILE") || is("HOMEPATH")) return home();
    if (is("APPDATA")) return under_home("XDG_CONFIG_HOME", "/.config");
    if (is("LOCALAPPDATA")) return under_home("XDG_DATA_HOME", "/.local/share");
    if (is("ALLUSERSPROFILE") || is("PROGRAMDATA")) return "/var/lib";
    if (is("ProgramFiles")) return "/opt";
    if (is("CommonProgramFiles")) return "/usr/share";
    if (is("SystemRoot") || is("windir")) return "/";
    if (is("USERNAME")) return user();
    if (is("COMPUTERNAME")) {
        char host[256] = {};
        if (::gethostname(host, sizeof host - 1) != 0) return {};
        return host;
    }
    // HOMEDRIVE and SYSTEMDRIVE are empty like every unknown name: paths here
    // have no drive, and an empty prefix joins harmlessly.
    return {};
}

std::string self_exe() {
    std::string buf(256, '\0');
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (size_t(n) < buf.size()) {
            buf.resize(size_t(n));
            return buf;
        }
        buf.resize(buf.size() * 2);
    }
}

}  // namespace plat
