#include <string>

#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/hooks.h"
#include "runtime/core/list.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/vars.h"
#include "runtime/script/proc.h"
#include "runtime/script/procrec.h"

namespace rt {
namespace {

constexpr unsigned kTraceProcedures = 8;
constexpr std::string_view kTraceFile = "PrcLog.txt";
// Keywords of the commands as the error report names them (code - 18).
constexpr std::string_view kReportKeywords =
    "ACCEPT,BOUNDS,COLOR,CONNECT,DEVICE,DLOCATE,DPRINT,ENDDEVICE,EXPORT,FILESELECT,IMPORT,KILL,LOADSTRUCT,"
    "LOCATE,MESSAGE,PRINT,SHELL,READ,REMOTE,REPORT,DOCPRINT,WAIT,WINMENU,WINOPEN,WINCLOSE,WINSELECT,WINPROG,";

// One run of a procedure: its own position and return stack, so that a
// procedure entered again (a CALL or EXEC$ into another of its entries)
// returns to the right place.
struct Activation {
    ProcRecord rec;  // a copy; the block stays while the procedure is loaded
    uint16_t pos = 0;
    uint16_t depth = 0;
    uint16_t ret[kProcReturnDepth];
    int flags = 0;
    bool whole = false;
    int args_base = 0;          // stack 35 below the arguments of this call
    std::string last;           // the last value computed, when a result is wanted
    bool traced = false;
};

int g_args_for_next = 0;  // arguments the CALL being made pushed for its callee

void no_pump() {}
bool never_cancel() { return false; }
int no_structures() { return 0; }
void no_restore(int) {}
void nothing() {}
bool no_progress() { return false; }
void print_nowhere(int, int, StrRef) {}
IER no_key(int*) { return ier::UserCanceled; }

ScriptPorts g_ports{no_pump, never_cancel, no_structures, no_restore, no_restore, nothing,
                    no_progress, nothing, print_nowhere, no_key};

std::string_view keyword_name(int code) {
    if (code < 1 || code > kw::Last) return {};
    size_t pos = 0;
    for (int k = 1; k < code; k++) pos = kProcKeywords.find(',', pos) + 1;
    size_t e = kProcKeywords.find(',', pos);
    return kProcKeywords.substr(pos, e == std::string_view::npos ? std::string_view::npos : e - pos);
}

void trace(const Activation& a, const Instruction& in) {
    ScratchMark m = scr_mark();
    StrRef line = fmt("%i\t%s %s", {a.pos + 1, keyword_name(in.code), proc_text(a.rec, a.pos)});
    file_append_line(sr(kTraceFile), line);
    scr_release(m);
}

void keep_value(Activation& a, const Value& v) {
    if (!(a.flags & runf::Result)) return;
    if (v.is_text()) {
        a.last.assign(sv(v.text));
    } else {
        ScratchMark m = scr_mark();
        a.last.assign(sv(num_text(v.num, num_precis())));
        scr_release(m);
    }
}

IER condition(Activation& a, StrRef text, bool prepared, bool* truth) {
    if (!text.n) {
        *truth = true;
        return 0;
    }
    ScratchMark m = scr_mark();
    Value v;
    IER st = prepared ? ex_eval_checked(text, &v) : ex_eval(text, &v);
    if (st >= 122 && st != ier::NullExpression) {
        scr_release(m);
        return st;
    }
    keep_value(a, v);
    *truth = !v.is_text() && v.num != 0;
    scr_release(m);
    return 0;
}

IER run_entry(int index, int start, int flags, bool whole, int args_pushed);

// CALL entry,file[,share] [arguments]
IER do_call(StrRef text) {
    ScratchMark m = scr_mark();
    uint16_t blank = str_find_char(text, ' ', 0, true);
    StrRef word = blank == kNotFound ? text : str_sub(text, 0, blank);
    StrRef argword = blank == kNotFound ? sr_empty() : str_trim(str_sub(text, blank + 1));
    StrRef items[2] = {sr_empty(), sr_empty()};
    for (int i = 0; i < 2; i++) {
        StrRef item = lst_field(word, i + 1);
        if (!item.n) continue;
        Value v;
        IER st = ex_eval(item, &v);
        items[i] = (st < 122 || st == ier::NullExpression) && v.is_text() ? v.text : item;
    }
    bool isolate = true;
    StrRef share = lst_field(word, 3);
    if (lst_count(word) >= 3) {
        Value v;
        IER st = ex_eval(share, &v);
        if (st >= 122 && st != ier::NullExpression) {
            msg_box(fmt("Errode:%i (%s)", {static_cast<int>(st), share}), sr_empty(), box::Warning);
            isolate = false;
        } else {
            isolate = v.is_text() || v.num != 0;
        }
    }
    int before = st_count(grp::StkArgs);
    int pushed = 0;
    IER st = 0;
    if (argword.n) {
        int n = lst_count(argword);
        if (n > kCmdArgsMax) st = ier::SINTAXERROR;
        for (int i = 1; i <= n && !st; i++) {
            ScratchMark am = scr_mark();
            Value v;
            IER es = ex_eval(lst_field(argword, i), &v);
            if (es >= 122 && es != ier::NullExpression) {
                st = es;
            } else {
                StrRef t = v.is_text() ? v.text : num_text(v.num, num_precis());
                st = sr_ok(t) ? st_push(grp::StkArgs, t) : sr_status(t);
                if (!st) pushed++;
            }
            scr_release(am);
        }
    }
    if (!st) {
        g_args_for_next = pushed;
        st = proc_run_by_name(items[0], items[1], isolate ? runf::Isolate : 0);
        g_args_for_next = 0;
        if (!st && st_count(grp::StkArgs) != before) st = err_detail(ier::SINTAXERROR, sr("LOCALVARS"), true);
    }
    st_popto(grp::StkArgs, before);
    scr_release(m);
    return st;
}

// LOCALVARS a,b,c: the arguments of the CALL, the first to the first name.
IER do_localvars(Activation& a, StrRef text) {
    int n = lst_count(text);
    if (st_count(grp::StkArgs) - a.args_base < n) return err_detail(ier::SINTAXERROR, sr("LOCALVARS"), true);
    for (int i = n; i >= 1; i--) {
        ScratchMark m = scr_mark();
        StrRef name = str_trim(lst_field(text, i));
        StrRef arg = st_take(grp::StkArgs);
        VarType t = var_type(name);
        IER st = 0;
        if (t == VarType::Text) {
            st = var_assign(name, Value::of_text(arg));
        } else if (t == VarType::Int || t == VarType::Num) {
            Num x = 0;
            num_parse(arg, num_precis(), &x);
            st = var_assign(name, Value::number(x));
        } else {
            st = ier::TypeMismatch;
        }
        scr_release(m);
        if (st) return st >= 128 ? st : IER(ier::TypeMismatch);
    }
    return 0;
}

// The inner loop: flow statements until a command, the end or a status.
IER inner(Activation& a, int* command) {
    const Instruction* ins = proc_ins(a.rec);
    const uint8_t* prepared = proc_prepared(a.rec);
    unsigned trace_on = static_cast<uint16_t>(sysv_get(sysv::TRACE)) & kTraceProcedures;
    *command = 0;
    while (a.pos < a.rec.count) {
        const Instruction in = ins[a.pos];
        if (trace_on) trace(a, in);
        if (in.code == kw::END) return 0;
        g_ports.pump();
        if (g_ports.cancel_requested()) return ier::UserCanceled;
        if (in.code > kw::END) {
            *command = in.code;
            return 0;
        }
        StrRef text = proc_text(a.rec, a.pos);
        bool ready = prepared[a.pos] != 0;
        a.pos++;
        IER st = 0;
        bool truth = false;
        switch (in.code) {
        case kw::Expr: {
            ScratchMark m = scr_mark();
            Value v;
            st = ready ? ex_eval_checked(text, &v) : ex_eval(text, &v);
            if (st < 128) {
                keep_value(a, v);
                st = st == ier::UserCanceled ? st : IER(0);
            }
            scr_release(m);
            break;
        }
        case kw::GOTO:
        case kw::LOOP:
        case kw::ELSE:
            a.pos = in.operand;
            break;
        case kw::GOSUB:
            if (a.depth >= kProcReturnDepth) {
                st = ier::PRCSTCKERROR;
                break;
            }
            a.ret[a.depth++] = a.pos;
            a.pos = in.operand;
            break;
        case kw::CALL:
            st = do_call(text);
            break;
        case kw::RETURN:
            if (!a.depth) return 0;
            a.pos = a.ret[--a.depth];
            break;
        case kw::LOOP_WHILE:
        case kw::IF_FALSE:
        case kw::DO_UNTIL:
            st = condition(a, text, ready, &truth);
            if (!st && truth) a.pos = in.operand;
            break;
        case kw::LOOP_UNTIL:
        case kw::IF:
        case kw::IF_TRUE:
        case kw::DO_WHILE:
            st = condition(a, text, ready, &truth);
            if (!st && !truth) a.pos = in.operand;
            break;
        case kw::LOCALVARS:
            st = do_localvars(a, text);
            break;
        default:  // ENDIF, DO
            break;
        }
        if (st >= 122) {
            if (st >= 128) a.pos--;  // the statement that failed, for the report
            return st;
        }
    }
    return 0;
}

IER build_arguments(StrRef text, ArgumentList* args) {
    args->count = 0;
    args->statement = text;
    if (!text.n) return 0;
    int n = lst_count(text);
    if (n > kCmdArgsMax) return ier::SINTAXERROR;
    for (int i = 1; i <= n; i++) {
        Value v;
        IER st = ex_eval(lst_field(text, i), &v);
        if (st >= 122 && st != ier::NullExpression) return st;
        Argument& a = args->arg[args->count++];
        a.is_text = v.is_text();
        a.value = v.num;
        a.num = v.is_text() ? 0 : num_to_int16(v.num, num_precis());
        a.text = v.is_text() ? v.text : num_text(v.num, num_precis());
        if (!sr_ok(a.text)) return sr_status(a.text);
    }
    return 0;
}

IER run_activation(Activation& a) {
    int selections = st_count(grp::StkSelections);
    int structures = g_ports.open_structures();
    bool progress = g_ports.progress_open();
    IER st = 0;
    int command = 0;
    for (;;) {
        st = inner(a, &command);
        if (st || !command) break;
        ScratchMark m = scr_mark();
        StrRef text = proc_text(a.rec, a.pos);
        a.pos++;
        ArgumentList args;
        st = build_arguments(text, &args);
        if (!st) st = cmd_dispatch(command, args);
        scr_release(m);
        if (st) {
            if (st >= 128) a.pos--;
            break;
        }
    }
    if (a.whole) {
        // Everything the run opened goes, also when it failed.
        g_ports.restore_selections(selections);
        g_ports.restore_structures(structures);
        if (!progress && g_ports.progress_open()) g_ports.close_progress();
        g_ports.close_script_windows();
    }
    if (st >= 128) {
        int code = a.pos < a.rec.count ? proc_ins(a.rec)[a.pos].code : 0;
        std::string_view keyword = code > kw::END ? sv(lst_field(kReportKeywords, code - kw::END)) : std::string_view();
        ScratchMark m = scr_mark();
        StrRef text = a.pos < a.rec.count ? proc_text(a.rec, a.pos) : sr_empty();
        err_origin(1, mod::ExecRunTime, st);
        err_detail(st, fmt("Line: %i (+ remmarks):\r\n%s %s", {a.pos + 1, keyword, text}), true);
        scr_release(m);
    } else if (!st && (a.flags & runf::Result)) {
        st = st_push(grp::StkResults, sr(a.last));
    }
    return st;
}

IER run_entry(int index, int start, int flags, bool whole, int args_pushed) {
    ProcRecord* r = proc_record(index);
    if (!r) return ier::INTERNALERROR;
    Activation a;
    a.rec = *r;
    a.pos = static_cast<uint16_t>(start);
    a.flags = flags;
    a.whole = whole;
    a.args_base = st_count(grp::StkArgs) - args_pushed;
    return run_activation(a);
}

// Hook slot 1, for EXEC$: the entry and the file, a result wanted.
IER exec_runner(StrRef entry, StrRef file) { return proc_run_by_name(entry, file, runf::Result); }

}  // namespace

void proc_put_runner() { hk_register_as(exec_runner, hook::ExecProc); }

ScriptPorts& script_ports() { return g_ports; }
void script_ports_reset() {
    g_ports = ScriptPorts{no_pump, never_cancel, no_structures, no_restore, no_restore, nothing,
                          no_progress, nothing, print_nowhere, no_key};
}

IER proc_run(int index, int flags) {
    int args = g_args_for_next;
    g_args_for_next = 0;
    return run_entry(index, 0, flags, true, args);
}

IER proc_run_by_name(StrRef entry, StrRef file, int flags) {
    bool has_entry = sr_ok(entry) && entry.n;
    bool has_file = sr_ok(file) && file.n;
    int args = g_args_for_next;
    g_args_for_next = 0;
    if (!has_entry && !has_file) return ier::SINTAXERROR;
    VarScope scope = var_scope_mark();
    int loaded = -1;
    uint32_t loaded_id = 0;
    if (has_file) {
        IER st = proc_load(file, &loaded);
        if (st) return st;
        loaded_id = proc_record(loaded)->id;
    }
    int index = -1, start = 0;
    if (has_entry) {
        for (int i = proc_count() - 1; i >= 0 && index < 0; i--) {
            int at = proc_entry(i, entry);
            if (at >= 0) {
                index = i;
                start = at;
            }
        }
    } else {
        index = proc_count() - 1;
    }
    IER st = 0;
    if (index < 0) {
        err_origin(1, mod::ExecRunTime, ier::SINTAXERROR);
        st = err_detail(ier::SINTAXERROR, entry, true);
    } else {
        st = run_entry(index, start, flags, !has_entry, args);
    }
    if (loaded_id) {
        // What this call loaded goes again, whatever the run did.
        IER us = proc_unload(proc_index_of(loaded_id));
        if (!st) st = us;
    }
    if (flags & runf::Isolate) {
        IER rs = var_scope_restore(scope);
        if (!st) st = rs;
    }
    return st;
}

}  // namespace rt
