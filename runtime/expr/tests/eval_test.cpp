// The evaluator: precedence, numbers, texts, assignment, calls, field
// references, bracket substitution and search conditions.
#include "runtime/expr/eval.h"

#include <string>

#include "runtime/core/env.h"
#include "runtime/core/hooks.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "runtime/core/sysvar.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/func.h"
#include "runtime/expr/vars.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

// Two data files: 1 "clients" (NAME A30, CITY A20, AMOUNT 2 decimals) and
// 2 "notes" (TEXT A10). The record of each is kept here.
struct FakeField {
    const char* name;
    char type;
};
const FakeField kClients[] = {{"NAME", 'A'}, {"CITY", 'A'}, {"AMOUNT", '2'}};
std::string g_rec[3][4];

IER fake_resolve(StrRef file, StrRef field, FieldRef* out) {
    std::string f = str(file), n = str(field);
    int fno = 0;
    if (f.empty()) fno = sysv_get(sysv::CURFIL);
    else if (f[0] < 'A') fno = std::atoi(f.c_str());
    else if (f == "clients") fno = 1;
    else if (f == "notes") fno = 2;
    if (fno < 1 || fno > 2) return ier::FILEOUTBOUND;
    int count = fno == 1 ? 3 : 1;
    int k = 0;
    if (!n.empty() && n[0] < 'A') k = std::atoi(n.c_str());
    else
        for (int i = 0; i < count; i++)
            if (n == (fno == 1 ? kClients[i].name : "TEXT")) k = i + 1;
    if (k < 1 || k > count) return ier::SINTAXERROR;
    *out = FieldRef{fno, k, fno == 1 ? kClients[k - 1].type : 'A'};
    return 0;
}
IER fake_read(const FieldRef& f, StrRef* text) {
    *text = scr_copy(sr(g_rec[f.file][f.field]));
    return 0;
}
IER fake_write(const FieldRef& f, StrRef text) {
    g_rec[f.file][f.field] = str(text);
    return 0;
}
IER fake_names(const FieldRef& f, StrRef* field, StrRef* file) {
    *field = sr_c(f.file == 1 ? kClients[f.field - 1].name : "TEXT");
    *file = sr_c(f.file == 1 ? "clients" : "notes");
    return 0;
}
const FieldPort kFakePort{fake_resolve, fake_read, fake_write, fake_names};

class EvalTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        fnlib_install();
        ex_set_field_port(&kFakePort);
        for (auto& r : g_rec)
            for (auto& f : r) f.clear();
        m_ = scr_mark();
    }
    void TearDown() override {
        scr_release(m_);
        ex_set_field_port(nullptr);
        fn_reset();
        vars_done();
        RtTest::TearDown();
    }
    // The value as rtcli prints it: numbers plainly, texts as they are.
    std::string eval(const std::string& text, IER* st = nullptr) {
        Value v;
        IER s = ex_eval(sr(text), &v);
        if (st) *st = s;
        if (s >= 128) return "error " + std::to_string(s);
        return v.is_text() ? "'" + str(v.text) + "'" : str(num_plain(v.num, num_precis()));
    }
    ScratchMark m_ = 0;
};

struct Case {
    const char* text;
    const char* want;  // a number as printed, a text in quotes, or "error N"
};

