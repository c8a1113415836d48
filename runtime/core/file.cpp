#include "runtime/core/file.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/fs.h"
#include "runtime/core/env.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"

namespace rt {
namespace {

FILE* g_files[kFileHandles];

FILE* stream(uint16_t h) {
    if (h >= kFileHandles) return nullptr;
    if (h == 0) return stdin;
    if (h == 1) return stdout;
    if (h == 2) return stderr;
    return g_files[h];
}

bool has_nul(StrRef s) { return sv(s).find('\0') != std::string_view::npos; }

// The name as the OS layer takes it. A NUL would cut the name short there and
// reach another file (the one named by the part before it), so such a name
// is passed as "", which names no file.
std::string_view name_of(StrRef s) { return has_nul(s) ? std::string_view() : sv(s); }

uint16_t open_failed(IER st, StrRef name, int mode) {
    if (!(mode & fmode::Quiet)) {
        err_origin(1, mod::Streams, st);
        err_detail(st, sr_ok(name) ? name : sr_empty(), true);
    }
    return kBadHandle;
}

// Record kinds: where a definition line carries its record number (1-based
// columns, 0 = no number) and which columns are kept.
struct Kind {
    int num_from, num_to;  // number columns
    int keep_from;         // first column kept
    bool drop_last;        // the last column is not kept
};
constexpr Kind kKinds[kRecordKinds] = {
    {0, 0, 1, false},  // 0: every line whole
    {1, 2, 4, false},  // 1
    {2, 3, 4, true},   // 2
    {1, 4, 6, false},  // 3
    {1, 2, 3, false},  // 4
    {0, 0, 1, false},  // 5: number 0, whole line
    {1, 5, 1, false},  // 6
};

// The record number of a line for a kind; -1 (matching no record, whatever
// value the caller asks for) when a number column holds something other
// than a digit or a blank (blanks count as zeros).
int record_number(std::string_view line, const Kind& k) {
    if (!k.num_from) return 0;
    int v = 0;
    for (int c = k.num_from; c <= k.num_to; c++) {
        char ch = static_cast<size_t>(c) <= line.size() ? line[static_cast<size_t>(c) - 1] : ' ';
        if (ch == ' ') ch = '0';
        if (ch < '0' || ch > '9') return -1;
        v = v * 10 + (ch - '0');
    }
    return v;
}

}  // namespace

int file_record_number(StrRef line, int kind) {
    if (kind < 0 || kind >= kRecordKinds) kind = 0;
    return record_number(sv(line), kKinds[kind]);
}

StrRef file_record_text(StrRef line, int kind) {
    if (kind < 0 || kind >= kRecordKinds) kind = 0;
    const Kind& k = kKinds[kind];
    std::string_view l = sv(line);
    size_t from = static_cast<size_t>(k.keep_from - 1);
    std::string_view kept = from < l.size() ? l.substr(from) : std::string_view();
    if (k.drop_last && !kept.empty()) kept.remove_suffix(1);
    return sr(kept);
}

uint16_t f_open(StrRef name, int mode) {
    if (!sr_ok(name) || name.n == 0 || name.n >= kFileNameMax || has_nul(name))
        return open_failed(ier::BADINPUTDATA, name, mode);
    if (sv(name) == "CON") return (mode & 31) == fmode::Create ? 1 : 0;
    uint16_t h = 3;
    while (h < kFileHandles && g_files[h]) h++;
    if (h >= kFileHandles) return open_failed(ier::DATAOUTBOUND, name, mode);
    char cmode[4];
    int k = 0;
    cmode[k++] = (mode & fmode::Create) ? 'w' : (mode & fmode::Append) ? 'a' : 'r';
    cmode[k++] = 'b';
    if (!(mode & fmode::ReadOnly)) cmode[k++] = '+';
    cmode[k] = 0;
    FILE* f = plat::open_file(name_of(name), cmode);
    if (!f && !(mode & fmode::ReadOnly)) {
        FILE* c = plat::open_file(name_of(name), "w+b");
        if (c) {
            std::fclose(c);
            f = plat::open_file(name_of(name), cmode);
        }
    }
    // The C library opens a folder for reading; a folder is never a file.
    struct stat fs;
    if (f && (fstat(fileno(f), &fs) != 0 || S_ISDIR(fs.st_mode))) {
        std::fclose(f);
        f = nullptr;
    }
    if (!f) return open_failed(ier::FileNotFound, name, mode);
    g_files[h] = f;
    return h;
}

void f_close(uint16_t h) {
    if (h < 3 || h >= kFileHandles || !g_files[h]) return;
    std::fclose(g_files[h]);
    g_files[h] = nullptr;
}

void f_close_all() {
    for (uint16_t h = 3; h < kFileHandles; h++) f_close(h);
}

long long f_size(uint16_t h) {
    if (h < 3) return kPosNone;
    FILE* f = stream(h);
    if (!f) return kPosNone;
    std::fflush(f);
    struct stat st;
    if (fstat(fileno(f), &st) != 0) return kPosNone;
    return static_cast<long long>(st.st_size);
}

long long f_tell(uint16_t h) {
    FILE* f = stream(h);
    return f ? static_cast<long long>(ftello(f)) : kPosNone;
}

IER f_seek(uint16_t h, long long off) {
    FILE* f = stream(h);
    if (!f || off < 0 || fseeko(f, static_cast<off_t>(off), SEEK_SET) != 0) return ier::DiskIO;
    return 0;
}

bool f_at_end(uint16_t h) {
    FILE* f = stream(h);
    if (!f) return true;
    long long size = f_size(h);
    if (size == kPosNone) return std::feof(f) != 0;
    return f_tell(h) >= size;
}

StrRef f_read_line(uint16_t h) {
    FILE* f = stream(h);
    if (!f) return sr_err(ier::DiskIO);
    for (;;) {
        ScrBuild b;
        bool any = false, ended = false, too_long = false;
        int c;
        while ((c = std::getc(f)) != EOF) {
            any = true;
            if (c == '\r') {
                int d = std::getc(f);
                if (d != '\n' && d != EOF) std::ungetc(d, f);
                ended = true;
                break;
            }
            if (c == '\n') {
                ended = true;
                break;
            }
            if (!too_long) {
                b.put(static_cast<char>(c));
                if (b.status()) too_long = true;
            }
        }
        (void)ended;
        if (!any) return sr_err(ier::DiskIO);
        // The rest of an over-long line has been read past, so the next read
        // starts at the next line.
        if (too_long) return sr_err(ier::STRINGTOOLONG);
        if (b.size() == 1 && b.data()[0] == 26) continue;  // a lone Ctrl-Z line
        return b.done();
    }
}

long long f_read(uint16_t h, long long off, size_t count, char* buf) {
    FILE* f = stream(h);
    if (!f) return -1;
    if (off != kPosNone && f_seek(h, off)) return -1;
    long long size = f_size(h);
    if (size != kPosNone && f_tell(h) >= size && count) return -1;
    size_t done = 0;
    while (done < count) {
        size_t chunk = count - done < kFileChunk ? count - done : kFileChunk;
        size_t got = std::fread(buf + done, 1, chunk, f);
        done += got;
        if (got < chunk) break;
    }
    return static_cast<long long>(done);
}

long long f_write(uint16_t h, long long off, StrRef text) {
    FILE* f = stream(h);
    if (!f || !sr_ok(text)) return -1;
    if (off == kPosNone) {
        if (h >= 3 && fseeko(f, 0, SEEK_END) != 0) return -1;
    } else if (f_seek(h, off)) {
        return -1;
    }
    size_t done = 0;
    while (done < text.n) {
        size_t chunk = text.n - done < kFileChunk ? text.n - done : kFileChunk;
        if (std::fwrite(text.p + done, 1, chunk, f) != chunk) return -1;
        done += chunk;
    }
    if (std::fflush(f) != 0) return -1;
    return static_cast<long long>(done);
}

long long file_size(StrRef name) {
    uint16_t h = f_open(name, fmode::ReadOnly | fmode::Quiet);
    if (h == kBadHandle) return 0;
    long long n = f_size(h);
    f_close(h);
    return n < 0 ? 0 : n;
}

StrRef file_read(StrRef name, long long off, long long count) {
    if (!sr_ok(name)) return name;
    uint16_t h = f_open(name, fmode::ReadOnly | fmode::Quiet);
    if (h == kBadHandle) return sr_err(ier::FileNotFound);
    long long size = f_size(h);
    if (off < 0) off = 0;
    if (count < 0 || off >= size || count > size - off) count = size > off ? size - off : 0;
    if (count > static_cast<long long>(kStrMax)) {
        f_close(h);
        return sr_err(ier::STRINGTOOLONG);
    }
    if (static_cast<size_t>(count) > scr_free().n) {
        f_close(h);
        return sr_err(ier::OUTOFMEMORY);
    }
    ScratchMark m = scr_mark();
    StrRef r = scr_alloc(static_cast<size_t>(count), 255);
    if (sr_ok(r) && count) {
        long long got = f_read(h, off, static_cast<size_t>(count), const_cast<char*>(r.p));
        if (got != count) {
            scr_release(m);
            r = sr_err(ier::DISKREADERROR);
        }
    }
    f_close(h);
    return r;
}

StrRef file_read_joined(StrRef name, StrRef joiner) {
    ScratchMark m = scr_mark();
    StrRef all = file_read(name);
    if (!sr_ok(all)) return all;
    StrRef r = str_replace(all, sr("\r\n"), joiner, true);
    r = str_replace(r, sr("\n"), joiner, true);
    return scr_keep(m, r);
}

IER file_write(StrRef name, long long off, StrRef text) {
    if (!sr_ok(name)) return sr_status(name);
    if (!sr_ok(text)) return sr_status(text);
    if (off == kWriteReplace) {
        if (!text.n) {
            file_delete(name);
            return 0;
        }
        return plat::rewrite_file(name_of(name), sv(text)) == 0 ? IER(0) : IER(ier::FileIO);
    }
    if (!text.n) return 0;
    uint16_t h = f_open(name, fmode::Update | fmode::Quiet);
    if (h == kBadHandle) return err_raise(ier::FileNotFound, mod::Streams, sv(name));
    long long n = f_write(h, off, text);
    f_close(h);
    return n == text.n ? IER(0) : IER(ier::FileIO);
}

IER file_append_line(StrRef name, StrRef text) {
    if (!sr_ok(text)) return sr_status(text);
    uint16_t h = f_open(name, fmode::Append | fmode::Quiet);
    if (h == kBadHandle) return err_raise(ier::FileNotFound, mod::Streams, sv(name));
    long long a = f_write(h, kPosNone, text);
    long long b = f_write(h, kPosNone, sr("\r\n"));
    f_close(h);
    return (a == text.n && b == 2) ? IER(0) : IER(ier::FileIO);
}

int file_delete(StrRef name) { return sr_ok(name) ? plat::remove_file(name_of(name)) : -1; }

int file_rename(StrRef from, StrRef to) {
    return (sr_ok(from) && sr_ok(to)) ? plat::rename_file(name_of(from), name_of(to)) : -1;
}

StrRef file_find(StrRef pattern) {
    if (!sr_ok(pattern)) return pattern;
    std::vector<std::string> names = plat::find_files(name_of(pattern));
    if (names.empty()) return sr_err(ier::FileNotFound);
    ScrBuild b;
    for (const std::string& n : names) b.put(n).put('\0');
    return b.done();
}

StrRef folder_current() { return scr_copy(sr(plat::current_folder())); }

int folder_change(StrRef name) { return sr_ok(name) ? plat::change_folder(name_of(name)) : -1; }

int folder_make(StrRef name) { return (sr_ok(name) && plat::make_folder(name_of(name)) == 0) ? 0 : 0xFFFF; }

namespace {

// The parents of a relative path end in a first component without a folder
// part ("new" of "new/sub"): that one is made like any other.
IER make_with_parents(StrRef path) {
    if (plat::folder_exists(name_of(path))) return 0;
    if (plat::make_folder(name_of(path)) == 0) return 0;
    ScratchMark m = scr_mark();
    std::string_view p = sv(path);
    while (!p.empty() && (p.back() == '\\' || p.back() == '/')) p.remove_suffix(1);
    size_t cut = p.find_last_of("\\/");
    IER st = 0;
    if (cut != std::string_view::npos && cut > 0) st = make_with_parents(sr(p.substr(0, cut)));
    scr_release(m);
    if (st) return st;
    return plat::make_folder(name_of(path)) == 0 ? IER(0) : err_detail(ier::BADINPUTDATA, path);
}

}  // namespace

IER folder_make_all(StrRef path) {
    if (!sr_ok(path)) return sr_status(path);
    if (!path_has_folder(path)) return err_detail(ier::BADINPUTDATA, path);
    return make_with_parents(path);
}

StrRef temp_file_name(StrRef name) {
    if (!sr_ok(name)) return name;
    std::string_view n = sv(name);
    size_t sep = n.find_last_of("\\/");
    if (sep != std::string_view::npos) n = n.substr(sep + 1);
    std::string p = plat::make_temp_file(n);
    if (p.empty()) return sr_err(ier::FileNotFound);
    return scr_copy(sr(p));
}

int file_lines_to_queue(StrRef name, int kind, int value, int queue, IER* st) {
    if (st) *st = 0;
    if (kind < 0 || kind >= kRecordKinds) kind = 0;
    const Kind& k = kKinds[kind];
    ScratchMark m = scr_mark();
    uint16_t h = f_open(name, fmode::ReadOnly | fmode::Quiet);
    if (h == kBadHandle && sr_ok(name) && !path_has_folder(name)) {
        StrRef found = env_find(name);
        if (sr_ok(found) && found.n) h = f_open(found, fmode::ReadOnly | fmode::Quiet);
    }
    scr_release(m);
    if (h == kBadHandle) return 0xFFFF;
    int before = st_count(queue);
    int taken = 0;
    IER fail = 0;
    for (;;) {
        StrRef l = f_read_line(h);
        IER ls = sr_status(l);
        if (ls == ier::DiskIO) {
            // The reader ends on a read error as at the end of the file; here
            // that would pass a truncated file off as complete.
            if (std::ferror(stream(h))) fail = ier::DISKREADERROR;
            break;
        }
        if (ls) {
            fail = ls;
            break;
        }
        std::string_view line = sv(l);
        int rec = kind == 0 ? 0 : record_number(line, k);
        if (kind == 0 || (rec >= 0 && rec == value)) {
            size_t from = static_cast<size_t>(k.keep_from - 1);
            std::string_view kept = from < line.size() ? line.substr(from) : std::string_view();
            if (k.drop_last && !kept.empty()) kept.remove_suffix(1);
            if (IER ps = st_push(queue, sr(kept))) {
                fail = ps;
                scr_release(m);
                break;
            }
            taken++;
        }
        scr_release(m);
    }
    f_close(h);
    if (fail) {
        // Never leave part of a file on the queue as if it were all of it.
        while (st_count(queue) > before) {
            if (queue == grp::QueLines || queue == grp::QueUserFields) st_del(queue, st_count(queue) - 1);
            else st_pop(queue);
        }
        if (st) *st = fail;
        return 0xFFFF;
    }
    return taken ? taken : 0xFFFF;
}

StrRef lines_join(int n, StrRef joiner) {
    ScrBuild b;
    int have = st_count(grp::QueLines);
    int take = n < have ? n : have;
    for (int i = 0; i < take; i++) {
        if (i) b.put(joiner);
        b.put(st_get(grp::QueLines, i));
    }
    StrRef r = b.done();
    // The lines are taken: consumers go on with the line after them.
    if (sr_ok(r))
        for (int i = 0; i < take; i++) st_pop(grp::QueLines);
    return r;
}

}  // namespace rt
