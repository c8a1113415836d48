#include "runtime/core/env.h"

#include <string>

#include "platform/fs.h"
#include "runtime/core/file.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"

namespace rt {

const std::string_view kLanguages = "EN,ES,FR,DE,IT";
const std::string_view kFolderKinds =
    "APPPATH_RUNPATH,APPPATH_DEFAULT,APPPATH_DATA,APPPATH_DOCS,APPPATH_HELP,APPPATH_BACKUP,APPPATH_BACKREL";

namespace {

constexpr std::string_view kWinNames =
    "ALLUSERSPROFILE,APPDATA,CommonProgramFiles,HOMEDRIVE,HOMEPATH,ProgramFiles,SYSTEMDRIVE,SystemRoot,TEMP,"
    "USERPROFILE";
constexpr std::string_view kEnvNames = "COMMANDLINE,APNAME,APDESCRIP,LANGMODULE,DOCPATH,DATAPATH,HELPPATH";
constexpr std::string_view kDbNames = "DATABASE_HOST,DATABASE_DBNAME,DATABASE_USER,DATABASE_PASSW";
constexpr int kDbPassword = 4;

bool is_sep(char c) { return c == '\\' || c == '/'; }

// Case-insensitive position of name in a comma list of plain words.
int pos_nocase(std::string_view list, std::string_view name) {
    int n = 1;
    size_t start = 0;
    for (;;) {
        size_t c = list.find(',', start);
        std::string_view f = list.substr(start, c == std::string_view::npos ? std::string_view::npos : c - start);
        if (f.size() == name.size()) {
            bool eq = true;
            for (size_t i = 0; i < f.size() && eq; i++)
                eq = (f[i] | 0x20) == (name[i] | 0x20);
            if (eq) return n;
        }
        if (c == std::string_view::npos) return 0;
        start = c + 1;
        n++;
    }
}

// The value of one %NAME%.
StrRef name_value(StrRef name, bool mask) {
    std::string_view n = sv(name);
    if (int k = lst_pos(kFolderKinds, n)) return env_folder(k);
    if (lst_pos(kWinNames, n) || pos_nocase(kWinNames, n)) return scr_copy(sr(plat::win_env(n)));
    if (int k = lst_pos(kEnvNames, n)) return k == 2 ? scr_copy(env_prefix()) : scr_copy(env_get(k));
    if (int k = lst_pos(kDbNames, n)) {
        if (k == kDbPassword && mask) return scr_copy(sr("****"));
        return scr_copy(str_unquote(str_trim(lst_field(env_get(env::Database), k))));
    }
    return sr_empty();
}

// The first word of the command line (the program file), unquoted.
StrRef program_word(StrRef line) {
    uint16_t b = str_find_char(line, ' ', 0, true);
    return str_unquote(str_sub(line, 0, b == kNotFound ? line.n : b));
}

bool exists_with(StrRef name, std::string* real) {
    std::string_view n = sv(name);
    if (!plat::has_wildcards(n)) {
        if (!plat::file_exists(n)) return false;
        real->assign(n);
        return true;
    }
    std::vector<std::string> found = plat::find_files(n);
    if (found.empty()) return false;
    size_t sep = n.find_last_of("\\/");
    real->assign(sep == std::string_view::npos ? std::string_view() : n.substr(0, sep + 1));
    *real += found.front();
    return true;
}

}  // namespace

StrRef env_get(int item) { return st_get(grp::Env, item); }
IER env_set(int item, StrRef value) { return st_set(grp::Env, item, value); }
IER env_set(int item, std::string_view value) { return st_set(grp::Env, item, sr(value)); }

StrRef env_prefix() {
    StrRef f1 = lst_field(env_get(env::ApName), 1, ':');
    return str_sub(f1, 0, 2);
}

StrRef env_folder(int kind) {
    ScratchMark m = scr_mark();
    StrRef r = sr_empty();
    switch (kind) {
    case folder::RunPath: {
        StrRef w = program_word(env_get(env::CommandLine));
        StrRef d = str_concat(path_drive(w), path_folder(w));
        if (sr_ok(d) && d.n > 1 && is_sep(d.p[d.n - 1])) d.n--;
        r = d;
        break;
    }
    case folder::Default:
        r = env_get(env::DocPath);
        break;
    case folder::Data: {
        StrRef run = env_folder(folder::RunPath);
        StrRef base = (sr_ok(run) && run.n && static_cast<unsigned char>(run.p[0]) >= 'F') ? env_get(env::DocPath)
                                                                                           : env_folder(folder::Docs);
        r = path_resolve(base, sr("..\\data"));
        break;
    }
    case folder::Docs:
        r = env_get(env::DataPath);
        if (!r.n) r = folder_current();
        break;
    case folder::Help:
        r = env_get(env::HelpPath);
        if (!r.n) r = path_resolve(env_get(env::DocPath), sr("Help"));
        break;
    case folder::Backup:
        r = path_resolve(env_get(env::DataPath), sr("Backups"));
        break;
    case folder::BackRel: {
        StrRef db = env_get(env::Database);
        StrRef host = str_unquote(str_trim(lst_field(db, 1)));
        StrRef name = str_unquote(str_trim(lst_field(db, 2)));
        r = path_join(path_join(path_join(folder_current(), sr("Backups")), host), name);
        break;
    }
    default:
        break;
    }
    return scr_keep(m, r);
}

StrRef env_expand(StrRef text, bool mask) {
    if (!sr_ok(text)) return text;
    ScratchMark m = scr_mark();
    std::string_view t = sv(text);
    // Values are built below and copied into the result at the end, so the
    // result can be assembled at the top of the area in one piece.
    constexpr int kMaxNames = 64;
    StrRef vals[kMaxNames];
    size_t at[kMaxNames][2];
    int nv = 0;
    size_t i = 0;
    while (i < t.size() && nv < kMaxNames) {
        size_t a = t.find('%', i);
        if (a == std::string_view::npos) break;
        size_t b = t.find('%', a + 1);
        if (b == std::string_view::npos) break;
        vals[nv] = name_value(sr(t.substr(a + 1, b - a - 1)), mask);
        at[nv][0] = a;
        at[nv][1] = b + 1;
        nv++;
        i = b + 1;
    }
    ScrBuild out;
    size_t pos = 0;
    for (int k = 0; k < nv; k++) {
        out.put(t.substr(pos, at[k][0] - pos)).put(vals[k]);
        pos = at[k][1];
    }
    out.put(t.substr(pos));
    return scr_keep(m, out.done());
}

StrRef env_find(StrRef name) {
    if (!sr_ok(name)) return name;
    if (!name.n) return sr_empty();
    ScratchMark m = scr_mark();
    std::string real;
    if (exists_with(name, &real)) return scr_keep(m, sr(real));
    StrRef path = env_get(env::DocPath);
    int n = lst_count(path);
    for (int k = 1; k <= n; k++) {
        StrRef dir = str_unquote(str_trim(lst_field(path, k)));
        if (!dir.n) continue;
        StrRef full = path_join(dir, name);
        if (sr_ok(full) && exists_with(full, &real)) return scr_keep(m, sr(real));
        scr_release(m);
        path = env_get(env::DocPath);
    }
    scr_release(m);
    return sr_empty();
}

StrRef path_join(StrRef a, StrRef b) {
    if (!sr_ok(a)) return a;
    if (!sr_ok(b)) return b;
    ScratchMark m = scr_mark();
    ScrBuild r;
    r.put(a);
    // A folder written with '/' (as the OS gives them) goes on with '/'.
    std::string_view av = sv(a);
    char sep = (av.find('/') != std::string_view::npos && av.find('\\') == std::string_view::npos) ? '/' : '\\';
    if (a.n && !is_sep(a.p[a.n - 1]) && b.n && !is_sep(b.p[0])) r.put(sep);
    r.put(b);
    return scr_keep(m, r.done());
}

StrRef path_resolve(StrRef base, StrRef rel) {
    if (!sr_ok(base)) return base;
    if (!sr_ok(rel)) return rel;
    std::string_view r = sv(rel);
    // An absolute name needs no base.
    if ((!r.empty() && is_sep(r[0])) || (r.size() >= 2 && r[1] == ':')) return scr_copy(rel);
    std::string_view b = sv(base);
    while (r.size() >= 2 && r[0] == '.' && r[1] == '.' && (r.size() == 2 || is_sep(r[2]))) {
        r.remove_prefix(r.size() == 2 ? 2 : 3);
        if (b.size() == 1 && is_sep(b[0])) continue;  // the root has no parent
        while (b.size() > 1 && is_sep(b.back())) b.remove_suffix(1);
        size_t cut = b.find_last_of("\\/");
        size_t keep = cut == std::string_view::npos ? 0 : cut;
        // The root stays: "\" minus one component is still "\".
        if (cut == 0) keep = 1;
        b = b.substr(0, keep);
    }
    ScratchMark m = scr_mark();
    StrRef joined = path_join(sr(b), sr(r));
    StrRef clean = str_replace(joined, sr("\\.\\"), sr("\\"), true);
    clean = str_replace(clean, sr("/./"), sr("/"), true);
    return scr_keep(m, clean);
}

StrRef path_drive(StrRef p) {
    if (!sr_ok(p)) return p;
    bool drive = p.n >= 2 && p.p[1] == ':' && ((p.p[0] | 0x20) >= 'a' && (p.p[0] | 0x20) <= 'z');
    return sr(p.p, drive ? 2 : 0);
}

StrRef path_folder(StrRef p) {
    if (!sr_ok(p)) return p;
    size_t d = path_drive(p).n;
    std::string_view s = sv(p);
    size_t last = s.find_last_of("\\/");
    if (last == std::string_view::npos || last < d) return sr(p.p + d, 0);
    return sr(p.p + d, last + 1 - d);
}

StrRef path_name(StrRef p) {
    if (!sr_ok(p)) return p;
    std::string_view s = sv(p);
    size_t last = s.find_last_of("\\/");
    size_t from = last == std::string_view::npos ? path_drive(p).n : last + 1;
    size_t dot = s.rfind('.');
    size_t to = (dot == std::string_view::npos || dot < from) ? s.size() : dot;
    return sr(p.p + from, to - from);
}

StrRef path_ext(StrRef p) {
    if (!sr_ok(p)) return p;
    std::string_view s = sv(p);
    size_t last = s.find_last_of("\\/");
    size_t dot = s.rfind('.');
    if (dot == std::string_view::npos || (last != std::string_view::npos && dot < last)) return sr(p.p + s.size(), 0);
    return sr(p.p + dot, s.size() - dot);
}

bool path_has_folder(StrRef p) { return sr_ok(p) && sv(p).find_first_of("\\/:") != std::string_view::npos; }

}  // namespace rt
