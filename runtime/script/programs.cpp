#include "runtime/script/programs.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/list.h"
#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/vars.h"
#include "runtime/script/proc.h"

namespace rt {

const std::string_view kProgramTypes =
    "Menu,Accept,AcceptRun,MantAux,MantMain,MantAuto,MantMovs,LnManMain,LnNavMain,PrcExec,Report,Reorg,Copy,"
    "FileTrans,Help,Perform,FontSet,WizzSelect,ExpEval";
const std::string_view kFileTypes = "PPN,PAN,STP,DAT,DAT,PDC,PRX,QVA,PMT,PDF,TXT,PDI,HLP,CFG";

namespace {

constexpr int kTypes = ptype::ExpEval;
ProgramRunner g_runners[kTypes + 1];

// Parameter names by number: each range has its base and its names.
struct ParamRange {
    int first, last, base;
    std::string_view names;
};
constexpr ParamRange kParams[] = {
    {101, 116, 100,
     "ACCEPT_PRC%,WINNAME$,PROG_MODE$,PARM_FILE$,PARM_FILE_WRITE$,SOURCEFILE%,IMP_MODE%,RD_EXP$,WR_EXP$,EOT_EXP$,"
     "RD_COND$,TARGET$,LOAD_IMPORT$,MNU_IMPORT$,AUTO_IMPORT$,STRUCT$"},
    {91, 99, 90, "DEVICE$,DOCNAME$,ACBOUND$,INDEX%,LIMITS$,AUXLOAD$,RESET$,STEPS$,PRCNAME$"},
    {71, 81, 70, "ATEND$,BRKEND$,BREAK$,COND$,MAXLINE%,LINESTEP%,TOTALBASE%,CONTINUE%,EXTRASTEP%,TITLE$,WD"},
    {51, 67, 50,
     "FD$,ALARM$,ASSIGN$,LNASSIGN$,FILEDEF$,PERFORM$,UPDFIELDS$,WIDTHS$,TYPES$,WINDOWS$,CLEAR$,ON_CONFIRM$,"
     "ON_CANCEL$,USR_COND$,IK$(1),IK$(2),IK$(3)"},
    {31, 48, 30,
     "NUMCAB$,WRITECAB0$,WRITECABS$,WRITELINS$,FITCLC$,FTCLC$,READCABS$,READLINS$,LNINS$,LNDEL$,ALARMLINS$,"
     "BOUNDS$,DOCTYPETXT$,MODE$,FASTFIND$,FLDUPDATE$,BEGINFLD%,MAXLIN%"},
    {11, 29, 10,
     "SCREENSIZE$,SET$,OPEN$,EDIT$,NOEDIT$,WRITE$,DOC$,DOCSETS$,HELP$,SAVED$,HIDDEN$,RELOPT%,UNICNDX%,AUTONDX%,"
     "KEYMAP%,SCANDEF$,SCANWIN$,SCANSET$,VOIDMODE%"},
    {1, 9, 0, "MODULES$,MENU$,CALLER$,SUBMENU$,LOAD$,EXEC$,COUNTER$,MAX_IDS_ATTR%,STATMSG$"},
};

constexpr int kSectionsItem = 8;  // of group 9

// The bare name of parameter n (a view of static storage).
StrRef bare_name(int number) {
    for (const ParamRange& r : kParams)
        if (number >= r.first && number <= r.last) return lst_field(r.names, number - r.base);
    return sr_empty();
}

// The prefix of the current section, with its full stop; empty when _AUX is 0.
StrRef section_prefix() {
    int aux = sysv_get(sysv::AUX);
    if (!aux) return sr_empty();
    StrRef s = lst_field(st_get(grp::Runtime, kSectionsItem), aux);
    if (!s.n) return sr_empty();
    return str_concat(s, sr("."));
}

// A named option of a parameter text: after "name:" or "name=", standing at
// the start or after one of ": &/", to the next of those (quotes unquoted).
StrRef option_of(StrRef text, StrRef name, bool* found) {
    return str_keyword(text, name, 1, found);
}

StrRef item_of(StrRef value, int item) {
    if (item <= 0) return value;
    return scr_copy(lst_field(value, item));
}

int no_choice(StrRef, StrRef) {
    // Without a window, the answer file may still make the choice.
    ScratchMark m = scr_mark();
    StrRef a = next_answer();
    int n = a.n ? str_number(a) : 0;
    scr_release(m);
    return n;
}
ChooseFn g_choose = no_choice;

IER not_defined() {
    ScratchMark m = scr_mark();
    err_detail(0, msg(31));
    scr_release(m);
    return ier::BADINPUTDATA;
}

// The label a procedure file is offered under: its first line when that is
// a remark beginning with ';', else its name.
StrRef offer_label(StrRef path, StrRef name) {
    uint16_t h = f_open(path, fmode::ReadOnly | fmode::Quiet);
    if (h == kBadHandle) return name;
    StrRef first = f_read_line(h);
    f_close(h);
    if (sr_ok(first) && first.n > 1 && first.p[0] == ';') return str_trim(str_sub(first, 1));
    return name;
}

IER run_procedure_text(StrRef params);

// "PrcExec" with a file pattern: the matching files are offered until the
// user chooses none or a run fails.
IER run_from_pattern(StrRef params) {
    ScratchMark m = scr_mark();
    StrRef first = lst_field(params, 1);
    StrRef pattern = lst_field(first, 1, ';');
    std::vector<std::string> paths;
    std::string_view pat = sv(pattern);
    // As written, then in each folder of the search path.
    auto collect = [&](std::string_view where) {
        std::string full = where.empty() ? std::string(pat) : std::string(where) + "/" + std::string(pat);
        std::vector<std::string> names = plat::find_files(full);
        size_t sep = full.find_last_of("\\/");
        std::string folder = sep == std::string::npos ? std::string() : full.substr(0, sep + 1);
        for (const std::string& n : names) paths.push_back(folder + n);
    };
    collect({});
    StrRef path = env_get(env::DocPath);
    int nf = lst_count(path);
    for (int i = 1; i <= nf && paths.empty(); i++) collect(sv(str_unquote(str_trim(lst_field(path, i)))));
    if (paths.empty()) {
        scr_release(m);
        return not_defined();
    }
    std::vector<std::string> labels;
    for (const std::string& p : paths) {
        ScratchMark lm = scr_mark();
        size_t sep = p.find_last_of("\\/");
        labels.emplace_back(sv(offer_label(sr(p), sr(sep == std::string::npos ? p : p.substr(sep + 1)))));
        scr_release(lm);
    }
    std::string items;
    for (size_t i = 0; i < labels.size(); i++) {
        if (i) items += ',';
        items += labels[i].find(',') == std::string::npos ? labels[i] : "'" + labels[i] + "'";
    }
    IER st = 0;
    for (;;) {
        ScratchMark cm = scr_mark();
        int choice = g_choose(msg(88), sr(items));
        scr_release(cm);
        if (choice < 1 || choice > static_cast<int>(paths.size())) break;
        // The rest of the parameter text goes with the chosen file.
        std::string text = paths[static_cast<size_t>(choice - 1)];
        std::string_view rest = sv(params).substr(first.n);
        text += rest;
        st = run_procedure_text(sr(text));
        if (st) break;
    }
    scr_release(m);
    return st;
}

IER run_procedure_text(StrRef params) {
    ScratchMark m = scr_mark();
    IER st = 0;
    // Expression files, from the third item on.
    int items = lst_count(params);
    for (int i = 3; i <= items && st < 128; i++) {
        StrRef file = str_trim(lst_field(params, i));
        if (!file.n) continue;
        st = eval_config_file(file, true);
    }
    if (st >= 128) {
        scr_release(m);
        return st;
    }
    st = 0;
    StrRef procs = lst_field(params, 1);
    StrRef entry = str_trim(lst_field(params, 2));
    int nprocs = lst_count(procs, ';');
    std::vector<int> loaded;  // table indices, in load order
    for (int i = nprocs; i >= 2 && !st; i--) {
        StrRef lib = str_trim(lst_field(procs, i, ';'));
        if (!lib.n) continue;
        int index = -1;
        IER ls = proc_load(lib, &index);
        if (ls >= 128) st = ls;
        else if (!ls) loaded.push_back(index);
    }
    if (!st) {
        StrRef main = str_trim(lst_field(procs, 1, ';'));
        st = proc_run_by_name(entry, main, runf::Isolate);
    }
    // Every procedure loaded here goes again, the most recent first, also
    // when a later load failed.
    for (size_t k = loaded.size(); k-- > 0;) proc_unload(loaded[k]);
    script_ports().pump();
    scr_release(m);
    return st;
}

// A line of a record of a kind, with its number in the kind's columns.
bool record_prefix(int kind, int n, std::string* out) {
    char buf[16];
    switch (kind) {
    case 1:
        if (n < 0 || n > 99) return false;
        std::snprintf(buf, sizeof buf, "%2d ", n);
        break;
    case 2:
        if (n < 0 || n > 99) return false;
        std::snprintf(buf, sizeof buf, "\"%2d", n);
        break;
    case 3:
        if (n < 0 || n > 9999) return false;
        std::snprintf(buf, sizeof buf, "%4d ", n);
        break;
    case 4:
        if (n < 0 || n > 99) return false;
        std::snprintf(buf, sizeof buf, "%2d", n);
        break;
    case 6:
        if (n < 0 || n > 99999) return false;
        std::snprintf(buf, sizeof buf, "%5d", n);
        break;
    default:  // kinds 0 and 5 carry no number: the record is the whole file
        if (n != 0) return false;
        buf[0] = 0;
        break;
    }
    *out = buf;
    return true;
}

}  // namespace

int prog_type(StrRef name) { return sr_ok(name) && name.n ? lst_pos(sr(kProgramTypes), name) : 0; }

void prog_register_runner(int type, ProgramRunner runner) {
    if (type >= 1 && type <= kTypes) g_runners[type] = runner;
}

IER prog_dispatch(uint32_t type_code, StrRef params) {
    int type = static_cast<int>(type_code >> 16);
    if (type < 1 || type > kTypes || (type_code & 0xFFFF) || !g_runners[type]) return not_defined();
    return g_runners[type](params);
}

IER prog_run(StrRef run_string, int default_type) { return run_command(run_string, default_type); }

IER prog_run_list(StrRef list, int start, StrRef excluded, int* position) {
    int n = lst_count(list);
    if (start < 1) start = 1;
    for (int i = start; i <= n; i++) {
        ScratchMark m = scr_mark();
        StrRef run = str_trim(lst_field(list, i));
        uint16_t cut = str_find_char(run, ' ', 0, true);
        if (cut == kNotFound) cut = str_find_char(run, ',', 0, true);
        StrRef word = str_sub(run, 0, cut == kNotFound ? run.n : cut);
        if (word.n && lst_pos(excluded, word)) {
            scr_release(m);
            if (position) *position = i;
            return ier::UndefWarning;
        }
        IER st = run.n ? run_command(run) : IER(0);
        scr_release(m);
        if (st) {
            if (position) *position = i;
            return st;
        }
    }
    return 0;
}

IER prc_exec(StrRef params) {
    if (!sr_ok(params)) return sr_status(params);
    if (str_find_char(lst_field(params, 1), '*') != kNotFound) return run_from_pattern(params);
    return run_procedure_text(params);
}

IER exp_eval(StrRef params) { return ex_effect(params); }

void prog_set_chooser(ChooseFn f) { g_choose = f ? f : no_choice; }

StrRef param_name(int number) {
    StrRef bare = bare_name(number);
    if (!bare.n) return bare;
    ScratchMark m = scr_mark();
    StrRef prefix = section_prefix();
    if (!prefix.n) {
        scr_release(m);
        return bare;
    }
    return scr_keep(m, str_concat(prefix, bare));
}

StrRef param_value(int number, int item, StrRef params) {
    ScratchMark m = scr_mark();
    StrRef bare = bare_name(number);
    if (!bare.n) return sr_empty();
    StrRef prefix = section_prefix();
    bool found = false;
    StrRef v = sr_empty();
    if (prefix.n) v = option_of(params, str_concat(prefix, bare), &found);
    if (!found) v = option_of(params, bare, &found);
    if (!found && sv(bare).find('(') == std::string_view::npos) {
        // The variable of that name, read without its '%'.
        StrRef name = sv(bare).back() == '%' ? str_sub(bare, 0, bare.n - 1) : bare;
        Value val;
        if (var_read(name, &val) == 0) v = val.is_text() ? val.text : num_text(val.num, num_precis());
    }
    return scr_keep(m, item_of(v, item));
}

StrRef def_param(int number) {
    ScratchMark m = scr_mark();
    StrRef name = param_name(number);
    if (!name.n) return sr_empty();
    bool found = false;
    StrRef v = option_of(st_top(grp::StkAux), name, &found);
    return scr_keep(m, v);
}

StrRef sections_save() {
    ScratchMark m = scr_mark();
    StrRef list = st_get(grp::Runtime, kSectionsItem);
    return scr_keep(m, fmt("%i:%s", {static_cast<int>(sysv_get(sysv::AUX)), list}));
}

IER sections_set(int aux, StrRef list) {
    if (aux >= 0) sysv_set(sysv::AUX, static_cast<int16_t>(aux));
    if (sr_ok(list) && list.n) return st_set(grp::Runtime, kSectionsItem, list);
    return 0;
}

IER sections_restore(StrRef saved) {
    if (!sr_ok(saved)) return ier::BADINPUTDATA;
    uint16_t colon = str_find_char(saved, ':');
    if (colon == kNotFound || colon == 0) return ier::BADINPUTDATA;
    for (uint16_t i = 0; i < colon; i++)
        if ((saved.p[i] < '0' || saved.p[i] > '9') && !(i == 0 && saved.p[i] == '-')) return ier::BADINPUTDATA;
    sysv_set(sysv::AUX, str_number(str_sub(saved, 0, colon)));
    return st_set(grp::Runtime, kSectionsItem, str_sub(saved, colon + 1));
}

IER def_load(StrRef file, int kind, int n, bool empty_if_missing) {
    ScratchMark m = scr_mark();
    int before = st_count(grp::QueLines);
    IER st = 0;
    int lines = file_lines_to_queue(file, kind, n, grp::QueLines, &st);
    if (st) {
        scr_release(m);
        return st;
    }
    StrRef text = sr_empty();
    if (lines != 0xFFFF) {
        // The record's lines follow whatever the queue held already.
        ScrBuild b;
        for (int i = 0; i < lines; i++) {
            if (i) b.put(':');
            b.put(st_get(grp::QueLines, before + i));
        }
        text = b.done();
        for (int i = 0; i < lines; i++) st_del(grp::QueLines, before);
    } else if (!empty_if_missing) {
        scr_release(m);
        err_origin(1, mod::Streams, ier::FileNotFound);
        return err_detail(ier::FileNotFound, file);
    }
    st = sr_ok(text) ? st_push(grp::StkAux, text) : sr_status(text);
    scr_release(m);
    return st;
}

IER def_write(StrRef file, int kind, int n, StrRef text) {
    if (!sr_ok(file) || !sr_ok(text)) return ier::BADINPUTDATA;
    if (kind < 0 || kind >= kRecordKinds) kind = 0;
    std::string prefix;
    if (!record_prefix(kind, n, &prefix)) return ier::DATAOUTBOUND;
    // The new lines of the record.
    std::string fresh;
    int nl = lst_count(text, ':');
    for (int i = 1; i <= nl; i++) {
        fresh += prefix;
        fresh.append(sv(lst_field(text, i, ':')));
        if (kind == 2) fresh += '"';  // what the reader leaves off at the end
        fresh += "\r\n";
    }
    std::string out;
    bool placed = false;
    bool whole_file = kind == 0 || kind == 5;
    uint16_t h = whole_file ? kBadHandle : f_open(file, fmode::ReadOnly | fmode::Quiet);
    if (h != kBadHandle) {
        for (;;) {
            ScratchMark m = scr_mark();
            StrRef line = f_read_line(h);
            IER ls = sr_status(line);
            if (ls == ier::DiskIO) {
                scr_release(m);
                break;
            }
            if (ls) {
                scr_release(m);
                f_close(h);
                return ls;  // a line that cannot be read: the file stays as it is
            }
            int rec = file_record_number(line, kind);
            if (rec == n) {
                if (!placed) out += fresh;
                placed = true;
            } else {
                if (!placed && rec > n) {
                    out += fresh;
                    placed = true;
                }
                out.append(sv(line));
                out += "\r\n";
            }
            scr_release(m);
        }
        f_close(h);
    }
    if (!placed) out += fresh;
    if (plat::rewrite_file(sv(file), out) != 0) {
        err_origin(1, mod::Streams, ier::FileNotFound);
        return err_detail(ier::FileNotFound, file);
    }
    return 0;
}

void programs_install() {
    rt_ports().program_type = prog_type;
    rt_ports().dispatch = prog_dispatch;
    prog_register_runner(ptype::PrcExec, prc_exec);
    prog_register_runner(ptype::ExpEval, exp_eval);
}

}  // namespace rt
