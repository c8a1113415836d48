// Screens: a field list laid out as fields with their values, the controls
// that show them, storing and recomputing values, moving between fields and
// the default handling of a screen window's events.
#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/fmt.h"
#include "runtime/core/hooks.h"
#include "runtime/core/list.h"
#include "runtime/core/log.h"
#include "runtime/core/msg.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/ftype.h"
#include "runtime/expr/recport.h"
#include "runtime/expr/vars.h"
#include "runtime/ui/scrimpl.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace ui {
namespace {

using namespace plat;

constexpr int kSectionsItem = 8;       // of group 9: the section list
constexpr int kCompatNoVTypes = 1024;  // _COMPAT: V<n> is no variable type
constexpr int kAuxCheckBoxes = 16;     // _AUXSTAT: logical fields as check boxes
constexpr int kOptionSetsMax = 16;

std::vector<ScreenLayout> g_layouts;  // by screen index
std::vector<std::string> g_option_sets;
unsigned g_generation = 0;
int g_active = -1;

void check_generation() {
    if (g_generation != rt_stores_generation()) {
        g_generation = rt_stores_generation();
        g_layouts.clear();
        g_option_sets.clear();
        g_active = -1;
    }
}

std::string upper(std::string_view t) {
    std::string s(t);
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(std::string_view t) {
    while (!t.empty() && (t.front() == ' ' || t.front() == '\t')) t.remove_prefix(1);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\t')) t.remove_suffix(1);
    return std::string(t);
}

std::string rtrim(std::string_view t) {
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    return std::string(t);
}

std::string section_prefix() {
    int aux = sysv_get(sysv::AUX);
    if (!aux) return {};
    ScratchMark m = scr_mark();
    std::string s(sv(lst_field(st_get(grp::Runtime, kSectionsItem), aux)));
    scr_release(m);
    return s.empty() ? s : s + ".";
}

// Item n (1-based) of a per-field list; items may hold expressions.
std::string item_of(const std::string& list, int n) {
    if (list.empty()) return {};
    std::vector<std::string> items = fs_split(list, ',');
    return n >= 1 && n <= int(items.size()) ? trim(items[size_t(n - 1)]) : std::string();
}

bool numeric_type(char t) { return t == 'N' || (t >= '1' && t <= '9'); }

// A value as the field's type keeps it.
std::string convert(const ScreenField& f, std::string_view text) {
    std::string t = rtrim(text);
    switch (f.type) {
    case 'N': case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': {
        std::string s = trim(t);
        if (s.empty()) return s;
        ScratchMark m = scr_mark();
        StrRef in = ft_input_number(sr(s));
        Num v = 0;
        std::string out = s;
        if (sr_ok(in) && num_parse(in, num_precis(), &v) == 0) out = std::string(sv(num_plain(v, num_precis())));
        scr_release(m);
        return out;
    }
    case 'L': {
        std::string s = upper(trim(t));
        if (s.empty()) return s;
        ScratchMark m = scr_mark();
        bool yes = is_yes_word(sr(s)) || s == "1";
        scr_release(m);
        return yes ? "Y" : "N";
    }
    case 'D': {
        std::string s = trim(t);
        if (s.empty()) return s;
        ScratchMark m = scr_mark();
        StrRef d = dt_read(sr(s));
        std::string out = sr_ok(d) ? std::string(sv(d)) : std::string();
        scr_release(m);
        return out;
    }
    default:
        if (int(t.size()) > f.maxc) t.resize(size_t(f.maxc));
        return t;
    }
}

IER eval_text(const std::string& expr, std::string* out) {
    ScratchMark m = scr_mark();
    Value v;
    IER st = ex_eval(sr(expr), &v);
    if (st == ier::NullExpression) st = 0;
    if (st < 122) {
        st = 0;
        *out = v.is_text() ? std::string(sv(v.text)) : std::string(sv(num_plain(v.num, num_precis())));
    }
    scr_release(m);
    return st;
}

// Hook slot 0: the "_" names of the active screen's fields.
StrRef resolve_name(StrRef name, int mode, StrRef value) {
    int sc = g_active;
    int n = sc >= 0 ? field_by_name(sc, sv(name)) : 0;
    if (!n) return sr_err(ier::BADINPUTDATA);
    if (mode == kHookWrite) {
        IER st = screen_store(sc, stf::Edit, n, value);
        return st ? sr_err(st) : sr_empty();
    }
    ScreenLayout* L = layout(sc);
    const ScreenField& f = L->f[size_t(n - 1)];
    std::string v = rtrim(std::string_view(L->values).substr(size_t(f.voff), size_t(f.maxc)));
    if (!fs_text_type(f.type) && trim(v).empty()) v = "0";
    return scr_copy(sr(v));
}

}  // namespace

