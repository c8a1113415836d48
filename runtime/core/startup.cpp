#include "runtime/core/startup.h"

#include <unistd.h>

#include <cstring>

#include "platform/fs.h"
#include "runtime/core/blocks.h"
#include "runtime/core/cmdline.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/fmt.h"
#include "runtime/core/hooks.h"
#include "runtime/core/list.h"
#include "runtime/core/log.h"
#include "runtime/core/msg.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/rtarray.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"

namespace rt {
namespace {

ProgramRunFn g_run = nullptr;
int g_cols = 80, g_rows = 24;
int g_strtab_entry = -1;  // block-table entry of the string table
bool g_main_window = false;
unsigned g_generation = 0;

// Defaults of the ports: what the runtime does while a part is absent.
IER no_window_instance(void*) { return 0; }

// Until the dictionary loader exists, a dictionary can only be found, not
// read: a missing one fails as it would, a present one loads no files.
IER find_dictionary(StrRef prefix) {
    ScratchMark m = scr_mark();
    ScrBuild b;
    b.put(prefix).put("DICC.DAT");
    StrRef name = b.done();
    StrRef found = env_find(name);
    IER st = 0;
    if (!sr_ok(found) || !found.n) {
        err_origin(1, mod::DataFile, ier::FileNotFound);
        st = err_detail(ier::FileNotFound, name);
    }
    scr_release(m);
    return st;
}

IER no_fonts() { return 0; }

void about_box_default() {
    ScratchMark m = scr_mark();
    StrRef t = fmt("%s\r\n%s", {env_get(env::ApDescrip), env_get(env::ApName)});
    msg_box(t, msg(75), box::Info);
    scr_release(m);
}

IER no_main_window(StrRef menu) {
    // The menu window is not part of this build yet: say which menu would
    // have opened.
    ScratchMark m = scr_mark();
    err_detail(0, fmt("no menu window to open %s", {menu}));
    scr_release(m);
    return ier::BADINPUTDATA;
}

IER no_message_loop() { return 0; }
int no_children() { return 0; }
StrRef no_substitute(StrRef text) { return scr_copy(text); }
int no_program_types(StrRef) { return 0; }

IER no_dispatcher(uint32_t, StrRef) {
    // No program type is known: every command is answered as an unknown one.
    ScratchMark m = scr_mark();
    err_detail(0, msg(31));
    scr_release(m);
    return ier::BADINPUTDATA;
}

IER no_evaluator(StrRef) {
    err_origin(1, mod::ExpExec, ier::EXPCALCERROR);
    return ier::EXPCALCERROR;
}

RtPorts g_ports;
void (*g_releasers[kReleasersMax])() = {};
int g_nreleasers = 0;

void set_default_ports() {
    g_ports = RtPorts{no_window_instance, find_dictionary, no_fonts, about_box_default,
                      no_main_window, no_message_loop, no_children, no_substitute,
                      no_program_types, no_dispatcher, no_evaluator};
}

struct PortsInit {
    PortsInit() { set_default_ports(); }
} g_ports_init;

IER build_format_params() {
    ScratchMark m = scr_mark();
    ScrBuild b;
    StrRef a = msg(19);
    StrRef c = msg(117);
    b.put(a).put('\0').put(c).put('\0').put(' ');
    IER st = sr_status(b.done());
    if (!st) st = env_set(env::FormatParams, scr_latest());
    scr_release(m);
    return st;
}

int16_t to_int16(StrRef s) { return str_number(s); }

// Folders, second pass: the search path from DPATH, else ..\APPS beside the
// current folder; the help folder again from it when start-up chose it.
void folders_second_pass(bool help_was_ours) {
    ScratchMark m = scr_mark();
    bool given = false;
    StrRef dpath = cmd_option(opt::DPATH, &given);
    if (given && dpath.n) env_set(env::DocPath, dpath);
    else env_set(env::DocPath, path_resolve(folder_current(), sr("..\\APPS")));
    if (help_was_ours) {
        env_set(env::HelpPath, sr_empty());
        env_set(env::HelpPath, env_folder(folder::Help));
    }
    scr_release(m);
}

// One integer variable per data file: its name in lower case, its number.
void declare_file_variables() {
    int n = st_count(grp::FileNames);
    for (int i = 0; i < n; i++) {
        ScratchMark m = scr_mark();
        var_declare_int(str_lower(st_get(grp::FileNames, i)), static_cast<int16_t>(i + 1));
        scr_release(m);
    }
}

IER log_start() {
    unsigned trace = static_cast<uint16_t>(sysv_get(sysv::TRACE));
    if (!(trace & logcat::StartupAbout)) return 0;
    if (!(trace & logcat::Startup)) {
        g_ports.about_box();
        return 0;
    }
    if (!(trace & logcat::General)) return 0;
    ScratchMark m = scr_mark();
    log_set_file(sr("log.txt"));
    StrRef line = fmt("Log started %s %s: %s, trace %i, language %s",
                      {today_text(), now_time_text(), env_get(env::ApName), static_cast<int>(trace),
                       env_get(env::LangModule)});
    log_text(line, logcat::Startup);
    scr_release(m);
    return ier::Info;
}

}  // namespace

RtPorts& rt_ports() { return g_ports; }

void rt_on_release(void (*fn)()) {
    for (int i = 0; i < g_nreleasers; i++)
        if (g_releasers[i] == fn) return;
    if (g_nreleasers < kReleasersMax) g_releasers[g_nreleasers++] = fn;
}
void rt_ports_reset() { set_default_ports(); }

void set_program_run(ProgramRunFn f) { g_run = f; }
ProgramRunFn program_run() { return g_run; }
void set_screen_size(int cols, int rows) {
    if (cols > 0) g_cols = cols;
    if (rows > 0) g_rows = rows;
}
void screen_size(int* cols, int* rows) {
    if (cols) *cols = g_cols;
    if (rows) *rows = g_rows;
}

int app_main(int argc, char** argv, const AppConfig& app) {
    mem_settings(app.scratch_kib, app.block_entries);
    set_program_run(app.program_run);
    set_screen_size(app.cols, app.rows);
    StartRequest rq;
    rq.argc = argc;
    rq.argv = argv;
    rq.appcode = sr(app.code);
    rq.description = sr(app.title);
    rq.flags = app.flags;
    rq.hook = app.hook;
    IER st = runtime_start(rq);
    if (st == 0) st = start_program(sr_empty());
    return shutdown(app.hook, st);
}

IER rt_stores_init() {
    IER st = blk_init();
    if (st) return st;
    if ((st = scr_init(mem_scratch_kib())) || (st = st_init())) {
        scr_done();
        blk_done();
        return st;
    }
    g_strtab_entry = blk_highest_entry();
    g_generation++;
    hk_clear_all();
    err_origin(2, 0, 0);
    lang_reset();
    g_main_window = false;
    return sysv_init();
}

unsigned rt_stores_generation() { return g_generation; }

int rt_stores_teardown() {
    if (!blk_ready()) return 0;
    f_close_all();
    for (int i = g_nreleasers - 1; i >= 0; i--) g_releasers[i]();
    ra_free_all();
    int leak = 0;
    int high = blk_highest_entry();
    if (high != g_strtab_entry) {
        // A block above the string table outlived its owner: name the module
        // while the texts to say so still exist.
        leak = blk_entry_module(high);
        int blocks = 0;
        for (int e = g_strtab_entry + 1; e <= high; e++)
            if (blk_entry_module(e) || blk_entry_size(e)) blocks++;
        err_origin(2, leak, ier::MemoryLeaks);
        ScratchMark m = scr_mark();
        err_detail(0, fmt("%i block(s) still in use", {blocks}));
        StrRef text = error_text(ier::MemoryLeaks);
        log_text(text);
        msg_box(text, msg(3), box::Error);
        scr_release(m);
    }
    st_done();
    scr_done();
    if (!leak) leak = blk_highest_entry() > 0 ? blk_highest_module() : 0;
    // Everything goes back to the system, leaked blocks too: the process is
    // ending and the report has been made.
    blk_done();
    hk_clear_all();
    err_origin(2, 0, 0);
    lang_reset();
    g_strtab_entry = -1;
    return leak;
}

IER runtime_start(const StartRequest& rq) {
    IER st = 0;
    ScratchMark m = 0;
    int flags = rq.flags;
    bool help_ours = false;
    // 1. the window manager takes the instance
    if ((st = g_ports.window_instance(rq.instance))) goto done;
    // 2. stores and system variables
    if ((st = rt_stores_init())) goto done;
    m = scr_mark();
    // 4. format parameters from the built-in texts (no language file yet)
    if ((st = build_format_params())) goto done;
    // 5. the command line
    {
        StrRef line = rq.cmdline;
        if (!sr_ok(line) || (!line.n && rq.argv)) {
            std::string exe = plat::self_exe();
            StrRef prog = rq.argv && rq.argc > 0 && exe.empty() ? sr_c(rq.argv[0]) : sr(exe);
            line = cmd_from_argv(prog, rq.argc, rq.argv);
        }
        if ((st = env_set(env::CommandLine, cmd_normalize(line)))) goto done;
        scr_release(m);
    }
    // 6. phase 1
    if (rq.hook && (st = rq.hook(flags * 16 + 1))) goto done;
    // 7. language
    if (!env_get(env::LangModule).n && (st = env_set(env::LangModule, lst_field(kLanguages, 1)))) goto done;
    // 8. trace flags
    {
        bool given = false;
        StrRef t = cmd_option(opt::TRACE, &given);
        sysv_set(sysv::TRACE, static_cast<int16_t>((given ? to_int16(t) : 0) | 1));
        scr_release(m);
    }
    // 9. application code; a help section already stored is kept
    {
        bool given = false;
        StrRef code = cmd_option(opt::APNAME, &given);
        if (!given || !code.n) code = sr_ok(rq.appcode) ? rq.appcode : sr_empty();
        StrRef help = lst_field(env_get(env::ApName), 2, ':');
        StrRef item = help.n ? str_join(code, sr(":"), help) : scr_copy(code);
        st = env_set(env::ApName, item);
        scr_release(m);
        if (st) goto done;
    }
    // 10. description
    if (sr_ok(rq.description) && rq.description.n && (st = env_set(env::ApDescrip, rq.description))) goto done;
    // 11. folders, first pass
    if (!env_get(env::DocPath).n) st = env_set(env::DocPath, env_folder(folder::RunPath));
    if (!st && !env_get(env::HelpPath).n) {
        help_ours = true;
        st = env_set(env::HelpPath, env_folder(folder::Help));
    }
    scr_release(m);
    if (st) goto done;
    // 12. the data dictionary
    if (flags & kStartLoadDictionary) {
        err_detail_clear();
        err_origin(2, 0, 0);
        StrRef prefix = scr_copy(env_prefix());
        if (lst_field(env_get(env::ApName), 1, ':').n < 2) {
            st = ier::LOADSTRERROR;
        } else {
            st = g_ports.load_dictionary(prefix);
            if (st) {
                folders_second_pass(help_ours);
                err_detail_clear();
                err_origin(2, 0, 0);
                st = g_ports.load_dictionary(prefix);
            }
            if (!st) declare_file_variables();
        }
        scr_release(m);
    }
    // The language and the folders are known from here on: the language file
    // may be looked up, and the format parameters take its texts.
    lang_enable(true);
    if (lang_load() == LangState::Loaded) build_format_params();
    // 13. fonts
    if (!st && (st = g_ports.load_fonts())) goto done;
    // 14. log start
    if (IER ls = log_start()) {
        st = ls;
        goto done;
    }
    // 15. phase 2
    if ((st == 0 || st == ier::LOADSTRERROR) && rq.hook) st = rq.hook(flags * 16 + 2);
    // 16.
    if (st == 0) err_origin(2, 0, 0);
done:
    if (scr_ready()) scr_release(m);
    if (st > ier::Info && st_ready()) status_box(st);
    return st;
}

IER run_command(StrRef command, int default_type) {
    if (!sr_ok(command)) return sr_status(command);
    ScratchMark m = scr_mark();
    StrRef cmd = g_ports.substitute(command);
    if (!sr_ok(cmd)) {
        scr_release(m);
        return sr_status(cmd);
    }
    // The type name ends at the first blank outside quotes, or at the first
    // comma when there is no blank.
    uint16_t cut = str_find_char(cmd, ' ', 0, true);
    if (cut == kNotFound) cut = str_find_char(cmd, ',', 0, true);
    StrRef word = str_sub(cmd, 0, cut == kNotFound ? cmd.n : cut);
    StrRef args = cut == kNotFound ? sr_empty() : str_sub(cmd, cut + 1);
    int type = g_ports.program_type(word);
    if (!type && default_type) {
        type = default_type;
        args = cmd;
    }
    uint32_t code = type ? static_cast<uint32_t>(type) << 16 : uint32_t(ier::BADINPUTDATA);
    if (!g_run) g_run = run_generic;
    IER st = g_run(code, args);
    scr_release(m);
    return st;
}

IER run_generic(uint32_t type_code, StrRef args) { return g_ports.dispatch(type_code, args); }

IER start_program(StrRef name) {
    ScratchMark m = scr_mark();
    IER st = 0;
    StrRef start = sr_ok(name) ? name : sr_empty();
    StrRef wanted = sr_empty();
    if (!start.n) {
        bool given = false;
        StrRef s = str_trim(cmd_option(opt::APSTART, &given));
        if (!given || !s.n) s = str_concat(env_prefix(), sr("MENU"));
        StrRef base = lst_field(s, 1);
        StrRef pmt = str_concat(base, sr(".PMT"));
        StrRef ppn = str_concat(base, sr(".PPN"));
        start = env_find(pmt);
        if (!start.n) start = env_find(ppn);
        wanted = fmt("no start program %s or %s", {pmt, ppn});
    }
    StrRef run = cmd_option(opt::RUN);
    if (start.n || run.n) {
        bool in_given = false;
        StrRef input = cmd_option(opt::INPUT, &in_given);
        if (input.n) {
            uint16_t h = f_open(input, fmode::ReadOnly | fmode::Quiet);
            if (h != kBadHandle) {
                while (st < 128 && !f_at_end(h)) {
                    sysv_set(sysv::INHND, static_cast<int16_t>(h));
                    ScratchMark lm = scr_mark();
                    StrRef line = f_read_line(h);
                    if (sr_status(line) == ier::DiskIO) break;
                    st = sr_ok(line) ? (line.n ? run_command(line) : IER(0)) : sr_status(line);
                    scr_release(lm);
                }
                f_close(h);
                sysv_set(sysv::INHND, 0);
            }
        }
        bool out_given = false;
        cmd_option(opt::OUTPUT, &out_given);
        if (out_given) sysv_set(sysv::OUTHND, 1);
        if (st < 128) {
            if (!run.n) {
                st = g_ports.open_main_window(start);
                g_main_window = st == 0;
            } else {
                sysv_set(sysv::SCRSTAT, static_cast<int16_t>(sysv_get(sysv::SCRSTAT) | 8));
                st = run_command(run);
            }
        }
    } else {
        st = err_detail(ier::BADINPUTDATA, wanted);
    }
    if (st) status_box(st);
    if (g_main_window) {
        IER ls = g_ports.message_loop();
        if (!st) st = ls;
    }
    scr_release(m);
    return st;
}

int shutdown(StartupHook hook, IER status) {
    IER h = hook ? hook(3) : 0;
    int t = rt_stores_teardown();
    int exit_status = status ? status : (h ? h : t);
    if (exit_status < 128) return 0;
    return exit_status > 255 ? 255 : exit_status;
}

bool close_request() {
    ScratchMark m = scr_mark();
    int n = g_ports.running_children();
    bool allow;
    if (n > 0) {
        msg_box(fmt(msg(32), {n, n}), sr_empty(), box::Warning);
        allow = false;
    } else if (sysv_get(sysv::AUXSTAT) & 32) {
        allow = true;
    } else {
        allow = confirm(fmt(msg(33), {0, 0}));
    }
    scr_release(m);
    return allow;
}

StrRef next_answer() {
    uint16_t h = static_cast<uint16_t>(sysv_get(sysv::INHND));
    if (!h || f_at_end(h)) return sr_empty();
    StrRef l = f_read_line(h);
    return sr_ok(l) ? l : sr_empty();
}

bool record_answer(StrRef text) {
    ScratchMark m = scr_mark();
    // A file name keeps the case it was given in: it names a new file.
    StrRef name = cmd_option_in(env_get(env::CommandLine), opt::OUTPUT, nullptr, true);
    bool ok = name.n && file_append_line(name, text) == 0;
    scr_release(m);
    return ok && name.n;
}

IER eval_config_file(StrRef name, bool required) {
    ScratchMark m = scr_mark();
    StrRef expanded = env_expand(name);
    StrRef found = env_find(expanded);
    IER st = 0;
    if (sr_ok(found) && found.n) {
        if (file_size(found) > 0) {
            StrRef text = file_read_joined(found, sr(";"));
            st = sr_ok(text) ? g_ports.eval(text) : sr_status(text);
            if (st < 128) st = 0;
        }
    } else if (required) {
        // The name as shown never carries the database password.
        err_origin(1, mod::Streams, ier::FileNotFound);
        st = err_detail(ier::FileNotFound, env_expand(name, true));
    }
    scr_release(m);
    return st;
}

IER eval_config_list(StrRef list) {
    if (!sr_ok(list)) return sr_status(list);
    ScratchMark m = scr_mark();
    IER st = 0;
    int n = lst_count(list);
    for (int i = 1; i <= n && !st; i++) {
        StrRef entry = lst_field(list, i);
        StrRef file = lst_field(entry, 1, ';');
        bool required = lst_field(entry, 2, ';').n == 1 && lst_field(entry, 2, ';').p[0] == '1';
        st = eval_config_file(file, required);
        scr_release(m);
    }
    if (st) return st;
    // The language variables: NAME=message key, one per line.
    StrRef name = str_concat(env_prefix(), sr("LANGVARS.DAT"));
    StrRef found = env_find(name);
    if (!sr_ok(found) || !found.n) {
        scr_release(m);
        return 0;
    }
    uint16_t h = f_open(found, fmode::ReadOnly | fmode::Quiet);
    if (h == kBadHandle) {
        scr_release(m);
        return 0;
    }
    ScratchMark lm = scr_mark();
    for (;;) {
        StrRef line = f_read_line(h);
        if (sr_status(line) == ier::DiskIO) break;
        if (!sr_ok(line) || !line.n) {
            scr_release(lm);
            continue;
        }
        uint16_t eq = str_find_char(line, '=');
        StrRef var = str_trim(str_sub(line, 0, eq == kNotFound ? line.n : eq));
        StrRef key = eq == kNotFound ? sr_empty() : str_trim(str_sub(line, eq + 1));
        StrRef text = msg(key);
        char type = var_type_of(var);
        StrRef value = type == 't' ? str_quote(text) : (sr_ok(text) && text.n ? text : sr("0"));
        StrRef assign = fmt("%s=%s", {var, value});
        st = sr_ok(assign) ? g_ports.eval(assign) : sr_status(assign);
        scr_release(lm);
    }
    f_close(h);
    scr_release(m);
    return st;
}

}  // namespace rt
