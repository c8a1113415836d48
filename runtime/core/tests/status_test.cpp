#include <unistd.h>

#include <ctime>
#include <optional>
#include <regex>
#include <string>

#include "runtime/core/env.h"
#include "runtime/core/log.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

class StatusTest : public test::RtTest {};

struct TextCase {
    IER st;
    const char* detail;  // nullptr: none
    const char* text;
};

TEST_F(StatusTest, StatusTextByNumber) {
    const TextCase cases[] = {
        {0, nullptr, "Process Completed Succesfully"},
        {1, nullptr, "Warning "},
        {57, nullptr, "Warning "},
        {120, nullptr, "Warning "},
        {57, "ignored", "Warning "},
        // 121 and 126 show the detail, or their name when there is none.
        {121, nullptr, "Undefined"},
        {121, "3 rows copied", "3 rows copied"},
        {126, nullptr, "Bad user data"},
        {126, "Date out of range", "Date out of range"},
        {122, nullptr, "User Canceled"},
        {127, nullptr, "Out of Data"},
        {128, nullptr, "Type Mismatch"},
        {128, "the detail is not part of the status text", "Type Mismatch"},
        {164, nullptr, "File Not Found"},
        {173, nullptr, "SYSTEMCMDERROR"},
        {174, nullptr, "Undefined"},
        {175, nullptr, "Permission Denied"},
        {182, nullptr, "Undefined"},
        {183, nullptr, "Data Already exist"},
        {184, nullptr, "Undefined"},
        {185, nullptr, "Graphic Support Low"},
        {186, nullptr, "Undefined"},
        {300, nullptr, "Undefined"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << c.st);
        if (c.detail) err_detail(0, c.detail);
        else err_detail_clear();
        ScratchMark m = scr_mark();
        EXPECT_EQ(str(status_text(c.st)), c.text);
        scr_release(m);
    }
}

TEST_F(StatusTest, NamesKeepTheirPlacesAroundUnusedNumbers) {
    const std::pair<IER, const char*> cases[] = {
        {121, "Undefined"},          {122, "User Canceled"},        {146, "STRINGTOOLONG"},
        {163, "BADINPUTDATA"},       {164, "File Not Found"},       {174, "Undefined"},
        {176, "StructMemError"},     {181, "Variable ScreenField"}, {182, "Undefined"},
        {185, "Graphic Support Low"}, {0, "Undefined"},             {0xFFFF, "Undefined"},
    };
    for (auto [st, name] : cases) EXPECT_EQ(status_name(st), name) << "status " << st;
}

TEST_F(StatusTest, ModuleNames) {
    const std::pair<int, const char*> cases[] = {
        {0, ""}, {1, "STRINGINIT"}, {8, "Malloc-MemAcums"}, {16, "FormatStrings"}, {22, "HtmlScan"}, {23, ""}, {-1, ""},
    };
    for (auto [m, name] : cases) EXPECT_EQ(module_name(m), name) << "module " << m;
}

struct ErrorCase {
    IER origin_st;
    int origin_module;
    const char* detail;
    IER st;
    const char* text;
};

TEST_F(StatusTest, ErrorText) {
    const ErrorCase cases[] = {
        {146, mod::FormatStrings, "abc", 146, "Error STRINGTOOLONG(FormatStrings): abc"},
        {146, mod::FormatStrings, "", 146, "Error STRINGTOOLONG(FormatStrings)"},
        {0, 0, "abc", 146, "Error STRINGTOOLONG: abc"},
        {0, 0, "", 164, "Error File Not Found"},
        // 0xFFFF stands for the status of the origin record.
        {164, mod::Streams, "CODICC.DAT", 0xFFFF, "Error File Not Found(Streams): CODICC.DAT"},
        {0, 0, "", 0xFFFF, "Process Completed Succesfully"},
        // Below 128 there is neither the heading nor the module nor the detail.
        {146, mod::FormatStrings, "abc", 0, "Process Completed Succesfully"},
        {146, mod::FormatStrings, "abc", 122, "User Canceled"},
        {146, mod::FormatStrings, "abc", 126, "abc"},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "status " << c.st << " detail " << c.detail);
        err_origin(2, c.origin_module, c.origin_st);
        err_detail(0, c.detail);
        ScratchMark m = scr_mark();
        EXPECT_EQ(str(error_text(c.st)), c.text);
        EXPECT_EQ(scr_mark(), m + 1) << "one result, temporaries released";
        scr_release(m);
    }
}

