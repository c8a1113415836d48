// The events of a screen window as the screens layer handles them: moving
// between fields (with the BOUNDS$ range), confirming, cancelling, F2
// recall, returned values, and the answer line a confirm records.
#include <algorithm>
#include <string>
#include <vector>

#include "runtime/core/hooks.h"
#include "runtime/core/log.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/ui/scrimpl.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;
using ui::ScreenField;
using ui::ScreenLayout;

constexpr IER kNotMine = ier::BADINPUTDATA;
constexpr int kLineEditState = 4;  // window state of line editing (document windows)

using HelpFn = IER (*)(int sw);

// The editable fields in their visiting order.
std::vector<int> visit_order(const ScreenLayout& L) {
    std::vector<int> v;
    for (size_t i = 0; i < L.f.size(); i++)
        if (L.f[i].mode && L.f[i].mode != kEditHidden) v.push_back(int(i + 1));
    std::stable_sort(v.begin(), v.end(), [&](int a, int b) { return L.f[size_t(a - 1)].mode < L.f[size_t(b - 1)].mode; });
    return v;
}

void focus_field(int sw, int n) {
    ScreenWindow* s = sw_get(sw);
    if (!s || n <= 0) return;
    s->field = static_cast<int16_t>(n);
    sysv_set(sysv::CUREDFLD, static_cast<int16_t>(n));
    int id = ctlid::FieldBase + n;
    if (wnd_ctl_exists(s->wnd, id)) {
        wnd_set_focus(s->wnd, id);
        wnd_edit_select(s->wnd, id, 0, -1);
    }
}

IER confirm(int sw);

IER move(int sw, int dir) {
    ScreenWindow* s = sw_get(sw);
    ScreenLayout* L = s ? ui::layout(s->screen) : nullptr;
    if (!L) return 0;
    std::vector<int> order = visit_order(*L);
    if (order.empty()) return dir > 0 ? confirm(sw) : IER(0);
    int cur = s->field;
    if (dir > 0 && cur > 0 && ui::check_alarm(s->screen, cur, true)) return 0;  // the cursor stays
    auto at = std::find(order.begin(), order.end(), cur);
    int pos = at == order.end() ? -1 : int(at - order.begin());
    bool in_bounds = L->bound_first && cur >= L->bound_first && cur <= L->bound_last;
    if (in_bounds) {
        std::vector<int> range;
        for (int n : order)
            if (n >= L->bound_first && n <= L->bound_last) range.push_back(n);
        auto r = std::find(range.begin(), range.end(), cur);
        int rp = int(r - range.begin());
        int k = int(range.size());
        focus_field(sw, range[size_t(((rp + dir) % k + k) % k)]);
        return 0;
    }
    int next = pos + dir;
    if (pos < 0) next = dir > 0 ? 0 : int(order.size()) - 1;
    if (next >= int(order.size())) return confirm(sw);
    if (next < 0) return 0;  // before the first field: stays
    focus_field(sw, order[size_t(next)]);
    return 0;
}

IER call_app(int sw, int event) {
    ScreenWindow* s = sw_get(sw);
    if (!s || !s->app_handler) return 0;
    IER r = s->app_handler(sw, event);
    return r == kNotMine ? IER(0) : r;
}

IER confirm(int sw) {
    ScreenWindow* s = sw_get(sw);
    ScreenLayout* L = s ? ui::layout(s->screen) : nullptr;
    if (!L) return 0;
    int sc = s->screen;
    for (size_t i = 0; i < L->f.size(); i++)
        if (ui::check_alarm(sc, int(i + 1), true)) {
            focus_field(sw, int(i + 1));
            return 0;
        }
    sysv_set(sysv::LASTKEY, keycls::Enter);
    if (IER r = call_app(sw, sev_make(sev::Nav, nav::Confirm))) return r;  // refused: the window stays
    if (IER r = ui::confirm_effects(sc)) return r;
    if (sw_get(sw)) sw_close(sw);
    return 0;
}

IER cancel(int sw, int event) {
    ScreenWindow* s = sw_get(sw);
    if (!s) return 0;
    sysv_set(sysv::LASTKEY, keycls::Escape);
    if (ScreenLayout* L = ui::layout(s->screen); L && !L->on_cancel.empty()) {
        std::string expr = L->on_cancel;
        ScratchMark m = scr_mark();
        ex_effect(sr(expr));
        scr_release(m);
    }
    call_app(sw, event);
    if (sw_get(sw)) sw_close(sw);
    return 0;
}

// A value a sub-window left: "expression:fields".
void apply_returned(int sw) {
    ScreenWindow* s = sw_get(sw);
    if (!s || s->field <= 0 || st_count(grp::StkWinResults) <= 0) return;
    ScratchMark m = scr_mark();
    std::string t(sv(st_take(grp::StkWinResults)));
    scr_release(m);
    std::vector<std::string> parts = fs_split(t, ':');
    std::string expr = parts.empty() ? std::string() : parts[0];
    int sc = s->screen, n = s->field;
    int keep = ui::active_screen();
    ui::set_active_screen(sc);
    m = scr_mark();
    Value v;
    IER st = ex_eval(sr(expr), &v);
    if (st < 122) {
        StrRef text = v.is_text() ? v.text : num_plain(v.num, num_precis());
        screen_store(sc, stf::Edit, n, text);
        if (parts.size() > 1) screen_recompute(sc, stf::Recompute, sr(parts[1]));
    }
    scr_release(m);
    ui::set_active_screen(keep);
}

