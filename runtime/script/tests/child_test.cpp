// Child instances, viewers and system commands.
#include "runtime/script/child.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/fs.h"
#include "platform/proc.h"
#include "runtime/core/cmdline.h"
#include "runtime/core/env.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/script/proc.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

namespace fs = std::filesystem;
using test::str;

// Another process's doing shows some time later; the bound keeps a broken
// case from hanging.
bool eventually(const std::function<bool()>& done) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// A stand-in for our own program. Its run string is "hold N" or "keep N":
// it writes its arguments to args.N, the name, mode and content of the
// connection file it was given to path.N, mode.N and conn.N (deleting the
// file for "hold", as a child does, and leaving it for "keep"), then runs
// while hold.N exists.
constexpr const char* kStandIn = R"(#!/bin/sh
d=$(dirname "$0")
r=${1#/RUN:?}; r=${r%?}
w=${r%% *}; n=${r#* }
printf '%s\n' "$@" > "$d/args.$n"
if [ -n "${QV_RUNPRM+set}" ]; then
  printf '%s' "$QV_RUNPRM" > "$d/path.$n"
  stat -c %a "$QV_RUNPRM" > "$d/mode.$n"
  cat "$QV_RUNPRM" > "$d/conn.$n"
  [ "$w" = hold ] && rm -f "$QV_RUNPRM"
fi
while [ -e "$d/hold.$n" ]; do sleep 0.02; done
)";

class ChildTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        in_ = std::make_unique<test::InFolder>(dir_.path);
        exe_ = dir_.put("standin", kStandIn);
        ::chmod(exe_.c_str(), 0755);
        child_set_executable(exe_);
        env_set(env::CommandLine, "prog");
        // The connection files of this test are made here, where the test
        // can see what is left of them.
        tmp_ = dir_.put("tmp/.keep", "");
        tmp_ = fs::path(tmp_).parent_path().string();
        set_env("TMPDIR", tmp_.c_str());
        set_env(kChildConnectionVar, nullptr);
        m_ = scr_mark();
    }
    void TearDown() override {
        scr_release(m_);
        for (int i = 0; i <= 40; i++) fs::remove(dir_.path + "/hold." + std::to_string(i));
        EXPECT_TRUE(eventually([] { return child_count() == 0; }));
        child_set_executable("");
        child_set_launcher(nullptr);
        rt_ports_reset();
        for (auto& [name, old] : saved_env_) {
            if (old.first) ::setenv(name.c_str(), old.second.c_str(), 1);
            else ::unsetenv(name.c_str());
        }
        in_.reset();
        RtTest::TearDown();
    }
    void set_env(const std::string& name, const char* value) {
        if (!saved_env_.count(name)) {
            const char* o = std::getenv(name.c_str());
            saved_env_[name] = {o != nullptr, o ? o : ""};
        }
        if (value) ::setenv(name.c_str(), value, 1);
        else ::unsetenv(name.c_str());
    }
    void hold(int n) { dir_.put("hold." + std::to_string(n), ""); }
    void release(int n) { fs::remove(dir_.path + "/hold." + std::to_string(n)); }
    std::string file(const std::string& name, int n) { return dir_.read(name + "." + std::to_string(n)); }
    bool has(const std::string& name, int n) { return dir_.exists(name + "." + std::to_string(n)); }
    int temp_files() { return int(std::distance(fs::directory_iterator(tmp_), fs::directory_iterator())) - 1; }
    IER start(const std::string& run) { return child_start(sr(run)); }

    test::TempDir dir_;
    std::unique_ptr<test::InFolder> in_;
    std::string exe_, tmp_;
    std::map<std::string, std::pair<bool, std::string>> saved_env_;
    ScratchMark m_ = 0;
};

