// rtcli: runs the runtime without an application window, for developers and
// administrators.
//
//   rtcli eval [-p PRECIS] [-l LANG] [--] EXPR...
//       Each expression is evaluated in turn in one variable store and its
//       value printed on a line of its own.
//   rtcli run [OPTION...] [-t TRACE] FILE [ENTRY]
//       Compiles and runs a procedure with the current folder as the
//       application folder; text it shows goes to standard output. -t sets
//       the trace flags (8: one line per statement in PrcLog.txt).
//   rtcli compile FILE
//       Prints the compiled instructions: index, code, operand, text.
//   rtcli exec [OPTION...] RUNSTRING...
//       Runs each program run string through the dispatcher, as option RUN
//       would, with the current folder as the application folder. With
//       /INPUT: and no run string, the lines of the answer file are run as
//       program commands, as at start-up.
//
// OPTION is a command-line option of the runtime (/INPUT:file, /OUTPUT:file,
// /TRACE:n, ...; also -NAME:value and --NAME:value). With /INPUT: the dialogs
// take their answers from that file; with /OUTPUT: they record them there.
//   rtcli dict FOLDER PREFIX
//       Loads the dictionary PREFIXDICC.DAT and PREFIXREL.DAT found in
//       FOLDER and prints every structure: number, name, class, width and
//       folder, its fields (number, name, offset, width, type), its keys
//       (segments as offset+length from 0, with the field of each) and its
//       relations.
//   rtcli sql CONNECTION STATEMENT
//       Connects with the connection text "host,database,user,password"
//       (or a parameter file in the sqlparams.dat form, that file when
//       empty), runs the statement and prints each row as a comma list,
//       then "status N". Leave the password empty to take PGPASSWORD.
//
// An error prints its text on standard error and makes the exit status 1.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "platform/ui/wnd.h"
#include "runtime/core/cmdline.h"
#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "runtime/core/sysvar.h"
#include "runtime/data/dict.h"
#include "runtime/data/sql.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/vars.h"
#include "runtime/script/proc.h"
#include "runtime/script/programs.h"
#include "runtime/ui/wm.h"

namespace {

std::string g_lang;
bool g_here = false;  // the current folder is the application folder

rt::IER cli_hook(int phase) {
    if ((phase & 15) != 1) return 0;
    if (g_here) {
        rt::ScratchMark m = rt::scr_mark();
        rt::IER st = rt::env_set(rt::env::DocPath, rt::folder_current());
        rt::scr_release(m);
        if (st) return st;
    }
    if (!g_lang.empty()) return rt::env_set(rt::env::LangModule, g_lang);
    return 0;
}

int usage() {
    std::fputs("usage: rtcli eval [-p PRECIS] [-l LANG] [--] EXPR...\n"
               "       rtcli run [OPTION...] [-t TRACE] FILE [ENTRY]\n"
               "       rtcli compile FILE\n"
               "       rtcli exec [OPTION...] RUNSTRING...\n"
               "       rtcli sql CONNECTION STATEMENT\n",
               stderr);
    return 2;
}

// Runtime options given before a command's own arguments.
std::string g_options;

bool is_option(const char* a) {
    std::string_view t(a);
    if (t.size() < 3 || t.find_first_of(":=") == std::string_view::npos) return false;
    if (t[0] == '/') return true;
    return t[0] == '-' && t[1] != 't';
}

// Takes the leading options off the argument vector.
void take_options(int* argc, char*** argv) {
    while (*argc > 0 && is_option((*argv)[0])) {
        g_options += ' ';
        g_options += plat::utf8_to_cp1252((*argv)[0]);
        (*argc)--;
        (*argv)++;
    }
}

// The answer file of option INPUT, open while the command runs.
uint16_t g_input = rt::kBadHandle;

void open_input() {
    rt::ScratchMark m = rt::scr_mark();
    bool given = false;
    rt::StrRef name = rt::cmd_option_in(rt::env_get(rt::env::CommandLine), rt::opt::INPUT, &given, true);
    if (given && name.n) {
        g_input = rt::f_open(name, rt::fmode::ReadOnly | rt::fmode::Quiet);
        if (g_input != rt::kBadHandle) rt::sysv_set(rt::sysv::INHND, static_cast<int16_t>(g_input));
    }
    bool out = false;
    rt::cmd_option(rt::opt::OUTPUT, &out);
    if (out) rt::sysv_set(rt::sysv::OUTHND, 1);
    rt::scr_release(m);
}

void close_input() {
    if (g_input != rt::kBadHandle) rt::f_close(g_input);
    g_input = rt::kBadHandle;
    rt::sysv_set(rt::sysv::INHND, 0);
}

// Starts the runtime for a command; false (after a message) when it fails.
bool start() {
    std::string exe = plat::self_exe() + g_options;
    rt::StartRequest rq;
    rq.cmdline = rt::sr(exe);
    rq.appcode = rt::sr("RTCLI");
    rq.description = rt::sr("rtcli");
    rq.hook = cli_hook;
    rt::ex_install();
    rt::fnlib_install();
    rt::script_install();
    rt::dict_install();
    rt::programs_install();
    // The window system starts with the first window a procedure opens, so
    // that a run that opens none writes to the terminal as it is.
    rt::ui_install(rt::kUiStartLate);
    rt::IER st = rt::runtime_start(rq);
    if (st) {
        rt::shutdown(nullptr, st);
        return false;
    }
    return true;
}

// What a procedure printed while the terminal showed its windows: written
// once the terminal is given back.
std::string g_held;

void out_text(const std::string& t) {
    if (plat::wnd_backend() == plat::WND_TERMINAL) g_held += t;
    else std::fputs(t.c_str(), stdout);
}

void finish() {
    plat::wnd_shutdown();
    std::fputs(g_held.c_str(), stdout);
    g_held.clear();
    std::fflush(stdout);
    rt::shutdown(nullptr, 0);
}

void print_error(rt::IER st) {
    rt::ScratchMark m = rt::scr_mark();
    rt::StrRef t = rt::error_text(st);
    std::fprintf(stderr, "%s\n", plat::cp1252_to_utf8(rt::sv(t)).c_str());
    rt::scr_release(m);
    rt::err_detail_clear();
    rt::err_origin(2, 0, 0);
}

int cmd_eval(int argc, char** argv) {
    int precis = -1;
    int i = 0;
    for (; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--") {
            i++;
            break;
        }
        if (a == "-p" && i + 1 < argc) {
            precis = std::atoi(argv[++i]);
            if (precis < 0 || precis > rt::kPrecisMax) {
                std::fprintf(stderr, "rtcli: -p takes 0 to %d\n", rt::kPrecisMax);
                return 2;
            }
        } else if (a == "-l" && i + 1 < argc) {
            g_lang = argv[++i];
            for (char& c : g_lang) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        } else if (a.size() > 1 && a[0] == '-' && !(a[1] >= '0' && a[1] <= '9') && a[1] != '.') {
            return usage();
        } else {
            break;
        }
    }
    if (i >= argc) return usage();

