// The painter: every window, frame, menu and control drawn into the screen
// of cells that both backends share, plus the text dumps of that screen and
// of the window tree. The whole screen is drawn afresh each time; at 80 x 24
// cells that costs less than keeping track of what changed, and the terminal
// library sends only the cells that differ.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/fs.h"
#include "platform/ui/ui_impl.h"

namespace plat::ui {
namespace {

struct Theme {
    WndAttr body, frame, frame_active, caption, caption_active, menubar, menubar_hot, label, disabled;
    WndAttr edit, edit_focus, edit_ro, edit_sel, button, button_focus, check_focus, list_sel,
        list_sel_focus, grid_head, progress, progress_empty, shadow, popup, popup_sel, popup_dis;
    WndAttr box_info, box_warn, box_err;
    bool shadows;
};

// Terminal defaults for windows and labels, so that the program looks like
// the terminal it runs in; colour marks what can be typed into and where the
// focus is.
const Theme kColour = {
    0, 0, wnd_attr_fg(WND_CYAN | WND_BRIGHT, WND_A_BOLD), WND_A_BOLD,
    wnd_attr(WND_BLACK, WND_CYAN, WND_A_BOLD), wnd_attr(WND_BLACK, WND_WHITE),
    wnd_attr(WND_WHITE | WND_BRIGHT, WND_BLUE, WND_A_BOLD), 0, WND_A_DIM,
    wnd_attr(WND_WHITE | WND_BRIGHT, WND_BLUE), wnd_attr(WND_BLACK, WND_CYAN), WND_A_UNDERLINE,
    wnd_attr(WND_BLACK, WND_WHITE), 0, wnd_attr(WND_BLACK, WND_CYAN, WND_A_BOLD),
    wnd_attr(WND_BLACK, WND_CYAN), wnd_attr(WND_BLACK, WND_WHITE), wnd_attr(WND_BLACK, WND_CYAN),
    WND_A_BOLD | WND_A_UNDERLINE, wnd_attr_fg(WND_CYAN), WND_A_DIM,
    wnd_attr(WND_BLACK | WND_BRIGHT, WND_BLACK), wnd_attr(WND_BLACK, WND_WHITE),
    wnd_attr(WND_WHITE | WND_BRIGHT, WND_BLUE, WND_A_BOLD), wnd_attr(WND_BLACK | WND_BRIGHT, WND_WHITE),
    wnd_attr_fg(WND_CYAN | WND_BRIGHT, WND_A_BOLD), wnd_attr_fg(WND_YELLOW | WND_BRIGHT, WND_A_BOLD),
    wnd_attr_fg(WND_RED | WND_BRIGHT, WND_A_BOLD), true,
};

const Theme kMono = {
    0, 0, WND_A_BOLD, 0, WND_A_REVERSE | WND_A_BOLD, WND_A_REVERSE, WND_A_BOLD, 0, WND_A_DIM,
    WND_A_UNDERLINE, WND_A_REVERSE, WND_A_UNDERLINE | WND_A_DIM, 0, 0, WND_A_REVERSE, WND_A_REVERSE,
    WND_A_UNDERLINE, WND_A_REVERSE, WND_A_BOLD | WND_A_UNDERLINE, 0, WND_A_DIM, 0, 0, WND_A_REVERSE,
    WND_A_DIM, WND_A_BOLD, WND_A_BOLD, WND_A_BOLD, false,
};

const Theme& theme() { return st().mono ? kMono : kColour; }

// The empty cells of edit fields: a dump shows them as '_' so that a text
// dump shows where the fields are and how long they are.
std::vector<char>& field_mask() {
    static std::vector<char>* m = new std::vector<char>;
    return *m;
}

struct Canvas {
    WndRect clip;  // screen cells that may be drawn

