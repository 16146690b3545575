// The built vantel.exe, run as a user would run it, with settings imported by "reg import".
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "FakeNotifier.h"
#include "LoopRunner.h"
#include "LoopbackPeer.h"
#include "TempDir.h"
#include "core/config/SettingsPersistence.h"
#include "core/config/StoredKludges.h"
#include "platform/store/FileStore.h"
#include "platform/win32/Win32EventLoop.h"
#include "tray/BuiltPrograms.h"
#include "tray/ServiceControl.h"
#include "tray/ServiceProbe.h"
#include "tray/resource.h"

namespace vantel {
namespace {

using test::LoopbackPeer;
using test::LoopbackServer;

const std::string kKey(kProductKey);

/// Every value below `key` of `root`, by path, as type and bytes.
void Snapshot(HKEY root, const std::string& key, std::map<std::string, std::string>& out) {
    HKEY handle = nullptr;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS) {
        return;
    }
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLength = sizeof name;
        BYTE data[8192];
        DWORD dataLength = sizeof data;
        DWORD type = 0;
        if (RegEnumValueA(handle, i, name, &nameLength, nullptr, &type, data, &dataLength) !=
            ERROR_SUCCESS) {
            break;
        }
        out[key + "\\" + name] =
            std::to_string(type) + ":" + std::string(reinterpret_cast<char*>(data), dataLength);
    }
    for (DWORD i = 0;; ++i) {
        char name[512];
        DWORD nameLength = sizeof name;
        if (RegEnumKeyExA(handle, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        Snapshot(root, key + "\\" + name, out);
    }
    RegCloseKey(handle);
}

std::map<std::string, std::string> RegistrySnapshot() {
    std::map<std::string, std::string> values;
    Snapshot(HKEY_CURRENT_USER, kKey, values);
    std::map<std::string, std::string> machine;
    Snapshot(HKEY_LOCAL_MACHINE, kKey, machine);
    for (auto& [name, value] : machine) {
        values["HKLM\\" + name] = value;
    }
    return values;
}

/// Starts `command`; its process handle, or null.
HANDLE Launch(std::string command) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return nullptr;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

/// Exit code of `process` once it has ended within `timeoutMs`, or -1.
long WaitForExit(HANDLE process, DWORD timeoutMs) {
    if (WaitForSingleObject(process, timeoutMs) != WAIT_OBJECT_0) {
        return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<long>(code);
}

class VantelExeTest : public ::testing::Test {
  protected:
    VantelExeTest() : service_(true, test::BuiltProgram("vantel.srv"), notifier_) { Clean(); }
    ~VantelExeTest() override {
        if (program_ != nullptr) {
            if (WaitForExit(program_, 0) == -1) {
                TerminateProcess(program_, 1);
            }
            CloseHandle(program_);
        }
        Clean();
    }
    void Clean() {
        service_.StopRelayService();
        RegDeleteTreeA(HKEY_CURRENT_USER, kKey.c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey.c_str());
    }
    /// Writes `settings` as a .reg file of the user's settings and imports it with reg.exe.
    void Import(RelaySettings settings) {
        const auto file = temp_.path() / "settings.reg";
        {
            FileStore store(file);
            ASSERT_TRUE(store.Load());
            SettingsPersistence persistence(store);
            ASSERT_TRUE(persistence.SaveSettings(settings));
        }
        HANDLE reg = Launch("reg.exe import \"" + file.string() + "\"");
        ASSERT_NE(reg, nullptr);
        EXPECT_EQ(WaitForExit(reg, 30000), 0);
        CloseHandle(reg);
    }
    bool Run(const std::function<bool()>& done, std::uint32_t timeoutMs = 20000) {
        return test::RunUntil(loop_, done, timeoutMs);
    }
    bool Accepts(std::uint16_t port) { return test::Accepts(loop_, port); }

    test::TempDir temp_;
    Win32EventLoop loop_;
    test::FakeNotifier notifier_;
    ServiceControl service_;
    HANDLE program_ = nullptr;
};

TEST_F(VantelExeTest, RelaysRewritesRefusesASecondCopyAndSavesAtExit) {
    LoopbackServer server(loop_);
    server.onConnection = [](LoopbackPeer& p) { p.Send("220 ready\r\n"); };
    const std::uint16_t port = test::FreePort(loop_);
    RelaySettings settings;
    settings.DefaultPort = port;
    ServerEntry entry;
    entry.LocalPort = port;
    entry.RemotePort = server.port();
    entry.Name = "127.0.0.1";
    settings.ServerList = {entry};
    settings.Kludges = PairKludges({"0 X-Mailer:", "0 Organization:"}, {"0 Vantel", "1 "});
    Import(settings);
    ASSERT_EQ(RegistrySnapshot().count("HKLM\\" + kKey + "\\Settings\\DefaultPort"), 0u);

    program_ = Launch("\"" + test::BuiltProgram("vantel.exe") + "\"");
    ASSERT_NE(program_, nullptr);
    HWND window = nullptr;
    ASSERT_TRUE(Run([&] { return (window = FindWindowA(nullptr, "Vantel")) != nullptr; }));
    EXPECT_FALSE(IsWindowVisible(window));
    ASSERT_TRUE(Run([&] { return Accepts(port); }));

    LoopbackPeer client(loop_);
    ASSERT_TRUE(client.Connect(port));
    ASSERT_TRUE(Run([&] { return client.received == "220 ready\r\n"; }));
    LoopbackPeer& relayed = *server.connections.back();
    const std::string body = "\r\nX-Mailer: in the body stays\r\n.\r\n";
    client.Send("X-Mailer: Other 1.0\r\nOrganization: secret\r\nSubject: hi\r\n" + body);
    const std::string expected = "X-Mailer:  Vantel\r\nSubject: hi\r\n" + body;
    ASSERT_TRUE(Run([&] { return relayed.received.size() >= expected.size(); }));
    EXPECT_EQ(relayed.received, expected);
    client.Close();

    // A second copy ends at once and writes nothing: a value removed now stays removed.
    ASSERT_EQ(
        RegDeleteKeyValueA(HKEY_CURRENT_USER, (kKey + "\\Settings").c_str(), "MessageTimeout"),
        ERROR_SUCCESS);
    const auto before = RegistrySnapshot();
    HANDLE second = Launch("\"" + test::BuiltProgram("vantel.exe") + "\"");
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(WaitForExit(second, 20000), 0);
    CloseHandle(second);
    EXPECT_EQ(RegistrySnapshot(), before);
    EXPECT_EQ(WaitForExit(program_, 0), -1) << "the first copy runs on";

    // Exit, as the tray menu sends it: the settings are saved to both stores.
    PostMessageA(window, WM_COMMAND, ID_TRAY_EXIT, 0);
    EXPECT_EQ(WaitForExit(program_, 20000), 0);
    const auto after = RegistrySnapshot();
    EXPECT_EQ(after.count(kKey + "\\Settings\\MessageTimeout"), 1u);
    EXPECT_EQ(after.count("HKLM\\" + kKey + "\\Settings\\DefaultPort"), 1u);
    EXPECT_EQ(after.at(kKey + "\\Settings\\Kludges1"), before.at(kKey + "\\Settings\\Kludges1"));
    EXPECT_FALSE(Accepts(port));
    EXPECT_FALSE(test::ServiceInstalled()) << "UseService is off: nothing may start at boot";
}

TEST(VantelExeResources, CarryVersionAndManifest) {
    const std::string path = test::BuiltProgram("vantel.exe");
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, info.data()));
    char* product = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904b0\\ProductName",
                               reinterpret_cast<void**>(&product), &length));
    EXPECT_STREQ(product, "Vantel");

    HMODULE image = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    HRSRC manifest = FindResourceA(image, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(manifest, nullptr);
    const std::string text(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                           SizeofResource(image, manifest));
    EXPECT_NE(text.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(text.find("dpiAware"), std::string::npos);
    EXPECT_NE(FindResourceA(image, MAKEINTRESOURCEA(IDI_RELAY_BUSY), MAKEINTRESOURCEA(14)),
              nullptr);
    FreeLibrary(image);
}

}  // namespace
}  // namespace vantel