TEST_F(StatusTest, FirstErrorKeepsItsOrigin) {
    IER st;
    int module;
    err_origin(1, mod::SQLEXEC, ier::SQLERROR);
    err_origin(1, mod::Streams, ier::FileNotFound);
    err_origin_get(&st, &module);
    EXPECT_EQ(st, ier::SQLERROR);
    EXPECT_EQ(module, mod::SQLEXEC);

    err_origin(2, mod::Streams, ier::FileNotFound);
    err_origin_get(&st, &module);
    EXPECT_EQ(st, ier::FileNotFound);
    EXPECT_EQ(module, mod::Streams);

    err_origin(2, 0, 0);
    err_origin_get(&st, &module);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(module, 0);
}

TEST_F(StatusTest, OriginIgnoresNonErrorsAndFalseConditions) {
    const std::pair<int, IER> ignored[] = {{1, 0}, {1, 2}, {1, 121}, {1, 127}, {0, 146}};
    for (auto [cond, st] : ignored) {
        err_origin(cond, mod::Sort, st);
        IER got;
        int module;
        err_origin_get(&got, &module);
        EXPECT_EQ(got, 0) << "cond " << cond << " status " << st;
        EXPECT_EQ(module, 0);
    }
}

TEST_F(StatusTest, DetailReturnsTheStatusGiven) {
    EXPECT_EQ(err_detail(ier::FileNotFound, "a.txt"), ier::FileNotFound);
    EXPECT_EQ(err_detail(0, "b.txt", true), 0);
    EXPECT_EQ(str(err_detail_get()), "a.txt\r\nb.txt");
    EXPECT_EQ(err_raise(ier::SQLERROR, mod::SQLEXEC, "syntax error"), ier::SQLERROR);
    EXPECT_EQ(str(err_detail_get()), "syntax error");
    IER st;
    err_origin_get(&st, nullptr);
    EXPECT_EQ(st, ier::SQLERROR);
}

TEST_F(StatusTest, AppendToEmptyDetailHasNoLeadingBreak) {
    err_detail(0, "first", true);
    EXPECT_EQ(str(err_detail_get()), "first");
}

TEST_F(StatusTest, AppendKeepsEarliestLinesWithinLimit) {
    std::string old;
    for (int i = 0; i < 40; i++) old += "line " + std::to_string(100 + i) + std::string(40, '.') + "\r\n";
    old.resize(old.size() - 2);  // no break at the very end
    ASSERT_GT(old.size(), 1024u);
    err_detail(0, old);
    err_detail(0, "newest", true);
    std::string got = str(err_detail_get());
    ASSERT_GE(got.size(), 8u);
    EXPECT_EQ(got.substr(got.size() - 8), "\r\nnewest");
    std::string kept = got.substr(0, got.size() - 8);
    EXPECT_LE(kept.size(), 1024u);
    EXPECT_GT(kept.size(), 1024u - 50) << "only as many lines as needed are cut";
    EXPECT_EQ(old.compare(0, kept.size(), kept), 0) << "the kept part is the beginning";
    EXPECT_EQ(old.substr(kept.size(), 2), "\r\n") << "cut at a line break";
}

TEST_F(StatusTest, AppendShortDetailKeepsItWhole) {
    std::string old(1024, 'x');
    err_detail(0, old);
    err_detail(0, "y", true);
    EXPECT_EQ(str(err_detail_get()), old + "\r\ny");
}

TEST_F(StatusTest, AppendCutsDetailWithoutBreaksTo1024) {
    const size_t sizes[] = {1025, 3000, 60000};
    for (size_t n : sizes) {
        std::string old(n, 'q');
        old[0] = 'A';
        err_detail(0, old);
        err_detail(0, "tail", true);
        EXPECT_EQ(str(err_detail_get()), "A" + std::string(1023, 'q') + "\r\ntail") << n;
    }
}

TEST_F(StatusTest, AppendCutsAtTheLastBreakBelowTheLimit) {
    // A short first line and a long unbroken second one: only the first line
    // survives.
    std::string old = "file CODICC.DAT\r\n" + std::string(2000, 'z');
    err_detail(0, old);
    err_detail(0, "next", true);
    EXPECT_EQ(str(err_detail_get()), "file CODICC.DAT\r\nnext");
}

