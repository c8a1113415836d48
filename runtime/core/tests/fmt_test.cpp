#include "runtime/core/fmt.h"

#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;
class FmtTest : public test::RtTest {};

TEST_F(FmtTest, FillsItsOwnConversions) {
    struct Case {
        const char* pattern;
        std::initializer_list<FmtArg> args;
        const char* want;
    };
    const Case cases[] = {
        {"File not found:%s", {"a.txt"}, "File not found:a.txt"},
        {"(%i Screens, %i Windows)", {2, 3}, "(2 Screens, 3 Windows)"},
        {"%04i|%-4s|%4s|%.2s", {7, "ab", "cd", "xyz"}, "0007|ab  |  cd|xy"},
        {"%d %u %x %X %c", {-12, 5, 255, 255, 'Q'}, "-12 5 ff FF Q"},
        {"%i%%", {50}, "50%"},
        {"missing %s and %i", {}, "missing  and 0"},
        {"%s %s", {1, "x"}, " x"},  // a number where a text is wanted shows nothing
    };
    for (const Case& c : cases) {
        ScratchMark m = scr_mark();
        EXPECT_EQ(str(fmt(c.pattern, c.args)), c.want) << c.pattern;
        scr_release(m);
    }
}

TEST_F(FmtTest, ForeignConversionsAreCopiedNotExecuted) {
    // Texts from language files reach the formatter: %n and %p must never do
    // what printf would do with them.
    ScratchMark m = scr_mark();
    EXPECT_EQ(str(fmt("%n%p%s%n", {"a"})), "%n%pa%n");
    EXPECT_EQ(str(fmt("50%", {})), "50%");
    EXPECT_EQ(str(fmt("%-0", {})), "%-0");
    scr_release(m);
}

TEST_F(FmtTest, TooLongForItsCapacity) {
    ScratchMark m = scr_mark();
    err_origin(2, 0, 0);
    EXPECT_EQ(str(fmt(6, "%s!", {"hello"})), "hello!");
    EXPECT_EQ(sr_status(fmt(5, "%s!", {"hello"})), ier::STRINGTOOLONG);
    IER st;
    int module;
    err_origin_get(&st, &module);
    EXPECT_EQ(st, ier::STRINGTOOLONG);
    EXPECT_EQ(module, mod::FormatStrings);
    scr_release(m);
}

}  // namespace
}  // namespace rt
