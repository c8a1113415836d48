#include "runtime/core/env.h"

#include <cstdlib>

#include "platform/fs.h"
#include "runtime/core/scratch.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;
class EnvTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        m_ = scr_mark();
    }
    void TearDown() override {
        scr_release(m_);
        RtTest::TearDown();
    }
    ScratchMark m_ = 0;
};

TEST_F(EnvTest, ExpandsNames) {
    env_set(env::CommandLine, "C:\\QV\\LEDGER.EXE /X:1");
    env_set(env::ApName, "COLDGR27K:VodazEZI");
    env_set(env::DocPath, "C:\\QV\\APPS");
    env_set(env::Database, " 'db.local' ,co2024, admin,\"s3cret\"");
    setenv("TMPDIR", "/var/tmp/qv", 1);
    struct Case {
        const char* in;
        bool mask;
        const char* want;
    } cases[] = {
        {"%APNAME%CLCUSR.DAT", false, "COCLCUSR.DAT"},  // the two-character prefix
        {"%NOSUCH%x%APNAME%", false, "xCO"},             // an unknown name disappears
        {"%DOCPATH%\\%APNAME%MENU.PMT", false, "C:\\QV\\APPS\\COMENU.PMT"},
        {"%APPPATH_RUNPATH%", false, "C:\\QV"},
        {"%APNAME%CLCUSR.%DATABASE_HOST%.%DATABASE_DBNAME%.DAT", false, "COCLCUSR.db.local.co2024.DAT"},
        {"%DATABASE_USER%:%DATABASE_PASSW%", false, "admin:s3cret"},
        {"%DATABASE_USER%:%DATABASE_PASSW%", true, "admin:****"},
        {"%TEMP%\\x", false, "/var/tmp/qv\\x"},
        {"%temp%", false, "/var/tmp/qv"},  // Windows names also match in lower case
        {"100% done", false, "100% done"},
        {"%APNAME%%APNAME%", false, "COCO"},
    };
    for (const Case& c : cases) EXPECT_EQ(str(env_expand(sr_c(c.in), c.mask)), c.want) << c.in;
    unsetenv("TMPDIR");
}

TEST_F(EnvTest, ExpansionDoesNotLoopOnItsOwnValues) {
    // A value that itself holds a %NAME% is put in as it stands.
    env_set(env::DocPath, "%DOCPATH%");
    EXPECT_EQ(str(env_expand(sr("<%DOCPATH%>"))), "<%DOCPATH%>");
    env_set(env::HelpPath, "%HELPPATH%%HELPPATH%");
    EXPECT_EQ(str(env_expand(sr("%HELPPATH%"))), "%HELPPATH%%HELPPATH%");
}

TEST_F(EnvTest, FolderKinds) {
    env_set(env::CommandLine, "C:\\QV\\BIN\\LEDGER.EXE /X:1");
    env_set(env::DocPath, "C:\\QV\\APPS\\CO");
    env_set(env::DataPath, "D:\\DOCS\\CO");
    env_set(env::Database, "srv,co2024,u,p");
    EXPECT_EQ(str(env_folder(folder::RunPath)), "C:\\QV\\BIN");
    EXPECT_EQ(str(env_folder(folder::Default)), "C:\\QV\\APPS\\CO");
    EXPECT_EQ(str(env_folder(folder::Data)), "D:\\DOCS\\data") << "drives below F: take the documents folder";
    EXPECT_EQ(str(env_folder(folder::Docs)), "D:\\DOCS\\CO");
    EXPECT_EQ(str(env_folder(folder::Help)), "C:\\QV\\APPS\\CO\\Help");
    EXPECT_EQ(str(env_folder(folder::Backup)), "D:\\DOCS\\CO\\Backups");
    EXPECT_EQ(str(env_folder(folder::BackRel)), plat::current_folder() + "/Backups/srv/co2024");
    env_set(env::CommandLine, "\"G:\\My Apps\\LEDGER.EXE\"");
    EXPECT_EQ(str(env_folder(folder::RunPath)), "G:\\My Apps");
    EXPECT_EQ(str(env_folder(folder::Data)), "C:\\QV\\APPS\\data") << "drives from F: take the search path";
    env_set(env::DataPath, "");
    EXPECT_EQ(str(env_folder(folder::Docs)), plat::current_folder());
    env_set(env::HelpPath, "H:\\HELP");
    EXPECT_EQ(str(env_folder(folder::Help)), "H:\\HELP");
    EXPECT_EQ(str(env_folder(8)), "");
}

