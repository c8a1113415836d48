// Screens and screen windows (runtime arrays 4 and 5), the current screen
// window, and the dispatch of screen events through the handler chain.
#include <string>
#include <vector>

#include "runtime/core/log.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/rtarray.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;

constexpr IER kNotMine = ier::BADINPUTDATA;  // a handler that does not know the event
constexpr int kFollowMax = 32;               // follow-ups of one event; a cycle ends there
constexpr int16_t kActivated = 0x4000;       // flag: the window has had the focus once

int g_cur_sw = -1, g_cur_screen = -1;
unsigned g_generation = 0;
int g_prev_focus = 0, g_cur_focus = 0;  // windows of the last two focus reports
ScreenHandler g_default = nullptr;

// A keyboard scanner sequence: Ctrl+] and the characters up to the next
// control character.
bool g_scanning = false;
std::string g_scan, g_scanned;

bool always(int, int) { return true; }
IER store_nothing(int, int, StrRef) { return 0; }
FieldPorts g_fields{always, always, store_nothing};

// Records of an earlier build of the stores are gone.
void check_generation() {
    if (g_generation != rt_stores_generation()) {
        g_generation = rt_stores_generation();
        g_cur_sw = g_cur_screen = -1;
    }
}

int field_of(int ctl) {
    return ctl > ctlid::FieldBase && ctl < ctlid::NavFirst ? ctl - ctlid::FieldBase : 0;
}

// The field controls of a window in their order.
std::vector<int> field_ctls(int w) {
    std::vector<int> ids, out;
    wnd_ctl_ids(w, &ids);
    for (int id : ids)
        if (field_of(id) && wnd_ctl_enabled(w, id) && wnd_ctl_visible(w, id)) out.push_back(id);
    return out;
}

void focus_field_step(int sw, int dir) {
    ScreenWindow* s = sw_get(sw);
    if (!s) return;
    std::vector<int> ids = field_ctls(s->wnd);
    if (ids.empty()) return;
    int fw, fid;
    wnd_focus(&fw, &fid);
    int at = -1;
    for (size_t i = 0; i < ids.size(); i++)
        if (ids[i] == fid || (at < 0 && field_of(ids[i]) == s->field)) at = int(i);
    int n = int(ids.size());
    int next = at < 0 ? (dir > 0 ? 0 : n - 1) : ((at + dir) % n + n) % n;
    wnd_set_focus(s->wnd, ids[next]);
}

// What a screen window does while the screens layer has put nothing in
// the last link: field movement, and closing on cancel and confirm.
IER builtin_default(int sw, int event) {
    switch (sev_kind(event)) {
    case sev::NextField:
    case sev::Down:
        focus_field_step(sw, 1);
        return 0;
    case sev::PrevField:
    case sev::Up:
        focus_field_step(sw, -1);
        return 0;
    case sev::Nav:
        if (sev_param(event) != nav::Confirm) return 0;
        [[fallthrough]];
    case sev::Cancel:
    case sev::Confirm:
    case sev::CloseRequest:
        sw_close(sw);
        return 0;
    case sev::CloseProgram:
        if (close_request()) sw_close(sw);
        return 0;
    default:
        return 0;
    }
}

// One event through the links: the window's handler, the window default,
// the last link. 163 from all of them: nobody took it.
IER run_links(int sw, int event) {
    ScreenWindow* s = sw_get(sw);
    IER r = s && s->handler ? s->handler(sw, event) : kNotMine;
    if (r == kNotMine && sw_get(sw)) r = sw_win_default(sw, event);
    if (r == kNotMine && sw_get(sw)) r = (g_default ? g_default : builtin_default)(sw, event);
    return r == kNotMine ? IER(0) : r;
}

IER chain(int sw, int event) {
    IER r = 0;
    for (int k = 0; k < kFollowMax; k++) {
        ScreenWindow* s = sw_get(sw);
        if (!s) return r;
        int before = s->state;
        r = run_links(sw, event);
        s = sw_get(sw);
        if (!s || !s->follow || r >= 122 || (r != 0 && r != 2)) return r;
        int next = s->follow(sw, before, s->state, event);
        if (next <= 0 || next == event) return r;
        event = next;
    }
    return r;
}

// The control's text into the field's value, unless the user left with Escape.
void store_field(int sw, int field) {
    ScreenWindow* s = sw_get(sw);
    if (!s || field <= 0 || sysv_get(sysv::LASTKEY) == keycls::Escape) return;
    int id = ctlid::FieldBase + field;
    if (!wnd_ctl_exists(s->wnd, id)) return;
    ScratchMark m = scr_mark();
    StrRef t = ctl_text(s->wnd, id);
    g_fields.store(sw, field, t);
    scr_release(m);
}

