// The store of windows and controls, the event queue, the focus, and the
// default behaviour of the controls. The backends only read input and show
// the painted screen; everything a window does lives here, so both backends
// behave the same and the headless one can stand in for the terminal in tests.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ui/ui_impl.h"

namespace plat {
namespace ui {

State& st() {
    // Never destroyed: the exit handler may run after static destructors.
    static State* s = new State;
    return *s;
}

long long now_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

int win_index(int h) {
    auto& v = st().wins;
    for (size_t i = 0; i < v.size(); i++)
        if (v[i].h == h) return int(i);
    return -1;
}

Win* win(int h) {
    int i = h > 0 ? win_index(h) : -1;
    return i < 0 ? nullptr : &st().wins[i];
}

Ctl* ctl(Win* w, int id) {
    if (!w || id == 0) return nullptr;
    for (auto& c : w->ctls)
        if (c.id == id) return &c;
    return nullptr;
}

static bool win_enabled(const Win& w) { return w.enabled && w.modal_kids == 0; }

int active_window() {
    auto& v = st().wins;
    for (size_t i = v.size(); i-- > 0;)
        if (v[i].visible && win_enabled(v[i])) return v[i].h;
    return 0;
}

bool focusable(const Ctl& c) {
    if (!c.visible || !c.enabled) return false;
    switch (c.kind) {
    case WND_EDIT: case WND_CHECK: case WND_BUTTON: case WND_LIST: case WND_DROPDOWN:
    case WND_GRID: case WND_TEXT:
        return true;
    default:
        return false;
    }
}

int effective_ctl(Win& w) {
    if (w.focus < 0) return 0;  // the window itself
    if (Ctl* c = ctl(&w, w.focus); c && focusable(*c)) return c->id;
    for (auto& c : w.ctls)
        if (focusable(c) && !(c.style & WND_CS_NOTAB)) return w.focus = c.id;
    for (auto& c : w.ctls)
        if (focusable(c)) return w.focus = c.id;
    return 0;
}

int edit_offset(const Ctl& c) {
    int len = int(c.text.size());
    // right-aligned text keeps one cell free for the caret after it
    return (c.style & WND_CS_RIGHT) && len < c.cols ? c.cols - 1 - len : 0;
}

void client_rect(const Win& w, WndRect* r) {
    int b = (w.style & WND_WS_BORDER) ? 1 : 0;
    int m = w.menu.empty() ? 0 : 1;
    r->row = w.rect.row + b + m;
    r->col = w.rect.col + b;
    r->rows = std::max(0, w.rect.rows - 2 * b - m);
    r->cols = std::max(0, w.rect.cols - 2 * b);
}

}  // namespace ui

using namespace ui;

namespace {

// ---- start ---------------------------------------------------------------

void at_exit() { wnd_shutdown(); }

int start(int backend) {
    State& s = st();
    if (s.started) return WND_OK;
    if (backend == WND_AUTO) {
        const char* e = std::getenv(WND_ENV_UI);
        if (e && *e) {
            if (!strcasecmp(e, "headless")) backend = WND_HEADLESS;
            else if (!strcasecmp(e, "terminal")) backend = WND_TERMINAL;
            else {
                s.error = std::string(WND_ENV_UI) + "=" + e + ": expected headless or terminal";
                return WND_EINIT;
            }
        } else {
            backend = terminal_usable() ? WND_TERMINAL : WND_HEADLESS;
        }
    }
    const Backend* be = backend == WND_TERMINAL ? terminal_backend() : headless_backend();
    s.error.clear();
    s.rows = std::max(s.rows, 1);
    s.cols = std::max(s.cols, 1);
    s.be = be;
    s.started = true;  // open() may set the screen size
    int r = be->open(&s.error);
    if (r != WND_OK) {
        s.started = false;
        s.be = nullptr;
        return r;
    }
    static bool registered = false;
    if (!registered) {
        registered = true;
        std::atexit(at_exit);
    }
    return WND_OK;
}

bool ensure() { return st().started || start(WND_AUTO) == WND_OK; }

// ---- focus reports -------------------------------------------------------

void push(const WndEvent& e) { st().queue.push_back(e); }

// Posts BLUR and FOCUS for the change since the last report. Done when the
// program next takes events, so that building a window reports its final
// focus once instead of every step on the way.
void sync_focus() {
    State& s = st();
    if (s.quiet) return;
    int a = active_window();
    int c = 0;
    if (Win* w = win(a)) c = effective_ctl(*w);
    if (a == s.rep_w && c == s.rep_c) return;
    if (s.rep_w && win(s.rep_w)) {
        WndEvent e;
        e.type = WND_EV_BLUR;
        e.wnd = s.rep_w;
        e.ctl = s.rep_c;
        push(e);
    }
    s.rep_w = a;
    s.rep_c = c;
    if (a) {
        WndEvent e;
        e.type = WND_EV_FOCUS;
        e.wnd = a;
        e.ctl = c;
        push(e);
    }
}

void post_cmd(int w, int id, int code) {
    WndEvent e;
    e.type = WND_EV_COMMAND;
    e.wnd = w;
    e.ctl = id;
    e.code = code;
    push(e);
}

void beep() {
    if (st().be && st().be->beep) st().be->beep();
}

// Scrolls a window so that a control is in view.
void scroll_into_view(Win& w, const Ctl& c) {
    WndRect cr;
    client_rect(w, &cr);
    if (w.ext_rows > cr.rows) {
        if (c.row < w.scr_row) w.scr_row = c.row;
        else if (c.row + c.rows > w.scr_row + cr.rows) w.scr_row = std::max(0, c.row + c.rows - cr.rows);
    }
    if (w.ext_cols > cr.cols) {
        if (c.col < w.scr_col) w.scr_col = c.col;
        else if (c.col + c.cols > w.scr_col + cr.cols) w.scr_col = std::max(0, c.col + c.cols - cr.cols);
    }
}

// Brings a window and the windows it owns to the top, keeping their order,
// so that a modal window never ends up hidden below its owner.
void raise(int h) {
    auto& v = st().wins;
    std::vector<int> group{h};
    for (bool grew = true; grew;) {
        grew = false;
        for (auto& w : v)
            if (std::find(group.begin(), group.end(), w.h) == group.end() &&
                std::find(group.begin(), group.end(), w.owner) != group.end()) {
                group.push_back(w.h);
                grew = true;
            }
    }
    std::stable_partition(v.begin(), v.end(), [&](const Win& w) {
        return std::find(group.begin(), group.end(), w.h) == group.end();
    });
}

void place(Win& w) {
    State& s = st();
    if (w.style & WND_WS_MAXIMIZE) {
        w.rect = WndRect{0, 0, s.rows, s.cols};
    } else if (w.style & WND_WS_CENTRE) {
        w.rect.row = std::max(0, (s.rows - w.rect.rows) / 2);
        w.rect.col = std::max(0, (s.cols - w.rect.cols) / 2);
    }
}

// ---- timers --------------------------------------------------------------

bool timer_pending(int w, int id) {
    for (auto& e : st().queue)
        if (e.type == WND_EV_TIMER && e.wnd == w && e.code == id) return true;
    return false;
}

void fire_timer(Timer& t) {
    if (timer_pending(t.w, t.id)) return;
    WndEvent e;
    e.type = WND_EV_TIMER;
    e.wnd = t.w;
    e.code = t.id;
    push(e);
}

void fire_due_timers() {
    long long now = now_ms();
    for (auto& t : st().timers)
        if (now >= t.due) {
            fire_timer(t);
            t.due = now + t.ms;
        }
}

int timer_wait(int limit) {
    State& s = st();
    if (!s.be->realtime || s.timers.empty()) return limit;
    long long now = now_ms(), next = -1;
    for (auto& t : s.timers) next = next < 0 ? t.due : std::min(next, t.due);
    int w = int(std::max(0LL, next - now));
    return limit < 0 ? w : std::min(w, limit);
}

// ---- raw input -----------------------------------------------------------

void present() {
    if (st().be->show) {
        paint();
        st().be->show();
    }
}

// One piece of raw input for the program's queue or for a box or menu:
// 1 with ev, 0 nothing yet, -1 no input will come.
int wait_raw(WndEvent* ev, int timeout) {
    State& s = st();
    // a program that pumps between steps of a long job should not spend its
    // time painting
    static long long last = 0;
    long long now = now_ms();
    if (timeout != 0 || now - last >= 40) {
        present();
        last = now;
    }
    int r = s.be->read(ev, timeout);
    if (r == 1 && ev->type == WND_EV_RESIZE) screen_resized(ev->row, ev->col);
    return r;
}

// Raw input for a box or menu, where Ctrl+C (a close request) means Esc.
int wait_internal(WndEvent* ev) {
    int r = wait_raw(ev, -1);
    if (r == 1 && ev->type == WND_EV_CLOSE) {
        ev->type = WND_EV_KEY;
        ev->key = WND_K_ESC;
    }
    return r;
}

// Fills in the target of raw input; false when it goes nowhere.
bool target(WndEvent* ev) {
    if (ev->type == WND_EV_KEY) {
        ev->wnd = active_window();
        ev->ctl = 0;
        if (Win* w = win(ev->wnd)) ev->ctl = effective_ctl(*w);
        return true;
    }
    if (ev->type == WND_EV_MOUSE) {
        bool bar;
        int item;
        hit(ev->row, ev->col, &ev->wnd, &ev->ctl, &bar, &item);
        Win* w = win(ev->wnd);
        if (w && !win_enabled(*w)) {
            beep();
            return false;
        }
        return true;
    }
    if (ev->type == WND_EV_CLOSE) {
        ev->wnd = active_window();
        return ev->wnd != 0;
    }
    return true;
}

// ---- editing -------------------------------------------------------------

void edit_fix_scroll(Ctl& c) {
    int width = std::max(1, c.cols);
    int len = int(c.text.size());
    c.caret = std::clamp(c.caret, 0, len);
    c.anchor = std::clamp(c.anchor, 0, len);
    if (c.caret < c.hscroll) c.hscroll = c.caret;
    if (c.caret - c.hscroll >= width) c.hscroll = c.caret - width + 1;
    // show as much text as fits once the caret allows it
    if (len - c.hscroll < width - 1) c.hscroll = std::max(0, std::min(c.hscroll, len - width + 1));
    c.hscroll = std::max(0, c.hscroll);
}

bool is_word(char ch) { return ch != ' ' && ch != '\t'; }

// Edit keys; true when the key was the edit's.
bool edit_key(int w, Ctl& c, int key) {
    int base = key & ~WND_K_SHIFT;
    bool shift = key & WND_K_SHIFT;
    int len = int(c.text.size());
    int lo = std::min(c.caret, c.anchor), hi = std::max(c.caret, c.anchor);
    bool ro = c.style & WND_CS_READONLY;
    auto move = [&](int to) {
        c.caret = std::clamp(to, 0, len);
        if (!shift) c.anchor = c.caret;
        edit_fix_scroll(c);
        return true;
    };
    auto changed = [&]() {
        edit_fix_scroll(c);
        post_cmd(w, c.id, WND_N_CHANGE);
        return true;
    };
    switch (base) {
    case WND_K_LEFT: return move(lo < hi && !shift ? lo : c.caret - 1);
    case WND_K_RIGHT: return move(lo < hi && !shift ? hi : c.caret + 1);
    case WND_K_HOME: return move(0);
    case WND_K_END: return move(len);
    case WND_K_LEFT | WND_K_CTRL: {
        int p = c.caret;
        while (p > 0 && !is_word(c.text[p - 1])) p--;
        while (p > 0 && is_word(c.text[p - 1])) p--;
        return move(p);
    }
    case WND_K_RIGHT | WND_K_CTRL: {
        int p = c.caret;
        while (p < len && is_word(c.text[p])) p++;
        while (p < len && !is_word(c.text[p])) p++;
        return move(p);
    }
    case WND_K_BKSP:
    case WND_K_DEL:
        if (shift) return false;
        if (ro) { beep(); return true; }
        if (lo < hi) {
            c.text.erase(lo, hi - lo);
            c.caret = c.anchor = lo;
        } else if (key == WND_K_BKSP && c.caret > 0) {
            c.text.erase(--c.caret, 1);
            c.anchor = c.caret;
        } else if (key == WND_K_DEL && c.caret < len) {
            c.text.erase(c.caret, 1);
        } else {
            return true;
        }
        return changed();
    default:
        break;
    }
    if (key >= 32 && key < 256 && key != 127) {
        if (ro) { beep(); return true; }
        if (c.limit > 0 && len - (hi - lo) >= c.limit) { beep(); return true; }
        c.text.replace(lo, hi - lo, 1, char(key));
        c.caret = c.anchor = lo + 1;
        return changed();
    }
    return false;
}

// ---- lists ---------------------------------------------------------------

int row_count(const Ctl& c) { return int(c.kind == WND_GRID ? c.cells.size() : c.items.size()); }
const std::string& row_text(const Ctl& c, int i) {
    static const std::string empty;
    if (c.kind == WND_GRID) return c.cells[i].empty() ? empty : c.cells[i][0];
    return c.items[i];
}
int shown_rows(const Ctl& c) { return std::max(1, c.kind == WND_GRID ? c.rows - 1 : c.rows); }

void list_fix_top(Ctl& c) {
    int n = row_count(c), vis = shown_rows(c);
    if (c.sel >= 0) {
        if (c.sel < c.top) c.top = c.sel;
        if (c.sel >= c.top + vis) c.top = c.sel - vis + 1;
    }
    c.top = std::clamp(c.top, 0, std::max(0, n - vis));
}

// Moves the selection; posts SELCHANGE when it moved.
void list_move(int w, Ctl& c, int to) {
    int n = row_count(c);
    if (n == 0) return;
    to = std::clamp(to, 0, n - 1);
    if (to == c.sel) return;
    c.sel = to;
    list_fix_top(c);
    post_cmd(w, c.id, WND_N_SELCHANGE);
}

int lower(int ch) { return ch >= 'A' && ch <= 'Z' ? ch + 32 : ch; }

bool list_key(int w, Ctl& c, int key) {
    int n = row_count(c), vis = shown_rows(c);
    switch (key) {
    case WND_K_UP: list_move(w, c, c.sel < 0 ? 0 : c.sel - 1); return true;
    case WND_K_DOWN: list_move(w, c, c.sel + 1); return true;
    case WND_K_PGUP: list_move(w, c, std::max(0, c.sel) - vis); return true;
    case WND_K_PGDN: list_move(w, c, std::max(0, c.sel) + vis); return true;
    case WND_K_HOME: list_move(w, c, 0); return true;
    case WND_K_END: list_move(w, c, n - 1); return true;
    case WND_K_ENTER:
        if (c.sel >= 0) post_cmd(w, c.id, WND_N_DBLCLK);
        return true;
    case WND_K_LEFT:
    case WND_K_RIGHT:
        if (c.kind != WND_GRID) return false;
        c.left = std::max(0, c.left + (key == WND_K_LEFT ? -4 : 4));
        return true;
    default:
        break;
    }
    if (key > 32 && key < 256 && n > 0) {  // jump to the next item starting with the key
        for (int k = 1; k <= n; k++) {
            int i = (std::max(0, c.sel) + k) % n;
            const std::string& t = row_text(c, i);
            if (!t.empty() && lower((unsigned char)t[0]) == lower(key)) {
                list_move(w, c, i);
                break;
            }
        }
        return true;
    }
    return false;
}

bool text_key(Ctl& c, int key) {
    int n = int(c.lines.size()), vis = std::max(1, c.rows);
    int top = c.top;
    switch (key) {
    case WND_K_UP: top--; break;
    case WND_K_DOWN: top++; break;
    case WND_K_PGUP: top -= vis; break;
    case WND_K_PGDN: top += vis; break;
    case WND_K_HOME: top = 0; break;
    case WND_K_END: top = n; break;
    case WND_K_LEFT: c.left = std::max(0, c.left - 4); return true;
    case WND_K_RIGHT: c.left += 4; return true;
    default: return false;
    }
    c.top = std::clamp(top, 0, std::max(0, n - vis));
    return true;
}

// ---- menus ---------------------------------------------------------------

enum { M_LEFT = -2, M_RIGHT = -3, M_ABORT = -4 };
enum { MI_SUB = 0x100 };  // internal: the item opens a submenu

// End of the subtree below item i (exclusive), within [i+1, last).
int sub_end(const std::vector<WndMenuItem>& all, int i, int last) {
    int j = i + 1;
    while (j < last && all[j].level > all[i].level) j++;
    return j;
}

bool selectable(const WndMenuItem& m) { return !(m.flags & (WND_MI_SEPARATOR | WND_MI_DISABLED)); }

int popup_step(const Win& p, int from, int dir) {
    int n = int(p.pitems.size());
    for (int k = 1; k <= n; k++) {
        int i = ((from + dir * k) % n + n) % n;
        if (selectable(p.pitems[i])) return i;
    }
    return from;
}

void popup_fix_top(Win& p) {
    int vis = std::max(1, p.rect.rows - 2);
    if (p.psel < p.ptop) p.ptop = p.psel;
    if (p.psel >= p.ptop + vis) p.ptop = p.psel - vis + 1;
    p.ptop = std::max(0, p.ptop);
}

// One level of a menu: the items of [first, last) at their least level.
// Returns the id chosen, 0 when this level was closed, or M_LEFT, M_RIGHT
// (move along the menu bar) or M_ABORT (close every level). depth 0 is the
// level opened from the bar or by the program.
int track_level(const std::vector<WndMenuItem>& all, int first, int last, int row, int col, int flags,
                bool in_bar, int depth, int initial) {
    if (first >= last) return 0;
    int lvl = all[first].level;
    for (int i = first; i < last; i++) lvl = std::min(lvl, all[i].level);
    std::vector<int> src;  // index in `all` of each shown item
    Win p;
    p.sys = SYS_MENU;
    p.style = WND_WS_BORDER;
    int width = 4;
    for (int i = first; i < last; i++) {
        if (all[i].level != lvl) continue;
        WndMenuItem m = all[i];
        if (sub_end(all, i, last) > i + 1) m.flags |= MI_SUB;
        int hot;
        width = std::max(width, int(menu_label(m.text, &hot).size()) + ((m.flags & MI_SUB) ? 5 : 4));
        p.pitems.push_back(m);
        src.push_back(i);
    }
    State& s = st();
    int n = int(p.pitems.size());
    p.rect.rows = std::min(n + 2, std::max(3, s.rows));
    p.rect.cols = std::min(width, std::max(4, s.cols));
    p.rect.row = (flags & WND_POP_ABOVE) ? row - p.rect.rows : row;
    if (p.rect.row + p.rect.rows > s.rows) p.rect.row = s.rows - p.rect.rows;
    p.rect.row = std::max(0, p.rect.row);
    p.rect.col = std::clamp(col, 0, std::max(0, s.cols - p.rect.cols));
    p.psel = initial >= 0 && initial < n && selectable(p.pitems[initial]) ? initial : popup_step(p, -1, 1);
    if (p.psel >= 0 && !selectable(p.pitems[p.psel])) p.psel = -1;
    p.h = s.next_handle++;
    popup_fix_top(p);
    s.wins.push_back(std::move(p));
    int h = s.wins.back().h;

    auto open_sub = [&](int k) {
        int i = src[k];
        Win* q = win(h);
        int r = q->rect.row + 1 + (k - q->ptop), c = q->rect.col + q->rect.cols - 1;
        return track_level(all, i + 1, sub_end(all, i, last), r, c, 0, in_bar, depth + 1, -1);
    };
    // Enter on item k: its id, or what its submenu gives (0: stay here).
    auto choose = [&](int k) {
        if (!(win(h)->pitems[k].flags & MI_SUB)) return win(h)->pitems[k].id;
        return open_sub(k);
    };
    int result = 0;
    for (;;) {
        WndEvent ev;
        int r = wait_internal(&ev);
        Win* q = win(h);
        if (r < 0 || !q) { result = M_ABORT; break; }
        if (r == 0) continue;
        int key = 0;
        if (ev.type == WND_EV_MOUSE) {
            const WndRect& R = q->rect;
            bool inside = ev.row >= R.row && ev.row < R.row + R.rows && ev.col >= R.col && ev.col < R.col + R.cols;
            if (!inside) { result = M_ABORT; break; }
            int k = q->ptop + ev.row - R.row - 1;
            if (ev.key != WND_M_CLICK && ev.key != WND_M_DBLCLICK) continue;
            if (k < 0 || k >= n || ev.row == R.row + R.rows - 1) continue;
            if (!selectable(q->pitems[k])) { beep(); continue; }
            q->psel = k;
            key = WND_K_ENTER;
        } else if (ev.type == WND_EV_KEY) {
            key = ev.key;
        } else {
            continue;
        }
        bool sub = q->psel >= 0 && (q->pitems[q->psel].flags & MI_SUB);
        int pick = -1;  // item to choose
        if (key == WND_K_UP || key == WND_K_DOWN) {
            q->psel = popup_step(*q, q->psel, key == WND_K_UP ? -1 : 1);
        } else if (key == WND_K_HOME || key == WND_K_PGUP) {
            q->psel = popup_step(*q, -1, 1);
        } else if (key == WND_K_END || key == WND_K_PGDN) {
            q->psel = popup_step(*q, n, -1);
        } else if (key == WND_K_ESC) {
            result = 0;
            break;
        } else if (key == WND_K_LEFT) {
            if (depth > 0) { result = 0; break; }
            if (in_bar) { result = M_LEFT; break; }
        } else if (key == WND_K_RIGHT && !sub) {
            if (in_bar) { result = M_RIGHT; break; }
        } else if (key == WND_K_ENTER || key == ' ' || key == WND_K_RIGHT) {
            pick = q->psel;
        } else if (key > 32 && key < 256) {
            for (int k = 0; k < n && pick < 0; k++) {
                int hot;
                std::string t = menu_label(q->pitems[k].text, &hot);
                if (hot < 0) hot = 0;
                if (selectable(q->pitems[k]) && hot < int(t.size()) && lower((unsigned char)t[hot]) == lower(key))
                    pick = k;
            }
            if (pick < 0) beep();
        } else {
            beep();
        }
        if (pick >= 0) {
            q->psel = pick;
            int rr = choose(pick);
            if (rr != 0) { result = rr; break; }
        }
        if ((q = win(h))) popup_fix_top(*q);
    }
    int i = win_index(h);
    if (i >= 0) s.wins.erase(s.wins.begin() + i);
    return result;
}

// A bar item without a submenu waits for Enter (or a move) on the bar itself.
int track_bar_leaf() {
    for (;;) {
        WndEvent ev;
        int r = wait_internal(&ev);
        if (r < 0) return M_ABORT;
        if (r == 0) continue;
        if (ev.type == WND_EV_MOUSE) return M_ABORT;
        if (ev.type != WND_EV_KEY) continue;
        switch (ev.key) {
        case WND_K_ENTER: case ' ': case WND_K_DOWN: return 1;
        case WND_K_LEFT: return M_LEFT;
        case WND_K_RIGHT: return M_RIGHT;
        case WND_K_ESC: return 0;
        default: beep();
        }
    }
}

int menu_track(int h, int index) {
    Win* w = win(h);
    if (!w || w->menu.empty()) return 0;
    std::vector<WndMenuItem> all = w->menu;  // the window may change while tracking
    std::vector<int> tops;
    for (int i = 0; i < int(all.size()); i++)
        if (all[i].level == 0) tops.push_back(i);
    if (tops.empty()) return 0;
    int n = int(tops.size());
    int cur = std::clamp(index, 0, n - 1);
    State& s = st();
    s.quiet++;
    int chosen = 0;
    for (;;) {
        w = win(h);
        if (!w) break;
        w->menu_hot = cur;
        std::vector<int> cols, widths;
        bar_layout(*w, &cols, &widths);
        WndRect cr;
        client_rect(*w, &cr);
        int i = tops[cur];
        int end = sub_end(all, i, int(all.size()));
        int r;
        if (end > i + 1) {
            r = track_level(all, i + 1, end, cr.row, cols[cur] - 1, 0, true, 0, -1);
        } else {
            r = track_bar_leaf();
            if (r == 1) r = (all[i].flags & WND_MI_DISABLED) ? 0 : all[i].id;
        }
        if (r == M_LEFT) { cur = (cur + n - 1) % n; continue; }
        if (r == M_RIGHT) { cur = (cur + 1) % n; continue; }
        chosen = r > 0 ? r : 0;
        break;
    }
    if ((w = win(h))) w->menu_hot = -1;
    s.quiet--;
    if (chosen) post_cmd(h, chosen, WND_N_CLICKED);
    return chosen;
}

bool menu_hotkey(int h, int key) {
    Win* w = win(h);
    if (!w || w->menu.empty()) return false;
    int idx = 0;
    for (auto& m : w->menu) {
        if (m.level != 0) continue;
        int hot;
        std::string t = menu_label(m.text, &hot);
        if (hot >= 0 && lower((unsigned char)t[hot]) == lower(key)) {
            menu_track(h, idx);
            return true;
        }
        idx++;
    }
    return false;
}

// ---- drop-down lists -----------------------------------------------------

void dropdown_open(int h, int id) {
    Win* w = win(h);
    Ctl* c = ctl(w, id);
    if (!c || c->items.empty()) return;
    std::vector<WndMenuItem> items;
    for (size_t i = 0; i < c->items.size(); i++) {
        WndMenuItem m;
        m.id = int(i) + 1;
        // a '&' in an item is an ordinary character here
        for (char ch : c->items[i]) {
            if (ch == '&') m.text += '&';
            m.text += ch;
        }
        items.push_back(std::move(m));
    }
    WndRect cr;
    client_rect(*w, &cr);
    int row = cr.row + c->row - w->scr_row + 1, col = cr.col + c->col - w->scr_col - 2;  // items under the text
    int sel = c->sel;
    st().quiet++;
    int r = track_level(items, 0, int(items.size()), row, col, 0, false, 0, sel);
    st().quiet--;
    w = win(h);
    c = ctl(w, id);
    if (!c || r <= 0) return;
    if (r - 1 != c->sel) {
        c->sel = r - 1;
        post_cmd(h, id, WND_N_SELCHANGE);
    }
    post_cmd(h, id, WND_N_SELENDOK);
}

// ---- default handling ----------------------------------------------------

void focus_step(int h, int dir) {
    Win* w = win(h);
    if (!w || w->ctls.empty()) return;
    int n = int(w->ctls.size()), at = -1;
    int cur = effective_ctl(*w);
    for (int i = 0; i < n; i++)
        if (w->ctls[i].id == cur) at = i;
    for (int k = 1; k <= n; k++) {
        int i = ((at + dir * k) % n + n) % n;
        Ctl& c = w->ctls[i];
        if (focusable(c) && !(c.style & WND_CS_NOTAB)) {
            wnd_set_focus(h, c.id);
            return;
        }
    }
}

bool press_default(int h) {
    Win* w = win(h);
    if (!w) return false;
    for (auto& c : w->ctls)
        if (c.kind == WND_BUTTON && (c.style & WND_CS_DEFAULT) && c.visible && c.enabled) {
            post_cmd(h, c.id, WND_N_CLICKED);
            return true;
        }
    return false;
}

bool ctl_key(int h, int id, int key) {
    Ctl* c = ctl(win(h), id);
    if (!c || !c->enabled || !c->visible) return false;
    switch (c->kind) {
    case WND_EDIT:
        return edit_key(h, *c, key);
    case WND_CHECK:
        if (key != ' ') return false;
        c->checked = !c->checked;
        post_cmd(h, id, WND_N_CLICKED);
        return true;
    case WND_BUTTON:
        if (key != ' ' && key != WND_K_ENTER) return false;
        post_cmd(h, id, WND_N_CLICKED);
        return true;
    case WND_LIST:
    case WND_GRID:
        return list_key(h, *c, key);
    case WND_DROPDOWN:
        if (key == WND_K_UP || key == WND_K_DOWN) {
            int n = int(c->items.size());
            if (n) list_move(h, *c, key == WND_K_UP ? std::max(0, c->sel - 1) : c->sel + 1);
            return true;
        }
        if (key == ' ' || key == WND_K_ENTER || key == (WND_K_DOWN | WND_K_ALT)) {
            dropdown_open(h, id);
            return true;
        }
        return false;
    case WND_TEXT:
        return text_key(*c, key);
    default:
        return false;
    }
}

void dispatch_key(const WndEvent& ev) {
    int h = ev.wnd, key = ev.key;
    Win* w = win(h);
    if (!w || !win_enabled(*w)) return;
    if (ev.ctl && ctl_key(h, ev.ctl, key)) return;
    switch (key) {
    case WND_K_TAB: focus_step(h, 1); return;
    case WND_K_TAB | WND_K_SHIFT: focus_step(h, -1); return;
    case WND_K_ENTER: press_default(h); return;
    case WND_K_ESC: wnd_post_close(h); return;
    case WND_K_F1 + 9:
        if (!win(h)->menu.empty()) menu_track(h, 0);
        return;
    default:
        break;
    }
    if ((key & WND_K_MODS) == WND_K_ALT && (key & 0xFF) > 32) menu_hotkey(h, key & 0xFF);
}

void dispatch_mouse(const WndEvent& ev) {
    int h = ev.wnd;
    Win* w = win(h);
    if (!w || !win_enabled(*w)) return;
    if (active_window() != h) wnd_activate(h);
    int wnd_hit, id;
    bool bar;
    int item;
    hit(ev.row, ev.col, &wnd_hit, &id, &bar, &item);
    if (wnd_hit != h) return;
    if (bar) {
        if (item >= 0 && ev.key == WND_M_CLICK) menu_track(h, item);
        return;
    }
    w = win(h);
    Ctl* c = ctl(w, ev.ctl);
    bool wheel = ev.key == WND_M_WHEELUP || ev.key == WND_M_WHEELDOWN;
    if (wheel && (!c || (c->kind != WND_LIST && c->kind != WND_GRID && c->kind != WND_TEXT))) {
        // a content larger than the window moves two rows a step
        wnd_scroll(h, w->scr_row + (ev.key == WND_M_WHEELUP ? -2 : 2), w->scr_col);
        return;
    }
    if (!c || !c->enabled || !c->visible) return;
    if (focusable(*c) && ev.key != WND_M_WHEELUP && ev.key != WND_M_WHEELDOWN) {
        wnd_set_focus(h, c->id);
        sync_focus();  // the focus moves before the click is reported
        w = win(h);
        c = ctl(w, ev.ctl);
        if (!c) return;
    }
    WndRect cr;
    client_rect(*w, &cr);
    int r = ev.row - (cr.row + c->row - w->scr_row), col = ev.col - (cr.col + c->col - w->scr_col);
    bool click = ev.key == WND_M_CLICK || ev.key == WND_M_DBLCLICK;
    switch (c->kind) {
    case WND_BUTTON:
        if (click) post_cmd(h, c->id, WND_N_CLICKED);
        break;
    case WND_CHECK:
        if (click) {
            c->checked = !c->checked;
            post_cmd(h, c->id, WND_N_CLICKED);
        }
        break;
    case WND_EDIT:
        if (click) {
            int len = int(c->text.size());
            int off = edit_offset(*c);
            c->caret = c->anchor = std::clamp(c->hscroll + col - off, 0, len);
            edit_fix_scroll(*c);
        }
        break;
    case WND_LIST:
    case WND_GRID: {
        if (ev.key == WND_M_WHEELUP || ev.key == WND_M_WHEELDOWN) {
            int n = row_count(*c);
            c->top = std::clamp(c->top + (ev.key == WND_M_WHEELUP ? -3 : 3), 0, std::max(0, n - shown_rows(*c)));
            break;
        }
        int row = c->top + r - (c->kind == WND_GRID ? 1 : 0);
        if (row < 0 || row >= row_count(*c)) break;
        list_move(h, *c, row);
        if (ev.key == WND_M_DBLCLICK) post_cmd(h, c->id, WND_N_DBLCLK);
        else if (ev.key == WND_M_RCLICK) post_cmd(h, c->id, WND_N_RCLICK);
        else post_cmd(h, c->id, WND_N_CLICKED);
        break;
    }
    case WND_DROPDOWN:
        if (click) dropdown_open(h, c->id);
        break;
    case WND_TEXT:
        if (ev.key == WND_M_WHEELUP) for (int i = 0; i < 3; i++) text_key(*c, WND_K_UP);
        if (ev.key == WND_M_WHEELDOWN) for (int i = 0; i < 3; i++) text_key(*c, WND_K_DOWN);
        break;
    default:
        break;
    }
}

Ctl* find_ctl(int w, int id, int* status) {
    Win* p = win(w);
    if (!p) { *status = WND_EBADWND; return nullptr; }
    Ctl* c = ctl(p, id);
    *status = c ? WND_OK : WND_EBADCTL;
    return c;
}

#define CTL_OR_RETURN(c, w, id)              \
    int status_;                             \
    Ctl* c = find_ctl(w, id, &status_);      \
    if (!c) return status_

std::vector<std::string> split_lines(std::string_view t) {
    std::vector<std::string> out(1);
    for (size_t i = 0; i < t.size(); i++) {
        char ch = t[i];
        if (ch == '\r' || ch == '\n') {
            if (ch == '\r' && i + 1 < t.size() && t[i + 1] == '\n') i++;
            out.emplace_back();
        } else {
            out.back() += ch;
        }
    }
    return out;
}

int text_width(std::string_view t) {
    size_t m = 0;
    for (auto& l : split_lines(t)) m = std::max(m, l.size());
    return int(m);
}

void text_set(Ctl& c, std::string_view t) {
    c.lines.clear();
    if (t.empty()) return;
    for (auto& l : split_lines(t)) {
        std::vector<WndCell> row;
        for (char ch : l) row.push_back(WndCell{ch, 0});
        c.lines.push_back(std::move(row));
    }
    c.top = c.left = 0;
}

}  // namespace

// ---- public: start and end -----------------------------------------------

int wnd_init(int backend) { return start(backend); }

void wnd_shutdown() {
    State& s = st();
    if (!s.started) return;
    if (s.be->exit_dump) s.be->exit_dump();
    s.be->close();
    s.started = false;
    s.be = nullptr;
    s.wins.clear();
    s.queue.clear();
    s.timers.clear();
    s.rep_w = s.rep_c = 0;
    s.quiet = 0;
    s.dumps = 0;
    headless_set_script({});
}

int wnd_suspend() {
    if (!st().started) return WND_OK;
    if (st().be->suspend) st().be->suspend();
    return WND_OK;
}

int wnd_resume() {
    if (!st().started) return WND_OK;
    if (st().be->resume) st().be->resume();
    return WND_OK;
}

int wnd_backend() { return st().started ? st().be->kind : 0; }
const char* wnd_error() { return st().error.c_str(); }

void wnd_set_screen_size(int rows, int cols) {
    if (rows < 1 || cols < 1) return;
    State& s = st();
    if (s.started && s.be->kind == WND_TERMINAL) return;  // the terminal decides
    s.rows = rows;
    s.cols = cols;
    for (auto& w : s.wins) place(w);
}

void wnd_screen_size(int* rows, int* cols) {
    ensure();
    *rows = st().rows;
    *cols = st().cols;
}

namespace ui {
void screen_resized(int rows, int cols) {
    State& s = st();
    if (rows < 1 || cols < 1 || (rows == s.rows && cols == s.cols)) return;
    s.rows = rows;
    s.cols = cols;
    for (auto& w : s.wins) place(w);
    WndEvent e;
    e.type = WND_EV_RESIZE;
    e.row = rows;
    e.col = cols;
    push(e);
}
}  // namespace ui

// ---- public: events ------------------------------------------------------

int wnd_post(const WndEvent& ev) {
    if (ev.type <= WND_EV_NONE || ev.type > WND_EV_QUIT) return WND_EARG;
    push(ev);
    return WND_OK;
}

int wnd_post_close(int w) {
    if (!win(w)) return WND_EBADWND;
    WndEvent e;
    e.type = WND_EV_CLOSE;
    e.wnd = w;
    push(e);
    return WND_OK;
}

int wnd_post_quit(int code) {
    WndEvent e;
    e.type = WND_EV_QUIT;
    e.code = code;
    push(e);
    return WND_OK;
}

int wnd_peek(WndEvent* ev) {
    if (!ensure()) return WND_EINIT;
    State& s = st();
    sync_focus();
    if (s.be->realtime) fire_due_timers();
    if (s.queue.empty() && s.be->realtime) {
        WndEvent raw;
        if (wait_raw(&raw, 0) == 1 && target(&raw) && raw.type != WND_EV_RESIZE) push(raw);
        sync_focus();
    }
    if (s.queue.empty()) return WND_EMPTY;
    *ev = s.queue.front();
    s.queue.pop_front();
    return WND_OK;
}

int wnd_get(WndEvent* ev) {
    if (!ensure()) return WND_EINIT;
    State& s = st();
    for (;;) {
        sync_focus();
        if (s.be->realtime) fire_due_timers();
        if (!s.queue.empty()) {
            *ev = s.queue.front();
            s.queue.pop_front();
            return WND_OK;
        }
        WndEvent raw;
        int r = wait_raw(&raw, timer_wait(-1));
        if (r < 0) {
            *ev = WndEvent{};
            return WND_NOINPUT;
        }
        if (r == 0) continue;
        if (raw.type == WND_EV_TIMER) {  // the script's Tick: every timer once
            for (auto& t : s.timers) fire_timer(t);
            continue;
        }
        if (raw.type == WND_EV_RESIZE) continue;  // posted by wait_raw
        if (target(&raw)) push(raw);
    }
}

int wnd_dispatch(const WndEvent& ev) {
    switch (ev.type) {
    case WND_EV_KEY: dispatch_key(ev); break;
    case WND_EV_MOUSE: dispatch_mouse(ev); break;
    case WND_EV_CLOSE:
        if (Win* w = win(ev.wnd); w && w->sys == SYS_NONE) wnd_destroy(ev.wnd);
        break;
    default: break;
    }
    return WND_OK;
}

int wnd_run(int w, WndHandler handler, void* ctx) {
    for (;;) {
        if (w ? !win(w) : st().wins.empty()) return WND_OK;
        WndEvent ev;
        int r = wnd_get(&ev);
        if (r != WND_OK) return r;
        if (ev.type == WND_EV_QUIT) {
            push(ev);
            return WND_QUIT;
        }
        if (!handler || !handler(ev, ctx)) wnd_dispatch(ev);
    }
}

int wnd_wait_key(int* key) {
    for (;;) {
        WndEvent ev;
        int r = wnd_get(&ev);
        if (r != WND_OK) return r;
        if (ev.type == WND_EV_QUIT) {
            push(ev);
            return WND_QUIT;
        }
        if (ev.type == WND_EV_KEY) {
            *key = ev.key;
            return WND_OK;
        }
        wnd_dispatch(ev);
    }
}

int wnd_set_timer(int w, int id, int ms) {
    if (w && !win(w)) return WND_EBADWND;
    if (ms <= 0) return WND_EARG;
    for (auto& t : st().timers)
        if (t.w == w && t.id == id) {
            t.ms = ms;
            t.due = now_ms() + ms;
            return WND_OK;
        }
    st().timers.push_back(Timer{w, id, ms, now_ms() + ms});
    return WND_OK;
}

int wnd_kill_timer(int w, int id) {
    auto& v = st().timers;
    auto it = std::find_if(v.begin(), v.end(), [&](const Timer& t) { return t.w == w && t.id == id; });
    if (it == v.end()) return WND_EARG;
    v.erase(it);
    auto& q = st().queue;
    q.erase(std::remove_if(q.begin(), q.end(), [&](const WndEvent& e) {
                return e.type == WND_EV_TIMER && e.wnd == w && e.code == id;
            }), q.end());
    return WND_OK;
}

// ---- public: windows -----------------------------------------------------

int wnd_create(const WndSpec& want) {
    if (!ensure()) return WND_EINIT;
    State& s = st();
    if (want.owner && !win(want.owner)) return WND_EBADWND;
    if (s.wins.size() >= 250) return WND_EFULL;
    Win w;
    w.h = s.next_handle++;
    w.owner = want.owner;
    w.style = want.style;
    w.rect = want.rect;
    w.rect.rows = std::max(w.rect.rows, 1);
    w.rect.cols = std::max(w.rect.cols, 1);
    w.caption = std::string(want.caption);
    w.visible = !(want.style & WND_WS_HIDDEN);
    w.user = want.user;
    place(w);
    if ((want.style & WND_WS_MODAL) && want.owner) {
        win(want.owner)->modal_kids++;
        w.disabled_owner = true;
    }
    s.wins.push_back(std::move(w));
    return s.wins.back().h;
}

int wnd_destroy(int h) {
    State& s = st();
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    // owned windows go first, innermost first
    for (;;) {
        int child = 0;
        for (auto& o : s.wins)
            if (o.owner == h) child = o.h;
        if (!child) break;
        wnd_destroy(child);
    }
    w = win(h);
    int owner = w->owner;
    bool was_active = active_window() == h;
    bool modal = w->disabled_owner;
    s.wins.erase(s.wins.begin() + win_index(h));
    if (Win* o = win(owner); o && modal) o->modal_kids--;
    auto& t = s.timers;
    t.erase(std::remove_if(t.begin(), t.end(), [&](const Timer& x) { return x.w == h; }), t.end());
    auto& q = s.queue;
    q.erase(std::remove_if(q.begin(), q.end(), [&](const WndEvent& e) { return e.wnd == h; }), q.end());
    if (win(owner) && (modal || was_active)) raise(owner);
    return WND_OK;
}

bool wnd_exists(int w) { return win(w) != nullptr; }

int wnd_show(int h, bool on) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    w->visible = on;
    return WND_OK;
}
bool wnd_visible(int h) {
    Win* w = win(h);
    return w && w->visible;
}

