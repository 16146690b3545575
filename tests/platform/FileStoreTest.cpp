#include "platform/store/FileStore.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "StoreFactory.h"
#include "TempDir.h"
#include "platform/SettingsStoreConformance.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <csignal>
#endif

namespace vantel {

namespace {

constexpr StoreRoot kUser = StoreRoot::CurrentUser;
constexpr StoreRoot kMachine = StoreRoot::LocalMachine;
const std::string kHeader = "Windows Registry Editor Version 5.00\r\n\r\n";

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

// Every backend of the platform: FileStore everywhere, the registry too on Windows.
INSTANTIATE_TEST_SUITE_P(Stores, SettingsStoreConformance,
                         testing::ValuesIn(test::AllStoreFactories()), test::StoreFactoryName);

class FileStoreTest : public testing::Test {
  protected:
    std::filesystem::path File() const { return dir_.path() / "config" / "settings.reg"; }

    test::TempDir dir_;
};

TEST_F(FileStoreTest, ValuesPersistAsRegTextWithCrlf) {
    const std::string text = "line1\r\nline2 \"q\" \\ caf\xC3\xA9\t";
    const std::vector<std::uint8_t> blob = {0, 1, 2, 0xFE, 0xFF};
    {
        FileStore store(File());
        ASSERT_TRUE(store.WriteValueText("Settings", "Host", "mail.example", kUser));
        ASSERT_TRUE(store.WriteValueText("Settings", "Text", text, kUser));
        ASSERT_TRUE(store.WriteBinaryValue("Settings", "Blob", blob, kMachine));
        ASSERT_TRUE(store.WriteValueText("Settings\\Gone", "x", "y", kUser));
        ASSERT_TRUE(store.DeleteStoreKey("Settings\\Gone", kUser));
    }
    const std::string bytes = ReadBytes(File());
    EXPECT_TRUE(StartsWith(bytes, kHeader + "[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel\\"
                                            "Settings]\r\n\"Host\"=\"mail.example\"\r\n"));
    for (std::size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1)) {
        EXPECT_EQ(bytes[i - 1], '\r') << "at byte " << i;
    }

    FileStore store(File());
    ASSERT_TRUE(store.Load());
    EXPECT_EQ(store.ReadValueText("settings", "TEXT", "", kUser), text);
    EXPECT_EQ(store.ReadBinaryValue("Settings", "Blob", kMachine), blob);
    EXPECT_EQ(store.ReadValueText("Settings\\Gone", "x", "none", kUser), "none");
}

TEST_F(FileStoreTest, MissingFileIsEmptyUntilTheFirstWrite) {
    FileStore store(File());
    ASSERT_TRUE(store.Load());
    EXPECT_EQ(store.ReadValueText("Settings", "Host", "default", kUser), "default");
    EXPECT_FALSE(store.DeleteStoreKey("Settings", kUser));
    EXPECT_FALSE(std::filesystem::exists(File()));

    ASSERT_TRUE(store.WriteValueText("Settings", "Host", "h", kUser));
    EXPECT_TRUE(std::filesystem::exists(File()));
#ifndef _WIN32
    using std::filesystem::perms;
    EXPECT_EQ(std::filesystem::status(File()).permissions() & perms::all,
              perms::owner_read | perms::owner_write);
#endif

    WriteBytes(File(), "");
    FileStore fromEmptyFile(File());
    EXPECT_TRUE(fromEmptyFile.Load());
}

TEST_F(FileStoreTest, StringReadAsBinaryEndsInNulAndDwordReadsAsRawBytes) {
    WriteBytes(File(), kHeader +
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Raderador\\Vantel]\r\n"
                           "\"Flag\"=dword:00000031\r\n\"Name\"=\"ab\"\r\n");
    FileStore store(File());
    EXPECT_EQ(store.ReadValueText("", "Flag", "", kMachine), "1");
    EXPECT_EQ(store.ReadBinaryValue("", "Name", kMachine),
              (std::vector<std::uint8_t>{'a', 'b', 0}));
}

TEST_F(FileStoreTest, UnparsableFileIsNeverWritten) {
    const std::string key = kHeader + "[HKEY_CURRENT_USER\\SOFTWARE\\Raderador\\Vantel]\r\n";
    const std::map<std::string, int> cases = {
        {"Windows Registry Editor Version 9\r\n", 1},
        {key + "\"a\"=hex:01,\\\r\n", 4},
        {key + "\"a\"=\"\\q\"\r\n", 4},
        {key + "\"a\"=\"1\"\r\n\"b\"=hex:0,1\r\n", 5},
        {key + "\x01\x02\xFF\xFE junk\r\n", 4},
    };
    for (const auto& [bytes, line] : cases) {
        SCOPED_TRACE(bytes);
        WriteBytes(File(), bytes);
        FileStore store(File());
        EXPECT_FALSE(store.Load());
        EXPECT_TRUE(
            StartsWith(store.LastError(), File().string() + ":" + std::to_string(line) + ": "))
            << store.LastError();
        EXPECT_TRUE(store.ReadOnly());
        EXPECT_FALSE(store.WriteValueText("Settings", "Host", "h", kUser));
        EXPECT_FALSE(store.WriteBinaryValue("Settings", "Blob", {1}, kUser));
        EXPECT_FALSE(store.DeleteStoreKey("", kUser));
        store.BeginUpdate();
        store.WriteValueText("Settings", "Host", "h", kUser);
        EXPECT_FALSE(store.EndUpdate());
        EXPECT_FALSE(store.Load());
        EXPECT_EQ(ReadBytes(File()), bytes);
    }
}

