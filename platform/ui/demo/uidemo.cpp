// A small program of the window system: one window with two edit fields and
// a button. Tab moves the focus, F2 (or Alt-2) and the button ask a yes/no
// question, Esc ends the program. It runs in a terminal or headless, like
// the real programs, and the terminal test drives it through tmux.
#include <cstdio>
#include <string>

#include "platform/ui/wnd.h"

using namespace plat;

namespace {

enum { ID_NAME = 2, ID_CITY = 3, ID_ASK = 4, ID_FOCUS = 5, ID_ANSWER = 6, ID_HINT = 7, ID_KEY = 8 };

void ask(int w) {
    int a = wnd_msgbox("Do you like it?", "Question", WND_MB_YESNO);
    wnd_set_text(w, ID_ANSWER, a == WND_ID_YES ? "answer: Yes" : a == WND_ID_NO ? "answer: No" : "answer: none");
}

int handle(const WndEvent& ev, void* ctx) {
    int w = *static_cast<int*>(ctx);
    switch (ev.type) {
    case WND_EV_FOCUS:
        if (ev.wnd == w) {
            const char* name = ev.ctl == ID_NAME ? "name" : ev.ctl == ID_CITY ? "city" : ev.ctl == ID_ASK ? "ask" : "-";
            wnd_set_text(w, ID_FOCUS, std::string("focus: ") + name);
        }
        return 1;
    case WND_EV_KEY:
        wnd_set_text(w, ID_KEY, "key: " + wnd_key_name(ev.key));
        if (ev.key == wnd_key_f(2)) {
            ask(w);
            return 1;
        }
        return 0;
    case WND_EV_COMMAND:
        if (ev.ctl == ID_ASK && ev.code == WND_N_CLICKED) {
            ask(w);
            return 1;
        }
        return 0;
    default:
        return 0;
    }
}

}  // namespace

int main() {
    if (wnd_init() != WND_OK) {
        std::fprintf(stderr, "uidemo: %s\n", wnd_error());
        return 1;
    }
    WndSpec want;
    want.style = WND_WS_BORDER | WND_WS_CENTRE;
    want.rect.rows = 12;
    want.rect.cols = 50;
    want.caption = "uidemo";
    int w = wnd_create(want);
    struct {
        int kind, id, row, col, cols, limit;
        const char* text;
        int style;
    } ctls[] = {
        {WND_LABEL, 10, 1, 2, 5, 0, "Name:", 0},
        {WND_EDIT, ID_NAME, 1, 9, 24, 24, "", 0},
        {WND_LABEL, 11, 3, 2, 5, 0, "City:", 0},
        {WND_EDIT, ID_CITY, 3, 9, 24, 24, "", 0},
        {WND_BUTTON, ID_ASK, 5, 9, 9, 0, "Ask", 0},
        {WND_LABEL, ID_FOCUS, 7, 2, 30, 0, "focus: -", 0},
        {WND_LABEL, ID_ANSWER, 8, 2, 20, 0, "answer: -", 0},
        {WND_LABEL, ID_KEY, 8, 24, 20, 0, "key: -", 0},
        {WND_LABEL, ID_HINT, 9, 2, 44, 0, "Tab next field  F2 ask  Esc quit", 0},
    };
    for (auto& c : ctls) {
        WndCtlSpec s;
        s.kind = c.kind;
        s.id = c.id;
        s.row = c.row;
        s.col = c.col;
        s.cols = c.cols;
        s.limit = c.limit;
        s.text = c.text;
        s.style = c.style;
        wnd_ctl_create(w, s);
    }
    int r = wnd_run(w, handle, &w);
    wnd_shutdown();
    return r == WND_OK || r == WND_NOINPUT ? 0 : 1;
}