int wnd_enable(int h, bool on) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    w->enabled = on;
    return WND_OK;
}
bool wnd_enabled(int h) {
    Win* w = win(h);
    return w && win_enabled(*w);
}

int wnd_move(int h, const WndRect& r) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    if (r.rows < 1 || r.cols < 1) return WND_EARG;
    w->rect = r;
    place(*w);
    return WND_OK;
}

int wnd_rect(int h, WndRect* out) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    *out = w->rect;
    return WND_OK;
}

int wnd_client(int h, WndRect* out) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    client_rect(*w, out);
    return WND_OK;
}

void wnd_outer_size(int style, bool has_menu, int* rows, int* cols) {
    int b = (style & WND_WS_BORDER) ? 2 : 0;
    *rows += b + (has_menu ? 1 : 0);
    *cols += b;
}

int wnd_set_caption(int h, std::string_view text) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    w->caption = std::string(text);
    return WND_OK;
}

int wnd_caption(int h, std::string* out) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    *out = w->caption;
    return WND_OK;
}

int wnd_owner(int h) {
    Win* w = win(h);
    return w && win(w->owner) ? w->owner : 0;
}

int wnd_set_user(int h, long v) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    w->user = v;
    return WND_OK;
}
long wnd_user(int h) {
    Win* w = win(h);
    return w ? w->user : 0;
}

