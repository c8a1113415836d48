// The cell grid, the standard controls by their numbers, and the status line.
#include <algorithm>
#include <string>

#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/expr/ftype.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;

CellGrid g_default, g_override{0, 0, 0, 0, 0, 0};

constexpr std::string_view kStatusAddress = "qvsystem.example.org";

IER ctl_status(int r) {
    if (r >= 0) return 0;
    return r == WND_EBADWND || r == WND_EBADCTL ? IER(ier::WindowsControlError) : IER(ier::BADINPUTDATA);
}

}  // namespace

CellGrid& grid_default() { return g_default; }
CellGrid& grid_override() { return g_override; }
const CellGrid& grid_active() { return g_override.cols ? g_override : g_default; }

IER grid_set_override(StrRef list) {
    if (!sr_ok(list)) return sr_status(list);
    CellGrid g{0, 0, 0, 0, 0, 0};
    int16_t* f[6] = {&g.cols, &g.rows, &g.left, &g.top, &g.extra, &g.spacing};
    int n = list.n ? lst_count(list) : 0;
    for (int i = 0; i < 6 && i < n; i++) *f[i] = lst_num(list, i + 1);
    if (g.cols < 0 || g.rows < 0) return ier::BADINPUTDATA;
    g_override = g;
    return 0;
}

void grid_reset_offsets() {
    for (CellGrid* g : {&g_default, &g_override}) g->left = g->top = g->extra = 0;
}

void grid_cell(int row, int col, int* crow, int* ccol) {
    const CellGrid& g = grid_active();
    *crow = row == 0 ? 0 : (row + g.top + g.extra) * (100 + g.spacing) / 100;
    *ccol = col == 0 ? 0 : col + g.left;
}

StrRef ctl_text(int w, int id, int max) {
    std::string t;
    if (wnd_get_text(w, id, &t) != WND_OK) return scr_copy(sr_empty());
    if (max >= 0 && int(t.size()) > max) t.resize(size_t(max));
    return scr_copy(sr(t));
}

IER ctl_set_text(int w, int id, StrRef text) {
    if (!sr_ok(text)) return sr_status(text);
    return ctl_status(wnd_set_text(w, id, sv(text)));
}

IER ctl_label(int w, int row, int col, StrRef text) {
    if (!sr_ok(text)) return sr_status(text);
    int id = ctlid::LabelBase + col + row * std::max<int>(1, grid_active().cols);
    if (wnd_ctl_exists(w, id)) return ctl_set_text(w, id, text);
    WndCtlSpec c;
    c.kind = WND_LABEL;
    c.id = id;
    grid_cell(row, col, &c.row, &c.col);
    c.cols = std::max<int>(1, text.n);
    c.text = sv(text);
    return ctl_status(wnd_ctl_create(w, c));
}

IER ctl_ok_button(int w, int row, int col) {
    WndCtlSpec c;
    c.kind = WND_BUTTON;
    c.id = ctlid::Ok;
    c.row = row;
    c.col = col;
    c.text = "Ok";
    c.style = WND_CS_DEFAULT;
    return ctl_status(wnd_ctl_create(w, c));
}

IER ctl_nav_bar(int w, int row, const int* actions, const char* const* labels, int n) {
    WndRect cr;
    if (n <= 0 || wnd_client(w, &cr) != WND_OK) return ier::WindowsControlError;
    int width = std::max(3, cr.cols / n);
    for (int i = 0; i < n; i++) {
        WndCtlSpec c;
        c.kind = WND_BUTTON;
        c.id = ctlid::NavFirst + actions[i];
        c.row = row;
        c.col = i * width;
        c.cols = width;
        c.text = labels[i];
        if (c.id > ctlid::NavLast) return ier::BADINPUTDATA;
        if (IER st = ctl_status(wnd_ctl_create(w, c))) return st;
    }
    return 0;
}

IER ctl_list_box(int w, int n, int row, int col, int rows, int cols, StrRef items) {
    if (!sr_ok(items)) return sr_status(items);
    WndCtlSpec c;
    c.kind = WND_LIST;
    c.id = ctlid::ListBase + n;
    c.row = row;
    c.col = col;
    c.rows = rows;
    c.cols = cols;
    if (n < 0 || c.id >= ctlid::AppFirst) return ier::BADINPUTDATA;
    if (IER st = ctl_status(wnd_ctl_create(w, c))) return st;
    for (const std::string& t : ui::split_items(items, kSelectItemsMax)) wnd_list_add(w, c.id, t);
    return 0;
}

StrRef status_line(StrRef title) {
    ScratchMark m = scr_mark();
    StrRef t = sr_ok(title) && title.n ? title : env_get(env::ApDescrip);
    StrRef today = dt_format(fmt("%i", {dt_today()}), 2);
    StrRef db = str_unquote(str_trim(lst_field(env_get(env::Database), 2)));
    StrRef folder = path_folder(folder_current());
    StrRef line = fmt(" %s  |  %s  |  %s %s |  %s  ", {t, today, db, folder, kStatusAddress});
    return scr_keep(m, line);
}

}  // namespace rt
