// The runtime stores: block table, scratch area, string table, runtime
// arrays and hook slots.
#include <cstring>
#include <string>

#include "runtime/core/blocks.h"
#include "runtime/core/hooks.h"
#include "runtime/core/msgbox.h"
#include "runtime/core/rtarray.h"
#include "runtime/core/scratch.h"
#include "runtime/core/startup.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;
class StoresTest : public test::RtTest {};

TEST_F(StoresTest, BlockReleaseChecksGuardOwnerAndPointer) {
    int used = blk_count();
    char* p = static_cast<char*>(blk_alloc(mod::Sort, 16));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(blk_count(), used + 1);
    for (int i = 0; i < 16; i++) EXPECT_EQ(p[i], 0) << "blocks are zero-filled";
    int x = 0;
    EXPECT_EQ(blk_free(mod::Sort, &x), ier::MEMORYALLOCERR);
    EXPECT_EQ(blk_free(mod::VarStruct, p), ier::INTERNALERROR);
    p[16] = 'x';  // one past the end: the guard
    EXPECT_EQ(blk_free(mod::Sort, p), ier::MemoryOverflow);
    EXPECT_EQ(blk_count(), used + 1) << "a block with a broken guard is kept";
    p[16] = 0x00;
    EXPECT_EQ(blk_free(mod::Sort, p), 0);
    EXPECT_EQ(blk_count(), used);
}

TEST_F(StoresTest, BlockTableRefusesSecondCreationAndRunsFull) {
    EXPECT_EQ(blk_init(), ier::UndefWarning);
    void* got[kBlockTableDefault];
    int n = 0;
    while (n < kBlockTableDefault && (got[n] = blk_alloc(mod::Sort, 8))) n++;
    EXPECT_LT(n, kBlockTableDefault) << "the table must fill up";
    EXPECT_EQ(blk_alloc(mod::Sort, 8), nullptr);
    for (int i = 0; i < n; i++) EXPECT_EQ(blk_free(mod::Sort, got[i]), 0);
}

TEST_F(StoresTest, BlockResizeKeepsContentAndGuard) {
    char* p = static_cast<char*>(blk_alloc(mod::Sort, 4));
    std::memcpy(p, "abcd", 4);
    p = static_cast<char*>(blk_resize(mod::Sort, p, 4000));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p, 4), "abcd");
    EXPECT_EQ(p[3999], 0);
    EXPECT_EQ(blk_free(mod::Sort, p), 0);
}

// The leak check names the module that forgot its block.
TEST(LeakCheck, NamesTheModuleOfALeakedBlock) {
    struct Case {
        int module;
        const char* name;
    } cases[] = {{mod::DynStrings, "DynStrings"}, {mod::VarStruct, "VarStruct"}, {mod::Screens, "Screens"}};
    for (const Case& c : cases) {
        test::BoxRecorder boxes;
        ASSERT_EQ(rt_stores_init(), 0);
        ASSERT_NE(blk_alloc(mod::Sort, 8), nullptr);
        void* p = blk_alloc(c.module, 8);
        ASSERT_NE(blk_alloc(c.module, 8), nullptr);
        ASSERT_EQ(blk_free(mod::Sort, blk_alloc(mod::Sort, 1)), 0);
        (void)p;
        EXPECT_EQ(rt_stores_teardown(), c.module) << c.name;
        ASSERT_EQ(boxes.boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes.boxes[0].caption, "Memory Leaks Detected");
        EXPECT_NE(boxes.boxes[0].text.find(std::string("Memory Leaks(") + c.name + ")"), std::string::npos)
            << boxes.boxes[0].text;
        EXPECT_FALSE(blk_ready());
    }
}

TEST(LeakCheck, CleanTeardownGivesZeroAndNoBox) {
    test::BoxRecorder boxes;
    ASSERT_EQ(rt_stores_init(), 0);
    void* p = blk_alloc(mod::Sort, 100);
    ASSERT_EQ(blk_free(mod::Sort, p), 0);
    ra_put(arr::Screens, 3, nullptr, 68);  // arrays go with the teardown
    EXPECT_EQ(rt_stores_teardown(), 0);
    EXPECT_TRUE(boxes.boxes.empty());
}

TEST_F(StoresTest, ScratchMarksRunOutAtTheLastMark) {
    // N marks: mark 0 is the empty string, so N - 1 strings can live.
    int n = scr_marks_max();
    ScratchMark m = scr_mark();
    for (int i = 1; i < n; i++) ASSERT_TRUE(sr_ok(scr_alloc(1))) << i;
    StrRef over = scr_alloc(1);
    EXPECT_EQ(sr_status(over), ier::OUTOFMEMORY);
    scr_release(m);
    EXPECT_TRUE(sr_ok(scr_alloc(1)));
    scr_release(m);
}

