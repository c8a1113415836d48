#include "tests/support/rtfixture.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "runtime/core/msgbox.h"
#include "runtime/core/startup.h"

namespace rt::test {

void RtTest::SetUp() { ASSERT_EQ(rt_stores_init(), 0); }

void RtTest::TearDown() { EXPECT_EQ(rt_stores_teardown(), 0) << "a block was leaked"; }

TempDir::TempDir() {
    const char* t = getenv("TMPDIR");
    std::string pat = std::string(t && *t ? t : "/tmp") + "/qvtest.XXXXXX";
    std::vector<char> buf(pat.begin(), pat.end());
    buf.push_back(0);
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp");
    path = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
}

std::string TempDir::put(const std::string& rel, const std::string& content) const {
    std::filesystem::path p = std::filesystem::path(path) / rel;
    std::filesystem::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
    return p.string();
}

std::string TempDir::read(const std::string& rel) const {
    std::ifstream f(std::filesystem::path(path) / rel, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool TempDir::exists(const std::string& rel) const {
    return std::filesystem::exists(std::filesystem::path(path) / rel);
}

InFolder::InFolder(const std::string& path) {
    old = std::filesystem::current_path().string();
    std::filesystem::current_path(path);
}
InFolder::~InFolder() { std::filesystem::current_path(old); }

namespace {
BoxRecorder* g_rec = nullptr;
int record_box(StrRef text, StrRef caption, int kind) {
    g_rec->boxes.push_back({str(caption), str(text), kind});
    return g_rec->answer;
}
}  // namespace

BoxRecorder::BoxRecorder() {
    g_rec = this;
    msgbox_set_port(record_box);
}
BoxRecorder::~BoxRecorder() {
    msgbox_set_port(nullptr);
    g_rec = nullptr;
}

}  // namespace rt::test
