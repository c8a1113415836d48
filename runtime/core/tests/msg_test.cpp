#include <string>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/fmt.h"
#include "runtime/core/msg.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

class MsgTest : public test::RtTest {
protected:
    test::TempDir dir;
    ScratchMark mark = 0;
    void SetUp() override {
        RtTest::SetUp();
        mark = scr_mark();
    }
    void TearDown() override {
        scr_release(mark);
        msg_set_app_block({});
        RtTest::TearDown();
    }
    std::string text(std::string_view key) { return str(msg(key)); }
    std::string text(int code) { return str(msg(code)); }
    // Puts a language file for lang in the test folder and lets the next
    // lookup find it through the search path.
    void use_language(const std::string& content, const char* lang = "EN", const char* file_lang = nullptr) {
        dir.put(std::string("QV_LANG_") + (file_lang ? file_lang : lang) + ".MSJ", content);
        ASSERT_EQ(env_set(env::LangModule, lang), 0);
        ASSERT_EQ(env_set(env::DocPath, sr(dir.path)), 0);
        lang_enable(true);
    }
};

TEST_F(MsgTest, BuiltInTexts) {
    const std::pair<const char*, const char*> cases[] = {
        {"0031", "Process not defined"},
        {"0001", "Unable to initialize String area"},
        {"0008", "Warning "},
        {"0017", "Bad params for screen field %s\r\n (%s)"},
        {"0039", "Continue?"},  // last of its block
        {"0040", "View Log?"},
        {"0068", "Text Files (%s),%s"},
        {"0089", "Relative,Secuential,Delimited,List"},
        {"0090", "Database access"},
        {"0121", "Only Server Side Copy was done"},
        {"0130", "Exit,Print,Save"},
        {"0019", ".,'0123456789.-D',' NY','  ,NO,YES'"},
        // Codes without an entry.
        {"0069", ""}, {"0078", ""}, {"0079", ""}, {"0102", ""}, {"0109", ""},
        {"0122", ""}, {"0129", ""}, {"0131", ""}, {"0000", ""}, {"9999", ""},
        // Keys that are no code at all.
        {"", ""}, {"003", ""}, {"abcd", ""}, {"x031", ""},
        // A code with a default text gives the default while no language
        // file is loaded.
        {"1001 Delete Full Entry?", "Delete Full Entry?"},
        {"0031 Own text", "Own text"},
    };
    for (auto [key, want] : cases) EXPECT_EQ(text(key), want) << "key \"" << key << "\"";
    EXPECT_EQ(lang_state(), LangState::NotTried) << "no language is looked up before it is enabled";
}

TEST_F(MsgTest, NumericCode) {
    EXPECT_EQ(text(31), "Process not defined");
    EXPECT_EQ(text(5), "Process Completed Succesfully");
    EXPECT_EQ(text(130), "Exit,Print,Save");
    EXPECT_EQ(text(69), "");
}

TEST_F(MsgTest, ByteBFKeptAsIs) {
    EXPECT_EQ(text("0033"),
              "Remember your Safety Copies\n\r\xBF"
              "Do you want to Close Program? (%i Screens, %i Windows)");
}

TEST_F(MsgTest, TabsInsideQuotesBelongToTheEntry) {
    EXPECT_EQ(text("0110"), "'Reports','\tCreate New,[$]','\tReports,[$]%APNAME%report.ppn'");
    EXPECT_EQ(text("0120"), "'Help','\tHelp,Help','\tAbout,Help About'");
    std::string t = text("0111");
    EXPECT_EQ(t.rfind("'Transactions','\tExport',", 0), 0u) << t;
    EXPECT_EQ(t.substr(t.size() - 20), "'\tPredefinined,[$]0'");
    EXPECT_EQ(text("0112"), "Extern Program has terminated with error code %s");
}

TEST_F(MsgTest, ApplicationBlock) {
    static constexpr std::string_view kApp =
        "1001 Delete Full Entry?\t"
        "1002 Total of 1004 lines, see 1003 below\t"
        "1003 Third\t"
        "1005 'Quoted\t1006 inside',Done\t"
        "1006 Sixth";
    msg_set_app_block(kApp);
    const std::pair<const char*, const char*> cases[] = {
        {"1001", "Delete Full Entry?"},
        {"1002", "Total of 1004 lines, see 1003 below"},
        // Digits of a code inside another entry's text are not that code.
        {"1003", "Third"},
        {"1004", ""},
        {"1005", "'Quoted\t1006 inside',Done"},
        {"1006", "Sixth"},
        {"1007", ""},
        {"1007 Fallback", "Fallback"},
    };
    for (auto [key, want] : cases) EXPECT_EQ(text(key), want) << key;
}