IER finish(int sw, IER r) {
    if ((r & 0x100) && (r & 0xFF) < 128) {
        // the handler asks for the top window to close
        if (int top = ws_top()) wnd_post_close(top);
        r &= 0xFF;
    }
    if (r >= 122) {
        if (ScreenWindow* s = sw_get(sw)) s->status = static_cast<int16_t>(r);
        status_box(r);
    }
    return r;
}

// Keys a control uses itself; the screen's key map does not take them.
bool control_owns(int w, int id, int key) {
    switch (wnd_ctl_kind(w, id)) {
    case WND_BUTTON:
        return key == WND_K_ENTER || key == ' ';
    case WND_LIST:
    case WND_GRID:
    case WND_DROPDOWN:
        return key == WND_K_UP || key == WND_K_DOWN || key == WND_K_PGUP || key == WND_K_PGDN ||
               key == WND_K_HOME || key == WND_K_END || key == WND_K_ENTER || (key > 32 && key < 256);
    case WND_TEXT:
        return key == WND_K_UP || key == WND_K_DOWN || key == WND_K_PGUP || key == WND_K_PGDN ||
               key == WND_K_HOME || key == WND_K_END;
    default:
        return false;
    }
}

int screen_key(int sw, const WndEvent& ev) {
    int key = ev.key;
    bool in_edit = wnd_ctl_kind(ev.wnd, ev.ctl) == WND_EDIT;
    if (g_scanning) {
        if (key >= 32 && key < 256) {
            g_scan += char(key);
            return 1;
        }
        g_scanning = false;
        g_scanned = g_scan;
        sw_dispatch(sw, sev::ScannerText, ev.ctl);
        return 1;
    }
    if (key == 29 && in_edit) {
        g_scanning = true;
        g_scan.clear();
        return 1;
    }
    int kc = key_class(key);
    sysv_set(sysv::LASTKEY, static_cast<int16_t>(kc));
    if (control_owns(ev.wnd, ev.ctl, key)) return 0;
    int e = key_event(sysv_get(sysv::KEYMAP), kc);
    if (!e) return 0;
    sw_dispatch(sw, e, ev.ctl);
    return 1;
}

}  // namespace

namespace ui {

// A focus report inside the window that had the last one leaves the
// previous window equal to it, so that moving between its own fields never
// reads as the window coming back.
void focus_seen(int w) {
    g_prev_focus = g_cur_focus;
    g_cur_focus = w;
}

void dispatch_reset() {
    g_cur_sw = g_cur_screen = -1;
    g_prev_focus = g_cur_focus = 0;
    g_scanning = false;
    g_scan.clear();
    g_scanned.clear();
    g_default = nullptr;
    g_fields = FieldPorts{always, always, store_nothing};
}

int screen_proc(const WndEvent& ev, void*) {
    int sw = sw_of_window(ev.wnd);
    if (sw < 0) return 0;
    switch (ev.type) {
    case WND_EV_KEY:
        sw_set_current(sw);
        return screen_key(sw, ev);
    case WND_EV_COMMAND: {
        int e = command_event(ev.ctl, ev.code);
        if (!e) return 0;
        sw_set_current(sw);
        sw_dispatch(sw, e, ev.ctl);
        return 1;
    }
    case WND_EV_FOCUS: {
        ScreenWindow* s = sw_get(sw);
        bool again = (s->flags & kActivated) && g_prev_focus != ev.wnd;
        s->flags = static_cast<int16_t>(s->flags | kActivated);
        sw_set_current(sw);
        if (again) sw_dispatch(sw, sev::Activated, ev.ctl);
        else if (ev.ctl) sw_dispatch(sw, sev::FieldFocus, ev.ctl);
        return 1;
    }
    case WND_EV_BLUR:
        if (field_of(ev.ctl)) sw_dispatch(sw, sev::FieldBlur, ev.ctl);
        return 1;
    case WND_EV_CLOSE:
        sw_set_current(sw);
        sw_dispatch(sw, ws_kind(ev.wnd) == wkind::Main ? sev::CloseProgram : sev::CloseRequest);
        return 1;
    default:
        return 0;
    }
}

}  // namespace ui

FieldPorts& field_ports() { return g_fields; }

void sw_set_default_handler(ScreenHandler h) { g_default = h; }

int screen_add(const Screen& s) {
    unsigned n = ra_count(arr::Screens);
    for (unsigned i = 0; i < n; i++) {
        Screen* r = static_cast<Screen*>(ra_get(arr::Screens, i));
        if (r && r->use_count <= 0) {
            *r = s;
            return int(i);
        }
    }
    return ra_put(arr::Screens, n, &s, sizeof(Screen)) ? int(n) : -1;
}

Screen* screen_get(int index) {
    return index < 0 ? nullptr : static_cast<Screen*>(ra_get(arr::Screens, unsigned(index)));
}

