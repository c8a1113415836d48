// The text windows that procedures open (WINOPEN) and write into (LOCATE,
// COLOR, PRINT), and the window command level of the interpreter.
#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/fixed.h"
#include "runtime/script/proc.h"
#include "runtime/ui/screen.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;

constexpr int kTextId = ctlid::LabelBase;  // the window's text: the labels of every position
constexpr size_t kTypeAheadMax = 32;
constexpr int kTextMaxCol = 9999;

std::vector<int> g_wins;  // handles, in the order they were opened
int g_current = 0;        // handle of the current one
int g_row = 0, g_col = 0;
WndAttr g_attr = 0;
std::deque<int> g_typed;  // keys typed while the procedure ran
bool g_cancel = false;
int g_progress_mode = kProgressBar;  // as WINOPEN prepared it

void prune() {
    g_wins.erase(std::remove_if(g_wins.begin(), g_wins.end(), [](int w) { return !wnd_exists(w); }), g_wins.end());
    if (std::find(g_wins.begin(), g_wins.end(), g_current) == g_wins.end())
        g_current = g_wins.empty() ? 0 : g_wins.back();
}

// Keys typed into a script window wait for the procedure's WAIT KEY;
// Escape and the close box ask the procedure to stop.
int script_proc(const WndEvent& ev, void*) {
    switch (ev.type) {
    case WND_EV_KEY:
        if (ev.key == WND_K_ESC) g_cancel = true;
        else if (g_typed.size() < kTypeAheadMax) g_typed.push_back(ev.key);
        return 1;
    case WND_EV_CLOSE:
        g_cancel = true;
        return 1;
    default:
        return 0;
    }
}

// Colours as the console numbers them: 0 black, 1 blue, 2 green, 3 cyan,
// 4 red, 5 magenta, 6 brown, 7 grey, and 8 to 15 their bright forms.
int console_colour(int c) {
    static const int kMap[8] = {WND_BLACK, WND_BLUE, WND_GREEN, WND_CYAN, WND_RED, WND_MAGENTA, WND_YELLOW, WND_WHITE};
    return kMap[c & 7] | (c & 8 ? WND_BRIGHT : 0);
}

bool word_is(StrRef t, std::string_view w) {
    ScratchMark m = scr_mark();
    bool same = sv(str_upper(str_trim(t))) == w;
    scr_release(m);
    return same;
}

long long number_of(const ArgumentList& a, int i) {
    if (i >= a.count) return 0;
    return a.arg[i].is_text ? str_number(a.arg[i].text) : num_int_part(a.arg[i].value, num_precis());
}

IER print_text(StrRef t) {
    if (!sr_ok(t)) return sr_status(t);
    prune();
    if (g_current) {
        int n = std::min<int>(t.n, std::max(0, kTextMaxCol - g_col));
        if (g_row >= 0 && g_col >= 0 && n > 0)
            wnd_text_put(g_current, kTextId, g_row, g_col, std::string_view(t.p, size_t(n)), WndAttr(g_attr | font_attr()));
    } else {
        script_ports().print(g_row, g_col, t);
    }
    g_col += t.n;
    return 0;
}

}  // namespace

namespace ui {

void script_reset() {
    g_wins.clear();
    g_current = 0;
    g_row = g_col = 0;
    g_attr = 0;
    g_typed.clear();
    g_cancel = false;
    g_progress_mode = kProgressBar;
}

// The interpreter's questions.
bool script_cancel_requested() {
    bool c = g_cancel || progress_cancelled();
    g_cancel = false;
    return c;
}

IER script_wait_key(int* keyclass) {
    if (!g_typed.empty()) {
        *keyclass = key_class(g_typed.front());
        g_typed.pop_front();
        return 0;
    }
    if (!started() && wnd_init() != WND_OK) return ier::UserCanceled;
    // As wm_wait_key, but a close request to a script window ends the wait:
    // the user wants the procedure to stop.
    for (;;) {
        WndEvent ev;
        if (wnd_get(&ev) != WND_OK) return ier::UserCanceled;
        if (ev.type == WND_EV_QUIT) {
            wnd_post(ev);
            return ier::UserCanceled;
        }
        if (ev.type == WND_EV_KEY) {
            *keyclass = key_class(ev.key);
            return 0;
        }
        if (!wm_event(ev, nullptr)) wnd_dispatch(ev);
        if (g_cancel) {
            g_cancel = false;  // taken: the procedure stops with the wait's status
            return ier::UserCanceled;
        }
    }
}

}  // namespace ui

int script_window_count() {
    prune();
    return int(g_wins.size());
}

int script_window_current() {
    prune();
    return g_current;
}