ScreenLayout* layout(int screen) {
    check_generation();
    if (screen < 0 || screen >= int(g_layouts.size()) || !g_layouts[size_t(screen)].live) return nullptr;
    return &g_layouts[size_t(screen)];
}

int field_by_name(int screen, std::string_view name) {
    ScreenLayout* L = layout(screen);
    if (!L) return 0;
    std::string u = upper(trim(name));
    for (size_t i = 0; i < L->f.size(); i++)
        if (upper(L->f[i].name) == u) return int(i + 1);
    return 0;
}

std::vector<int> field_list(int screen, std::string_view names) {
    std::vector<int> out;
    ScreenLayout* L = layout(screen);
    if (!L) return out;
    std::string t(names);
    std::replace(t.begin(), t.end(), ';', ',');
    for (const std::string& part : fs_split(t, ',')) {
        std::string p = trim(part);
        if (p.empty()) continue;
        int n = 0;
        if (std::all_of(p.begin(), p.end(), [](char c) { return c >= '0' && c <= '9'; }) && p.size() < 5)
            n = std::stoi(p);
        else
            n = field_by_name(screen, p);
        if (n >= 1 && n <= int(L->f.size())) out.push_back(n);
    }
    return out;
}

void set_active_screen(int screen) { g_active = screen; }
int active_screen() { return g_active; }

void option_set_push(StrRef text) {
    check_generation();
    if (int(g_option_sets.size()) < kOptionSetsMax) g_option_sets.emplace_back(sv(text));
}
void option_set_pop() {
    if (!g_option_sets.empty()) g_option_sets.pop_back();
}

std::string quote_value(std::string_view v) {
    char q = v.find('\'') == std::string_view::npos ? '\'' : '"';
    std::string out(1, q);
    for (char c : v) {
        if (c == q) continue;  // a value holding both quotes loses its double ones
        out += c;
    }
    out += q;
    return out;
}

IER check_alarm(int screen, int n, bool report) {
    ScreenLayout* L = layout(screen);
    if (!L || n < 1 || n > int(L->f.size())) return 0;
    std::string cond = L->f[size_t(n - 1)].alarm;
    if (cond.empty()) return 0;
    int keep = g_active;
    g_active = screen;
    ScratchMark m = scr_mark();
    IER r = ex_cond(sr(cond));
    scr_release(m);
    g_active = keep;
    if (r == 1) return 0;
    IER st = r == 0 ? IER(ier::BadUserData) : r;
    err_detail(st, sr(cond));
    if (report) {
        status_box(st);
        err_detail_clear();
    }
    return st;
}

void screens_layout_reset() {
    g_layouts.clear();
    g_option_sets.clear();
    g_active = -1;
}

}  // namespace ui

using namespace plat;
using ui::ScreenField;
using ui::ScreenLayout;

StrRef screen_param(int screen, StrRef name) {
    ScreenLayout* L = ui::layout(screen);
    std::string bare(sv(name));
    std::string prefix = ui::section_prefix();
    std::vector<std::string> names;
    if (!prefix.empty()) names.push_back(prefix + bare);
    names.push_back(bare);
    std::string v;
    if (L)
        for (const std::string& n : names)
            if (fs_option(L->options, n, &v)) return scr_copy(sr(v));
    if (!ui::g_option_sets.empty()) {
        for (const std::string& n : names) {
            ScratchMark m = scr_mark();
            bool found = false;
            StrRef r = str_keyword(sr(ui::g_option_sets.back()), sr(n), 1, &found);
            if (found) return scr_keep(m, r);
            scr_release(m);
        }
    }
    for (const std::string& n : names) {
        if (n.find('(') != std::string::npos) continue;
        std::string vn = !n.empty() && n.back() == '%' ? n.substr(0, n.size() - 1) : n;
        ScratchMark m = scr_mark();
        if (var_find(sr(vn)) >= 0) {
            Value val;
            if (var_read(sr(vn), &val) == 0)
                return scr_keep(m, val.is_text() ? val.text : num_text(val.num, num_precis()));
        }
        scr_release(m);
    }
    return scr_copy(sr_empty());
}