int wnd_activate(int h) {
    if (!win(h)) return WND_EBADWND;
    raise(h);
    return WND_OK;
}

int wnd_active() { return active_window(); }

int wnd_windows(std::vector<int>* out) {
    out->clear();
    for (auto& w : st().wins)
        if (w.sys == SYS_NONE) out->push_back(w.h);
    return WND_OK;
}

int wnd_set_extent(int h, int rows, int cols) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    w->ext_rows = std::max(0, rows);
    w->ext_cols = std::max(0, cols);
    return wnd_scroll(h, w->scr_row, w->scr_col);
}

int wnd_scroll(int h, int row, int col) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    WndRect cr;
    client_rect(*w, &cr);
    w->scr_row = std::clamp(row, 0, std::max(0, w->ext_rows - cr.rows));
    w->scr_col = std::clamp(col, 0, std::max(0, w->ext_cols - cr.cols));
    return WND_OK;
}

int wnd_scroll_pos(int h, int* row, int* col) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    *row = w->scr_row;
    *col = w->scr_col;
    return WND_OK;
}

// ---- public: focus -------------------------------------------------------

int wnd_set_focus(int h, int id) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    if (id) {
        Ctl* c = ctl(w, id);
        if (!c) return WND_EBADCTL;
        if (!focusable(*c)) return WND_EARG;
        w->focus = id;
        scroll_into_view(*w, *c);
    } else {
        w->focus = -1;
    }
    if (win_enabled(*w) && active_window() != h) raise(h);
    return WND_OK;
}

