#include "platform/RollingLogFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "TempDir.h"

namespace vantel {
namespace {

#ifdef _WIN32
const std::string kEol = "\r\n";
#else
const std::string kEol = "\n";
#endif

std::string Read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::filesystem::path Numbered(const std::filesystem::path& path, int number) {
    std::filesystem::path numbered = path;
    numbered += "." + std::to_string(number);
    return numbered;
}

TEST(RollingLogFile, WritesWholeLinesIntoAFolderItMakesWhateverItsName) {
    test::TempDir dir;
    // A user folder may have any name: this one is not in any ANSI code page at once.
    const std::filesystem::path path =
        dir.path() / std::filesystem::u8path(u8"Zo\u00eb \u2709") / "logs" / "vantel.log";
    RollingLogFile log(path);
    ASSERT_TRUE(log.Ready()) << log.LastError();
    EXPECT_TRUE(std::filesystem::is_regular_file(path));
    log.WriteLine("2026-01-02 03:04:05 first");
    log.WriteLine("2026-01-02 03:04:06 second");
    EXPECT_EQ(Read(path), "2026-01-02 03:04:05 first" + kEol + "2026-01-02 03:04:06 second" + kEol);
    EXPECT_EQ(log.LastError(), "");
}

TEST(RollingLogFile, RollsAtItsSizeKeepsThreeFilesAndDropsTheOldest) {
    test::TempDir dir;
    const std::filesystem::path path = dir.path() / "vantel.log";
    const auto line = [](int n) {
        return std::string(n < 10 ? "line 0" : "line ") + std::to_string(n);
    };
    const std::uint64_t lineBytes = line(0).size() + kEol.size();
    {
        RollingLogFile log(path, 3 * lineBytes);
        for (int n = 0; n < 10; ++n) {
            log.WriteLine(line(n));
        }
    }
    const auto lines = [&](int from, int to) {
        std::string text;
        for (int n = from; n <= to; ++n) {
            text += line(n) + kEol;
        }
        return text;
    };
    EXPECT_EQ(Read(path), lines(9, 9));
    EXPECT_EQ(Read(Numbered(path, 1)), lines(6, 8));
    EXPECT_EQ(Read(Numbered(path, 2)), lines(3, 5));
    EXPECT_FALSE(std::filesystem::exists(Numbered(path, 3))) << "lines 0 to 2 are dropped";

    // The next run counts what the file holds already.
    RollingLogFile again(path, 3 * lineBytes);
    for (int n = 10; n < 13; ++n) {
        again.WriteLine(line(n));
    }
    EXPECT_EQ(Read(path), lines(12, 12));
    EXPECT_EQ(Read(Numbered(path, 1)), lines(9, 11));
    EXPECT_EQ(Read(Numbered(path, 2)), lines(6, 8));
}

TEST(RollingLogFile, ALogThatCannotBeWrittenLosesItsLinesAndSaysWhy) {
    test::TempDir dir;
    const std::filesystem::path taken = dir.path() / std::filesystem::u8path(u8"\u00e9t\u00e9");
    std::ofstream(taken).put('x');  // a file where the log's folder would be
    RollingLogFile log(taken / "vantel.log");
    EXPECT_FALSE(log.Ready());
    log.WriteLine("lost");
    EXPECT_EQ(log.LastError().rfind("cannot open ", 0), 0u) << log.LastError();
    EXPECT_EQ(Read(taken), "x");
}

#ifndef _WIN32
TEST(RollingLogFile, OnlyItsOwnerMayReadItWhetherNewOldOrRolled) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const fs::path existing = dir.path() / "existing.log";
    std::ofstream(existing) << "older line\n";
    fs::permissions(existing, fs::perms::all);
    const fs::path fresh = dir.path() / "fresh.log";
    for (const fs::path& path : {fresh, existing}) {
        SCOPED_TRACE(path.string());
        RollingLogFile log(path, 64);
        log.WriteLine(std::string(40, 'a'));
        log.WriteLine(std::string(40, 'b'));  // rolls
        for (const fs::path& file : {path, Numbered(path, 1)}) {
            EXPECT_EQ(fs::status(file).permissions() & fs::perms::mask,
                      fs::perms::owner_read | fs::perms::owner_write)
                << file;
        }
    }
}
#endif

}  // namespace
}  // namespace vantel
