#include "runtime/core/msgbox.h"

#include <cstdio>
#include <string>

#include "platform/fs.h"
#include "runtime/core/list.h"
#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"

namespace rt {
namespace {

MsgBoxFn g_port = nullptr;

// Default caption of each kind of box.
int caption_code(int kind) {
    switch (kind) {
    case box::Warning: return 12;
    case box::Error: return 13;
    default: return 14;
    }
}

// Line breaks of any form become a newline and an indent.
std::string for_people(StrRef t) {
    std::string u = plat::cp1252_to_utf8(sv(t));
    std::string out;
    for (size_t i = 0; i < u.size(); i++) {
        char c = u[i];
        if (c == '\r' || c == '\n') {
            if (i + 1 < u.size() && (u[i + 1] == '\r' || u[i + 1] == '\n') && u[i + 1] != c) i++;
            out += "\n    ";
        } else {
            out += c;
        }
    }
    return out;
}

// A scratch copy of a text that may lie in the string table: the first
// message lookup can load the language file, which moves the table's texts.
StrRef held(StrRef t) {
    if (!sr_ok(t)) return sr_empty();
    StrRef c = scr_copy(t);
    return sr_ok(c) ? c : t;
}

// First character of field n of message 0011 (1 the yes letter, 2 the no
// letter); the built-in letters when the message cannot be had because the
// scratch area is full, since an answer must be given all the same.
char answer_letter(int n) {
    ScratchMark m = scr_mark();
    StrRef letters = msg(11);
    if (!sr_ok(letters)) letters = sr("Yy,Nn");
    StrRef f = lst_field(letters, n);
    char c = sr_ok(f) && f.n ? f.p[0] : 0;
    scr_release(m);
    return c;
}

}  // namespace

int msgbox_stderr(StrRef text, StrRef caption, int kind) {
    int answer = kind == box::YesNo ? box::Yes : box::Ok;
    const char* kname = kind == box::Error ? "error" : kind == box::Warning ? "warning" : kind == box::YesNo ? "question" : "information";
    std::fprintf(stderr, "[%s] %s\n    %s\n    -> %s\n", kname, for_people(caption).c_str(),
                 for_people(text).c_str(), answer == box::Yes ? "Yes" : "OK");
    std::fflush(stderr);
    return answer;
}

void msgbox_set_port(MsgBoxFn f) { g_port = f; }
MsgBoxFn msgbox_port() { return g_port ? g_port : msgbox_stderr; }

char msg_box(StrRef text, StrRef caption, int kind) {
    ScratchMark m = scr_mark();
    text = held(text);
    if (sr_ok(caption) && caption.n) caption = held(caption);
    else if (!sr_ok(caption = msg(caption_code(kind)))) caption = sr_empty();
    int b = msgbox_port()(text, caption, kind);
    char r = 0;
    if (b == box::Ok || b == box::Yes) r = answer_letter(1);
    else if (b == box::No) r = answer_letter(2);
    scr_release(m);
    return r;
}

bool confirm(StrRef text) {
    char a = msg_box(text, sr_empty(), box::YesNo);
    return a && a == answer_letter(1);
}

void status_box(IER st) {
    ScratchMark m = scr_mark();
    IER shown = st;
    if (st == ier::FromOrigin) err_origin_get(&shown, nullptr);
    StrRef t = error_text(st);
    // The status that cannot be put in words (the scratch area is full) is
    // still named.
    if (!sr_ok(t)) t = sr(status_name(shown));
    if (shown >= 128) msg_box(t, msg(13), box::Error);
    else msg_box(t, msg(12), box::Warning);
    err_detail_clear();
    scr_release(m);
}

}  // namespace rt