int wnd_focus(int* w, int* id) {
    int a = active_window();
    *w = a;
    *id = 0;
    if (Win* p = win(a)) *id = effective_ctl(*p);
    return WND_OK;
}

// ---- public: controls ----------------------------------------------------

int wnd_ctl_create(int h, const WndCtlSpec& s) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    if (s.kind < WND_LABEL || s.kind > WND_TEXT) return WND_EKIND;
    if (s.id == 0) return WND_EARG;
    if (ctl(w, s.id)) return WND_EDUP;
    Ctl c;
    c.id = s.id;
    c.kind = s.kind;
    c.style = s.style;
    c.row = s.row;
    c.col = s.col;
    c.rows = std::max(s.rows, s.kind == WND_GRID ? 2 : 1);
    c.cols = s.cols;
    c.visible = !(s.style & WND_CS_HIDDEN);
    c.enabled = !(s.style & WND_CS_DISABLED);
    c.limit = std::max(0, s.limit);
    if (c.cols <= 0) {
        int tw = text_width(s.text);
        switch (s.kind) {
        case WND_BUTTON: c.cols = tw + 4; break;
        case WND_CHECK: c.cols = tw + 4; break;
        case WND_EDIT: c.cols = std::max(c.limit, tw) + 1; break;
        default: c.cols = std::max(1, tw); break;
        }
    }
    if (s.kind == WND_TEXT) text_set(c, s.text);
    else if (s.kind == WND_LIST || s.kind == WND_DROPDOWN || s.kind == WND_GRID) {
        if (!s.text.empty()) {
            if (s.kind == WND_GRID) c.cells.push_back({std::string(s.text)});
            else c.items.emplace_back(s.text);
        }
    } else {
        c.text = std::string(s.text);
    }
    c.caret = c.anchor = int(c.text.size());
    if (c.kind == WND_EDIT) edit_fix_scroll(c);
    w->ctls.push_back(std::move(c));
    return WND_OK;
}