TEST_F(StatusTest, DetailClear) {
    err_detail(0, "something");
    err_detail_clear();
    EXPECT_EQ(err_detail_get().n, 0);
    ScratchMark m = scr_mark();
    EXPECT_EQ(str(status_text(121)), "Undefined");
    scr_release(m);
}

// ---- Log file ---------------------------------------------------------------

class LogTest : public test::RtTest {
protected:
    test::TempDir dir;
    std::optional<test::InFolder> in;
    void SetUp() override {
        RtTest::SetUp();
        in.emplace(dir.path);
    }
    void TearDown() override {
        in.reset();
        RtTest::TearDown();
    }
};

TEST_F(LogTest, NameFromPrefixOrSetName) {
    ScratchMark m = scr_mark();
    EXPECT_EQ(str(log_file_name()), "log.txt");
    env_set(env::ApName, "COLDGR27K:VodazEZI");
    EXPECT_EQ(str(log_file_name()), "COlog.txt");
    log_set_file(sr("mine.log"));
    EXPECT_EQ(str(log_file_name()), "mine.log");
    log_set_file(sr(""));
    EXPECT_EQ(str(log_file_name()), "mine.log") << "an empty name changes nothing";
    scr_release(m);
}

TEST_F(LogTest, LinesOnlyForTraceBitsSet) {
    struct Case {
        int16_t trace;
        unsigned bits;
        bool written;
    };
    const Case cases[] = {
        {1, logcat::General, true},
        {1, logcat::SqlFailed, false},
        {1, logcat::SqlFailed | logcat::General, true},
        {2 | 4, logcat::General, false},
        {2 | 4, logcat::SqlAll, true},
        {256, logcat::StartupAbout, true},
        {256 | 16, logcat::Startup, true},
        {16, logcat::StartupAbout, false},
        {0, logcat::General, false},
        {-1, logcat::RecordActions, true},
    };
    int n = 0;
    std::string expected;
    for (const Case& c : cases) {
        sysv_set(sysv::TRACE, c.trace);
        std::string line = "line " + std::to_string(n++);
        EXPECT_EQ(log_text(line, c.bits), 0);
        if (c.written) expected += line + "\r\n";
    }
    EXPECT_EQ(dir.read("log.txt"), expected);
}

TEST_F(LogTest, StatusLine) {
    EXPECT_EQ(log_status(ier::STRINGTOOLONG), 0);
    EXPECT_EQ(log_status(7), 0);
    EXPECT_EQ(dir.read("log.txt"), "Error #146\r\nError #7\r\n");
}

TEST_F(LogTest, SetFileStartsItEmpty) {
    dir.put("run.log", "old contents\r\n");
    log_set_file(sr("run.log"));
    EXPECT_FALSE(dir.exists("run.log"));
    log_text("fresh");
    EXPECT_EQ(dir.read("run.log"), "fresh\r\n");
}

TEST_F(LogTest, SetFileWithANameHeldInTheStringTable) {
    // Storing the name moves the texts after it in the table; the file
    // deleted must still be the one named.
    dir.put("run.log", "old contents\r\n");
    ASSERT_EQ(st_push(grp::StkAux, sr("run.log")), 0);
    log_set_file(st_top(grp::StkAux));
    EXPECT_FALSE(dir.exists("run.log"));
    ScratchMark m = scr_mark();
    EXPECT_EQ(str(log_file_name()), "run.log");
    scr_release(m);
}

TEST_F(LogTest, SetFileIsWrittenWithTheScratchAreaFull) {
    log_set_file(sr("full.log"));
    ScratchMark m = scr_mark();
    while (sr_ok(scr_alloc(4096))) {
    }
    while (sr_ok(scr_alloc(4))) {
    }
    EXPECT_EQ(log_text("still written"), 0);
    scr_release(m);
    EXPECT_EQ(dir.read("full.log"), "still written\r\n");
}

TEST_F(LogTest, UnwritableFileGives164WithItsName) {
    log_set_file(sr("no_such_folder/x.log"));
    EXPECT_EQ(log_text("lost"), ier::FileNotFound);
    EXPECT_NE(str(err_detail_get()).find("no_such_folder/x.log"), std::string::npos);
}