    // The runtime gets a command line of its own: the expressions may hold
    // texts that would read as options.
    if (!start()) return 1;
    if (precis >= 0) rt::sysv_set(rt::sysv::PRECIS, static_cast<int16_t>(precis));

    int status = 0;
    for (; i < argc; i++) {
        std::string text = plat::utf8_to_cp1252(argv[i]);
        rt::ScratchMark m = rt::scr_mark();
        rt::Value v;
        rt::IER es = rt::ex_eval(rt::sr(text), &v);
        if (es >= 128) {
            print_error(es);
            status = 1;
        } else if (v.is_text()) {
            std::printf("%s\n", plat::cp1252_to_utf8(rt::sv(v.text)).c_str());
        } else {
            rt::StrRef n = rt::num_plain(v.num, rt::num_precis());
            std::printf("%s\n", std::string(rt::sv(n)).c_str());
        }
        rt::scr_release(m);
    }
    finish();
    return status;
}

// Text a procedure prints: a new row starts a new line.
int g_out_row = -1;
bool g_out_any = false;
void print_stdout(int row, int, rt::StrRef text) {
    if (g_out_any && row != g_out_row) out_text("\n");
    g_out_row = row;
    g_out_any = true;
    out_text(plat::cp1252_to_utf8(rt::sv(text)));
}

int cmd_run(int argc, char** argv) {
    take_options(&argc, &argv);
    int trace = -1;
    if (argc >= 2 && std::strcmp(argv[0], "-t") == 0) {
        trace = std::atoi(argv[1]);
        argc -= 2;
        argv += 2;
    }
    if (argc < 1 || argc > 2) return usage();
    g_here = true;
    if (!start()) return 1;
    if (trace >= 0) rt::sysv_set(rt::sysv::TRACE, static_cast<int16_t>(trace | 1));
    rt::script_ports().print = print_stdout;
    std::string file = plat::utf8_to_cp1252(argv[0]);
    std::string entry = argc > 1 ? plat::utf8_to_cp1252(argv[1]) : std::string();
    open_input();
    rt::IER st = rt::proc_run_by_name(rt::sr(entry), rt::sr(file), 0);
    close_input();
    if (g_out_any) out_text("\n");
    if (st >= 128) print_error(st);
    finish();
    return st >= 128 ? 1 : 0;
}

int cmd_exec(int argc, char** argv) {
    take_options(&argc, &argv);
    if (argc < 1 && g_options.empty()) return usage();
    g_here = true;
    if (!start()) return 1;
    rt::script_ports().print = print_stdout;
    int status = 0;
    open_input();
    // Without run strings the answer file's lines are the commands.
    std::vector<std::string> runs;
    for (int i = 0; i < argc; i++) runs.push_back(plat::utf8_to_cp1252(argv[i]));
    bool from_input = runs.empty();
    for (size_t i = 0; !status; i++) {
        std::string run;
        if (from_input) {
            if (g_input == rt::kBadHandle || rt::f_at_end(g_input)) break;
            rt::ScratchMark lm = rt::scr_mark();
            run = std::string(rt::sv(rt::f_read_line(g_input)));
            rt::scr_release(lm);
            if (run.empty()) continue;
        } else {
            if (i >= runs.size()) break;
            run = runs[i];
        }
        rt::IER st = rt::run_command(rt::sr(run));
        // What one program printed ends its line.
        if (g_out_any) out_text("\n");
        g_out_any = false;
        g_out_row = -1;
        if (st >= 128) {
            print_error(st);
            status = 1;
        }
    }
    close_input();
    finish();
    return status;
}

