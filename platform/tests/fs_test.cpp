#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/fs.h"

namespace {

namespace fs = std::filesystem;

// Sets environment variables for one scope and puts the old values back.
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

// Each test gets its own folder tree, removed afterwards.
class FsTest : public ::testing::Test {
protected:
    std::string root;

    void SetUp() override {
        std::string tmpl = plat::temp_folder() + "/qvfsXXXXXX";
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        for (auto& e : fs::recursive_directory_iterator(root, ec))
            if (e.is_directory(ec))
                fs::permissions(e.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root, ec);
    }
    std::string put(const std::string& rel, const std::string& content) const {
        fs::path p = fs::path(root) / rel;
        fs::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<std::string> entries(const std::string& rel) const {
        std::vector<std::string> out;
        for (auto& e : fs::directory_iterator(fs::path(root) / rel))
            out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
};

mode_t mode_of(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

mode_t umask_now() {
    mode_t m = ::umask(0);
    ::umask(m);
    return m;
}

TEST(WildMatch, WindowsRules) {
    struct Case {
        const char* pattern;
        const char* name;
        bool match;
    } cases[] = {
        {"*.*", "CODICC.DAT", true},
        {"*.*", "README", true},  // also names without a dot
        {"*", "a.b.c", true},
        {"*.dat", "codicc.DAT", true},
        {"CO*.DAT", "cocta.dat", true},
        {"*.dat", "codicc.dat.bak", false},
        {"*.dat", "dat", false},
        {"ABC*.", "ABCD", true},  // a final dot: no extension
        {"ABC*.", "ABCD.TXT", false},
        {"*.", "README", true},
        {"*.", "x.y", false},
        {"ABC.*", "ABC", true},
        {"ABC.*", "abc.txt", true},
        {"co??.dat", "CODI.DAT", true},
        {"co??.dat", "cod.dat", false},
        {"co??.dat", "codic.dat", false},
        {"a*b*c", "aXbYbZc", true},
        {"a*b", "aXbYc", false},
        {"*x*", "abc", false},
        {"abc", "ABC", true},
        {"abc", "abcd", false},
        {"\xc9T\xc9.TXT", "\xc9t\xc9.txt", true},  // bytes above ASCII compare as they are
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::wild_match(c.pattern, c.name), c.match)
            << "pattern " << c.pattern << " name " << c.name;

    EXPECT_TRUE(plat::has_wildcards("C:\\DATA\\*.DAT"));
    EXPECT_TRUE(plat::has_wildcards("CO?.DAT"));
    EXPECT_FALSE(plat::has_wildcards("C:\\DATA\\CODICC.DAT"));
}

TEST_F(FsTest, OsPathFindsComponentsInAnyCase) {
    put("App/Data/CODICC.DAT", "codes");
    put("dup/AB", "upper");
    put("dup/ab", "lower");
    fs::create_directories(root + "/App/Logs");

    struct Case {
        const char* name;  // below root, as the runtime writes it
        const char* path;  // below root, as the OS should see it
    } cases[] = {
        {"\\app\\DATA\\codicc.dat", "/App/Data/CODICC.DAT"},
        {"/APP/data/CoDiCc.dat", "/App/Data/CODICC.DAT"},
        {"\\App/Data\\CODICC.DAT", "/App/Data/CODICC.DAT"},
        {"//app\\\\data//codicc.dat", "/App/Data/CODICC.DAT"},
        {"/app/./data/../DATA/codicc.dat", "/App/./Data/../Data/CODICC.DAT"},
        // A new name keeps its spelling inside folders found in another case.
        {"\\APP\\DATA\\New.Dat", "/App/Data/New.Dat"},
        {"/app/Missing/Data/x.dat", "/App/Missing/Data/x.dat"},
        {"/app/logs/", "/App/Logs/"},
        // An exact name wins; among several case matches the first in byte
        // order does.
        {"/dup/ab", "/dup/ab"},
        {"/dup/Ab", "/dup/AB"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::os_path(root + c.name), root + c.path) << c.name;

    EXPECT_TRUE(plat::file_exists(root + "\\APP\\DATA\\codicc.dat"));
    EXPECT_FALSE(plat::file_exists(root + "\\APP\\DATA"));
    EXPECT_TRUE(plat::folder_exists(root + "\\app\\data"));
    EXPECT_FALSE(plat::folder_exists(root + "\\app\\data\\codicc.dat"));
    EXPECT_FALSE(plat::file_exists(root + "\\app\\data\\other.dat"));

    FILE* f = plat::open_file(root + "\\APP\\data\\codicc.DAT", "rb");
    ASSERT_NE(f, nullptr);
    char buf[16] = {};
    EXPECT_EQ(std::fread(buf, 1, sizeof buf, f), 5u);
    std::fclose(f);
    EXPECT_STREQ(buf, "codes");

    f = plat::open_file(root + "\\app\\DATA\\Made.txt", "wb");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    EXPECT_TRUE(fs::is_regular_file(root + "/App/Data/Made.txt"));
}

TEST_F(FsTest, RelativeNamesStartAtTheCurrentFolder) {
    put("App/Data/CODICC.DAT", "codes");
    std::string old = plat::current_folder();
    ASSERT_EQ(plat::change_folder(root + "\\APP"), 0);
    EXPECT_EQ(plat::current_folder(), root + "/App");
    EXPECT_EQ(plat::os_path("data\\codicc.dat"), "Data/CODICC.DAT");
    EXPECT_EQ(plat::os_path(".\\DATA\\codicc.dat"), "./Data/CODICC.DAT");
    EXPECT_EQ(plat::os_path("..\\app\\data"), "../App/Data");
    EXPECT_EQ(plat::find_files("*.*"), std::vector<std::string>{});
    EXPECT_EQ(plat::find_files("DATA\\*.dat"), std::vector<std::string>{"CODICC.DAT"});
    ASSERT_EQ(plat::change_folder(old), 0);
}

TEST_F(FsTest, DriveLetterMapsThroughEnvironment) {
    put("App/Data/CODICC.DAT", "codes");
    ScopedEnv env;
    env.set("QV_DRIVE_C", nullptr);
    env.set("QV_DRIVE_D", nullptr);
    EXPECT_EQ(plat::os_path("C:\\nowhere\\a.txt"), "/nowhere/a.txt");
    EXPECT_EQ(plat::os_path("c:/nowhere/a.txt"), "/nowhere/a.txt");
    EXPECT_EQ(plat::os_path("C:\\"), "/");

    env.set("QV_DRIVE_C", root.c_str());
    EXPECT_EQ(plat::os_path("C:\\app\\data\\codicc.dat"), root + "/App/Data/CODICC.DAT");
    EXPECT_EQ(plat::os_path("c:\\APP\\DATA\\CODICC.DAT"), root + "/App/Data/CODICC.DAT");
    EXPECT_EQ(plat::os_path("c:app\\DATA"), root + "/App/Data");
    // Other drives are not affected by C's mapping.
    EXPECT_EQ(plat::os_path("D:\\nowhere"), "/nowhere");

    env.set("QV_DRIVE_D", (root + "/App/").c_str());
    EXPECT_EQ(plat::os_path("d:\\data\\codicc.dat"), root + "/App/Data/CODICC.DAT");
    EXPECT_TRUE(plat::file_exists("D:\\Data\\CoDiCc.DaT"));
}

TEST_F(FsTest, FindFilesListsMatchingFilesOnly) {
    put("App/Data/CODICC.DAT", "");
    put("App/Data/COCTA.DAT", "");
    put("App/Data/notes.txt", "");
    put("App/Data/README", "");
    fs::create_directories(root + "/App/Data/CO.DAT");  // a folder, never listed

    struct Case {
        const char* pattern;
        std::vector<std::string> names;
    } cases[] = {
        {"\\APP\\data\\co*.dat", {"COCTA.DAT", "CODICC.DAT"}},
        {"\\app\\data\\*.*", {"COCTA.DAT", "CODICC.DAT", "README", "notes.txt"}},
        {"/app/data/*.", {"README"}},
        {"/app/data/?????.*", {"COCTA.DAT", "notes.txt"}},
        {"/app/data/codicc.dat", {"CODICC.DAT"}},
        {"/app/data/*.idx", {}},
        {"/app/nowhere/*.*", {}},
        {"/app/data/", {}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(plat::find_files(root + c.pattern), c.names) << c.pattern;
}

TEST_F(FsTest, RewriteReplacesContentAndKeepsMode) {
    std::string target = put("Data/LIST.TXT", "old content");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);

    ASSERT_EQ(plat::rewrite_file(root + "\\data\\list.txt", "new"), 0);
    EXPECT_EQ(read(target), "new");
    EXPECT_EQ(mode_of(target), mode_t(0640));
    EXPECT_EQ(entries("Data"), std::vector<std::string>{"LIST.TXT"});  // no temporary left

    ASSERT_EQ(plat::rewrite_file(root + "\\data\\Fresh.txt", std::string("a\0b", 3)), 0);
    EXPECT_EQ(read(root + "/Data/Fresh.txt"), std::string("a\0b", 3));
    EXPECT_EQ(mode_of(root + "/Data/Fresh.txt"), mode_t(0666 & ~umask_now()));

    ASSERT_EQ(plat::rewrite_file(root + "\\data\\Fresh.txt", ""), 0);
    EXPECT_EQ(read(root + "/Data/Fresh.txt"), "");
}

TEST_F(FsTest, RewriteThroughSymlinkWritesTheLinkedFile) {
    std::string real = put("real.txt", "old");
    ASSERT_EQ(::symlink(real.c_str(), (root + "/link.txt").c_str()), 0);
    ASSERT_EQ(plat::rewrite_file(root + "/link.txt", "new"), 0);
    EXPECT_TRUE(fs::is_symlink(root + "/link.txt"));
    EXPECT_EQ(read(real), "new");
}

TEST_F(FsTest, FailedRewriteLeavesEverythingAsItWas) {
    // A folder where the file should be: the final rename fails.
    put("Data/Busy/inside.txt", "keep");
    EXPECT_EQ(plat::rewrite_file(root + "/data/busy", "new"), -1);
    EXPECT_EQ(read(root + "/Data/Busy/inside.txt"), "keep");
    EXPECT_EQ(entries("Data"), std::vector<std::string>{"Busy"});

    // No folder to put it in.
    EXPECT_EQ(plat::rewrite_file(root + "/nowhere/x.txt", "new"), -1);
    EXPECT_FALSE(fs::exists(root + "/nowhere"));

    // A folder that may not be written (root ignores permissions).
    if (::geteuid() != 0) {
        std::string target = put("Locked/LIST.TXT", "old content");
        ASSERT_EQ(::chmod((root + "/Locked").c_str(), 0555), 0);
        EXPECT_EQ(plat::rewrite_file(target, "new"), -1);
        EXPECT_EQ(read(target), "old content");
        EXPECT_EQ(entries("Locked"), std::vector<std::string>{"LIST.TXT"});
    }
}

TEST_F(FsTest, TempFilesArePrivateAndUnique) {
    ScopedEnv env;
    env.set("TMPDIR", (root + "/").c_str());
    EXPECT_EQ(plat::temp_folder(), root);

    std::string a = plat::make_temp_file(".prm");
    std::string b = plat::make_temp_file(".prm");
    ASSERT_NE(a, "");
    ASSERT_NE(b, "");
    EXPECT_NE(a, b);
    for (const std::string& p : {a, b}) {
        EXPECT_EQ(fs::path(p).parent_path().string(), root);
        EXPECT_EQ(fs::path(p).extension().string(), ".prm");
        EXPECT_TRUE(fs::is_regular_file(p));
        EXPECT_EQ(fs::file_size(p), 0u);
        EXPECT_EQ(mode_of(p), mode_t(0600));
    }
    EXPECT_EQ(plat::make_temp_file("/x"), "");

    env.set("TMPDIR", "");
    EXPECT_EQ(plat::temp_folder(), "/tmp");
    env.set("TMPDIR", nullptr);
    EXPECT_EQ(plat::temp_folder(), "/tmp");
}

TEST_F(FsTest, FoldersAndRenames) {
    ASSERT_EQ(plat::make_folder(root + "\\Data"), 0);
    EXPECT_EQ(plat::make_folder(root + "\\DATA"), -1);  // exists in another case
    put("Data/a.txt", "A");
    put("Data/b.txt", "B");

    // Moving onto an existing file fails and keeps both.
    EXPECT_EQ(plat::rename_file(root + "\\data\\a.txt", root + "\\DATA\\B.TXT"), -1);
    EXPECT_EQ(read(root + "/Data/a.txt"), "A");
    EXPECT_EQ(read(root + "/Data/b.txt"), "B");

    // A change of case only is a real rename.
    ASSERT_EQ(plat::rename_file(root + "\\data\\A.TXT", root + "\\data\\New.TXT"), 0);
    ASSERT_EQ(plat::rename_file(root + "\\data\\new.txt", root + "\\data\\NEW.txt"), 0);
    EXPECT_EQ(entries("Data"), (std::vector<std::string>{"NEW.txt", "b.txt"}));
    EXPECT_EQ(read(root + "/Data/NEW.txt"), "A");

    EXPECT_EQ(plat::rename_file(root + "\\data\\missing", root + "\\data\\m2"), -1);

    // Removing never takes a folder.
    EXPECT_EQ(plat::remove_file(root + "\\DATA"), -1);
    EXPECT_EQ(plat::remove_file(root + "\\DATA\\b.TXT"), 0);
    EXPECT_EQ(plat::remove_file(root + "\\DATA\\b.TXT"), -1);
    EXPECT_EQ(entries("Data"), std::vector<std::string>{"NEW.txt"});
}

TEST_F(FsTest, FileInfoGivesSizeAndTimes) {
    std::string p = put("Data/F.DAT", "12345");
    struct timeval tv[2] = {{1000000000, 0}, {1200000000, 0}};  // accessed, written
    ASSERT_EQ(::utimes(p.c_str(), tv), 0);

    plat::FileInfo info;
    ASSERT_TRUE(plat::file_info(root + "\\data\\f.dat", &info));
    EXPECT_EQ(info.size, 5);
    EXPECT_EQ(info.accessed, 1000000000);
    EXPECT_EQ(info.written, 1200000000);
    EXPECT_GT(info.created, 0);
    EXPECT_FALSE(plat::file_info(root + "\\data\\none.dat", &info));
}

TEST(WinEnv, MapsWindowsNames) {
    ScopedEnv env;
    struct Case {
        const char* name;
        const char* value;
    } cases[] = {
        {"TEMP", "/var/tmp/qv"},
        {"tmp", "/var/tmp/qv"},
        {"USERPROFILE", "/home/ana"},
        {"HomePath", "/home/ana"},
        {"APPDATA", "/home/ana/.config"},
        {"LOCALAPPDATA", "/home/ana/.local/share"},
        {"ALLUSERSPROFILE", "/var/lib"},
        {"ProgramData", "/var/lib"},
        {"PROGRAMFILES", "/opt"},
        {"CommonProgramFiles", "/usr/share"},
        {"SystemRoot", "/"},
        {"WINDIR", "/"},
        {"HOMEDRIVE", ""},
        {"SystemDrive", ""},
        {"USERNAME", "ana"},
        {"QV_NO_SUCH_NAME", ""},
        {"", ""},
    };
    for (const Case& c : cases)
        if (*c.name) env.set(c.name, nullptr);
    for (const char* n : {"computername", "AppData", "APPDATA", "XDG_CONFIG_HOME",
                          "XDG_DATA_HOME", "LOGNAME"})
        env.set(n, nullptr);
    env.set("TMPDIR", "/var/tmp/qv");
    env.set("HOME", "/home/ana");
    env.set("USER", "ana");

    for (const Case& c : cases) EXPECT_EQ(plat::win_env(c.name), c.value) << c.name;

    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    EXPECT_EQ(plat::win_env("computername"), host);

    env.set("XDG_CONFIG_HOME", "/cfg");
    env.set("XDG_DATA_HOME", "/data");
    EXPECT_EQ(plat::win_env("APPDATA"), "/cfg");
    EXPECT_EQ(plat::win_env("LOCALAPPDATA"), "/data");

    // An exported variable of the exact name wins over the mapping.
    env.set("AppData", "/exported");
    EXPECT_EQ(plat::win_env("AppData"), "/exported");
    EXPECT_EQ(plat::win_env("APPDATA"), "/cfg");

    env.set("USER", nullptr);
    env.set("LOGNAME", "luis");
    EXPECT_EQ(plat::win_env("USERNAME"), "luis");
}

TEST(SelfExe, NamesThisTestProgram) {
    std::string exe = plat::self_exe();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe[0], '/');
    EXPECT_EQ(fs::path(exe).filename(), "platform_tests");
    EXPECT_TRUE(fs::is_regular_file(exe));
}

TEST(Cp1252, ConvertsToUtf8) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain text", "plain text"},
        {"", ""},
        {"\x80", "\u20ac"},
        {"\xbf", "\u00bf"},
        {"\xe9", "\u00e9"},
        {"A\x93q\x94.", "A\u201cq\u201d."},
        {"\x85\x96\x97\x99", "\u2026\u2013\u2014\u2122"},
        {"\x8a\x9a\x8e\x9e\x9f", "\u0160\u0161\u017d\u017e\u0178"},
        {"\xa0\xff", "\u00a0\u00ff"},
        // Bytes without a character keep their number as a C1 control.
        {"\x81\x8d\x8f\x90\x9d", "\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d"},
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) EXPECT_EQ(plat::cp1252_to_utf8(c.in), c.out) << c.in;
}

}  // namespace