int wnd_ctl_destroy(int h, int id) {
    CTL_OR_RETURN(c, h, id);
    Win* w = win(h);
    w->ctls.erase(w->ctls.begin() + (c - w->ctls.data()));
    if (w->focus == id) w->focus = 0;
    return WND_OK;
}

bool wnd_ctl_exists(int h, int id) { return ctl(win(h), id) != nullptr; }

int wnd_ctl_kind(int h, int id) {
    Ctl* c = ctl(win(h), id);
    return c ? c->kind : 0;
}

int wnd_ctl_ids(int h, std::vector<int>* out) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    out->clear();
    for (auto& c : w->ctls) out->push_back(c.id);
    return WND_OK;
}

int wnd_ctl_move(int h, int id, int row, int col, int rows, int cols) {
    CTL_OR_RETURN(c, h, id);
    if (rows < 1 || cols < 1) return WND_EARG;
    c->row = row;
    c->col = col;
    c->rows = std::max(rows, c->kind == WND_GRID ? 2 : 1);
    c->cols = cols;
    if (c->kind == WND_EDIT) edit_fix_scroll(*c);
    if (c->kind == WND_LIST || c->kind == WND_GRID) list_fix_top(*c);
    return WND_OK;
}

int wnd_ctl_rect(int h, int id, WndRect* out) {
    CTL_OR_RETURN(c, h, id);
    *out = WndRect{c->row, c->col, c->rows, c->cols};
    return WND_OK;
}

