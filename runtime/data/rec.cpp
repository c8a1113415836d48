// Moves, reads and writes of records on SQL tables, transactions and
// cursors. The statement texts come from recsql.cpp.
#include "runtime/data/rec.h"

#include <bitset>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/recsql.h"
#include "runtime/data/sql.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/script/proc.h"

namespace rt {
namespace {

constexpr IER kBadKey = 5;
constexpr IER kConcurrentChange = 7;
constexpr IER kNothingWritten = 127;
constexpr IER kNewRecord = 3;
constexpr std::string_view kBufferOnly[] = {"NUL", "NULL", "OTHER", "AVOID"};

std::vector<FileControl> g_fc;
std::bitset<kCursorsMax> g_cursors;
RelUpdateFn g_rel = nullptr;

bool aux(int bit) { return static_cast<uint16_t>(sysv_get(sysv::AUXSTAT)) & bit; }
void set_aux(int bit, bool on) {
    uint16_t v = static_cast<uint16_t>(sysv_get(sysv::AUXSTAT));
    v = on ? static_cast<uint16_t>(v | bit) : static_cast<uint16_t>(v & ~bit);
    sysv_set(sysv::AUXSTAT, static_cast<int16_t>(v));
}

IER run(const std::string& s, int slot = kSqlChoose, long long* rows = nullptr) {
    if (s.size() > kStrMax) return err_raise(ier::STROUTBOUND, mod::DataFile, "statement too long");
    return sql_exec(sr(s), slot, rows);
}

std::string table(int file) { return sql_name(sv(dict_name(file))); }
std::string text_of(StrRef s) { return std::string(sv(s)); }

void release_mine(int slot, const void* res) {
    if (slot >= 0 && res && sql_slot(slot).res == res) sql_release(slot);
}

void release_held(FileControl* c) {
    release_mine(c->held_slot, c->held_res);
    c->held_slot = -1;
    c->held_row = 0;
    c->held_res = nullptr;
}

void release_batches(FileControl* c) {
    release_mine(c->batch_slot, c->batch_res);
    release_mine(c->batch_prev, c->prev_res);
    c->batch_slot = c->batch_prev = -1;
    c->batch_res = c->prev_res = nullptr;
}

// The fields of a key with a value cut into their widths (only the fields
// the value reaches); names are views into the dictionary.
struct KeyParts {
    int n = 0;
    SqlField f[kKeySegmentsMax];
    int field[kKeySegmentsMax] = {};
    std::string value;  // owns what f[].text points into
};

IER key_parts(int file, int key, std::string_view value, KeyParts* out) {
    KeySegment seg[kKeySegmentsMax];
    int n = dict_key(file, key, seg);
    if (n <= 0) return err_raise(ier::BADINPUTDATA, mod::DataFile, "no such key");
    out->value.assign(value);
    size_t off = 0;
    out->n = 0;
    for (int i = 0; i < n && off < out->value.size(); i++) {
        FieldInfo fi;
        int fno = dict_key_field(file, key, i + 1);
        if (!dict_field(file, fno, &fi)) return ier::INTERNALERROR;
        size_t len = std::min<size_t>(seg[i].length, out->value.size() - off);
        out->f[out->n] = SqlField{sv(fi.name), fi.type, std::string_view(out->value).substr(off, len)};
        out->field[out->n] = fno;
        out->n++;
        off += seg[i].length;
    }
    return 0;
}

std::string key_text(int file, int key, int buffer) {
    ScratchMark m = scr_mark();
    StrRef k{};
    std::string out;
    if (dict_key_value(file, key, buffer, &k) == 0) out = text_of(k);
    scr_release(m);
    return out;
}

bool blank(std::string_view t) { return t.find_first_not_of(' ') == std::string_view::npos; }

// A statement whose first value is a count, on a slot of its own; the
// slots and _SQLSTK are left as they were.
IER count_query(const std::string& s, long long* count) {
    *count = 0;
    int16_t before = sysv_get(sysv::SQLSTK);
    int slot = sql_free_slot();
    if (slot < 0) return err_raise(ier::DATAOUTBOUND, mod::DataFile, "no free result slot");
    IER st = run(s, slot);
    if (!st) {
        StrRef v = sql_value(0, 0, slot);
        *count = std::atoll(text_of(v).c_str());
        sql_release(slot);
    }
    sysv_set(sysv::SQLSTK, before);
    return st == ier::EndOfFile ? IER(0) : st;
}

// Moves a row of a result into both halves of the record. Dates lose their
// hyphens; texts longer than their field are cut to it.
IER load_row(int file, int slot, int row) {
    int n = rec_stored_fields(file);
    int cols = sql_columns(slot);
    ScratchMark m = scr_mark();
    for (int k = 1; k <= n && k <= cols; k++) {
        FieldInfo fi;
        dict_field(file, k, &fi);
        std::string v = text_of(sql_value(row, k - 1, slot));
        if (fi.type == 'D' && v.size() == 10 && v[4] == '-' && v[7] == '-') v = v.substr(0, 4) + v.substr(5, 2) + v.substr(8, 2);
        if (!sql_numeric_type(fi.type) && v.size() > static_cast<size_t>(fi.width)) v.resize(static_cast<size_t>(fi.width));
        IER st = dict_set(file, k, sr(v));
        scr_release(m);
        if (st) return st;
    }
    dict_save_record(file);
    return 0;
}

// Both halves of a record as they were.
struct RecordCopy {
    std::string cur, saved;
    explicit RecordCopy(int file) : cur(text_of(dict_record(file, 1))), saved(text_of(dict_record(file, 2))) {}
    void put_back(int file) const {
        dict_put_record(file, sr(saved));
        dict_save_record(file);
        dict_put_record(file, sr(cur));
    }
};

// True when a row equals the saved copy in every stored field, as the row
// would stand in the record.
bool row_equals_saved(int file, int slot, int row) {
    RecordCopy keep(file);
    int n = rec_stored_fields(file);
    bool same = true;
    int cols = sql_columns(slot);
    ScratchMark m = scr_mark();
    for (int k = 1; k <= n && k <= cols && same; k++) {
        FieldInfo fi;
        dict_field(file, k, &fi);
        std::string v = text_of(sql_value(row, k - 1, slot));
        if (fi.type == 'D' && v.size() == 10 && v[4] == '-' && v[7] == '-') v = v.substr(0, 4) + v.substr(5, 2) + v.substr(8, 2);
        if (!sql_numeric_type(fi.type) && v.size() > static_cast<size_t>(fi.width)) v.resize(static_cast<size_t>(fi.width));
        if (dict_set(file, k, sr(v))) same = false;
        StrRef a{}, b{};
        if (same && (dict_value(file, k, 1, &a) || dict_value(file, k, 2, &b) || sv(a) != sv(b))) same = false;
        scr_release(m);
    }
    keep.put_back(file);
    return same;
}

// Move step 6: a key value that several rows share is read whole into a
// held result, and the record comes from its first row (last backwards).
IER read_group(int file, FileControl* c, bool back) {
    std::string kv = key_text(file, c->key, 1);
    std::string cond;
    if (IER st = rec_key_condition(file, c->key, sr(kv), sqlop::Eq, &cond)) return st;
    if (cond.empty()) return 0;
    long long n = 0;
    if (count_query("SELECT COUNT (*) FROM " + table(file) + " WHERE " + cond + ";", &n))
        return err_raise(ier::INTERNALERROR, mod::DataFile, "sqlMultiRead: key=" + kv);
    if (n <= 1) return 0;
    int slot = sql_free_slot();
    IER st = slot < 0 ? IER(ier::DATAOUTBOUND)
                      : run("SELECT * FROM " + table(file) + " WHERE " + cond + " ORDER BY " +
                                rec_key_order(file, c->key, false) + ";",
                            slot);
    if (st) return err_raise(ier::INTERNALERROR, mod::DataFile, "sqlMultiRead: key=" + kv);
    c->held_slot = static_cast<int16_t>(slot);
    c->held_res = sql_slot(slot).res;
    int rows = sql_rows(slot);
    c->held_row = back ? rows - 1 : 0;
    return load_row(file, slot, c->held_row);
}

// A statement of one row into the record; then the group of its key.
IER read_one(int file, FileControl* c, const std::string& where, const std::string& order, bool back,
             IER none) {
    std::string s = "SELECT * FROM " + table(file) + (where.empty() ? "" : " WHERE " + where) + " ORDER BY " +
                    order + " LIMIT 1;";
    IER st = run(s);
    if (st == ier::EndOfFile) {
        dict_clear_record(file);
        return c->status = none;
    }
    if (st) return st;
    if ((st = load_row(file, sql_current(), 0))) return st;
    if ((st = read_group(file, c, back))) return st;
    return c->status = 0;
}

// A failure inside an open transaction ends it: the server has refused
// the rest of it already, and the caller's COMMIT must not find it open.
IER fail_txn(IER st) {
    if (st >= 128 && aux(kAuxTransaction)) rec_end(st);
    return st;
}

int free_cursor() {
    for (int i = 0; i < kCursorsMax; i++)
        if (!g_cursors.test(static_cast<size_t>(i))) return i;
    return -1;
}

// One of several rows sharing a key: found under a FOR UPDATE cursor as
// the row equal to the saved copy, then updated (set) or deleted (set
// empty). 7 when no row equals it any more.
IER cursor_change(int file, const std::string& keycond, const std::string& set) {
    int n = free_cursor();
    if (n < 0) return err_raise(ier::DATAOUTBOUND, mod::DataFile, "too many cursors");
    bool own = !aux(kAuxTransaction);
    IER st = 0;
    if (own) {
        if ((st = rec_begin())) return st;
    }
    std::string name = "curs_" + std::to_string(n);
    g_cursors.set(static_cast<size_t>(n));
    st = run("DECLARE " + name + " CURSOR FOR SELECT * FROM " + table(file) + " WHERE " + keycond + " ORDER BY " +
             rec_key_order(file, 1, false) + " FOR UPDATE;");
    bool declared = st == 0;
    if (!st) {
        std::string dir = "FIRST";
        for (;;) {
            st = run("FETCH " + dir + " FROM \"" + name + "\";");
            if (st == ier::EndOfFile) {
                st = kConcurrentChange;
                break;
            }
            if (st) break;
            if (row_equals_saved(file, sql_current(), 0)) break;
            dir = "NEXT";
        }
    }
    if (!st) {
        st = set.empty() ? run("DELETE FROM " + table(file) + " WHERE CURRENT OF " + name + ";")
                         : run("UPDATE " + table(file) + " SET " + set + " WHERE CURRENT OF " + name + ";");
    }
    if (declared && st < 128) {
        IER cs = run("CLOSE " + name + ";");
        if (!st) st = cs;
    }
    g_cursors.reset(static_cast<size_t>(n));
    if (own) return rec_end(st);
    return fail_txn(st);
}

bool is_key1_field(int file, int field) {
    KeySegment seg[kKeySegmentsMax];
    int n = dict_key(file, 1, seg);
    for (int i = 1; i <= n; i++)
        if (dict_key_field(file, 1, i) == field) return true;
    return false;
}

IER run_rules(int file, StrRef rules, int sign, bool old_values) {
    if (!g_rel) return 0;
    RecordCopy keep(file);
    if (old_values) dict_restore_record(file);
    sysv_set(sysv::SGN, static_cast<int16_t>(sign));
    IER st = g_rel(file, rules, sign);
    if (old_values) keep.put_back(file);
    return st;
}

}  // namespace

// ------------------------------------------------------------ control

FileControl* rec_control(int file) {
    if (file < 1 || file > dict_count()) {
        err_raise(ier::FILEOUTBOUND, mod::DataFile, "DataFileCtrl");
        return nullptr;
    }
    if (g_fc.size() <= static_cast<size_t>(file)) g_fc.resize(static_cast<size_t>(kStructsMax) + 1);
    FileControl& c = g_fc[static_cast<size_t>(file)];
    if (c.stamp != dict_stamp(file)) {
        release_held(&c);
        release_batches(&c);
        c = FileControl{};
        c.stamp = dict_stamp(file);
    }
    return &c;
}

IER rec_open(int file) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    release_held(c);
    release_batches(c);
    unsigned stamp = c->stamp;
    *c = FileControl{};
    c->stamp = stamp;
    return 0;
}

