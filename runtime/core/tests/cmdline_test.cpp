#include "runtime/core/cmdline.h"

#include "runtime/core/env.h"
#include "runtime/core/scratch.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;
class CmdLineTest : public test::RtTest {};

TEST_F(CmdLineTest, Normalisation) {
    struct Case {
        const char* in;
        const char* want;
    } cases[] = {
        {"prog  /APNAME:xy   -TRACE:3", "prog /APNAME:xy /TRACE:3"},
        {"prog --TRACE:3", "prog /TRACE:3"},
        {"prog   --TRACE:3  -RUN:x", "prog /TRACE:3 /RUN:x"},
        {" \tprog /A:1\t ", "prog /A:1"},
        {"prog /RUN:'a  -b  --c'", "prog /RUN:'a  -b  --c'"},  // quotes keep their blanks and dashes
        {"prog /RUN:\"x  y\"  -Z", "prog /RUN:\"x  y\" /Z"},
        {"prog 'open  -x", "prog 'open  -x"},  // an unclosed quote hides the rest
        {"prog a-b", "prog a-b"},
    };
    for (const Case& c : cases) {
        ScratchMark m = scr_mark();
        EXPECT_EQ(str(cmd_normalize(sr_c(c.in))), c.want) << c.in;
        scr_release(m);
    }
}

TEST_F(CmdLineTest, OptionLookup) {
    struct Case {
        const char* line;
        int option;
        bool found;
        const char* want;
    } cases[] = {
        {"prog /DPATH:C:\\data", opt::DPATH, true, "C"},  // cut at ':' unless quoted
        {"prog /DPATH:'C:\\data'", opt::DPATH, true, "C:\\data"},
        {"prog /DPATH:\"C:\\My Data\" /X:1", opt::DPATH, true, "C:\\My Data"},
        {"prog /APNAME:ab", opt::APNAME, true, "AB"},
        {"prog /APNAME=ab", opt::APNAME, true, "AB"},
        {"prog /apname:x", opt::APNAME, true, "X"},  // the lower-case retry
        {"prog /Apname:x", opt::APNAME, false, ""},
        {"prog /XAPNAME:x", opt::APNAME, false, ""},
        {"prog '/APNAME:x'", opt::APNAME, false, ""},
        {"prog /TRACE:273&/RUN:x", opt::TRACE, true, "273"},
        {"prog /TRACE:273&/RUN:x", opt::RUN, true, "X"},
        {"prog /RUN:'Accept a,b' /TRACE:1", opt::RUN, true, "Accept a,b"},
        {"prog /APNAME: /X:1", opt::APNAME, true, ""},
        {"prog /?", opt::Help, true, "YES"},
        {"prog /HELP", opt::Help, true, "YES"},
        {"prog /help", opt::Help, true, "YES"},
        {"prog /HELP:no", opt::Help, true, "NO"},
        {"prog /HELPER", opt::Help, false, ""},
        {"prog", opt::Help, false, ""},
    };
    for (const Case& c : cases) {
        ScratchMark m = scr_mark();
        bool found = !c.found;
        EXPECT_EQ(str(cmd_option_in(sr_c(c.line), c.option, &found)), c.want) << c.line;
        EXPECT_EQ(found, c.found) << c.line;
        scr_release(m);
    }
}

TEST_F(CmdLineTest, ArgumentVectorKeepsLinuxPathsWhole) {
    struct Case {
        std::vector<const char*> args;
        const char* want;
    } cases[] = {
        {{"/DPATH:/home/me/app", "-TRACE:3"}, "/opt/qv/ledger /DPATH:\"/home/me/app\" -TRACE:3"},
        {{"/RUN:Accept x"}, "/opt/qv/ledger /RUN:\"Accept x\""},
        {{"plain word"}, "/opt/qv/ledger \"plain word\""},
        {{"/DPATH:'C:\\my data'"}, "/opt/qv/ledger /DPATH:'C:\\my data'"},
        {{"/DPATH:C:\\data"}, "/opt/qv/ledger /DPATH:C:\\data"},
        {{"x "}, "/opt/qv/ledger \"x \""},
        {{"last", ""}, "/opt/qv/ledger last"},  // a trailing blank is dropped
    };
    for (const Case& c : cases) {
        std::vector<char*> argv{const_cast<char*>("ledger")};
        for (const char* a : c.args) argv.push_back(const_cast<char*>(a));
        ScratchMark m = scr_mark();
        StrRef line = cmd_from_argv(sr("/opt/qv/ledger"), static_cast<int>(argv.size()), argv.data());
        EXPECT_EQ(str(line), c.want);
        scr_release(m);
    }
    std::vector<char*> argv{const_cast<char*>("ledger"), const_cast<char*>("/DPATH:/home/me/app")};
    ScratchMark m = scr_mark();
    StrRef line = cmd_normalize(cmd_from_argv(sr("/opt/my progs/ledger"), 2, argv.data()));
    EXPECT_EQ(str(cmd_option_in(line, opt::DPATH)), "/home/me/app");
    ASSERT_EQ(env_set(env::CommandLine, line), 0);
    EXPECT_EQ(str(env_folder(folder::RunPath)), "/opt/my progs");
    scr_release(m);
}

TEST_F(CmdLineTest, OptionValueInAList) {
    ASSERT_EQ(env_set(env::CommandLine, "prog /MODE:pdf"), 0);
    EXPECT_EQ(cmd_option_is(opt::MODE, sr("TXT,PDF,PRN")), 2);
    EXPECT_EQ(cmd_option_is(opt::DEVICE, sr("TXT,PDF,PRN")), 0);
}

}  // namespace
}  // namespace rt
