// The text, list, number, date and control functions, through the
// evaluator as expressions call them.
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "runtime/core/env.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/func.h"
#include "runtime/expr/vars.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

class FnTextTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        fnlib_install();
        env_set(env::LangModule, "EN");
        m_ = scr_mark();
    }
    void TearDown() override {
        EXPECT_EQ(st_count(grp::StkArgs), 0) << "every call leaves the argument stack as it found it";
        scr_release(m_);
        fn_reset();
        vars_done();
        RtTest::TearDown();
    }
    // A number as printed, a text in quotes, or "error N"; a warning below
    // 128 goes to *st.
    std::string eval(const std::string& text, IER* st = nullptr) {
        Value v;
        IER s = ex_eval(sr(text), &v);
        if (st) *st = s;
        if (s >= 128) return "error " + std::to_string(s);
        return v.is_text() ? "'" + str(v.text) + "'" : str(num_plain(v.num, num_precis()));
    }
    void check(std::initializer_list<std::pair<const char*, const char*>> cases) {
        for (const auto& [text, want] : cases) EXPECT_EQ(eval(text), want) << text;
    }
    ScratchMark m_ = 0;
};

TEST_F(FnTextTest, ListsAndLengths) {
    check({
        {"FN#PARM('a,b,c')", "3"},
        {"FN#PARM('')", "0"},
        {"FN#PARM('a,b,c';'c')", "3"},
        {"FN#PARM('a,b,c';'d')", "0"},
        {"FN#PARM('10,20,30';20)", "2"},  // a numeric value is looked up as its text
        {"FN#PARM('a,b,c';'b';'10,20,30')", "20"},
        {"FN#PARM('a,b,c';'d';'10,20,30')", "0"},
        {"FN#PARM('a,b,c';'c';'10,20')", "0"},  // the table is shorter
        {"FN#PARM('1-5,6-9';7;0)", "2"},
        {"FN#PARM('1-5,6-9';3;0)", "1"},
        {"FN#PARM('1-5,6-9';10;0)", "0"},
        {"FN$PARM('a,b,c';2)", "'b'"},
        {"FN$PARM('a,\"b,c\",d';2)", "'\"b,c\"'"},  // quotes keep a separator in
        {"FN$PARM('a;b';2;59)", "'b'"},
        {"FN$PARM('a;b';2;';')", "'b'"},
        {"FN$PARM('a,b')", "''"},
        {"FN$PARM('a,b';0)", "''"},
        {"FN$PARM('a,b';3)", "''"},
        {"FN#SLEN('abc')", "3"},
        {"FN#SLEN('')", "0"},
    });
}

TEST_F(FnTextTest, PartsAndRepeats) {
    check({
        {"FN$MIDS('abcdef';2;3)", "'bcd'"},
        {"FN$MIDS('abcdef';-2)", "'ef'"},
        {"FN$MIDS('abcdef';-3;2)", "'de'"},
        {"FN$MIDS('abcdef';5;10)", "'ef'"},
        {"FN$MIDS('abcdef';7)", "''"},
        {"FN$MIDS('abcdef';0;2)", "'ab'"},
        {"FN$MIDS('abcdef';-10;2)", "'ab'"},
        {"FN$MIDS('abcdef';2;-1)", "''"},
        {"FN$CHRS(65;3)", "'AAA'"},
        {"FN$CHRS('ab';2)", "'abab'"},
        {"FN$CHRS(65)", "'A'"},
        {"FN$CHRS(321;2)", "'AA'"},  // the low 8 bits of the code
        {"FN$CHRS('x';0)", "''"},
        {"FN$CHRS('ab';40000)", "error 146"},  // longer than a text can be
        {"FN$TRIM('  x  ';'LEFTTRIM')", "'x  '"},
        {"FN$TRIM('  x  ';'RIGHTRIM')", "'  x'"},
        {"FN$TRIM('  x  ')", "'x'"},
        {"FN$TRIM('  x  ';'bothtrim')", "'x'"},
        {"FN$TRIM('\t x\t')", "'x'"},
        {"FN$TRIM('  x  ';'')", "'x'"},
        {"FN$TRIM('ab';'FIT')", "'AB'"},
        {"FN$TRIM(\"  'ab'  \";'FIT')", "'ab'"},
        {"FN$TRIM(0)", "''"},
        {"FN$TRIM(0.05)", "'.05'"},
        {"ENVELOP$('x')", "''x''"},
        {"ENVELOP$('x';40)", "'(x)'"},
        {"ENVELOP$('x';'[')", "'[x]'"},
        {"ENVELOP$('x';34)", "'\"x\"'"},
    });
}