void rec_reset_all() {
    for (FileControl& c : g_fc) {
        release_held(&c);
        release_batches(&c);
    }
    g_fc.clear();
    g_cursors.reset();
}

// ------------------------------------------------------------ text

int rec_stored_fields(int file) {
    int n = dict_fields(file);
    while (n > 0) {
        FieldInfo fi;
        dict_field(file, n, &fi);
        std::string_view name = sv(fi.name);
        bool only_buffer = false;
        for (std::string_view b : kBufferOnly) {
            if (name.size() != b.size()) continue;
            bool same = true;
            for (size_t i = 0; i < b.size() && same; i++) same = std::toupper(static_cast<unsigned char>(name[i])) == b[i];
            only_buffer = only_buffer || same;
        }
        if (!only_buffer) break;
        n--;
    }
    return n;
}

IER rec_key_condition(int file, int key, StrRef value, int op, std::string* out) {
    KeyParts p;
    if (IER st = key_parts(file, key, sv(value), &p)) return st;
    return sql_key_condition(p.f, p.n, op, out);
}

IER rec_range(int file, int key, StrRef start, StrRef bound, int op, StrRef extra, std::string* out) {
    KeyParts a, b;
    if (IER st = key_parts(file, key, sv(start), &a)) return st;
    if (IER st = key_parts(file, key, sv(bound), &b)) return st;
    return sql_range_condition(a.f, a.n, b.f, b.n, op, sv(extra), out);
}