// Today's date as the log headers write it, for the language given.
std::string date_for(bool day_first) {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char b[48];
    int a = day_first ? tm.tm_mday : tm.tm_mon + 1, c = day_first ? tm.tm_mon + 1 : tm.tm_mday;
    std::snprintf(b, sizeof b, "%02d-%02d-%04d", a, c, tm.tm_year + 1900);
    return b;
}

TEST_F(LogTest, ErrorLogEntriesAreAppended) {
    std::string before = date_for(false);
    EXPECT_EQ(errlog_entry(sr("first entry"), sr("err.log")), 0);
    EXPECT_EQ(errlog_entry(sr("second\r\nentry"), sr("err.log")), 0);
    std::string after = date_for(false);
    std::string got = dir.read("err.log");
    const std::regex entry(
        "\\*{29}\r\n Date:(\\d\\d-\\d\\d-\\d{4}) - Time:\\d\\d:\\d\\d:\\d\\d - User:0\r\n"
        "first entry\r\n\\*{22}\r\n\r\n"
        "\\*{29}\r\n Date:\\d\\d-\\d\\d-\\d{4} - Time:\\d\\d:\\d\\d:\\d\\d - User:0\r\n"
        "second\r\nentry\r\n\\*{22}\r\n\r\n");
    std::smatch mt;
    ASSERT_TRUE(std::regex_match(got, mt, entry)) << got;
    EXPECT_TRUE(mt[1] == before || mt[1] == after) << mt[1];
}

TEST_F(LogTest, ErrorLogDateFollowsLanguageOrder) {
    const std::pair<const char*, bool> cases[] = {{"EN", false}, {"ES", true}, {"FR", true}, {"DE", false}, {"IT", true}};
    for (auto [lang, day_first] : cases) {
        env_set(env::LangModule, lang);
        ScratchMark m = scr_mark();
        std::string before = date_for(day_first);
        std::string got = str(today_text());
        std::string after = date_for(day_first);
        EXPECT_TRUE(got == before || got == after) << lang << ": " << got;
        scr_release(m);
    }
}

TEST_F(LogTest, ErrorLogDefaultsToTheLogFile) {
    log_set_file(sr("app.log"));
    log_text("opening");
    EXPECT_EQ(errlog_entry(sr("record action"), sr("")), 0);
    std::string got = dir.read("app.log");
    EXPECT_EQ(got.rfind("opening\r\n*****************************\r\n Date:", 0), 0u) << got;
    EXPECT_NE(got.find("record action\r\n**********************\r\n\r\n"), std::string::npos);
}

using LogDeathTest = LogTest;

TEST_F(LogDeathTest, FatalCheckEndsTheProcessAndRecordsTheName) {
    GTEST_FLAG_SET(death_test_style, "fast");
    test::BoxRecorder boxes;  // the child's boxes go nowhere
    fatal_check(true, "NeverReported");
    EXPECT_FALSE(dir.exists("assertions.log"));
    EXPECT_EXIT(fatal_check(false, "MantAction"), testing::ExitedWithCode(kFatalExitStatus), "");
    std::string got = dir.read("assertions.log");
    EXPECT_NE(got.find(" Date:"), std::string::npos) << got;
    EXPECT_NE(got.find("MantAction\r\n**********************"), std::string::npos) << got;
}

TEST_F(LogDeathTest, FatalCheckRecordsEvenWithTheScratchAreaFull) {
    GTEST_FLAG_SET(death_test_style, "fast");
    test::BoxRecorder boxes;
    ScratchMark m = scr_mark();
    while (sr_ok(scr_alloc(4096))) {
    }
    while (sr_ok(scr_alloc(4))) {
    }
    static char name[] = "RecordMustBeCurrent";
    EXPECT_EXIT(fatal_check(false, name), testing::ExitedWithCode(kFatalExitStatus), "");
    scr_release(m);
    std::string got = dir.read("assertions.log");
    EXPECT_NE(got.find(" Date:"), std::string::npos) << got;
    EXPECT_NE(got.find("RecordMustBeCurrent\r\n"), std::string::npos) << got;
}

TEST_F(LogDeathTest, FatalCheckShowsAnAssertionBox) {
    GTEST_FLAG_SET(death_test_style, "fast");
    // The standard-error port names the caption and the text.
    EXPECT_EXIT(fatal_check(false, "ScreenSetWin"), testing::ExitedWithCode(kFatalExitStatus),
                "Assertion Fail.*ScreenSetWin");
}

}  // namespace
}  // namespace rt