TEST_F(FnTextTest, Changes) {
    check({
        {"FN$CHNG('Hello World';'UCASE')", "'HELLO WORLD'"},
        {"FN$CHNG('Hello World';'LCASE')", "'hello world'"},
        {"FN$CHNG('a   b  c';'CLEAN')", "'a b c'"},
        {"FN$CHNG('a1b2c3';'FILTER';'0123456789')", "'123'"},
        {"FN$CHNG('a1b2';'FILTER')", "''"},
        {"FN$CHNG('aXXbYYc';'FILTER';'XXYY';'12')", "'a1b2c'"},
        {"FN$CHNG('AAB';'FILTER';'AABB';'BC')", "'BB'"},  // one pass: a result is not looked into again
        {"FN$CHNG('a.b.c';'.';',')", "'a,b,c'"},
        {"FN$CHNG('a.b.c';'.')", "'abc'"},
        {"FN$CHNG(\"a.'b.c'.d\";'.';',')", "'a,'b.c',d'"},  // quoted parts are skipped
        {"FN$CHNG(\"a.'b.c'.d\";'.';',';1)", "'a,'b,c',d'"},
        {"FN$CHNG(\"a.'b.c'.d\";'.';',';'1')", "'a,'b.c',d'"},  // only a number means plain
        {"FN$CHNG('ucase';'ucase';'x')", "'x'"},  // the words are upper case
    });
}

TEST_F(FnTextTest, Templates) {
    check({
        {"EXP$('A $1_ B $2_';X;Y)", "'A X B Y'"},
        {"EXP$('A $1_ B $2_';X+1)", "'A X B 1'"},
        {"EXP$('$1_+$1_';(Q))", "'Q+Q'"},
        {"EXP$('A $1_ $3_';B)", "'A B $3_'"},  // a placeholder without an operand stays
        {"EXP$('$1_$2_';'$2_';Y)", "''$2_'Y'"},  // operands as written, never expanded again
        {"EXP$('none';X)", "'none'"},
        {"EXP$('$1_')", "'$1_'"},
    });
}

TEST_F(FnTextTest, ChoicesEvaluateOnlyTheChosenArgument) {
    check({
        {"CHK#(0;1/0;5)", "5"},
        {"CHK#(1;7;'a'-'b')", "7"},  // the skipped argument would be an error
        {"CHK#(0;'a'-'b';7)", "7"},
        {"CHK#(0;7;'a'-'b')", "error 147"},
        {"CHK#(2-2;1;2;3)", "3"},
        {"CHK#(-1;1;2)", "1"},
        {"CHK#(0;1)", "0"},
        {"CHK#(0)", "0"},
        {"CHK#(1)", "0"},
        {"CHK#(1;)", "0"},
        {"CHK#(;1;2)", "2"},  // an empty selector is 0
        {"CHK#('1';1;2)", "1"},
        {"CHK$(1;'a';'b')", "'a'"},
        {"CHK$(0;'a';'b')", "'b'"},
        {"CHK$(0;'a')", "''"},
        {"CHK$(1;FN$CHRS(66;2);'b')", "'BB'"},
        {"X=1;CHK#(1;7;X=3)", "7"},
        {"X", "1"},
        {"CHK#(0;X=4;Y=5)", "5"},
        {"X", "1"},
        {"Y", "5"},
    });
    IER st = 0;
    EXPECT_EQ(eval("CHK#(1;'7')", &st), "7");
    EXPECT_EQ(st, ier::TypeWarning) << "a text chosen by CHK#";
    EXPECT_EQ(eval("CHK$(0;1;5)", &st), "'5'");
    EXPECT_EQ(st, ier::TypeWarning) << "a number chosen by CHK$";
    EXPECT_EQ(eval("CHK$(0;1;'5')", &st), "'5'");
    EXPECT_EQ(st, 0);
}