TEST(Scratch, LedgerSizeGives511LiveStrings) {
    mem_settings(512, -1);
    ASSERT_EQ(rt_stores_init(), 0);
    ScratchMark m = scr_mark();
    int live = 0;
    while (sr_ok(scr_alloc(0))) live++;
    EXPECT_EQ(live, 511 - m);
    EXPECT_EQ(scr_capacity(), 512u * 1024);
    scr_release(m);
    EXPECT_EQ(rt_stores_teardown(), 0);
    mem_settings(kScratchDefaultKiB, -1);
}

TEST_F(StoresTest, ReleaseNeverMovesUp) {
    ScratchMark m = scr_mark();
    StrRef a = scr_copy(sr("first"));
    ScratchMark after_a = scr_mark();
    scr_release(m);
    // Releasing "to" a mark above the current one must not revive a's bytes
    // as live and move the top over them.
    EXPECT_EQ(scr_release(after_a), m);
    StrRef b = scr_copy(sr("second"));
    EXPECT_EQ(a.p, b.p) << "the released space is reused";
    scr_release(m);
}

TEST_F(StoresTest, FreeSpaceNeverUnderflows) {
    ScratchMark m = scr_mark();
    size_t rest = scr_capacity() - scr_used();
    // Fill the area to within 2 bytes of its end.
    while (rest > 65535 + 4) {
        ASSERT_TRUE(sr_ok(scr_alloc(65532)));
        rest = scr_capacity() - scr_used();
    }
    ASSERT_TRUE(sr_ok(scr_alloc(rest - 4 > 0 ? ((rest - 4) & ~size_t(3)) : 0)));
    rest = scr_capacity() - scr_used();
    EXPECT_LE(rest, 4u);
    EXPECT_EQ(scr_free().n, 0) << "free minus 4 must not wrap around";
    scr_release(m);
    EXPECT_EQ(scr_free().n, 65535);
}

TEST_F(StoresTest, KeepMovesAResultDownOverReleasedSpace) {
    ScratchMark m = scr_mark();
    scr_copy(sr("temporary one"));
    scr_copy(sr("temporary two"));
    StrRef r = scr_copy(sr("result"));
    StrRef kept = scr_keep(m, r);
    EXPECT_EQ(str(kept), "result");
    EXPECT_EQ(scr_mark(), m + 1);
    EXPECT_EQ(str(scr_latest()), "result");
    EXPECT_EQ(std::string(scr_cstr(kept)), "result");
    EXPECT_EQ(std::string(scr_cstr(sr_err(ier::SINTAXERROR))), "");
    scr_release(m);
}

TEST_F(StoresTest, BuilderRefusesTextsBeyondAStringValue) {
    ScratchMark m = scr_mark();
    ScrBuild b;
    b.put_n('x', 65535);
    b.put('y');
    EXPECT_EQ(sr_status(b.done()), ier::STRINGTOOLONG);
    ScrBuild c;
    c.put("ab");
    scr_copy(sr("in between"));  // an allocation while building is a fault
    c.put("cd");
    EXPECT_EQ(sr_status(c.done()), ier::INTERNALERROR);
    scr_release(m);
}

TEST_F(StoresTest, StringTableExtendsGroupsWithEmptyItems) {
    ASSERT_EQ(st_set(20, 5, sr("five")), 0);
    EXPECT_EQ(st_count(20), 6);
    for (int i = 0; i < 5; i++) EXPECT_EQ(str(st_get(20, i)), "");
    EXPECT_EQ(str(st_get(20, 5)), "five");
    EXPECT_EQ(str(st_get(20, 99)), "") << "beyond the count is empty";
    // Groups on both sides are untouched by the moves.
    ASSERT_EQ(st_set(19, 0, sr("left")), 0);
    ASSERT_EQ(st_set(21, 0, sr("right")), 0);
    ASSERT_EQ(st_set(20, 2, sr("two, longer")), 0);
    ASSERT_EQ(st_set(20, 5, sr("5")), 0);
    EXPECT_EQ(str(st_get(19, 0)), "left");
    EXPECT_EQ(str(st_get(21, 0)), "right");
    EXPECT_EQ(str(st_get(20, 2)), "two, longer");
    EXPECT_EQ(str(st_get(20, 5)), "5");
    ASSERT_EQ(st_del(20, 0), 0);
    EXPECT_EQ(st_count(20), 5);
    EXPECT_EQ(str(st_get(20, 1)), "two, longer") << "later items move down";
    st_clear(20);
    EXPECT_EQ(st_count(20), 0);
    EXPECT_EQ(str(st_get(21, 0)), "right");
}

TEST_F(StoresTest, StringTableSetFromItsOwnText) {
    ASSERT_EQ(st_set(20, 0, sr("alpha")), 0);
    ASSERT_EQ(st_set(20, 1, sr("beta")), 0);
    ASSERT_EQ(st_set(19, 0, st_get(20, 1)), 0);  // the source moves while the table changes
    ASSERT_EQ(st_set(20, 0, st_get(20, 0)), 0);
    EXPECT_EQ(str(st_get(19, 0)), "beta");
    EXPECT_EQ(str(st_get(20, 0)), "alpha");
}

