// The stack of top-level windows, window kinds and their creation, the
// procedures of windows, and the loops that feed them events.
#include <algorithm>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;

constexpr int kPumpMax = 256;  // events handled by one pump
constexpr std::string_view kClassSuffixes = ",LnMant,Mant,MantDlg,Grid,Dialogx,DevSel,Progress";

// Frame of each kind: overlapped windows keep their owner usable; the modal
// popups disable it while they are up; kind 11 covers the screen.
struct KindStyle {
    bool modal, maximized;
};
constexpr KindStyle kKinds[wkind::Count] = {
    {false, false}, {false, false}, {false, false}, {true, false}, {true, false}, {true, false},
    {true, false},  {true, false},  {false, false}, {true, false}, {true, false}, {false, true},
};

struct Slot {
    int wnd = 0;
    int kind = 0;
};
// The slots, and the order array listing the used slots bottom to top.
struct WindowStack {
    Slot slot[kWindowStackMax];
    int order[kWindowStackMax];
    int count = 0;
};
WindowStack g_stack;
bool g_quit = false;

struct Proc {
    int wnd;
    WinProc fn;
    void* ctx;
};
std::vector<Proc> g_procs;

Proc* proc_of(int w) {
    for (Proc& p : g_procs)
        if (p.wnd == w) return &p;
    return nullptr;
}

// Windows that went with their owner are forgotten here too; the stack
// emptied that way signals the quit as a pop does.
void forget_gone() {
    bool had = g_stack.count > 0;
    for (int i = g_stack.count; i-- > 0;) {
        int s = g_stack.order[i];
        if (!wnd_exists(g_stack.slot[s].wnd)) {
            g_stack.slot[s] = Slot{};
            std::copy(g_stack.order + i + 1, g_stack.order + g_stack.count, g_stack.order + i);
            g_stack.count--;
        }
    }
    if (had && !g_stack.count) g_quit = true;
    g_procs.erase(std::remove_if(g_procs.begin(), g_procs.end(), [](const Proc& p) { return !wnd_exists(p.wnd); }),
                  g_procs.end());
}

}  // namespace

namespace ui {

bool started() { return wnd_backend() != 0; }

IER window_error(std::string_view what) {
    ScratchMark m = scr_mark();
    std::string t(what);
    if (*wnd_error()) t += std::string(": ") + wnd_error();
    IER st = err_raise(ier::WindowsControlError, mod::Screens, t);
    scr_release(m);
    return st;
}

std::vector<std::string> split_items(StrRef list, int max) {
    std::vector<std::string> out;
    ScratchMark m = scr_mark();
    int n = list.n ? lst_count(list) : 0;
    for (int i = 1; i <= n && int(out.size()) < max; i++)
        out.emplace_back(sv(str_unquote(str_trim(lst_field(list, i)))));
    scr_release(m);
    return out;
}

void wstack_reset() {
    g_stack = WindowStack{};
    g_quit = false;
    g_procs.clear();
}

}  // namespace ui

bool wkind_modal(int kind) { return kind >= 0 && kind < wkind::Count && kKinds[kind].modal; }

StrRef wkind_class_name(int kind) {
    StrRef app = lst_field(env_get(env::ApName), 1, ':');
    return str_concat(lst_field(kClassSuffixes, kind + 1), app);
}

bool ws_push(int w, int kind) {
    forget_gone();
    int at = ws_find(w);
    if (at < kWindowStackMax) {
        // already there: to the top, the others keep their order
        auto* end = g_stack.order + g_stack.count;
        std::rotate(std::find(g_stack.order, end, at), std::find(g_stack.order, end, at) + 1, end);
        return true;
    }
    if (g_stack.count >= kWindowStackMax) return false;
    int free = 0;
    while (g_stack.slot[free].wnd) free++;
    g_stack.slot[free] = Slot{w, kind};
    g_stack.order[g_stack.count++] = free;
    g_quit = false;
    return true;
}

void ws_pop(int w) {
    int at = ws_find(w);
    if (at < kWindowStackMax) {
        auto* end = g_stack.order + g_stack.count;
        auto* p = std::find(g_stack.order, end, at);
        std::copy(p + 1, end, p);
        g_stack.count--;
        g_stack.slot[at] = Slot{};
    }
    forget_gone();
    // The new top gets the focus, also when the window that went was one
    // the stack could not hold: its owner must not stay behind disabled.
    if (int top = ws_top()) {
        if (wnd_enabled(top)) wnd_activate(top);
    } else {
        g_quit = true;
    }
}

int ws_top() { return g_stack.count ? g_stack.slot[g_stack.order[g_stack.count - 1]].wnd : 0; }

int ws_find(int w) {
    if (w <= 0) return kWindowStackMax;
    for (int i = 0; i < kWindowStackMax; i++)
        if (g_stack.slot[i].wnd == w) return i;
    return kWindowStackMax;
}

int ws_count() { return g_stack.count; }