TEST_F(MsgTest, NoApplicationBlock) {
    EXPECT_EQ(text("1001"), "");
}

TEST_F(MsgTest, LanguageFileWithGap) {
    use_language("0001 Uno\r\n0003 Tres\r\n");
    EXPECT_EQ(text(1), "Uno");
    EXPECT_EQ(text(2), "");
    EXPECT_EQ(text(3), "Tres");
    EXPECT_EQ(lang_state(), LangState::Loaded);
}

TEST_F(MsgTest, LanguageFileOverridesDefaultTexts) {
    use_language("1000 Mil\n1001 Borrar la entrada?\n1002 Dos\n");
    EXPECT_EQ(text("1001 Delete Full Entry?"), "Borrar la entrada?");
    EXPECT_EQ(text("1002"), "Dos");
}

TEST_F(MsgTest, LanguageLineBreaks) {
    use_language("0001 Uno\\nDos\\n\n0002 back\\slash \\\\n\n0003 \\");
    EXPECT_EQ(text(1), "Uno\r\nDos\r\n");
    EXPECT_EQ(text(2), "back\\slash \\\r\n");
    EXPECT_EQ(text(3), "\\");
}

TEST_F(MsgTest, CodeOutsideLoadedRangeFallsBack) {
    use_language("0010 Diez\n0012 Doce\n");
    EXPECT_EQ(text(10), "Diez");
    EXPECT_EQ(text(11), "");
    EXPECT_EQ(text(9), "Error ");
    EXPECT_EQ(text(13), "Fatal Error Ocurred");
    EXPECT_EQ(text("1001 Delete Full Entry?"), "Delete Full Entry?");
}

TEST_F(MsgTest, LinesWithoutACodeAreIgnored) {
    use_language("; comment\n\n0000 zero\n12 short\nabcd letters\n0002 Dos\n  03 blank digits\n0004\n0005 Cinco");
    EXPECT_EQ(text(1), "Unable to initialize String area") << "before the first code";
    EXPECT_EQ(text(2), "Dos");
    EXPECT_EQ(text(3), "");
    EXPECT_EQ(text(4), "") << "a code alone has an empty text";
    EXPECT_EQ(text(5), "Cinco");
}

TEST_F(MsgTest, FileWithoutEntriesIsNotLoaded) {
    use_language("no codes here\n0000 nor here\n");
    EXPECT_EQ(text(5), "Process Completed Succesfully");
    EXPECT_EQ(lang_state(), LangState::Tried);
}

TEST_F(MsgTest, EmptyFileIsNotLoaded) {
    use_language("");
    EXPECT_EQ(text(5), "Process Completed Succesfully");
    EXPECT_EQ(lang_state(), LangState::Tried);
}

std::string numbered_lines(int count) {
    std::string s;
    for (int i = 1; i <= count; i++) {
        char code[8];
        for (int k = 3, v = i; k >= 0; k--, v /= 10) code[k] = static_cast<char>('0' + v % 10);
        code[4] = 0;
        s += std::string(code) + " Lang " + std::to_string(i) + "\r\n";
    }
    return s;
}

TEST_F(MsgTest, LineCountLimit) {
    struct Case {
        int lines;
        LangState state;
    };
    const Case cases[] = {{1, LangState::Loaded}, {255, LangState::Loaded}, {256, LangState::Tried}, {300, LangState::Tried}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lines << " lines");
        lang_reset();
        use_language(numbered_lines(c.lines));
        bool loaded = c.state == LangState::Loaded;
        EXPECT_EQ(text(1), loaded ? "Lang 1" : "Unable to initialize String area");
        EXPECT_EQ(text(31), c.lines >= 31 && loaded ? "Lang 31" : "Process not defined");
        EXPECT_EQ(text(130), c.lines >= 130 && loaded ? "Lang 130" : "Exit,Print,Save");
        EXPECT_EQ(lang_state(), c.state);
        scr_release(mark);
    }
}

TEST_F(MsgTest, CodesNotAscendingAreSkipped) {
    use_language("0005 five\n0003 three\n0005 again\n0007 seven\n0006 six\n");
    EXPECT_EQ(text(5), "five");
    EXPECT_EQ(text(6), "") << "a code after a higher one is skipped";
    EXPECT_EQ(text(7), "seven");
    EXPECT_EQ(text(3), "Memory Leaks Detected") << "below the range: built-in";
    EXPECT_EQ(text(8), "Warning ") << "above the range: built-in";
}