namespace {

std::string param(int screen, std::string_view name) {
    ScratchMark m = scr_mark();
    std::string v(sv(screen_param(screen, sr(name))));
    scr_release(m);
    return v;
}

int param_int(int screen, std::string_view name) {
    std::string v = ui::trim(param(screen, name));
    return v.empty() ? 0 : std::atoi(v.c_str());
}

bool listed(const std::string& list, const std::string& name, int* pos = nullptr) {
    std::string u = ui::upper(name);
    std::vector<std::string> items = fs_split(list, ',');
    for (size_t i = 0; i < items.size(); i++)
        if (ui::upper(ui::trim(fs_unquote(ui::trim(items[i])))) == u) {
            if (pos) *pos = int(i + 1);
            return true;
        }
    return false;
}

// A prompt: a quoted text as written, an expression by its value.
std::string prompt_text(const FieldItem& it) {
    if (it.prompt_literal || it.prompt.empty()) return it.prompt;
    std::string out;
    if (ui::eval_text(it.prompt, &out)) return it.prompt;
    return out;
}

// The width of an edit box in cells: half a cell less for every ten
// characters beyond the first ten.
int edit_cells(int len) {
    int less = len > 10 ? ((len - 10) * 5 + 50) / 100 : 0;
    return std::max(2, len - less);
}

}  // namespace