TEST_F(EvalTest, NumbersAndPrecedence) {
    for (const Case& c : std::initializer_list<Case>{
             {"1+2*3", "7"},
             {"7/2", "3.5"},
             {"10/0", "0"},
             {"2|1*3", "9"},  // '|' binds tighter than '*'
             {"3.14159!2", "3.14"},
             {"3.145!2", "3.15"},
             {"1234.5!-2", "1200"},
             {"200%15", "30"},
             {"200\xF7" "15", "170"},
             {"-5+2", "-3"},
             {"1+-2", "-1"},
             {"2*-3+1", "-5"},
             {"--4", "4"},
             {"10-4-3", "3"},  // equal precedence groups from the left
             {"24/4/2", "3"},
             {"1/3", "0.33"},
             {"2/3", "0.67"},
             {"-2/3", "-0.67"},
             {"0.05*0.1", "0.01"},
             {"1/0.03", "33.33"},  // rounding on the exact remainder
             {"1D3", "1000"},
             {"1.5D2", "150"},
             {"0.005", "0.01"},
             {"-0.005", "-0.01"},
             {"6&3", "2"},
             {"6|3", "0"},  // a bit in common: 0
             {"4|3", "7"},
             {"4@3", "7"},
             {"1&&0", "0"},
             {"2&&3", "1"},
             {"0||0", "0"},
             {"0||5", "1"},
             {"6@@3", "0"},
             {"4@@3", "1"},
             {"0@@0", "0"},
             {"2>1", "1"},
             {"2<1", "0"},
             {"2>=2", "1"},
             {"2<=1", "0"},
             {"2<>2", "0"},
             {"2==2", "1"},
             {"(1+2)*3", "9"},
             {"((2))", "2"},
             {".next", "16"},
             {".datem", "100"},
             {".nosuch", "0"},
             {"", "0"},
             {"92233720368547758*100", "error 155"},  // never wraps around
             {"92233720368547758+92233720368547758", "error 155"},
             {"123456789012345678901", "error 147"},  // more than 20 digits
         })
        EXPECT_EQ(eval(c.text), c.want) << c.text;
}

TEST_F(EvalTest, TextsAndWildcards) {
    for (const Case& c : std::initializer_list<Case>{
             {"'ab'+'c'", "'abc'"},
             {"'ab'<'abc'", "1"},
             {"'b'>'abc'", "1"},
             {"'ab'-'c'", "error 147"},
             {"'a'*'b'", "error 147"},
             {"'a'+1", "error 128"},
             {"1+'a'", "error 128"},
             {"abc", "0"},               // a bare name is an integer variable
             {"'  Quoted  '", "'  Quoted  '"},  // unquoted: the blanks inside stay
             {"\"it's\"", "'it's'"},
             {"N$='Smith';N$=='SM*'", "1"},
             {"N$=='*MIT*'", "1"},
             {"N$=='*XYZ*'", "0"},
             {"N$=='smith'", "0"},  // without '*' the comparison is exact
             {"_AUXSTAT=128;N$=='SM*'", "0"},
             {"_AUXSTAT=0;.lf$", "'\r\n'"},
             {"X$=.tab$+'x'", "'\tx'"},
         })
        EXPECT_EQ(eval(c.text), c.want) << c.text;
}

TEST_F(EvalTest, AssignmentAndStatements) {
    for (const Case& c : std::initializer_list<Case>{
             {"A=B=5", "5"},
             {"A+B", "10"},
             {"A;B=2;B+1", "3"},
             {"I=0.5;I", "1"},
             {"I=2.5", "2.5"},  // the value of an assignment is the value assigned
             {"I", "3"},
             {"I=-2.5;I", "-3"},
             {"X#=1.25;X#*2", "2.5"},
             {"T$='x';T$=T$+'y';T$", "'xy'"},
             {"T$=1", "error 128"},
             {"X#='a'", "error 128"},
             {"7=5", "error 147"},
             {"A+B=5", "error 147"},
             {"'a'=5", "error 147"},
             {"A=(B=3)+1", "4"},
             {"B", "3"},
             {"A@B", "7"},  // 4 @ 3
         })
        EXPECT_EQ(eval(c.text), c.want) << c.text;
}

TEST_F(EvalTest, SyntaxErrors) {
    for (const Case& c : std::initializer_list<Case>{
             {"A B", "error 147"},
             {"A + B", "0"},
             {"A =1", "1"},
             {"A ", "error 147"},   // trailing blanks
             {" A", "error 147"},
             {"'a b'", "'a b'"},    // blanks inside quotes stay
             {"(1+2", "error 129"},
             {"1+2)", "error 129"},
             {"1+", "error 147"},
             {"1:2", "error 147"},
             {"1=>2", "error 147"},
             {"F(1)(2)", "error 147"},
             {"-'a'", "error 147"},
         })
        EXPECT_EQ(eval(c.text), c.want) << c.text;
}