TEST_F(MsgTest, CodesBeyondTheOffsetTableAreUnreachable) {
    // Counted from the first code, 256 codes fit.
    use_language("0002 two\n0257 last\n0258 beyond\n0400 far\n1001 app\n");
    EXPECT_EQ(text(2), "two");
    EXPECT_EQ(text(3), "");
    EXPECT_EQ(text(31), "");
    EXPECT_EQ(text(257), "last");
    EXPECT_EQ(text(258), "");
    EXPECT_EQ(text(400), "");
    EXPECT_EQ(text(1), "Unable to initialize String area");
    EXPECT_EQ(text("1001 Delete Full Entry?"), "Delete Full Entry?");
}

TEST_F(MsgTest, LanguageChosenByItem) {
    // Only the file of the language in use is read.
    dir.put("QV_LANG_ES.MSJ", "0031 Proceso no definido\n");
    use_language("0031 Process unknown\n", "EN");
    EXPECT_EQ(text(31), "Process unknown");
}

TEST_F(MsgTest, FileOfAnotherLanguageIsNotRead) {
    use_language("0031 Proceso no definido\n", "EN", "ES");
    EXPECT_EQ(text(31), "Process not defined");
    EXPECT_EQ(lang_state(), LangState::Tried);
}

TEST_F(MsgTest, AnyLanguageFileWhenNoneIsSet) {
    use_language("0031 Proceso no definido\n", "", "ES");
    EXPECT_EQ(text(31), "Proceso no definido");
}

TEST_F(MsgTest, NotLookedUpUntilEnabledAndThenOnlyOnce) {
    use_language("0031 First\n");
    lang_enable(false);
    EXPECT_EQ(text(31), "Process not defined");
    EXPECT_EQ(lang_state(), LangState::NotTried);
    lang_enable(true);
    EXPECT_EQ(text(31), "First");
    dir.put("QV_LANG_EN.MSJ", "0031 Second\n");
    env_set(env::LangModule, "ES");
    EXPECT_EQ(text(31), "First");
}

TEST_F(MsgTest, LanguageTextsUsedAsPatterns) {
    // Language texts are only patterns for our own formatter: a conversion
    // it does not know is copied, missing arguments are empty.
    use_language("0001 %n%s%n\n0002 %s%s%s%n\n0003 %i Screens, %i Windows %p%x\n0004 %99999999s|%.99999999s|%-%\n");
    struct Case {
        int code;
        const char* want;
    };
    const Case cases[] = {{1, "%nab%n"}, {2, "ab%n"}, {3, "2 Screens, 0 Windows %p0"}};
    for (const Case& c : cases) {
        StrRef r = c.code == 3 ? fmt(msg(c.code), {2}) : fmt(msg(c.code), {"ab"});
        EXPECT_EQ(str(r), c.want) << c.code;
    }
    StrRef wide = fmt(msg(4), {"a", "b"});
    EXPECT_TRUE(sr_ok(wide) || sr_status(wide) == ier::STRINGTOOLONG) << "no crash, at most a status";
}

TEST_F(MsgTest, KeyHeldInTheStringTableSurvivesTheLoad) {
    // The first lookup loads the language texts into the string table, which
    // moves the texts stored after them; the key must be read as it was.
    ASSERT_EQ(st_push(grp::StkAux, sr("1001 Delete Full Entry?")), 0);
    use_language("0001 Uno\n");
    EXPECT_EQ(text(sv(st_top(grp::StkAux))), "Delete Full Entry?");
    EXPECT_EQ(lang_state(), LangState::Loaded);
}

TEST_F(MsgTest, LanguageNumber) {
    const std::pair<const char*, int> cases[] = {{"EN", 1}, {"ES", 2}, {"FR", 3}, {"DE", 4}, {"IT", 5}, {"PT", 0}, {"", 0}, {"E", 0}};
    for (auto [lang, n] : cases) {
        env_set(env::LangModule, lang);
        EXPECT_EQ(lang_number(), n) << lang;
    }
}