int sw_add(const ScreenWindow& rec) {
    check_generation();
    ScreenWindow s = rec;
    s.in_use = 1;
    unsigned n = ra_count(arr::ScreenWindows);
    for (unsigned i = 0; i < n; i++) {
        ScreenWindow* r = static_cast<ScreenWindow*>(ra_get(arr::ScreenWindows, i));
        if (r && !r->in_use) {
            *r = s;
            return int(i);
        }
    }
    return ra_put(arr::ScreenWindows, n, &s, sizeof(ScreenWindow)) ? int(n) : -1;
}

ScreenWindow* sw_get(int sw) {
    check_generation();
    if (sw < 0) return nullptr;
    auto* r = static_cast<ScreenWindow*>(ra_get(arr::ScreenWindows, unsigned(sw)));
    return r && r->in_use ? r : nullptr;
}

int sw_of_window(int w) {
    if (w <= 0) return -1;
    unsigned n = ra_count(arr::ScreenWindows);
    for (unsigned i = 0; i < n; i++) {
        auto* r = static_cast<ScreenWindow*>(ra_get(arr::ScreenWindows, i));
        if (r && r->in_use && r->wnd == w) return int(i);
    }
    return -1;
}

void sw_release(int sw) {
    ScreenWindow* s = sw_get(sw);
    if (!s) return;
    if (Screen* sc = screen_get(s->screen); sc && sc->use_count > 0) sc->use_count--;
    *s = ScreenWindow{};
    if (g_cur_sw == sw) g_cur_sw = g_cur_screen = -1;
}

int sw_open(const WinSpec& want, ScreenHandler handler, FollowHandler follow, int keymap) {
    WinSpec ws = want;
    ws.proc = ui::screen_proc;
    ws.ctx = nullptr;
    int w = wm_create(ws);
    if (!w) return -1;
    ScreenWindow s{};
    s.screen = -1;
    s.wnd = w;
    s.keymap = static_cast<int16_t>(keymap);
    s.handler = handler;
    s.follow = follow;
    int sw = sw_add(s);
    if (sw < 0) {
        wm_destroy(w);
        return -1;
    }
    sw_set_current(sw);
    return sw;
}

int sw_current() {
    check_generation();
    return sw_get(g_cur_sw) ? g_cur_sw : -1;
}

int screen_current() {
    check_generation();
    return g_cur_screen;
}

void sw_set_current(int sw) {
    ScreenWindow* s = sw_get(sw);
    if (!s) return;
    g_cur_sw = sw;
    g_cur_screen = s->screen;
    const Screen* sc = screen_get(s->screen);
    sysv_set(sysv::KEYMAP, sc ? sc->keymap : s->keymap);
}

IER sw_win_default(int sw, int event) {
    ScreenWindow* s = sw_get(sw);
    fatal_check(s != nullptr, "ScreenActionWinDefault");
    switch (sev_kind(event)) {
    case sev::Activated: {
        int id = ctlid::FieldBase + s->field;
        if (s->field > 0 && wnd_ctl_exists(s->wnd, id)) wnd_set_focus(s->wnd, id);
        return 0;
    }
    case sev::CloseWindow:
        sw_close(sw);
        return 0;
    default:
        return kNotMine;
    }
}

IER sw_dispatch(int sw, int event, int ctl) {
    ScreenWindow* s = sw_get(sw);
    fatal_check(s != nullptr, "ScreenActionSet");
    int kind = sev_kind(event);
    IER r = 0;
    if (kind == sev::FieldFocus) {
        int n = field_of(ctl);
        if (!n) return finish(sw, chain(sw, event));
        int prev = s->field;
        if (prev > 0 && prev != n && !g_fields.check(sw, prev)) {
            r = chain(sw, sev::BadData);
            if ((s = sw_get(sw)) && wnd_ctl_exists(s->wnd, ctlid::FieldBase + prev))
                wnd_set_focus(s->wnd, ctlid::FieldBase + prev);
            return finish(sw, r);
        }
        if (!g_fields.editable(sw, n)) return 0;
        s->field = static_cast<int16_t>(n);
        wnd_edit_select(s->wnd, ctl, 0, -1);
        return finish(sw, chain(sw, sev::FocusedByClick));
    }
    if (kind == sev::FieldBlur) store_field(sw, field_of(ctl));
    else store_field(sw, s->field);
    return finish(sw, chain(sw, event));
}

void sw_close(int sw) {
    ScreenWindow* s = sw_get(sw);
    if (!s) return;
    int w = s->wnd;
    sw_release(sw);
    grid_reset_offsets();
    wm_destroy(w);
}

StrRef scanner_text() { return scr_copy(sr(g_scanned)); }

}  // namespace rt
