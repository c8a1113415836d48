#include "runtime/core/log.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/msg.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"

namespace rt {

StrRef log_file_name() {
    StrRef n = st_get(grp::Runtime, rtitem::LogName);
    if (n.n) return scr_copy(n);
    ScratchMark m = scr_mark();
    ScrBuild b;
    StrRef p = env_prefix();
    b.put(p).put("log.txt");
    return scr_keep(m, b.done());
}

void log_set_file(StrRef name) {
    if (!sr_ok(name) || !name.n) return;
    // Storing the name may move a name held in the table itself: delete the
    // file by the stored copy.
    if (st_set(grp::Runtime, rtitem::LogName, name) == 0) name = st_get(grp::Runtime, rtitem::LogName);
    file_delete(name);
}

IER log_text(StrRef text, unsigned bits) {
    if (!(static_cast<unsigned>(static_cast<uint16_t>(sysv_get(sysv::TRACE))) & bits)) return 0;
    return log_line(text);
}

IER log_line(StrRef text) {
    ScratchMark m = scr_mark();
    // A set name is used in place, so that a line can be written even when
    // the scratch area is full.
    StrRef name = st_get(grp::Runtime, rtitem::LogName);
    if (!name.n) name = log_file_name();
    IER st = file_append_line(name, text);
    scr_release(m);
    return st;
}

IER log_text(std::string_view text, unsigned bits) { return log_text(sr(text), bits); }

IER log_status(IER st, unsigned bits) {
    ScratchMark m = scr_mark();
    IER r = log_text(fmt("Error #%i", {static_cast<int>(st)}), bits);
    scr_release(m);
    return r;
}

StrRef today_text() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    // Day first for the languages that write it so; month first otherwise.
    int lang = lang_number();
    bool day_first = lang == 2 || lang == 3 || lang == 5;
    int a = day_first ? tm.tm_mday : tm.tm_mon + 1;
    int b = day_first ? tm.tm_mon + 1 : tm.tm_mday;
    return fmt("%02i-%02i-%04i", {a, b, tm.tm_year + 1900});
}

StrRef now_time_text() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return fmt("%02i:%02i:%02i", {tm.tm_hour, tm.tm_min, tm.tm_sec});
}

IER errlog_entry(StrRef text, StrRef file) {
    ScratchMark m = scr_mark();
    StrRef name = (sr_ok(file) && file.n) ? file : log_file_name();
    StrRef head = fmt("*****************************\r\n Date:%s - Time:%s - User:%s\r\n",
                      {today_text(), now_time_text(), "0"});
    ScrBuild b;
    b.put(head).put(sr_ok(text) ? text : sr_empty()).put("\r\n**********************\r\n\r\n");
    StrRef entry = b.done();
    IER st = sr_status(entry);
    if (!st) st = file_write(name, kPosNone, entry);
    scr_release(m);
    return st;
}

void fatal_check(bool cond, const char* name) {
    if (cond) return;
    // The process ends here, so the scratch area is given up: the box and
    // the entry must be made even when it is full. The name may lie in it.
    char copy[512];
    size_t len = 0;
    while (name && name[len] && len < sizeof copy - 1) {
        copy[len] = name[len];
        len++;
    }
    copy[len] = 0;
    scr_release(0);
    StrRef n = sr(copy, len);
    msg_box(n, sr("Assertion Fail"), box::Error);
    errlog_entry(n, sr("assertions.log"));
    std::fflush(nullptr);
    std::exit(kFatalExitStatus);
}

}  // namespace rt