int wnd_ctl_enable(int h, int id, bool on) {
    CTL_OR_RETURN(c, h, id);
    c->enabled = on;
    return WND_OK;
}
bool wnd_ctl_enabled(int h, int id) {
    Ctl* c = ctl(win(h), id);
    return c && c->enabled;
}

int wnd_ctl_show(int h, int id, bool on) {
    CTL_OR_RETURN(c, h, id);
    c->visible = on;
    return WND_OK;
}
bool wnd_ctl_visible(int h, int id) {
    Ctl* c = ctl(win(h), id);
    return c && c->visible;
}

int wnd_ctl_set_style(int h, int id, int style) {
    CTL_OR_RETURN(c, h, id);
    c->style = style & ~(WND_CS_HIDDEN | WND_CS_DISABLED);
    return WND_OK;
}
int wnd_ctl_style(int h, int id) {
    CTL_OR_RETURN(c, h, id);
    return c->style;
}

int wnd_ctl_set_attr(int h, int id, WndAttr a) {
    CTL_OR_RETURN(c, h, id);
    c->attr = a;
    return WND_OK;
}

int wnd_set_text(int h, int id, std::string_view text) {
    CTL_OR_RETURN(c, h, id);
    switch (c->kind) {
    case WND_LIST:
    case WND_DROPDOWN:
    case WND_GRID: {
        int n = row_count(*c), found = -1;
        for (int i = 0; i < n && found < 0; i++)
            if (row_text(*c, i) == text) found = i;
        for (int i = 0; i < n && found < 0; i++)
            if (strncasecmp(row_text(*c, i).c_str(), std::string(text).c_str(), text.size() + 1) == 0) found = i;
        if (found < 0) return WND_EARG;
        c->sel = found;
        list_fix_top(*c);
        return WND_OK;
    }
    case WND_TEXT:
        text_set(*c, text);
        return WND_OK;
    case WND_PROGRESS:
        return WND_EKIND;
    default:
        c->text = std::string(text);
        c->caret = c->anchor = int(c->text.size());
        c->hscroll = 0;
        if (c->kind == WND_EDIT) edit_fix_scroll(*c);
        return WND_OK;
    }
}

