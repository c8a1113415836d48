// The headless backend: a virtual screen nobody looks at, input from a key
// script, message boxes on standard error. Whenever the program waits for
// the user and the script has nothing left, the wait ends at once with
// WND_NOINPUT, so a test can never hang on a window.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/fs.h"
#include "platform/ui/ui_impl.h"

namespace plat::ui {
namespace {

struct Script {
    std::vector<WndScriptEntry> entries;
    size_t next = 0;
};

Script& script() {
    static Script* s = new Script;
    return *s;
}

const char* answer_name(int id) {
    switch (id) {
    case WND_ID_OK: return "OK";
    case WND_ID_YES: return "Yes";
    case WND_ID_NO: return "No";
    case WND_ID_CANCEL: return "Cancel";
    default: return "none";
    }
}

// Dump entries run where they stand, before whatever comes after them.
void run_dumps() {
    Script& s = script();
    while (s.next < s.entries.size() && s.entries[s.next].kind == WND_SK_DUMP) {
        wnd_dump("key script line " + std::to_string(s.entries[s.next].line));
        s.next++;
    }
}

int h_open(std::string* err) {
    Script& s = script();
    st().mono = false;
    const char* path = std::getenv(WND_ENV_KEYS);
    if (!path || !*path) return WND_OK;  // a script set before the start stays
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        *err = std::string(WND_ENV_KEYS) + "=" + path + ": cannot read the key script";
        return WND_EINIT;
    }
    std::stringstream buf;
    buf << f.rdbuf();
    std::vector<WndScriptEntry> e;
    if (wnd_script_parse(buf.str(), &e, err) != WND_OK) {
        *err = std::string(path) + ": " + *err;
        return WND_ESCRIPT;
    }
    s.entries = std::move(e);
    return WND_OK;
}

void h_close() {}

int h_read(WndEvent* ev, int timeout_ms) {
    Script& s = script();
    for (;;) {
        run_dumps();
        if (s.next >= s.entries.size()) return -1;
        const WndScriptEntry& e = s.entries[s.next++];
        *ev = WndEvent{};
        switch (e.kind) {
        case WND_SK_KEY:
            ev->type = WND_EV_KEY;
            ev->key = e.key;
            return 1;
        case WND_SK_MOUSE:
            ev->type = WND_EV_MOUSE;
            ev->key = e.key;
            ev->row = e.row;
            ev->col = e.col;
            return 1;
        case WND_SK_RESIZE:
            ev->type = WND_EV_RESIZE;
            ev->row = e.row;
            ev->col = e.col;
            return 1;
        case WND_SK_TICK:
            ev->type = WND_EV_TIMER;
            return 1;
        case WND_SK_CLOSE:
            ev->type = WND_EV_CLOSE;  // the close box of the active window
            return 1;
        case WND_SK_ANSWER:
            std::fprintf(stderr, "key script line %d: %s with no message box open; skipped\n", e.line,
                         answer_name(e.key));
            continue;
        default:
            continue;
        }
    }
}

// The box as people read it on standard error: its kind, caption and text
// (line breaks indented), and the answer taken.
std::string for_people(std::string_view t) {
    std::string u = cp1252_to_utf8(t), out;
    for (size_t i = 0; i < u.size(); i++) {
        char c = u[i];
        if (c == '\r' || c == '\n') {
            if (i + 1 < u.size() && (u[i + 1] == '\r' || u[i + 1] == '\n') && u[i + 1] != c) i++;
            out += "\n    ";
        } else {
            out += c;
        }
    }
    return out;
}

int h_msgbox(std::string_view text, std::string_view caption, int kind) {
    int answer = kind == WND_MB_YESNO ? WND_ID_YES : WND_ID_OK;
    int given;
    if (headless_take_answer(kind, &given)) answer = given;
    const char* kname = kind == WND_MB_ERROR ? "error" : kind == WND_MB_WARNING ? "warning"
                      : kind == WND_MB_YESNO ? "question" : "information";
    std::fprintf(stderr, "[%s] %s\n    %s\n    -> %s\n", kname, for_people(caption).c_str(),
                 for_people(text).c_str(), answer_name(answer));
    std::fflush(stderr);
    return answer;
}

void h_exit_dump() { wnd_dump("exit"); }

}  // namespace

int headless_take_answer(int kind, int* answer) {
    Script& s = script();
    run_dumps();
    if (s.next >= s.entries.size() || s.entries[s.next].kind != WND_SK_ANSWER) return 0;
    const WndScriptEntry& e = s.entries[s.next++];
    bool fits = kind == WND_MB_YESNO ? (e.key == WND_ID_YES || e.key == WND_ID_NO) : e.key == WND_ID_OK;
    if (!fits) {
        std::fprintf(stderr, "key script line %d: %s does not answer this box; its default is taken\n", e.line,
                     answer_name(e.key));
        return 0;
    }
    *answer = e.key;
    return 1;
}

void headless_set_script(std::vector<WndScriptEntry> entries) {
    Script& s = script();
    s.entries = std::move(entries);
    s.next = 0;
}

int headless_left() {
    Script& s = script();
    return int(s.entries.size() - s.next);
}

const Backend* headless_backend() {
    static const Backend b = [] {
        Backend x;
        x.kind = WND_HEADLESS;
        x.realtime = false;
        x.open = h_open;
        x.close = h_close;
        x.read = h_read;
        x.show = nullptr;
        x.msgbox = h_msgbox;
        x.beep = nullptr;
        x.exit_dump = h_exit_dump;
        return x;
    }();
    return &b;
}

}  // namespace plat::ui
