// The Accept window, its replay from the answer file, the program types
// Accept and AcceptRun, and the script commands ACCEPT, BOUNDS and READ.
#include <algorithm>
#include <string>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/hooks.h"
#include "runtime/core/list.h"
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
#include "runtime/script/proc.h"
#include "runtime/script/programs.h"
#include "runtime/ui/scrimpl.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;
using ui::ScreenField;
using ui::ScreenLayout;

constexpr IER kNotMine = ier::BADINPUTDATA;
constexpr int kAuxEmptyDates = 64;     // _AUXSTAT: an empty date stays empty
constexpr int kMainCondItem = 1;       // of group 9: the main condition
constexpr int kOkWidth = 12, kOkFromRight = 14;
constexpr int kAcceptMinCols = 30;
constexpr int kParamAcceptPrc = 101, kParamWinName = 102, kParamAcBound = 93;
constexpr int kSimpleFormMark = 8;     // field 7 of the parameter text

std::string g_last_caption;
std::vector<std::string> g_last_values;
unsigned g_generation = 0;

struct AcceptRun {
    int sw = -1;
    bool confirmed = false;
    AcceptCheck check = nullptr;
    int fields = 0;
};
std::vector<AcceptRun> g_runs;  // nested Accept windows, innermost last

void check_generation() {
    if (g_generation != rt_stores_generation()) {
        g_generation = rt_stores_generation();
        g_last_caption.clear();
        g_last_values.clear();
        g_runs.clear();
    }
}

AcceptRun* run_of(int sw) {
    for (AcceptRun& r : g_runs)
        if (r.sw == sw) return &r;
    return nullptr;
}

// The Accept window's own handler: Page Down (a navigation action that no
// record layer takes here) confirms; the rest goes down the chain.
IER accept_handler(int sw, int event) {
    if (sev_kind(event) == sev::Nav && sev_param(event) != nav::Confirm) {
        if (sysv_get(sysv::LASTKEY) == keycls::PageDown) return screen_default_handler(sw, sev_make(sev::Nav, nav::Confirm));
        return 0;
    }
    int k = sev_kind(event);
    if (k == sev::Activated || k == sev::CloseWindow) return kNotMine;  // the window default
    return screen_default_handler(sw, event);
}

// Called by the default handling on confirm: the check callback may refuse.
IER accept_app(int sw, int event) {
    AcceptRun* r = run_of(sw);
    if (!r) return 0;
    if (event == sev_make(sev::Nav, nav::Confirm)) {
        if (r->check)
            if (IER st = r->check(r->fields)) return st;
        r->confirmed = true;
    }
    return 0;
}

std::vector<std::string> answer_fields(StrRef line) {
    std::vector<std::string> out;
    ScratchMark m = scr_mark();
    int n = lst_count(line);
    for (int i = 1; i <= n; i++) out.emplace_back(sv(str_unquote(str_trim(lst_field(line, i)))));
    scr_release(m);
    return out;
}

// The variable a field's value goes to on confirm; empty for none.
std::string target_of(const ScreenField& f) {
    const FieldItem& it = f.item;
    if (!it.target.empty()) return it.target;
    if (!it.op.empty() || it.file_field) return {};
    if (!it.bind.empty()) return it.bind;
    if (!f.name.empty() && f.name[0] != '_') return f.name;
    return {};
}

IER assign_value(const std::string& target, const std::string& v) {
    ScratchMark m = scr_mark();
    VarType t = var_type(sr(target));
    IER st = 0;
    if (t == VarType::Text) {
        st = var_assign(sr(target), Value::of_text(sr(v)));
    } else if (t == VarType::Num || t == VarType::Int) {
        Num x = 0;
        StrRef in = ft_input_number(sr(v));
        if (sr_ok(in) && in.n) num_parse(in, num_precis(), &x);
        st = var_assign(sr(target), Value::number(x));
    } else {
        // an array element or an expression: assigned through the evaluator
        StrRef lit = str_quote(sr(v));
        if (!sr_ok(lit)) st = ier::BADINPUTDATA;
        else st = ex_effect(str_concat(str_concat(sr(target), sr("=")), lit));
    }
    scr_release(m);
    return st;
}

