// Local lists and SORT$: the order items take, moving and reading, the
// sorting of a text, what a script sees of statuses, and the checks on the
// handles a script passes back.
#include "runtime/expr/llist.h"

#include <string>
#include <vector>

#include "runtime/core/blocks.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/expr/eval.h"
#include "runtime/expr/fixed.h"
#include "runtime/expr/fnlib.h"
#include "runtime/expr/func.h"
#include "runtime/expr/vars.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;

class LListTest : public test::RtTest {
protected:
    void SetUp() override {
        RtTest::SetUp();
        fnlib_install();
        m_ = scr_mark();
    }
    void TearDown() override {
        scr_release(m_);
        EXPECT_EQ(llist_live(), 0) << "a test left a list alive";
        fn_reset();
        vars_done();
        RtTest::TearDown();
    }
    // A text as it is, a number as rtcli prints it, or "error N".
    std::string eval(const std::string& text, IER* st = nullptr) {
        ScratchMark m = scr_mark();
        Value v;
        IER s = ex_eval(sr(text), &v);
        if (st) *st = s;
        std::string r = s >= 128 ? "error " + std::to_string(s)
                                 : v.is_text() ? str(v.text) : str(num_plain(v.num, num_precis()));
        scr_release(m);
        return r;
    }
    // Each expression in turn; the value of the last one.
    std::string run(std::initializer_list<std::string> texts) {
        std::string last;
        for (const std::string& t : texts) last = eval(t);
        return last;
    }
    // The items of the list in H$ from the first, joined with '|'.
    std::string walk() {
        std::string out;
        eval("H$=SORT$('MOVE';H$;'TOP')");
        for (int n = 0; eval("_IER") == "0" && n < 1000; n++) {
            if (n) out += '|';
            out += eval("SORT$('GET';H$)");
            eval("H$=SORT$('MOVE';H$;'NXT')");
        }
        return out;
    }
    void kill() { EXPECT_EQ(eval("SORT$('KILL';H$)"), ""); }

    ScratchMark m_ = 0;
};

TEST_F(LListTest, ItemsTakeTheirPlaceByKey) {
    struct Case {
        const char* make;  // the arguments of NEW
        std::vector<const char*> items;
        const char* want;
    } cases[] = {
        // An equal key: right after that one item, before any others.
        {"1;2", {"A", "B1", "B2", "C", "B3"}, "A |B1|B3|B2|C "},
        {"1;1;2", {"b", "c", "a"}, "c|b|a"},
        // One size: no key at all, so each item goes right after the first.
        {"3", {"a", "b", "c"}, "a  |c  |b  "},
        {"3;1", {"b", "a", "b"}, "a  |b  |b  "},
        {"1;2;1", {"B1", "A", "B2", "C"}, "A |B1|C "},
        {"1;2;3", {"A", "B1", "C", "B2"}, "C |B1|A "},
        {"1;2;2", {"B1", "A", "B2"}, "B1|B2|A "},
        // Keys compare as unsigned bytes, blanks of the padding included.
        {"2;3", {"b", "\xE9", "a ", "a"}, "a  |a  |b  |\xE9  "},
        {"0;0", {"", ""}, "|"},
    };
    for (const Case& c : cases) {
        eval(std::string("H$=SORT$('NEW';") + c.make + ")");
        for (const char* item : c.items) eval(std::string("H$=SORT$('ADD';H$;'") + item + "')");
        EXPECT_EQ(walk(), c.want) << c.make;
        kill();
    }
}