int ws_at(int pos) {
    return pos >= 0 && pos < g_stack.count ? g_stack.slot[g_stack.order[pos]].wnd : 0;
}

int ws_kind(int w) {
    int at = ws_find(w);
    return at < kWindowStackMax ? g_stack.slot[at].kind : -1;
}

// A window's show state is normal or, for kind 11, maximized; both come
// from its style, so showing it is all that is left to do.
void ws_show_top() {
    if (int top = ws_top()) wnd_show(top, true);
}

bool wm_quit_posted() { return g_quit; }

int wm_create(const WinSpec& want) {
    if (want.kind < 0 || want.kind >= wkind::Count) {
        err_raise(ier::WindowsControlError, mod::Screens, "window kind");
        return 0;
    }
    if (!ui::started() && wnd_init() != WND_OK) {
        ui::window_error("window system");
        return 0;
    }
    forget_gone();
    const KindStyle& ks = kKinds[want.kind];
    int owner = want.owner < 0 ? ws_top() : want.owner;
    if (owner && !wnd_exists(owner)) owner = 0;
    WndSpec ws;
    ws.owner = owner;
    ws.caption = want.caption;
    if (ks.maximized) {
        ws.style = WND_WS_MAXIMIZE;
    } else {
        ws.style = WND_WS_BORDER;
        if (ks.modal && owner) ws.style |= WND_WS_MODAL;
    }
    if (want.hidden) ws.style |= WND_WS_HIDDEN;
    // The frame around the client area, cut to the screen: what does not
    // fit is scrolled to (the extent keeps the whole content).
    int rows = std::max(1, want.rows), cols = std::max(1, want.cols);
    int orows = rows, ocols = cols;
    if (!ks.maximized) wnd_outer_size(ws.style, want.menu, &orows, &ocols);
    int srows, scols;
    wnd_screen_size(&srows, &scols);
    bool cut = orows > srows || ocols > scols;
    orows = std::min(orows, srows);
    ocols = std::min(ocols, scols);
    if (want.row < 0 || want.col < 0) {
        ws.rect.row = std::max(0, (srows - orows) / 2);
        ws.rect.col = std::max(0, (scols - ocols) / 2);
    } else {
        ws.rect.row = want.row;
        ws.rect.col = want.col;
    }
    ws.rect.rows = orows;
    ws.rect.cols = ocols;
    int w = wnd_create(ws);
    if (w <= 0) {
        ui::window_error("window");
        return 0;
    }
    if (cut) wnd_set_extent(w, rows, cols);
    if (want.proc) g_procs.push_back(Proc{w, want.proc, want.ctx});
    ws_push(w, want.kind);  // a 33rd window lives on untracked
    return w;
}

IER wm_destroy(int w) {
    if (!wnd_exists(w)) {
        ws_pop(w);
        return 0;
    }
    wnd_destroy(w);
    ws_pop(w);
    return 0;
}

IER wm_set_proc(int w, WinProc fn, void* ctx) {
    if (!wnd_exists(w)) return ier::WindowsControlError;
    if (Proc* p = proc_of(w)) {
        p->fn = fn;
        p->ctx = ctx;
    } else {
        g_procs.push_back(Proc{w, fn, ctx});
    }
    return 0;
}

int wm_event(const WndEvent& ev, void*) {
    if (ev.type == WND_EV_FOCUS) ui::focus_seen(ev.wnd);
    if (ev.wnd) {
        if (Proc* p = proc_of(ev.wnd)) {
            WinProc fn = p->fn;
            void* ctx = p->ctx;
            if (fn && fn(ev, ctx)) return 1;
        }
    }
    // A close request nobody took destroys the window, through the stack.
    if (ev.type == WND_EV_CLOSE) {
        wm_destroy(ev.wnd);
        return 1;
    }
    return 0;
}

bool wm_pump() {
    if (!ui::started()) return false;
    WndEvent ev;
    bool quit = false;
    // Events that keep posting others are left for the next pump.
    for (int k = 0; k < kPumpMax && wnd_peek(&ev) == WND_OK; k++) {
        if (ev.type == WND_EV_QUIT) {
            quit = true;
            wnd_post(ev);  // the enclosing loop sees it too
            break;
        }
        if (!wm_event(ev, nullptr)) wnd_dispatch(ev);
    }
    forget_gone();
    return quit || g_quit;
}

IER wm_modal_wait(int w) {
    if (!ui::started()) return 0;
    ws_show_top();
    // wnd_run ends when this window goes, whatever comes on top meanwhile
    int r = wnd_run(w, wm_event, nullptr);
    forget_gone();
    wm_pump();
    return r == WND_OK ? IER(0) : IER(ier::UserCanceled);
}

IER wm_message_loop() { return wm_modal_wait(0); }

IER wm_wait_key(int* keyclass) {
    if (!ui::started() && wnd_init() != WND_OK) return ier::UserCanceled;
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
    }
}

}  // namespace rt