TEST_F(FnTextTest, SumsOverAnIntegerVariable) {
    check({
        {"FN#ACUM(I;I;1;4)", "10"},
        {"I", "5"},
        {"FN#ACUM((I*2);(I);(1);(3))", "12"},
        {"FN#ACUM(I;I;1;0)", "0"},  // an end below the start: nothing
        {"I", "1"},
        {"FN#ACUM('2';I;1;3)", "6"},  // a text value is read as a number
        {"FN#ACUM(I/2;I;1;3)", "3"},
        {"FN#ACUM(1;I;-32768;-32760)", "9"},
        {"N=3;FN#ACUM(I;I;1;N+1)", "10"},
        {"FN#ACUM(1;X#;1;3)", "error 147"},
        {"FN#ACUM(1;X$;1;3)", "error 147"},
        {"FN#ACUM(1;5;1;3)", "error 147"},
        {"FN#ACUM(1;I+1;1;3)", "error 147"},
        {"FN#ACUM('a'-'b';I;1;3)", "error 147"},
    });
}

TEST_F(FnTextTest, SumsEndAtTheLargestIntegerValue) {
    // The variable cannot go beyond 32767: the loop stops there instead of
    // wrapping it round and going on for ever.
    check({
        {"FN#ACUM(1;I;1;32767)", "32767"},
        {"I", "32767"},
        {"FN#ACUM(1;I;0;40000)", "32768"},
        {"I", "32767"},
        {"FN#ACUM(I;I;32766;99999)", "65533"},
    });
}

TEST_F(FnTextTest, SumsWhileAConditionHolds) {
    check({
        {"N=0;FN#ACUM(N;(N=N+1)<=4)", "10"},
        {"N=0;FN#ACUM(N;N<3;(N=N+1)<3)", "3"},
        {"FN#ACUM(5;0)", "0"},
        {"FN#ACUM(5;)", "5"},   // an empty condition holds once
        {"FN#ACUM(5;;)", "5"},  // an empty next condition is the default one
        {"N=0;FN#ACUM(N;N<3;'a'-'b')", "error 147"},
    });
}

TEST_F(FnTextTest, Accumulators) {
    // Made at the first use, with elements 0 to 256.
    check({{"_#(3)", "0"}, {"_#(256)", "0"}, {"_#(250;6)", "0"}});
    check({{"_#(257)", "error 168"}, {"_#(-1)", "error 168"}, {"_#(250;7)", "error 168"}});
    for (int i = 0; i < 4; i++)
        ASSERT_EQ(var_array_write(sr("_#("), &i, 1, Value::number(num_from_int(10 * (i + 1), num_precis()))), 0);
    int last = 256;
    ASSERT_EQ(var_array_write(sr("_#("), &last, 1, Value::number(num_from_int(9, num_precis()))), 0);
    check({
        {"_#(2)", "30"},
        {"_#(1;2)", "40"},
        {"_ACUMX$='NET,TAX,TOTAL'", "'NET,TAX,TOTAL'"},
        {"_#('TAX')", "20"},
        {"_#('total';-1)", "20"},
        {"_#('NOPE')", "0"},
        {"_#('DIM';2)", "30"},
        {"_#('CLS';2)", "0"},
        {"_#(0)+_#(1)", "0"},
        {"_#(2)+_#(3)", "70"},
        {"_#('CLS';4;3)", "0"},
        {"_#(2)+_#(3)", "30"},
        {"_#(256)", "9"},
        {"_#('cls')", "0"},
        {"_#(2)+_#(256)", "0"},
    });
}

