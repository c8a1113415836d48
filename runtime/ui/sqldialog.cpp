// The connection dialog of the SQL layer as an Accept window: title 0090,
// fields of layout 0091 (host, database, user, password, remember), 0092 or
// 0093, defaults from a connection text. An INPUT answer file replays it as
// it replays every Accept window (the password, never recorded, is asked).
#include <string>
#include <vector>

#include "runtime/core/fmt.h"
#include "runtime/core/list.h"
#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/str.h"
#include "runtime/data/sql.h"
#include "runtime/ui/screen.h"

namespace rt {
namespace {

constexpr int kLayoutFull = 91, kLayoutNoDatabase = 93;  // 92: host default only
constexpr int kTitle = 90;

std::vector<std::string> items(StrRef list, int n) {
    std::vector<std::string> out;
    for (int i = 1; i <= n; i++) out.emplace_back(sv(str_unquote(str_trim(lst_field(list, i)))));
    return out;
}

// A default as an expression: the text quoted, so that no default can be
// read as code; a text holding both quotes gives no default.
StrRef literal(const std::string& v) {
    StrRef q = str_quote(sr(v));
    if (!sr_ok(q)) q = str_quote(sr(v), '"');
    return sr_ok(q) ? q : sr("''");
}

}  // namespace

IER sql_accept_dialog(int layout, StrRef defaults, StrRef* entered) {
    ScratchMark m = scr_mark();
    std::vector<std::string> d = items(sr_ok(defaults) ? defaults : sr_empty(), 5);
    StrRef pattern = msg(layout);
    StrRef list;
    if (layout == kLayoutFull)
        list = fmt(pattern, {literal(d[0]), literal(d[1]), literal(d[2]), literal(d[3])});
    else
        list = fmt(pattern, {literal(d[0])});
    std::string fields(sv(list));
    std::string title(sv(msg(kTitle)));
    scr_release(m);
    AcceptResult r = accept_window(sr(title), sr(fields));
    if (r.status) return r.status;
    m = scr_mark();
    std::vector<std::string> v = items(sr(r.values), 5);
    std::string host = v[0], db, user, pw;
    int remember = -1;
    if (layout == kLayoutNoDatabase) {
        user = v[1];
        pw = v[2];
    } else {
        db = v[1];
        user = v[2];
        pw = v[3];
        if (layout == kLayoutFull) remember = is_yes_word(sr(v[4])) || v[4] == "Y" ? 1 : 0;
    }
    StrRef text = sql_conn_text(sr(host), sr(db), sr(user), sr(pw), remember);
    *entered = scr_keep(m, text);
    return sr_ok(*entered) ? IER(0) : sr_status(*entered);
}

void sql_dialog_install() { sql_set_dialog(sql_accept_dialog); }

}  // namespace rt