IER screen_build(StrRef list, int flags, int* screen) {
    ui::check_generation();
    *screen = -1;
    if (!sr_ok(list)) return sr_status(list);
    FieldSpec fs;
    int pst = fieldspec_parse(sv(list), &fs);
    if (pst) return err_raise(static_cast<IER>(pst), mod::Screens, sv(list));
    if (!hk_get(hook::FieldResolver)) hk_register_as(ui::resolve_name, hook::FieldResolver);
    Screen rec{};
    rec.use_count = 0;
    rec.fields = static_cast<int16_t>(fs.items.size());
    int sc = screen_add(rec);
    if (sc < 0) return err_raise(ier::OUTOFMEMORY, mod::Screens, "screen");
    if (int(ui::g_layouts.size()) <= sc) ui::g_layouts.resize(size_t(sc + 1));
    ScreenLayout& L = ui::g_layouts[size_t(sc)];
    L = ScreenLayout{};
    L.live = true;
    L.fs = fs;
    L.options = fs.options;
    int n = int(fs.items.size());
    L.f.resize(size_t(n));
    int keep_active = ui::g_active;
    ui::g_active = sc;
    IER st = 0;
    // Types, lengths and prompts.
    for (int i = 0; i < n && !st; i++) {
        ScreenField& f = L.f[size_t(i)];
        f.item = fs.items[size_t(i)];
        FieldItem& it = f.item;
        if (it.parts == 1) {
            // A data-file field: its name as prompt, its width as length.
            ScratchMark m = scr_mark();
            StrRef chars{};
            IER fst = rec_port().field_chars(sr(it.bind), 1, &chars);
            if (fst) {
                scr_release(m);
                st = err_raise(fst, mod::Screens, "Field:" + it.text);
                break;
            }
            f.type = 'A';
            f.len = chars.n;
            scr_release(m);
            it.prompt = it.bind.substr(0, it.bind.find('{'));
            it.prompt_literal = true;
            if (!it.op.empty()) {
                static constexpr std::string_view kOps[] = {">", "<", "==", ">=", "<=", "<>"};
                int w = 0;
                for (int k = 0; k < 6; k++)
                    if (it.op == kOps[k]) w = k + 1;
                ScratchMark mm = scr_mark();
                std::string word = ui::trim(sv(lst_field(msg(80), w)));
                scr_release(mm);
                if (!word.empty()) it.prompt += ":" + word;
            }
        } else if (it.type == 'V') {
            if (sysv_get(sysv::COMPAT) & ui::kCompatNoVTypes) {
                f.type = 'A';
                f.len = it.vnum;
            } else {
                char t = 0;
                int len = 0;
                if (IER vst = var_screen_field_type(it.vnum, &t, &len)) {
                    st = err_raise(vst, mod::Screens, "_V" + std::to_string(it.vnum) + "$");
                    break;
                }
                f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(t)));
                f.len = len;
            }
        } else {
            f.type = it.type ? it.type : 'A';
            f.len = it.length;
        }
        if (f.len <= 0) f.len = 1;
        if (f.len > kFieldLengthMax) f.len = kFieldLengthMax;
        f.maxc = f.len;
        if (f.type == 'D' && f.len > 8) f.len = 8;  // shown in 8, typed up to the given length
        f.width = f.len;
        if (f.type == 'P') f.flags |= sff::Password;
        if (it.file_field) f.flags |= sff::FileBound;
        if (!it.prompt_literal) it.prompt = prompt_text(it);
    }
    if (st) {
        ui::g_active = keep_active;
        L.live = false;
        return st;
    }
    // FD$: given names, the rest named by their number and type.
    std::string fd = param(sc, "FD$");
    std::vector<std::string> names = fd.empty() ? std::vector<std::string>() : fs_split(fd, ',');
    std::string completed;
    for (int i = 0; i < n; i++) {
        ScreenField& f = L.f[size_t(i)];
        std::string nm = i < int(names.size()) ? ui::trim(names[size_t(i)]) : std::string();
        if (nm.empty())
            nm = "_SCRF" + std::to_string(i + 1) + (fs_text_type(f.type) ? "$" : "#");
        f.name = nm;
        completed += (i ? "," : "") + nm;
    }
    L.options = fs_option_set(L.options, "FD$", completed);
    // Per-field lists.
    std::string alarm = param(sc, "ALARM$"), assign = param(sc, "ASSIGN$"), perform = param(sc, "PERFORM$");
    std::string upd = param(sc, "UPDFIELDS$"), windows = param(sc, "WINDOWS$"), widths = param(sc, "WIDTHS$");
    std::string types = param(sc, "TYPES$"), clear = param(sc, "CLEAR$");
    for (int i = 0; i < n; i++) {
        ScreenField& f = L.f[size_t(i)];
        f.alarm = ui::item_of(alarm, i + 1);
        f.assign = ui::item_of(assign, i + 1);
        f.perform = ui::item_of(perform, i + 1);
        f.upd = ui::item_of(upd, i + 1);
        f.windows = ui::item_of(windows, i + 1);
        std::string w = ui::item_of(widths, i + 1);
        if (!w.empty() && std::atoi(w.c_str()) > 0) f.width = std::min(kFieldLengthMax, std::atoi(w.c_str()));
        std::string t = ui::item_of(types, i + 1);
        if (!t.empty()) f.type = static_cast<char>(std::toupper(static_cast<unsigned char>(t[0])));
        f.clear = std::atoi(ui::item_of(clear, i + 1).c_str());
        if (f.perform.empty()) fs_option(L.options, f.name + "$", &f.follow);
        if (!f.clear) f.flags |= sff::Plain;
        if (!f.assign.empty()) f.flags |= sff::Assign;
        if (!f.perform.empty() || !f.follow.empty()) f.flags |= sff::Perform;
        if (!f.upd.empty()) f.flags |= sff::UpdFields;
        if (!f.windows.empty()) f.flags |= sff::Windows;
        if (!f.alarm.empty()) f.flags |= sff::Alarm;
        if (f.type == 'P') f.flags |= sff::Password;
    }
    L.help = param(sc, "HELP$");
    L.on_confirm = param(sc, "ON_CONFIRM$");
    L.on_cancel = param(sc, "ON_CANCEL$");
    L.set = param(sc, "SET$");
    L.keymap = param_int(sc, "KEYMAP%");
    L.unicndx = param_int(sc, "UNICNDX%");
    L.autondx = param_int(sc, "AUTONDX%");
    L.max_ids = param_int(sc, "MAX_IDS_ATTR%");
    L.relopt = param_int(sc, "RELOPT%");
    std::string bounds = param(sc, "BOUNDS$");
    if (!bounds.empty()) {
        std::vector<int> b = ui::field_list(sc, bounds);
        if (b.size() >= 2) {
            L.bound_first = std::min(b[0], b[1]);
            L.bound_last = std::max(b[0], b[1]);
        }
    }
    std::string beg = param(sc, "BEGINFLD%");
    if (!beg.empty()) {
        std::vector<int> b = ui::field_list(sc, beg);
        if (!b.empty()) L.beginfld = b[0];
    }
    // Edit modes.
    std::string hidden = param(sc, "HIDDEN$"), noedit = param(sc, "NOEDIT$"), edit = param(sc, "EDIT$");
    for (int i = 0; i < n; i++) {
        ScreenField& f = L.f[size_t(i)];
        int pos = 0;
        if (listed(hidden, f.name)) f.mode = kEditHidden;
        else if (listed(noedit, f.name)) f.mode = 0;
        else if (listed(edit, f.name, &pos)) f.mode = pos;
        else f.mode = i + 1;
        if (f.mode && f.mode != kEditHidden) f.flags |= sff::Editable;
    }
    // Positions: prompts right-aligned before a common column.
    int longest = 1;
    for (const ScreenField& f : L.f) longest = std::max(longest, int(f.item.prompt.size()));
    int grid_cols = grid_active().cols > 0 ? grid_active().cols : 80;
    int next_col = 1;
    for (int i = 0; i < n; i++) {
        ScreenField& f = L.f[size_t(i)];
        const FieldItem& it = f.item;
        if (flags & kBuildSideBySide) {
            f.row = 1;
            f.col = next_col;
            next_col += f.width + 1;
        } else {
            f.row = i + 1;
            f.col = longest;
        }
        if (it.brace_row || it.brace_col) {
            f.row = it.brace_row;
            f.col = it.brace_col + int(it.prompt.size());
        }
        if (it.at_row) f.row = it.at_row;
        if (it.at_col) f.col = it.at_col;
        int room = grid_cols - f.col - 1;
        if (room < 1) room = 1;
        if (f.width > room) f.width = room;
    }
    // Value buffers.
    int off = 0;
    for (ScreenField& f : L.f) {
        f.voff = off;
        off += f.maxc;
    }
    L.values.assign(size_t(off), ' ');
    L.remembered.assign(size_t(off), ' ');
    if (Screen* s = screen_get(sc)) s->keymap = static_cast<int16_t>(L.keymap);
    sysv_set(sysv::KEYMAP, static_cast<int16_t>(L.keymap));
    ui::g_active = sc;
    *screen = sc;
    return 0;
}