int cmd_compile(int argc, char** argv) {
    if (argc != 1) return usage();
    g_here = true;
    if (!start()) return 1;
    std::string file = plat::utf8_to_cp1252(argv[0]);
    int index = -1;
    rt::IER st = rt::proc_load(rt::sr(file), &index);
    if (st) {
        print_error(st);
        finish();
        return 1;
    }
    int n = rt::proc_instructions(index);
    for (int k = 0; k < n; k++) {
        rt::Instruction in = rt::proc_instruction(index, k);
        std::printf("%d %d %d %s\n", k, in.code, in.operand,
                    plat::cp1252_to_utf8(rt::sv(rt::proc_statement(index, k))).c_str());
    }
    finish();
    return 0;
}

// One statement through the connection layer: the rows as comma lists (a
// value holding a comma or a quote in quotes), then the status.
int cmd_sql(int argc, char** argv) {
    if (argc != 2) return usage();
    g_here = true;
    if (!start()) return 1;
    std::string conn = plat::utf8_to_cp1252(argv[0]);
    std::string stmt = plat::utf8_to_cp1252(argv[1]);
    rt::IER st = rt::sql_connect_text(rt::sr(conn), rt::sqlopt::KindNone);
    long long rows = 0;
    if (!st) st = rt::sql_exec(rt::sr(stmt), rt::kSqlChoose, &rows);
    if (!st) {
        int slot = rt::sql_current();
        int n = rt::sql_rows(slot);
        for (int r = 0; r < n; r++) {
            std::string line;
            for (int c = 0;; c++) {
                rt::ScratchMark m = rt::scr_mark();
                rt::StrRef v = rt::sql_value(r, c, slot);
                bool last = c + 1 >= rt::sql_columns(slot);
                std::string text(rt::sv(v));
                if (text.find_first_of(",'\"") != std::string::npos) {
                    rt::StrRef q = rt::str_quote(v, text.find('"') == std::string::npos ? '"' : '\'');
                    if (rt::sr_ok(q)) text = std::string(rt::sv(q));
                }
                rt::scr_release(m);
                line += (c ? "," : "") + text;
                if (last) break;
            }
            std::printf("%s\n", plat::cp1252_to_utf8(line).c_str());
        }
        rt::sql_release(slot);
    }
    std::printf("status %d\n", st);
    if (st >= 128) print_error(st);
    rt::sql_disconnect_all();
    finish();
    return st >= 128 ? 1 : 0;
}

std::string out(rt::StrRef s) { return plat::cp1252_to_utf8(rt::sv(s)); }

int cmd_dict(int argc, char** argv) {
    if (argc != 2) return usage();
    if (!start()) return 1;
    std::string folder = plat::utf8_to_cp1252(argv[0]);
    std::string prefix = plat::utf8_to_cp1252(argv[1]);
    rt::IER st = rt::env_set(rt::env::DocPath, rt::sr(folder));
    if (!st) st = rt::dict_load(rt::sr(prefix));
    // What loaded is shown also when a later line failed.
    for (int s = 1; s <= rt::dict_count(); s++) {
        std::printf("structure %d %s class %d width %d folder %s\n", s, out(rt::dict_name(s)).c_str(),
                    rt::dict_class(s), rt::dict_width(s), out(rt::dict_folder(s)).c_str());
        for (int f = 1; f <= rt::dict_fields(s); f++) {
            rt::FieldInfo fi;
            rt::dict_field(s, f, &fi);
            std::printf("  field %d %s offset %d width %d type %c\n", f, out(fi.name).c_str(), fi.offset, fi.width,
                        fi.type);
        }
        for (int k = 1; k <= rt::dict_keys(s); k++) {
            rt::KeySegment seg[rt::kKeySegmentsMax];
            int n = rt::dict_key(s, k, seg);
            std::printf("  key %d", k);
            for (int i = 0; i < n; i++)
                std::printf(" %d+%d(field %d)", seg[i].offset, seg[i].length, rt::dict_key_field(s, k, i + 1));
            std::printf("\n");
        }
        rt::StrRef rel = rt::dict_relations(s);
        if (rel.n) std::printf("  relations %s\n", out(rel).c_str());
    }
    if (st) print_error(st);
    finish();
    return st ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    if (std::strcmp(argv[1], "eval") == 0) return cmd_eval(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "run") == 0) return cmd_run(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "compile") == 0) return cmd_compile(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "exec") == 0) return cmd_exec(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "dict") == 0) return cmd_dict(argc - 2, argv + 2);
    if (std::strcmp(argv[1], "sql") == 0) return cmd_sql(argc - 2, argv + 2);
    return usage();
}