std::string rec_key_order(int file, int key, bool descending) {
    std::string_view names[kKeySegmentsMax];
    int n = 0;
    KeySegment seg[kKeySegmentsMax];
    int segs = dict_key(file, key, seg);
    for (int i = 1; i <= segs; i++) {
        FieldInfo fi;
        if (dict_field(file, dict_key_field(file, key, i), &fi)) names[n++] = sv(fi.name);
    }
    if (segs == 1 && dict_key_field(file, key, 1) == 1) {
        // The first field alone does not order the rows that share it.
        n = 0;
        for (int k = 1; k <= 3 && k <= rec_stored_fields(file); k++) {
            FieldInfo fi;
            dict_field(file, k, &fi);
            names[n++] = sv(fi.name);
        }
    }
    return sql_key_order(names, n, descending, sysv_get(sysv::SYSCOMPAT) & kSyscompatPlainOrder);
}

IER rec_field_sql(int file, int field, int buffer, std::string* out, bool* is_null) {
    StrRef v{};
    if (IER st = dict_value(file, field, buffer, &v)) return st;
    FieldInfo fi;
    dict_field(file, field, &fi);
    IER st = sql_render(fi.type, sv(v), out, is_null);
    if (st) {
        ScratchMark m = scr_mark();
        err_raise(st, mod::DataFile, "not a number: " + std::string(sv(fi.name)));
        scr_release(m);
    }
    return st;
}