IER screen_draw(int screen, int w) {
    ScreenLayout* L = ui::layout(screen);
    if (!L) return ier::ScreenStructErr;
    L->wnd = w;
    int gcols = std::max<int>(1, grid_active().cols);
    for (const ScreenField& f : L->f) {
        if (f.item.prompt.empty() || (L->asking && f.mode == kEditHidden)) continue;
        int crow, ccol;
        grid_cell(f.row, f.col, &crow, &ccol);
        int lc = std::max(0, ccol - int(f.item.prompt.size()));
        WndCtlSpec c;
        c.kind = WND_LABEL;
        c.id = ctlid::LabelBase + std::max(0, f.col - int(f.item.prompt.size())) + f.row * gcols;
        c.row = crow;
        c.col = lc;
        c.cols = int(f.item.prompt.size());
        c.text = f.item.prompt;
        if (wnd_ctl_exists(w, c.id)) wnd_set_text(w, c.id, c.text);
        else wnd_ctl_create(w, c);
    }
    return 0;
}

IER screen_set_win(int sw) {
    ScreenWindow* s = sw_get(sw);
    fatal_check(s != nullptr, "ScreenSetWin");
    ScreenLayout* L = ui::layout(s->screen);
    fatal_check(L != nullptr, "ScreenSetWin");
    int w = s->wnd;
    L->wnd = w;
    bool boxes = sysv_get(sysv::AUXSTAT) & ui::kAuxCheckBoxes;
    for (size_t i = 0; i < L->f.size(); i++) {
        const ScreenField& f = L->f[i];
        if (f.mode == kEditHidden) continue;
        WndCtlSpec c;
        c.id = ctlid::FieldBase + int(i + 1);
        grid_cell(f.row, f.col, &c.row, &c.col);
        if (f.type == 'L' && boxes) {
            c.kind = WND_CHECK;
            c.cols = 4;
        } else {
            c.kind = WND_EDIT;
            c.cols = edit_cells(f.width);
            c.limit = f.maxc;
            if (!f.mode) c.style |= WND_CS_READONLY;
            if (f.type == 'P') c.style |= WND_CS_PASSWORD;
            if (f.type == 'N' || f.type == 'L' || (f.type >= '1' && f.type <= '9')) c.style |= WND_CS_RIGHT;
        }
        if (wnd_ctl_exists(w, c.id)) continue;
        int r = wnd_ctl_create(w, c);
        if (r < 0) return ui::window_error("ScreenSetWin");
        std::string v = ui::rtrim(std::string_view(L->values).substr(size_t(f.voff), size_t(f.maxc)));
        if (c.kind == WND_CHECK) wnd_set_check(w, c.id, v == "Y");
        else wnd_set_text(w, c.id, v);
    }
    return 0;
}

