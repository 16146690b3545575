// The built vantel-cli.exe on the registry, as a script on Windows runs it.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "StoredKludgeLists.h"
#include "core/config/CredentialCodec.h"
#include "core/config/SettingsPersistence.h"
#include "platform/win32/RegistryStore.h"
#include "tray/BuiltPrograms.h"

namespace vantel {
namespace {

const std::string kKey(kProductKey);

struct CliRun {
    DWORD status = 0;
    std::string output;  ///< standard output and standard error together
};

/// Runs vantel-cli.exe with `arguments`, `input` on its standard input.
CliRun RunCli(const std::string& arguments, const std::string& input = "") {
    CliRun run;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE inRead = nullptr;
    HANDLE inWrite = nullptr;
    HANDLE outRead = nullptr;
    HANDLE outWrite = nullptr;
    if (!CreatePipe(&inRead, &inWrite, &inherit, 0) ||
        !CreatePipe(&outRead, &outWrite, &inherit, 0)) {
        run.status = 999;
        return run;
    }
    SetHandleInformation(inWrite, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = inRead;
    startup.hStdOutput = outWrite;
    startup.hStdError = outWrite;
    std::string command = "\"" + test::BuiltProgram("vantel-cli.exe") + "\" " + arguments;
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE,
                                        CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process);
    CloseHandle(inRead);
    CloseHandle(outWrite);
    if (started) {
        DWORD written = 0;
        WriteFile(inWrite, input.data(), static_cast<DWORD>(input.size()), &written, nullptr);
        CloseHandle(inWrite);
        char buffer[4096];
        DWORD got = 0;
        while (ReadFile(outRead, buffer, sizeof buffer, &got, nullptr) && got > 0) {
            run.output.append(buffer, got);
        }
        WaitForSingleObject(process.hProcess, 30000);
        GetExitCodeProcess(process.hProcess, &run.status);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        CloseHandle(inWrite);
        run.status = 998;
    }
    CloseHandle(outRead);
    return run;
}

RelaySettings Load(RegistryStore& store, bool machine) {
    SettingsPersistence persistence(store);
    persistence.SetUseMachineStore(machine);
    RelaySettings settings;
    persistence.LoadSettings(settings, -1);
    return settings;
}

class VantelCliExeTest : public ::testing::Test {
  protected:
    void SetUp() override { Clear(); }
    void TearDown() override { Clear(); }
    static void Clear() {
        RegDeleteTreeA(HKEY_CURRENT_USER, kKey.c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, kKey.c_str());
    }
};

TEST_F(VantelCliExeTest, EditsBothCopiesInTheRegistryAsTheTrayProgramSavesThem) {
    const std::string password = "Pa55-w0rd!s3cret";
    CliRun run = RunCli(
        "server add --host pop.example.org --type pop3 --security tls --local-port 1110 "
        "--user alice --password-stdin",
        password + "\r\n");
    ASSERT_EQ(run.status, 0u) << run.output;
    EXPECT_NE(run.output.find("POP3 on local port 1110 to pop.example.org:995 (SSL/TLS)"),
              std::string::npos)
        << run.output;
    run = RunCli("kludge add --smtp X-Mailer --change Vantel");
    ASSERT_EQ(run.status, 0u) << run.output;

    // The machine-wide copy for the service and the user's, each with the whole edit.
    RegistryStore store;
    for (const bool machine : {false, true}) {
        const RelaySettings settings = Load(store, machine);
        ASSERT_EQ(settings.ServerList.size(), 1u) << "machine " << machine;
        const ServerEntry& entry = settings.ServerList[0];
        EXPECT_EQ(FormatServerLine(entry),
                  "1110 995 1 " + std::to_string(entry.PassDataIndex) + " pop.example.org");
        EXPECT_TRUE(entry.Uses(SecurityMode::SslTls));
        std::string user;
        std::string stored;
        UnpackCredentials(entry.Credentials, entry.CredentialLength, user, stored);
        EXPECT_EQ(user, "alice");
        EXPECT_EQ(stored, password);  // the line end of the piped input is not part of it
        EXPECT_EQ(test::KludgeEntries(settings), StringList{"0 X-Mailer:"});
        EXPECT_EQ(test::SubstEntries(settings), StringList{"0 Vantel"});
    }

    run = RunCli("show");
    EXPECT_EQ(run.status, 0u);
    EXPECT_NE(run.output.find("alice (password stored)"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find(password), std::string::npos);

    // A rewritten message keeps its CR LF line ends byte for byte.
    run = RunCli("rewrite --smtp", "X-Mailer: Other\r\nSubject: s\r\n\r\nbody\r\n");
    EXPECT_EQ(run.output, "X-Mailer:  Vantel\r\nSubject: s\r\n\r\nbody\r\n");

    run = RunCli("server edit 7 --host x");
    EXPECT_EQ(run.status, 1u);
    EXPECT_NE(run.output.find("vantel: there is no server 7"), std::string::npos) << run.output;
}

TEST_F(VantelCliExeTest, SignsInFromTheCommandLineWithTheTrayProgramsTokenStore) {
    CliRun run = RunCli(
        "server add --host outlook.office365.com --type imap4 --sign-in oauth2 --provider "
        "microsoft --account alice@example.org --client-id 00000000-1111");
    ASSERT_EQ(run.status, 0u) << run.output;
    RegistryStore store;
    EXPECT_NE(Load(store, true).TokenFolder.find("Vantel\\tokens"), std::string::npos)
        << "the service finds the sign-ins through the machine's copy";
    run = RunCli("auth 1 --status");
    EXPECT_EQ(run.status, 0u) << run.output;
    EXPECT_EQ(run.output, "Server 1: not signed in yet: run vantel auth 1\n");
    run = RunCli("auth 1 --sign-out");
    EXPECT_EQ(run.status, 0u) << run.output;
    EXPECT_NE(run.output.find("nothing to do"), std::string::npos) << run.output;
}

TEST_F(VantelCliExeTest, RefusesALoginWithALineBreakAndReportsModesThatAreNone) {
    // A CR inside the piped line would end the relay's PASS command early.
    CliRun run =
        RunCli("server add --host pop.example.org --type pop3 --user alice --password-stdin",
               "pw\rDELE 1\r\n");
    EXPECT_EQ(run.status, 1u) << run.output;
    EXPECT_NE(run.output.find("line breaks"), std::string::npos) << run.output;
    RegistryStore store;
    EXPECT_TRUE(Load(store, false).ServerList.empty());

    // Edited by hand in the registry: an empty mode, and one of another type.
    const StoreRoot user = StoreRoot::CurrentUser;
    store.WriteValueText("Settings", "ServersCount", "2", user);
    store.WriteValueText("Settings", "Servers0", "2525 25 0 -1 a.example.org", user);
    store.WriteValueText("Settings", "Servers1", "2526 25 0 -1 b.example.org", user);
    store.WriteValueText("Settings", "ServerSecurity0", "", user);
    const DWORD zero = 0;
    ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, (kKey + "\\Settings").c_str(), "ServerSecurity1",
                              REG_DWORD, &zero, sizeof zero),
              ERROR_SUCCESS);
    run = RunCli("check");
    EXPECT_EQ(run.status, 1u) << run.output;
    for (const char* server : {"server 1 ", "server 2 "}) {
        EXPECT_NE(run.output.find(std::string(server) + "has a security value that is no mode"),
                  std::string::npos)
            << run.output;
    }
}

}  // namespace
}  // namespace vantel