// One term of the condition: the bound part, its operator and the value
// written as a literal of the expression language (a text quoted, a number
// as a number), so that no value can turn into code.
IER cond_term(const ScreenField& f, const std::string& v, std::string* out) {
    out->clear();
    if (v.empty()) return 0;  // an empty field asks for nothing
    ScratchMark m = scr_mark();
    IER st = 0;
    if (ft_is_numeric(f.type) && f.type != 'L') {
        Num x = 0;
        StrRef in = ft_input_number(sr(v));
        if (sr_ok(in)) st = num_parse(in, num_precis(), &x);
        if (!st) *out = f.item.bind + f.item.op + std::string(sv(num_plain(x, num_precis())));
    } else {
        StrRef q = str_quote(sr(v));
        if (!sr_ok(q)) q = str_quote(sr(v), '"');
        if (!sr_ok(q)) st = err_detail(ier::BADINPUTDATA, sr(v));
        else *out = f.item.bind + f.item.op + std::string(sv(q));
    }
    scr_release(m);
    return st;
}

// Everything a confirmed Accept does after its window has gone.
void finish_confirmed(int sc, StrRef caption, AcceptResult* res) {
    ScreenLayout* L = ui::layout(sc);
    if (!L) return;
    std::vector<std::string> values, kept;
    for (size_t i = 0; i < L->f.size(); i++) values.push_back(ui::rtrim_value(*L, int(i + 1)));
    std::vector<ScreenField> fields = L->f;
    for (size_t i = 0; i < fields.size(); i++) {
        const ScreenField& f = fields[i];
        std::string tgt = target_of(f);
        if (!tgt.empty())
            if (IER st = assign_value(tgt, values[i]); st >= 128 && !res->status) res->status = st;
        std::string term;
        if (!f.item.op.empty()) {
            if (IER st = cond_term(f, values[i], &term); st && !res->status) res->status = st;
            if (!term.empty()) res->cond += (res->cond.empty() ? "" : "&&") + term;
        }
        res->values += (i ? "," : "") + ui::quote_value(values[i]);
        kept.push_back(f.type == 'P' ? std::string() : values[i]);
    }
    g_last_caption = std::string(sv(caption));
    g_last_values = kept;
    ScratchMark m = scr_mark();
    st_set(grp::Runtime, kMainCondItem, sr(res->cond));
    scr_release(m);
}

void set_defaults(int sc, StrRef caption) {
    ScreenLayout* L = ui::layout(sc);
    if (!L) return;
    int16_t aux = sysv_get(sysv::AUXSTAT);
    sysv_set(sysv::AUXSTAT, static_cast<int16_t>(aux | kAuxEmptyDates));
    bool same = sv(caption) == g_last_caption;
    size_t n = L->f.size();
    for (size_t i = 0; i < n; i++) {
        L = ui::layout(sc);
        if (!L) break;
        const ScreenField& f = L->f[i];
        std::string v;
        bool have = false;
        if (!f.item.def.empty()) {
            ScratchMark m = scr_mark();
            Value val;
            ui::set_active_screen(sc);
            IER st = ex_eval(sr(f.item.def), &val);
            if (st < 122) {
                v = val.is_text() ? std::string(sv(val.text)) : std::string(sv(num_plain(val.num, num_precis())));
                have = true;
            }
            scr_release(m);
        } else if (f.item.file_field && f.item.op.empty()) {
            ScratchMark m = scr_mark();
            StrRef chars{};
            if (rec_port().field_chars(sr(f.item.bind), 1, &chars) == 0) {
                v = std::string(sv(chars));
                have = true;
            }
            scr_release(m);
        } else if (same && f.type != 'P' && i < g_last_values.size()) {
            // a password never comes back from an earlier window
            v = g_last_values[i];
            have = true;
        }
        if (have) {
            ScratchMark m = scr_mark();
            screen_store(sc, stf::Edit, int(i + 1), sr(v));
            scr_release(m);
        }
    }
    sysv_set(sysv::AUXSTAT, aux);
}

