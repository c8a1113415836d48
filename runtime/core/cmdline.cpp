#include "runtime/core/cmdline.h"

#include <cstring>

#include "runtime/core/env.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"

namespace rt {

const std::string_view kOptionList =
    "?;HELP,APNAME,APSTART,DPATH,SCRWID,SCRHIG,INPUT,OUTPUT,FILE,INDEX,DEVICE,RUN,MODE,TRACE,"
    "CONFIG,HOST,DATABASE,USER,PASSW";

namespace {

bool ends_value(char c) { return c == ':' || c == ' ' || c == '&' || c == '/'; }

// True when name stands in line as a word of its own (at the start or after
// one of ':', blank, '&', '/', and followed by the end or one of those),
// outside quotes. Used for option 1, which may be given without a value.
bool present_bare(StrRef line, std::string_view name) {
    std::string_view l = sv(line);
    size_t from = 0;
    while (from < l.size()) {
        uint16_t at = str_find_text(line, sr(name), true, from);
        if (at == kNotFound) return false;
        bool before = at == 0 || ends_value(l[at - 1]);
        size_t e = at + name.size();
        bool after = e >= l.size() || ends_value(l[e]) || l[e] == '=';
        if (before && after) return true;
        from = at + 1u;
    }
    return false;
}

}  // namespace

StrRef cmd_normalize(StrRef line) {
    if (!sr_ok(line)) return line;
    ScratchMark m = scr_mark();
    StrRef t = str_trim(line, 3);
    std::string_view s = sv(t);
    ScrBuild b;
    char quote = 0;
    for (size_t i = 0; i < s.size(); i++) {
        char c = s[i];
        if (quote) {
            if (c == quote) quote = 0;
            b.put(c);
            continue;
        }
        if (c == '\'' || c == '"') {
            // An unclosed quote hides the rest of the line.
            if (s.find(c, i + 1) != std::string_view::npos) quote = c;
            else { b.put(s.substr(i)); break; }
            b.put(c);
            continue;
        }
        if (c == ' ') {
            if (!b.size() || b.data()[b.size() - 1] != ' ') b.put(' ');
            if (i + 2 < s.size() && s[i + 1] == '-' && s[i + 2] == '-') { b.put('/'); i += 2; }
            else if (i + 1 < s.size() && s[i + 1] == '-') { b.put('/'); i += 1; }
            continue;
        }
        b.put(c);
    }
    return scr_keep(m, b.done());
}

StrRef cmd_from_argv(StrRef program, int argc, char** argv) {
    ScratchMark m = scr_mark();
    ScrBuild b;
    std::string_view prog = sv(program);
    if (prog.find_first_of(" \t") != std::string_view::npos) b.put('"').put(prog).put('"');
    else b.put(prog);
    for (int i = 1; i < argc; i++) {
        std::string_view a = argv[i] ? std::string_view(argv[i]) : std::string_view();
        b.put(' ');
        bool quoted = a.find_first_of("'\"") != std::string_view::npos;
        // The option's own prefix: "/", "-" or "--", a name, then ':' or '='.
        size_t p = 0;
        while (p < a.size() && p < 2 && (a[p] == '/' || a[p] == '-')) p++;
        size_t name_end = p;
        while (name_end < a.size() && a[name_end] != ':' && a[name_end] != '=' && a[name_end] != ' ' && a[name_end] != '/')
            name_end++;
        bool is_option = p > 0 && name_end > p && name_end < a.size() && (a[name_end] == ':' || a[name_end] == '=');
        std::string_view value = is_option ? a.substr(name_end + 1) : a;
        bool needs = !quoted && value.find_first_of(" \t/") != std::string_view::npos;
        if (!needs) b.put(a);
        else if (is_option) b.put(a.substr(0, name_end + 1)).put('"').put(value).put('"');
        else b.put('"').put(a).put('"');
    }
    StrRef r = b.done();
    if (sr_ok(r) && r.n && static_cast<unsigned char>(r.p[r.n - 1]) <= ' ') r.n--;
    return scr_keep(m, r);
}

StrRef cmd_option_in(StrRef line, int n, bool* found, bool keep_case) {
    if (found) *found = false;
    StrRef names = lst_field(sr(kOptionList), n);
    if (!names.n) return sr_empty();
    ScratchMark m = scr_mark();
    int alts = lst_count(names, ';');
    for (int pass = 0; pass < 2; pass++) {
        for (int a = 1; a <= alts; a++) {
            StrRef name = lst_field(names, a, ';');
            if (pass == 1) {
                // Names are given in upper case; a line written in lower case
                // is tried once more. '?' compares as it is.
                if (name.n == 1 && name.p[0] == '?') continue;
                name = str_lower(name);
            }
            bool f = false;
            StrRef v = keep_case ? str_unquote(str_trim(str_keyword(line, name, 0, &f))) : str_keyword(line, name, 3, &f);
            if (f && !(n == opt::Help && v.n == 0)) {
                if (found) *found = true;
                return scr_keep(m, v);
            }
            if (n == opt::Help && (f || present_bare(line, sv(name)))) {
                if (found) *found = true;
                return scr_keep(m, sr("YES"));
            }
        }
    }
    scr_release(m);
    return sr_empty();
}

StrRef cmd_option(int n, bool* found) { return cmd_option_in(env_get(env::CommandLine), n, found); }

int cmd_option_is(int n, StrRef list) {
    ScratchMark m = scr_mark();
    StrRef v = cmd_option(n);
    int pos = v.n ? lst_pos(list, v) : 0;
    scr_release(m);
    return pos;
}

}  // namespace rt
