// rtcli: runs the runtime without an application window, for developers and
// administrators.
//
//   rtcli eval [-p PRECIS] [-l LANG] [--] EXPR...
//
// Each expression is evaluated in turn in one variable store and its value
// printed on a line of its own; an error prints its text on standard error
// and makes the exit status 1.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fs.h"
#include "runtime/core/env.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnlib.h"

namespace {

std::string g_lang;

rt::IER cli_hook(int phase) {
    if ((phase & 15) == 1 && !g_lang.empty()) return rt::env_set(rt::env::LangModule, g_lang);
    return 0;
}

int usage() {
    std::fputs("usage: rtcli eval [-p PRECIS] [-l LANG] [--] EXPR...\n", stderr);
    return 2;
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
    std::string exe = plat::self_exe();
    rt::StartRequest rq;
    rq.cmdline = rt::sr(exe);
    rq.appcode = rt::sr("RTCLI");
    rq.description = rt::sr("rtcli");
    rq.hook = cli_hook;
    rt::ex_install();
    rt::fnlib_install();
    rt::IER st = rt::runtime_start(rq);
    if (st) return rt::shutdown(nullptr, st) ? 1 : 1;
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
    std::fflush(stdout);
    rt::shutdown(nullptr, 0);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    if (std::strcmp(argv[1], "eval") == 0) return cmd_eval(argc - 2, argv + 2);
    return usage();
}
