#include <functional>
#include <string>
#include <vector>

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using namespace std::string_literals;
using test::str;

class StrTest : public test::RtTest {};

constexpr uint16_t NF = kNotFound;

TEST_F(StrTest, NormaliseTrimsUnquotesOrUpcases) {
    struct Case { std::string in, out; } cases[] = {
        {"abc", "ABC"},
        {" abc", "abc"},        // trimmed: case kept
        {"'Abc'", "Abc"},       // quoted: case kept
        {"\"a b\"", "a b"},
        {"  'x Y'\t", "x Y"},
        {"'ab", "'AB"},         // an unclosed quote is no quote
        {"'a\"", "'A\""},       // nor a pair of different quotes
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(str(str_normalize(sr(c.in))), c.out) << c.in;
}

TEST_F(StrTest, NumberOfReadsYesWordsAndLeadingDigits) {
    struct Case { std::string in; int out; } cases[] = {
        {"si", 1}, {"YES", 1}, {"on", 1}, {"Y", 1}, {"s", 1},
        {"12x", 12}, {"x", 0}, {"", 0}, {"  -7", -7}, {"+3", 3},
        {"no", 0}, {"yes ", 0},      // not trimmed, so not a yes-word
        {"70000", 4464},             // kept to 16 bits
        {"99999999999999999999999", -1},  // no overflow trap: saturates, then 16 bits
    };
    for (const auto& c : cases) EXPECT_EQ(str_number(sr(c.in)), c.out) << c.in;
}

TEST_F(StrTest, SubstringClampsAndCountsFromTheEnd) {
    struct Case { int start, len; std::string out; } cases[] = {
        {2, 3, "cde"}, {1, 100, "bcdef"}, {0, -1, "abcdef"}, {10, 2, ""},
        {6, 1, ""}, {-2, -1, "ef"}, {-2, 1, "ef"},  // a negative start takes the rest
        {-10, -1, "abcdef"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(str(str_sub(sr("abcdef"), c.start, c.len)), c.out) << c.start << "," << c.len;
}

TEST_F(StrTest, TrimAndUnquote) {
    EXPECT_EQ(str(str_trim(sr(" \tab \t"))), "ab");
    EXPECT_EQ(str(str_trim(sr("  ab  "), 1)), "ab  ");
    EXPECT_EQ(str(str_trim(sr("  ab  "), 2)), "  ab");
    EXPECT_EQ(str(str_trim(sr("xxabyx"), 3, "xy")), "ab");
    EXPECT_EQ(str(str_trim(sr("   "))), "");

    struct Case { std::string in, out; } cases[] = {
        {"'a'", "a"}, {"\"a\"", "a"}, {"''", ""}, {"'", "'"}, {"'a\"", "'a\""}, {"a'", "a'"},
    };
    for (const auto& c : cases) EXPECT_EQ(str(str_unquote(sr(c.in))), c.out) << c.in;
}

TEST_F(StrTest, FindCharSkipsQuotedPartsWhenAsked) {
    struct Case { std::string s; char c; size_t from; bool qa; uint16_t pos; } cases[] = {
        {"a,'b,c',d", ',', 0, true, 1},
        {"a,'b,c',d", ',', 2, true, 7},
        {"a,'b,c',d", ',', 2, false, 4},
        {"'a,b", ',', 0, true, NF},       // an unclosed quote hides the rest
        {"\"it's\",x", ',', 0, true, 6},  // the other quote has no effect inside
        {"a'b", '\'', 0, true, NF},       // a quote is never found quote-aware
        {"a'b", '\'', 0, false, 1},
        {"'a\0b'"s, '\0', 0, true, 2},     // NUL is searched plainly
        {"abc", 'c', 3, false, NF},
        {"abc", 'z', 0, false, NF},
    };
    for (const auto& c : cases)
        EXPECT_EQ(str_find_char(sr(c.s), c.c, c.from, c.qa), c.pos) << c.s << " from " << c.from;
}

TEST_F(StrTest, FindTextFindAnyFindLastAndCount) {
    EXPECT_EQ(str_find_text(sr("x'ab'ab"), sr("ab"), true), 5);
    EXPECT_EQ(str_find_text(sr("x'ab'ab"), sr("ab"), false), 2);
    EXPECT_EQ(str_find_text(sr("abab"), sr("ab"), false, 1), 2);
    EXPECT_EQ(str_find_text(sr("ab"), sr("abc")), NF);
    EXPECT_EQ(str_find_text(sr("aab"), sr("ab")), 1);
    EXPECT_EQ(str_find_text(sr("xa"), sr("ab")), NF);

    EXPECT_EQ(str_find_any(sr("abc;d,e"), ",;"), 3);
    EXPECT_EQ(str_find_any(sr("abc;d,e"), ",;", 4), 5);
    EXPECT_EQ(str_find_any(sr("abc"), ",;"), NF);

    struct Last { std::string s, t; int mode; uint16_t pos; } last[] = {
        {"a.b/c.d", "./", 0, 5}, {"a.b/c.d", "/", 1, 3}, {"abcabc", "bc", 2, 4},
        {"abc", "x", 1, NF}, {"abc", "", 1, NF}, {"ab", "abc", 2, NF}, {"abc", "a", 7, NF},
    };
    for (const auto& c : last) EXPECT_EQ(str_find_last(sr(c.s), sr(c.t), c.mode), c.pos) << c.s;

    EXPECT_EQ(str_count(sr("aaaa"), sr("aa")), 2);  // non-overlapping
    EXPECT_EQ(str_count(sr("a,b,c"), sr(",")), 2);
    EXPECT_EQ(str_count(sr("abc"), sr("")), 0);
}

TEST_F(StrTest, ReplaceAllIsQuoteAwareUnlessPlain) {
    struct Case { std::string s, t, r; bool plain; std::string out; } cases[] = {
        {"a,b,c", ",", ";", false, "a;b;c"},
        {"a,'b,c',d", ",", ";", false, "a;'b,c';d"},
        {"a,'b,c',d", ",", ";", true, "a;'b;c';d"},
        {"it's 'x'", "'", "\"", false, "it\"s \"x\""},  // a lone quote is replaced everywhere
        {"aaa", "aa", "b", false, "ba"},
        {"abc", "", "x", false, "abc"},
        {"abab", "ab", "", false, ""},
        {"abc", "abcd", "x", false, "abc"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(str(str_replace(sr(c.s), sr(c.t), sr(c.r), c.plain)), c.out) << c.s;
}

TEST_F(StrTest, ReplaceThatWouldOverflowFailsAndRecordsItsOrigin) {
    err_origin(2, 0, 0);
    std::string big(40000, 'a');
    StrRef r = str_replace(sr(big), sr("a"), sr("aa"));
    EXPECT_EQ(sr_status(r), ier::STRINGTOOLONG);
    IER st = 0;
    int module = 0;
    err_origin_get(&st, &module);
    EXPECT_EQ(st, ier::STRINGTOOLONG);
    EXPECT_EQ(module, mod::STRCONCAT);
    err_origin(2, 0, 0);
}

TEST_F(StrTest, TextsBeyondTheLengthLimitAreRefused) {
    std::string a(40000, 'a'), b(30000, 'b');
    std::string max(65535, 'm');
    struct Case { const char* what; std::function<StrRef()> op; } cases[] = {
        {"concat", [&] { return str_concat(sr(a), sr(b)); }},
        {"join", [&] { return str_join(sr(a), sr(","), sr(b)); }},
        {"assign", [&] { return str_assign_text(sr(a), sr(b)); }},
        {"repeat", [&] { return str_repeat(sr(a), 2); }},
        {"repeat many", [&] { return str_repeat(sr("ab"), 1 << 30); }},
        {"wrap", [&] { return str_wrap(sr(max), '('); }},
        {"quote", [&] { return str_quote(sr(max)); }},
        {"pad", [&] { return str_num_pad(1, 70000, ' '); }},
    };
    for (const auto& c : cases) EXPECT_EQ(sr_status(c.op()), ier::STRINGTOOLONG) << c.what;
    // At the limit itself the text is fine.
    EXPECT_EQ(str_concat(sr(max.substr(1)), sr("x")).n, 65535);
}

TEST_F(StrTest, BuildingOperations) {
    struct Case { const char* what; std::function<StrRef()> op; std::string out; } cases[] = {
        {"concat", [] { return str_concat(sr("ab"), sr("cd")); }, "abcd"},
        {"join", [] { return str_join(sr("a"), sr(", "), sr("b")); }, "a, b"},
        {"join empty right", [] { return str_join(sr("a"), sr(","), sr("")); }, "a"},
        {"join empty left", [] { return str_join(sr(""), sr(","), sr("b")); }, "b"},
        {"assign", [] { return str_assign_text(sr("X$"), sr("'a'")); }, "X$='a'"},
        {"upper", [] { return str_upper(sr("aBc1\xe9")); }, "ABC1\xe9"},
        {"lower", [] { return str_lower(sr("AbC1\xc9")); }, "abc1\xc9"},
        {"overwrite", [] { return str_overwrite(sr("abcdef"), 4, sr("XYZ")); }, "abcdXY"},
        {"overwrite from end", [] { return str_overwrite(sr("abcdef"), -2, sr("Z")); }, "abcdZf"},
        {"overwrite beyond", [] { return str_overwrite(sr("abc"), 5, sr("Z")); }, "abc"},
        {"keep", [] { return str_keep(sr("a1b2c3"), "0123456789"); }, "123"},
        {"translate", [] { return str_translate(sr("a.b,c"), ".,", ",."); }, "a,b.c"},
        {"translate short to", [] { return str_translate(sr("abc"), "abc", "X"); }, "Xbc"},
        {"collapse", [] { return str_collapse(sr("  a   b "), ' '); }, " a b "},
        {"repeat", [] { return str_repeat(sr("ab"), 3); }, "ababab"},
        {"repeat none", [] { return str_repeat(sr("ab"), 0); }, ""},
        {"wrap paren", [] { return str_wrap(sr("s"), '('); }, "(s)"},
        {"wrap angle", [] { return str_wrap(sr("s"), '<'); }, "<s>"},
        {"wrap other", [] { return str_wrap(sr("s"), '|'); }, "|s|"},
        {"quote", [] { return str_quote(sr("ab")); }, "'ab'"},
        {"quote other", [] { return str_quote(sr("it's")); }, "\"it's\""},
        {"quote double", [] { return str_quote(sr("say \"x\""), '"'); }, "'say \"x\"'"},
        {"num", [] { return str_num(-32768); }, "-32768"},
        {"num zero", [] { return str_num(0); }, "0"},
        {"pad", [] { return str_num_pad(42, 5, ' '); }, "   42"},
        {"pad zero negative", [] { return str_num_pad(-5, 4, '0'); }, "-005"},
        {"pad blank negative", [] { return str_num_pad(-5, 4, ' '); }, "  -5"},
        {"pad narrow", [] { return str_num_pad(123456, 3, ' '); }, "123456"},
    };
    for (const auto& c : cases) {
        ScratchMark m = scr_mark();
        StrRef r = c.op();
        EXPECT_TRUE(sr_ok(r)) << c.what;
        EXPECT_EQ(str(r), c.out) << c.what;
        // The result is the one scratch string left behind.
        EXPECT_EQ(scr_mark(), m + 1) << c.what;
        scr_release(m);
    }
}

TEST_F(StrTest, QuoteRefusesTextWithBothQuotes) {
    EXPECT_EQ(sr_status(str_quote(sr("it's \"x\""))), ier::BADINPUTDATA);
}

TEST_F(StrTest, EnclosedTextBalancesBrackets) {
    struct Case { std::string s; char c; bool qa; std::string out; } cases[] = {
        {"f(a(b)c)d", '(', false, "a(b)c"},
        {"x[a]y[b]", '[', false, "a"},
        {"{a{b}{c}}", '{', false, "a{b}{c}"},
        {"f(a(b)", '(', false, ""},  // never balances
        {"f(a", '(', false, ""},
        {"abc", '(', false, ""},
        {"|ab|c|", '|', false, "ab"},
        {"x'ab'c", '\'', true, "ab"},
        {"f(')')x)", '(', false, "'"},
        {"f(')')x)", '(', true, "')'"},
        {"f('(')", '(', true, "'('"},
    };
    for (const auto& c : cases) EXPECT_EQ(str(str_enclosed(sr(c.s), c.c, c.qa)), c.out) << c.s;
}

TEST_F(StrTest, CompareIsBytewiseUnsigned) {
    struct Case { std::string a, b; int out; } cases[] = {
        {"ab", "abc", -1}, {"b", "abc", 1}, {"abc", "abc", 0}, {"", "", 0},
        {"", "a", -1}, {"\xe9", "a", 1}, {"a\0b"s, "a\0c"s, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(str_compare(sr(c.a), sr(c.b)), c.out) << c.a << " vs " << c.b;

    struct Op { int op; bool lt, eq, gt; } ops[] = {
        {1, false, true, false}, {2, false, false, true}, {3, false, true, true},
        {4, true, false, false}, {5, true, true, false}, {0, false, false, false}, {6, false, false, false},
    };
    for (const auto& o : ops) {
        EXPECT_EQ(str_compare_op(sr("a"), sr("b"), o.op), o.lt) << o.op;
        EXPECT_EQ(str_compare_op(sr("a"), sr("a"), o.op), o.eq) << o.op;
        EXPECT_EQ(str_compare_op(sr("b"), sr("a"), o.op), o.gt) << o.op;
    }
}

TEST_F(StrTest, AllOfSet) {
    EXPECT_TRUE(str_all_of(sr("123"), "0123456789"));
    EXPECT_FALSE(str_all_of(sr("12a"), "0123456789"));
    EXPECT_TRUE(str_all_of(sr(""), "0"));
}

TEST_F(StrTest, RangesHoldTheirBounds) {
    struct Case { std::string range; long long v; bool in; } cases[] = {
        {"10-20", 10, true}, {"10-20", 20, true}, {"10-20", 15, true}, {"10-20", 9, false},
        {"10-20", 21, false}, {"5", 5, true}, {"5", 6, false}, {"", 0, false},
        {" 1 - 3 ", 2, true}, {"1-9999999999", 5000000000LL, true},
    };
    for (const auto& c : cases) EXPECT_EQ(str_in_range(sr(c.range), c.v), c.in) << c.range << " " << c.v;

    EXPECT_EQ(str_find_range(sr("1-5,10-20,30"), 30), 3);
    EXPECT_EQ(str_find_range(sr("1-5,10-20,30"), 12), 2);
    EXPECT_EQ(str_find_range(sr("1-5,10-20,30"), 7), 0);
    EXPECT_EQ(str_find_range(sr(""), 0), 0);
}

TEST_F(StrTest, KeywordValue) {
    const std::string nul = "A:1\0B:'x y'\0xC:3"s;
    struct Case { std::string text, name; int mode; bool found; std::string out; } cases[] = {
        {"/APNAME:co /X:1", "APNAME", 3, true, "CO"},
        {"/APNAME:co /X:1", "APNAME", 0, true, "co"},
        {"/APNAME:co /X:1", "X", 3, true, "1"},
        {"APNAME:co", "APNAME", 3, true, "CO"},                    // at the start
        {"/APNAME='Co x' /X:1", "APNAME", 3, true, "Co x"},        // "=" when ":" is absent
        {"/APNAME='Co x' /X:1", "APNAME", 1, true, "Co x"},
        {"/APNAME='Co x' /X:1", "APNAME", 0, true, "'Co x'"},
        {"/A=1 /A:2", "A", 0, true, "2"},                          // ":" is preferred
        {"/XAPNAME:1 /APNAME:2", "APNAME", 0, true, "2"},          // not inside a word
        {"a&B:1", "B", 0, true, "1"},
        {"/DPATH:'C:\\a/b c' /X", "DPATH", 3, true, "C:\\a/b c"},  // stops inside quotes do not end it
        {"/V:a&b", "V", 0, true, "a"},
        {"/A:'x /APNAME:1'", "APNAME", 0, false, ""},              // inside a quoted part
        {"/HELP: /X:1", "HELP", 3, true, ""},                      // present with an empty value
        {"/HELP", "HELP", 3, false, ""},
        {"/X:1", "APNAME", 3, false, ""},
        {"/apname:x", "APNAME", 3, false, ""},                     // names are compared exactly
        {nul, "B", 4 | 1, true, "x y"},
        {nul, "A", 4, true, "1"},
        {nul, "C", 4, false, ""},                                  // not after a NUL
        {"/A:1 B:2", "B", 4, false, ""},
    };
    for (const auto& c : cases) {
        bool found = !c.found;
        StrRef v = str_keyword(sr(c.text), sr(c.name), c.mode, &found);
        EXPECT_EQ(str(v), c.out) << c.text << " / " << c.name;
        EXPECT_EQ(found, c.found) << c.text << " / " << c.name;
    }
}

TEST_F(StrTest, ErrorValuesPassThrough) {
    const StrRef e = sr_err(ier::OUTOFMEMORY);
    const StrRef ok = sr("a,b");
    struct Case { const char* what; std::function<StrRef()> op; } cases[] = {
        {"concat left", [&] { return str_concat(e, ok); }},
        {"concat right", [&] { return str_concat(ok, e); }},
        {"join", [&] { return str_join(ok, ok, e); }},
        {"assign", [&] { return str_assign_text(e, ok); }},
        {"sub", [&] { return str_sub(e, 1, 1); }},
        {"upper", [&] { return str_upper(e); }},
        {"lower", [&] { return str_lower(e); }},
        {"trim", [&] { return str_trim(e); }},
        {"unquote", [&] { return str_unquote(e); }},
        {"normalise", [&] { return str_normalize(e); }},
        {"replace", [&] { return str_replace(e, ok, ok); }},
        {"replace with", [&] { return str_replace(ok, sr(","), e); }},
        {"overwrite", [&] { return str_overwrite(e, 0, ok); }},
        {"keep", [&] { return str_keep(e, "a"); }},
        {"translate", [&] { return str_translate(e, "a", "b"); }},
        {"collapse", [&] { return str_collapse(e, ' '); }},
        {"repeat", [&] { return str_repeat(e, 2); }},
        {"wrap", [&] { return str_wrap(e, '('); }},
        {"enclosed", [&] { return str_enclosed(e, '('); }},
        {"quote", [&] { return str_quote(e); }},
        {"keyword", [&] { return str_keyword(e, ok, 3); }},
    };
    for (const auto& c : cases) {
        ScratchMark m = scr_mark();
        EXPECT_EQ(sr_status(c.op()), ier::OUTOFMEMORY) << c.what;
        EXPECT_EQ(scr_mark(), m) << c.what << " left scratch behind";
    }
    EXPECT_EQ(str_find_char(e, 'a'), NF);
    EXPECT_EQ(str_find_text(ok, e), NF);
    EXPECT_EQ(str_number(e), 0);
    EXPECT_EQ(str_count(e, ok), 0);
    EXPECT_FALSE(str_in_range(e, 0));
    EXPECT_EQ(sr_status(sr_c(nullptr)), ier::BADINPUTDATA);
    EXPECT_EQ(sr_status(str_concat(sr_c(nullptr), ok)), ier::BADINPUTDATA);
}

TEST_F(StrTest, YesWordsAndPartners) {
    for (const char* w : {"yes", "SI", "y", "S", "On"}) EXPECT_TRUE(is_yes_word(sr(w))) << w;
    for (const char* w : {"", "no", "ye", "YESS", "O", "Y,S"}) EXPECT_FALSE(is_yes_word(sr(w))) << w;
    const std::string pairs = "[](){}<>";
    for (size_t i = 0; i < pairs.size(); i += 2) EXPECT_EQ(partner_of(pairs[i]), pairs[i + 1]);
    EXPECT_EQ(partner_of(')'), ')');
    EXPECT_EQ(partner_of('|'), '|');
}

}  // namespace
}  // namespace rt