int wnd_get_text(int h, int id, std::string* out) {
    CTL_OR_RETURN(c, h, id);
    out->clear();
    switch (c->kind) {
    case WND_LIST:
    case WND_DROPDOWN:
    case WND_GRID:
        if (c->sel >= 0 && c->sel < row_count(*c)) *out = row_text(*c, c->sel);
        return WND_OK;
    case WND_TEXT:
        for (size_t i = 0; i < c->lines.size(); i++) {
            if (i) *out += "\r\n";
            std::string l;
            for (auto& cell : c->lines[i]) l += (cell.attr & WND_A_GLYPH) ? ' ' : cell.ch;
            while (!l.empty() && l.back() == ' ') l.pop_back();
            *out += l;
        }
        return WND_OK;
    case WND_PROGRESS:
        return WND_EKIND;
    default:
        *out = c->text;
        return WND_OK;
    }
}

int wnd_edit_limit(int h, int id, int n) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_EDIT) return WND_EKIND;
    c->limit = std::max(0, n);
    return WND_OK;
}

int wnd_edit_select(int h, int id, int from, int to) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_EDIT) return WND_EKIND;
    int len = int(c->text.size());
    if (to < 0) to = len;
    c->anchor = std::clamp(from, 0, len);
    c->caret = std::clamp(to, 0, len);
    edit_fix_scroll(*c);
    return WND_OK;
}

int wnd_edit_selection(int h, int id, int* from, int* to) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_EDIT) return WND_EKIND;
    *from = std::min(c->anchor, c->caret);
    *to = std::max(c->anchor, c->caret);
    return WND_OK;
}

int wnd_set_check(int h, int id, bool on) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_CHECK) return WND_EKIND;
    c->checked = on;
    return WND_OK;
}

int wnd_get_check(int h, int id, bool* on) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_CHECK) return WND_EKIND;
    *on = c->checked;
    return WND_OK;
}

static bool is_list(const Ctl& c) { return c.kind == WND_LIST || c.kind == WND_DROPDOWN || c.kind == WND_GRID; }

int wnd_list_insert(int h, int id, int index, std::string_view text) {
    CTL_OR_RETURN(c, h, id);
    if (!is_list(*c)) return WND_EKIND;
    int n = row_count(*c);
    if (index < 0 || index > n) index = n;
    if (c->kind == WND_GRID) c->cells.insert(c->cells.begin() + index, {std::string(text)});
    else c->items.insert(c->items.begin() + index, std::string(text));
    if (c->sel >= index) c->sel++;
    return index;
}

int wnd_list_add(int h, int id, std::string_view text) { return wnd_list_insert(h, id, -1, text); }

int wnd_list_delete(int h, int id, int index) {
    CTL_OR_RETURN(c, h, id);
    if (!is_list(*c)) return WND_EKIND;
    int n = row_count(*c);
    if (index < 0 || index >= n) return WND_EARG;
    if (c->kind == WND_GRID) c->cells.erase(c->cells.begin() + index);
    else c->items.erase(c->items.begin() + index);
    if (c->sel == index) c->sel = index < n - 1 ? index : n - 2;
    else if (c->sel > index) c->sel--;
    list_fix_top(*c);
    return WND_OK;
}

int wnd_list_clear(int h, int id) {
    CTL_OR_RETURN(c, h, id);
    if (!is_list(*c)) return WND_EKIND;
    c->items.clear();
    c->cells.clear();
    c->sel = -1;
    c->top = 0;
    return WND_OK;
}

int wnd_list_count(int h, int id) {
    CTL_OR_RETURN(c, h, id);
    if (!is_list(*c)) return WND_EKIND;
    return row_count(*c);
}

int wnd_list_item(int h, int id, int index, std::string* out) {
    CTL_OR_RETURN(c, h, id);
    if (!is_list(*c)) return WND_EKIND;
    if (index < 0 || index >= row_count(*c)) return WND_EARG;
    *out = row_text(*c, index);
    return WND_OK;
}

int wnd_list_set_item(int h, int id, int index, std::string_view text) {
    CTL_OR_RETURN(c, h, id);
    if (!is_list(*c)) return WND_EKIND;
    if (index < 0 || index >= row_count(*c)) return WND_EARG;
    if (c->kind == WND_GRID) {
        if (c->cells[index].empty()) c->cells[index].emplace_back();
        c->cells[index][0] = std::string(text);
    } else {
        c->items[index] = std::string(text);
    }
    return WND_OK;
}

int wnd_list_select(int h, int id, int index) {
    CTL_OR_RETURN(c, h, id);
    if (!is_list(*c)) return WND_EKIND;
    if (index < -1 || index >= row_count(*c)) return WND_EARG;
    c->sel = index;
    list_fix_top(*c);
    return WND_OK;
}

int wnd_list_selection(int h, int id, int* index) {
    CTL_OR_RETURN(c, h, id);
    if (!is_list(*c)) return WND_EKIND;
    *index = c->sel;
    return WND_OK;
}

int wnd_grid_add_column(int h, int id, std::string_view header, int width, int align) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_GRID) return WND_EKIND;
    if (width < 1) return WND_EARG;
    c->columns.push_back(Column{std::string(header), width, align});
    return int(c->columns.size()) - 1;
}

int wnd_grid_column_count(int h, int id) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_GRID) return WND_EKIND;
    return int(c->columns.size());
}

int wnd_grid_set_cell(int h, int id, int row, int col, std::string_view text) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_GRID) return WND_EKIND;
    if (row < 0 || row >= row_count(*c) || col < 0 || col > 255) return WND_EARG;
    auto& r = c->cells[row];
    if (int(r.size()) <= col) r.resize(col + 1);
    r[col] = std::string(text);
    return WND_OK;
}

int wnd_grid_cell(int h, int id, int row, int col, std::string* out) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_GRID) return WND_EKIND;
    if (row < 0 || row >= row_count(*c) || col < 0) return WND_EARG;
    auto& r = c->cells[row];
    *out = col < int(r.size()) ? r[col] : std::string();
    return WND_OK;
}

int wnd_progress_set(int h, int id, int pos, int range) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_PROGRESS) return WND_EKIND;
    if (range < 1) return WND_EARG;
    c->range = range;
    c->pos = std::clamp(pos, 0, range);
    return WND_OK;
}

int wnd_text_put(int h, int id, int row, int col, std::string_view text, WndAttr a) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_TEXT) return WND_EKIND;
    if (row < 0 || col < 0 || row > 9999 || col + int(text.size()) > 9999) return WND_EARG;
    if (int(c->lines.size()) <= row) c->lines.resize(row + 1);
    auto& l = c->lines[row];
    if (int(l.size()) < col + int(text.size())) l.resize(col + text.size(), WndCell{' ', 0});
    for (size_t i = 0; i < text.size(); i++) l[col + i] = WndCell{text[i], a};
    return WND_OK;
}

int wnd_text_clear(int h, int id, WndAttr fill) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_TEXT) return WND_EKIND;
    c->lines.clear();
    c->fill = fill;
    c->top = c->left = 0;
    return WND_OK;
}

int wnd_text_line_count(int h, int id) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_TEXT) return WND_EKIND;
    return int(c->lines.size());
}

