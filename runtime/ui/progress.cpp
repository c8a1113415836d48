// The progress window: a bar (or a text) and a Cancel button whose flag the
// running operation polls. One at a time; opening another replaces it.
#include <algorithm>
#include <string>
#include <vector>

#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

using namespace plat;

constexpr int kBarId = 1, kTextId = 2;  // the bar or text, and the text above a bar
constexpr long kBarMax = 65535;
constexpr int kDefaultWidthPx = 300;

struct Progress {
    int w = 0;
    int mode = kProgressBar;
    bool unknown = true;
    long range = kProgressUnknownRange, divisor = 1;
    long total = 0;  // the amounts stepped, before the divisor
    long pos = 0;
    bool cancel = false;
};
Progress g_prog;

int progress_proc(const WndEvent& ev, void*) {
    switch (ev.type) {
    case WND_EV_COMMAND:
        if (ev.ctl != ctlid::ProgressCancel) return 0;
        g_prog.cancel = true;
        return 1;
    case WND_EV_KEY:
        if (ev.key != WND_K_ESC) return 0;
        g_prog.cancel = true;
        return 1;
    case WND_EV_CLOSE:
        g_prog.cancel = true;  // the close box asks to cancel; the operation closes it
        return 1;
    default:
        return 0;
    }
}

void show_bar() {
    if (g_prog.w && g_prog.mode == kProgressBar)
        wnd_progress_set(g_prog.w, kBarId, int(g_prog.pos), int(std::max(1L, g_prog.range)));
}

}  // namespace

namespace ui {
void progress_reset() { g_prog = Progress{}; }
}  // namespace ui

IER progress_open(int width_px, int mode) {
    if (g_prog.w) progress_close();
    if (width_px <= 0) width_px = kDefaultWidthPx;
    int cw, ch;
    font_cell_pixels(&cw, &ch);
    ScratchMark m = scr_mark();
    StrRef caption = msg(16);
    WinSpec ws;
    ws.kind = wkind::Progress;
    ws.caption = sv(caption);
    ws.rows = 4;
    ws.cols = std::max(24, (width_px + 40) / cw);
    ws.proc = progress_proc;
    int w = wm_create(ws);
    if (!w) {
        scr_release(m);
        return ier::COMMONCTLERROR;
    }
    int inner = std::max(10, width_px / cw);
    int left = std::max(1, (ws.cols - inner) / 2);
    WndCtlSpec c;
    if (mode == kProgressText) {
        c.kind = WND_TEXT;
        c.id = kBarId;
        c.row = 0;
        c.col = 1;
        c.rows = 3;
        c.cols = ws.cols - 2;
        c.style = WND_CS_NOTAB;
        wnd_ctl_create(w, c);
        wnd_text_clear(w, kBarId, wnd_attr(WND_WHITE | WND_BRIGHT, WND_BLACK | WND_BRIGHT));
    } else {
        c.kind = WND_LABEL;
        c.id = kTextId;
        c.row = 0;
        c.col = left;
        c.cols = inner;
        c.style = WND_CS_CENTRE;
        wnd_ctl_create(w, c);
        c = WndCtlSpec{};
        c.kind = WND_PROGRESS;
        c.id = kBarId;
        c.row = 1;
        c.col = left;
        c.cols = inner;
        wnd_ctl_create(w, c);
    }
    StrRef cancel = msg(20);
    c = WndCtlSpec{};
    c.kind = WND_BUTTON;
    c.id = ctlid::ProgressCancel;
    c.row = 3;
    c.cols = std::max<int>(10, cancel.n + 4);
    c.col = std::max(0, (ws.cols - c.cols) / 2);
    c.text = sv(cancel);
    wnd_ctl_create(w, c);
    wnd_set_focus(w, ctlid::ProgressCancel);
    scr_release(m);
    long range = g_prog.range, divisor = g_prog.divisor;
    bool unknown = g_prog.unknown;
    g_prog = Progress{};
    g_prog.w = w;
    g_prog.mode = mode;
    // a count prepared before the window opened stays
    g_prog.range = range;
    g_prog.divisor = divisor;
    g_prog.unknown = unknown;
    show_bar();
    return 0;
}

void progress_expect(long count) {
    g_prog.total = g_prog.pos = 0;
    g_prog.divisor = 1;
    g_prog.unknown = count <= 0;
    g_prog.range = count <= 0 ? kProgressUnknownRange : count;
    while (g_prog.range > kBarMax) {
        g_prog.range /= 2;
        g_prog.divisor *= 2;
    }
    show_bar();
}

void progress_step(long amount) {
    g_prog.total += amount;
    if (g_prog.unknown) {
        if (g_prog.total > kProgressUnknownRange) g_prog.total = 1;  // round again
        g_prog.pos = g_prog.total;
    } else {
        // The position comes from the whole amount, so that steps smaller
        // than the divisor still move the bar.
        g_prog.pos = std::clamp(g_prog.total / g_prog.divisor, 0L, g_prog.range);
    }
    show_bar();
    wm_pump();
}

IER progress_set_text(StrRef text) {
    if (!sr_ok(text)) return sr_status(text);
    if (!g_prog.w || !wnd_exists(g_prog.w)) {
        if (IER st = progress_open(kDefaultWidthPx, kProgressText)) return st;
    }
    std::string t(sv(text));
    if (g_prog.mode == kProgressBar) {
        wnd_set_text(g_prog.w, kTextId, t);
        return 0;
    }
    // Centred, lines and all, in the text area.
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < t.size(); i++) {
        if (t[i] == '\r' || t[i] == '\n') {
            if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') i++;
            lines.emplace_back();
        } else {
            lines.back() += t[i];
        }
    }
    WndRect r;
    wnd_ctl_rect(g_prog.w, kBarId, &r);
    WndAttr a = wnd_attr(WND_WHITE | WND_BRIGHT, WND_BLACK | WND_BRIGHT);
    wnd_text_clear(g_prog.w, kBarId, a);
    int top = std::max(0, (r.rows - int(lines.size())) / 2);
    for (size_t i = 0; i < lines.size(); i++) {
        int col = std::max(0, (r.cols - int(lines[i].size())) / 2);
        wnd_text_put(g_prog.w, kBarId, top + int(i), col, lines[i], a);
    }
    return 0;
}

void progress_close() {
    if (g_prog.w && wnd_exists(g_prog.w)) wm_destroy(g_prog.w);
    g_prog = Progress{};
}

bool progress_is_open() { return g_prog.w && wnd_exists(g_prog.w); }

bool progress_cancelled() { return g_prog.cancel; }

ProgressState progress_state() {
    return ProgressState{g_prog.range, g_prog.divisor, g_prog.pos, progress_is_open() ? g_prog.w : 0};
}

}  // namespace rt