TEST_F(EnvTest, PathHelpers) {
    struct Join {
        const char *a, *b, *want;
    } joins[] = {
        {"C:\\a", "b", "C:\\a\\b"}, {"C:\\a\\", "b", "C:\\a\\b"}, {"C:\\a", "\\b", "C:\\a\\b"},
        {"", "b", "b"},             {"a", "", "a"},               {"/srv/app", "x.dat", "/srv/app/x.dat"},
    };
    for (const Join& j : joins) EXPECT_EQ(str(path_join(sr_c(j.a), sr_c(j.b))), j.want);
    struct Resolve {
        const char *base, *rel, *want;
    } resolves[] = {
        {"C:\\QV\\BIN", "..\\data", "C:\\QV\\data"},
        {"C:\\QV\\BIN", "..\\..\\x", "C:\\x"},
        {"C:\\QV", ".\\a\\.\\b", "C:\\QV\\a\\b"},
        {"/srv/qv/bin", "../APPS", "/srv/qv/APPS"},
        {"/srv", "../../x", "/x"},  // the root stays
        {"C:\\QV", "D:\\OTHER", "D:\\OTHER"},
        {"C:\\QV", "\\abs", "\\abs"},
    };
    for (const Resolve& r : resolves) EXPECT_EQ(str(path_resolve(sr_c(r.base), sr_c(r.rel))), r.want) << r.rel;
    struct Parts {
        const char *path, *drive, *folder, *name, *ext;
    } parts[] = {
        {"C:\\dir\\sub.d\\file.tar.gz", "C:", "\\dir\\sub.d\\", "file.tar", ".gz"},
        {"sub.d\\file", "", "sub.d\\", "file", ""},
        {"/srv/qv/CO.PMT", "", "/srv/qv/", "CO", ".PMT"},
        {"name", "", "", "name", ""},
    };
    for (const Parts& p : parts) {
        StrRef s = sr_c(p.path);
        EXPECT_EQ(str(path_drive(s)), p.drive) << p.path;
        EXPECT_EQ(str(path_folder(s)), p.folder) << p.path;
        EXPECT_EQ(str(path_name(s)), p.name) << p.path;
        EXPECT_EQ(str(path_ext(s)), p.ext) << p.path;
    }
}

// Application files are found whatever their case and separators.
TEST_F(EnvTest, SearchPathFindsFilesWhateverTheirCase) {
    test::TempDir d;
    d.put("apps/first/readme.txt", "");
    d.put("apps/Second/CODICC.DAT", "x");
    d.put("apps/Second/menus/CoMenu.pmt", "x");
    d.put("here.dat", "x");
    test::InFolder in(d.path);
    env_set(env::DocPath, sr(d.path + "\\APPS\\FIRST," + d.path + "/apps/second"));
    StrRef found = env_find(sr("codicc.dat"));
    EXPECT_TRUE(plat::file_exists(sv(found))) << str(found);
    EXPECT_NE(str(found).find("second"), std::string::npos);
    EXPECT_TRUE(plat::file_exists(sv(env_find(sr("MENUS\\COMENU.PMT")))));
    EXPECT_TRUE(plat::file_exists(sv(env_find(sr("menus/comenu.PMT")))));
    EXPECT_EQ(str(env_find(sr("here.dat"))), "here.dat") << "the name as written comes first";
    StrRef wild = env_find(sr("CO*.DAT"));
    EXPECT_EQ(str(path_name(wild)), "CODICC");
    EXPECT_EQ(str(env_find(sr("missing.dat"))), "");
}

}  // namespace
}  // namespace rt