int screen_fields(int screen) {
    ScreenLayout* L = ui::layout(screen);
    return L ? int(L->f.size()) : 0;
}

IER screen_store(int screen, int flags, int n, StrRef text) {
    ScreenLayout* L = ui::layout(screen);
    if (!L) return ier::ScreenStructErr;
    if (n < 1 || n > int(L->f.size())) return ier::BADINPUTDATA;
    if (!sr_ok(text)) return sr_status(text);
    ScreenField f = L->f[size_t(n - 1)];
    std::string given(sv(text));
    if (flags & stf::Recall) given = ui::rtrim(std::string_view(L->remembered).substr(size_t(f.voff), size_t(f.maxc)));
    std::string v = (flags & stf::Plain) && (f.flags & sff::Plain) ? given : ui::convert(f, given);
    if (int(v.size()) > f.maxc) v.resize(size_t(f.maxc));
    int id = ctlid::FieldBase + n;
    if (L->wnd && wnd_ctl_exists(L->wnd, id)) {
        if (wnd_ctl_kind(L->wnd, id) == WND_CHECK) wnd_set_check(L->wnd, id, v == "Y");
        else wnd_set_text(L->wnd, id, v);
    }
    std::string old = ui::rtrim(std::string_view(L->values).substr(size_t(f.voff), size_t(f.maxc)));
    if (!(flags & stf::Force) && old == ui::rtrim(v)) return 0;
    std::string padded = v;
    padded.resize(size_t(f.maxc), ' ');
    L->values.replace(size_t(f.voff), size_t(f.maxc), padded);
    if (!(flags & (stf::Perform | stf::Update))) return 0;
    // A chain of fields that update each other ends at a fixed depth, so
    // that two fields naming each other cannot loop for ever.
    if (L->depth >= kRecomputeDepthMax) return 0;
    L->depth++;
    IER st = 0;
    int keep = ui::g_active;
    ui::g_active = screen;
    if ((flags & stf::Perform) && !f.perform.empty()) {
        ScratchMark m = scr_mark();
        IER r = ex_effect(sr(f.perform));
        scr_release(m);
        if (r >= 128) st = r;
    }
    if (!st && (flags & stf::Update) && !f.upd.empty()) st = screen_recompute(screen, stf::Recompute, sr(f.upd));
    if (!st && (flags & stf::Perform) && !f.follow.empty()) st = screen_recompute(screen, stf::Recompute, sr(f.follow));
    ui::g_active = keep;
    if (ScreenLayout* L2 = ui::layout(screen)) L2->depth--;
    return st;
}

StrRef screen_value(int screen, int n) {
    ScreenLayout* L = ui::layout(screen);
    if (!L || n < 1 || n > int(L->f.size())) return scr_copy(sr_empty());
    const ScreenField& f = L->f[size_t(n - 1)];
    return scr_copy(sr(ui::rtrim(std::string_view(L->values).substr(size_t(f.voff), size_t(f.maxc)))));
}