IER rec_row_condition(int file, int buffer, std::string* out) {
    out->clear();
    int n = rec_stored_fields(file);
    for (int k = 1; k <= n; k++) {
        FieldInfo fi;
        StrRef v{};
        dict_field(file, k, &fi);
        if (IER st = dict_value(file, k, buffer, &v)) return st;
        std::string c;
        if (IER st = sql_compare(SqlField{sv(fi.name), fi.type, sv(v)}, sqlop::Eq, &c)) return st;
        *out = sql_join(*out, c);
    }
    return 0;
}

// ------------------------------------------------------------ moves

IER rec_move(int file, int bits, StrRef extra, StrRef bound) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    if (bits & mv::Clear) {
        release_held(c);
        dict_clear_record(file);
        return c->status = kNewRecord;
    }
    if ((bits & mv::Relative) && (bits & mv::Back) && c->status == ier::EndOfFile) bits = mv::Bot;
    bool back = bits & mv::Back;
    if (bits & mv::End) release_held(c);
    if (c->held_slot >= 0 && sql_slot(c->held_slot).res != c->held_res) {
        c->held_slot = -1;  // the slot went with its connection
        c->held_res = nullptr;
    }
    if (c->held_slot >= 0 && (bits & mv::Relative)) {
        int r = c->held_row + (back ? -1 : 1);
        if (r >= 0 && r < sql_rows(c->held_slot)) {
            c->held_row = r;
            if (IER st = load_row(file, c->held_slot, r)) return st;
            return c->status = 0;
        }
        release_held(c);
    }
    release_held(c);
    std::string cond;
    if (extra.n)
        if (IER st = rec_filter(extra, &cond)) return st;
    std::string where;
    if (bits & mv::End) {
        where = cond;
        return read_one(file, c, where, rec_key_order(file, c->key, !back), !back, ier::EndOfFile);
    }
    std::string kv = key_text(file, c->key, 1);
    if (bits & mv::Relative) {
        if (IER st = rec_range(file, c->key, sr(kv), bound, back ? sqlop::Lt : sqlop::Gt, sr(cond), &where))
            return st;
        return read_one(file, c, where, rec_key_order(file, c->key, back), back,
                        back ? IER(ier::KeyNotFound) : IER(ier::EndOfFile));
    }
    int op = back ? ((bits & mv::Equal) ? sqlop::Le : sqlop::Eq) : ((bits & mv::Equal) ? sqlop::Ge : sqlop::Eq);
    if (IER st = rec_key_condition(file, c->key, sr(kv), op, &where)) return st;
    where = sql_join(where, cond.empty() ? cond : "(" + cond + ")");
    return read_one(file, c, where, rec_key_order(file, c->key, back), back, ier::EndOfFile);
}

