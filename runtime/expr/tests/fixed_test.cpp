#include "runtime/expr/fixed.h"

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;
class FixedTest : public test::RtTest {};

TEST_F(FixedTest, NumberToText) {
    struct Case {
        Num v;
        int p;
        const char *text, *plain;
    } cases[] = {
        {150, 2, "1.5", "1.5"},     {10000, 2, "100", "100"},   {5, 2, ".05", "0.05"},
        {-5, 2, "-.05", "-0.05"},   {0, 2, "", "0"},            {-300, 2, "-3", "-3"},
        {7, 0, "7", "7"},           {1005, 3, "1.005", "1.005"}, {50, 3, ".05", "0.05"},
        {INT64_MIN, 2, "-92233720368547758.08", "-92233720368547758.08"},
    };
    for (const Case& c : cases) {
        ScratchMark m = scr_mark();
        EXPECT_EQ(str(num_text(c.v, c.p)), c.text) << c.v;
        EXPECT_EQ(str(num_plain(c.v, c.p)), c.plain) << c.v;
        scr_release(m);
    }
}

TEST_F(FixedTest, TextToNumber) {
    struct Case {
        const char* text;
        int p;
        IER st;
        Num want;
    } cases[] = {
        {"12.345", 2, 0, 1235},  {"-12.345", 2, 0, -1235}, {"  7", 2, 0, 700},     {"1D3", 2, 0, 100000},
        {"2.5D1", 0, 0, 25},     {"12abc", 2, 0, 1200},    {".5", 2, 0, 50},       {"", 2, 0, 0},
        {"abc", 2, 0, 0},        {"007.10", 2, 0, 710},    {"0.004", 2, 0, 0},     {"0.005", 2, 0, 1},
        {"12345678901234567", 2, 0, 1234567890123456700}, {"1234567890123456789", 2, ier::SINTAXERROR, 0},
        {"99999999999999999999", 0, ier::EXPCALCERROR, 0},
    };
    for (const Case& c : cases) {
        Num v = -1;
        EXPECT_EQ(num_parse(sr_c(c.text), c.p, &v), c.st) << c.text;
        if (!c.st) EXPECT_EQ(v, c.want) << c.text;
    }
}

TEST_F(FixedTest, RoundingAndOverflow) {
    struct Case {
        long long a, b;
        Num q;
    } div[] = {{7, 2, 4}, {-7, 2, -4}, {7, -2, -4}, {5, 3, 2}, {4, 3, 1}, {100, 3, 33}, {1, 0, 0}, {-1, 2, -1}};
    for (const Case& c : div) {
        Num q = 99;
        EXPECT_EQ(num_div_round(c.a, c.b, &q), 0);
        EXPECT_EQ(q, c.q) << c.a << "/" << c.b;
    }
    Num out = 0;
    EXPECT_EQ(num_div(100, 3, 2, &out), 0);  // 1 / 0.03
    EXPECT_EQ(out, 3333);
    EXPECT_EQ(num_mul(INT64_MAX, 200, 2, &out), ier::EXPCALCERROR);
    EXPECT_EQ(num_div(INT64_MAX, 1, 2, &out), ier::EXPCALCERROR);
    EXPECT_EQ(num_add(INT64_MAX, 1, &out), ier::EXPCALCERROR);
    EXPECT_EQ(num_round_places(314159, 2, 5, &out), 0);
    EXPECT_EQ(out, 314000);
    EXPECT_EQ(num_to_int16(250, 2), 3);
    EXPECT_EQ(num_to_int16(-250, 2), -3);
    EXPECT_EQ(num_to_int16(70, 2), 1);
}

}  // namespace
}  // namespace rt