// The field ports of the window manager.
bool port_editable(int sw, int field) {
    ScreenWindow* s = sw_get(sw);
    ScreenLayout* L = s ? ui::layout(s->screen) : nullptr;
    if (!L) return true;
    int mode = screen_field_mode(s->screen, field);
    return mode > 0 && mode != kEditHidden;
}

bool port_check(int sw, int field) {
    ScreenWindow* s = sw_get(sw);
    if (!s || !ui::layout(s->screen)) return true;
    return ui::check_alarm(s->screen, field, false) == 0;
}

IER port_store(int sw, int field, StrRef text) {
    ScreenWindow* s = sw_get(sw);
    if (!s || !ui::layout(s->screen) || !port_editable(sw, field)) return 0;
    StrRef t = text;
    int id = ctlid::FieldBase + field;
    if (wnd_ctl_kind(s->wnd, id) == WND_CHECK) t = screen_ctl_value(s->screen, field);
    return screen_store(s->screen, stf::Edit, field, t);
}

}  // namespace

namespace ui {

std::string answer_line(int screen) {
    ScreenLayout* L = layout(screen);
    std::string line;
    if (!L) return line;
    for (size_t i = 0; i < L->f.size(); i++) {
        const ScreenField& f = L->f[i];
        // A password is never written down: its place stays empty.
        std::string v = f.type == 'P' ? std::string() : rtrim_value(*L, int(i + 1));
        if (i) line += ',';
        line += quote_value(v);
    }
    return line;
}

IER confirm_effects(int screen) {
    ScreenLayout* L = layout(screen);
    if (!L) return 0;
    if (!L->on_confirm.empty()) {
        ScratchMark m = scr_mark();
        IER st = screen_scrback_save(screen, sr(L->on_confirm));
        scr_release(m);
        if (st >= 128) return st;
    }
    std::string line = answer_line(screen);
    ScratchMark m = scr_mark();
    record_answer(sr(line));
    scr_release(m);
    return 0;
}

std::string rtrim_value(const ScreenLayout& L, int n) {
    const ScreenField& f = L.f[size_t(n - 1)];
    std::string_view v = std::string_view(L.values).substr(size_t(f.voff), size_t(f.maxc));
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    return std::string(v);
}

void field_ports_install() {
    FieldPorts& p = field_ports();
    p.editable = port_editable;
    p.check = port_check;
    p.store = port_store;
}

int first_field(int screen) {
    ScreenLayout* L = layout(screen);
    if (!L) return 0;
    std::vector<int> o = visit_order(*L);
    return o.empty() ? 0 : o[0];
}

void focus(int sw, int n) { focus_field(sw, n); }

}  // namespace ui

IER screen_default_handler(int sw, int event) {
    ScreenWindow* s = sw_get(sw);
    fatal_check(s != nullptr, "ScreenActionSet");
    ScreenLayout* L = ui::layout(s->screen);
    if (!L) return kNotMine;
    switch (sev_kind(event)) {
    case sev::NextField:
    case sev::Down:
        return move(sw, 1);
    case sev::PrevField:
    case sev::Up:
        return move(sw, -1);
    case sev::Confirm:
        if (s->state == kLineEditState && L->bound_last) {
            std::vector<int> order = visit_order(*L);
            for (int n : order)
                if (n > L->bound_last) {
                    ui::focus(sw, n);
                    return 0;
                }
        }
        if (s->field > 0 && ui::check_alarm(s->screen, s->field, true)) return 0;
        return confirm(sw);
    case sev::Nav:
        if (sev_param(event) == nav::Confirm) {
            if (s->field > 0 && ui::check_alarm(s->screen, s->field, true)) return 0;
            return confirm(sw);
        }
        return 0;  // no record handling on this screen
    case sev::Cancel:
        return cancel(sw, event);
    case sev::CloseRequest:
        // The close box cancels, whatever key came before it: a screen is
        // confirmed only by a confirm event.
        return cancel(sw, sev::Cancel);
    case sev::Help:
        if (HelpFn h = hk_get_as<std::remove_pointer_t<HelpFn>>(hook::ToolsMenu)) return h(sw);
        return 0;
    case sev::Recall:
        if (s->field > 0) return screen_store(s->screen, stf::Edit | stf::Recall | stf::Force, s->field, sr_empty());
        return 0;
    case sev::BadData:
        return ier::BadUserData;
    case sev::FocusedByClick:
    case sev::FieldFocus:
        sysv_set(sysv::CUREDFLD, s->field);
        apply_returned(sw);
        return 0;
    default:
        return 0;
    }
}

}  // namespace rt