IER rec_read_key(int file, int key, StrRef value, int options) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    if (key < 1 || key > dict_keys(file)) return err_raise(ier::BADINPUTDATA, mod::DataFile, "no such key");
    c->key = static_cast<int16_t>(key);
    release_held(c);
    bool ge = options & rk::GreaterEqual;
    std::string_view v = sv(value);
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    std::string where;
    if (v.empty() && !ge) return c->status = ier::EndOfFile;
    if (!v.empty())
        if (IER st = rec_key_condition(file, key, value, ge ? sqlop::Ge : sqlop::Eq, &where)) return st;
    IER st = read_one(file, c, where, rec_key_order(file, key, false), false, ier::EndOfFile);
    if (st == ier::EndOfFile && (options & rk::Fill)) {
        dict_set_key(file, key, value);
        return st;
    }
    if (st) return st;
    std::string got = key_text(file, key, 1);
    if (got.compare(0, v.size(), v) != 0) return c->status = ier::KeyNotFound;
    return 0;
}

IER rec_find_where(int file, StrRef condition) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    release_held(c);
    std::string where;
    if (IER st = rec_filter(condition, &where)) return st;
    return read_one(file, c, where, rec_key_order(file, c->key, false), false, ier::EndOfFile);
}

// ------------------------------------------------------------ writes

IER rec_insert(int file) {
    if (!rec_control(file)) return ier::FILEOUTBOUND;
    std::string values;
    int n = rec_stored_fields(file);
    for (int k = 1; k <= n; k++) {
        std::string v;
        if (IER st = rec_field_sql(file, k, 1, &v)) return st;
        if (k > 1) values += ',';
        values += v;
    }
    return fail_txn(run("INSERT INTO " + table(file) + " VALUES (" + values + ");"));
}

IER rec_update(int file) {
    if (!rec_control(file)) return ier::FILEOUTBOUND;
    if (!dict_record_changed(file)) return 0;
    int n = rec_stored_fields(file);
    std::string set, rest;
    for (int k = 1; k <= n; k++) {
        StrRef a{}, b{};
        if (IER st = dict_value(file, k, 1, &a)) return st;
        if (IER st = dict_value(file, k, 2, &b)) return st;
        FieldInfo fi;
        dict_field(file, k, &fi);
        if (sv(a) != sv(b)) {
            std::string v;
            if (IER st = rec_field_sql(file, k, 1, &v)) return st;
            if (!set.empty()) set += ',';
            set += sql_name(sv(fi.name)) + " = " + v;
        }
        if (!is_key1_field(file, k)) {
            std::string c;
            if (IER st = sql_compare(SqlField{sv(fi.name), fi.type, sv(b)}, sqlop::Eq, &c)) return st;
            rest = sql_join(rest, c);
        }
    }
    if (set.empty()) return 0;  // only fields of the buffer changed
    std::string keycond;
    if (IER st = rec_key_condition(file, 1, sr(key_text(file, 1, 2)), sqlop::Eq, &keycond)) return st;
    long long count = 0;
    if (IER st = count_query("SELECT COUNT (*) FROM " + table(file) + " WHERE " + keycond + ";", &count))
        return fail_txn(st);
    if (count > 1) return cursor_change(file, keycond, set);
    // The row must still be the one that was read: a row someone else
    // changed in the meantime is not overwritten (7).
    long long rows = 0;
    IER st = run("UPDATE ONLY " + table(file) + " SET " + set + " WHERE " + sql_join(keycond, rest) + ";",
                 kSqlChoose, &rows);
    if (st) return fail_txn(st);
    return rows == 0 ? kConcurrentChange : IER(0);
}