TEST_F(ChildTest, ThirtyTwoRunAtOnceAndAFreedEntryIsUsedAgain) {
    env_set(env::CommandLine, "prog /APNAME:'xy' /TRACE:1");
    child_install();
    for (int i = 1; i <= kChildrenMax + 1; i++) hold(i);
    for (int i = 1; i <= kChildrenMax; i++) ASSERT_EQ(start("hold " + std::to_string(i)), 0) << i;
    EXPECT_EQ(child_count(), kChildrenMax);
    EXPECT_EQ(rt_ports().running_children(), kChildrenMax);
    EXPECT_EQ(start("hold 33"), ier::DATAOUTBOUND);
    {
        test::BoxRecorder boxes;
        EXPECT_FALSE(close_request()) << "the program may not close while children run";
    }
    release(5);
    ASSERT_TRUE(eventually([] { return child_count() == kChildrenMax - 1; }));
    EXPECT_EQ(start("hold 33"), 0);
    EXPECT_EQ(child_count(), kChildrenMax);
    for (int i = 1; i <= kChildrenMax + 1; i++) release(i);
    ASSERT_TRUE(eventually([] { return child_count() == 0; }));
    // The run string in quotes, then the first argument of our own line.
    EXPECT_EQ(file("args", 1), "/RUN:'hold 1'\n/APNAME:'xy'\n");
    EXPECT_EQ(file("args", 33), "/RUN:'hold 33'\n/APNAME:'xy'\n");
}

TEST_F(ChildTest, ConnectionTextTravelsInAPrivateFile) {
    env_set(env::Database, "host,db,user,pw's secret");
    hold(1);
    hold(2);
    ASSERT_EQ(start("hold 1"), 0);
    ASSERT_EQ(start("keep 2"), 0);
    release(1);
    release(2);
    ASSERT_TRUE(eventually([] { return child_count() == 0; }));
    for (int n : {1, 2}) {
        EXPECT_EQ(file("mode", n), "600\n");
        EXPECT_EQ(file("conn", n), "host,db,user,pw's secret");
        EXPECT_FALSE(fs::exists(file("path", n))) << "deleted by the child, else when it has ended";
    }
    EXPECT_NE(file("path", 1), file("path", 2)) << "one file per child";
    EXPECT_EQ(file("args", 1).find("secret"), std::string::npos);
}

TEST_F(ChildTest, NoConnectionTextPassesNone) {
    set_env(kChildConnectionVar, "/inherited/from/our/parent");
    hold(1);
    ASSERT_EQ(start("hold 1"), 0);
    release(1);
    ASSERT_TRUE(eventually([] { return child_count() == 0; }));
    EXPECT_TRUE(has("args", 1));
    EXPECT_FALSE(has("path", 1));
    EXPECT_EQ(temp_files(), 0);
}