// The window: fields, Ok button, a modal wait. True when it was confirmed.
bool run_window(int sc, StrRef caption, AcceptCheck check, IER* st) {
    ScreenLayout* L = ui::layout(sc);
    *st = 0;
    if (!ui::started() && wnd_init() != WND_OK) {
        *st = ui::window_error("window system");
        return false;
    }
    std::string size = std::string(sv(screen_param(sc, sr("SCREENSIZE$"))));
    if (!size.empty()) grid_set_override(sr(size));
    CellGrid& g = grid_override().cols ? grid_override() : grid_default();
    g.left = 2;
    g.top = 1;
    g.extra = 2;
    int rows = 1, cols = kAcceptMinCols;
    for (const ScreenField& f : L->f) {
        int r, c;
        grid_cell(f.row, f.col, &r, &c);
        rows = std::max(rows, r + 1);
        cols = std::max(cols, c + f.width + 2);
    }
    cols = std::max(cols, int(caption.n) + 6);
    rows += 2;  // a blank row and the Ok button
    int srows, scols;
    wnd_screen_size(&srows, &scols);
    WinSpec ws;
    ws.kind = wkind::Dialogx;
    ws.caption = sv(caption);
    ws.rows = std::min(rows, std::max(3, srows - 2));
    ws.cols = std::min(cols, std::max(10, scols - 2));
    int sw = sw_open(ws, accept_handler, nullptr, L->keymap);
    if (sw < 0) {
        *st = ier::WindowsControlError;
        return false;
    }
    ScreenWindow* s = sw_get(sw);
    s->screen = static_cast<int16_t>(sc);
    s->app_handler = accept_app;
    if (Screen* scr = screen_get(sc)) scr->use_count++;
    sw_set_current(sw);
    int w = s->wnd;
    g_runs.push_back(AcceptRun{sw, false, check, int(L->f.size())});
    screen_draw(sc, w);
    IER cst = screen_set_win(sw);
    WndRect cr;
    wnd_client(w, &cr);
    if (!cst) ctl_ok_button(w, cr.rows - 1, std::max(0, cr.cols - kOkFromRight));
    if (WndRect b; wnd_ctl_rect(w, ctlid::Ok, &b) == WND_OK) wnd_ctl_move(w, ctlid::Ok, b.row, b.col, 1, kOkWidth);
    int first = ui::first_field(sc);
    if (first) ui::focus(sw, first);
    else wnd_set_focus(w, ctlid::Ok);
    if (!cst) wm_modal_wait(w);
    // No input can come (or the wait ended otherwise): a cancel.
    if (int left = sw_of_window(w); left >= 0) sw_close(left);
    else if (wnd_exists(w)) wm_destroy(w);
    bool ok = false;
    for (size_t i = 0; i < g_runs.size(); i++)
        if (g_runs[i].sw == sw) {
            ok = g_runs[i].confirmed;
            g_runs.erase(g_runs.begin() + long(i));
            break;
        }
    *st = cst;
    return ok && !cst;
}

}  // namespace

AcceptResult accept_window(StrRef caption, StrRef list, int flags, AcceptCheck check) {
    check_generation();
    AcceptResult res;
    int16_t keep_field = sysv_get(sysv::CUREDFLD);
    int keep_active = ui::active_screen();
    if (!sr_ok(caption)) caption = sr_empty();
    std::string cap(sv(caption));
    // An answer from the INPUT file is taken before any window opens.
    std::string answer;
    bool replay = false;
    if (sysv_get(sysv::INHND)) {
        ScratchMark m = scr_mark();
        StrRef a = next_answer();
        answer = std::string(sv(a));
        replay = !answer.empty();
        scr_release(m);
    }
    int sc = -1;
    IER st = screen_build(list, flags & kBuildSideBySide, &sc);
    if (st) {
        res.status = st;
        ui::set_active_screen(keep_active);
        return res;
    }
    set_defaults(sc, sr(cap));
    bool confirmed = false;
    if (replay) {
        std::vector<std::string> given = answer_fields(sr(answer));
        ScreenLayout* L = ui::layout(sc);
        bool ask = false;
        for (size_t i = 0; i < L->f.size(); i++) {
            L = ui::layout(sc);
            std::string v = i < given.size() ? given[i] : std::string();
            if (L->f[i].type == 'P' && v.empty()) {
                ask = true;  // never recorded: the user gives it again
                continue;
            }
            ScratchMark m = scr_mark();
            screen_store(sc, stf::Edit, int(i + 1), sr(v));
            scr_release(m);
        }
        if (ask) {
            // Only the passwords are asked for; the other fields stay as
            // the answer gave them.
            L = ui::layout(sc);
            for (ScreenField& f : L->f)
                if (f.type != 'P') f.mode = kEditHidden;
            L->asking = true;
            confirmed = run_window(sc, sr(cap), check, &st);
        } else {
            confirmed = true;
            L = ui::layout(sc);
            for (size_t i = 0; i < L->f.size() && confirmed; i++)
                if (IER a = ui::check_alarm(sc, int(i + 1), true)) {
                    confirmed = false;
                    st = a;
                }
            if (confirmed && check) {
                if (IER c = check(int(L->f.size()))) {
                    confirmed = false;
                    st = c;
                }
            }
            if (confirmed) st = ui::confirm_effects(sc);
            if (st) confirmed = false;
        }
    } else {
        confirmed = run_window(sc, sr(cap), check, &st);
    }
    if (confirmed) {
        ui::set_active_screen(sc);
        finish_confirmed(sc, sr(cap), &res);
    } else {
        res.status = st >= 128 ? st : IER(ier::UserCanceled);
    }
    if (ScreenLayout* L = ui::layout(sc)) {
        Screen* s = screen_get(sc);
        if (!s || s->use_count <= 0) L->live = false;
    }
    sysv_set(sysv::CUREDFLD, keep_field);
    ui::set_active_screen(keep_active);
    return res;
}