IER rec_delete(int file, bool check) {
    if (!rec_control(file)) return ier::FILEOUTBOUND;
    std::string keycond;
    if (IER st = rec_key_condition(file, 1, sr(key_text(file, 1, 2)), sqlop::Eq, &keycond)) return st;
    if (keycond.empty()) return kBadKey;
    long long count = 0;
    if (IER st = count_query("SELECT COUNT (*) FROM " + table(file) + " WHERE " + keycond + ";", &count))
        return fail_txn(st);
    if (check && !(sysv_get(sysv::UPSTAT) & kUpstatNoDeleteCheck) && count != 1)
        return err_raise(ier::INDEXCMDERROR, mod::DataFile, "delete: rows " + std::to_string(count));
    if (count > 1) return cursor_change(file, keycond, std::string());
    return fail_txn(run("DELETE FROM ONLY " + table(file) + " WHERE " + keycond + ";"));
}

IER rec_begin() {
    if (aux(kAuxTransaction)) return 0;
    IER st = run("START TRANSACTION;");
    if (!st) set_aux(kAuxTransaction, true);
    return st;
}

IER rec_end(IER s) {
    if (!aux(kAuxTransaction)) return s;
    // What failed leaves nothing behind: a COMMIT after a failure the
    // runtime found by itself would keep half of the work.
    IER st = run(s >= kBadKey ? "ROLLBACK;" : "COMMIT;");
    set_aux(kAuxTransaction, false);
    return s ? s : st;
}

IER rec_write(int op, int file, StrRef rules, StrRef test) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    int kind = op & 0x0700;
    bool current = c->status <= 1;
    if (kind == rw::Delete && !current) return kBadKey;
    // A write without a current record inserts only what was filled in:
    // an untouched record (after a find that found nothing) is no row.
    bool inserting = kind == rw::Insert || (kind == rw::Write && !current && dict_record_changed(file));
    bool skip = false;
    if ((op & rw::KeyTests) && kind != rw::Delete && (kind & 0x0100)) {
        std::string k1 = key_text(file, 1, 1);
        if (blank(k1)) {
            skip = true;
        } else if (test.n) {
            ScratchMark m = scr_mark();
            StrRef now = ex_text(test);
            std::string a = text_of(now);
            bool ok = sr_ok(now);
            RecordCopy keep(file);
            dict_clear_record(file);
            StrRef empty = ex_text(test);
            ok = ok && sr_ok(empty);
            skip = ok && a == sv(empty);
            keep.put_back(file);
            scr_release(m);
        }
        if (!skip && inserting && !(sysv_get(sysv::UPSTAT) & kUpstatNoKeyTest)) {
            std::string keycond;
            if (IER st = rec_key_condition(file, 1, sr(k1), sqlop::Eq, &keycond)) return fail_txn(st);
            long long n = 0;
            if (IER st = count_query("SELECT COUNT (*) FROM " + table(file) + " WHERE " + keycond + ";", &n))
                return fail_txn(st);
            if (n > 0) {
                if (aux(kAuxTransaction)) rec_end(kBadKey);
                return kBadKey;
            }
        }
    }
    if (skip) return 0;
    bool changed = dict_record_changed(file);
    bool rules_on = g_rel && !(op & rw::NoRules);
    bool own = false;
    IER st = 0;
    if (rules_on && !aux(kAuxTransaction)) {
        if ((st = rec_begin())) return st;
        own = true;
    }
    if (inserting && (kind & 0x0100)) st = rec_insert(file);
    else if (kind == rw::Write && changed) st = rec_update(file);
    else if (kind == rw::Delete) st = rec_delete(file, false);
    bool wrote = inserting || kind == rw::Delete || (kind == rw::Write && changed) || kind == rw::OldRules;
    if (!st && rules_on && wrote && (op & rw::OldRules) && !inserting) st = run_rules(file, rules, -1, true);
    if (!st && rules_on && wrote && (op & rw::NewRules)) st = run_rules(file, rules, 1, false);
    if (st >= kBadKey && aux(kAuxTransaction)) return rec_end(st);
    if (own) return rec_end(st);
    return st;
}