TEST_F(FnTextTest, MacroSubstitution) {
    env_set(env::CommandLine, "prog /RUN:menu");
    setenv("QVTEST_MACRO", "from-env", 1);
    check({
        {"MACRO$('a[1+2]b')", "'a3b'"},
        {"MACRO$('[NOPE]')", "'0'"},
        {"MACRO$('x[A]y';4;'A:hello')", "'xHELLOy'"},  // keyword values are normalised
        {"MACRO$(\"x[A]y\";4;\"A:'hello'\")", "'xhelloy'"},
        {"MACRO$('[RUN]';4)", "'MENU'"},
        {"MACRO$('[QVTEST_MACRO]';4)", "'from-env'"},
        {"MACRO$('[NOPE]';4)", "''"},  // looked up, else evaluated with an empty value kept
        {"MACRO$(\"['a']\";4)", "'a'"},
        {"MACRO$('1+[2]';8)", "'3'"},
        {"MACRO$('FN$CHRS(66;[1+1])';8)", "'BB'"},
        {"MACRO$(' [1]+1 ';8)", "'2'"},
        {"MACRO$('[1]+';8)", "error 147"},
        {"MACRO$('';8)", "''"},
        {"MACRO$('[1/0')", "'[1/0'"},
    });
    unsetenv("QVTEST_MACRO");
    // A text that reaches itself again is refused, not followed for ever.
    check({
        {"A$='MACRO$(A$;8)';MACRO$(A$;8)", "error 155"},
        {"B$='[MACRO$(B$)]';MACRO$(B$)", "error 155"},
    });
}

TEST_F(FnTextTest, EnvironmentItems) {
    env_set(env::CommandLine, "prog /APNAME:LEDGER /RUN:'a b'");
    env_set(env::ApName, "CO,Ledger");
    check({
        {"ENVRON$('APNAME')", "'LEDGER'"},
        {"ENVRON$('RUN';1)", "'a b'"},
        {"ENVRON$('NOPE')", "''"},
        {"ENVRON$('';2)", "'CO,Ledger'"},
        {"ENVRON$(0;2)", "'CO,Ledger'"},  // the name is not read for an item of its own
        {"ENVRON$('';-1)", "''"},
        {"ENVRON$('';3000)", "''"},
    });
}

TEST_F(FnTextTest, TimesAndDates) {
    check({
        {"TIME$('13:05:09.123')", "'1305'"},
        {"TIME$('13:05:09.123';1)", "'13:05'"},
        {"TIME$('13:05:09.123';2)", "'130509'"},
        {"TIME$('13:05:09.123';3)", "'13:05:09'"},
        {"TIME$('13:05:09.123';7)", "'13:05:09.123'"},
        {"TIME$('5:7';3)", "'00:05:07'"},  // minutes and seconds
        {"TIME$('1:2:3';3)", "'01:02:03'"},
        {"TIME$(5)", "error 128"},
        {"FN$DATE('20240305';1)", "'03-05-24'"},
        {"FN$DATE(20240305;2)", "'03-05-2024'"},
        {"FN$DATE('03-05-2024';0)", "'20240305'"},
        {"FN$DATE('13/45/2024';1)", "'        '"},  // a wrong date is no date, not today
        {"FN$DATE('20240305';3)", "'Mar 2024'"},
        {"FN$DATE('20240305';4)", "'March 05,2024'"},
        {"FN$DATE('20240305';9)", "''"},
        {"FN$DATE('20241305';1)", "'        '"},  // no month 13
        {"FN#VALN('20240131';'M';1)", "20240229"},
        {"FN#VALN(20240131;'D';5)", "20240205"},
        {"FN#VALN('20240229';'Y';1)", "20250301"},
        {"FN#VALN('20240131';'V')", "20240131"},
        {"FN#VALN('20240131';'V';'20250101')", "0"},
        {"FN#VALN('20240201';'D';'20240301')", "29"},
        {"FN#VALN('20240131';'Y';'20260131')", "2"},
        {"FN#VALN('20240131';'M';'')", "20240131"},  // an empty third argument moves nothing
        {"FN#VALN('20240131';'Q')", "error 147"},
        {"FN#VALN('1234.5')", "1234.5"},
        {"FN#VALN(12.5)", "12.5"},
        {"FN#VALN('  -7x')", "-7"},
        {"FN$MASK('#,##0.00';1234.5)", "'1,234.50'"},
        {"FN$MASK('(\\\\\\) \\\\\\-\\\\\\\\';'5551234567')", "'(555) 123-4567'"},
    });
    std::string now = eval("TIME$()");
    EXPECT_EQ(now.size(), 6u) << now;  // four digits in quotes
    std::string today = eval("FN$DATE()");
    EXPECT_EQ(today.size(), 10u) << today;
}

