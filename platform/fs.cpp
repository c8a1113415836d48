// Files and paths over POSIX. Application files name things the Windows way
// (any case, either separator, a drive letter); everything here turns such a
// name into the one OS path it most plausibly means and then calls the OS.
#include "platform/fs.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace plat {

namespace {

bool is_sep(char c) { return c == '/' || c == '\\'; }

char fold(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

bool same_fold(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

bool lexists(const std::string& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}

bool has_drive(std::string_view name) {
    return name.size() >= 2 && name[1] == ':' &&
           ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z'));
}

// The name with separators turned to '/', repeats collapsed and the drive
// replaced by its mapping; no lookup yet.
std::string convert(std::string_view name) {
    std::string out;
    if (has_drive(name)) {
        std::string var = "QV_DRIVE_";
        var += char(name[0] & ~0x20);
        if (const char* m = std::getenv(var.c_str())) {
            out = m;
            while (!out.empty() && is_sep(out.back())) out.pop_back();
            for (char& c : out)
                if (c == '\\') c = '/';
            // "C:data" is relative to the drive's folder, which here can
            // only be its root.
            out += '/';
        }
        name.remove_prefix(2);
    }
    for (char c : name) {
        if (is_sep(c)) {
            if (out.empty() || out.back() != '/') out += '/';
        } else {
            out += c;
        }
    }
    return out;
}

// The entry of folder dir (an OS path, "" for the current folder) whose name
// equals comp case-insensitively; "" when none. The smallest in byte order
// wins so that the same tree always gives the same answer.
std::string match_in(const std::string& dir, std::string_view comp) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return {};
    std::string best;
    while (struct dirent* e = ::readdir(d)) {
        std::string_view n = e->d_name;
        if (n == "." || n == "..") continue;
        if (same_fold(n, comp) && (best.empty() || n < best)) best = n;
    }
    ::closedir(d);
    return best;
}

// Splits a runtime name at its last separator: the folder part keeps its
// trailing separator (or is a bare drive "C:"), the rest is the last
// component.
void split_last(std::string_view name, std::string_view* folder, std::string_view* last) {
    size_t cut = 0;
    for (size_t i = 0; i < name.size(); ++i)
        if (is_sep(name[i])) cut = i + 1;
    if (cut == 0 && has_drive(name)) cut = 2;
    *folder = name.substr(0, cut);
    *last = name.substr(cut);
}

std::string parent_of(const std::string& path) {
    size_t p = path.rfind('/');
    if (p == std::string::npos) return ".";
    if (p == 0) return "/";
    return path.substr(0, p);
}

mode_t current_umask() {
    // The process is single-threaded, so reading the mask by setting it back
    // at once is safe.
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

bool write_all(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data.remove_prefix(size_t(n));
    }
    return true;
}

}  // namespace

std::string os_path(std::string_view name) {
    std::string path = convert(name);
    if (path.empty() || lexists(path)) return path;

    bool trailing = path.size() > 1 && path.back() == '/';
    std::string out = path[0] == '/' ? "/" : "";
    size_t i = out.size();
    bool found = true;  // every component so far exists
    while (i < path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        std::string comp = path.substr(i, j - i);
        i = j + 1;
        if (comp.empty()) continue;
        if (!out.empty() && out.back() != '/') out += '/';
        if (!found || comp == "." || comp == "..") {
            out += comp;
            continue;
        }
        std::string dir = out;
        std::string cand = out + comp;
        if (lexists(cand)) {
            out = cand;
            continue;
        }
        std::string m = match_in(dir, comp);
        if (m.empty()) {
            // A name that does not exist yet keeps its spelling, so that a
            // new file can be made inside a folder found case-insensitively.
            found = false;
            out += comp;
        } else {
            out += m;
        }
    }
    if (trailing && !out.empty() && out.back() != '/') out += '/';
    return out;
}

bool file_exists(std::string_view name) {
    struct stat st;
    std::string p = os_path(name);
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool folder_exists(std::string_view name) {
    struct stat st;
    std::string p = os_path(name);
    return !p.empty() && ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool has_wildcards(std::string_view name) {
    return name.find_first_of("*?") != std::string_view::npos;
}

namespace {

// Plain '*' and '?' matching, case-insensitive; backtracks only to the last
// star, which is enough because a later star can absorb whatever an earlier
// one would have.
bool glob(std::string_view p, std::string_view n) {
    size_t pi = 0, ni = 0, star = std::string_view::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && p[pi] == '*') {
            star = pi++;
            mark = ni;
        } else if (pi < p.size() && (p[pi] == '?' || fold(p[pi]) == fold(n[ni]))) {
            ++pi;
            ++ni;
        } else if (star != std::string_view::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*') ++pi;
    return pi == p.size();
}

}  // namespace

bool wild_match(std::string_view pattern, std::string_view name) {
    if (glob(pattern, name)) return true;
    // Windows treats a name without an extension as if it ended in a dot:
    // that is why "*.*" lists every file, "ABC.*" finds "ABC" and "ABC*."
    // finds only names without an extension.
    if (name.find('.') != std::string_view::npos) return false;
    std::string dotted(name);
    dotted += '.';
    return glob(pattern, dotted);
}

std::vector<std::string> find_files(std::string_view pattern) {
    std::vector<std::string> names;
    std::string_view folder, last;
    split_last(pattern, &folder, &last);
    if (last.empty()) return names;
    std::string dir = os_path(folder);
    if (dir.empty()) dir = ".";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return names;
    if (dir.back() != '/') dir += '/';
    while (struct dirent* e = ::readdir(d)) {
        std::string_view n = e->d_name;
        if (n == "." || n == ".." || !wild_match(last, n)) continue;
        struct stat st;
        std::string full = dir + e->d_name;
        if (::stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.emplace_back(n);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

FILE* open_file(std::string_view name, const char* mode) {
    std::string p = os_path(name);
    if (p.empty()) return nullptr;
    return std::fopen(p.c_str(), mode);
}

int remove_file(std::string_view name) {
    // unlink, not remove: deleting a file must never take an empty folder
    // of the same name with it.
    std::string p = os_path(name);
    return !p.empty() && ::unlink(p.c_str()) == 0 ? 0 : -1;
}

int rename_file(std::string_view from, std::string_view to) {
    std::string src = os_path(from);
    std::string dst = os_path(to);
    if (src.empty() || dst.empty()) return -1;
    struct stat a, b;
    if (::lstat(src.c_str(), &a) != 0) return -1;
    if (::lstat(dst.c_str(), &b) == 0) {
        if (a.st_dev != b.st_dev || a.st_ino != b.st_ino) {
            // Renaming onto an existing file fails, as it does on Windows,
            // instead of silently destroying the other file.
            errno = EEXIST;
            return -1;
        }
        // The same file under another spelling: a change of case only. The
        // new name takes the spelling the caller gave.
        std::string_view folder, last;
        split_last(to, &folder, &last);
        if (last.empty()) return -1;
        std::string d = parent_of(dst);
        dst = (d == "/" ? d : d + "/") + std::string(last);
        if (dst == src) return 0;
    }
    return ::rename(src.c_str(), dst.c_str()) == 0 ? 0 : -1;
}

int make_folder(std::string_view name) {
    std::string p = os_path(name);
    return !p.empty() && ::mkdir(p.c_str(), 0777) == 0 ? 0 : -1;
}

int change_folder(std::string_view name) {
    std::string p = os_path(name);
    return !p.empty() && ::chdir(p.c_str()) == 0 ? 0 : -1;
}

std::string current_folder() {
    std::string buf(256, '\0');
    for (;;) {
        if (::getcwd(buf.data(), buf.size())) {
            buf.resize(std::strlen(buf.c_str()));
            return buf;
        }
        if (errno != ERANGE) return {};
        buf.resize(buf.size() * 2);
    }
}

int rewrite_file(std::string_view name, std::string_view data) {
    std::string path = os_path(name);
    if (path.empty() || path.back() == '/') return -1;

    mode_t mode = 0666 & ~current_umask();
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0) {
        // Renaming over a symbolic link would replace the link itself; write
        // the file it points to instead.
        if (S_ISLNK(st.st_mode)) {
            char real[PATH_MAX];
            if (!::realpath(path.c_str(), real)) return -1;
            path = real;
            if (::stat(path.c_str(), &st) != 0) return -1;
        }
        mode = st.st_mode & 07777;
    }

    std::string dir = parent_of(path);
    size_t slash = path.rfind('/');
    // The temporary name carries the target's so that a leftover of a crash
    // says what it was; cut so that it stays within the length of a name.
    std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1, 200);
    std::string tmpl = (dir == "/" ? dir : dir + "/") + "." + base + ".XXXXXX";
    int fd = ::mkstemp(tmpl.data());
    if (fd < 0) return -1;

    bool ok = write_all(fd, data) && ::fsync(fd) == 0 && ::fchmod(fd, mode) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmpl.c_str(), path.c_str()) != 0) {
        ::unlink(tmpl.c_str());
        return -1;
    }
    // Make the rename itself durable; a failure here leaves a complete file
    // either way, so it is not reported.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return 0;
}

std::string temp_folder() {
    const char* t = std::getenv("TMPDIR");
    std::string dir = (t && *t) ? t : "/tmp";
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

std::string make_temp_file(std::string_view suffix) {
    if (suffix.find('/') != std::string_view::npos) return {};
    std::string path = temp_folder();
    if (path != "/") path += '/';
    path += "qvXXXXXX";
    path += suffix;
    int fd = ::mkstemps(path.data(), int(suffix.size()));
    if (fd < 0) return {};
    // mkstemps already uses 0600; saying it again keeps the promise on any C
    // library.
    bool ok = ::fchmod(fd, 0600) == 0;
    ::close(fd);
    if (!ok) {
        ::unlink(path.c_str());
        return {};
    }
    return path;
}

bool file_info(std::string_view name, FileInfo* out) {
    std::string p = os_path(name);
    struct stat st;
    if (p.empty() || ::stat(p.c_str(), &st) != 0) return false;
    out->size = st.st_size;
    // Not every Linux file system keeps a birth time, so the creation time is
    // the last status change: the time the file was made unless it has been
    // renamed or had its mode changed since.
    out->created = st.st_ctime;
    out->accessed = st.st_atime;
    out->written = st.st_mtime;
    return true;
}

}  // namespace plat