TEST_F(EvalTest, ErrorsRecordTheirOriginAndText) {
    err_origin(2, 0, 0);
    err_detail_clear();
    IER st = 0;
    eval("X=1;'a'-'b';Y=2", &st);
    EXPECT_EQ(st, ier::SINTAXERROR);
    IER ost;
    int module;
    err_origin_get(&ost, &module);
    EXPECT_EQ(ost, ier::SINTAXERROR);
    EXPECT_EQ(module, mod::ExpExec);
    EXPECT_EQ(str(err_detail_get()), "'a'-'b';Y=2") << "the text from the failing expression on";
    EXPECT_EQ(eval("Y"), "0") << "nothing after the error ran";
    Value v;
    EXPECT_EQ(ex_eval(sr(""), &v), ier::NullExpression);
}

TEST_F(EvalTest, PrecisionChanges) {
    for (const Case& c : std::initializer_list<Case>{
             {"X#=1.23", "1.23"},
             {"_PRECIS=3;X#", "0.123"},  // stored values are not rescaled
             {"1/3", "0.333"},
             {"N=7;N/2", "3.5"},
             {"_PRECIS=0;7/2", "4"},
             {"_PRECIS=2;1/8", "0.13"},
         })
        EXPECT_EQ(eval(c.text), c.want) << c.text;
}

TEST_F(EvalTest, ArraysThroughExpressions) {
    Value init = Value::number(0);
    int sizes[2] = {3, 2};
    ASSERT_EQ(var_array_make(sr("M("), sizes, 2, init), 0);
    for (const Case& c : std::initializer_list<Case>{
             {"M(1;2)=7", "7"},
             {"M(1,2)+1", "8"},
             {"M(3;2)", "0"},
             {"M(4;0)", "error 168"},
             {"M(0-1;0)", "error 168"},
             {"Q(2)=1", "error 149"},  // writing to an array that does not exist
             {"Q(2)", "0"},            // reading makes it
             {"Q(2)=1;Q(2)", "1"},
             {"M(1;2;3;4;5)", "error 149"},
         })
        EXPECT_EQ(eval(c.text), c.want) << c.text;
}

TEST_F(EvalTest, FieldReferences) {
    g_rec[1][1] = "Smith";
    g_rec[1][3] = "12.50";
    sysv_set(sysv::CURFIL, 1);
    for (const Case& c : std::initializer_list<Case>{
             {"NAME{clients}", "'Smith'"},
             {"NAME{1}+'!'", "'Smith!'"},
             {"1{1}", "'Smith'"},
             {"AMOUNT{clients}*2", "25"},  // a numeric field reads as a number
             {"AMOUNT{}>'10'", "1"},       // and a text beside it is read as one
             {"CITY{}='Leeds'", "'Leeds'"},
             {"AMOUNT{1}=3.5", "3.5"},
             {"NAME{9}", "error 161"},
             {"NAME{nosuch}", "error 161"},
             {"NOSUCH{1}", "error 147"},
             {"0{1}", "error 147"},
             {"NAME{1}x", "error 147"},
         })
        EXPECT_EQ(eval(c.text), c.want) << c.text;
    EXPECT_EQ(g_rec[1][2], "Leeds");
    EXPECT_EQ(g_rec[1][3], "3.5");
    err_detail_clear();
    eval("NOSUCH{1}");
    EXPECT_NE(str(err_detail_get()).find("Field:NOSUCH{1}"), std::string::npos);
    ex_set_field_port(nullptr);
    EXPECT_EQ(eval("NAME{1}"), "error 161") << "without the record layer no file exists";
}

int g_pushed = 0;
IER fake_sum(const FnCall& c, Value* r) {
    g_pushed = st_count(grp::StkArgs);
    Num total = 0;
    for (int i = 0; i < c.argc; i++) total += fn_arg_num(c, i);
    *r = Value::number(total);
    return 0;
}
IER fake_join(const FnCall& c, Value* r) {
    ScratchMark m = scr_mark();
    std::string all;
    for (int i = 0; i < c.argc; i++) all += (fn_arg_is_text(c, i) ? "t:" : "n:") + str(fn_arg_text(c, i)) + "|";
    scr_release(m);
    *r = Value::of_text(scr_copy(sr(all)));
    return 0;
}
IER fake_raw(const FnCall& c, Value* r) {
    *r = Value::of_text(scr_copy(c.raw));
    return 0;
}
StrRef fake_grid(StrRef name, int index) {
    return scr_copy(sr(str(name) + "@" + std::to_string(index)));
}