IER rec_delete_group(int file, int key, StrRef value, int options) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    std::string cond;
    if (IER st = rec_key_condition(file, key, value, sqlop::Eq, &cond)) return st;
    // An empty value covers no field: it would remove every row.
    if (cond.empty()) return kBadKey;
    release_held(c);
    IER st = rec_begin();
    if (st) return st;
    int slot = sql_free_slot();
    if (slot < 0) st = err_raise(ier::DATAOUTBOUND, mod::DataFile, "no free result slot");
    else st = run("SELECT * FROM " + table(file) + " WHERE " + cond + " ORDER BY " + rec_key_order(file, key, false) + ";", slot);
    bool rows = st == 0;
    if (st == ier::EndOfFile) st = 0;
    if (rows && (options & 2)) {
        st = kConcurrentChange;  // rows exist: the caller only asked
        sql_release(slot);
        rows = false;
    }
    if (rows) {
        c->held_slot = static_cast<int16_t>(slot);
        c->held_res = sql_slot(slot).res;
        for (int r = sql_rows(slot) - 1; r >= 0 && !st && g_rel; r--) {
            if ((st = load_row(file, slot, r))) break;
            st = run_rules(file, {}, -1, true);
        }
        release_held(c);
        if (!st) st = run("DELETE FROM ONLY " + table(file) + " WHERE " + cond + ";");
    }
    if (st >= kBadKey) return rec_end(st);
    if ((options & 0xFF) == 0 || (options & 1)) return rec_end(st);
    return st;
}

IER rec_delete_all(StrRef table_name) {
    return fail_txn(run("DELETE FROM ONLY " + sql_name(sv(table_name)) + ";"));
}

IER rec_count(int file, StrRef where, long long* count) {
    *count = 0;
    if (!rec_control(file)) return ier::FILEOUTBOUND;
    std::string cond;
    if (where.n)
        if (IER st = rec_filter(where, &cond)) return st;
    std::string s = "SELECT COUNT (*) FROM " + table(file) + " " + (cond.empty() ? "" : "WHERE " + cond);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return count_query(s + ";", count);
}

// ------------------------------------------------------------ operation words

namespace {
constexpr std::string_view kActions = "NEW,TOP,PRV,RLD,NXT,BOT,FND,SVE,INS,DEL,LST,NLS,BLS,IMP,MDE,DDE,PRN,TSL";
constexpr int kWords[] = {0,      0x0F01, 0x0F24, 0x0F16, 0x0000, 0x0F12, 0x0F20, 0x0040, 0x0F00, 0x0D00,
                          0x0642, 0x0042, 0x00FF, 0x0046, 0x00FF, 0x00FF, 0x00FF, 0x00FF, 0x00FF};
constexpr int kActionCount = 18;
}  // namespace

int rec_action_code(StrRef word) {
    std::string w(sv(word));
    while (!w.empty() && w.back() == ' ') w.pop_back();
    while (!w.empty() && w.front() == ' ') w.erase(0, 1);
    for (char& ch : w) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    if (w == "NEXT") w = "NXT";
    else if (w == "PREVIOUS") w = "PRV";
    else if (w == "BOTTOM") w = "BOT";
    if (w.size() != 3) return 0;
    for (int i = 0; i < kActionCount; i++)
        if (kActions.substr(static_cast<size_t>(i) * 4, 3) == w) return i + 1;
    return 0;
}

int rec_action_word(int code) { return code >= 1 && code <= kActionCount ? kWords[code] : 0x00FF; }

IER rec_operation(int file, int word) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    if (word == 0) return c->status;
    int hi = (word >> 8) & 0xFF, lo = word & 0xFF;
    if (word == 0x00FF) return 0;
    if (hi & 7) {
        int kind = hi & 7;
        bool changed = dict_record_changed(file);
        IER st = 0;
        bool wrote = false;
        if (kind != 7 || changed) {
            st = rec_write((kind << 8) | ((hi & 8) ? rw::KeyTests : 0), file, {}, {});
            wrote = true;
        }
        if (st >= 128) return st;
        if (st >= kBadKey) {
            // The user's edit stays when the row changed under it (7);
            // otherwise the record is cleared or read again.
            if (st != kConcurrentChange) {
                if (lo & mv::Clear) dict_clear_record(file);
                else rec_read_key(file, c->key, sr(key_text(file, c->key, 1)), 0);
            }
            return st;
        }
        if (wrote && kind != 6) {
            dict_save_record(file);
            c->status = 0;
        }
    }
    if (lo == 0) return 0;
    return rec_move(file, lo);
}

