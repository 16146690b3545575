// The settings file and the registry speak the same format: what FileStore writes imports
// with `reg import`, and what `reg export` writes loads in FileStore.
#include <windows.h>

#include <gtest/gtest.h>

#include "StoreFactory.h"
#include "TempDir.h"
#include "core/config/SettingsPersistence.h"
#include "platform/store/FileStore.h"
#include "platform/win32/RegistryStore.h"

namespace vantel {
namespace {

/// Runs a command line and returns its exit code, or -1 when it could not start.
int RunCommand(std::string commandLine) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, nullptr, &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, 60000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

struct Sample {
    const char* subkey;
    const char* name;
    std::string text;
};

const std::vector<Sample>& Samples() {
    static const std::vector<Sample> samples = {
        {"Settings", "DefaultPort", "25"},
        {"Settings", "Kludges0", "0 X-Mailer:"},
        {"Settings", "Subst0", "0 \"quoted\" and \\back\\slashes\\"},
        {"Settings", "Empty", ""},
        {"Settings", "Long", std::string(3000, 'L')},
        {"Settings\\Work", "DefaultPort", "587"},
    };
    return samples;
}

const std::vector<std::uint8_t> kBinary = {0x86, 0x00, 0xff, 0x01, 0x80, 0x00, 0x7f};

TEST(RegImportTest, FileWrittenByFileStoreImportsIntoTheRegistry) {
    test::TempDir dir;
    const std::string productKey = test::UniqueProductKey();
    const auto file = dir.path() / "export.reg";
    {
        FileStore files(file, productKey);
        ASSERT_TRUE(files.Load());
        files.BeginUpdate();
        for (StoreRoot root : {StoreRoot::CurrentUser, StoreRoot::LocalMachine}) {
            for (const Sample& s : Samples()) {
                files.WriteValueText(s.subkey, s.name, s.text, root);
            }
            files.WriteBinaryValue("Settings\\Work", "PassData77", kBinary, root);
        }
        ASSERT_TRUE(files.EndUpdate()) << files.LastError();
    }
    ASSERT_EQ(RunCommand("reg.exe import \"" + file.string() + "\""), 0);

    RegistryStore registry(productKey);
    for (StoreRoot root : {StoreRoot::CurrentUser, StoreRoot::LocalMachine}) {
        for (const Sample& s : Samples()) {
            EXPECT_EQ(registry.ReadValueText(s.subkey, s.name, "<absent>", root), s.text)
                << s.subkey << "\\" << s.name;
        }
        EXPECT_EQ(registry.ReadBinaryValue("Settings\\Work", "PassData77", root), kBinary);
    }
}

TEST(RegImportTest, ServerEntriesWithTheirSecurityImportWhole) {
    test::TempDir dir;
    const std::string productKey = test::UniqueProductKey();
    const auto file = dir.path() / "servers.reg";
    RelaySettings settings;
    settings.ServerList.resize(3);
    settings.ServerList[0].Name = "smtp.example.org";
    settings.ServerList[0].RemotePort = 465;
    settings.ServerList[0].Security = StoredSecurityMode(SecurityMode::SslTls);
    settings.ServerList[0].Fingerprint =
        "00:11:22:33:44:55:66:77:88:99:AA:BB:CC:DD:EE:FF:00:11:22:33:44:55:66:77:88:99:AA:BB:CC:"
        "DD:EE:FF";
    settings.ServerList[1].Name = "plain.example.org";
    settings.ServerList[2].Security = 42;
    settings.ServerList[2].Fingerprint = "typed \"by hand\" \\ kept";
    {
        FileStore files(file, productKey);
        SettingsPersistence persistence(files);
        ASSERT_TRUE(persistence.SaveSettings(settings)) << files.LastError();
    }
    ASSERT_EQ(RunCommand("reg.exe import \"" + file.string() + "\""), 0);

    RegistryStore registry(productKey);
    SettingsPersistence persistence(registry);
    RelaySettings loaded;
    persistence.LoadSettings(loaded, -1);
    EXPECT_EQ(loaded.ServerList, settings.ServerList);
}

TEST(RegImportTest, RegistryExportLoadsInFileStore) {
    test::TempDir dir;
    const std::string productKey = test::UniqueProductKey();
    RegistryStore registry(productKey);
    for (const Sample& s : Samples()) {
        registry.WriteValueText(s.subkey, s.name, s.text, StoreRoot::CurrentUser);
    }
    registry.WriteBinaryValue("Settings\\Work", "PassData77", kBinary, StoreRoot::CurrentUser);

    const auto file = dir.path() / "exported.reg";
    ASSERT_EQ(RunCommand("reg.exe export \"HKCU\\" + productKey + "\" \"" + file.string() + "\""),
              0);
    FileStore files(file, productKey);
    ASSERT_TRUE(files.Load()) << files.LastError();
    for (const Sample& s : Samples()) {
        EXPECT_EQ(files.ReadValueText(s.subkey, s.name, "<absent>", StoreRoot::CurrentUser), s.text)
            << s.subkey << "\\" << s.name;
    }
    EXPECT_EQ(files.ReadBinaryValue("Settings\\Work", "PassData77", StoreRoot::CurrentUser),
              kBinary);
}

}  // namespace
}  // namespace vantel