TEST_F(FnTextTest, TimesAndDatesOfFiles) {
    test::TempDir dir;
    std::string f = dir.put("stamp.txt", "x");
    std::tm tm{};
    tm.tm_year = 2024 - 1900;
    tm.tm_mon = 2;
    tm.tm_mday = 5;
    tm.tm_hour = 13;
    tm.tm_min = 5;
    tm.tm_sec = 9;
    tm.tm_isdst = -1;
    utimbuf times{std::mktime(&tm), std::mktime(&tm)};
    ASSERT_EQ(utime(f.c_str(), &times), 0);
    check({
        {("TIME$('" + f + "';131)").c_str(), "'13:05:09'"},
        {("TIME$('" + f + "';128)").c_str(), "'1305'"},
        {("FN$DATE('" + f + "';128)").c_str(), "'20240305'"},
        {("FN$DATE('" + f + "';129)").c_str(), "'03-05-24'"},
        {("TIME$('" + dir.path + "/none';131)").c_str(), "''"},
        {("FN$DATE('" + dir.path + "/none';128)").c_str(), "''"},
        {"TIME$(1;128)", "error 128"},
    });
}

TEST_F(FnTextTest, ArgumentCountsOutsideTheRange) {
    for (const char* text : {
             "_#()", "_#(1;2;3;4)", "FN#SLEN()", "FN#SLEN('a';'b')", "FN#PARM()", "FN#PARM('a';1;2;3)",
             "FN#VALN()", "FN#VALN('1';'N';1;2)", "FN#ACUM()", "FN#ACUM(1)", "FN#ACUM(1;I;1;2;3)",
             "CHK#()", "CHK$()", "FN$CHNG('a')", "FN$CHNG('a';'b';'c';1;2)", "FN$CHRS()", "FN$CHRS(1;2;3)",
             "FN$DATE(1;2;3)", "FN$MASK('#')", "FN$MASK('#';1;2;3)", "FN$MIDS('a')", "FN$MIDS('a';1;2;3)",
             "FN$PARM()", "FN$PARM('a';1;2;3)", "FN$TRIM()", "FN$TRIM('a';'b';'c')", "ENVELOP$()",
             "ENVELOP$('a';1;2)", "MACRO$()", "MACRO$('a';1;'';4)", "ENVRON$()", "ENVRON$('a';1;2)",
             "TIME$(1;2;3)", "EXP$()",
         })
        EXPECT_EQ(eval(text), "error 147") << text;
}

TEST_F(FnTextTest, NumbersWhereATextIsRequired) {
    for (const char* text : {
             "FN#SLEN(5)", "FN#PARM(123)", "FN#PARM(1;1)", "FN$CHNG(5;'a')", "FN$CHNG('a';5)",
             "FN$CHNG('a';'b';5)", "FN$MIDS(123;1)", "FN$PARM(5;1)", "ENVELOP$(5)", "MACRO$(5)",
             "MACRO$('a';4;5)", "TIME$(5)", "EXP$(5;X)", "FN$MASK(5;1)", "ENVRON$(5)",
         })
        EXPECT_EQ(eval(text), "error 128") << text;
}

}  // namespace
}  // namespace rt
