#include <functional>
#include <string>
#include <vector>

#include "runtime/core/list.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/str.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using namespace std::string_literals;
using test::str;

class ListTest : public test::RtTest {};

TEST_F(ListTest, FieldCount) {
    struct Case { std::string list; char sep; int count; } cases[] = {
        {"", ',', 0},
        {",", ',', 2},
        {"a,b,", ',', 3},
        {"a", ',', 1},
        {"a,'b,c',d", ',', 3},
        {"a,\"b,c\",d", ',', 3},
        {"a,\"it's\",d", ',', 3},  // the other quote means nothing inside
        {"a,'b,c", ',', 2},        // an unclosed quote hides the rest
        {"a;b,c", ';', 2},
        {"a\0'b\0c"s, '\0', 3},   // NUL splits plainly
        {"a'b'c", '\'', 3},        // so does a quote used as the separator
    };
    for (const auto& c : cases) EXPECT_EQ(lst_count(sr(c.list), c.sep), c.count) << c.list;
}

TEST_F(ListTest, FieldReadsOneFieldWithItsQuotes) {
    struct Case { std::string list; int n; std::string out; } cases[] = {
        {"a,'b,c',d", 3, "d"},
        {"a,'b,c',d", 2, "'b,c'"},
        {"a,'b,c',d", 1, "a"},
        {"a,'b,c',d", 4, ""},
        {"a,'b,c',d", 0, ""},
        {"a,'b,c',d", -1, ""},
        {"a,,b", 2, ""},
        {"a,b,", 3, ""},
        {"", 1, ""},
        {" a , b ", 2, " b "},  // no trimming
    };
    for (const auto& c : cases) EXPECT_EQ(str(lst_field(sr(c.list), c.n)), c.out) << c.list << " #" << c.n;
    EXPECT_EQ(str(lst_field(sr("x\0y,z"s), 2, '\0')), "y,z");
}

TEST_F(ListTest, NumericFieldIsNormalisedFirst) {
    struct Case { int n; int out; } cases[] = {{1, 0}, {2, 12}, {3, 1}, {4, 1}, {5, -3}, {6, 0}};
    const StrRef list = sr("x, 12 ,'si',ON,-3x");
    for (const auto& c : cases) {
        ScratchMark m = scr_mark();
        EXPECT_EQ(lst_num(list, c.n), c.out) << c.n;
        EXPECT_EQ(scr_mark(), m);
    }
}