TEST_F(LListTest, WhatAScriptSeesOfAddStatuses) {
    IER st = 0;
    eval("H$=SORT$('NEW';1;2;1)");
    eval("H$=SORT$('ADD';H$;'ab')");
    EXPECT_EQ(eval("_IER"), "0");
    // A duplicate is no error: the handle comes back unchanged and _IER is 5.
    std::string old = eval("H$");
    eval("H$=SORT$('ADD';H$;'ac')", &st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(eval("_IER"), "5");
    EXPECT_EQ(eval("H$"), old);
    EXPECT_EQ(walk(), "ab");
    // A longer item stops the expression with 163 and changes nothing.
    EXPECT_EQ(eval("H$=SORT$('ADD';H$;'abc')"), "error 163");
    EXPECT_EQ(eval("H$"), old);
    EXPECT_EQ(walk(), "ab");
    kill();
}

TEST_F(LListTest, MovesAndReads) {
    struct Case {
        int items;                  // a, b, c ... added to NEW 1
        std::vector<const char*> before;  // moves made first
        const char* action;
        const char* item;           // GET afterwards
        const char* ier;
    } cases[] = {
        {3, {"TOP"}, "PRV", "c", "2"},
        {3, {"BOT"}, "NXT", "c", "2"},
        {3, {"BOT"}, "TOP", "a", "0"},
        {3, {"TOP"}, "BOT", "c", "0"},
        {3, {"TOP"}, "NXT", "b", "0"},
        {3, {"BOT"}, "PRV", "b", "0"},
        {3, {"TOP"}, "next", "b", "0"},
        {3, {"TOP"}, "NEXT", "b", "0"},
        {3, {"BOT"}, "Previous", "b", "0"},
        {3, {"TOP"}, "BOTTOM", "c", "0"},
        {3, {"TOP", "NXT"}, "RLD", "b", "0"},
        {3, {"TOP", "NXT"}, "whatever", "b", "0"},
        {1, {}, "NXT", "a", "2"},
        {0, {}, "TOP", "", "2"},
        {0, {}, "BOT", "", "2"},
        {0, {}, "NXT", "", "2"},
    };
    for (const Case& c : cases) {
        std::string name = std::to_string(c.items) + " items, " + c.action;
        eval("H$=SORT$('NEW';1;1)");
        for (int i = 0; i < c.items; i++) eval(std::string("H$=SORT$('ADD';H$;'") + char('a' + i) + "')");
        for (const char* m : c.before) eval(std::string("H$=SORT$('MOVE';H$;'") + m + "')");
        eval("_IER=7");
        IER st = 0;
        eval(std::string("H$=SORT$('MOVE';H$;'") + c.action + "')", &st);
        EXPECT_EQ(st, 0) << name;
        EXPECT_EQ(eval("_IER"), c.ier) << name;
        EXPECT_EQ(eval("SORT$('GET';H$)"), c.item) << name;
        kill();
    }
}

TEST_F(LListTest, GetGivesTheWholeItemOrTheEmptyText) {
    eval("H$=SORT$('NEW';2;6)");
    EXPECT_EQ(eval("SORT$('GET';H$)"), "");
    eval("H$=SORT$('ADD';H$;'ab')");
    EXPECT_EQ(eval("SORT$('GET';H$)"), "ab    ");
    // GET does not move: reading twice gives the same item.
    eval("H$=SORT$('ADD';H$;'aa')");
    EXPECT_EQ(eval("SORT$('GET';H$)"), "aa    ");
    EXPECT_EQ(eval("SORT$('GET';H$)"), "aa    ");
    kill();
}

TEST_F(LListTest, SortsTheFieldsOfAText) {
    struct Case {
        const char* call;
        const char* want;
    } cases[] = {
        {"SORT$('b,a,c')", "a,b,c"},
        {"SORT$('b,a,b';1)", "a,b"},
        {"SORT$('b,aa')", "aa,b "},
        {"SORT$('b,aa';128)", "aa,b"},
        {"SORT$('b,a,c';2)", "c,b,a"},
        {"SORT$('a,b,a,c';3)", "c,b,a"},
        {"SORT$('new')", "new"},
        {"SORT$('New,add')", "New,add"},  // upper case sorts first
        {"SORT$('')", ""},
        {"SORT$('a,,b')", " ,a,b"},
        {"SORT$('a,,b';128)", ",a,b"},
        {"SORT$('b, a')", " a,b "},
        // Fields are unquoted, and quoted separators do not split.
        {"SORT$('\"b,x\",a')", "a  ,b,x"},
        {"SORT$('zz,\"y\"';128)", "y,zz"},
        {"SORT$(31)", "31"},
    };
    for (const Case& c : cases) EXPECT_EQ(eval(c.call), c.want) << c.call;

    StrRef out;
    ASSERT_EQ(llist_sort_text(sr(std::string_view("b\0a,c\0a", 7)), llf::NulSeparator, &out), 0);
    EXPECT_EQ(sv(out), std::string_view("a  \0a,c\0b  ", 11));
    ASSERT_EQ(llist_sort_text(sr(std::string_view("b\0a,c\0a", 7)), llf::NulSeparator | llf::TrimItems | 1, &out),
              0);
    EXPECT_EQ(sv(out), std::string_view("a\0a,c\0b", 7));
}

TEST_F(LListTest, SortingAResultTooLongForATextIsRefused) {
    // One long field pads every other one: the result cannot be a text.
    std::string text(3000, 'x');
    for (int i = 0; i < 30; i++) text += ",a";
    StrRef out;
    EXPECT_EQ(llist_sort_text(sr(text), 0, &out), ier::STRINGTOOLONG);
    EXPECT_EQ(out.n, 0);
    ASSERT_EQ(llist_sort_text(sr(text), llf::TrimItems, &out), 0);
    EXPECT_EQ(out.n, text.size());
    EXPECT_EQ(str(out).substr(0, 4), "a,a,");
}

TEST_F(LListTest, WrongArgumentsGive147) {
    eval("H$=SORT$('NEW';1)");
    for (const char* call : {
             "SORT$()", "SORT$('NEW')", "SORT$('NEW';1;2;0;4)", "SORT$('ADD';H$)", "SORT$('ADD';H$;'a';'b')",
             "SORT$('MOVE';H$)", "SORT$('GET')", "SORT$('GET';H$;1)", "SORT$('KILL')", "SORT$('b,a';1;2)",
             // Not a handle: the wrong length.
             "SORT$('GET';'abc')", "SORT$('GET';H$+' ')", "SORT$('ADD';5;'a')", "SORT$('KILL';'')",
             "SORT$('MOVE';'';'TOP')",
         })
        EXPECT_EQ(eval(call), "error 147") << call;
    kill();
}

TEST_F(LListTest, SizesPastWhatAHandleHoldsGive168) {
    for (const char* call : {"SORT$('NEW';256)", "SORT$('NEW';1;65536)", "SORT$('NEW';-1;3)",
                             "SORT$('NEW';1;2;256)", "SORT$('NEW';1;2;-1)"})
        EXPECT_EQ(eval(call), "error 168") << call;
    EXPECT_EQ(llist_live(), 0);

    // 655 items of 100 bytes fit (the block grows from 256 bytes); the 656th
    // would pass 65535 bytes and leaves the list as it was.
    StrRef h;
    ASSERT_EQ(llist_new(1, 100, 0, &h), 0);
    std::string handle = str(h);
    for (int i = 0; i < 655; i++) {
        std::string item = std::to_string(1000 + i);
        item.insert(0, 1, char('a' + i % 26));
        StrRef out;
        ASSERT_EQ(llist_add(sr(handle), sr(item), &out), 0) << i;
        handle = str(out);
        scr_release(m_);
    }
    StrRef out;
    EXPECT_EQ(llist_add(sr(handle), sr("b"), &out), ier::DATAOUTBOUND);
    EXPECT_EQ(out.n, 0);
    // Still the handle of the list, whose items moved intact with the block.
    std::vector<std::string> items;
    for (IER st = llist_move(sr(handle), sr("TOP"), &out); st == 0; st = llist_move(sr(handle), sr("NXT"), &out)) {
        handle = str(out);
        StrRef it;
        ASSERT_EQ(llist_get(sr(handle), &it), 0);
        items.push_back(str(it));
        scr_release(m_);
    }
    ASSERT_EQ(items.size(), 655u);
    // Equal keys: the first one added, then the others latest first.
    EXPECT_EQ(items[0].substr(0, 5), "a1000");
    EXPECT_EQ(items[1].substr(0, 5), "a1650");
    EXPECT_EQ(items[26].substr(0, 5), "b1001");
    EXPECT_EQ(items.back().substr(0, 5), "z1051");
    EXPECT_EQ(items.front().size(), 100u);
    EXPECT_EQ(llist_kill(sr(handle)), 0);

    // Items of no length: the count is what runs out.
    ASSERT_EQ(llist_new(0, 0, 0, &h), 0);
    handle = str(h);
    for (int i = 0; i < 65535; i++) {
        ASSERT_EQ(llist_add(sr(handle), sr_empty(), &out), 0) << i;
        handle = str(out);
        scr_release(m_);
    }
    EXPECT_EQ(llist_add(sr(handle), sr_empty(), &out), ier::DATAOUTBOUND);
    EXPECT_EQ(llist_kill(sr(handle)), 0);
}

// A handle is checked on every use: anything but the latest handle of a live
// list is refused before any item is read or written.
TEST_F(LListTest, ForgedStaleAndKilledHandlesGive147) {
    StrRef h;
    ASSERT_EQ(llist_new(1, 4, 0, &h), 0);
    std::string handle = str(h);
    StrRef out;
    ASSERT_EQ(llist_add(sr(handle), sr("b"), &out), 0);
    std::string before_add = handle;
    handle = str(out);
    ASSERT_EQ(llist_add(sr(handle), sr("a"), &out), 0);
    handle = str(out);

    auto refused = [&](const std::string& bad, const std::string& why) {
        StrRef o;
        EXPECT_EQ(llist_get(sr(bad), &o), ier::SINTAXERROR) << why;
        EXPECT_EQ(llist_add(sr(bad), sr("c"), &o), ier::SINTAXERROR) << why;
        EXPECT_EQ(llist_move(sr(bad), sr("TOP"), &o), ier::SINTAXERROR) << why;
        EXPECT_EQ(llist_kill(sr(bad)), ier::SINTAXERROR) << why;
    };
    refused(before_add, "a copy from before an ADD");
    for (size_t at = 0; at < kLlistHandleLen; at++) {
        if (at == 16 || at == 17) continue;  // the position: the handle's own
        for (int bit : {0x01, 0x80}) {
            std::string bad = handle;
            bad[at] = static_cast<char>(bad[at] ^ bit);
            refused(bad, "byte " + std::to_string(at));
        }
    }
    refused(std::string(kLlistHandleLen, '\0'), "zeros");
    refused(std::string(kLlistHandleLen, '\xFF'), "ones");

    // A position past the items reads nothing and moves back onto them.
    std::string far = handle;
    far[16] = far[17] = '\x7F';
    StrRef it;
    EXPECT_EQ(llist_get(sr(far), &it), 0);
    EXPECT_EQ(it.n, 0);
    EXPECT_EQ(llist_move(sr(far), sr("RLD"), &out), 2);
    ASSERT_EQ(llist_get(out, &it), 0);
    EXPECT_EQ(str(it), "b   ");

    // The list survived all that untouched.
    ASSERT_EQ(llist_move(sr(handle), sr("TOP"), &out), 0);
    ASSERT_EQ(llist_get(out, &it), 0);
    EXPECT_EQ(str(it), "a   ");

    // Killed: every handle of it is refused, also once its slot is reused.
    std::string moved = str(out);
    ASSERT_EQ(llist_kill(sr(handle)), 0);
    refused(handle, "killed");
    refused(moved, "killed, a moved copy");
    ASSERT_EQ(llist_new(1, 4, 0, &h), 0);
    std::string next = str(h);
    refused(handle, "killed, slot reused");
    EXPECT_EQ(llist_add(sr(next), sr("x"), &out), 0);
    EXPECT_EQ(llist_kill(out), 0);
}

TEST_F(LListTest, ACopyFromBeforeAMoveKeepsItsOwnPosition) {
    eval("H$=SORT$('NEW';1;1)");
    for (const char* item : {"a", "b", "c"}) eval(std::string("H$=SORT$('ADD';H$;'") + item + "')");
    eval("H$=SORT$('MOVE';H$;'TOP')");
    eval("C$=H$");
    eval("H$=SORT$('MOVE';H$;'BOT')");
    EXPECT_EQ(eval("SORT$('GET';H$)"), "c");
    EXPECT_EQ(eval("SORT$('GET';C$)"), "a");
    // After an ADD only the new handle is the list's.
    eval("H$=SORT$('ADD';H$;'d')");
    EXPECT_EQ(eval("SORT$('GET';C$)"), "error 147");
    EXPECT_EQ(eval("SORT$('GET';H$)"), "c");
    kill();
    EXPECT_EQ(eval("SORT$('GET';H$)"), "error 147");
    EXPECT_EQ(eval("SORT$('KILL';H$)"), "error 147");
}

TEST_F(LListTest, AHandleIsA24ByteText) {
    eval("H$=SORT$('NEW';3;10)");
    std::string h = eval("H$");
    ASSERT_EQ(h.size(), kLlistHandleLen);
    auto u16 = [&](int at) { return (unsigned char)h[at] | ((unsigned char)h[at + 1] << 8); };
    EXPECT_EQ(u16(6), 768);  // the first block: 3 x 256 bytes
    EXPECT_EQ(u16(10), 3);
    EXPECT_EQ(u16(12), 10);
    eval("H$=SORT$('ADD';H$;'abc')");
    eval("H$=SORT$('ADD';H$;'abd')");
    h = eval("H$");
    EXPECT_EQ(u16(4), 20);  // bytes in use
    EXPECT_EQ(u16(14), 2);
    kill();
}

TEST(LListLeak, AListNeverKilledIsNamedByTheLeakCheck) {
    test::BoxRecorder boxes;
    ASSERT_EQ(rt_stores_init(), 0);
    fnlib_install();
    StrRef h;
    ASSERT_EQ(llist_new(2, 8, 0, &h), 0);
    std::string handle = str(h);
    EXPECT_EQ(rt_stores_teardown(), mod::Sort);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_NE(boxes.boxes[0].text.find("Memory Leaks(Sort)"), std::string::npos) << boxes.boxes[0].text;

    // The list went with the stores: its handle reaches nothing, before new
    // stores are built and after.
    StrRef it;
    EXPECT_EQ(llist_get(sr(handle), &it), ier::SINTAXERROR);
    ASSERT_EQ(rt_stores_init(), 0);
    EXPECT_EQ(llist_live(), 0);
    EXPECT_EQ(llist_get(sr(handle), &it), ier::SINTAXERROR);
    ASSERT_EQ(llist_new(2, 8, 0, &h), 0);
    EXPECT_EQ(llist_get(sr(handle), &it), ier::SINTAXERROR);
    EXPECT_EQ(llist_kill(h), 0);
    fn_reset();
    EXPECT_EQ(rt_stores_teardown(), 0);
}

}  // namespace
}  // namespace rt