IER script_window_open(int rows, int cols, StrRef caption) {
    if (!sr_ok(caption)) return sr_status(caption);
    prune();
    if (int(g_wins.size()) >= kScriptWindowsMax) return err_raise(ier::DATAOUTBOUND, mod::Screens, "WINOPEN");
    if (!ui::started() && wnd_init() != WND_OK) return ui::window_error("window system");
    int srows, scols;
    wnd_screen_size(&srows, &scols);
    if (rows <= 0) rows = srows - 2;
    if (cols <= 0) cols = scols - 2;
    WinSpec ws;
    ws.kind = wkind::Overlapped8;
    ws.caption = sv(caption);
    ws.rows = rows;
    ws.cols = cols;
    ws.proc = script_proc;
    int w = wm_create(ws);
    if (!w) return ier::WindowsControlError;
    WndCtlSpec c;
    c.kind = WND_TEXT;
    c.id = kTextId;
    c.rows = rows;
    c.cols = cols;
    wnd_ctl_create(w, c);
    wnd_set_focus(w, kTextId);
    g_wins.push_back(w);
    g_current = w;
    g_row = g_col = 0;
    return 0;
}

IER script_window_select(int number) {
    prune();
    if (number < 1 || number > int(g_wins.size())) return err_raise(ier::BADINPUTDATA, mod::Screens, "WINSELECT");
    g_current = g_wins[size_t(number - 1)];
    wnd_activate(g_current);
    return 0;
}

void script_window_close_top() {
    prune();
    if (g_wins.empty()) return;
    int w = g_wins.back();
    g_wins.pop_back();
    wm_destroy(w);
    prune();
}

void script_windows_close_all() {
    prune();
    while (!g_wins.empty()) script_window_close_top();
    g_typed.clear();
}

void script_locate(int row, int col) {
    g_row = row;
    g_col = col;
}

void script_position(int* row, int* col) {
    *row = g_row;
    *col = g_col;
}

IER script_commands(int code, const ArgumentList& a) {
    switch (code) {
    case kw::ACCEPT:
    case kw::BOUNDS:
    case kw::READ:
        return accept_commands(code, a);
    case kw::COLOR:
        if (a.count == 0 || (number_of(a, 0) < 0 && number_of(a, 1) < 0)) {
            g_attr = 0;
        } else {
            long long fg = number_of(a, 0), bg = number_of(a, 1);
            g_attr = a.count >= 2 && bg >= 0 ? wnd_attr(console_colour(int(fg)), console_colour(int(bg)))
                                             : wnd_attr_fg(console_colour(int(fg)));
        }
        return 0;
    case kw::LOCATE:
        script_locate(arg_num(a, 0), arg_num(a, 1));
        return 0;
    case kw::PRINT:
        return print_text(arg_text(a, 0));
    case kw::WAIT:
        // WAIT KEY as written, or with the word as a text
        if (a.count == 1 && (word_is(arg_text(a, 0), "KEY") || word_is(lst_field(a.statement, 1), "KEY"))) {
            int kc = 0;
            IER st = ui::script_wait_key(&kc);
            if (!st) sysv_set(sysv::LASTKEY, static_cast<int16_t>(kc));
            return st;
        }
        return cmd_window_level_base(code, a);
    case kw::WINMENU: {
        SelectSpec s;
        s.caption = arg_text(a, 0);
        s.items = arg_text(a, 1);
        IER st = 0;
        int choice = select_run(s, &st);
        sysv_set(sysv::STAT, static_cast<int16_t>(choice));
        return st;
    }
    case kw::WINOPEN:
        if (a.count < 3) return err_raise(ier::SINTAXERROR, mod::Screens, "WINOPEN");
        if (word_is(arg_text(a, 2), "PROGRESS")) {
            progress_expect(long(number_of(a, 0)));
            g_progress_mode = number_of(a, 1) ? kProgressText : kProgressBar;
            return 0;
        }
        return script_window_open(int(number_of(a, 0)), int(number_of(a, 1)), arg_text(a, 2));
    case kw::WINCLOSE:
        if (a.count && word_is(arg_text(a, 0), "PROGRESS")) progress_close();
        else script_window_close_top();
        return 0;
    case kw::WINSELECT:
        return script_window_select(int(number_of(a, 0)));
    case kw::WINPROG: {
        IER st = 0;
        if (a.count && a.arg[0].is_text) {
            st = progress_set_text(arg_text(a, 0));
        } else {
            if (!progress_is_open()) st = progress_open(0, g_progress_mode);
            if (!st) progress_step(long(number_of(a, 0)));
        }
        sysv_set(sysv::STAT, progress_cancelled() ? int16_t(ier::UserCanceled) : int16_t(0));
        return st;
    }
    default:
        return cmd_window_level_base(code, a);
    }
}

}  // namespace rt
