#include "runtime/expr/ftype.h"

#include <string>

#include "runtime/core/env.h"
#include "runtime/core/msg.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/fixed.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using namespace std::string_literals;
using test::str;

// A language file's replacement of messages 0019 and 0117: decimal comma,
// thousands point, Spanish logical letters and words, month names and pattern.
const std::string kSpanishParams =
    ",.'0123456789,-D',' NS','  ,NO,SI'\0"
    "'Enero,Febrero,Marzo,Abril,Mayo,Junio,Julio,Agosto,Septiembre,Octubre,Noviembre,Diciembre',"
    "'[D] de [M] de [Y]'\0 "s;

class FtypeTest : public test::RtTest {
protected:
    void SetUp() override {
        test::RtTest::SetUp();
        // The format parameters as start-up builds them.
        ScratchMark m = scr_mark();
        std::string item = str(msg(19)) + '\0' + str(msg(117)) + '\0' + ' ';
        ASSERT_EQ(env_set(env::FormatParams, sr(item)), 0);
        ASSERT_EQ(env_set(env::LangModule, "EN"), 0);
        scr_release(m);
    }
    static void lang(const char* code) { ASSERT_EQ(env_set(env::LangModule, code), 0); }
    static void spanish_params() { ASSERT_EQ(env_set(env::FormatParams, sr(kSpanishParams)), 0); }
    static std::string today_text() {
        int32_t d = dt_today();
        return std::to_string(d);
    }
};

// A result as text, or "<status>" for an error value; scratch released.
std::string res(StrRef r) { return sr_ok(r) ? str(r) : "<" + std::to_string(sr_status(r)) + ">"; }

struct Scratch {
    ScratchMark m = scr_mark();
    ~Scratch() { scr_release(m); }
};

TEST_F(FtypeTest, FormatParamsFromTheEnvironmentAndBuiltIn) {
    for (int pass = 0; pass < 3; pass++) {
        Scratch s;
        // pass 0: the item built at start-up; 1: no item (the built-in texts);
        // 2: a language file's item, but the built-in texts asked for.
        if (pass == 1) {
            ASSERT_EQ(env_set(env::FormatParams, ""), 0);
        }
        if (pass == 2) spanish_params();
        FormatParams fp;
        ft_params(&fp, pass == 2);
        EXPECT_EQ(fp.decimal, '.') << pass;
        EXPECT_EQ(fp.thousands, ',') << pass;
        EXPECT_EQ(str(fp.num_chars), "0123456789.-D") << pass;
        EXPECT_EQ(str(fp.logic_in), " NY") << pass;
        EXPECT_EQ(str(fp.logic_words), "  ,NO,YES") << pass;
        EXPECT_EQ(str(fp.months).substr(0, 17), "January,February,") << pass;
        EXPECT_EQ(str(fp.date_pattern), "[M] [D],[Y]") << pass;
    }
    spanish_params();
    FormatParams fp;
    ft_params(&fp);
    EXPECT_EQ(fp.decimal, ',');
    EXPECT_EQ(fp.thousands, '.');
    EXPECT_EQ(str(fp.num_chars), "0123456789,-D");
    EXPECT_EQ(str(fp.logic_in), " NS");
    EXPECT_EQ(str(fp.logic_words), "  ,NO,SI");
    EXPECT_EQ(str(fp.date_pattern), "[D] de [M] de [Y]");
}

TEST_F(FtypeTest, NumericTypeLetters) {
    for (char c : std::string("NL123456789")) EXPECT_TRUE(ft_is_numeric(c)) << c;
    for (char c : std::string("APBCDFTV0\0"s)) EXPECT_FALSE(ft_is_numeric(c)) << int(c);
}

TEST_F(FtypeTest, NumberToTextOfTheSystem) {
    struct Case { Num v; const char* want; } cases[] = {
        {0, ""}, {5, ".05"}, {-5, "-.05"}, {150, "1.5"}, {10000, "100"},
    };
    for (const Case& c : cases) {
        Scratch s;
        EXPECT_EQ(res(num_text(c.v, num_precis())), c.want) << c.v;
    }
}