TEST_F(EvalTest, CallsOfFunctionsAndHooks) {
    ASSERT_EQ(fn_register(sr("SUM#"), fake_sum), 0);
    ASSERT_EQ(fn_register(sr("JOIN$"), fake_join), 0);
    ASSERT_EQ(fn_register(sr("RAW$"), fake_raw, FnArgs::Raw), 0);
    for (const Case& c : std::initializer_list<Case>{
             {"SUM#(1;2,3)+1", "7"},
             {"sum#(1)", "1"},  // names are also found in upper case
             {"SUM#(SUM#(1;1);SUM#(2);0)", "4"},
             {"JOIN$('a';1+1;;X$)", "'t:a|n:2|t:|t:|'"},  // an empty argument is an empty text
             {"RAW$(1+ 2;'x')", "'1+2;'x''"},
             {"SUM#()", "0"},
         })
        EXPECT_EQ(eval(c.text), c.want) << c.text;
    eval("SUM#(SUM#(1;1);SUM#(2;3;4))");
    EXPECT_EQ(g_pushed, 2) << "each call sees only its own arguments on the stack";
    EXPECT_EQ(st_count(grp::StkArgs), 0) << "the stack is cut back after every call";
    // An extension number without a function, and the 17th extension.
    for (int i = 0; i < kFnExtLast - kFnExtFirst - 2; i++)
        ASSERT_EQ(fn_register(sr("F" + std::to_string(i) + "#"), fake_sum), 0) << i;
    EXPECT_EQ(fn_register(sr("ONEMORE#"), fake_sum), ier::DATAOUTBOUND);
    // "_" names that are no function go to hook slot 2.
    EXPECT_EQ(eval("_GRID3(5)"), "0") << "without the slot: an array element";
    hk_register_as(fake_grid, hook::LineColumn);
    EXPECT_EQ(eval("_GRID3$(5)"), "'_GRID3$@5'");
    hk_register(nullptr, hook::LineColumn);
}

TEST_F(EvalTest, FunctionsOfThisBuild) {
    env_set(env::LangModule, "EN");
    for (const Case& c : std::initializer_list<Case>{
             {"FN$DATE('03/04/2024')", "'20240304'"},
             {"FN$DATE('20240305';4)", "'March 05,2024'"},
             {"FN$TRIM(0)", "''"},
             {"FN$TRIM(0.05)", "'.05'"},
             {"FN$TRIM('  x  ';'LEFTTRIM')", "'x  '"},
             {"FN$TRIM('ab';'FIT')", "'AB'"},
             {"FN$TRIM('ab';'NONE')", "error 147"},
             {"FN#VALN('20240131';'M';1)", "20240229"},
             {"FN#VALN('20240201';'D';'20240301')", "29"},
             {"FN#VALN('1234.5')", "1234.5"},
             {"FN$MASK('(\\\\\\) \\\\\\-\\\\\\\\';'5551234567')", "'(555) 123-4567'"},
         })
        EXPECT_EQ(eval(c.text), c.want) << c.text;
}

TEST_F(EvalTest, DeepNestingIsRefusedNotCrashed) {
    std::string deep(5000, '(');
    deep += "1" + std::string(5000, ')');
    EXPECT_EQ(eval(deep), "error 155");
    std::string signs(5000, '-');
    EXPECT_EQ(eval(signs + "1"), "error 155");
    EXPECT_EQ(eval("((((1))))"), "1");
}