TEST_F(MsgTest, LanguageSpecificNames) {
    struct Case {
        const char* name;
        int langno;
        const char* want;
    };
    const Case cases[] = {
        {"HELP.HLP", 2, "HELP_es.HLP"},
        {"A.B.C", 2, "A_es.B.C"},
        {"HELP.HLP", 0, "HELP.HLP"},
        {"HELP.HLP", 1, "HELP_en.HLP"},
        {"HELP.HLP", 3, "HELP_fr.HLP"},
        {"HELP.HLP", 4, "HELP_de.HLP"},
        {"HELP.HLP", 5, "HELP_it.HLP"},
        {"HELP.HLP", 6, "HELP.HLP"},
        {"HELP", 2, "HELP_es"},
        {"doc.v2\\HELP.HLP", 2, "doc.v2\\HELP_es.HLP"},
        {"doc.v2/HELP", 3, "doc.v2/HELP_fr"},
        {"", 2, "_es"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(str(lang_file_name(sr(c.name), c.langno)), c.want) << c.name << " " << c.langno;
    env_set(env::LangModule, "IT");
    EXPECT_EQ(str(lang_file_name(sr("HELP.HLP"), -1)), "HELP_it.HLP");
    env_set(env::LangModule, "XX");
    EXPECT_EQ(str(lang_file_name(sr("HELP.HLP"), -1)), "HELP.HLP");
}

// ---- Message boxes ----------------------------------------------------------

using MsgBoxTest = MsgTest;

TEST_F(MsgBoxTest, AnswerLetters) {
    const std::pair<int, char> cases[] = {{box::Ok, 'Y'}, {box::Yes, 'Y'}, {box::No, 'N'}, {box::Cancel, 0}, {box::None, 0}, {99, 0}};
    test::BoxRecorder rec;
    for (auto [button, letter] : cases) {
        rec.answer = button;
        EXPECT_EQ(msg_box(sr("Continue?"), sr("Cap"), box::YesNo), letter) << "button " << button;
    }
}

TEST_F(MsgBoxTest, LanguageFileChangesTheLetters) {
    use_language("0011 Ss,Nn\n");
    test::BoxRecorder rec;
    rec.answer = box::Yes;
    EXPECT_EQ(msg_box(sr("Seguir?"), sr(""), box::YesNo), 'S');
    EXPECT_TRUE(confirm(sr("Seguir?")));
    rec.answer = box::No;
    EXPECT_EQ(msg_box(sr("Seguir?"), sr(""), box::YesNo), 'N');
    EXPECT_FALSE(confirm(sr("Seguir?")));
}

TEST_F(MsgBoxTest, EmptyLettersGiveNoAnswer) {
    use_language("0011 \n");
    test::BoxRecorder rec;
    rec.answer = box::Yes;
    EXPECT_EQ(msg_box(sr("?"), sr(""), box::YesNo), 0);
    EXPECT_FALSE(confirm(sr("?")));
}

TEST_F(MsgBoxTest, DefaultCaptions) {
    const std::pair<int, const char*> cases[] = {
        {box::Info, "Information Request"},
        {box::Warning, "Information Message"},
        {box::Error, "Fatal Error Ocurred"},
        {box::YesNo, "Information Request"},
    };
    test::BoxRecorder rec;
    for (auto [kind, caption] : cases) {
        msg_box(sr("text"), sr(""), kind);
        msg_box(sr("text"), sr("Own caption"), kind);
    }
    ASSERT_EQ(rec.boxes.size(), 8u);
    for (size_t i = 0; i < 4; i++) {
        EXPECT_EQ(rec.boxes[2 * i].caption, cases[i].second);
        EXPECT_EQ(rec.boxes[2 * i].kind, cases[i].first);
        EXPECT_EQ(rec.boxes[2 * i].text, "text");
        EXPECT_EQ(rec.boxes[2 * i + 1].caption, "Own caption");
    }
}

TEST_F(MsgBoxTest, CaptionsFromLanguageFile) {
    use_language("0012 Mensaje\n0013 Error fatal\n0014 Pregunta\n");
    test::BoxRecorder rec;
    msg_box(sr("t"), sr(""), box::Warning);
    msg_box(sr("t"), sr(""), box::Error);
    msg_box(sr("t"), sr(""), box::YesNo);
    ASSERT_EQ(rec.boxes.size(), 3u);
    EXPECT_EQ(rec.boxes[0].caption, "Mensaje");
    EXPECT_EQ(rec.boxes[1].caption, "Error fatal");
    EXPECT_EQ(rec.boxes[2].caption, "Pregunta");
}

TEST_F(MsgBoxTest, TextHeldInTheStringTableSurvivesTheLoad) {
    ASSERT_EQ(st_push(grp::StkAux, sr("Record saved")), 0);
    ASSERT_EQ(st_push(grp::StkAux, sr("Are you sure?")), 0);
    use_language("0012 Mensaje\n0014 Pregunta\n");
    test::BoxRecorder rec;
    msg_box(st_get(grp::StkAux, 0), sr(""), box::Warning);
    lang_reset();
    lang_enable(true);
    EXPECT_TRUE(confirm(st_get(grp::StkAux, 1)));
    ASSERT_EQ(rec.boxes.size(), 2u);
    EXPECT_EQ(rec.boxes[0].caption, "Mensaje");
    EXPECT_EQ(rec.boxes[0].text, "Record saved");
    EXPECT_EQ(rec.boxes[1].caption, "Pregunta");
    EXPECT_EQ(rec.boxes[1].text, "Are you sure?");
}

TEST_F(MsgBoxTest, ConfirmAsksYesNo) {
    test::BoxRecorder rec;
    rec.answer = box::Yes;
    EXPECT_TRUE(confirm(sr("Delete Record(s)?")));
    rec.answer = box::No;
    EXPECT_FALSE(confirm(sr("Delete Record(s)?")));
    rec.answer = box::Cancel;
    EXPECT_FALSE(confirm(sr("Delete Record(s)?")));
    ASSERT_EQ(rec.boxes.size(), 3u);
    EXPECT_EQ(rec.boxes[0].kind, box::YesNo);
    EXPECT_EQ(rec.boxes[0].text, "Delete Record(s)?");
    EXPECT_EQ(rec.boxes[0].caption, "Information Request");
}

TEST_F(MsgBoxTest, StatusBoxShowsAndClearsTheDetail) {
    struct Case {
        IER origin;
        int module;
        const char* detail;
        IER st;
        int kind;
        const char* caption;
        const char* text;
    };
    const Case cases[] = {
        {146, mod::FormatStrings, "abc", 146, box::Error, "Fatal Error Ocurred", "Error STRINGTOOLONG(FormatStrings): abc"},
        {164, mod::Streams, "a.txt", 0xFFFF, box::Error, "Fatal Error Ocurred", "Error File Not Found(Streams): a.txt"},
        {0, 0, "Bad date", 126, box::Warning, "Information Message", "Bad date"},
        {0, 0, "", 122, box::Warning, "Information Message", "User Canceled"},
        {0, 0, "", 0xFFFF, box::Warning, "Information Message", "Process Completed Succesfully"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        test::BoxRecorder rec;
        err_origin(2, c.module, c.origin);
        err_detail(0, c.detail);
        ScratchMark m = scr_mark();
        status_box(c.st);
        EXPECT_EQ(scr_mark(), m);
        ASSERT_EQ(rec.boxes.size(), 1u);
        EXPECT_EQ(rec.boxes[0].kind, c.kind);
        EXPECT_EQ(rec.boxes[0].caption, c.caption);
        EXPECT_EQ(rec.boxes[0].text, c.text);
        EXPECT_EQ(err_detail_get().n, 0) << "the detail is cleared once shown";
    }
}

TEST_F(MsgBoxTest, ScratchAreaFull) {
    // The box that reports a full scratch area must itself work without it.
    test::BoxRecorder rec;
    ScratchMark m = scr_mark();
    while (sr_ok(scr_alloc(4096))) {
    }
    while (sr_ok(scr_alloc(4))) {
    }
    rec.answer = box::Yes;
    EXPECT_EQ(msg_box(sr("Continue?"), sr(""), box::YesNo), 'Y');
    EXPECT_TRUE(confirm(sr("Continue?")));
    rec.answer = box::No;
    EXPECT_EQ(msg_box(sr("Continue?"), sr("Own"), box::YesNo), 'N');
    EXPECT_FALSE(confirm(sr("Continue?")));
    err_origin(2, mod::DynStrings, ier::OUTOFMEMORY);
    status_box(ier::OUTOFMEMORY);
    scr_release(m);
    ASSERT_EQ(rec.boxes.size(), 5u);
    EXPECT_EQ(rec.boxes[0].text, "Continue?");
    EXPECT_EQ(rec.boxes[2].caption, "Own");
    EXPECT_EQ(rec.boxes[4].kind, box::Error);
    EXPECT_NE(rec.boxes[4].text.find("OUTOFMEMORY"), std::string::npos) << rec.boxes[4].text;
}

TEST_F(MsgBoxTest, StandardErrorPortAnswersWithItsDefault) {
    testing::internal::CaptureStderr();
    char ok = msg_box(sr("First line\r\nSecond \xBF"), sr("Caption"), box::Warning);
    char yes = msg_box(sr("Close?"), sr(""), box::YesNo);
    std::string out = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ok, 'Y');
    EXPECT_EQ(yes, 'Y');
    EXPECT_NE(out.find("Caption"), std::string::npos) << out;
    EXPECT_NE(out.find("First line"), std::string::npos) << out;
    EXPECT_NE(out.find("Second \xC2\xBF"), std::string::npos) << "shown as UTF-8: " << out;
    EXPECT_NE(out.find("Close?"), std::string::npos) << out;
    EXPECT_EQ(out.find('\r'), std::string::npos) << "line breaks are made readable";
}

}  // namespace
}  // namespace rt