IER rec_action(int file, int code) {
    int word = rec_action_word(code);
    if (word == 0x00FF) return rec_control(file) ? IER(0) : IER(ier::FILEOUTBOUND);
    return rec_operation(file, word);
}

// ------------------------------------------------------------ batches

IER rec_batch(int file, int key, StrRef start, StrRef bound, int limit, int op, StrRef condition) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    if (key <= 0) key = c->key;
    std::string cond, where;
    if (condition.n)
        if (IER st = rec_filter(condition, &cond)) return st;
    if (IER st = rec_range(file, key, start, bound, op, sr(cond), &where)) return st;
    int slot = sql_free_slot();
    if (slot < 0) return err_raise(ier::DATAOUTBOUND, mod::DataFile, "no free result slot");
    std::string s = "SELECT * FROM " + table(file) + (where.empty() ? "" : " WHERE " + where) + " ORDER BY " +
                    rec_key_order(file, key, op == sqlop::Lt) + " LIMIT " + std::to_string(limit < 0 ? 0 : limit) +
                    ";";
    IER st = run(s, slot);
    c->batch_status = st;
    if (st) return st;
    release_mine(c->batch_prev, c->prev_res);
    c->batch_prev = c->batch_slot;
    c->prev_res = c->batch_res;
    c->batch_slot = static_cast<int16_t>(slot);
    c->batch_res = sql_slot(slot).res;
    c->batch_row = 0;
    return 0;
}

namespace {
bool batch_held(const FileControl* c) {
    return c && c->batch_slot >= 0 && sql_slot(c->batch_slot).res == c->batch_res;
}
}  // namespace

int rec_batch_rows(int file) {
    FileControl* c = rec_control(file);
    return batch_held(c) ? sql_rows(c->batch_slot) : 0;
}

StrRef rec_batch_value(int file, int row, int field) {
    FileControl* c = rec_control(file);
    if (!batch_held(c) || field < 1) return sr_empty();
    return sql_value(row, field - 1, c->batch_slot);
}

IER rec_batch_load(int file, int row) {
    FileControl* c = rec_control(file);
    if (!c) return ier::FILEOUTBOUND;
    if (!batch_held(c) || row < 0 || row >= sql_rows(c->batch_slot)) return ier::EndOfFile;
    c->batch_row = row;
    if (IER st = load_row(file, c->batch_slot, row)) return st;
    return c->status = 0;
}

void rec_batch_release(int file) {
    if (FileControl* c = rec_control(file)) release_batches(c);
}

// ------------------------------------------------------------ record loop

IER rec_loop(int file, StrRef start, StrRef record_cond, StrRef write_exp, StrRef end_cond, StrRef rules,
             RecLoopFn each, void* ctx, int* written) {
    *written = 0;
    if (file && !rec_control(file)) return ier::FILEOUTBOUND;
    IER go = ex_cond(start);
    if (go != 1) return go >= 128 ? go : IER(0);
    IER st = 0;
    for (;;) {
        st = 0;
        IER rc = ex_cond(record_cond);
        if (rc >= 122) {
            st = rc;
        } else if (rc == 1) {
            Value w;
            ScratchMark m = scr_mark();
            IER e = ex_eval(write_exp, &w);
            long long v = e == ier::NullExpression ? 1 : w.is_text() ? 0 : num_int_part(w.num, num_precis());
            scr_release(m);
            if (e >= 122 && e != ier::NullExpression) {
                st = e;
            } else if (!file) {
                if (v < 128) {
                    ++*written;
                    if (each) st = each(ctx);
                } else {
                    st = static_cast<IER>(v);
                }
            } else if (v == 1) {
                st = rec_write(rw::Insert, file, rules, {});
                if (!st) {
                    ++*written;
                    if (each) st = each(ctx);
                }
            } else if (v == 0) {
                st = kNothingWritten;
            } else if (v >= 128) {
                st = static_cast<IER>(v);
            }
        }
        if (st < 122 && script_ports().cancel_requested && script_ports().cancel_requested()) st = ier::UserCanceled;
        if (st > 121) break;
        IER ec = ex_cond(end_cond);
        if (ec >= 122) {
            st = ec;
            break;
        }
        if (ec != 0) break;
    }
    return st >= 128 ? st : IER(0);
}

void rec_set_rel_update(RelUpdateFn f) { g_rel = f; }

}  // namespace rt
