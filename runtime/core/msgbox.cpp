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
    if (!sr_ok(caption) || !caption.n) caption = msg(caption_code(kind));
    int b = msgbox_port()(sr_ok(text) ? text : sr_empty(), caption, kind);
    StrRef letters = msg(11);
    char r = 0;
    if (b == box::Ok || b == box::Yes) r = lst_field(letters, 1).n ? lst_field(letters, 1).p[0] : 0;
    else if (b == box::No) r = lst_field(letters, 2).n ? lst_field(letters, 2).p[0] : 0;
    scr_release(m);
    return r;
}

bool confirm(StrRef text) {
    ScratchMark m = scr_mark();
    char a = msg_box(text, sr_empty(), box::YesNo);
    StrRef yes = lst_field(msg(11), 1);
    bool r = a && yes.n && a == yes.p[0];
    scr_release(m);
    return r;
}

void status_box(IER st) {
    ScratchMark m = scr_mark();
    IER shown = st == ier::FromOrigin ? 0 : st;
    if (st == ier::FromOrigin) err_origin_get(&shown, nullptr);
    StrRef t = error_text(st);
    if (shown >= 128) msg_box(t, msg(13), box::Error);
    else msg_box(t, msg(12), box::Warning);
    err_detail_clear();
    scr_release(m);
}

}  // namespace rt