TEST_F(ChildTest, FailedStartLeavesNoConnectionFile) {
    env_set(env::Database, "host,db,user,secret");
    child_set_executable(dir_.path + "/no-such-program");
    EXPECT_EQ(start("hold 1"), ier::CHILDEXECERROR);
    EXPECT_EQ(temp_files(), 0);
    EXPECT_EQ(child_count(), 0);

    // A launcher that fails after the file was made (as a terminal window
    // that cannot open): the file was private, and is gone afterwards.
    static std::string seen_path;
    static unsigned seen_mode;
    seen_path.clear();
    child_set_launcher([](const ChildLaunch& rq, int*) {
        for (const std::string& e : rq.env)
            if (e.rfind(std::string(kChildConnectionVar) + "=", 0) == 0) seen_path = e.substr(e.find('=') + 1);
        struct stat st {};
        seen_mode = ::stat(seen_path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
        return ENOENT;
    });
    EXPECT_EQ(start("hold 1"), ier::CHILDEXECERROR);
    EXPECT_FALSE(seen_path.empty());
    EXPECT_EQ(seen_mode, 0600u);
    EXPECT_FALSE(fs::exists(seen_path));
}

TEST_F(ChildTest, OutputOptionRecordsRunStringsInstead) {
    env_set(env::CommandLine, "prog /OUTPUT:'rec.txt'");
    hold(1);
    EXPECT_EQ(start("hold 1"), ier::FEATUREREMOVED);
    EXPECT_EQ(start("PrcExec main.prx,Start"), ier::FEATUREREMOVED);
    EXPECT_EQ(child_count(), 0);
    EXPECT_FALSE(has("args", 1));
    EXPECT_EQ(dir_.read("rec.txt"), "hold 1\r\nPrcExec main.prx,Start\r\n");
}

TEST_F(ChildTest, SomeProgramsRunInTheCallersProcess) {
    struct Case {
        int outhnd;
        const char* run;
    } cases[] = {{1, "hold 1"}, {0, "Help hold 1"}, {0, "Help,1"}, {0, "FontSet"}, {0, " FontSet 1"}};
    hold(1);
    for (const Case& c : cases) {
        sysv_set(sysv::OUTHND, int16_t(c.outhnd));
        EXPECT_EQ(start(c.run), ier::FEATUREREMOVED) << c.run;
    }
    EXPECT_EQ(child_count(), 0);
    EXPECT_FALSE(dir_.exists("rec.txt"));
}

TEST_F(ChildTest, RunStringReachesTheChildWhole) {
    env_set(env::CommandLine, "prog /DPATH:'C:\\x'");
    const char* runs[] = {
        "PrcExec main.prx,Start",
        "ExpEval X$='it''s'",
        "ExpEval X$='a /TRACE:3 /OUTPUT:x'",  // unquoted by a careless quote, the rest became options
        "ExpEval X$=\"a  b\"",
        "ExpEval 1 /TRACE:3 -TRACE:3",
        "ExpEval X$='a' /TRACE:3 & /OUTPUT:x",
        "PrcExec C:\\apps\\a.prx:1",
    };
    for (const char* run : runs) {
        std::vector<std::string> argv;
        ASSERT_EQ(child_argv(sr(run), "prog", &argv), 0) << run;
        // As the child builds its command line from its arguments.
        std::vector<char*> cv;
        for (std::string& a : argv) cv.push_back(a.data());
        StrRef line = cmd_normalize(cmd_from_argv(sr(argv[0]), int(cv.size()), cv.data()));
        EXPECT_EQ(str(cmd_option_in(line, opt::RUN)), run);
        bool found = true;
        cmd_option_in(line, opt::TRACE, &found);
        EXPECT_FALSE(found) << str(line);
        cmd_option_in(line, opt::OUTPUT, &found);
        EXPECT_FALSE(found) << str(line);
        EXPECT_EQ(str(cmd_option_in(line, opt::DPATH)), "C:\\x");
    }
}

TEST_F(ChildTest, RunStringThatCannotBeQuotedIsRefused) {
    hold(1);
    EXPECT_EQ(start("ExpEval X$='a'+\"b\" hold 1"), ier::BADINPUTDATA);
    EXPECT_EQ(child_start(sr("hold\0 1", 7)), ier::BADINPUTDATA);
    EXPECT_EQ(child_count(), 0);
}

TEST_F(ChildTest, ChildTakesItsConnectionOnce) {
    std::string path = dir_.put("conn", "h,d,u,p");
    ::chmod(path.c_str(), 0600);
    set_env(kChildConnectionVar, path.c_str());
    EXPECT_EQ(str(child_take_connection()), "h,d,u,p");
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(std::getenv(kChildConnectionVar), nullptr);
    EXPECT_EQ(str(child_take_connection()), "");

    // A file others may read was not made by our parent for us.
    std::string open = dir_.put("open", "h,d,u,p");
    ::chmod(open.c_str(), 0644);
    set_env(kChildConnectionVar, open.c_str());
    EXPECT_EQ(str(child_take_connection()), "");
    set_env(kChildConnectionVar, (dir_.path + "/missing").c_str());
    EXPECT_EQ(str(child_take_connection()), "");
}

// ------------------------------------------------------------ commands

struct Pieces {
    std::string text;
    int count = 0;
    size_t largest = 0;
    IER stop = 0;
};
IER collect(void* ctx, StrRef piece) {
    auto* p = static_cast<Pieces*>(ctx);
    p->text.append(piece.p, piece.n);
    p->count++;
    if (piece.n > p->largest) p->largest = piece.n;
    return p->stop;
}

TEST_F(ChildTest, CommandOutputArrivesWholeAndInOrder) {
    std::string expected;
    for (int i = 1; i <= 20000; i++) expected += std::to_string(i) + "\n";
    Pieces p;
    int code = -1;
    ASSERT_EQ(child_run_command(sr("seq 1 20000"), collect, &p, &code), 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(p.text, expected);
    EXPECT_GT(p.count, 1);
    EXPECT_LE(p.largest, 1024u);

    Pieces stop;
    stop.stop = ier::UserCanceled;
    EXPECT_EQ(child_run_command(sr("seq 1 20000"), collect, &stop, &code), ier::UserCanceled);
    EXPECT_EQ(stop.count, 1);
    EXPECT_EQ(child_run_command(sr("echo\0x", 6), nullptr, nullptr, &code), ier::FileNotFound);
}

Argument num_arg(int n) { return Argument{false, int16_t(n), Num(n) * 100, sr_empty()}; }
Argument text_arg(const std::string& t) {
    static std::vector<std::unique_ptr<std::string>> keep;
    keep.push_back(std::make_unique<std::string>(t));
    return Argument{true, 0, 0, sr(*keep.back())};
}

TEST_F(ChildTest, SystemCommandPutsItsResultInStat) {
    env_set(env::ApName, "COLDGR27K:help");
    dir_.put("view.txt", "shown");
    set_env("QV_VIEWER_7", "cp %s copied.txt");
    set_env("QV_VIEWER_6", nullptr);
    set_env("DISPLAY", nullptr);
    set_env("WAYLAND_DISPLAY", nullptr);
    struct Case {
        std::vector<Argument> args;
        int stat;
    } cases[] = {
        {{text_arg("exit 3")}, 3},
        {{num_arg(0), text_arg("exit 4")}, 4},
        {{text_arg("true")}, 0},
        {{text_arg("cat")}, 0},  // standard input is empty: it ends at once
        {{text_arg("no_such_program_qv 2>/dev/null")}, 127},
        {{text_arg("seq 1 100000")}, 0},  // output discarded
        {{text_arg("test '%APNAME%' = CO")}, 0},
        {{text_arg("test '%APNAME%' = CA")}, 1},
        {{num_arg(7), text_arg("view.txt")}, 0},
        {{num_arg(6), text_arg("view.txt")}, -1},
        {{text_arg(std::string("a\0b", 3))}, ier::FileNotFound},
    };
    for (const Case& c : cases) {
        ArgumentList a;
        for (const Argument& x : c.args) a.arg[a.count++] = x;
        sysv_set(sysv::STAT, 99);
        EXPECT_EQ(child_system_command(a), 0);
        EXPECT_EQ(sysv_get(sysv::STAT), c.stat) << str(c.args.back().text);
    }
    EXPECT_TRUE(eventually([&] { return dir_.read("copied.txt") == "shown"; }));
}

// The real program as the child: it starts, runs its run string and ends.
TEST_F(ChildTest, LedgerRunsAsAChild) {
    fs::path ledger = fs::path(plat::self_exe()).parent_path() / "../../apps/ledger/ledger";
    if (!fs::exists(ledger)) GTEST_SKIP() << "no ledger program next to the tests";
    // The ledger waits at a gate until the test has seen it counted; exec
    // keeps it the process we started.
    std::string gate = dir_.put("gate", "");
    std::string wrapper = dir_.put("ledger-gate", "#!/bin/sh\nwhile [ -e " + plat::sh_quote(gate) +
                                                      " ]; do sleep 0.02; done\nexec " +
                                                      plat::sh_quote(fs::canonical(ledger).string()) + " \"$@\"\n");
    ::chmod(wrapper.c_str(), 0755);
    child_set_executable(wrapper);
    // What the ledger needs to start in an empty folder.
    dir_.put("CODICC.DAT", "");
    dir_.put("COCLCFIX.DAT", "");
    ASSERT_EQ(start("ExpEval WRITE('out.txt';-2;'X=1')"), 0);
    EXPECT_EQ(child_count(), 1);
    fs::remove(gate);
    ASSERT_TRUE(eventually([] { return child_count() == 0; }));
    EXPECT_EQ(dir_.read("out.txt"), "X=1");
}

}  // namespace
}  // namespace rt
