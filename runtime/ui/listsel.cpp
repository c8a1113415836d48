// The list-selection window (a list box or a grid of buttons) and popup menus.
// Both hold at most 200 items, so that item ids stay inside their range.
#include <algorithm>
#include <string>
#include <vector>

#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;

struct Selection {
    int w = 0;
    int choice = 0;
    bool buttons = false;
    int n = 0;
    int per_col = 1;  // buttons in one column
};

void choose(Selection* s, int choice) {
    s->choice = choice;
    wm_destroy(s->w);
}

// Arrow keys move between the buttons of the grid, down the columns first.
bool button_move(Selection* s, int key) {
    int fw, id;
    wnd_focus(&fw, &id);
    int i = id - ctlid::MenuFirst;
    if (fw != s->w || i < 0 || i >= s->n) return false;
    int to = i;
    switch (key) {
    case WND_K_UP: to = i - 1; break;
    case WND_K_DOWN: to = i + 1; break;
    case WND_K_LEFT: to = i - s->per_col; break;
    case WND_K_RIGHT: to = i + s->per_col; break;
    case WND_K_HOME: to = 0; break;
    case WND_K_END: to = s->n - 1; break;
    default: return false;
    }
    to = std::clamp(to, 0, s->n - 1);
    wnd_set_focus(s->w, ctlid::MenuFirst + to);
    return true;
}

int selection_proc(const WndEvent& ev, void* ctx) {
    auto* s = static_cast<Selection*>(ctx);
    switch (ev.type) {
    case WND_EV_COMMAND:
        if (!s->buttons && ev.ctl == ctlid::ListBase && ev.code == WND_N_DBLCLK) {
            int i = -1;
            wnd_list_selection(s->w, ev.ctl, &i);
            if (i >= 0) choose(s, i + 1);
            return 1;
        }
        if (s->buttons && ev.ctl >= ctlid::MenuFirst && ev.ctl < ctlid::MenuFirst + s->n &&
            ev.code == WND_N_CLICKED) {
            choose(s, ev.ctl - ctlid::MenuFirst + 1);
            return 1;
        }
        return 0;
    case WND_EV_KEY:
        return s->buttons && button_move(s, ev.key);
    case WND_EV_CLOSE:
        choose(s, 0);
        return 1;
    default:
        return 0;
    }
}

// Where the focused control is on the screen: below it the window opens.
bool focus_cell(int* row, int* col) {
    int fw, id;
    wnd_focus(&fw, &id);
    WndRect cr, r;
    if (!fw || !id || wnd_client(fw, &cr) != WND_OK || wnd_ctl_rect(fw, id, &r) != WND_OK) return false;
    int sr_, sc_;
    wnd_scroll_pos(fw, &sr_, &sc_);
    *row = cr.row + r.row - sr_ + 1;
    *col = cr.col + r.col - sc_;
    return true;
}

}  // namespace

namespace ui {

int select_items(StrRef caption, const std::vector<std::string>& all, bool buttons, bool at_focus, IER* st) {
    if (st) *st = 0;
    std::vector<std::string> items(all.begin(), all.begin() + std::min<size_t>(all.size(), kSelectItemsMax));
    if (items.empty()) return 0;
    if (!started() && wnd_init() != WND_OK) {
        if (st) *st = window_error("window system");
        return 0;
    }
    int n = int(items.size());
    size_t longest = 0;
    for (const std::string& t : items) longest = std::max(longest, t.size());
    int colw = int(longest) + 5;
    int srows, scols;
    wnd_screen_size(&srows, &scols);
    int limit = std::max(1, srows - 2);  // the frame takes two rows
    if (at_focus && sysv_get(sysv::WMAXROW) > 0) limit = std::min<int>(limit, sysv_get(sysv::WMAXROW));
    Selection sel;
    sel.buttons = buttons;
    sel.n = n;
    WinSpec ws;
    ws.kind = wkind::Popup9;
    ws.caption = sv(caption);
    ws.proc = selection_proc;
    ws.ctx = &sel;
    int cols = 1;
    if (buttons) {
        // Too many rows: twice the columns, half the rows, until they fit.
        int per_col = n;
        while (per_col > limit && (cols * 2) * colw <= scols - 2) {
            cols *= 2;
            per_col = (n + cols - 1) / cols;
        }
        sel.per_col = per_col;
        ws.rows = per_col;
        ws.cols = cols * colw;
    } else {
        ws.rows = std::min(n, limit);
        ws.cols = colw;
    }
    ws.cols = std::max<int>(ws.cols, int(caption.n) + 6);
    int frow, fcol;
    if (at_focus && focus_cell(&frow, &fcol)) {
        int orows = ws.rows, ocols = ws.cols;
        wnd_outer_size(WND_WS_BORDER, false, &orows, &ocols);
        ws.row = std::clamp(frow, 0, std::max(0, srows - orows));
        ws.col = std::clamp(fcol, 0, std::max(0, scols - ocols));
    }
    sel.w = wm_create(ws);
    if (!sel.w) {
        if (st) *st = ier::WindowsControlError;
        return 0;
    }
    if (buttons) {
        for (int i = 0; i < n; i++) {
            WndCtlSpec c;
            c.kind = WND_BUTTON;
            c.id = ctlid::MenuFirst + i;
            c.row = i % sel.per_col;
            c.col = (i / sel.per_col) * colw;
            c.cols = colw - 1;
            c.text = items[size_t(i)];
            wnd_ctl_create(sel.w, c);
        }
        wnd_set_focus(sel.w, ctlid::MenuFirst);
    } else {
        WndCtlSpec c;
        c.kind = WND_LIST;
        c.id = ctlid::ListBase;
        c.rows = ws.rows;
        c.cols = ws.cols;
        wnd_ctl_create(sel.w, c);
        for (const std::string& t : items) wnd_list_add(sel.w, c.id, t);
        wnd_list_select(sel.w, c.id, 0);
        wnd_set_focus(sel.w, c.id);
    }
    IER r = wm_modal_wait(sel.w);
    if (wnd_exists(sel.w)) wm_destroy(sel.w);  // no input came: closed unchosen
    if (st) *st = r;
    return r ? 0 : sel.choice;
}

}  // namespace ui

int select_run(const SelectSpec& want, IER* st) {
    std::vector<std::string> items = ui::split_items(want.items, kSelectItemsMax);
    return ui::select_items(want.caption, items, want.buttons, want.at_focus, st);
}

int popup_run(StrRef list, int row, int col) {
    std::vector<std::string> items = ui::split_items(list, kSelectItemsMax);
    if (items.empty()) return 0;
    if (!ui::started() && wnd_init() != WND_OK) return 0;
    std::vector<WndMenuItem> menu;
    for (size_t i = 0; i < items.size(); i++) {
        WndMenuItem m;
        m.id = ctlid::PopupFirst + int(i);
        for (char ch : items[i]) {  // an '&' of the item is shown as it is
            if (ch == '&') m.text += '&';
            m.text += ch;
        }
        menu.push_back(std::move(m));
    }
    if (row < 0 || col < 0) {
        int srows, scols;
        wnd_screen_size(&srows, &scols);
        if (!wnd_cursor(&row, &col)) {
            row = srows / 2;
            col = scols / 3;
        }
    }
    int id = wnd_popup(ws_top(), row, col, WND_POP_ABOVE, menu);
    return id >= ctlid::PopupFirst ? id - ctlid::PopupFirst + 1 : 0;
}

}  // namespace rt