    bool in(int r, int c) const {
        return r >= clip.row && r < clip.row + clip.rows && c >= clip.col && c < clip.col + clip.cols;
    }
    void put(int r, int c, char ch, WndAttr a, bool field = false) const {
        if (!in(r, c)) return;
        State& s = st();
        s.screen[r * s.cols + c] = WndCell{ch, a};
        field_mask()[r * s.cols + c] = field;
    }
    void glyph(int r, int c, char g, WndAttr a) const { put(r, c, g, WndAttr(a | WND_A_GLYPH)); }
    // Text cut or padded to width cells (width < 0: as long as it is).
    void text(int r, int c, std::string_view t, WndAttr a, int width = -1) const {
        int n = width < 0 ? int(t.size()) : width;
        for (int i = 0; i < n; i++) put(r, c + i, i < int(t.size()) ? t[i] : ' ', a);
    }
    void fill(const WndRect& R, WndAttr a) const {
        for (int r = R.row; r < R.row + R.rows; r++)
            for (int c = R.col; c < R.col + R.cols; c++) put(r, c, ' ', a);
    }
};

WndRect intersect(const WndRect& a, const WndRect& b) {
    int r0 = std::max(a.row, b.row), c0 = std::max(a.col, b.col);
    int r1 = std::min(a.row + a.rows, b.row + b.rows), c1 = std::min(a.col + a.cols, b.col + b.cols);
    return WndRect{r0, c0, std::max(0, r1 - r0), std::max(0, c1 - c0)};
}

WndRect screen_rect() { return WndRect{0, 0, st().rows, st().cols}; }

void set_cursor(const Canvas& cv, int r, int c) {
    State& s = st();
    if (!cv.in(r, c)) return;
    s.cur_row = r;
    s.cur_col = c;
    s.cur_on = true;
}

std::vector<std::string> lines_of(std::string_view t) {
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

int aligned(int width, int len, int align) {
    if (len >= width) return 0;
    if (align & WND_CS_RIGHT) return width - len;
    if (align & WND_CS_CENTRE) return (width - len) / 2;
    return 0;
}

void box(const Canvas& cv, const WndRect& R, WndAttr a) {
    int r1 = R.row + R.rows - 1, c1 = R.col + R.cols - 1;
    for (int c = R.col + 1; c < c1; c++) {
        cv.glyph(R.row, c, WND_G_HLINE, a);
        cv.glyph(r1, c, WND_G_HLINE, a);
    }
    for (int r = R.row + 1; r < r1; r++) {
        cv.glyph(r, R.col, WND_G_VLINE, a);
        cv.glyph(r, c1, WND_G_VLINE, a);
    }
    cv.glyph(R.row, R.col, WND_G_ULCORNER, a);
    cv.glyph(R.row, c1, WND_G_URCORNER, a);
    cv.glyph(r1, R.col, WND_G_LLCORNER, a);
    cv.glyph(r1, c1, WND_G_LRCORNER, a);
}

// A menu label with its key letter underlined.
void menu_text(const Canvas& cv, int r, int c, std::string_view raw, WndAttr a, int width) {
    int hot;
    std::string t = menu_label(raw, &hot);
    cv.text(r, c, t, a, width);
    if (hot >= 0 && hot < width) cv.put(r, c + hot, t[hot], WndAttr(a | WND_A_UNDERLINE));
}

void paint_edit(const Canvas& cv, const Ctl& c, int oy, int ox, bool focused) {
    const Theme& t = theme();
    int width = c.cols, len = int(c.text.size());
    WndAttr a = !c.enabled ? WndAttr(t.edit_ro | WND_A_DIM)
              : (c.style & WND_CS_READONLY) ? (focused ? t.edit_focus : t.edit_ro)
              : focused ? t.edit_focus : t.edit;
    int off = edit_offset(c);
    int lo = std::min(c.caret, c.anchor), hi = std::max(c.caret, c.anchor);
    for (int x = 0; x < width; x++) {
        int i = c.hscroll + x - off;
        bool in_text = i >= 0 && i < len;
        char ch = in_text ? ((c.style & WND_CS_PASSWORD) ? '*' : c.text[i]) : ' ';
        WndAttr ca = focused && i >= lo && i < hi ? t.edit_sel : a;
        cv.put(oy, ox + x, ch, ca, !in_text);
    }
    if (focused) set_cursor(cv, oy, ox + std::clamp(off + c.caret - c.hscroll, 0, std::max(0, width - 1)));
}

void paint_list(const Canvas& cv, const Ctl& c, int oy, int ox, bool focused) {
    const Theme& t = theme();
    bool grid = c.kind == WND_GRID;
    int n = int(grid ? c.cells.size() : c.items.size());
    int vis = grid ? c.rows - 1 : c.rows;
    std::vector<Column> cols = c.columns;
    if (grid && cols.empty()) cols.push_back(Column{"", c.cols, 0});
    // one row as cells, columns separated by a line, shifted by the
    // horizontal scroll
    auto row_cells = [&](int idx, WndAttr a, bool head) {
        std::vector<WndCell> line;
        if (!grid) {
            const std::string& s = c.items[idx];
            for (int x = 0; x < c.cols; x++) line.push_back(WndCell{x < int(s.size()) ? s[x] : ' ', a});
            return line;
        }
        for (size_t k = 0; k < cols.size(); k++) {
            std::string s = head ? cols[k].header : k < c.cells[idx].size() ? c.cells[idx][k] : std::string();
            int w = cols[k].width, off = aligned(w, int(s.size()), head ? WND_CS_CENTRE : cols[k].align);
            for (int x = 0; x < w; x++) {
                int i = x - off;
                line.push_back(WndCell{i >= 0 && i < int(s.size()) ? s[i] : ' ', a});
            }
            if (k + 1 < cols.size()) line.push_back(WndCell{WND_G_VLINE, WndAttr(a | WND_A_GLYPH)});
        }
        return line;
    };
    auto draw = [&](int r, const std::vector<WndCell>& line, WndAttr a) {
        int from = grid ? c.left : 0;
        for (int x = 0; x < c.cols; x++) {
            int i = from + x;
            WndCell cell = i < int(line.size()) ? line[i] : WndCell{' ', a};
            cv.put(r, ox + x, cell.ch, cell.attr);
        }
    };
    WndAttr base = !c.enabled ? t.disabled : c.attr;
    if (grid) draw(oy, row_cells(0, t.grid_head, true), t.grid_head);
    int top_row = grid ? oy + 1 : oy;
    for (int r = 0; r < vis; r++) {
        int idx = c.top + r;
        WndAttr a = idx == c.sel ? (focused ? t.list_sel_focus : t.list_sel) : base;
        if (idx < n) draw(top_row + r, row_cells(idx, a, false), a);
        else draw(top_row + r, {}, base);
    }
    if (c.top > 0) cv.glyph(top_row, ox + c.cols - 1, WND_G_UARROW, base);
    if (c.top + vis < n) cv.glyph(top_row + vis - 1, ox + c.cols - 1, WND_G_DARROW, base);
    if (focused) {
        int r = c.sel >= c.top && c.sel < c.top + vis ? c.sel - c.top : 0;
        set_cursor(cv, top_row + r, ox);
    }
}

void paint_ctl(const Canvas& cv, const Win& w, const Ctl& c, int oy, int ox, bool focused) {
    const Theme& t = theme();
    WndAttr own = c.attr ? c.attr : t.label;
    if (!c.enabled) own = WndAttr(own | WND_A_DIM);
    switch (c.kind) {
    case WND_LABEL: {
        auto ls = lines_of(c.text);
        for (int r = 0; r < c.rows && r < int(ls.size()); r++)
            cv.text(oy + r, ox, std::string(aligned(c.cols, int(ls[r].size()), c.style), ' ') + ls[r], own, c.cols);
        break;
    }
    case WND_EDIT:
        paint_edit(cv, c, oy, ox, focused);
        break;
    case WND_CHECK: {
        WndAttr box_a = focused ? t.check_focus : own;
        cv.text(oy, ox, c.checked ? "[X]" : "[ ]", box_a, std::min(3, c.cols));
        if (c.cols > 4) cv.text(oy, ox + 4, c.text, own, c.cols - 4);
        if (c.cols > 3) cv.put(oy, ox + 3, ' ', own);
        if (focused) set_cursor(cv, oy, ox + 1);
        break;
    }
    case WND_BUTTON: {
        WndAttr a = focused ? t.button_focus : (c.attr ? c.attr : t.button);
        if (c.style & WND_CS_DEFAULT) a |= WND_A_BOLD;
        if (!c.enabled) a = t.disabled;
        std::string s(std::max(c.cols, 2), ' ');
        s.front() = '[';
        s.back() = ']';
        int inner = c.cols - 2, len = std::min(int(c.text.size()), inner);
        int at = 1 + std::max(0, (inner - len) / 2);
        for (int i = 0; i < len; i++) s[at + i] = c.text[i];
        cv.text(oy, ox, s, a, c.cols);
        if (focused) set_cursor(cv, oy, ox + at);
        break;
    }
    case WND_LIST:
    case WND_GRID:
        paint_list(cv, c, oy, ox, focused);
        break;
    case WND_DROPDOWN: {
        WndAttr a = !c.enabled ? t.disabled : focused ? t.edit_focus : t.edit;
        std::string s = c.sel >= 0 && c.sel < int(c.items.size()) ? c.items[c.sel] : std::string();
        for (int x = 0; x + 1 < c.cols; x++) cv.put(oy, ox + x, x < int(s.size()) ? s[x] : ' ', a, x >= int(s.size()));
        cv.glyph(oy, ox + c.cols - 1, WND_G_DARROW, a);
        if (focused) set_cursor(cv, oy, ox);
        break;
    }
    case WND_PROGRESS: {
        long long filled = (long long)c.pos * c.cols / std::max(1, c.range);
        for (int x = 0; x < c.cols; x++)
            if (x < filled) cv.glyph(oy, ox + x, WND_G_BLOCK, c.attr ? c.attr : t.progress);
            else cv.glyph(oy, ox + x, WND_G_SHADE, t.progress_empty);
        break;
    }
    case WND_TEXT: {
        WndAttr fill = c.fill ? c.fill : c.attr;
        for (int r = 0; r < c.rows; r++) {
            int li = c.top + r;
            for (int x = 0; x < c.cols; x++) {
                int i = c.left + x;
                WndCell cell{' ', 0};
                if (li < int(c.lines.size()) && i < int(c.lines[li].size())) cell = c.lines[li][i];
                WndAttr a = cell.attr ? cell.attr : fill;
                if ((cell.attr & WND_A_GLYPH) && !(cell.attr & ~WND_A_GLYPH)) a = WndAttr(fill | WND_A_GLYPH);
                cv.put(oy + r, ox + x, cell.ch, a);
            }
        }
        int n = int(c.lines.size());
        if (c.top > 0) cv.glyph(oy, ox + c.cols - 1, WND_G_UARROW, fill);
        if (c.top + c.rows < n) cv.glyph(oy + c.rows - 1, ox + c.cols - 1, WND_G_DARROW, fill);
        break;
    }
    default:
        break;
    }
    (void)w;
}

void paint_menu_popup(const Canvas& cv, const Win& w) {
    const Theme& t = theme();
    const WndRect& R = w.rect;
    int vis = R.rows - 2, n = int(w.pitems.size());
    for (int k = 0; k < vis && w.ptop + k < n; k++) {
        const WndMenuItem& m = w.pitems[w.ptop + k];
        int r = R.row + 1 + k;
        if (m.flags & WND_MI_SEPARATOR) {
            cv.glyph(r, R.col, WND_G_LTEE, t.popup);
            for (int c = R.col + 1; c < R.col + R.cols - 1; c++) cv.glyph(r, c, WND_G_HLINE, t.popup);
            cv.glyph(r, R.col + R.cols - 1, WND_G_RTEE, t.popup);
            continue;
        }
        WndAttr a = w.ptop + k == w.psel ? t.popup_sel : (m.flags & WND_MI_DISABLED) ? t.popup_dis : t.popup;
        int width = R.cols - 2;
        cv.text(r, R.col + 1, (m.flags & WND_MI_CHECKED) ? "*" : " ", a, 1);
        menu_text(cv, r, R.col + 2, m.text, a, width - 1);
        if (m.flags & 0x100) cv.glyph(r, R.col + R.cols - 2, WND_G_RARROW, a);
    }
    if (w.ptop > 0) cv.glyph(R.row, R.col + R.cols - 2, WND_G_UARROW, t.popup);
    if (w.ptop + vis < n) cv.glyph(R.row + R.rows - 1, R.col + R.cols - 2, WND_G_DARROW, t.popup);
}

void paint_win(Win& w, bool active, bool keys) {
    const Theme& t = theme();
    const WndRect& R = w.rect;
    Canvas cv{intersect(R, screen_rect())};
    bool menu = w.sys == SYS_MENU;
    cv.fill(R, menu ? t.popup : t.body);
    if (w.style & WND_WS_BORDER) {
        WndAttr fa = menu ? t.popup : active ? t.frame_active : t.frame;
        if (w.sys == SYS_BOX)
            fa = w.box_kind == WND_MB_ERROR ? t.box_err : w.box_kind == WND_MB_WARNING ? t.box_warn : t.box_info;
        box(cv, R, fa);
        if (!w.caption.empty() && R.cols > 4) {
            std::string cap = " " + w.caption + " ";
            if (int(cap.size()) > R.cols - 4) cap = cap.substr(0, R.cols - 4);
            cv.text(R.row, R.col + 2, cap, active ? t.caption_active : t.caption);
        }
    }
    if (menu) {
        paint_menu_popup(cv, w);
        return;
    }
    WndRect cr;
    client_rect(w, &cr);
    if (!w.menu.empty()) {
        int b = (w.style & WND_WS_BORDER) ? 1 : 0;
        int row = R.row + b;
        cv.text(row, R.col + b, "", t.menubar, R.cols - 2 * b);
        std::vector<int> cols, widths;
        bar_layout(w, &cols, &widths);
        int k = 0;
        for (auto& m : w.menu) {
            if (m.level != 0) continue;
            WndAttr a = k == w.menu_hot ? t.menubar_hot : (m.flags & WND_MI_DISABLED) ? WndAttr(t.menubar | WND_A_DIM) : t.menubar;
            cv.put(row, cols[k], ' ', a);
            menu_text(cv, row, cols[k] + 1, m.text, a, widths[k] - 2);
            cv.put(row, cols[k] + widths[k] - 1, ' ', a);
            k++;
        }
    }
    // scroll marks on the frame when the content is larger than the client
    if (w.style & WND_WS_BORDER) {
        WndAttr fa = active ? t.frame_active : t.frame;
        int rc = R.col + R.cols - 1, br = R.row + R.rows - 1;
        if (w.ext_rows > cr.rows) {
            if (w.scr_row > 0) cv.glyph(cr.row, rc, WND_G_UARROW, fa);
            if (w.scr_row + cr.rows < w.ext_rows) cv.glyph(cr.row + cr.rows - 1, rc, WND_G_DARROW, fa);
        }
        if (w.ext_cols > cr.cols) {
            if (w.scr_col > 0) cv.glyph(br, cr.col, WND_G_LARROW, fa);
            if (w.scr_col + cr.cols < w.ext_cols) cv.glyph(br, cr.col + cr.cols - 1, WND_G_RARROW, fa);
        }
    }
    Canvas cc{intersect(cr, screen_rect())};
    int focus = keys ? effective_ctl(w) : 0;
    for (auto& c : w.ctls) {
        if (!c.visible) continue;
        paint_ctl(cc, w, c, cr.row + c.row - w.scr_row, cr.col + c.col - w.scr_col, keys && c.id == focus);
    }
}

void paint_shadow(const Win& w) {
    const Theme& t = theme();
    if (!t.shadows || (w.style & WND_WS_MAXIMIZE)) return;
    if (!(w.style & WND_WS_MODAL) && w.sys == SYS_NONE) return;
    State& s = st();
    const WndRect& R = w.rect;
    auto shade = [&](int r, int c) {
        if (r < 0 || c < 0 || r >= s.rows || c >= s.cols) return;
        WndCell& cell = s.screen[r * s.cols + c];
        cell.attr = WndAttr((cell.attr & WND_A_GLYPH) | t.shadow);
    };
    for (int r = R.row + 1; r <= R.row + R.rows; r++) {
        shade(r, R.col + R.cols);
        shade(r, R.col + R.cols + 1);
    }
    for (int c = R.col + 2; c < R.col + R.cols; c++) shade(R.row + R.rows, c);
}

std::string quoted(std::string_view t) {
    std::string u = cp1252_to_utf8(t), out = "\"";
    for (char ch : u) {
        switch (ch) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default:
            if ((unsigned char)ch < 32) {
                char b[8];
                std::snprintf(b, sizeof b, "\\x%02X", (unsigned char)ch);
                out += b;
            } else {
                out += ch;
            }
        }
    }
    return out + "\"";
}

const char* kind_name(int k) {
    static const char* names[] = {"?", "label", "edit", "check", "button", "list", "dropdown", "grid", "progress", "text"};
    return k >= 1 && k <= 9 ? names[k] : "?";
}

std::string rect_text(int row, int col, int rows, int cols) {
    char b[64];
    std::snprintf(b, sizeof b, " at %d,%d size %dx%d", row, col, rows, cols);
    return b;
}

}  // namespace

std::string menu_label(std::string_view text, int* hot) {
    std::string out;
    *hot = -1;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '&' && i + 1 < text.size()) {
            i++;
            if (text[i] != '&' && *hot < 0) *hot = int(out.size());
        }
        out += text[i];
    }
    return out;
}