TEST_F(FtypeTest, LeapYearsAndMonthLengths) {
    struct Case { int year; bool leap; } years[] = {
        {1900, false}, {2000, true}, {2100, false}, {2024, true}, {2023, false}, {1600, true}, {2400, true},
    };
    for (const Case& c : years) {
        EXPECT_EQ(dt_leap(c.year), c.leap) << c.year;
        EXPECT_EQ(dt_month_len(c.year, 2), c.leap ? 29 : 28) << c.year;
    }
    int lens[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (int m = 1; m <= 12; m++) EXPECT_EQ(dt_month_len(2023, m), lens[m - 1]) << m;
    struct V { int32_t date; bool ok; } dates[] = {
        {20240229, true}, {20230229, false}, {19000229, false}, {20000229, true}, {20241301, false},
        {20240001, false}, {20240100, false}, {20240431, false}, {20241231, true}, {0, false},
    };
    for (const V& v : dates) EXPECT_EQ(dt_valid(v.date), v.ok) << v.date;
}

TEST_F(FtypeTest, ReadSeparatedDate) {
    struct Case {
        const char* lang;
        int byear, bkyear;
        const char* text;
        const char* want;
    } cases[] = {
        {"EN", 2000, 80, "03/04/2024", "20240304"},
        {"ES", 2000, 80, "03/04/2024", "20240403"},
        {"FR", 2000, 80, "03/04/2024", "20240403"},
        {"IT", 2000, 80, "03/04/2024", "20240403"},
        {"DE", 2000, 80, "03/04/2024", "20240304"},
        {"EN", 2000, 80, "3-4-2024", "20240304"},
        {"EN", 2000, 80, "3.4.2024", "20240304"},
        {"EN", 2000, 80, " 3 / 4 / 2024 ", "20240304"},
        // The century window.
        {"EN", 2000, 80, "1/2/79", "20790102"},
        {"EN", 2000, 80, "1/2/80", "19800102"},
        {"EN", 2000, 80, "1/2/00", "20000102"},
        {"EN", 1900, 50, "1/2/49", "19490102"},
        {"EN", 1900, 50, "1/2/50", "18500102"},
        {"EN", 2100, 30, "1/2/29", "21290102"},
        {"EN", 2100, 30, "1/2/30", "20300102"},
        // Six characters without separator are DDMMYY in every language.
        {"EN", 2000, 80, "030424", "20240403"},
        {"ES", 2000, 80, "030424", "20240403"},
        {"EN", 2000, 80, "290299", ""},  // 1999 had no 29 February
        // Other lengths without separator are taken as they are.
        {"EN", 2000, 80, "20240305", "20240305"},
        {"EN", 2000, 80, "2024035", "2024035"},
        {"EN", 2000, 80, "'3/4/2024'", "'3/4/2024'"},  // the separators are quoted
        // Invalid dates give the empty date.
        {"EN", 2000, 80, "02/29/2023", ""},
        {"EN", 2000, 80, "02/29/2024", "20240229"},
        {"EN", 2000, 80, "02/29/1900", ""},
        {"EN", 2000, 80, "02/29/2000", "20000229"},
        {"EN", 2000, 80, "13/01/2024", ""},
        {"ES", 2000, 80, "13/01/2024", "20240113"},
        {"EN", 2000, 80, "0/1/2024", ""},
        {"EN", 2000, 80, "1/0/2024", ""},
        {"EN", 2000, 80, "4/31/2024", ""},
        {"EN", 2000, 80, "1/2/", ""},
        {"EN", 2000, 80, "1/2", ""},
        {"EN", 2000, 80, "1/2/3/4", ""},
        {"EN", 2000, 80, "a/b/2024", ""},
        {"EN", 2000, 80, "ab0424", ""},
    };
    for (const Case& c : cases) {
        Scratch s;
        lang(c.lang);
        sysv_set(sysv::BYEAR, static_cast<int16_t>(c.byear));
        sysv_set(sysv::BKYEAR, static_cast<int16_t>(c.bkyear));
        EXPECT_EQ(res(dt_read(sr_c(c.text))), c.want) << c.lang << " " << c.text << " " << c.byear << "/" << c.bkyear;
    }
}

TEST_F(FtypeTest, EmptyDateIsTodayUnlessKeptEmpty) {
    Scratch s;
    EXPECT_EQ(res(dt_read(sr_c(""))), today_text());
    EXPECT_EQ(res(dt_read(sr_c("   "))), today_text());
    EXPECT_EQ(res(dt_format(sr_c(""), 0)), today_text());
    sysv_set(sysv::AUXSTAT, 64);
    EXPECT_EQ(res(dt_read(sr_c(""))), "        ");
    EXPECT_EQ(res(dt_format(sr_c(""), 0)), "");
    EXPECT_EQ(res(dt_format(sr_c(""), 1)), "        ");
    EXPECT_EQ(res(dt_format(sr_c(""), 2)), "          ");
}

TEST_F(FtypeTest, FormatDate) {
    struct Case {
        const char* lang;
        const char* date;
        int code;
        const char* want;
    } cases[] = {
        {"EN", "20240305", 0, "20240305"},
        {"EN", "20240305", 1, "03-05-24"},
        {"ES", "20240305", 1, "05-03-24"},
        {"EN", "20240305", 2, "03-05-2024"},
        {"ES", "20240305", 2, "05-03-2024"},
        {"IT", "20240305", 2, "05-03-2024"},
        {"DE", "20240305", 2, "03-05-2024"},
        {"EN", "20240305", 3, "Mar 2024"},
        {"EN", "20241105", 3, "Nov 2024"},
        {"EN", "20240305", 4, "March 05,2024"},
        {"EN", "20241225", 4, "December 25,2024"},
        {"EN", "20240305", 5, ""},
        {"EN", "20240305", -1, ""},
        // Invalid dates give blanks: 8 for format 1, 10 for format 2, none else.
        {"EN", "20241305", 1, "        "},
        {"EN", "20240230", 2, "          "},
        {"EN", "19000229", 2, "          "},
        {"EN", "2024035", 1, "        "},
        {"EN", "abcdefgh", 4, ""},
        {"EN", "20241305", 0, ""},
        {"EN", "20241305", 3, ""},
    };
    for (const Case& c : cases) {
        Scratch s;
        lang(c.lang);
        EXPECT_EQ(res(dt_format(sr_c(c.date), c.code)), c.want) << c.lang << " " << c.date << " " << c.code;
    }
}

TEST_F(FtypeTest, FormatDateUsesTheLocalisedNamesAndPattern) {
    spanish_params();
    lang("ES");
    Scratch s;
    EXPECT_EQ(res(dt_format(sr_c("20240305"), 4)), "05 de Marzo de 2024");
    EXPECT_EQ(res(dt_format(sr_c("20240905"), 3)), "Sep 2024");
    // A pattern without placeholders is returned unchanged.
    std::string plain = ".,'0123456789.-D',' NY','  ,NO,YES'\0'Jan,Feb,Mar','no date here'\0 "s;
    ASSERT_EQ(env_set(env::FormatParams, sr(plain)), 0);
    EXPECT_EQ(res(dt_format(sr_c("20240305"), 4)), "no date here");
}

TEST_F(FtypeTest, DateArithmetic) {
    struct Case {
        int32_t date, n;
        int unit;
        int32_t want;
    } cases[] = {
        // Months: the day is kept to the new month's end.
        {20240131, 1, 2, 20240229},
        {20230131, 1, 2, 20230228},
        {21000131, 1, 2, 21000228},
        {20240331, -1, 2, 20240229},
        {20240315, -3, 2, 20231215},
        {20241115, 2, 2, 20250115},
        {20240115, -12, 2, 20230115},
        {20240115, -25, 2, 20211215},
        // Years: a day beyond the month runs into the next month.
        {20240229, 1, 4, 20250301},
        {20240229, 4, 4, 20280229},
        {20000229, 100, 4, 21000301},
        {20240305, -24, 4, 20000305},
        // Days.
        {20240228, 1, 1, 20240229},
        {20230228, 1, 1, 20230301},
        {19000228, 1, 1, 19000301},
        {21000228, 1, 1, 21000301},
        {20000228, 1, 1, 20000229},
        {20231231, 1, 1, 20240101},
        {20240101, -1, 1, 20231231},
        {20240101, 366, 1, 20250101},
        {20240101, 10000, 1, 20510519},
        {20240305, 0, 1, 20240305},
        // Differences: the first date minus the second.
        {20240301, 20240201, 1, 29},
        {20230301, 20230201, 1, 28},
        {20240301, 20230301, 1, 366},
        {20230301, 20220301, 1, 365},
        {20230301, 20240301, 1, -366},
        {19000301, 19000228, 1, 1},
        {21000301, 21000228, 1, 1},
        {20000301, 20000228, 1, 2},
        {20240101, 20231231, 1, 1},
        {20240101, 19000101, 1, 45290},
        {20240301, 20230115, 2, 14},
        {20230115, 20240301, 2, -14},
        {20240301, 20230115, 4, 1},
        {20240305, 19991231, 4, 25},
        // Another unit moves nothing.
        {20240305, 5, 0, 20240305},
        {20240305, 20230305, 0, 0},
        // An empty date stays empty.
        {0, 5, 1, 0},
    };
    for (const Case& c : cases) {
        int32_t out = -7;
        EXPECT_EQ(dt_arith(c.date, c.n, c.unit, &out), 0) << c.date << " " << c.n << " " << c.unit;
        EXPECT_EQ(out, c.want) << c.date << " " << c.n << " " << c.unit;
    }
    // Beyond the years a date can hold.
    int32_t out = 0;
    EXPECT_EQ(dt_arith(99991231, 1, 1, &out), ier::EXPCALCERROR);
    EXPECT_EQ(dt_arith(10101, -1, 1, &out), ier::EXPCALCERROR);
    EXPECT_EQ(dt_arith(20240101, INT32_MIN, 1, &out), ier::EXPCALCERROR);
    EXPECT_EQ(dt_arith(20240101, INT32_MIN, 2, &out), ier::EXPCALCERROR);
    EXPECT_EQ(dt_arith(20240101, INT32_MIN, 4, &out), ier::EXPCALCERROR);
}

TEST_F(FtypeTest, DefaultMasks) {
    struct Case {
        char type;
        int length;
        bool storage;
        const char* want;
    } cases[] = {
        {'A', 5, true, "\\\\\\\\\\"},
        {'D', 3, false, "\\\\\\"},
        {'L', 1, true, "\\"},
        {'B', 0, true, ""},
        {'N', 4, true, "####"},
        {'2', 9, true, "######.##"},
        {'2', 4, true, "#.##"},
        {'2', 3, true, "###"},  // no room for a place before the point
        {'9', 12, true, "##.#########"},
    };
    for (const Case& c : cases) {
        Scratch s;
        EXPECT_EQ(res(ft_default_mask(c.type, c.length, c.storage)), c.want) << c.type << c.length;
    }
    spanish_params();
    Scratch s;
    EXPECT_EQ(res(ft_default_mask('2', 9, false)), "######,##");
    EXPECT_EQ(res(ft_default_mask('2', 9, true)), "######.##");
}

TEST_F(FtypeTest, MaskForATypeText) {
    struct Case {
        const char* parms;  // mask parameters (environment item 10)
        const char* text;
        const char* want;
    } cases[] = {
        {"", "A5", "\\\\\\\\\\"},
        {"", "N4", "####"},
        {"", "29", "######.##"},
        {"", "A0", "A0"},            // a length of 0 is no type text
        {"", "Total", "Total"},
        {"", "(\\\\\\) \\\\\\-\\\\\\\\", "(\\\\\\) \\\\\\-\\\\\\\\"},
        {"", "##,###,##0,.2", "##,###,##0.00"},
        {"", "####0,.2", "#,##0.00"},
        {"", "##,###,##0,.0", "#,###,###,##0"},
        {"", "$ ####0,.2", "$ #,##0.00"},  // what stands before the first placeholder stays
        {"", "#####,.2", "#,###.##"},   // the places take the character before ",."
        {"", "0,.3", ".000"},          // too short: the decimals come first
        {"0,3,2", "####0,.1", "###0.000"},
        {"0,3,2", "####0,.0", "####,##0"},
        {"0,3,2", "######0,.2", "###,##0.00"},
        {"", "####0,.", "####0,."},    // no number after ",."
    };
    for (const Case& c : cases) {
        Scratch s;
        ASSERT_EQ(env_set(env::MaskParms, c.parms), 0);
        EXPECT_EQ(res(ft_mask_for(sr_c(c.text))), c.want) << c.parms << " " << c.text;
    }
}

TEST_F(FtypeTest, MaskApplied) {
    struct Case {
        const char* mask;
        const char* value;
        int mode;
        const char* want;
    } cases[] = {
        // Text masks.
        {"(\\\\\\) \\\\\\-\\\\\\\\", "5551234567", 255, "(555) 123-4567"},
        {"\\\\-\\\\", "abcd", 255, "ab-cd"},
        {"\\\\\\\\", "ab", 255, "ab  "},
        {"\\   \\", "abcdefg", 255, "abcde"},  // blanks between backslashes are places
        {"\\ x \\", "abc", 255, "a x b"},
        {"?" "?-??", "abcde", 255, "ab-de"},      // '?' first: by position
        {"?\\", "ab", 255, "ab"},              // the backslash skips what '?' took
        {"\\?\\", "abc", 255, "abc"},          // backslash first: '?' takes the next
        {"0?0?", "abcd", 255, "0b0d"},
        {"'\\'\\", "ab", 255, "'\\'a"},        // quoted characters are copied
        {"none", "abc", 255, "none"},
        {"\\\\\\", "123", 0, "123"},
        // Numeric masks.
        {"#,##0.00", "1234.5", 255, "1,234.50"},
        {"#,##0.00", "-5", 255, "   -5.00"},
        {"#,##0.00", "-1234.5", 255, "-1,234.50"},
        {"#,##0.00", "0", 255, "    0.00"},
        {"#,##0.00", "", 255, "    0.00"},
        {"#,##0.00", "1,234.5", 255, "1,234.50"},
        {"#,##0.00", "12345678.9", 255, "12345678.90"},  // grows, separators dropped
        {"#,##0.00", "-12345678.9", 255, "-12345678.90"},
        {"#,##0.00", "0.005", 255, "    0.01"},
        {"#,##0.00", "-0.005", 255, "   -0.01"},
        {"###.#", "2.25", 255, "  2.3"},
        {"###.#", "-2.25", 255, " -2.3"},
        {"##0", "2.5", 255, "  3"},
        {"##0", "-2.5", 255, " -3"},
        {"###", "0", 255, "   "},
        {"#.##", "-0.5", 255, "-.50"},
        {"0.00", "-0.5", 255, "-0.50"},
        {"0000", "42", 255, "0042"},
        {"0000", "1234567", 255, "1234567"},
        {"0,000", "5", 255, "0,005"},
        {"$###0.00", "-5", 255, "$  -5.00"},
        {"### units", "12", 255, " 12 units"},
        {"'#'###", "12", 255, "'#' 12"},
        {"##", "1D3", 255, "1000"},
        {"\\\\\\", "12", 1, "\\\\\\"},   // numeric by mode, but no digit places
        // Not numeric: the mask itself, unless it has text places.
        {"#,##0", "abc", 255, "#,##0"},
        {"###", "12", 0, "###"},
        {"##\\\\", "ab12", 255, "##ab"},
    };
    for (const Case& c : cases) {
        Scratch s;
        EXPECT_EQ(res(ft_mask(sr_c(c.mask), sr_c(c.value), c.mode)), c.want)
            << c.mask << " [" << c.value << "] " << c.mode;
    }
}

TEST_F(FtypeTest, NumericMaskWithLocalSeparators) {
    spanish_params();
    struct Case { const char* mask; const char* value; int mode; const char* want; } cases[] = {
        {"#,##0.00", "1234.5", 255, "1.234,50"},
        {"#,##0.00", "1234.5", 2, "1.234,50"},
        {"#,##0.00", "1234.5", 1, "1,234.50"},  // mode 1: the built-in separators
    };
    for (const Case& c : cases) {
        Scratch s;
        EXPECT_EQ(res(ft_mask(sr_c(c.mask), sr_c(c.value), c.mode)), c.want) << c.mode;
    }
}

TEST_F(FtypeTest, StorageForm) {
    struct Case {
        char type;
        const char* text;
        int length;
        const char* want;  // nullptr: 168
    } cases[] = {
        {'A', "abc", 5, "abc  "},
        {'A', "abcdef", 3, "abc"},
        {'P', "secret", 8, "secret  "},
        {'T', "13:05", 5, "13:05"},
        {'B', "12-34 x5", 8, "1234 5  "},
        {'C', " 12", 5, "01200"},
        {'C', "4-3", 6, "430000"},
        {'C', "x", 3, "   "},       // nothing left: stays blank
        {'D', "03/04/2024", 8, "20240304"},
        {'D', "20240305", 8, "20240305"},
        {'D', "20240305", 6, "240305"},
        {'D', "030424", 8, "20240403"},
        {'D', "", 8, "        "},
        {'D', "2/30/2024", 8, "        "},
        {'F', "20240305", 6, "240305"},   // not compact unless asked
        {'L', "1", 1, "1"},
        {'L', "0", 1, "0"},
        {'L', "Y", 1, "1"},
        {'L', "yes", 1, "1"},
        {'L', "n", 1, "0"},
        {'L', "", 1, " "},
        {'L', "x", 1, " "},
        {'N', "12", 5, "   12"},
        {'N', "-12.5", 5, "  -13"},
        {'N', "12.4", 5, "   12"},
        {'N', "", 3, "  0"},
        {'N', "12345", 5, "12345"},
        {'N', "123456", 5, nullptr},
        {'N', "-12345", 5, nullptr},
        {'2', "1.5", 8, "    1.50"},
        {'2', "1.005", 5, " 1.01"},
        {'2', "-1.005", 5, "-1.01"},
        {'2', "0.05", 4, "0.05"},
        {'2', "0.05", 3, ".05"},
        {'2', "-0.05", 4, "-.05"},
        {'2', "1234.5", 6, nullptr},
        {'2', "1234.5", 7, "1234.50"},
        {'2', "12345678901234567890", 30, nullptr},  // beyond the 20 digits of a number
        {'V', "abc", 3, ""},
    };
    for (const Case& c : cases) {
        Scratch s;
        StrRef r = ft_storage(c.type, sr_c(c.text), c.length);
        if (c.want) EXPECT_EQ(res(r), c.want) << c.type << " " << c.text << " " << c.length;
        else EXPECT_EQ(sr_status(r), ier::DATAOUTBOUND) << c.type << " " << c.text << " " << c.length;
    }
}

TEST_F(FtypeTest, FitKeepsTheTextButAlignsAndChecksNumbers) {
    struct Case { char type; const char* text; int length; const char* want; } cases[] = {
        {'B', "12-34", 6, "12-34 "},
        {'D', "03/04/2024", 10, "03/04/2024"},
        {'A', "abcdef", 4, "abcd"},
        {'N', "7", 3, "  7"},
        {'3', "1.5", 6, " 1.500"},
        {'N', "1000", 3, nullptr},
        {'L', "Y", 2, "1 "},
        {'V', "x", 2, ""},
    };
    for (const Case& c : cases) {
        Scratch s;
        StrRef r = ft_fit(c.type, sr_c(c.text), c.length);
        if (c.want) EXPECT_EQ(res(r), c.want) << c.type << " " << c.text;
        else EXPECT_EQ(sr_status(r), ier::DATAOUTBOUND) << c.type << " " << c.text;
    }
}

TEST_F(FtypeTest, CompactDates) {
    sysv_set(sysv::COMPAT, 4);
    struct Case { const char* date; const char* stored; } cases[] = {
        {"20240305", "C4 3 5"},
        {"20241231", "C41231"},
        {"20000101", "A0 1 1"},
        {"20991010", "J91010"},
    };
    for (const Case& c : cases) {
        Scratch s;
        EXPECT_EQ(res(ft_storage('F', sr_c(c.date), 6)), c.stored) << c.date;
        std::string shown = std::string(c.date + 4, 2) + "-" + std::string(c.date + 6, 2) + "-" + std::string(c.date, 4);
        EXPECT_EQ(res(ft_display('F', sr_c(c.stored), 10)), shown) << c.stored;
    }
    Scratch s;
    // A year outside 2000..2099 would read back as another date.
    EXPECT_EQ(sr_status(ft_storage('F', sr_c("19991231"), 6)), ier::DATAOUTBOUND);
    EXPECT_EQ(sr_status(ft_storage('F', sr_c("21000101"), 6)), ier::DATAOUTBOUND);
    EXPECT_EQ(res(ft_storage('F', sr_c(""), 6)), "      ");
    // The older form: a first digit is a year of the 1900s.
    EXPECT_EQ(res(ft_display('F', sr_c("991231"), 10)), "12-31-1999");
    EXPECT_EQ(res(ft_display('F', sr_c("      "), 10)), "          ");
    // D fields and other lengths are never compact.
    EXPECT_EQ(res(ft_storage('D', sr_c("20240305"), 6)), "240305");
    EXPECT_EQ(res(ft_storage('F', sr_c("20240305"), 8)), "20240305");
}

TEST_F(FtypeTest, DisplayForm) {
    struct Case {
        const char* lang;
        char type;
        const char* stored;
        int length;
        const char* want;
    } cases[] = {
        {"EN", 'A', "ab", 4, "ab  "},
        {"EN", 'P', "secret", 6, "secret"},
        {"EN", 'V', "x", 3, "   "},
        {"EN", 'D', "20240305", 8, "03-05-24"},
        {"ES", 'D', "20240305", 8, "05-03-24"},
        {"EN", 'D', "20240305", 10, "03-05-2024"},
        {"EN", 'D', "20240305", 6, "      "},
        {"EN", 'D', "240305", 10, "03-05-2024"},  // a six-digit date through the window
        {"EN", 'D', "850305", 10, "03-05-1985"},
        {"EN", 'D', "20241301", 8, "        "},
        {"EN", 'F', "", 8, "        "},
        {"EN", 'F', "20240305", 10, "03-05-2024"},
        {"EN", 'L', "1", 3, "YES"},
        {"EN", 'L', "0", 3, "NO "},
        {"EN", 'L', " ", 3, "   "},
        {"EN", 'L', "1", 1, "Y"},
        {"EN", 'L', "0", 2, "NO"},
        {"EN", 'L', " ", 2, "  "},
        {"EN", 'N', "   12", 5, "   12"},
        {"EN", 'N', "     ", 5, "     "},
        {"EN", 'N', "  -12", 5, "  -12"},
        {"EN", '2', "    1.50", 8, "    1.50"},
        {"EN", '2', "    -.05", 8, "    -.05"},
        {"EN", '2', "1234567.5", 8, "1234567.50"},  // the digits all show
    };
    for (const Case& c : cases) {
        Scratch s;
        lang(c.lang);
        EXPECT_EQ(res(ft_display(c.type, sr_c(c.stored), c.length)), c.want)
            << c.lang << " " << c.type << " [" << c.stored << "] " << c.length;
    }
}

TEST_F(FtypeTest, DisplayOfAnEmptyDate) {
    Scratch s;
    std::string t = today_text();
    std::string want = t.substr(4, 2) + "-" + t.substr(6, 2) + "-" + t.substr(2, 2);
    EXPECT_EQ(res(ft_display('D', sr_c("        "), 8)), want);
    sysv_set(sysv::AUXSTAT, 64);
    EXPECT_EQ(res(ft_display('D', sr_c("        "), 8)), "        ");
}

TEST_F(FtypeTest, DisplayWithLocalParameters) {
    spanish_params();
    struct Case { char type; const char* stored; int length; const char* want; } cases[] = {
        {'2', "    1.50", 8, "    1,50"},
        {'L', "1", 2, "SI"},
        {'L', "0", 2, "NO"},
    };
    for (const Case& c : cases) {
        Scratch s;
        EXPECT_EQ(res(ft_display(c.type, sr_c(c.stored), c.length)), c.want) << c.type << c.stored;
    }
    Scratch s;
    EXPECT_EQ(res(ft_storage('L', sr_c("s"), 1)), "1");
}

TEST_F(FtypeTest, InputNumber) {
    struct Case { bool spanish; const char* text; const char* want; } cases[] = {
        {false, "12.5", "12.5"},
        {false, "  -12.5  ", "-12.5"},
        {false, "1,234.5", "1"},  // the thousands separator is not a number character
        {false, "12-3", "12"},
        {false, "--5", "-"},
        {false, "007", "7"},
        {false, "0", ""},
        {false, "0.5", "0.5"},
        {false, "00.5", "0.5"},
        {false, ".05", ".05"},
        {false, "-0.5", "-0.5"},
        {false, "-05", "-5"},
        {false, "100", "100"},
        {false, "1D3", "1D3"},
        {false, "abc", ""},
        {false, "12abc", "12"},
        {false, "1234567890123456789012345", "12345678901234567890"},
        {true, "12,5", "12.5"},
        {true, "0,5", "0.5"},
        {true, "1.5", "1.5"},  // the point is always allowed
        {true, "-0,25", "-0.25"},
    };
    for (const Case& c : cases) {
        Scratch s;
        if (c.spanish) spanish_params();
        EXPECT_EQ(res(ft_input_number(sr_c(c.text))), c.want) << c.text;
    }
}

TEST_F(FtypeTest, TimeFormat) {
    const int32_t t = ((13 * 60 + 5) * 60 + 9) * 1000 + 123;
    struct Case { int32_t ms; int flags; const char* want; } cases[] = {
        {t, 3, "13:05:09"},
        {t, 1, "13:05"},
        {t, 0, "1305"},
        {t, 2, "130509"},
        {t, 7, "13:05:09.123"},
        {t, 6, "130509.123"},
        {0, 7, "00:00:00.000"},
        {86399999, 7, "23:59:59.999"},
        {86400000 + 1000, 3, "00:00:01"},  // a time of day: whole days drop
        {-1000, 3, "23:59:59"},
    };
    for (const Case& c : cases) {
        Scratch s;
        EXPECT_EQ(res(tm_format(c.ms, c.flags)), c.want) << c.ms << " " << c.flags;
    }
}

TEST_F(FtypeTest, TimeRead) {
    struct Case { const char* text; int32_t want; } cases[] = {
        {"13:05:09", ((13 * 60 + 5) * 60 + 9) * 1000},
        {"13:05:09.123", ((13 * 60 + 5) * 60 + 9) * 1000 + 123},
        {"05:09", (5 * 60 + 9) * 1000},  // the last field is always seconds
        {"9", 9000},
        {"1:2:3.5", ((1 * 60 + 2) * 60 + 3) * 1000 + 500},
        {"1:2:3.05", ((1 * 60 + 2) * 60 + 3) * 1000 + 50},
        {"1:2:3.1234", ((1 * 60 + 2) * 60 + 3) * 1000 + 123},
        {"24:00:01", 1000},
    };
    for (const Case& c : cases) EXPECT_EQ(tm_read(sr_c(c.text)), c.want) << c.text;
    Scratch s;
    EXPECT_EQ(res(tm_format(tm_read(sr_c("07:08:09.010")), 7)), "07:08:09.010");
    int32_t now = tm_read(sr_c(""));
    EXPECT_GE(now, 0);
    EXPECT_LT(now, 86400000);
}

}  // namespace
}  // namespace rt