TEST_F(EvalTest, Conditions) {
    EXPECT_EQ(ex_cond(sr("")), 1);
    EXPECT_EQ(ex_cond(sr("2>1")), 1);
    EXPECT_EQ(ex_cond(sr("0")), 0);
    EXPECT_EQ(ex_cond(sr("'yes'")), 0) << "a text is false";
    EXPECT_EQ(ex_cond(sr("(1")), ier::LoopFailure);
    EXPECT_EQ(ex_effect(sr("A=1;")), 0);
    EXPECT_EQ(ex_int(sr("7/2")), 4);
    EXPECT_EQ(ex_num(sr("7/2")), 350);
    EXPECT_EQ(str(ex_text(sr("1/2"))), ".5");
}

TEST_F(EvalTest, BracketSubstitution) {
    eval("X$='abc';N=4;B$='[N]'");
    struct BCase {
        const char* text;
        int flags;
        const char* want;
    } cases[] = {
        {"Create New,[1+2]", 0, "Create New,3"},
        {"[X$] and [N*2]", 0, "abc and 8"},
        {"[0]", 0, "0"},
        {"[0]", brk::EmptyStays, ""},
        {"['  a  ']x", 0, "ax"},
        {"[' a ']x", brk::NoTrim, " a x"},
        {"v=[X$]", brk::Quote, "v='abc'"},
        {"v=[X$]", brk::Quote | brk::DoubleQuote, "v=\"abc\""},
        {"[[1]+1]", 0, "2"},  // the innermost pair first
        {"[B$]", 0, "[N]"},
        {"[B$]", brk::Rescan, "4"},
        {"\\{[N]\\}", brk::Escapes, "[4]"},
        {"no brackets", 0, "no brackets"},
        {"[%APNAME%]", 0, "%APNAME%"},
        {"'[N]'", 0, "'[N]'"},      // quoted brackets are left alone
        {"'[N]'", brk::Plain, "'4'"},
    };
    for (const BCase& c : cases) EXPECT_EQ(str(ex_brackets(sr_c(c.text), c.flags)), c.want) << c.text;
    EXPECT_EQ(sr_status(ex_brackets(sr("[1+]"))), ier::SINTAXERROR);
    EXPECT_EQ(str(ex_brackets(sr("[CITY]"), brk::Lookup, sr("/CITY:'Leeds' /X:1"))), "Leeds");
    // A value that rebuilds its own brackets cannot make the substitution
    // run for ever.
    eval("L$='[L$]'");
    EXPECT_EQ(sr_status(ex_brackets(sr("[L$]"), brk::Rescan)), ier::LoopFailure);
}

TEST_F(EvalTest, SearchConditionsQuoteTheirValues) {
    struct SCase {
        const char *fields, *low, *high, *want;
    } cases[] = {
        {"NAME{1}", "Smith", "", "NAME{clients}=='Smith'"},
        {"NAME{1},CITY{1}", "Sm", "", "NAME{clients}=='Sm'||CITY{clients}=='Sm'"},
        {"NAME{1}", "A", "M", "(NAME{clients}>='A'&&NAME{clients}<='M')"},
        {"NAME{1}", "M", "A", "NAME{clients}=='M'"},
        {"NAME{1}", "O'Brien", "", "NAME{clients}==\"O'Brien\""},
        {"AMOUNT{1}", "12.5", "", "AMOUNT{clients}==12.5"},
        {"AMOUNT{1}", "1);X=5", "", "AMOUNT{clients}==1"},  // a number field takes only a number
        {"BAD{1},NAME{1}", "x", "", "NAME{clients}=='x'"},
        {"NAME{1}", "", "", ""},
    };
    for (const SCase& c : cases)
        EXPECT_EQ(str(ex_search_cond(sr_c(c.fields), sr_c(c.low), sr_c(c.high))), c.want) << c.fields << " " << c.low;
    EXPECT_EQ(sr_status(ex_search_cond(sr("NAME{1}"), sr("it's \"x\""), sr_empty())), ier::BADINPUTDATA)
        << "a value with both quotes cannot be written safely";
    // What it writes evaluates as a condition over the record.
    g_rec[1][1] = "O'Brien";
    EXPECT_EQ(ex_cond(ex_search_cond(sr("NAME{1}"), sr("O'Brien"), sr_empty())), 1);
}

}  // namespace
}  // namespace rt
