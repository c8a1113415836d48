// How the built-in functions and the procedure commands reach the records.
#include <string>

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/rec.h"
#include "runtime/data/recsql.h"
#include "runtime/expr/recport.h"
#include "runtime/script/proc.h"

namespace rt {
namespace {

constexpr int kFindInsert = 4;     // FILEFIND: a key not found is written and inserted
constexpr int kFindCondition = 8;  // FILEFIND: the key is a record condition

int port_file_number(StrRef name) {
    int n = dict_file_number(name);
    return n >= 1 && n <= dict_count() ? n : 0;
}

IER port_record_count(int file, long long* count) { return rec_count(file, {}, count); }

IER port_find(StrRef key, int file, int index, int flags) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    if (index > 0) c->key = static_cast<int16_t>(index);
    if (flags & kFindCondition) return rec_find_where(file, key);
    IER st = rec_read_key(file, c->key, key, (flags & 1) ? rk::GreaterEqual : 0);
    if (st == ier::EndOfFile && (flags & kFindInsert)) {
        dict_clear_record(file);
        if (IER s = dict_set_key(file, c->key, key)) return s;
        IER w = rec_write(rw::Insert, file, {}, {});
        if (w) return w;
        dict_save_record(file);
        c->status = 0;
    }
    return st;
}

IER port_locate(int action, int file) { return rec_action(file, action); }

IER port_key_text(int file, int index, int buffer, int segments, StrRef* out) {
    *out = sr_empty();
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    int key = index > 0 ? index : c->key;
    if (segments <= 0) return dict_key_value(file, key, buffer, out);
    KeySegment seg[kKeySegmentsMax];
    int n = dict_key(file, key, seg);
    if (n <= 0) return ier::DATAOUTBOUND;
    StrRef rec = dict_record(file, buffer);
    if (!sr_ok(rec)) return sr_status(rec);
    std::string t;
    for (int i = 0; i < n && i < segments; i++) t.append(rec.p + seg[i].offset, seg[i].length);
    *out = scr_copy(sr(t));
    return sr_status(*out);
}

IER port_last_status(int file, IER* st) {
    *st = 0;
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    *st = c->status;
    return 0;
}

IER port_field_chars(StrRef ref, int buffer, StrRef* out) {
    *out = sr_empty();
    std::string_view r = sv(ref);
    size_t open = r.find('{');
    if (open == std::string_view::npos || r.empty() || r.back() != '}') return ier::SINTAXERROR;
    int file = 0, field = 0;
    if (IER st = dict_resolve(sr(r.substr(open + 1, r.size() - open - 2)), sr(r.substr(0, open)), &file, &field))
        return st;
    StrRef v{};
    if (IER st = dict_value(file, field, buffer == 2 ? 2 : 1, &v)) return st;
    *out = scr_copy(v);
    return sr_status(*out);
}

// The file of a record command: the first argument, a number or a name;
// 0 or empty is the current file.
int command_file(const ArgumentList& a) {
    if (a.count < 1) return sysv_get(sysv::CURFIL);
    if (a.arg[0].is_text) {
        if (!a.arg[0].text.n) return sysv_get(sysv::CURFIL);
        return port_file_number(a.arg[0].text);
    }
    return a.arg[0].num ? a.arg[0].num : sysv_get(sysv::CURFIL);
}

// The rule numbers after the file, as the comma list they were written in.
std::string command_rules(const ArgumentList& a) {
    std::string r;
    for (int i = 1; i < a.count; i++) {
        if (i > 1) r += ',';
        r += std::string(sv(a.arg[i].text));
    }
    return r;
}

IER record_command(int op, const ArgumentList& a) {
    int file = command_file(a);
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    std::string rules = command_rules(a);
    IER st = rec_write(op, file, sr(rules), {});
    if (!st && op != rw::Delete) {
        // The script goes on with the record as it now stands in the table.
        dict_save_record(file);
        c->status = 0;
    }
    return st;
}

constexpr RecordPort kPort{port_file_number, port_record_count, port_find,      nullptr,          port_locate,
                           nullptr,          port_key_text,     port_last_status, port_field_chars};

}  // namespace

IER rec_command(int code, const ArgumentList& args) {
    switch (code) {
    case kw::RC_INSERT:
        return record_command(rw::Insert, args);
    case kw::RC_DELETE:
        return record_command(rw::Delete, args);
    case kw::RC_WRITE:
        return record_command(rw::Write, args);
    default:
        return dict_command(code, args);
    }
}

void rec_install() {
    rec_set_port(&kPort);
    cmd_register(1, rec_command);
}

}  // namespace rt