void bar_layout(const Win& w, std::vector<int>* cols, std::vector<int>* widths) {
    int b = (w.style & WND_WS_BORDER) ? 1 : 0;
    int x = w.rect.col + b;
    cols->clear();
    widths->clear();
    for (auto& m : w.menu) {
        if (m.level != 0) continue;
        int hot;
        int n = int(menu_label(m.text, &hot).size()) + 2;
        cols->push_back(x);
        widths->push_back(n);
        x += n;
    }
}

void paint() {
    State& s = st();
    size_t n = size_t(s.rows) * size_t(s.cols);
    s.screen.assign(n, WndCell{});
    field_mask().assign(n, 0);
    s.cur_on = false;
    // the window that looks active: menus leave the look to the window below
    int look = 0;
    for (size_t i = s.wins.size(); i-- > 0;) {
        const Win& w = s.wins[i];
        if (w.visible && w.enabled && w.modal_kids == 0 && w.sys != SYS_MENU) {
            look = w.h;
            break;
        }
    }
    bool menu_open = false;
    for (auto& w : s.wins) menu_open = menu_open || w.sys == SYS_MENU;
    for (auto& w : s.wins) {
        if (!w.visible) continue;
        paint_win(w, w.h == look, w.h == look && !menu_open);
        paint_shadow(w);
    }
}