std::string accept_last_caption() { return g_last_caption; }

std::string accept_last_values() {
    std::string out;
    for (size_t i = 0; i < g_last_values.size(); i++) out += (i ? "," : "") + ui::quote_value(g_last_values[i]);
    return out;
}

IER accept_program(StrRef params) {
    check_generation();
    ScratchMark m = scr_mark();
    int nfields = lst_count(params);
    bool simple = nfields < 4 || lst_num(params, 7) == kSimpleFormMark;
    if (!simple) {
        // Record handling belongs to the maintenance windows, which this
        // build does not have yet.
        scr_release(m);
        return err_raise(ier::BADINPUTDATA, mod::Screens, "AcceptRun with record handling");
    }
    StrRef file = str_trim(lst_field(params, 1));
    StrRef base = path_ext(file).n ? file : str_concat(file, sr(".PPN"));
    int section = lst_num(params, 2);
    StrRef found = env_find(base);
    IER st = def_load(found.n ? found : base, 1, section, true);
    if (st) {
        scr_release(m);
        return st;
    }
    std::string text(sv(st_top(grp::StkAux)));
    ui::option_set_push(sr(text));
    std::string list(sv(param_value(kParamAcBound, 0, sr(text))));
    std::string caption(sv(param_value(kParamWinName, 0, sr(text))));
    std::string prc(sv(param_value(kParamAcceptPrc, 0, sr(text))));
    if (list.empty()) {
        st = err_raise(ier::BADINPUTDATA, mod::Screens, "ACBOUND$");
    } else {
        AcceptResult r = accept_window(sr(caption), sr(list), 0, nullptr);
        st = r.status;
        if (!st) {
            int slot = std::atoi(prc.c_str());
            if (!slot) {
                st = err_raise(ier::BADINPUTDATA, mod::Screens, "ACCEPT_PRC%");
            } else if (AcceptProcFn fn = hk_get_as<std::remove_pointer_t<AcceptProcFn>>(slot)) {
                st = fn(&r);
            }
        }
    }
    ui::option_set_pop();
    st_pop(grp::StkAux);
    scr_release(m);
    return st;
}

IER accept_commands(int code, const ArgumentList& a) {
    switch (code) {
    case kw::ACCEPT: {
        if (a.count != 1 || !arg_text(a, 0).n) return err_raise(ier::SINTAXERROR, mod::Screens, "ACCEPT");
        int row = 0, col = 0;
        script_position(&row, &col);
        ScratchMark m = scr_mark();
        std::string item = std::string(sv(str_trim(arg_text(a, 0)))) + "/ROW=" + std::to_string(row) + "/COL=" + std::to_string(col);
        IER st = st_push(grp::StkScreen, sr(item));
        scr_release(m);
        return st;
    }
    case kw::BOUNDS: {
        AcceptResult r = accept_window(sr_empty(), arg_text(a, 0));
        return r.status;
    }
    case kw::READ: {
        std::string list;
        int n = st_count(grp::StkScreen);
        for (int i = 0; i < n; i++) {
            std::string item(sv(st_get(grp::StkScreen, i)));
            list += (i ? "," : "") + item;
        }
        st_clear(grp::StkScreen);
        if (list.empty()) return err_raise(ier::SINTAXERROR, mod::Screens, "READ");
        std::string opts(sv(str_trim(arg_text(a, 0))));
        if (!opts.empty()) list += (opts[0] == '/' ? " " : " /") + opts;
        AcceptResult r = accept_window(sr_empty(), sr(list));
        return r.status;
    }
    default:
        return kCmdNotMine;
    }
}

void screens_install() {
    ui::field_ports_install();
    prog_register_runner(ptype::Accept, accept_program);
    prog_register_runner(ptype::AcceptRun, accept_program);
}

void screens_reset() {
    g_last_caption.clear();
    g_last_values.clear();
    g_runs.clear();
    ui::screens_layout_reset();
}

}  // namespace rt