TEST_F(FileStoreTest, UnreadableFileFailsWithTheSystemsReason) {
    std::filesystem::create_directories(File());
    FileStore store(File());
    EXPECT_FALSE(store.Load());
    EXPECT_TRUE(StartsWith(store.LastError(), File().string() + ": ")) << store.LastError();
    EXPECT_FALSE(store.WriteValueText("Settings", "Host", "h", kUser));
    EXPECT_TRUE(std::filesystem::is_directory(File()));
}

TEST_F(FileStoreTest, FailedWriteIsReportedAndKeptInMemory) {
    const std::filesystem::path blocker = dir_.path() / "blocker";
    WriteBytes(blocker, "not a directory");
    FileStore store(blocker / "settings.reg");
    ASSERT_TRUE(store.Load());
    EXPECT_FALSE(store.WriteValueText("Settings", "Host", "h", kUser));
    EXPECT_NE(store.LastError().find(blocker.string()), std::string::npos) << store.LastError();
    EXPECT_EQ(store.ReadValueText("Settings", "Host", "", kUser), "h");

    store.BeginUpdate();
    EXPECT_TRUE(store.WriteValueText("Settings", "Port", "25", kUser));
    EXPECT_FALSE(store.EndUpdate());
    EXPECT_EQ(ReadBytes(blocker), "not a directory");
}

#ifndef _WIN32
TEST_F(FileStoreTest, WriteFailingMidwayLeavesTheOldFileWhole) {
    FileStore store(File());
    ASSERT_TRUE(store.WriteValueText("Settings", "Host", "old", kUser));
    const std::string before = ReadBytes(File());
    const std::string big(64 * 1024, 'x');

    // The file size limit makes the write stop with EFBIG part way through, even for root.
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = 4096;
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool written = store.WriteValueText("Settings", "Big", big, kUser);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(written);
    EXPECT_NE(store.LastError().find(File().string()), std::string::npos) << store.LastError();
    EXPECT_EQ(ReadBytes(File()), before);
    const auto entries = std::distance(std::filesystem::directory_iterator(File().parent_path()),
                                       std::filesystem::directory_iterator());
    EXPECT_EQ(entries, 1) << "temporary file left behind";
    EXPECT_EQ(store.ReadValueText("Settings", "Big", "", kUser), big);
}
#endif

TEST_F(FileStoreTest, UpdateGroupWritesOnceAtTheOutermostEnd) {
    FileStore store(File());
    store.BeginUpdate();
    store.BeginUpdate();
    ASSERT_TRUE(store.WriteValueText("Settings", "A", "1", kUser));
    EXPECT_TRUE(store.EndUpdate());
    ASSERT_TRUE(store.WriteValueText("Settings", "B", "2", kUser));
    EXPECT_FALSE(std::filesystem::exists(File()));
    EXPECT_TRUE(store.EndUpdate());

    FileStore reread(File());
    EXPECT_EQ(reread.ReadValueText("Settings", "A", "", kUser), "1");
    EXPECT_EQ(reread.ReadValueText("Settings", "B", "", kUser), "2");
}

TEST_F(FileStoreTest, KeysOutsideTheProductTreeAreKept) {
    const std::string foreign =
        "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
        "\"Path\"=hex(2):25,00,50,00,00,00\r\n"
        "\"List\"=hex(7):41,00,00,00,00,00\r\n"
        "\"N\"=dword:00000007\r\n";
    WriteBytes(File(), kHeader + "; hand-written\r\n" + foreign);
    FileStore store(File(), "SOFTWARE\\Raderador\\VantelTest\\Foreign");
    ASSERT_TRUE(store.WriteValueText("Settings", "Host", "h", kUser));

    // The foreign key is written as regedit writes it, so it comes back byte for byte.
    const std::string bytes = ReadBytes(File());
    EXPECT_NE(bytes.find(foreign + "\r\n"), std::string::npos) << bytes;
    EXPECT_NE(bytes.find("VantelTest\\Foreign\\Settings]\r\n\"Host\"=\"h\""), std::string::npos);
}

TEST(FileStoreDefaultPathTest, FollowsXdgConfigHomeThenHome) {
    std::map<std::string, std::string> env;
    const auto lookup = [&env](const char* name) -> const char* {
        const auto it = env.find(name);
        return it == env.end() ? nullptr : it->second.c_str();
    };
    EXPECT_EQ(FileStore::DefaultPath(lookup), std::filesystem::path());
    env["HOME"] = "/home/u";
    EXPECT_EQ(FileStore::DefaultPath(lookup),
              std::filesystem::path("/home/u/.config/vantel/settings.reg"));
    env["XDG_CONFIG_HOME"] = "";
    EXPECT_EQ(FileStore::DefaultPath(lookup),
              std::filesystem::path("/home/u/.config/vantel/settings.reg"));
    env["XDG_CONFIG_HOME"] = "/cfg";
    EXPECT_EQ(FileStore::DefaultPath(lookup), std::filesystem::path("/cfg/vantel/settings.reg"));
}

}  // namespace vantel