int wnd_text_scroll(int h, int id, int top_line) {
    CTL_OR_RETURN(c, h, id);
    if (c->kind != WND_TEXT) return WND_EKIND;
    c->top = std::clamp(top_line, 0, std::max(0, int(c->lines.size()) - c->rows));
    return WND_OK;
}

// ---- public: menus -------------------------------------------------------

int wnd_menu_set(int h, const std::vector<WndMenuItem>& items) {
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    for (auto& m : items)
        if (m.level < 0) return WND_EARG;
    w->menu = items;
    return WND_OK;
}

int wnd_menu_open(int h, int index) {
    if (!ensure()) return WND_EINIT;
    Win* w = win(h);
    if (!w) return WND_EBADWND;
    if (w->menu.empty()) return WND_EARG;
    return menu_track(h, index);
}

int wnd_popup(int h, int row, int col, int flags, const std::vector<WndMenuItem>& items) {
    if (!ensure()) return WND_EINIT;
    if (h && !win(h)) return WND_EBADWND;
    if (items.empty()) return 0;
    for (auto& m : items)
        if (m.level < 0) return WND_EARG;
    st().quiet++;
    int r = track_level(items, 0, int(items.size()), row, col, flags, false, 0, -1);
    st().quiet--;
    return r > 0 ? r : 0;
}

// ---- public: message boxes -----------------------------------------------

int wnd_msgbox(std::string_view text, std::string_view caption, int kind) {
    if (!ensure()) {
        std::fprintf(stderr, "%.*s: %.*s\n", int(caption.size()), caption.data(), int(text.size()), text.data());
        return kind == WND_MB_YESNO ? WND_ID_YES : WND_ID_OK;
    }
    return st().be->msgbox(text, caption, kind);
}

namespace ui {

// A box drawn as a window of its own, answered with the keys or the mouse.
// Its focus changes are never reported: the program's focus is where it was
// when the box goes away.
int drawn_msgbox(std::string_view text, std::string_view caption, int kind) {
    State& s = st();
    std::vector<std::string> lines;
    int maxw = std::max(10, s.cols - 8);
    for (auto& l : split_lines(text)) {
        std::string rest = l;
        while (int(rest.size()) > maxw) {  // wrap at the last blank that fits
            size_t cut = rest.rfind(' ', maxw);
            if (cut == std::string::npos || cut == 0) cut = maxw;
            lines.push_back(rest.substr(0, cut));
            rest = rest.substr(cut + (rest[cut] == ' ' ? 1 : 0));
        }
        lines.push_back(rest);
    }
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (int(lines.size()) > s.rows - 6) lines.resize(std::max(1, s.rows - 6));
    struct B { const char* t; int id; };
    std::vector<B> buttons = kind == WND_MB_YESNO ? std::vector<B>{{"Yes", WND_ID_YES}, {"No", WND_ID_NO}}
                                                   : std::vector<B>{{"OK", WND_ID_OK}};
    int bw = 0;
    for (auto& b : buttons) bw += int(strlen(b.t)) + 4 + 2;
    int tw = 0;
    for (auto& l : lines) tw = std::max(tw, int(l.size()));
    int cw = std::max({tw + 2, bw, int(caption.size()) + 4, 20});
    int rows = int(lines.size()) + 2, cols = cw;
    wnd_outer_size(WND_WS_BORDER, false, &rows, &cols);
    s.quiet++;
    WndSpec want;
    want.owner = active_window();
    want.style = WND_WS_BORDER | WND_WS_MODAL | WND_WS_CENTRE;
    want.rect.rows = rows;
    want.rect.cols = std::min(cols, s.cols);
    want.caption = caption;
    int h = wnd_create(want);
    if (h <= 0) {
        s.quiet--;
        return kind == WND_MB_YESNO ? WND_ID_YES : WND_ID_OK;
    }
    win(h)->sys = SYS_BOX;
    win(h)->box_kind = kind;
    for (size_t i = 0; i < lines.size(); i++) {
        WndCtlSpec c;
        c.kind = WND_LABEL;
        c.id = 100 + int(i);
        c.row = int(i);
        c.col = 1;
        c.cols = std::max(1, int(lines[i].size()));
        c.text = lines[i];
        wnd_ctl_create(h, c);
    }
    int bcol = std::max(0, (cw - bw + 2) / 2);
    for (auto& b : buttons) {
        WndCtlSpec c;
        c.kind = WND_BUTTON;
        c.id = b.id;
        c.row = int(lines.size()) + 1;
        c.col = bcol;
        c.text = b.t;
        c.cols = int(strlen(b.t)) + 4;
        wnd_ctl_create(h, c);
        bcol += c.cols + 2;
    }
    int answer = 0;
    int focus = 0;  // index into buttons
    while (!answer) {
        win(h)->focus = buttons[focus].id;
        WndEvent ev;
        int r = wait_internal(&ev);
        if (r < 0) { answer = buttons[0].id; break; }
        if (r == 0) continue;
        if (ev.type == WND_EV_MOUSE && (ev.key == WND_M_CLICK || ev.key == WND_M_DBLCLICK)) {
            int wh, id;
            bool bar;
            int item;
            hit(ev.row, ev.col, &wh, &id, &bar, &item);
            if (wh == h)
                for (auto& b : buttons)
                    if (b.id == id) answer = id;
            continue;
        }
        if (ev.type != WND_EV_KEY) continue;
        int n = int(buttons.size());
        switch (ev.key) {
        case WND_K_LEFT: case WND_K_UP: case WND_K_TAB | WND_K_SHIFT: focus = (focus + n - 1) % n; break;
        case WND_K_RIGHT: case WND_K_DOWN: case WND_K_TAB: focus = (focus + 1) % n; break;
        case WND_K_ENTER: case ' ': answer = buttons[focus].id; break;
        case WND_K_ESC: answer = kind == WND_MB_YESNO ? WND_ID_NO : WND_ID_OK; break;
        default: {
            int k = lower(ev.key & 0xFF);
            if (ev.key >= 0x100) break;
            for (auto& b : buttons)
                if (lower(b.t[0]) == k) answer = b.id;
            if (!answer) beep();
        }
        }
    }
    wnd_destroy(h);
    s.quiet--;
    return answer;
}

}  // namespace ui

// ---- public: key script and dumps ----------------------------------------

int wnd_script_set(std::string_view text) {
    std::vector<WndScriptEntry> e;
    std::string err;
    if (wnd_script_parse(text, &e, &err) != WND_OK) {
        st().error = err;
        return WND_ESCRIPT;
    }
    headless_set_script(std::move(e));
    return WND_OK;
}

int wnd_script_left() { return headless_left(); }

std::string wnd_dump_screen() {
    ensure();
    paint();
    return dump_screen_text();
}

std::string wnd_dump_tree() { return dump_tree_text(); }

int wnd_dump(std::string_view reason) {
    State& s = st();
    const char* sp = std::getenv(WND_ENV_SCREEN_DUMP);
    const char* tp = std::getenv(WND_ENV_TREE_DUMP);
    if ((!sp || !*sp) && (!tp || !*tp)) return WND_OK;
    int n = ++s.dumps;
    // the first dump of a run starts the files afresh
    auto write = [&](const char* path, const std::string& head, const std::string& body) {
        if (!path || !*path) return true;
        FILE* f = std::fopen(path, n == 1 ? "w" : "a");
        if (!f) return false;
        std::fputs(head.c_str(), f);
        std::fputs(body.c_str(), f);
        return std::fclose(f) == 0;
    };
    std::string why = std::string(reason);
    char size[32];
    std::snprintf(size, sizeof size, " (%dx%d)", s.cols, s.rows);
    bool ok = write(sp, "# screen " + std::to_string(n) + ": " + why + size + "\n", wnd_dump_screen());
    ok = write(tp, "# tree " + std::to_string(n) + ": " + why + "\n", wnd_dump_tree()) && ok;
    return ok ? WND_OK : WND_EARG;
}

int wnd_cell(int row, int col, WndCell* out) {
    State& s = st();
    if (row < 0 || col < 0 || row >= s.rows || col >= s.cols || s.screen.size() != size_t(s.rows * s.cols))
        return WND_EARG;
    *out = s.screen[row * s.cols + col];
    return WND_OK;
}

bool wnd_cursor(int* row, int* col) {
    *row = st().cur_row;
    *col = st().cur_col;
    return st().cur_on;
}

}  // namespace plat
