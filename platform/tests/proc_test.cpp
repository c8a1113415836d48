#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/proc.h"

namespace {

namespace fs = std::filesystem;

struct Folder {
    fs::path path;
    Folder() {
        std::string pat = (fs::temp_directory_path() / "qvproc.XXXXXX").string();
        if (!::mkdtemp(pat.data())) throw std::runtime_error("mkdtemp");
        path = pat;
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string operator/(const std::string& name) const { return (path / name).string(); }
};

std::string read_file(const std::string& name) {
    std::ifstream f(name, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

// Something another process produces shows up some time later; a bounded
// wait keeps a broken case from hanging.
bool eventually(const std::function<bool()>& done) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class ScopedEnv {
public:
    ~ScopedEnv() {
        for (auto& [name, old] : saved_) {
            if (old) ::setenv(name.c_str(), old->c_str(), 1);
            else ::unsetenv(name.c_str());
        }
    }
    void set(const std::string& name, const char* value) {
        if (!saved_.count(name)) {
            const char* o = std::getenv(name.c_str());
            saved_[name] = o ? std::optional<std::string>(o) : std::nullopt;
        }
        if (value) ::setenv(name.c_str(), value, 1);
        else ::unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

struct Capture {
    std::string text;
    int pieces = 0;
    size_t largest = 0;
    int stop_after = 0;  // pieces; 0 never stops
};
int capture(void* ctx, const char* data, size_t n) {
    auto* c = static_cast<Capture*>(ctx);
    c->text.append(data, n);
    c->pieces++;
    if (n > c->largest) c->largest = n;
    return c->stop_after && c->pieces >= c->stop_after ? 7 : 0;
}

struct ShellCase {
    const char* command;
    int exit_code;
    const char* output;
};

TEST(ProcShell, ExitCodeAndOutput) {
    const ShellCase cases[] = {
        {"true", 0, ""},
        {"exit 3", 3, ""},
        {"echo out; echo err >&2", 0, "out\nerr\n"},  // both streams, in order
        {"no_such_program_qv 2>/dev/null", 127, ""},
        {"kill -9 $$", 128 + 9, ""},                 // a signal, as the shell reports it
        {"cat; echo end", 0, "end\n"},                // standard input is empty
        {"read x; echo $?", 0, "1\n"},
    };
    for (const ShellCase& c : cases) {
        Capture cap;
        int code = -99;
        EXPECT_EQ(plat::run_shell(c.command, capture, &cap, &code), 0) << c.command;
        EXPECT_EQ(code, c.exit_code) << c.command;
        EXPECT_EQ(cap.text, c.output) << c.command;
    }
}

TEST(ProcShell, LongOutputArrivesInBoundedPiecesInOrder) {
    std::string expected;
    for (int i = 1; i <= 20000; i++) expected += std::to_string(i) + "\n";
    Capture cap;
    int code = -1;
    ASSERT_EQ(plat::run_shell("seq 1 20000", capture, &cap, &code), 0);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(cap.text, expected);
    EXPECT_GT(cap.pieces, 1);
    EXPECT_LE(cap.largest, plat::kOutputPiece);
}

TEST(ProcShell, SinkStopsAndKillsTheCommand) {
    Folder dir;
    std::string mark = dir / "after";
    // seq writes far more than a pipe holds, so the command is still running
    // when the sink stops it; killed, it never gets to the touch.
    std::string cmd = "seq 1 2000000; touch " + plat::sh_quote(mark);
    Capture cap;
    cap.stop_after = 1;
    int code = -99;
    EXPECT_EQ(plat::run_shell(cmd, capture, &cap, &code), 7);
    EXPECT_EQ(cap.pieces, 1);
    EXPECT_EQ(code, -99);  // no exit code for a stopped command
    EXPECT_FALSE(fs::exists(mark));
}

TEST(ProcShell, DiscardsOutputWithoutSink) {
    int code = -1;
    EXPECT_EQ(plat::run_shell("seq 1 100000; exit 4", nullptr, nullptr, &code), 0);
    EXPECT_EQ(code, 4);
}

TEST(ProcShell, ProgramThatCannotStart) {
    int code = -99;
    EXPECT_EQ(plat::run_capture({"/no/such/program"}, nullptr, nullptr, &code), -1);
    EXPECT_EQ(plat::run_capture({}, nullptr, nullptr, &code), -1);
    EXPECT_EQ(plat::run_capture({"no_such_program_qv"}, nullptr, nullptr, &code), -1);
    EXPECT_EQ(code, -99);
}

TEST(ProcShell, QuotedWordReachesTheProgramUnchanged) {
    const char* texts[] = {"plain", "a b  c", "it's", "'", "$HOME `id` $(id)", "back\\slash", "\"dq\"", ""};
    for (const char* t : texts) {
        Capture cap;
        int code = -1;
        ASSERT_EQ(plat::run_shell("printf %s " + plat::sh_quote(t), capture, &cap, &code), 0);
        EXPECT_EQ(cap.text, t);
    }
}

TEST(ProcSpawn, RunsWithoutWaitingAndIsReaped) {
    Folder dir;
    std::string gate = dir / "gate";
    std::ofstream(gate).put('x');
    int pid = 0;
    plat::SpawnRequest rq;
    rq.argv = {"/bin/sh", "-c", "while [ -e \"$0\" ]; do sleep 0.02; done; exit 5", gate};
    ASSERT_EQ(plat::spawn(rq, &pid), 0);
    EXPECT_EQ(plat::proc_poll(pid), 1);
    fs::remove(gate);
    EXPECT_EQ(plat::proc_wait(pid), 5);
    EXPECT_EQ(plat::proc_poll(pid), -1);  // reaped: no longer ours
}

TEST(ProcSpawn, PollReapsAnEndedProcess) {
    int pid = 0;
    plat::SpawnRequest rq;
    rq.argv = {"/bin/sh", "-c", "exit 9"};
    ASSERT_EQ(plat::spawn(rq, &pid), 0);
    int code = -1;
    ASSERT_TRUE(eventually([&] { return plat::proc_poll(pid, &code) == 0; }));
    EXPECT_EQ(code, 9);
    EXPECT_EQ(plat::proc_wait(pid), -1);
}

TEST(ProcSpawn, EnvironmentChangesStdinAndDescriptors) {
    Folder dir;
    ScopedEnv env;
    env.set("QV_PROC_KEEP", "kept");
    env.set("QV_PROC_DROP", "inherited");
    env.set("QV_PROC_SET", "old");
    // A descriptor of ours without close-on-exec must not reach the child.
    int leaked = ::fcntl(0, F_DUPFD, 60);
    ASSERT_GE(leaked, 60);
    std::string out = dir / "out";
    plat::SpawnRequest rq;
    rq.argv = {"/bin/sh", "-c",
               "{ printf '%s|%s|%s|' \"$QV_PROC_KEEP\" \"${QV_PROC_DROP-unset}\" \"$QV_PROC_SET\"; cat;"
               " printf '|'; ls /proc/self/fd | tr '\\n' ' '; } > \"$0\"",
               out};
    rq.env = {"QV_PROC_SET=new", "QV_PROC_DROP"};
    int pid = 0;
    ASSERT_EQ(plat::spawn(rq, &pid), 0);
    EXPECT_EQ(plat::proc_wait(pid), 0);
    ::close(leaked);
    std::string got = read_file(out);
    EXPECT_EQ(got.substr(0, got.rfind('|') + 1), "kept|unset|new||");  // nothing on standard input
    EXPECT_EQ((" " + got).find(" " + std::to_string(leaked) + " "), std::string::npos) << got;
}

TEST(ProcSpawn, MissingProgramFailsAtOnce) {
    int pid = 0;
    plat::SpawnRequest rq;
    rq.argv = {"/no/such/program"};
    EXPECT_NE(plat::spawn(rq, &pid), 0);
    rq.argv = {"no_such_program_qv"};
    rq.search_path = true;
    EXPECT_NE(plat::spawn(rq, &pid), 0);
    rq.argv = {};
    EXPECT_NE(plat::spawn(rq, &pid), 0);
}

TEST(ProcViewer, ConfiguredCommandGetsTheArgumentAsOneWord) {
    Folder dir;
    ScopedEnv env;
    std::string src = dir / "my file's.txt";
    std::ofstream(src) << "content";
    fs::create_directory(dir.path / "sub");
    // "%s" stands for the argument; without it the argument is appended.
    env.set("QV_VIEWER_3", ("cp %s " + plat::sh_quote(dir / "copy")).c_str());
    env.set("QV_VIEWER_4", ("cp -t " + plat::sh_quote(dir / "sub")).c_str());
    EXPECT_EQ(plat::open_viewer(3, src), 0);
    EXPECT_EQ(plat::open_viewer(4, src), 0);
    EXPECT_TRUE(eventually([&] { return read_file(dir / "copy") == "content"; }));
    EXPECT_TRUE(eventually([&] { return read_file(dir / "sub/my file's.txt") == "content"; }));
}

TEST(ProcViewer, NoViewerGivesMinusOne) {
    ScopedEnv env;
    env.set("QV_VIEWER_5", nullptr);
    env.set("DISPLAY", nullptr);
    env.set("WAYLAND_DISPLAY", nullptr);
    EXPECT_EQ(plat::open_viewer(5, "x.txt"), -1);  // no display: nothing to open it with
    env.set("QV_VIEWER_0", "true");
    EXPECT_EQ(plat::open_viewer(0, "x.txt"), -1);
    env.set("DISPLAY", ":99");
    env.set("PATH", "/nonexistent");
    EXPECT_EQ(plat::open_viewer(5, "x.txt"), -1);  // no xdg-open
}

}  // namespace