std::string glyph_utf8(char g) {
    switch (g) {
    case WND_G_HLINE: return "\u2500";
    case WND_G_VLINE: return "\u2502";
    case WND_G_ULCORNER: return "\u250C";
    case WND_G_URCORNER: return "\u2510";
    case WND_G_LLCORNER: return "\u2514";
    case WND_G_LRCORNER: return "\u2518";
    case WND_G_LTEE: return "\u251C";
    case WND_G_RTEE: return "\u2524";
    case WND_G_TTEE: return "\u252C";
    case WND_G_BTEE: return "\u2534";
    case WND_G_BLOCK: return "\u2588";
    case WND_G_SHADE: return "\u2591";
    case WND_G_UARROW: return "\u25B2";
    case WND_G_DARROW: return "\u25BC";
    case WND_G_LARROW: return "\u25C4";
    case WND_G_RARROW: return "\u25BA";
    default: return "?";
    }
}

std::string dump_screen_text() {
    State& s = st();
    std::string out;
    auto& mask = field_mask();
    for (int r = 0; r < s.rows; r++) {
        std::string line;
        size_t keep = 0;
        for (int c = 0; c < s.cols; c++) {
            size_t at = size_t(r) * s.cols + c;
            const WndCell& cell = s.screen[at];
            if (cell.attr & WND_A_GLYPH) line += glyph_utf8(cell.ch);
            else if (cell.ch == ' ' && mask[at]) line += '_';
            else line += cp1252_to_utf8(std::string_view(&cell.ch, 1));
            if (cell.ch != ' ' || (cell.attr & WND_A_GLYPH) || mask[at]) keep = line.size();
        }
        line.resize(keep);
        out += line;
        out += '\n';
    }
    return out;
}