TEST_F(StoresTest, StacksAndQueues) {
    for (const char* l : {"L1", "L2", "L3"}) {
        ASSERT_EQ(st_push(grp::QueLines, sr_c(l)), 0);
        ASSERT_EQ(st_push(grp::StkResults, sr_c(l)), 0);
    }
    EXPECT_EQ(str(st_top(grp::QueLines)), "L1");
    EXPECT_EQ(str(st_top(grp::StkResults)), "L3");
    ScratchMark m = scr_mark();
    EXPECT_EQ(str(st_take(grp::QueLines)), "L1");
    EXPECT_EQ(str(st_take(grp::StkResults)), "L3");
    scr_release(m);
    EXPECT_EQ(str(st_top(grp::QueLines)), "L2");
    EXPECT_EQ(str(st_top(grp::StkResults)), "L2");
    st_popto(grp::StkResults, 0);
    st_popto(grp::QueLines, 1);
    EXPECT_EQ(st_count(grp::StkResults), 0);
    EXPECT_EQ(str(st_top(grp::QueLines)), "L3");
}

TEST_F(StoresTest, StringTableBoundsLeaveTheTableUnchanged) {
    EXPECT_EQ(st_set(39, 0, sr("x")), ier::STROUTBOUND);
    EXPECT_EQ(st_set(0, kStrItemsMax, sr("x")), ier::STROUTBOUND);
    // Text space: fill to just below the limit, then one byte more fails.
    std::string big(60000, 'a');
    ASSERT_EQ(st_set(25, 0, sr(big)), 0);
    size_t room = kStrTextBytes - 1 - st_text_total();
    std::string rest(room, 'b');
    ASSERT_EQ(st_set(26, 0, sr(rest)), 0);
    EXPECT_EQ(st_text_total(), kStrTextBytes - 1);
    err_origin(2, 0, 0);
    EXPECT_EQ(st_set(27, 0, sr("c")), ier::STROUTBOUND) << "61361 bytes of text cannot be reached";
    EXPECT_EQ(st_count(27), 0);
    IER ost;
    int omod;
    err_origin_get(&ost, &omod);
    EXPECT_EQ(ost, ier::LOADSTRERROR);
    EXPECT_EQ(omod, mod::STRINGASSIGN);
    // Replacing an item by a shorter text still works at the limit.
    EXPECT_EQ(st_set(26, 0, sr("short")), 0);
    st_clear(25);
    st_clear(26);
    // Items: 2047 at most in all groups together.
    int before = st_items_total();
    EXPECT_EQ(st_set(28, kStrItemsMax - 2 - before, sr("")), 0);
    EXPECT_EQ(st_items_total(), kStrItemsMax - 1);
    EXPECT_EQ(st_push(29, sr("one more")), ier::STROUTBOUND);
    st_clear(28);
}

TEST_F(StoresTest, RuntimeArraysGrowAndShrink) {
    int16_t v = 7;
    int16_t* p = static_cast<int16_t*>(ra_put(arr::Frames, 3, &v, sizeof v));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(ra_count(arr::Frames), 4u);
    EXPECT_EQ(*static_cast<int16_t*>(ra_get(arr::Frames, 0)), 0) << "new records are zero-filled";
    EXPECT_EQ(*static_cast<int16_t*>(ra_get(arr::Frames, 3)), 7);
    EXPECT_EQ(ra_get(arr::Frames, 4), nullptr);
    int32_t wide = 1;
    EXPECT_EQ(ra_put(arr::Frames, 0, &wide, sizeof wide), nullptr) << "record size is fixed per array";
    EXPECT_EQ(ra_remove(arr::Frames, 0), 0);
    EXPECT_EQ(*static_cast<int16_t*>(ra_get(arr::Frames, 2)), 7);
    while (ra_count(arr::Frames)) ra_remove(arr::Frames, 0);
    EXPECT_EQ(ra_size(arr::Frames), 0) << "removing the last record frees the array";
    EXPECT_EQ(ra_put(kRtArrays, 0, &v, sizeof v), nullptr);
}

void some_hook() {}

TEST_F(StoresTest, HookSlots) {
    EXPECT_EQ(hk_register(some_hook, 23), 23);
    EXPECT_EQ(hk_get(23), &some_hook);
    EXPECT_EQ(hk_register(some_hook, 25), kHookRefused);
    EXPECT_EQ(hk_get(25), nullptr);
    EXPECT_EQ(hk_get(24), nullptr);
    EXPECT_EQ(hk_register(nullptr, 23), 23);
    EXPECT_EQ(hk_get(23), nullptr);
}

}  // namespace
}  // namespace rt
