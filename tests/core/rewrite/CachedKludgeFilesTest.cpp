#include "core/rewrite/CachedKludgeFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "TempDir.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;

class CachedKludgeFilesTest : public ::testing::Test {
  protected:
    std::string Path(const char* name) const { return (dir_.path() / name).string(); }
    void Write(const char* name, const std::string& content) {
        std::ofstream(Path(name), std::ios::binary) << content;
    }
    /// New text of the same length under the old modification time: only a file read
    /// afresh shows it.
    void RewriteUnnoticed(const char* name, const std::string& content) {
        const fs::file_time_type written = fs::last_write_time(Path(name));
        Write(name, content);
        fs::last_write_time(Path(name), written);
    }
    std::string Read(const char* name) {
        std::string content = "<unreadable>";
        files_.Read(Path(name), content);
        return content;
    }

    test::TempDir dir_;
    CachedKludgeFiles files_{2, 8};
};

TEST_F(CachedKludgeFilesTest, ServesUnchangedFilesFromMemoryWithinItsBounds) {
    Write("a", "a1\n");
    Write("b", "b1\n");
    EXPECT_EQ(Read("a"), "a1\n");
    RewriteUnnoticed("a", "a2\n");
    EXPECT_EQ(Read("a"), "a1\n");
    RewriteUnnoticed("a", "a22\n");  // the size tells
    EXPECT_EQ(Read("a"), "a22\n");
    EXPECT_EQ(Read("b"), "b1\n");
    RewriteUnnoticed("a", "a33\n");
    EXPECT_EQ(Read("a"), "a22\n");
    // Over two files: b, read longest ago, goes.
    Write("c", "c1\n");
    EXPECT_EQ(Read("c"), "c1\n");
    RewriteUnnoticed("b", "b2\n");
    EXPECT_EQ(Read("b"), "b2\n");
    EXPECT_EQ(files_.cachedFiles(), 2u);
    // Over eight bytes: c, then b go, leaving only the new file.
    Write("d", "ddddd\n");
    EXPECT_EQ(Read("d"), "ddddd\n");
    EXPECT_EQ(files_.cachedFiles(), 1u);
    EXPECT_EQ(files_.cachedBytes(), 6u);
    // Bigger than the whole cache: read every time, displacing nothing.
    Write("big", "0123456789\n");
    EXPECT_EQ(Read("big"), "0123456789\n");
    EXPECT_EQ(files_.cachedBytes(), 6u);

    // A cached file turned into a directory is unreadable, and no longer held.
    fs::remove(Path("d"));
    fs::create_directory(Path("d"));
    EXPECT_EQ(Read("d"), "<unreadable>");
    EXPECT_EQ(files_.cachedFiles(), 0u);
}

}  // namespace
}  // namespace vantel
