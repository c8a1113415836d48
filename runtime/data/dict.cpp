#include "runtime/data/dict.h"

#include "runtime/data/rec.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/ftype.h"
#include "runtime/script/proc.h"

namespace rt {
namespace {

constexpr std::string_view kDefFiles = "DICC.DAT,REL.DAT,RELUP.DAT,RELUPSQL.DAT,MENU.PPN";
constexpr std::string_view kFileKinds = ",FD,DIR,NDX,TMP,TXT";
constexpr int kAuxNamesAsWritten = 8;  // _AUXSTAT
constexpr int kCompatShortNames = 8;   // _COMPAT: names of eight characters
constexpr int kCompatNdx = 2;          // _COMPAT: index files are NDX
// Bounds that keep a hostile dictionary from growing without end; no
// application comes near them.
constexpr size_t kFieldsMax = 8192;
constexpr size_t kKeysMax = 64;
constexpr int kIncludeDepthMax = 8;

struct Field {
    std::string name;
    uint16_t offset = 0;
    uint16_t width = 0;
    char type = 'A';
};

struct Key {
    int count = 0;
    KeySegment seg[kKeySegmentsMax]{};
    uint16_t field[kKeySegmentsMax]{};  // from 1
};

// What defines a structure; a FILESTRUCT mark keeps a copy of it.
struct Meta {
    int cls = 0;
    std::string name, folder, relations;
    std::vector<Field> fields;
    std::vector<Key> keys;
    size_t width = 0;
    bool completed = false;
    bool default_key = false;  // its only key is the default one
    unsigned stamp = 0;
};

struct Structure {
    Meta m;
    std::string buf;  // current record, then the saved copy
};

struct Mark {
    std::vector<Meta> metas;
    int16_t curfil = 0;
};

struct Dict {
    unsigned gen = ~0u;
    std::vector<Structure> s;
    std::vector<Mark> marks;
    size_t fields = 0;
    unsigned stamps = 0;
};

Dict g_dict;

// The dictionary lives as long as the stores it was built with: a new build
// starts with none.
Dict& D() {
    unsigned gen = rt_stores_generation();
    if (g_dict.gen != gen) {
        g_dict.s.clear();
        g_dict.marks.clear();
        g_dict.fields = 0;
        g_dict.gen = gen;
    }
    return g_dict;
}

Structure* get(int n) {
    Dict& d = D();
    return (n >= 1 && n <= static_cast<int>(d.s.size())) ? &d.s[static_cast<size_t>(n - 1)] : nullptr;
}

IER fail(IER st, std::string_view detail = {}) {
    err_origin(1, mod::DataFile, st);
    if (!detail.empty()) err_detail(st, detail);
    return st;
}

IER fail_at(IER st, int file, int field) {
    err_origin(1, mod::DataFile, st);
    ScratchMark m = scr_mark();
    err_detail(st, fmt("(File:%i, Field:%i)", {file, field}));
    scr_release(m);
    return st;
}

std::string lower(std::string_view v) {
    std::string r(v);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

std::string upper(std::string_view v) {
    std::string r(v);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

bool names_as_written() { return (sysv_get(sysv::AUXSTAT) & kAuxNamesAsWritten) != 0; }

std::string_view trim(std::string_view v) {
    size_t a = v.find_first_not_of(" \t");
    if (a == std::string_view::npos) return {};
    size_t b = v.find_last_not_of(" \t");
    return v.substr(a, b - a + 1);
}

std::string_view trim_right(std::string_view v) {
    size_t b = v.find_last_not_of(" \t");
    return b == std::string_view::npos ? std::string_view() : v.substr(0, b + 1);
}

// A decimal number of digits only (no sign); false for anything else or an
// empty text. Values beyond max are refused rather than wrapped.
bool parse_digits(std::string_view v, long max, long* out) {
    if (v.empty()) return false;
    long n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
        if (n > max) return false;
    }
    *out = n;
    return true;
}

// Groups 1 and 2 of the string table carry the names and folders, item =
// file number - 1: the start-up declares one variable per name from there.
IER sync_names() {
    if (!st_ready()) return 0;
    Dict& d = D();
    st_clear(grp::FileNames);
    st_clear(grp::FileFolders);
    for (size_t i = 0; i < d.s.size(); i++) {
        if (IER st = st_set(grp::FileNames, static_cast<int>(i), sr(d.s[i].m.name))) return st;
        if (IER st = st_set(grp::FileFolders, static_cast<int>(i), sr(d.s[i].m.folder))) return st;
    }
    return 0;
}

// Rebuilds the record buffers after the structure's width changed: both
// halves keep what they held, blanks fill the rest.
void resize_buffer(Structure& s, size_t old_width) {
    size_t w = s.m.width;
    std::string b(2 * w, ' ');
    size_t keep = std::min(old_width, w);
    if (s.buf.size() == 2 * old_width) {
        b.replace(0, keep, s.buf, 0, keep);
        b.replace(w, keep, s.buf, old_width, keep);
    }
    s.buf.swap(b);
}

int field_by_name(const Meta& m, std::string_view name) {
    for (size_t i = 0; i < m.fields.size(); i++)
        if (m.fields[i].name == name) return static_cast<int>(i + 1);
    return -1;
}

// The field holding byte `offset`: the first whose end lies beyond it.
int field_at(const Meta& m, size_t offset) {
    for (size_t i = 0; i < m.fields.size(); i++)
        if (static_cast<size_t>(m.fields[i].offset) + m.fields[i].width > offset) return static_cast<int>(i + 1);
    return 0;
}

void complete_one(Meta& m) {
    if (m.completed || m.fields.empty()) return;  // a structure still without fields waits
    m.completed = true;
    if (!m.keys.empty()) return;
    int f = field_by_name(m, "N_LINE");
    if (f < 1) f = 1;
    const Field& fl = m.fields[static_cast<size_t>(f - 1)];
    Key k;
    k.count = 1;
    k.seg[0] = {fl.offset, fl.width};
    k.field[0] = static_cast<uint16_t>(f);
    m.keys.push_back(k);
    m.default_key = true;
}

// ------------------------------------------------------------ loader

// Segments written as groups of 4 digits of offset (from 1) and 3 of length;
// a closing character at the end is not part of them. Groups past the fifth
// are not read.
IER parse_segments(std::string_view text, KeySegment* seg, int* count) {
    text = trim_right(text);
    if (!text.empty() && !(text.back() >= '0' && text.back() <= '9') && text.back() != ' ') text.remove_suffix(1);
    *count = 0;
    for (size_t at = 0; at < text.size() && *count < kKeySegmentsMax; at += 7) {
        std::string_view g = text.substr(at, 7);
        if (g.size() < 7) return ier::BADINPUTDATA;
        long off = 0, len = 0;
        // Numbers may be written with leading blanks.
        if (!parse_digits(trim(g.substr(0, 4)), 9999, &off) || !parse_digits(trim(g.substr(4, 3)), 999, &len) ||
            off < 1)
            return ier::BADINPUTDATA;
        seg[*count] = {static_cast<uint16_t>(off - 1), static_cast<uint16_t>(len)};
        (*count)++;
    }
    return 0;
}

struct LoadState {
    std::vector<std::string> stack;  // prefixes being loaded, outermost first
};

IER load_pair(std::string_view prefix, LoadState& ls);

struct FileCtx {
    std::string file;  // as named, for the detail text
    int line = 0;
    int start_count = 0;
    int own_first = 0;  // first structure opened by a header of this dictionary
};

IER line_fail(IER st, const FileCtx& c) {
    ScratchMark m = scr_mark();
    StrRef t = fmt("%s: line %i", {sr(c.file), c.line});
    err_origin(1, mod::DataFile, st);
    err_detail(st, t, true);
    scr_release(m);
    return st;
}

int base_of(const FileCtx& c) { return c.own_first ? c.own_first : c.start_count + 1; }

IER load_line(std::string_view line, FileCtx& c, LoadState& ls) {
    if (line.size() < 2 || line[0] < '0' || line[0] > '9' || line[1] < '0' || line[1] > '9') return 0;
    int nn = (line[0] - '0') * 10 + (line[1] - '0');
    if (nn < 1 || nn > 90) return 0;
    int k = (nn - 1) / 30, j = (nn - 1) % 30;
    ScratchMark m = scr_mark();
    IER st = 0;
    if (k == 0 && line.find('*') != std::string_view::npos) {
        // A plain split: a folder may hold quote characters.
        std::string_view items[3];
        size_t from = 0;
        for (int i = 0; i < 3 && from <= line.size(); i++) {
            size_t star = line.find('*', from);
            items[i] = line.substr(from, star == std::string_view::npos ? std::string_view::npos : star - from);
            from = star == std::string_view::npos ? line.size() + 1 : star + 1;
        }
        std::string_view item2 = trim(items[1]), item3 = items[2];
        long cls = 0;
        std::string_view digits = item3.substr(0, std::min<size_t>(2, item3.size()));
        if (!parse_digits(digits, 99, &cls)) cls = 0;
        std::string_view name = trim(item3.size() > 2 ? item3.substr(2) : std::string_view());
        if (item2.find('$') != std::string_view::npos) {
            if (name.size() < 2) {
                st = line_fail(ier::LOADSTRERROR, c);
            } else {
                st = load_pair(name.substr(0, 2), ls);
                if (st) line_fail(st, c);
            }
        } else {
            int n = 0;
            st = dict_open(static_cast<int>(cls), sr(name), sr(item2), &n);
            if (st) line_fail(st, c);
            else if (!c.own_first) c.own_first = n;
        }
    } else if (k == 0) {
        auto col = [&](size_t from, size_t n) {
            return from < line.size() ? line.substr(from, n) : std::string_view();
        };
        std::string_view wtext = trim(col(9, 3));
        long width = 0;
        if (!wtext.empty() && !parse_digits(wtext, 999, &width)) {
            st = line_fail(ier::BADINPUTDATA, c);
        } else {
            char type = line.size() > 13 ? line[13] : ' ';
            std::string_view name = trim_right(col(14, std::string_view::npos));
            st = dict_add_field(sr(name), static_cast<int>(width), type);
            if (st) line_fail(st, c);
        }
    } else if (k == 1) {
        size_t lt = line.find('<');
        if (lt != std::string_view::npos) {
            KeySegment seg[kKeySegmentsMax];
            int count = 0;
            st = parse_segments(line.substr(lt + 1), seg, &count);
            if (st) line_fail(st, c);
            else if (count) {
                st = dict_add_key(base_of(c) + j, count, seg);
                if (st) line_fail(st, c);
            }
        }
    } else {
        size_t colon = line.find(':');
        if (colon != std::string_view::npos) {
            st = dict_add_relation(base_of(c) + j, sr(line.substr(colon + 1)));
            if (st) line_fail(st, c);
        }
    }
    scr_release(m);
    return st;
}

// Reads one dictionary file line by line; missing_ok for XXREL.DAT.
IER load_file(std::string_view prefix, int kind, FileCtx& c, LoadState& ls, bool missing_ok) {
    ScratchMark m = scr_mark();
    StrRef name = dict_def_name(sr(prefix), kind);
    if (!sr_ok(name)) return sr_status(name);
    std::string file(sv(name));
    StrRef found = env_find(name);
    uint16_t h = kBadHandle;
    if (sr_ok(found) && found.n) h = f_open(found, fmode::ReadOnly | fmode::Quiet);
    scr_release(m);
    if (h == kBadHandle) return missing_ok ? IER(0) : fail(ier::FileNotFound, file);
    c.file = file;
    c.line = 0;
    IER st = 0;
    for (;;) {
        ScratchMark lm = scr_mark();
        StrRef l = f_read_line(h);
        c.line++;
        IER rs = sr_status(l);
        if (rs == ier::DiskIO) {
            scr_release(lm);
            break;  // the end of the file
        }
        // Over-long lines are refused, never cut: what follows the cut
        // would read as something else.
        if (rs || l.n > kDictLineMax) {
            scr_release(lm);
            st = line_fail(rs ? rs : IER(ier::STRINGTOOLONG), c);
            break;
        }
        // The line is copied out of the scratch area: loading an include
        // reads other files meanwhile.
        std::string line(sv(l));
        scr_release(lm);
        if ((st = load_line(line, c, ls))) break;
    }
    f_close(h);
    return st;
}

IER load_pair(std::string_view prefix, LoadState& ls) {
    std::string up = upper(prefix);
    if (std::find(ls.stack.begin(), ls.stack.end(), up) != ls.stack.end() ||
        static_cast<int>(ls.stack.size()) >= kIncludeDepthMax) {
        ScratchMark m = scr_mark();
        StrRef t = fmt("include of %sDICC.DAT", {sr(prefix)});
        fail(ier::BADINPUTDATA, sv(t));
        scr_release(m);
        return ier::BADINPUTDATA;
    }
    ls.stack.push_back(up);
    FileCtx c;
    c.start_count = dict_count();
    IER st = load_file(prefix, 1, c, ls, false);
    if (!st) st = load_file(prefix, 2, c, ls, true);
    ls.stack.pop_back();
    return st;
}

// ------------------------------------------------------------ marks

void restore_to(const Mark& mk) {
    Dict& d = D();
    size_t n = std::min(mk.metas.size(), d.s.size());
    d.s.resize(n);
    d.fields = 0;
    for (size_t i = 0; i < n; i++) {
        Structure& s = d.s[i];
        size_t old = s.m.width;
        bool same = s.m.stamp == mk.metas[i].stamp;
        s.m = mk.metas[i];
        if (!same || s.m.width != old) resize_buffer(s, same ? old : 0);
        d.fields += s.m.fields.size();
    }
    sync_names();
    sysv_set(sysv::CURFIL, mk.curfil);
}

// ------------------------------------------------------------ FILESTRUCT

IER filestruct_define(StrRef name, StrRef fields, StrRef keys) {
    int n = 0;
    IER st = dict_open(0, name, sr_empty(), &n);
    if (st) return st;
    ScratchMark m = scr_mark();
    int nf = fields.n ? lst_count(fields) : 0;
    for (int i = 1; i <= nf && !st; i++) {
        StrRef item = str_trim(lst_field(fields, i));
        if (!item.n) continue;
        StrRef fname = str_trim(lst_field(item, 1, ';'));
        StrRef wexpr = str_trim(lst_field(item, 2, ';'));
        StrRef ttext = str_trim(lst_field(item, 3, ';'));
        Value v;
        IER es = ex_eval(wexpr, &v);
        if (es >= 122 && es != ier::NullExpression) {
            st = es;
        } else if (v.is_text()) {
            st = fail(ier::TypeMismatch, sv(item));
        } else {
            long long w = es == ier::NullExpression ? 0 : num_int_part(v.num, num_precis());
            int width = w < 0 ? -1 : w > kFieldWidthMax ? kFieldWidthMax + 1 : static_cast<int>(w);
            st = dict_add_field(fname, width, ttext.n ? ttext.p[0] : 'A');
        }
    }
    int nk = keys.n ? lst_count(keys) : 0;
    for (int i = 1; i <= nk && !st; i++) {
        std::string_view item = trim(sv(lst_field(keys, i)));
        if (item.empty()) continue;
        size_t lt = item.find('<');
        KeySegment seg[kKeySegmentsMax];
        int count = 0;
        st = parse_segments(lt == std::string_view::npos ? item : item.substr(lt + 1), seg, &count);
        if (st) fail(st, item);
        else if (count) st = dict_add_key(n, count, seg);
    }
    scr_release(m);
    if (st) return st;
    dict_complete(n);
    sysv_set(sysv::CURFIL, static_cast<int16_t>(n));
    return 0;
}

IER filestruct(const ArgumentList& a) {
    StrRef name = arg_text(a, 0);
    if (upper(trim(sv(name))) == "RESTORE") return dict_restore_mark();
    if (IER st = dict_mark()) return st;
    IER st = filestruct_define(name, arg_text(a, 1), arg_text(a, 2));
    // A structure that could not be defined whole is not left behind.
    if (st) dict_restore_mark();
    return st;
}

// ------------------------------------------------------------ ports

IER port_resolve(StrRef file, StrRef field, FieldRef* out) {
    int s = 0, f = 0;
    IER st = dict_resolve(file, field, &s, &f);
    if (st) return st;
    out->file = s;
    out->field = f;
    out->type = get(s)->m.fields[static_cast<size_t>(f - 1)].type;
    return 0;
}

IER port_read(const FieldRef& f, StrRef* text) {
    StrRef v;
    IER st = dict_value(f.file, f.field, 1, &v);
    if (st) return st;
    *text = scr_copy(v);
    return sr_status(*text);
}

IER port_write(const FieldRef& f, StrRef text) { return dict_set(f.file, f.field, text); }

IER port_names(const FieldRef& f, StrRef* field, StrRef* file) {
    Structure* s = get(f.file);
    if (!s) return fail(ier::FILEOUTBOUND);
    if (f.field < 1 || f.field > static_cast<int>(s->m.fields.size())) return fail_at(ier::DATAOUTBOUND, f.file, f.field);
    *field = sr(s->m.fields[static_cast<size_t>(f.field - 1)].name);
    *file = str_num(static_cast<int16_t>(f.file));
    return sr_status(*file);
}

const FieldPort kFieldPort{port_resolve, port_read, port_write, port_names};

int open_marks() { return dict_marks(); }

void restore_marks(int count) {
    while (dict_marks() > std::max(count, 0)) dict_restore_mark();
}

// The start-up loads into an empty dictionary: its second try must not
// find the structures of a first one that failed half-way.
IER startup_load(StrRef prefix) {
    dict_clear();
    return dict_load(prefix);
}

}  // namespace

// ------------------------------------------------------------ building

IER dict_open(int cls, StrRef name, StrRef folder, int* number) {
    if (!sr_ok(name)) return sr_status(name);
    if (!sr_ok(folder)) return sr_status(folder);
    Dict& d = D();
    if (d.s.size() >= static_cast<size_t>(kStructsMax)) return fail(ier::FILEOUTBOUND, sv(name));
    Structure s;
    s.m.cls = cls & 0xFF;
    s.m.name = names_as_written() ? std::string(sv(name)) : lower(sv(name));
    s.m.folder = std::string(sv(folder));
    s.m.stamp = ++d.stamps;
    d.s.push_back(std::move(s));
    if (IER st = sync_names()) {
        d.s.pop_back();
        sync_names();
        return fail(st);
    }
    if (number) *number = static_cast<int>(d.s.size());
    return 0;
}

IER dict_add_field(StrRef name, int width, char type) {
    if (!sr_ok(name)) return sr_status(name);
    Dict& d = D();
    if (d.s.empty() || d.s.size() >= static_cast<size_t>(kStructsMax) || d.fields >= kFieldsMax)
        return fail(ier::FILEOUTBOUND, sv(name));
    Structure& s = d.s.back();
    // The record width is a 16-bit count and a record half a string value.
    if (width < 0 || width > kFieldWidthMax || s.m.width + static_cast<size_t>(width) > kStrMax)
        return fail_at(ier::DATAOUTBOUND, static_cast<int>(d.s.size()), static_cast<int>(s.m.fields.size() + 1));
    Field f;
    f.name = std::string(sv(name));
    f.offset = static_cast<uint16_t>(s.m.width);
    f.width = static_cast<uint16_t>(width);
    f.type = (type >= 'a' && type <= 'z') ? static_cast<char>(type - 'a' + 'A') : (type == ' ' || !type) ? 'A' : type;
    s.m.fields.push_back(std::move(f));
    size_t old = s.m.width;
    s.m.width += static_cast<size_t>(width);
    resize_buffer(s, old);
    d.fields++;
    return 0;
}

IER dict_add_key(int structure, int segments, const KeySegment* seg) {
    Structure* s = get(structure);
    if (!s || segments < 1 || !seg) return fail(ier::BADINPUTDATA);
    Meta& m = s->m;
    if (m.keys.size() >= kKeysMax && !m.default_key) return fail(ier::FILEOUTBOUND);
    Key k;
    k.count = std::min(segments, kKeySegmentsMax);
    for (int i = 0; i < k.count; i++) {
        // A segment must lie in the record: its value is read from there.
        size_t end = static_cast<size_t>(seg[i].offset) + seg[i].length;
        int f = field_at(m, seg[i].offset);
        if (!f || end > m.width) {
            ScratchMark sm = scr_mark();
            fail(ier::INTERNALERROR, sv(fmt("(File:%i, Key segment:%i)", {structure, i + 1})));
            scr_release(sm);
            return ier::INTERNALERROR;
        }
        k.seg[i] = seg[i];
        k.field[i] = static_cast<uint16_t>(f);
    }
    dict_complete(structure - 1);
    // A declared key takes the place of a default one given before it was
    // known: the declared keys come first, whatever order they arrive in.
    if (m.default_key) {
        m.keys.clear();
        m.default_key = false;
    }
    m.keys.push_back(k);
    return 0;
}

IER dict_add_relation(int structure, StrRef text) {
    if (!sr_ok(text)) return sr_status(text);
    Structure* s = get(structure);
    if (!s) return fail(ier::BADFILENUMBER);
    if (!s->m.relations.empty()) s->m.relations += ':';
    if (s->m.relations.size() + text.n > kStrMax) return fail(ier::STRINGTOOLONG);
    s->m.relations.append(sv(text));
    return 0;
}

void dict_complete(int up_to) {
    Dict& d = D();
    int n = std::min(up_to, static_cast<int>(d.s.size()));
    for (int i = 0; i < n; i++) complete_one(d.s[static_cast<size_t>(i)].m);
}

StrRef dict_def_name(StrRef prefix, int kind) {
    if (!sr_ok(prefix)) return prefix;
    if (kind < 1 || kind > 5) return sr_err(ier::BADINPUTDATA);
    ScratchMark m = scr_mark();
    ScrBuild b;
    b.put(str_sub(prefix, 0, 2)).put(lst_field(kDefFiles, kind));
    return scr_keep(m, b.done());
}

IER dict_load(StrRef name) {
    if (!sr_ok(name)) return sr_status(name);
    if (name.n < 2) return fail(ier::LOADSTRERROR, sv(name));
    LoadState ls;
    IER st = load_pair(sv(name).substr(0, 2), ls);
    // What was read stays open, complete, also when a later line failed.
    dict_complete(dict_count());
    return st;
}

void dict_clear() {
    Dict& d = D();
    d.s.clear();
    d.marks.clear();
    d.fields = 0;
    sync_names();
}

// ------------------------------------------------------------ reading

int dict_count() { return static_cast<int>(D().s.size()); }

int dict_find(StrRef name) {
    if (!sr_ok(name)) return 0;
    std::string want = names_as_written() ? std::string(sv(name)) : lower(sv(name));
    Dict& d = D();
    for (size_t i = 0; i < d.s.size(); i++)
        if (d.s[i].m.name == want) return static_cast<int>(i + 1);
    return 0;
}

StrRef dict_name(int structure) {
    Structure* s = get(structure);
    return s ? sr(s->m.name) : sr_empty();
}

StrRef dict_folder(int structure) {
    Structure* s = get(structure);
    return s ? sr(s->m.folder) : sr_empty();
}

StrRef dict_relations(int structure) {
    Structure* s = get(structure);
    return s ? sr(s->m.relations) : sr_empty();
}

int dict_class(int structure) {
    Structure* s = get(structure);
    return s ? s->m.cls : 0;
}

int dict_fields(int structure) {
    Structure* s = get(structure);
    return s ? static_cast<int>(s->m.fields.size()) : 0;
}

int dict_width(int structure) {
    Structure* s = get(structure);
    return s ? static_cast<int>(s->m.width) : 0;
}

int dict_keys(int structure) {
    Structure* s = get(structure);
    return s ? static_cast<int>(s->m.keys.size()) : 0;
}

unsigned dict_stamp(int structure) {
    Structure* s = get(structure);
    return s ? s->m.stamp : 0;
}

int dict_file_number(StrRef file_part) {
    if (!sr_ok(file_part)) return 0;
    std::string_view f = sv(file_part);
    int n = 0;
    if (f.empty()) {
        n = sysv_get(sysv::CURFIL);
    } else if (static_cast<unsigned char>(f[0]) < 'A') {
        long v = 0;
        if (!parse_digits(f, kStructsMax, &v)) return 0;
        n = static_cast<int>(v);
    } else {
        n = dict_find(file_part);
    }
    return get(n) ? n : 0;
}

bool dict_field(int structure, int field, FieldInfo* out) {
    Structure* s = get(structure);
    if (!s || field < 1 || field > static_cast<int>(s->m.fields.size())) return false;
    const Field& f = s->m.fields[static_cast<size_t>(field - 1)];
    if (out) {
        out->number = field;
        out->offset = f.offset;
        out->width = f.width;
        out->type = f.type;
        out->name = sr(f.name);
    }
    return true;
}

int dict_field_find(int structure, StrRef name) {
    Structure* s = get(structure);
    if (!s || !sr_ok(name)) return -1;
    int f = field_by_name(s->m, sv(name));
    if (f > 0) return f;
    long v = 0;
    if (parse_digits(sv(name), 65535, &v) && v >= 1 && v <= static_cast<long>(s->m.fields.size()))
        return static_cast<int>(v);
    return -1;
}

int dict_key(int structure, int key, KeySegment* seg) {
    Structure* s = get(structure);
    if (!s || key < 1 || key > static_cast<int>(s->m.keys.size())) return 0;
    const Key& k = s->m.keys[static_cast<size_t>(key - 1)];
    if (seg)
        for (int i = 0; i < k.count; i++) seg[i] = k.seg[i];
    return k.count;
}

int dict_key_field(int structure, int key, int segment) {
    Structure* s = get(structure);
    if (!s || key < 1 || key > static_cast<int>(s->m.keys.size())) return 0;
    const Key& k = s->m.keys[static_cast<size_t>(key - 1)];
    return (segment >= 1 && segment <= k.count) ? k.field[segment - 1] : 0;
}

// ------------------------------------------------------------ records

IER dict_value(int structure, int field, int buffer, StrRef* out) {
    Structure* s = get(structure);
    if (!s || field < 1 || field > static_cast<int>(s->m.fields.size()) || (buffer != 1 && buffer != 2))
        return fail_at(ier::DATAOUTBOUND, structure, field);
    const Field& f = s->m.fields[static_cast<size_t>(field - 1)];
    size_t at = (buffer == 2 ? s->m.width : 0) + f.offset;
    *out = sr(s->buf.data() + at, f.width);
    return 0;
}

IER dict_set(int structure, int field, StrRef text) {
    if (!sr_ok(text)) return sr_status(text);
    Structure* s = get(structure);
    if (!s) return fail_at(ier::BADFILENUMBER, structure, field);
    if (field < 1 || field > static_cast<int>(s->m.fields.size())) return fail_at(ier::DATAOUTBOUND, structure, field);
    const Field& f = s->m.fields[static_cast<size_t>(field - 1)];
    if (f.type == 'V') return 0;  // a void field stores nothing
    ScratchMark m = scr_mark();
    StrRef v = ft_storage(f.type, text, f.width);
    IER st = sr_status(v);
    if (st) {
        scr_release(m);
        return fail_at(st, structure, field);
    }
    // The storage form has the field's width; anything else is cut or
    // padded here so that no neighbour is ever touched.
    size_t n = std::min<size_t>(v.n, f.width);
    s->buf.replace(f.offset, n, v.p, n);
    if (n < f.width) s->buf.replace(f.offset + n, f.width - n, f.width - n, ' ');
    scr_release(m);
    return 0;
}

IER dict_key_value(int structure, int key, int buffer, StrRef* out) {
    Structure* s = get(structure);
    if (!s || key < 1 || key > static_cast<int>(s->m.keys.size()) || (buffer != 1 && buffer != 2)) {
        ScratchMark m = scr_mark();
        fail(ier::DATAOUTBOUND, sv(fmt("(File:%i, Key:%i)", {structure, key})));
        scr_release(m);
        return ier::DATAOUTBOUND;
    }
    const Key& k = s->m.keys[static_cast<size_t>(key - 1)];
    size_t base = buffer == 2 ? s->m.width : 0;
    ScrBuild b;
    for (int i = 0; i < k.count; i++) b.put(std::string_view(s->buf.data() + base + k.seg[i].offset, k.seg[i].length));
    *out = b.done();
    return sr_status(*out);
}

IER dict_set_key(int structure, int key, StrRef text) {
    if (!sr_ok(text)) return sr_status(text);
    Structure* s = get(structure);
    if (!s) return fail(ier::BADFILENUMBER);
    if (key < 1 || key > static_cast<int>(s->m.keys.size())) {
        ScratchMark m = scr_mark();
        fail(ier::DATAOUTBOUND, sv(fmt("(File:%i, Key:%i)", {structure, key})));
        scr_release(m);
        return ier::DATAOUTBOUND;
    }
    const Key k = s->m.keys[static_cast<size_t>(key - 1)];
    size_t at = 0;
    for (int i = 0; i < k.count; i++) {
        int fno = k.field[i];
        size_t w = s->m.fields[static_cast<size_t>(fno - 1)].width;
        StrRef piece = at < text.n ? sr(text.p + at, std::min(w, text.n - at)) : sr_empty();
        at += w;
        if (IER st = dict_set(structure, fno, piece)) return st;
    }
    return 0;
}

void dict_clear_record(int structure) {
    Structure* s = get(structure);
    if (s) s->buf.assign(s->buf.size(), ' ');
}

void dict_save_record(int structure) {
    Structure* s = get(structure);
    if (s) s->buf.replace(s->m.width, s->m.width, s->buf, 0, s->m.width);
}

void dict_restore_record(int structure) {
    Structure* s = get(structure);
    if (s) s->buf.replace(0, s->m.width, s->buf, s->m.width, s->m.width);
}

bool dict_record_changed(int structure) {
    Structure* s = get(structure);
    if (!s) return false;
    std::string_view b(s->buf);
    return b.substr(0, s->m.width) != b.substr(s->m.width);
}

StrRef dict_record(int structure, int buffer) {
    Structure* s = get(structure);
    if (!s || (buffer != 1 && buffer != 2)) return sr_err(ier::DATAOUTBOUND);
    return sr(s->buf.data() + (buffer == 2 ? s->m.width : 0), s->m.width);
}

IER dict_put_record(int structure, StrRef record) {
    if (!sr_ok(record)) return sr_status(record);
    Structure* s = get(structure);
    if (!s) return fail(ier::BADFILENUMBER);
    if (record.n > s->m.width) return fail_at(ier::DATAOUTBOUND, structure, 0);
    s->buf.replace(0, record.n, record.p, record.n);
    s->buf.replace(record.n, s->m.width - record.n, s->m.width - record.n, ' ');
    return 0;
}

StrRef dict_file_name(int structure, int kind) {
    if (kind == 7) {
        // A file made here and now (mkstemp): no other process can take the
        // name between its choice and its use.
        ScratchMark m = scr_mark();
        StrRef t = temp_file_name(sr_empty());
        if (!sr_ok(t)) {
            scr_release(m);
            return sr_err(fail(ier::FileNotFound, "temporary file"));
        }
        if (IER st = st_push(grp::StkAux, t)) {
            file_delete(t);
            scr_release(m);
            return sr_err(st);
        }
        return scr_keep(m, t);
    }
    Structure* s = get(structure);
    if (!s) return sr_err(ier::BADFILENUMBER);
    if (kind == 1) return scr_copy(sr(s->m.name));
    int compat = sysv_get(sysv::COMPAT);
    std::string_view name = s->m.name;
    if (compat & kCompatShortNames) name = name.substr(0, std::min<size_t>(8, name.size()));
    int item = (kind == 3 && (compat & kCompatNdx)) ? 4 : kind;
    ScratchMark m = scr_mark();
    ScrBuild b;
    b.put(name).put('.').put(lst_field(kFileKinds, item));
    StrRef base = b.done();
    StrRef full = s->m.folder.empty() ? base : path_join(sr(s->m.folder), base);
    return scr_keep(m, full);
}

IER dict_resolve(StrRef file_part, StrRef field_part, int* structure, int* field) {
    if (!sr_ok(file_part)) return sr_status(file_part);
    if (!sr_ok(field_part)) return sr_status(field_part);
    int s = dict_file_number(file_part);
    if (!s) return fail(ier::FILEOUTBOUND);
    int f = field_part.n ? dict_field_find(s, field_part) : -1;
    // The evaluator gives the detail ("Field:" and the reference).
    if (f < 1) return ier::SINTAXERROR;
    *structure = s;
    *field = f;
    return 0;
}

IER dict_mark() {
    Dict& d = D();
    if (d.marks.size() >= static_cast<size_t>(kDictMarksMax)) return fail(ier::DATAOUTBOUND, "FILESTRUCT");
    Mark mk;
    mk.metas.reserve(d.s.size());
    for (const Structure& s : d.s) mk.metas.push_back(s.m);
    mk.curfil = sysv_get(sysv::CURFIL);
    d.marks.push_back(std::move(mk));
    return 0;
}

IER dict_restore_mark() {
    Dict& d = D();
    if (d.marks.empty()) {
        dict_clear();
        sysv_set(sysv::CURFIL, 0);
        return 0;
    }
    Mark mk = std::move(d.marks.back());
    d.marks.pop_back();
    restore_to(mk);
    return 0;
}

int dict_marks() { return static_cast<int>(D().marks.size()); }

IER dict_command(int code, const ArgumentList& args) {
    switch (code) {
    case kw::LOADSTRUCT:
        return dict_load(arg_text(args, 0));
    case kw::FILESTRUCT:
        return filestruct(args);
    default:
        return kCmdNotMine;
    }
}

void dict_install() {
    rt_ports().load_dictionary = startup_load;
    ex_set_field_port(&kFieldPort);
    cmd_register(1, dict_command);
    script_ports().open_structures = open_marks;
    script_ports().restore_structures = restore_marks;
    // The record layer takes level 1 in front of the dictionary's commands.
    rec_install();
}

}  // namespace rt
