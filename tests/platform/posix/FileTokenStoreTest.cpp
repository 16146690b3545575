// The token files: what is kept, what is refused and how the refusal reads.
#include "platform/posix/FileTokenStore.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "TempDir.h"

namespace vantel {
namespace {

class FileTokenStoreTest : public testing::Test {
  protected:
    FileTokenStoreTest() : dirPath_(dir_.path() / "state" / "tokens"), store_(dirPath_) {}
    test::TempDir dir_;
    std::filesystem::path dirPath_;
    FileTokenStore store_;
};

TEST_F(FileTokenStoreTest, SavedRecordsComeBackPrivateAndReplacedWhole) {
    std::string error;
    EXPECT_FALSE(store_.Load("a@example.test").record.has_value());
    EXPECT_EQ(store_.Load("a@example.test").problem, "");
    ASSERT_TRUE(store_.Save("a@example.test", "first", error)) << error;
    ASSERT_TRUE(store_.Save("a@example.test", "second\n\0binary", error)) << error;
    EXPECT_EQ(store_.Load("a@example.test").record, std::string("second\n"));

    struct stat status {};
    ASSERT_EQ(stat(dirPath_.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(stat((dirPath_ / "a@example.test").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    ASSERT_TRUE(store_.Remove("a@example.test", error)) << error;
    EXPECT_FALSE(store_.Load("a@example.test").record.has_value());
    EXPECT_TRUE(store_.Remove("a@example.test", error)) << "removing nothing is no failure";
}

TEST_F(FileTokenStoreTest, KeysThatCouldLeaveTheDirectoryAreRefused) {
    const char* bad[] = {"",    "..",   "../x", "a/b",  "/etc/passwd", "A@example.test",
                         "a b", "a\nb", "a..b", "x\\y", "tab\t",       "%2e%2e"};
    for (const char* key : bad) {
        SCOPED_TRACE(key);
        std::string error;
        EXPECT_FALSE(store_.Save(key, "x", error));
        EXPECT_NE(error, "");
        EXPECT_FALSE(store_.Load(key).record.has_value());
        EXPECT_NE(store_.Load(key).problem, "");
        EXPECT_FALSE(store_.Remove(key, error));
        EXPECT_EQ(store_.Generation(key), 0u);
    }
    EXPECT_FALSE(std::filesystem::exists(dirPath_));
    EXPECT_TRUE(FileTokenStore::ValidKey("server-1.imap_4@example.test"));
}

TEST_F(FileTokenStoreTest, FilesOthersCouldReadAreRefusedWithTheFix) {
    std::string error;
    ASSERT_TRUE(store_.Save("k", "secret", error)) << error;
    const std::string file = (dirPath_ / "k").string();
    struct Case {
        const char* name;
        mode_t dirMode;
        mode_t fileMode;
        std::string fix;
    };
    const Case cases[] = {
        {"group may read the file", 0700, 0640, "chmod 600 " + file},
        {"others may read the file", 0700, 0604, "chmod 600 " + file},
        {"others may write the file", 0700, 0602, "chmod 600 " + file},
        {"group may open the directory", 0750, 0600, "chmod 700 " + dirPath_.string()},
        {"others may open the directory", 0701, 0600, "chmod 700 " + dirPath_.string()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(chmod(file.c_str(), c.fileMode), 0);
        ASSERT_EQ(chmod(dirPath_.c_str(), c.dirMode), 0);
        const auto loaded = store_.Load("k");
        EXPECT_FALSE(loaded.record.has_value());
        EXPECT_NE(loaded.problem.find(c.fix), std::string::npos) << loaded.problem;
        EXPECT_EQ(loaded.problem.find("secret"), std::string::npos);
        if (c.dirMode != 0700) {
            EXPECT_FALSE(store_.Save("k", "new", error)) << "no save into an open directory";
        }
    }
    ASSERT_EQ(chmod(dirPath_.c_str(), 0700), 0);
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    EXPECT_EQ(store_.Load("k").record, std::string("secret"));
}

TEST_F(FileTokenStoreTest, LinksAndOtherFilesAreNoRecords) {
    std::string error;
    ASSERT_TRUE(store_.Save("real", "secret", error)) << error;
    std::filesystem::create_symlink(dirPath_ / "real", dirPath_ / "link");
    std::filesystem::create_directory(dirPath_ / "dir");
    {
        std::ofstream big(dirPath_ / "big");
        big << std::string(FileTokenStore::kMaxRecord + 1, 'x');
    }
    chmod((dirPath_ / "big").c_str(), 0600);
    for (const char* key : {"link", "dir", "big"}) {
        SCOPED_TRACE(key);
        const auto loaded = store_.Load(key);
        EXPECT_FALSE(loaded.record.has_value());
        EXPECT_NE(loaded.problem.find((dirPath_ / key).string()), std::string::npos)
            << loaded.problem;
    }
}

TEST_F(FileTokenStoreTest, GenerationChangesWithEverySaveAndRemoval) {
    std::string error;
    std::vector<std::uint64_t> seen{store_.Generation("k")};
    for (const char* record : {"a", "a", "bb", "a"}) {
        ASSERT_TRUE(store_.Save("k", record, error)) << error;
        seen.push_back(store_.Generation("k"));
        EXPECT_EQ(store_.Generation("k"), seen.back()) << "stable while nothing changes";
    }
    ASSERT_TRUE(store_.Remove("k", error));
    seen.push_back(store_.Generation("k"));
    for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_NE(seen[i], seen[i - 1]) << i;
        EXPECT_NE(seen[i], 0u);
    }
    // Another process's store on the same directory sees the same.
    FileTokenStore other(dirPath_);
    ASSERT_TRUE(other.Save("k", "from elsewhere", error));
    EXPECT_NE(store_.Generation("k"), seen.back());
    EXPECT_EQ(store_.Load("k").record, std::string("from elsewhere"));
}

TEST_F(FileTokenStoreTest, LocationAndDefaultDirectoryFollowTheEnvironment) {
    const char* home = std::getenv("HOME");
    const char* state = std::getenv("XDG_STATE_HOME");
    const std::string oldHome = home ? home : "";
    const std::string oldState = state ? state : "";
    setenv("HOME", "/home/someone", 1);
    unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(FileTokenStore::DefaultDirectory(), "/home/someone/.local/state/vantel/tokens");
    EXPECT_EQ(FileTokenStore(FileTokenStore::DefaultDirectory()).Location(),
              "~/.local/state/vantel/tokens");
    setenv("XDG_STATE_HOME", "relative/not/used", 1);
    EXPECT_EQ(FileTokenStore::DefaultDirectory(), "/home/someone/.local/state/vantel/tokens");
    setenv("XDG_STATE_HOME", "/var/state", 1);
    EXPECT_EQ(FileTokenStore::DefaultDirectory(), "/var/state/vantel/tokens");
    EXPECT_EQ(FileTokenStore("/home/someoneelse/x").Location(), "/home/someoneelse/x");
    setenv("HOME", oldHome.c_str(), 1);
    if (state) {
        setenv("XDG_STATE_HOME", oldState.c_str(), 1);
    } else {
        unsetenv("XDG_STATE_HOME");
    }
}

}  // namespace
}  // namespace vantel