std::string dump_tree_text() {
    State& s = st();
    std::string out;
    int fw, fc;
    wnd_focus(&fw, &fc);
    for (auto& w : s.wins) {
        out += w.sys == SYS_BOX ? "msgbox " : w.sys == SYS_MENU ? "menu " : "window ";
        out += std::to_string(w.h) + " " + quoted(w.caption) +
               rect_text(w.rect.row, w.rect.col, w.rect.rows, w.rect.cols);
        if (w.owner) out += " owner " + std::to_string(w.owner);
        if (w.style & WND_WS_MODAL) out += " modal";
        if (!w.enabled || w.modal_kids) out += " disabled";
        if (!w.visible) out += " hidden";
        if (w.h == fw) out += " active";
        out += '\n';
        int k = 0;
        for (auto& m : w.menu) {
            out += "  menu " + std::string(2 * m.level, ' ') + std::to_string(k++) + " id " +
                   std::to_string(m.id) + " " + quoted(m.text);
            if (m.flags & WND_MI_DISABLED) out += " disabled";
            if (m.flags & WND_MI_CHECKED) out += " checked";
            if (m.flags & WND_MI_SEPARATOR) out += " separator";
            out += '\n';
        }
        for (auto& m : w.pitems) out += "  item " + std::to_string(m.id) + " " + quoted(m.text) + "\n";
        for (auto& c : w.ctls) {
            out += "  ";
            out += kind_name(c.kind);
            out += " " + std::to_string(c.id) + " ";
            // a password never leaves the program, not even in a dump
            if (c.kind == WND_EDIT && (c.style & WND_CS_PASSWORD)) out += quoted(std::string(c.text.size(), '*'));
            else if (c.kind == WND_LIST || c.kind == WND_DROPDOWN || c.kind == WND_GRID || c.kind == WND_TEXT ||
                     c.kind == WND_PROGRESS) out += "-";
            else out += quoted(c.text);
            out += rect_text(c.row, c.col, c.rows, c.cols);
            if (c.kind == WND_EDIT) {
                if (c.limit) out += " limit " + std::to_string(c.limit);
                int lo = std::min(c.caret, c.anchor), hi = std::max(c.caret, c.anchor);
                if (lo < hi) out += " sel " + std::to_string(lo) + "-" + std::to_string(hi);
            }
            if (c.kind == WND_CHECK && c.checked) out += " checked";
            if (c.kind == WND_PROGRESS) out += " " + std::to_string(c.pos) + "/" + std::to_string(c.range);
            if (c.kind == WND_LIST || c.kind == WND_DROPDOWN || c.kind == WND_GRID) out += " sel " + std::to_string(c.sel);
            if (c.kind == WND_TEXT) out += " lines " + std::to_string(c.lines.size());
            if (c.style & WND_CS_PASSWORD) out += " password";
            if (c.style & WND_CS_READONLY) out += " readonly";
            if (c.style & WND_CS_RIGHT) out += " right";
            if (c.style & WND_CS_CENTRE) out += " centre";
            if (c.style & WND_CS_DEFAULT) out += " default";
            if (c.style & WND_CS_NOTAB) out += " notab";
            if (!c.enabled) out += " disabled";
            if (!c.visible) out += " hidden";
            if (w.h == fw && c.id == fc) out += " focus";
            out += '\n';
            for (size_t i = 0; i < c.columns.size(); i++)
                out += "    column " + std::to_string(i) + " " + quoted(c.columns[i].header) + " width " +
                       std::to_string(c.columns[i].width) + "\n";
            for (size_t i = 0; i < c.items.size(); i++)
                out += "    item " + std::to_string(i) + " " + quoted(c.items[i]) + (int(i) == c.sel ? " *" : "") + "\n";
            for (size_t i = 0; i < c.cells.size(); i++) {
                out += "    row " + std::to_string(i);
                for (auto& cell : c.cells[i]) out += " " + quoted(cell);
                out += int(i) == c.sel ? " *\n" : "\n";
            }
            if (c.kind == WND_TEXT) {
                for (size_t i = 0; i < c.lines.size(); i++) {
                    std::string l;
                    for (auto& cell : c.lines[i]) l += (cell.attr & WND_A_GLYPH) ? ' ' : cell.ch;
                    while (!l.empty() && l.back() == ' ') l.pop_back();
                    out += "    line " + std::to_string(i) + " " + quoted(l) + "\n";
                }
            }
        }
    }
    return out;
}