StrRef screen_ctl_value(int screen, int n) {
    ScreenLayout* L = ui::layout(screen);
    int id = ctlid::FieldBase + n;
    if (!L || !L->wnd || !wnd_ctl_exists(L->wnd, id)) return scr_copy(sr_empty());
    if (wnd_ctl_kind(L->wnd, id) == WND_CHECK) {
        bool on = false;
        wnd_get_check(L->wnd, id, &on);
        return scr_copy(sr(on ? "Y" : ""));
    }
    const ScreenField& f = L->f[size_t(n - 1)];
    return ctl_text(L->wnd, id, f.maxc);
}

IER screen_recompute(int screen, int flags, StrRef fields) {
    ScreenLayout* L = ui::layout(screen);
    if (!L) return ier::ScreenStructErr;
    for (int n : ui::field_list(screen, sv(fields))) {
        L = ui::layout(screen);
        std::string expr = L->f[size_t(n - 1)].assign;
        if (expr.empty()) continue;
        int keep = ui::g_active;
        ui::g_active = screen;
        std::string out;
        IER st = ui::eval_text(expr, &out);
        ui::g_active = keep;
        if (st) {
            ScratchMark m = scr_mark();
            err_detail_clear();
            msg_box(fmt(msg(17), {n, sr(expr)}), sr_empty(), box::Warning);
            scr_release(m);
            continue;  // the field keeps its value
        }
        ScratchMark m = scr_mark();
        IER s2 = screen_store(screen, flags, n, sr(out));
        scr_release(m);
        if (s2 >= 128) return s2;
    }
    return 0;
}

StrRef screen_field_name(int screen, int n) {
    ScreenLayout* L = ui::layout(screen);
    if (!L || n < 1 || n > int(L->f.size())) return scr_copy(sr_empty());
    return scr_copy(sr(L->f[size_t(n - 1)].name));
}

char screen_field_type(int screen, int n) {
    ScreenLayout* L = ui::layout(screen);
    return L && n >= 1 && n <= int(L->f.size()) ? L->f[size_t(n - 1)].type : 0;
}

int screen_field_mode(int screen, int n) {
    ScreenLayout* L = ui::layout(screen);
    return L && n >= 1 && n <= int(L->f.size()) ? L->f[size_t(n - 1)].mode : -1;
}

int screen_field_flags(int screen, int n) {
    ScreenLayout* L = ui::layout(screen);
    return L && n >= 1 && n <= int(L->f.size()) ? L->f[size_t(n - 1)].flags : 0;
}

void screen_field_place(int screen, int n, int* row, int* col, int* width) {
    *row = *col = *width = 0;
    ScreenLayout* L = ui::layout(screen);
    if (!L || n < 1 || n > int(L->f.size())) return;
    const ScreenField& f = L->f[size_t(n - 1)];
    *row = f.row;
    *col = f.col;
    *width = f.width;
}

namespace {

// "SCRBACK:name": the array's name; empty when the text is of another form.
std::string scrback_array(StrRef command) {
    std::string c = ui::trim(sv(command));
    if (ui::upper(c.substr(0, 8)) != "SCRBACK:") return {};
    std::string a = ui::trim(c.substr(8));
    if (!a.empty() && a.back() != '(') a += '(';
    return a;
}

}  // namespace

IER screen_scrback_save(int screen, StrRef command) {
    ScreenLayout* L = ui::layout(screen);
    std::string a = scrback_array(command);
    if (!L || a.empty() || a.find('$') == std::string::npos) return 0;
    ScratchMark m = scr_mark();
    int idx[1] = {0};
    IER st = var_array_write(sr(a), idx, 1, Value::of_text(sr(L->values)));
    if (st == ier::DATAOUTBOUND) {
        int size[1] = {1};
        st = var_array_make(sr(a), size, 1, Value::of_text(sr_empty()));
        if (!st) st = var_array_write(sr(a), idx, 1, Value::of_text(sr(L->values)));
    }
    scr_release(m);
    return st;
}

IER screen_scrback_load(int screen, StrRef command) {
    ScreenLayout* L = ui::layout(screen);
    std::string a = scrback_array(command);
    if (!L || a.empty()) return 0;
    ScratchMark m = scr_mark();
    int idx[1] = {0};
    Value v;
    IER st = var_array_read(sr(a), idx, 1, &v);
    if (!st && v.is_text() && v.text.n <= L->remembered.size())
        L->remembered.replace(0, v.text.n, std::string(sv(v.text)));
    scr_release(m);
    return st;
}

}  // namespace rt
