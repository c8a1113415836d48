// Test support: the runtime stores built for one test, a temporary folder,
// and a message-box recorder.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/core/types.h"

namespace rt::test {

// Builds the runtime stores before each test and tears them down after it,
// failing the test when a block was leaked.
class RtTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// A fresh folder under the temporary folder, removed with its content.
struct TempDir {
    std::string path;
    TempDir();
    ~TempDir();
    // Writes a file (creating folders) and returns its full path.
    std::string put(const std::string& rel, const std::string& content) const;
    std::string read(const std::string& rel) const;
    bool exists(const std::string& rel) const;
};

// Changes the current folder for the life of the object.
struct InFolder {
    std::string old;
    explicit InFolder(const std::string& path);
    ~InFolder();
};

// Records every message box instead of writing it; answers with `answer`.
struct Box {
    std::string caption, text;
    int kind;
};
struct BoxRecorder {
    std::vector<Box> boxes;
    int answer = 1;  // box::Ok
    BoxRecorder();
    ~BoxRecorder();
};

inline std::string str(StrRef s) { return std::string(sv(s)); }

}  // namespace rt::test
