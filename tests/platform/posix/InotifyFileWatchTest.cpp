// The settings file watch on real files: what a save, a hand edit and a stranger in the same
// directory look like to inotify, and folders that appear after the watch began.
#include "platform/posix/InotifyFileWatch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "LoopRunner.h"
#include "TempDir.h"

namespace vantel {
namespace {

namespace fs = std::filesystem;

// Long enough for any burst to have made its call.
constexpr std::uint32_t kSettleMs = FileWatch::kMaxWaitMs + FileWatch::kQuietMs;

class InotifyFileWatchTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(loop_.ok()); }

    /// Watches `file`; false, with `problem_` set, when that cannot start. The watch is
    /// dropped from its own callback when it ends.
    bool Watch(const fs::path& file) {
        watch_ = std::make_unique<InotifyFileWatch>(
            loop_, file, [this] { calls_.push_back(loop_.NowMs()); },
            [this](const std::string& why) {
                ended_.push_back(why);
                watch_.reset();
            });
        return watch_->Start(problem_);
    }
    /// As FileStore saves, a temporary file beside it renamed over it; without the flushes to
    /// disk, whose time would depend on the test machine.
    void Save(const fs::path& file, const std::string& text) {
        fs::path temp = file;
        temp += ".Xy7z2Q";
        std::ofstream(temp, std::ios::binary) << text;
        fs::rename(temp, file);
    }
    void WriteInPlace(const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary | std::ios::app) << text;
    }
    /// Runs the loop until `count` calls have come; false if they do not.
    bool CallsReach(std::size_t count) {
        return test::RunUntil(loop_, [&] { return calls_.size() >= count; });
    }
    /// CallsReach, then a while longer to catch any call too many.
    bool CallsSettleAt(std::size_t count) {
        const bool reached = CallsReach(count);
        const auto never = [] { return false; };
        test::RunUntil(loop_, never, kSettleMs);
        return reached && calls_.size() == count;
    }

    test::TempDir dir_;
    const fs::path file_ = dir_.path() / "settings.reg";
    EpollEventLoop loop_;
    std::vector<std::uint64_t> calls_;
    std::vector<std::string> ended_;
    std::string problem_;
    std::unique_ptr<InotifyFileWatch> watch_;
};

TEST_F(InotifyFileWatchTest, ASaveBurstMakesOneCallAfterItAndAnEditOrRemovalOneEach) {
    Save(file_, "before");
    ASSERT_TRUE(Watch(file_)) << problem_;

    // Saves far enough apart to be read as separate events, close enough to be one burst.
    int saves = 5;
    std::uint64_t lastSave = 0;
    const TimerId saver = loop_.StartTimer(FileWatch::kQuietMs / 4, true, [&] {
        Save(file_, "save " + std::to_string(saves));
        lastSave = loop_.NowMs();
        if (--saves == 0) {
            loop_.Quit();
        }
    });
    loop_.Run();
    loop_.StopTimer(saver);
    ASSERT_TRUE(CallsSettleAt(1)) << calls_.size() << " calls";
    EXPECT_GE(calls_[0] - lastSave, FileWatch::kQuietMs - 1) << "called before the burst ended";

    WriteInPlace(file_, "more");
    ASSERT_TRUE(CallsReach(2));
    fs::remove(file_);
    ASSERT_TRUE(CallsSettleAt(3));
    EXPECT_TRUE(ended_.empty());
}

TEST_F(InotifyFileWatchTest, OtherFilesInTheDirectoryAreIgnoredAndTheFileCreatedLaterIsSeen) {
    ASSERT_TRUE(Watch(file_)) << problem_;

    Save(dir_.path() / "other.reg", "saved beside it");
    WriteInPlace(dir_.path() / "settings.reg~", "a backup");
    WriteInPlace(dir_.path() / "settings.re", "a prefix of the name");
    fs::rename(dir_.path() / "settings.reg~", dir_.path() / "settings.reg.old");
    fs::create_directory(dir_.path() / "settings.reg.d");
    fs::remove(dir_.path() / "settings.re");
    ASSERT_TRUE(CallsSettleAt(0)) << calls_.size() << " calls";

    WriteInPlace(file_, "created by hand");
    ASSERT_TRUE(CallsReach(1));
    fs::rename(file_, dir_.path() / "moved.reg");
    ASSERT_TRUE(CallsSettleAt(2));
}

TEST_F(InotifyFileWatchTest, AFileWhereAFolderShouldBeIsRefusedWithWhy) {
    WriteInPlace(dir_.path() / "plain", "a file where the directory should be");
    for (const fs::path& file :
         {dir_.path() / "plain" / "settings.reg", dir_.path() / "plain" / "sub" / "settings.reg"}) {
        EXPECT_FALSE(Watch(file)) << file;
        EXPECT_EQ(problem_, (dir_.path() / "plain").string() + ": Not a directory");
        EXPECT_FALSE(watch_->Watching());
    }
}

// A first start: neither the file nor its folders are there yet.
TEST_F(InotifyFileWatchTest, FoldersThatAppearLaterAreFollowedDownToTheFile) {
    const fs::path top = dir_.path() / "home";
    const fs::path file = top / ".config" / "vantel" / "settings.reg";
    ASSERT_TRUE(Watch(file)) << problem_;
    EXPECT_TRUE(watch_->Watching());

    // One folder at a time, with strangers on the way: a file under a folder's name, a file
    // under the settings file's name one folder too high, a folder made and removed again.
    WriteInPlace(top, "not yet a folder");
    fs::remove(top);
    fs::create_directory(top);
    Save(top / "settings.reg", "too high");
    fs::create_directory(top / ".config");
    fs::create_directory(top / ".config" / "vantel");
    fs::remove(top / ".config" / "vantel");
    fs::create_directory(top / ".config" / "vantel");
    ASSERT_TRUE(CallsSettleAt(0)) << calls_.size() << " calls";

    Save(file, "first");
    ASSERT_TRUE(CallsReach(1));
    WriteInPlace(file, "more");
    ASSERT_TRUE(CallsSettleAt(2));
    EXPECT_TRUE(ended_.empty());
}

TEST_F(InotifyFileWatchTest, FoldersAndTheFileMadeAtOnceAreSeen) {
    const fs::path file = dir_.path() / "a" / "b" / "c" / "settings.reg";
    ASSERT_TRUE(Watch(file)) << problem_;
    fs::create_directories(file.parent_path());
    Save(file, "at once");
    ASSERT_TRUE(CallsSettleAt(1));
    Save(file, "again");
    ASSERT_TRUE(CallsSettleAt(2));
}

TEST_F(InotifyFileWatchTest, RemovingTheDirectoryEndsTheWatchOnceAndItsCallbackMayDropIt) {
    const fs::path sub = dir_.path() / "vantel";
    fs::create_directory(sub);
    Save(sub / "settings.reg", "x");
    ASSERT_TRUE(Watch(sub / "settings.reg")) << problem_;

    fs::remove_all(sub);
    ASSERT_TRUE(test::RunUntil(loop_, [&] { return !ended_.empty(); }));
    EXPECT_EQ(ended_, std::vector<std::string>{sub.string() + ": removed"});
    EXPECT_EQ(watch_, nullptr);
    // Gone too: the call the file's removal had due.
    fs::create_directory(sub);
    Save(sub / "settings.reg", "back");
    EXPECT_TRUE(CallsSettleAt(0));
}

}  // namespace
}  // namespace vantel