TEST_F(ListTest, PositionIsAnExactMatch) {
    struct Case { std::string list, value; int pos; } cases[] = {
        {"a,b,b", "b", 2},
        {"a,b,b", "B", 0},
        {"ab,a", "a", 2},
        {"a, b", "b", 0},
        {"a,,b", "", 2},
        {"", "", 0},
        {"a,'b,c'", "'b,c'", 2},
        {"a,'b,c'", "c'", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(lst_pos(sr(c.list), sr(c.value)), c.pos) << c.list << " / " << c.value;
    EXPECT_EQ(lst_pos("NEW,TOP,PRV,RLD,NXT", "NXT"), 5);
}

TEST_F(ListTest, SetDeleteUnionDifference) {
    struct Case { const char* what; std::function<StrRef()> op; std::string out; } cases[] = {
        {"set beyond", [] { return lst_set(sr("a,b"), 5, sr("x")); }, "a,b,,,x"},
        {"set 0 on empty", [] { return lst_set(sr(""), 0, sr("x")); }, "x"},
        {"set 0 appends", [] { return lst_set(sr("a,b"), 0, sr("c")); }, "a,b,c"},
        {"set inside", [] { return lst_set(sr("a,b,c"), 2, sr("X")); }, "a,X,c"},
        {"set first", [] { return lst_set(sr("a,b,c"), 1, sr("")); }, ",b,c"},
        {"set last", [] { return lst_set(sr("a,b,"), 3, sr("z")); }, "a,b,z"},
        {"set beyond empty", [] { return lst_set(sr(""), 3, sr("x")); }, ",,x"},
        {"set after quotes", [] { return lst_set(sr("a,'b,c',d"), 3, sr("z")); }, "a,'b,c',z"},
        {"set other sep", [] { return lst_set(sr("a;b"), 3, sr("c"), ';'); }, "a;b;c"},
        {"set negative", [] { return lst_set(sr("a,b"), -1, sr("c")); }, "a,b"},
        {"del first", [] { return lst_del(sr("a,b,c"), 1); }, "b,c"},
        {"del middle", [] { return lst_del(sr("a,b,c"), 2); }, "a,c"},
        {"del last", [] { return lst_del(sr("a,b,c"), 3); }, "a,b"},
        {"del only", [] { return lst_del(sr("a"), 1); }, ""},
        {"del beyond", [] { return lst_del(sr("a,b"), 5); }, "a,b"},
        {"del zero", [] { return lst_del(sr("a,b"), 0); }, "a,b"},
        {"del empty last", [] { return lst_del(sr("a,b,"), 3); }, "a,b"},
        {"del quoted", [] { return lst_del(sr("'a,b',c"), 1); }, "c"},
        {"union", [] { return lst_union(sr("a,b"), sr("b,c,c,d")); }, "a,b,c,d"},
        {"union into empty", [] { return lst_union(sr(""), sr("x,y")); }, "x,y"},
        {"union of empty", [] { return lst_union(sr("a"), sr("")); }, "a"},
        {"union exact", [] { return lst_union(sr("a"), sr("A")); }, "a,A"},
        {"diff", [] { return lst_diff(sr("a,b,c,b"), sr("b")); }, "a,c"},
        {"diff all", [] { return lst_diff(sr("a,b"), sr("b,a")); }, ""},
        {"diff none", [] { return lst_diff(sr("a,b"), sr("")); }, "a,b"},
    };
    for (const auto& c : cases) {
        ScratchMark m = scr_mark();
        StrRef r = c.op();
        EXPECT_TRUE(sr_ok(r)) << c.what;
        EXPECT_EQ(str(r), c.out) << c.what;
        EXPECT_EQ(scr_mark(), m + 1) << c.what << ": the result must be the only scratch string left";
        scr_release(m);
    }
}

TEST_F(ListTest, SetFieldReadsBack) {
    const char* lists[] = {"", "a", "a,b", ",", "a,,b,"};
    for (const char* l : lists)
        for (int n = 1; n <= 6; n++) {
            ScratchMark m = scr_mark();
            StrRef r = lst_set(sr(l), n, sr("v"));
            EXPECT_EQ(str(lst_field(r, n)), "v") << l << " #" << n;
            EXPECT_GE(lst_count(r), n) << l << " #" << n;
            scr_release(m);
        }
}

TEST_F(ListTest, ShortestAndLongestFieldAfterUnquoting) {
    struct Case { std::string list; int shortest, longest; } cases[] = {
        {"ab,'c',defg", 1, 4},
        {"", 0, 0},
        {"abc", 3, 3},
        {"a,,b", 0, 1},
        {"'xyz'", 3, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lst_shortest(sr(c.list)), c.shortest) << c.list;
        EXPECT_EQ(lst_longest(sr(c.list)), c.longest) << c.list;
    }
}

TEST_F(ListTest, SplitGivesEveryField) {
    struct Case { std::string list; char sep; std::vector<std::string> fields; } cases[] = {
        {"a,'b,c',d", ',', {"a", "'b,c'", "d"}},
        {"", ',', {}},
        {",", ',', {"", ""}},
        {"x\0y\0"s, '\0', {"x", "y", ""}},
    };
    for (const auto& c : cases) {
        ScratchMark m = scr_mark();
        LstSplit s = lst_split(sr(c.list), c.sep);
        ASSERT_EQ(s.status, 0);
        ASSERT_EQ(s.count, static_cast<int>(c.fields.size())) << c.list;
        EXPECT_EQ(s.count, lst_count(sr(c.list), c.sep));
        for (int i = 0; i < s.count; i++) EXPECT_EQ(str(s.fields[i]), c.fields[static_cast<size_t>(i)]);
        scr_release(m);
    }
}

TEST_F(ListTest, SplitOfTooManyFieldsIsRefused) {
    std::string many(5000, ',');
    LstSplit s = lst_split(sr(many));
    EXPECT_EQ(s.status, ier::STRINGTOOLONG);
    EXPECT_EQ(s.count, 0);
}

TEST_F(ListTest, ResultsBeyondTheLengthLimitAreRefused) {
    std::string big(65000, 'a');
    std::string value(1000, 'v');
    struct Case { const char* what; std::function<StrRef()> op; } cases[] = {
        {"set append", [&] { return lst_set(sr(big), 0, sr(value)); }},
        {"set replace", [&] { return lst_set(sr(big + ",b"), 2, sr(value)); }},
        {"set far", [] { return lst_set(sr("a"), 70000, sr("x")); }},
        {"union", [&] { return lst_union(sr(big), sr(value)); }},
    };
    for (const auto& c : cases) {
        ScratchMark m = scr_mark();
        EXPECT_EQ(sr_status(c.op()), ier::STRINGTOOLONG) << c.what;
        EXPECT_EQ(scr_mark(), m) << c.what;
    }
}

TEST_F(ListTest, ErrorValuesPassThrough) {
    const StrRef e = sr_err(ier::OUTOFMEMORY);
    const StrRef ok = sr("a,b");
    struct Case { const char* what; std::function<StrRef()> op; } cases[] = {
        {"field", [&] { return lst_field(e, 1); }},
        {"set list", [&] { return lst_set(e, 1, ok); }},
        {"set value", [&] { return lst_set(ok, 1, e); }},
        {"del", [&] { return lst_del(e, 1); }},
        {"union left", [&] { return lst_union(e, ok); }},
        {"union right", [&] { return lst_union(ok, e); }},
        {"diff left", [&] { return lst_diff(e, ok); }},
        {"diff right", [&] { return lst_diff(ok, e); }},
    };
    for (const auto& c : cases) {
        ScratchMark m = scr_mark();
        EXPECT_EQ(sr_status(c.op()), ier::OUTOFMEMORY) << c.what;
        EXPECT_EQ(scr_mark(), m) << c.what;
    }
    EXPECT_EQ(lst_count(e), 0);
    EXPECT_EQ(lst_pos(e, ok), 0);
    EXPECT_EQ(lst_num(e, 1), 0);
    EXPECT_EQ(lst_split(e).status, ier::OUTOFMEMORY);
}

}  // namespace
}  // namespace rt
