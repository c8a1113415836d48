// The font stack, the font settings file QVFONT.PPN and the FontSet program.
// In a terminal a font can only make text bold; the rest of a setting is
// kept (the file is written back whole) and means nothing on screen.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/ui/wmimpl.h"

namespace rt {
namespace {

constexpr std::string_view kFontFile = "QVFONT.PPN";
constexpr int kSystemCellWidth = 9, kSystemCellHeight = 16;  // average width + 1, height + 3

FontSetting g_fonts[kFontStackMax];
int g_depth = 0;

// The lines of a text file that are not empty.
std::vector<std::string> file_lines(StrRef name) {
    std::vector<std::string> out;
    ScratchMark m = scr_mark();
    StrRef text = file_read(name);
    if (sr_ok(text)) {
        std::string_view t = sv(text);
        size_t at = 0;
        while (at <= t.size()) {
            size_t e = t.find('\n', at);
            std::string line(t.substr(at, e == std::string_view::npos ? std::string_view::npos : e - at));
            while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
            if (!line.empty()) out.push_back(line);
            if (e == std::string_view::npos) break;
            at = e + 1;
        }
    }
    scr_release(m);
    return out;
}

}  // namespace

namespace ui {
void fonts_reset() { g_depth = 0; }
}  // namespace ui

IER font_push(const FontSetting& f) {
    if (g_depth >= kFontStackMax) return ier::DATAOUTBOUND;
    FontSetting s = f;
    if (s.weight == 0) s.weight = 400;
    else if (s.weight == 1) s.weight = 700;
    s.face[sizeof s.face - 1] = 0;
    g_fonts[g_depth++] = s;
    return 0;
}

void font_pop() {
    if (g_depth > 0) g_depth--;
}

int font_depth() { return g_depth; }

const FontSetting* font_top() { return g_depth ? &g_fonts[g_depth - 1] : nullptr; }

void font_cell_pixels(int* width, int* height) {
    const FontSetting* f = font_top();
    *width = f && f->width > 0 ? f->width : kSystemCellWidth;
    *height = f && f->height > 0 ? f->height : kSystemCellHeight;
}

plat::WndAttr font_attr() {
    const FontSetting* f = font_top();
    return f && f->weight >= 700 ? plat::WND_A_BOLD : 0;
}

FontSetting font_parse(StrRef line) {
    FontSetting f;
    ScratchMark m = scr_mark();
    f.height = str_number(str_trim(lst_field(line, 1, ';')));
    f.width = str_number(str_trim(lst_field(line, 2, ';')));
    StrRef weight = lst_field(line, 3, ';');
    f.weight = sv(weight).find("BOLD") != std::string_view::npos ? 700 : 400;
    StrRef face = str_trim(lst_field(line, 4, ';'));
    size_t n = std::min<size_t>(face.n, sizeof f.face - 1);
    if (n) std::memcpy(f.face, face.p, n);
    f.face[n] = 0;
    scr_release(m);
    return f;
}

IER fonts_load() {
    ScratchMark m = scr_mark();
    StrRef name = env_find(sr(kFontFile));
    if (sr_ok(name) && name.n) {
        std::vector<std::string> lines = file_lines(name);
        if (!lines.empty()) font_push(font_parse(sr(lines[0])));
    }
    scr_release(m);
    return 0;
}

IER fontset_run(StrRef) {
    ScratchMark m = scr_mark();
    StrRef found = env_find(sr(kFontFile));
    std::string name(sr_ok(found) && found.n ? sv(found) : kFontFile);
    std::vector<std::string> lines = file_lines(sr(name));
    scr_release(m);
    if (lines.empty()) return 0;
    IER st = 0;
    int choice = ui::select_items(sr("Font"), lines, true, false, &st);
    if (choice < 1) return st == ier::UserCanceled ? IER(0) : st;
    // The program ends with its main window; the font applies from the next start.
    if (int top = ws_top()) wm_destroy(top);
    std::string text = lines[size_t(choice - 1)] + "\r\n";
    for (size_t i = 0; i < lines.size(); i++)
        if (int(i) != choice - 1) text += lines[i] + "\r\n";
    m = scr_mark();
    st = file_write(sr(name), kWriteReplace, sr(text));
    scr_release(m);
    return st;
}

}  // namespace rt
