// The file layer: numbered handles, the text-line reader, whole-file helpers,
// record kinds on the line queue, folders, and names in any case with either
// separator.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "runtime/core/env.h"
#include "runtime/core/file.h"
#include "runtime/core/scratch.h"
#include "runtime/core/status.h"
#include "runtime/core/strtab.h"
#include "tests/support/rtfixture.h"

namespace rt {
namespace {

using test::str;
using test::TempDir;
using Lines = std::vector<std::string>;

class FileTest : public test::RtTest {
protected:
    TempDir tmp;
    std::string at(const std::string& rel) const { return tmp.path + "/" + rel; }
};
using FileLines = FileTest;
using FileOpen = FileTest;
using FileOffsets = FileTest;
using FileWhole = FileTest;
using FileQueue = FileTest;
using FileNames = FileTest;
using FileFolders = FileTest;

// Every line up to the end of the file; *last gets the status that ended it.
Lines read_lines(uint16_t h, IER* last) {
    Lines out;
    for (;;) {
        ScratchMark m = scr_mark();
        StrRef l = f_read_line(h);
        if (!sr_ok(l)) {
            *last = sr_status(l);
            return out;
        }
        out.push_back(str(l));
        scr_release(m);
        if (out.size() > 1000) return out;  // a reader that never ends
    }
}

Lines queue_items(int g) {
    Lines out;
    for (int i = 0; i < st_count(g); i++) out.push_back(str(st_get(g, i)));
    return out;
}

// Top and pop until empty: the order in which a consumer sees the lines.
Lines drain(int g) {
    Lines out;
    while (st_count(g) && out.size() <= 3000) {
        out.push_back(str(st_top(g)));
        st_pop(g);
    }
    return out;
}

std::set<std::string> nul_names(StrRef s) {
    std::set<std::string> out;
    std::string_view v = sv(s);
    while (!v.empty()) {
        size_t z = v.find('\0');
        if (z == std::string_view::npos) {
            out.insert("<unterminated:" + std::string(v) + ">");
            break;
        }
        out.insert(std::string(v.substr(0, z)));
        v.remove_prefix(z + 1);
    }
    return out;
}

IER origin_status() {
    IER st = 0;
    err_origin_get(&st, nullptr);
    return st;
}

// Leaves about `left` bytes of the scratch area free; returns the mark to go
// back to.
ScratchMark fill_scratch(size_t left) {
    ScratchMark m = scr_mark();
    while (scr_free().n > left + 8) {
        size_t n = std::min<size_t>(scr_free().n - left, 60000);
        if (!sr_ok(scr_alloc(n, 255))) break;
    }
    return m;
}

// ---------------------------------------------------------------- lines

TEST_F(FileLines, LineEndsAndCtrlZ) {
    struct Case {
        const char* what;
        std::string bytes;
        Lines lines;
    };
    const Case cases[] = {
        {"CR, LF and no end", "a\rb\nc", {"a", "b", "c"}},
        {"CR LF at the end gives no empty line", "x\r\n", {"x"}},
        {"a lone Ctrl-Z is no line", "\x1a", {}},
        {"a Ctrl-Z line inside the file is skipped", "a\r\n\x1a\r\nb", {"a", "b"}},
        {"Ctrl-Z with other text is kept", "a\x1a\n\x1a\x1a", {"a\x1a", "\x1a\x1a"}},
        {"an empty line between", "a\r\n\r\nb", {"a", "", "b"}},
        {"a lone CR at the very end", "a\r", {"a"}},
        {"the last line needs no end", "one\r\nlast", {"one", "last"}},
        {"LF CR is two ends", "a\n\rb", {"a", "", "b"}},
        {"CR CR LF", "a\r\r\nb", {"a", "", "b"}},
        {"empty lines only", "\n\n", {"", ""}},
        {"an empty file", "", {}},
        {"NUL bytes are text", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string p = tmp.put("lines.txt", c.bytes);
        uint16_t h = f_open(sr(p), fmode::ReadOnly);
        ASSERT_NE(h, kBadHandle);
        IER end = 0;
        EXPECT_EQ(read_lines(h, &end), c.lines);
        EXPECT_EQ(end, ier::DiskIO);
        EXPECT_TRUE(f_at_end(h));

        // The same lines when the caller asks "at end?" before each read.
        ASSERT_EQ(f_seek(h, 0), 0);
        Lines again;
        while (!f_at_end(h) && again.size() < 100) {
            StrRef l = f_read_line(h);
            if (sr_status(l) == ier::DiskIO) break;
            ASSERT_TRUE(sr_ok(l));
            again.push_back(str(l));
        }
        EXPECT_EQ(again, c.lines);
        f_close(h);
    }
}

TEST_F(FileLines, OverLongLineGives146AndTheNextLineStillReads) {
    struct Case {
        size_t len;
        IER st;
    };
    const Case cases[] = {{65535, 0}, {65536, ier::STRINGTOOLONG}, {70000, ier::STRINGTOOLONG}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.len);
        std::string p = tmp.put("long.txt", "first\r\n" + std::string(c.len, 'x') + "\r\nnext\nend");
        uint16_t h = f_open(sr(p), fmode::ReadOnly);
        ASSERT_NE(h, kBadHandle);
        EXPECT_EQ(str(f_read_line(h)), "first");
        ScratchMark m = scr_mark();
        StrRef l = f_read_line(h);
        EXPECT_EQ(sr_status(l), c.st);
        if (!c.st) {
            EXPECT_EQ(l.n, c.len);
        }
        scr_release(m);
        EXPECT_EQ(str(f_read_line(h)), "next");
        EXPECT_EQ(str(f_read_line(h)), "end");
        EXPECT_EQ(sr_status(f_read_line(h)), ier::DiskIO);
        f_close(h);
    }
}

TEST_F(FileLines, LineLargerThanFreeScratchGives146WithoutOverrun) {
    std::string p = tmp.put("fit.txt", std::string(1000, 'y') + "\r\nok\r\n");
    uint16_t h = f_open(sr(p), fmode::ReadOnly);
    ASSERT_NE(h, kBadHandle);
    ScratchMark m = fill_scratch(200);
    ASSERT_LT(scr_free().n, 1000u);
    EXPECT_EQ(sr_status(f_read_line(h)), ier::STRINGTOOLONG);
    EXPECT_EQ(str(f_read_line(h)), "ok");
    scr_release(m);
    f_close(h);
    // A write past the area would show as an overwritten guard at teardown.
}

// ---------------------------------------------------------------- open

TEST_F(FileOpen, MissingFileUpdateCreatesIt) {
    std::string p = at("new.dat");
    uint16_t h = f_open(sr(p), fmode::Update);
    ASSERT_NE(h, kBadHandle);
    EXPECT_GE(h, 3);
    EXPECT_TRUE(tmp.exists("new.dat"));
    EXPECT_EQ(f_write(h, 0, sr("abc")), 3);
    char buf[4] = {};
    EXPECT_EQ(f_read(h, 0, 3, buf), 3);
    EXPECT_EQ(std::string(buf, 3), "abc");
    f_close(h);
    EXPECT_EQ(origin_status(), 0);
}

TEST_F(FileOpen, ModesOnAnExistingFile) {
    struct Case {
        int mode;
        const char* write;
        std::string after;
    };
    const Case cases[] = {
        {fmode::Update, "AB", "ABcdef"},    // in place from the start
        {fmode::Create, "AB", "AB"},        // truncated
        {fmode::Append, "AB", "abcdefAB"},  // at the end
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        std::string p = tmp.put("m.dat", "abcdef");
        uint16_t h = f_open(sr(p), c.mode);
        ASSERT_NE(h, kBadHandle);
        EXPECT_EQ(f_write(h, 0, sr(c.write)), 2);
        f_close(h);
        EXPECT_EQ(tmp.read("m.dat"), c.after);
    }
}

TEST_F(FileOpen, FailuresRecordOriginAndNameUnlessQuiet) {
    tmp.put("there.dat", "kept");
    std::string missing = at("nothere.dat");
    std::string folder383 = tmp.path + "/";
    while (folder383.size() < 383) folder383 += (folder383.size() % 200 == 0) ? '/' : 'n';
    folder383.resize(383);
    std::string name384 = folder383 + "n";
    struct Case {
        const char* what;
        std::string name;
        int mode;
        IER st;  // 0: refused without a record
    };
    const Case cases[] = {
        {"read-only on a missing file", missing, fmode::ReadOnly, ier::FileNotFound},
        {"quiet", missing, fmode::ReadOnly | fmode::Quiet, 0},
        {"empty name", "", fmode::Update, ier::BADINPUTDATA},
        {"384 characters", name384, fmode::ReadOnly, ier::BADINPUTDATA},
        {"383 characters is a name, just missing", folder383, fmode::ReadOnly, ier::FileNotFound},
        {"a folder is not a file", tmp.path, fmode::ReadOnly, ier::FileNotFound},
        {"a missing folder is not created", at("nodir/x.dat"), fmode::Update, ier::FileNotFound},
        {"a NUL inside the name", at("there.dat") + std::string(1, '\0') + "x", fmode::Update, ier::BADINPUTDATA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        err_origin(2, 0, 0);
        err_detail_clear();
        EXPECT_EQ(f_open(sr(c.name), c.mode), kBadHandle);
        IER st = 0;
        int module = 0;
        err_origin_get(&st, &module);
        EXPECT_EQ(st, c.st);
        EXPECT_EQ(module, c.st ? mod::Streams : 0);
        std::string detail = str(err_detail_get());
        if (c.st && !c.name.empty()) {
            EXPECT_NE(detail.find(c.name), std::string::npos) << detail;
        } else {
            EXPECT_EQ(detail, "");
        }
    }
    EXPECT_FALSE(tmp.exists("nothere.dat"));
    EXPECT_FALSE(tmp.exists("nodir"));
    EXPECT_EQ(tmp.read("there.dat"), "kept");
}

TEST_F(FileWhole, NameWithNulReachesNoOtherFile) {
    tmp.put("there.dat", "kept");
    std::string bad = at("there.dat") + std::string(1, '\0') + "x";
    EXPECT_NE(file_write(sr(bad), kWriteReplace, sr("lost")), 0);
    EXPECT_NE(file_write(sr(bad), 0, sr("lost")), 0);
    EXPECT_NE(file_append_line(sr(bad), sr("lost")), 0);
    EXPECT_NE(file_delete(sr(bad)), 0);
    EXPECT_NE(file_rename(sr(bad), sr(at("moved.dat"))), 0);
    EXPECT_EQ(file_size(sr(bad)), 0);
    EXPECT_FALSE(sr_ok(file_read(sr(bad))));
    EXPECT_EQ(tmp.read("there.dat"), "kept");
    EXPECT_FALSE(tmp.exists("moved.dat"));
}

TEST_F(FileOpen, LowestFreeHandleAndTheTableLimit) {
    std::string p = tmp.put("h.dat", "x");
    std::vector<uint16_t> got;
    for (int i = 3; i < kFileHandles; i++) got.push_back(f_open(sr(p), fmode::ReadOnly));
    for (size_t i = 0; i < got.size(); i++) EXPECT_EQ(got[i], i + 3);
    EXPECT_EQ(f_open(sr(p), fmode::ReadOnly), kBadHandle);
    EXPECT_EQ(origin_status(), ier::DATAOUTBOUND);
    f_close(10);
    EXPECT_EQ(f_open(sr(p), fmode::ReadOnly), 10);
    f_close_all();
    EXPECT_EQ(f_open(sr(p), fmode::ReadOnly), 3);
}

TEST_F(FileOpen, ConIsTheConsoleComparedExactly) {
    struct Case {
        const char* name;
        int mode;
        uint16_t h;
    };
    const Case cases[] = {
        {"CON", fmode::ReadOnly, 0},
        {"CON", fmode::Update, 0},
        {"CON", fmode::Create, 1},
        {"CON", fmode::Create | fmode::Quiet, 1},  // only the low five bits count
        {"CON", fmode::Create | fmode::Append, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        EXPECT_EQ(f_open(sr(c.name), c.mode), c.h);
    }
    test::InFolder in(tmp.path);
    EXPECT_EQ(f_open(sr("con"), fmode::ReadOnly | fmode::Quiet), kBadHandle);
}

TEST_F(FileOpen, StandardHandlesAreNeverClosed) {
    for (uint16_t h = 0; h < 3; h++) f_close(h);
    f_close_all();
    for (int fd = 0; fd < 3; fd++) EXPECT_NE(fcntl(fd, F_GETFD), -1) << fd;
    EXPECT_EQ(f_size(1), kPosNone);
    EXPECT_EQ(f_write(1, kPosNone, sr("")), 0);
    // Closing a handle never opened or out of range does nothing either.
    f_close(20);
    f_close(kBadHandle);
}

// ---------------------------------------------------------------- offsets

TEST_F(FileOffsets, ReadAtOffsetsAndAtTheCurrentPosition) {
    std::string data;
    for (int i = 0; i < 2000; i++) data += static_cast<char>(i % 251);
    std::string p = tmp.put("r.dat", data);
    uint16_t h = f_open(sr(p), fmode::ReadOnly);
    ASSERT_NE(h, kBadHandle);
    std::vector<char> buf(2000);
    EXPECT_EQ(f_read(h, 300, 1500, buf.data()), 1500);
    EXPECT_EQ(std::string(buf.data(), 1500), data.substr(300, 1500));
    EXPECT_EQ(f_tell(h), 1800);
    EXPECT_EQ(f_read(h, kPosNone, 1000, buf.data()), 200);  // what is left
    EXPECT_EQ(std::string(buf.data(), 200), data.substr(1800));
    EXPECT_EQ(f_read(h, kPosNone, 10, buf.data()), -1);  // at the end
    EXPECT_EQ(f_read(h, 2000, 10, buf.data()), -1);
    EXPECT_EQ(f_read(h, 5000, 10, buf.data()), -1);
    EXPECT_EQ(f_read(h, 0, 5, buf.data()), 5);
    EXPECT_EQ(f_seek(h, -5), ier::DiskIO);
    f_close(h);
}

TEST_F(FileOffsets, WriteAtOffsetsAndAtTheEnd) {
    std::string p = tmp.put("w.dat", "0123456789");
    uint16_t h = f_open(sr(p), fmode::Update);
    ASSERT_NE(h, kBadHandle);
    EXPECT_EQ(f_write(h, 3, sr("abc")), 3);
    ASSERT_EQ(f_seek(h, 0), 0);
    EXPECT_EQ(f_write(h, kPosNone, sr("XY")), 2);  // end of file, not the position
    std::string big(1500, 'z');
    EXPECT_EQ(f_write(h, kPosNone, sr(big)), 1500);
    EXPECT_EQ(f_size(h), 1512);
    char buf[4] = {};
    EXPECT_EQ(f_read(h, 10, 3, buf), 3);  // reading right after writing
    EXPECT_EQ(std::string(buf, 3), "XYz");
    f_close(h);
    EXPECT_EQ(tmp.read("w.dat"), "012abc6789XY" + big);

    h = f_open(sr(p), fmode::ReadOnly);
    EXPECT_EQ(f_write(h, 0, sr("no")), -1);
    f_close(h);
    EXPECT_EQ(tmp.read("w.dat").substr(0, 3), "012");
}

TEST_F(FileOffsets, OffsetsPastFourGiB) {
    const long long k5G = 5LL << 30;
    std::string p = tmp.put("sparse.dat", "");
    if (::truncate(p.c_str(), k5G + 16) != 0) GTEST_SKIP() << "no large sparse file here";
    uint16_t h = f_open(sr(p), fmode::Update);
    ASSERT_NE(h, kBadHandle);
    EXPECT_EQ(f_size(h), k5G + 16);
    EXPECT_EQ(f_seek(h, k5G), 0);
    EXPECT_EQ(f_tell(h), k5G);
    EXPECT_FALSE(f_at_end(h));
    EXPECT_EQ(f_write(h, k5G + 4, sr("xyz")), 3);
    char buf[32] = {};
    EXPECT_EQ(f_read(h, k5G + 4, 3, buf), 3);
    EXPECT_EQ(std::string(buf, 3), "xyz");
    EXPECT_EQ(f_tell(h), k5G + 7);
    EXPECT_EQ(f_read(h, kPosNone, sizeof buf, buf), 9);
    EXPECT_TRUE(f_at_end(h));
    f_close(h);
    EXPECT_EQ(file_size(sr(p)), k5G + 16);
}

// ---------------------------------------------------------------- whole files

TEST_F(FileWhole, ReplaceIsWholeAndLeavesNoTemporaryFile) {
    std::string p = tmp.put("r.txt", "the old content, longer than the new one\r\n");
    EXPECT_EQ(file_write(sr(p), kWriteReplace, sr("new")), 0);
    EXPECT_EQ(tmp.read("r.txt"), "new");
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(tmp.path)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"r.txt"});

    EXPECT_EQ(file_write(sr(at("made.txt")), kWriteReplace, sr("fresh")), 0);
    EXPECT_EQ(tmp.read("made.txt"), "fresh");

    EXPECT_EQ(file_write(sr(p), kWriteReplace, sr_empty()), 0);
    EXPECT_FALSE(tmp.exists("r.txt"));
}

TEST_F(FileWhole, WriteAtAnOffset) {
    struct Case {
        std::string before;
        long long off;
        std::string text, after;
    };
    const Case cases[] = {
        {"hello world", 6, "WORLD", "hello WORLD"},
        {"hello", kPosNone, "!", "hello!"},
        {"hello", 0, "", "hello"},  // an empty text writes nothing
        {"ab", 4, "cd", std::string("ab\0\0cd", 6)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.after);
        std::string p = tmp.put("o.txt", c.before);
        EXPECT_EQ(file_write(sr(p), c.off, sr(c.text)), 0);
        EXPECT_EQ(tmp.read("o.txt"), c.after);
    }
    EXPECT_EQ(file_write(sr(at("new.txt")), 0, sr("n")), 0);
    EXPECT_EQ(tmp.read("new.txt"), "n");
    EXPECT_EQ(file_write(sr(at("nodir/x.txt")), 0, sr("n")), ier::FileNotFound);
}

TEST_F(FileWhole, AppendLineAddsCrLf) {
    std::string p = at("log.txt");
    EXPECT_EQ(file_append_line(sr(p), sr("one")), 0);
    EXPECT_EQ(file_append_line(sr(p), sr("")), 0);
    EXPECT_EQ(file_append_line(sr(p), sr("two")), 0);
    EXPECT_EQ(tmp.read("log.txt"), "one\r\n\r\ntwo\r\n");
}

TEST_F(FileWhole, ReadWholeOrPart) {
    std::string p = tmp.put("w.txt", "0123456789");
    struct Case {
        long long off, count;
        std::string text;
    };
    const Case cases[] = {{0, -1, "0123456789"}, {3, 4, "3456"}, {8, -1, "89"}, {8, 10, "89"}, {20, -1, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        StrRef r = file_read(sr(p), c.off, c.count);
        ASSERT_TRUE(sr_ok(r)) << sr_status(r);
        EXPECT_EQ(str(r), c.text);
    }
    EXPECT_EQ(sr_status(file_read(sr(at("none.txt")))), ier::FileNotFound);
    EXPECT_EQ(file_size(sr(p)), 10);
    EXPECT_EQ(file_size(sr(at("none.txt"))), 0);

    std::string big = tmp.put("big.txt", std::string(70000, 'b'));
    EXPECT_EQ(sr_status(file_read(sr(big))), ier::STRINGTOOLONG);
    EXPECT_EQ(str(file_read(sr(big), 69990)), std::string(10, 'b'));

    std::string mid = tmp.put("mid.txt", std::string(1000, 'm'));
    ScratchMark m = fill_scratch(200);
    EXPECT_EQ(sr_status(file_read(sr(mid))), ier::OUTOFMEMORY);
    scr_release(m);
}

TEST_F(FileWhole, ReadAsOneLine) {
    struct Case {
        std::string bytes, joiner, text;
    };
    const Case cases[] = {
        {"a\r\nb\nc", "|", "a|b|c"},
        {"a\r\n\r\nb\r\n", ":", "a::b:"},
        {"a\rb", "|", "a\rb"},  // a lone CR is not a line end here
        {"a\nb", "", "ab"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        std::string p = tmp.put("j.txt", c.bytes);
        EXPECT_EQ(str(file_read_joined(sr(p), sr(c.joiner))), c.text);
    }
}

// ---------------------------------------------------------------- line queue

TEST_F(FileQueue, KindZeroQueuesEveryLineInFileOrder) {
    std::string p = tmp.put("q.txt", "first\r\nsecond\r\n\r\nlast");
    IER st = 99;
    EXPECT_EQ(file_lines_to_queue(sr(p), 0, 0, grp::QueLines, &st), 4);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(str(lines_join(2, sr(":"))), "first:second");
    EXPECT_EQ(str(lines_join(9, sr(","))), ",last") << "joined lines are taken off the queue";
    EXPECT_EQ(st_count(grp::QueLines), 0);
    EXPECT_EQ(file_lines_to_queue(sr(p), 0, 0, grp::QueLines, &st), 4);
    EXPECT_EQ(drain(grp::QueLines), (Lines{"first", "second", "", "last"}));
}

TEST_F(FileQueue, RecordKindsTakeOneRecord) {
    struct Case {
        const char* what;
        int kind, value;
        std::string bytes;
        Lines lines;  // empty: the call gives 0xFFFF
    };
    const Case cases[] = {
        {"kind 1: blanks count as zeros", 1, 3, " 3 text\r\n03 more\r\n 4 other\r\n3  thirty\r\nxx junk\r\n",
         {"text", "more"}},
        {"kind 1: record 0 from blank columns", 1, 0, "   zero\r\n 1 one\r\n", {"zero"}},
        {"kind 1: no such record", 1, 7, " 3 text\r\n", {}},
        {"kind 1: a non-number never matches", 1, -1, "ab text\r\n", {}},
        {"kind 2: columns 4 to the last but one", 2, 5, "\" 5hello\"\r\n\"05x\"\r\n\"06y\"\r\n", {"hello", "x"}},
        {"kind 3: four columns, text from column 6", 3, 12, "0012 x\r\n  12 y\r\n0013 z\r\n 120 w\r\n", {"x", "y"}},
        {"kind 4: text from column 3", 4, 7, "07abc\r\n 7def\r\n08no\r\n", {"abc", "def"}},
        {"kind 5: every line is record 0", 5, 0, "12 a\r\nb\r\n", {"12 a", "b"}},
        {"kind 5: no other record", 5, 12, "12 a\r\n", {}},
        {"kind 6: five columns, whole line", 6, 42, "00042rest\r\n   42\r\n00043no\r\n", {"00042rest", "   42"}},
        {"a kind above 6 is kind 0", 9, 5, " 5 a\r\nb\r\n", {" 5 a", "b"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::string p = tmp.put("k.ppn", c.bytes);
        IER st = 99;
        int n = file_lines_to_queue(sr(p), c.kind, c.value, grp::QueLines, &st);
        EXPECT_EQ(st, 0);
        EXPECT_EQ(n, c.lines.empty() ? 0xFFFF : static_cast<int>(c.lines.size()));
        EXPECT_EQ(drain(grp::QueLines), c.lines);
    }
}

TEST_F(FileQueue, MissingNameIsFoundOnTheSearchPath) {
    tmp.put("dir2/only2.txt", "from two\r\n");
    tmp.put("dir1/both.txt", "from one\r\n");
    tmp.put("dir2/both.txt", "from two\r\n");
    tmp.put("dir2/sub/deep.txt", "deep\r\n");
    tmp.put("cwd/.keep", "");
    ASSERT_EQ(env_set(env::DocPath, at("dir1") + "," + at("dir2")), 0);
    test::InFolder in(at("cwd"));
    struct Case {
        const char* name;
        Lines lines;
    };
    const Case cases[] = {
        {"only2.txt", {"from two"}},
        {"both.txt", {"from one"}},
        {"sub/deep.txt", {}},  // a name with a folder part is not looked up
        {"nowhere.txt", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int n = file_lines_to_queue(sr(c.name), 0, 0, grp::QueLines);
        EXPECT_EQ(n, c.lines.empty() ? 0xFFFF : static_cast<int>(c.lines.size()));
        EXPECT_EQ(drain(grp::QueLines), c.lines);
    }
    EXPECT_EQ(origin_status(), 0);  // lookups are quiet
}

TEST_F(FileQueue, FullTableGives159AndLeavesTheQueueAsItWas) {
    struct Case {
        const char* what;
        int items_left;  // -1: the table as it is
        int lines;
        size_t len;
    };
    const Case cases[] = {
        {"more lines than items left", 5, 10, 3},
        {"more lines than the table holds", -1, 3000, 1},
        {"more text than the table holds", -1, 40, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        st_clear(grp::QueLines);
        st_clear(grp::Transfer);
        ASSERT_EQ(st_push(grp::QueLines, sr("keep1")), 0);
        ASSERT_EQ(st_push(grp::QueLines, sr("keep2")), 0);
        if (c.items_left >= 0) {
            while (st_push(grp::Transfer, sr("f")) == 0) {}
            for (int i = 0; i < c.items_left; i++) st_pop(grp::Transfer);
        }
        std::string bytes;
        for (int i = 0; i < c.lines; i++) bytes += std::string(c.len, static_cast<char>('a' + i % 26)) + "\r\n";
        std::string p = tmp.put("full.txt", bytes);
        int items = st_items_total();
        size_t text = st_text_total();
        IER st = 0;
        EXPECT_EQ(file_lines_to_queue(sr(p), 0, 0, grp::QueLines, &st), 0xFFFF);
        EXPECT_EQ(st, ier::STROUTBOUND);
        EXPECT_EQ(queue_items(grp::QueLines), (Lines{"keep1", "keep2"}));
        EXPECT_EQ(st_items_total(), items);
        EXPECT_EQ(st_text_total(), text);
        EXPECT_EQ(str(st_top(grp::QueLines)), "keep1");
    }
}

TEST_F(FileQueue, OverLongLineFailsTheWholeFile) {
    std::string p = tmp.put("long.ppn", " 1 a\r\n 1 " + std::string(70000, 'x') + "\r\n 1 b\r\n");
    IER st = 0;
    EXPECT_EQ(file_lines_to_queue(sr(p), 1, 1, grp::QueLines, &st), 0xFFFF);
    EXPECT_EQ(st, ier::STRINGTOOLONG);
    EXPECT_EQ(st_count(grp::QueLines), 0);
}

TEST_F(FileQueue, ReadErrorIsNotTakenForTheEnd) {
    // Reading this file from its start fails (the first page of the address
    // space is never mapped): the lines read so far are not the file.
    if (::access("/proc/self/mem", R_OK) != 0) GTEST_SKIP() << "no /proc";
    ASSERT_EQ(st_push(grp::QueLines, sr("keep")), 0);
    IER st = 0;
    EXPECT_EQ(file_lines_to_queue(sr("/proc/self/mem"), 0, 0, grp::QueLines, &st), 0xFFFF);
    EXPECT_EQ(st, ier::DISKREADERROR);
    EXPECT_EQ(queue_items(grp::QueLines), Lines{"keep"});
}

// ---------------------------------------------------------------- names

TEST_F(FileNames, AnyCaseAndEitherSeparator) {
    tmp.put("App/Data/CODICC.DAT", "one\r\ntwo\r\n");
    test::InFolder in(tmp.path);
    const std::string names[] = {
        tmp.path + "/app\\DATA\\codicc.dat",
        tmp.path + "/APP/data/CoDiCc.dat",
        "app\\data\\Codicc.DAT",
        "APP/DATA/CODICC.DAT",
    };
    for (const std::string& n : names) {
        SCOPED_TRACE(n);
        uint16_t h = f_open(sr(n), fmode::ReadOnly);
        ASSERT_NE(h, kBadHandle);
        EXPECT_EQ(str(f_read_line(h)), "one");
        f_close(h);
        EXPECT_EQ(file_size(sr(n)), 10);
        EXPECT_EQ(file_lines_to_queue(sr(n), 0, 0, grp::QueLines), 2);
        st_clear(grp::QueLines);
        std::string folder = n.substr(0, n.find_last_of("\\/") + 1);
        EXPECT_EQ(nul_names(file_find(sr(folder + "*.dat"))), std::set<std::string>{"CODICC.DAT"});
    }
    // Writing through another spelling changes the one file.
    EXPECT_EQ(file_append_line(sr("app\\data\\codicc.dat"), sr("three")), 0);
    EXPECT_EQ(file_write(sr("APP/Data/codicc.DAT"), 0, sr("ONE")), 0);
    EXPECT_EQ(tmp.read("App/Data/CODICC.DAT"), "ONE\r\ntwo\r\nthree\r\n");
    EXPECT_EQ(file_write(sr("app/DATA/CODICC.dat"), kWriteReplace, sr("whole")), 0);
    EXPECT_EQ(tmp.read("App/Data/CODICC.DAT"), "whole");
    std::vector<std::string> all;
    for (const auto& e : std::filesystem::recursive_directory_iterator(tmp.path))
        all.push_back(std::filesystem::relative(e.path(), tmp.path).string());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (std::vector<std::string>{"App", "App/Data", "App/Data/CODICC.DAT"}));

    // The search path finds it too, its folders spelt in another case.
    ASSERT_EQ(env_set(env::DocPath, "nothere," + tmp.path + "\\APP\\DATA"), 0);
    test::InFolder away(tmp.path + "/App");
    EXPECT_EQ(file_lines_to_queue(sr("codicc.dat"), 0, 0, grp::QueLines), 1);
}

// ---------------------------------------------------------------- folders

TEST_F(FileFolders, FindListsMatchingFileNames) {
    tmp.put("f/a.txt", "");
    tmp.put("f/B.TXT", "");
    tmp.put("f/c.dat", "");
    tmp.put("f/d.txt/inside", "");  // a folder, not a file
    struct Case {
        const char* pattern;
        std::set<std::string> names;  // empty: 164
    };
    const Case cases[] = {
        {"*.txt", {"a.txt", "B.TXT"}},
        {"?.DAT", {"c.dat"}},
        {"*.*", {"a.txt", "B.TXT", "c.dat"}},
        {"*.none", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        StrRef r = file_find(sr(at("f\\") + c.pattern));
        if (c.names.empty()) {
            EXPECT_EQ(sr_status(r), ier::FileNotFound);
        } else {
            EXPECT_EQ(nul_names(r), c.names);
        }
    }
}

TEST_F(FileFolders, MakeWithParents) {
    test::InFolder in(tmp.path);
    struct Case {
        std::string path, check;
    };
    const Case cases[] = {
        {at("abs/b/c"), "abs/b/c"},
        {"rel/b/c", "rel/b/c"},
        {"back\\slash\\leaf\\", "back/slash/leaf"},
        {"abs/b", "abs/b"},  // already there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(folder_make_all(sr(c.path)), 0);
        EXPECT_TRUE(std::filesystem::is_directory(at(c.check)));
    }
    err_detail_clear();
    EXPECT_EQ(folder_make_all(sr("plainname")), ier::BADINPUTDATA);
    EXPECT_EQ(str(err_detail_get()), "plainname");
    EXPECT_FALSE(tmp.exists("plainname"));

    EXPECT_EQ(folder_make(sr("one")), 0);
    EXPECT_EQ(folder_make(sr("one")), 0xFFFF);
    EXPECT_EQ(folder_make(sr("two/three")), 0xFFFF);
}

TEST_F(FileFolders, CurrentAndChange) {
    tmp.put("sub/x", "");
    test::InFolder in(tmp.path);
    EXPECT_EQ(folder_change(sr("SUB")), 0);
    EXPECT_EQ(std::filesystem::path(str(folder_current())), std::filesystem::canonical(at("sub")));
    EXPECT_NE(folder_change(sr("missing")), 0);
}

TEST_F(FileFolders, DeleteAndRename) {
    std::string a = tmp.put("a.txt", "A");
    tmp.put("b.txt", "B");
    EXPECT_EQ(file_rename(sr(a), sr(at("c.txt"))), 0);
    EXPECT_EQ(tmp.read("c.txt"), "A");
    EXPECT_NE(file_rename(sr(at("c.txt")), sr(at("b.txt"))), 0);  // never over another file
    EXPECT_EQ(tmp.read("b.txt"), "B");
    EXPECT_EQ(file_delete(sr(at("C.TXT"))), 0);
    EXPECT_FALSE(tmp.exists("c.txt"));
    EXPECT_NE(file_delete(sr(at("c.txt"))), 0);
}

TEST_F(FileFolders, TemporaryNameIsNewAndInTheTemporaryFolder) {
    const char* old = std::getenv("TMPDIR");
    std::string saved = old ? old : "";
    ASSERT_EQ(setenv("TMPDIR", tmp.path.c_str(), 1), 0);
    std::string a = str(temp_file_name(sr("report.txt")));
    std::string b = str(temp_file_name(sr("report.txt")));
    std::string c = str(temp_file_name(sr("sub\\name.dat")));
    if (old) setenv("TMPDIR", saved.c_str(), 1);
    else unsetenv("TMPDIR");
    for (const std::string& n : {a, b}) {
        EXPECT_EQ(n.rfind(tmp.path + "/", 0), 0u) << n;
        EXPECT_GT(n.size(), tmp.path.size() + 1 + 10) << n;
        EXPECT_EQ(n.substr(n.size() - 10), "report.txt");
        EXPECT_EQ(n.find('/', tmp.path.size() + 1), std::string::npos) << n;
    }
    EXPECT_NE(a, b);
    EXPECT_EQ(c.rfind(tmp.path + "/", 0), 0u) << c;
    EXPECT_EQ(c.substr(c.size() - 8), "name.dat");
    EXPECT_EQ(c.find('\\'), std::string::npos) << c;
}

}  // namespace
}  // namespace rt
