// Key names and the key script: the text a test writes to stand for a person
// at the keyboard. Names are the ones the terminal user sees in the README,
// and a key named in a log can be pasted back into a script.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/fs.h"
#include "platform/ui/ui_impl.h"

namespace plat {
namespace {

struct Name {
    const char* name;
    int key;
};

// The first name of a key is the one written out.
const Name kNames[] = {
    {"Enter", WND_K_ENTER}, {"Return", WND_K_ENTER}, {"Tab", WND_K_TAB}, {"Esc", WND_K_ESC},
    {"Escape", WND_K_ESC}, {"Bksp", WND_K_BKSP}, {"Backspace", WND_K_BKSP}, {"Ins", WND_K_INS},
    {"Insert", WND_K_INS}, {"Del", WND_K_DEL}, {"Delete", WND_K_DEL}, {"Home", WND_K_HOME},
    {"End", WND_K_END}, {"PgUp", WND_K_PGUP}, {"PageUp", WND_K_PGUP}, {"PgDn", WND_K_PGDN},
    {"PageDown", WND_K_PGDN}, {"Up", WND_K_UP}, {"Down", WND_K_DOWN}, {"Left", WND_K_LEFT},
    {"Right", WND_K_RIGHT}, {"Space", ' '},
};

bool same(std::string_view a, const char* b) {
    return a.size() == std::strlen(b) && strncasecmp(a.data(), b, a.size()) == 0;
}

int named(std::string_view s) {
    for (auto& n : kNames)
        if (same(s, n.name)) return n.key;
    if (s.size() >= 2 && (s[0] == 'F' || s[0] == 'f')) {
        int n = 0;
        for (size_t i = 1; i < s.size(); i++) {
            if (s[i] < '0' || s[i] > '9') return 0;
            n = n * 10 + (s[i] - '0');
            if (n > 12) return 0;
        }
        if (n >= 1) return wnd_key_f(n);
    }
    return 0;
}

// The modifier prefix at the start of s, its length in *len.
int modifier(std::string_view s, size_t* len) {
    static const Name mods[] = {
        {"Shift-", WND_K_SHIFT}, {"Ctrl-", WND_K_CTRL}, {"Alt-", WND_K_ALT}, {"S-", WND_K_SHIFT},
        {"C-", WND_K_CTRL}, {"A-", WND_K_ALT}, {"M-", WND_K_ALT},
    };
    for (auto& m : mods) {
        size_t n = std::strlen(m.name);
        if (s.size() > n && strncasecmp(s.data(), m.name, n) == 0) {
            *len = n;
            return m.key;
        }
    }
    return 0;
}

int parse_int(std::string_view s, size_t* at, bool* ok) {
    int n = 0;
    size_t start = *at;
    while (*at < s.size() && s[*at] >= '0' && s[*at] <= '9' && n < 100000) n = n * 10 + (s[(*at)++] - '0');
    if (*at == start) *ok = false;
    return n;
}

}  // namespace

std::string wnd_key_name(int key) {
    if (key < 0) return "?";
    if (key < 0x100) {
        if (key == ' ') return "Space";
        if (key >= 1 && key <= 26) return std::string("C-") + char('a' + key - 1);
        if (key >= 27 && key <= 31) return std::string("C-") + "[\\]^_"[key - 27];
        if (key == 0 || key == 127) return "?";
        std::string c(1, char(key)), out = "\"";
        if (key == '"' || key == '\\') out += '\\';
        return out + cp1252_to_utf8(c) + "\"";
    }
    std::string out;
    if (key & WND_K_CTRL) out += "C-";
    if (key & WND_K_ALT) out += "A-";
    if (key & WND_K_SHIFT) out += "S-";
    int base = key & ~WND_K_MODS;
    if (base >= WND_K_F1 && base < WND_K_F1 + 12) return out + "F" + std::to_string(base - WND_K_F1 + 1);
    if (base < 0x100 && base > 32) return out + std::string(1, char(base));
    for (auto& n : kNames)
        if (n.key == base) return out + n.name;
    return "?";
}

int wnd_key_from_name(std::string_view name) {
    int mods = 0;
    size_t len;
    while (int m = modifier(name, &len)) {
        mods |= m;
        name.remove_prefix(len);
    }
    if (name.empty()) return 0;
    if (int k = named(name)) {
        if (k == ' ' && mods) return 0;
        return k | mods;
    }
    if (name.size() != 1) return 0;
    unsigned char ch = name[0];
    if (mods == WND_K_ALT) {
        // the terminal's stand-ins for function keys it may not pass on
        if (ch >= '1' && ch <= '9') return wnd_key_f(ch - '0');
        if (ch == '0') return wnd_key_f(10);
        if (ch == '-') return wnd_key_f(11);
        if (ch == '=') return wnd_key_f(12);
        return ch > 32 && ch < 127 ? WND_K_ALT | ch : 0;
    }
    if (mods == WND_K_CTRL) {
        if (ch >= 'a' && ch <= 'z') return ch - 'a' + 1;
        if (ch >= 'A' && ch <= 'Z') return ch - 'A' + 1;
        const char* p = std::strchr("[\\]^_", ch);
        if (p && ch) return ch == '[' ? WND_K_ESC : 27 + int(p - "[\\]^_");
    }
    return 0;
}

int wnd_script_parse(std::string_view text, std::vector<WndScriptEntry>* out, std::string* err) {
    out->clear();
    int line = 1;
    size_t i = 0;
    auto fail = [&](const std::string& why) {
        if (err) *err = "key script line " + std::to_string(line) + ": " + why;
        return WND_ESCRIPT;
    };
    while (i < text.size()) {
        char ch = text[i];
        if (ch == '\n') { line++; i++; continue; }
        if (ch == ' ' || ch == '\t' || ch == '\r') { i++; continue; }
        if (ch == '#') {
            while (i < text.size() && text[i] != '\n') i++;
            continue;
        }
        if (ch == '"') {
            std::string raw;
            i++;
            for (;;) {
                if (i >= text.size() || text[i] == '\n') return fail("text without its closing quote");
                char c = text[i++];
                if (c == '"') break;
                if (c == '\\' && i < text.size() && (text[i] == '"' || text[i] == '\\')) c = text[i++];
                raw += c;
            }
            for (char b : utf8_to_cp1252(raw)) {
                WndScriptEntry e;
                e.kind = WND_SK_KEY;
                e.key = (unsigned char)b;
                e.line = line;
                if (e.key == '\t') e.key = WND_K_TAB;
                out->push_back(e);
            }
            continue;
        }
        size_t start = i;
        while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r' && text[i] != '\n') i++;
        std::string_view tok = text.substr(start, i - start);
        WndScriptEntry e;
        e.line = line;
        static const Name answers[] = {{"OK", WND_ID_OK}, {"Yes", WND_ID_YES}, {"No", WND_ID_NO}, {"Cancel", WND_ID_CANCEL}};
        bool done = false;
        for (auto& a : answers)
            if (same(tok, a.name)) {
                e.kind = WND_SK_ANSWER;
                e.key = a.key;
                done = true;
            }
        if (!done && same(tok, "Tick")) { e.kind = WND_SK_TICK; done = true; }
        if (!done && same(tok, "Dump")) { e.kind = WND_SK_DUMP; done = true; }
        if (!done && same(tok, "Close")) { e.kind = WND_SK_CLOSE; done = true; }
        if (!done) {
            static const Name mouse[] = {{"Click:", WND_M_CLICK}, {"DClick:", WND_M_DBLCLICK}, {"RClick:", WND_M_RCLICK}};
            for (auto& m : mouse) {
                size_t n = std::strlen(m.name);
                if (tok.size() > n && strncasecmp(tok.data(), m.name, n) == 0) {
                    bool ok = true;
                    size_t at = n;
                    e.row = parse_int(tok, &at, &ok);
                    if (at >= tok.size() || tok[at] != ',') ok = false;
                    at++;
                    e.col = parse_int(tok, &at, &ok);
                    if (!ok || at != tok.size()) return fail("expected " + std::string(m.name) + "ROW,COL in '" + std::string(tok) + "'");
                    e.kind = WND_SK_MOUSE;
                    e.key = m.key;
                    done = true;
                }
            }
        }
        if (!done && tok.size() > 5 && strncasecmp(tok.data(), "Size:", 5) == 0) {
            bool ok = true;
            size_t at = 5;
            e.row = parse_int(tok, &at, &ok);
            if (at >= tok.size() || (tok[at] != 'x' && tok[at] != 'X')) ok = false;
            at++;
            e.col = parse_int(tok, &at, &ok);
            if (!ok || at != tok.size() || e.row < 1 || e.col < 1 || e.row > 1000 || e.col > 1000)
                return fail("expected Size:ROWSxCOLS in '" + std::string(tok) + "'");
            e.kind = WND_SK_RESIZE;
            done = true;
        }
        if (!done) {
            e.key = wnd_key_from_name(tok);
            if (!e.key) return fail("unknown key '" + std::string(tok) + "' (typed text goes in double quotes)");
            e.kind = WND_SK_KEY;
        }
        out->push_back(e);
    }
    return WND_OK;
}

}  // namespace plat