void hit(int row, int col, int* wh, int* id, bool* menubar, int* bar_item) {
    State& s = st();
    *wh = 0;
    *id = 0;
    *menubar = false;
    *bar_item = -1;
    for (size_t i = s.wins.size(); i-- > 0;) {
        Win& w = s.wins[i];
        const WndRect& R = w.rect;
        if (!w.visible || row < R.row || row >= R.row + R.rows || col < R.col || col >= R.col + R.cols) continue;
        *wh = w.h;
        int b = (w.style & WND_WS_BORDER) ? 1 : 0;
        if (!w.menu.empty() && row == R.row + b) {
            *menubar = true;
            std::vector<int> cols, widths;
            bar_layout(w, &cols, &widths);
            for (size_t k = 0; k < cols.size(); k++)
                if (col >= cols[k] && col < cols[k] + widths[k]) *bar_item = int(k);
            return;
        }
        WndRect cr;
        client_rect(w, &cr);
        if (row < cr.row || row >= cr.row + cr.rows || col < cr.col || col >= cr.col + cr.cols) return;
        int r = row - cr.row + w.scr_row, c = col - cr.col + w.scr_col;
        for (size_t k = w.ctls.size(); k-- > 0;) {
            const Ctl& x = w.ctls[k];
            if (x.visible && r >= x.row && r < x.row + x.rows && c >= x.col && c < x.col + x.cols) {
                *id = x.id;
                return;
            }
        }
        return;
    }
}

}  // namespace plat::ui
