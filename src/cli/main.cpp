// vantel (vantel-cli.exe on Windows): the relay's settings, rules and servers from the
// command line.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "cli/CliApp.h"
#include "cli/CliContext.h"
#include "cli/SignInTools.h"
#include "platform/SystemWallClock.h"
#include "platform/store/FileStore.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>

#include "platform/win32/BCryptCrypto.h"
#include "platform/win32/DpapiTokenStore.h"
#include "platform/win32/RegistryStore.h"
#include "platform/win32/ShellBrowserLauncher.h"
#include "platform/win32/WinHttpClient.h"
#include "platform/win32/WinsockSession.h"
#else
#include <cstdlib>

#include "platform/posix/CurlHttpClient.h"
#include "platform/posix/FileTokenStore.h"
#include "platform/posix/OpenSslCrypto.h"
#include "platform/posix/XdgBrowserLauncher.h"
#endif

int main(int argc, char** argv) {
#ifdef _WIN32
    // Messages pass byte for byte: a rewritten message keeps its line ends.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    std::vector<std::string> words(argv + 1, argv + argc);
    std::filesystem::path storePath;
    bool machine = false;
    std::size_t at = 0;
    for (; at < words.size(); ++at) {
        if (words[at] == "--store" && at + 1 < words.size()) {
            storePath = words[++at];
        } else if (words[at].rfind("--store=", 0) == 0) {
            storePath = words[at].substr(8);
        } else if (words[at] == "--machine") {
            machine = true;
        } else if (words[at] == "--version") {
            std::printf("vantel %s\n", VANTEL_VERSION);
            return 0;
        } else {
            break;
        }
    }
    words.erase(words.begin(), words.begin() + static_cast<std::ptrdiff_t>(at));

    std::unique_ptr<vantel::SettingsStore> store;
    std::string storeName;
    std::string loadError;
    bool storeMissing = false;
    vantel::FileStore* file = nullptr;
#ifdef _WIN32
    if (storePath.empty()) {
        store = std::make_unique<vantel::RegistryStore>();
        storeName = "the registry";
    }
#else
    if (storePath.empty()) {
        storePath = vantel::FileStore::DefaultPath();
        if (storePath.empty()) {
            std::fputs("vantel: no HOME or XDG_CONFIG_HOME; name the file with --store\n", stderr);
            return 2;
        }
    }
#endif
    if (!store) {
        auto fileStore = std::make_unique<vantel::FileStore>(storePath);
        file = fileStore.get();
        std::error_code ignored;
        storeMissing = !std::filesystem::exists(storePath, ignored);
        if (!fileStore->Load()) {
            loadError = fileStore->LastError();
        }
        storeName = storePath.string();
        store = std::move(fileStore);
    }

    vantel::CliContext context{*store,  storeName, loadError, storeMissing, {},
                               machine, false,     std::cin,  std::cout,    std::cerr};
    context.saveError = [file] { return file != nullptr ? file->LastError() : std::string(); };
#ifdef _WIN32
    // As the tray program saves: the machine-wide copy the service reads, then the user's.
    context.bothRoots = file == nullptr && !machine;
#endif
    context.tick =
        static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                       std::chrono::steady_clock::now().time_since_epoch())
                                       .count());
#ifdef _WIN32
    // The sign-in's listener and the probes need sockets.
    vantel::WinsockSession winsock;
    // The tray program's folder and seal: a sign-in made here is the one it and the service use.
    std::unique_ptr<vantel::DpapiTokenStore> tokens;
    const std::filesystem::path tokenDirectory = vantel::DpapiTokenStore::DefaultDirectory();
    if (!tokenDirectory.empty()) {
        tokens = std::make_unique<vantel::DpapiTokenStore>(tokenDirectory);
        if (context.bothRoots) {
            context.tokenFolder = tokens->Location();
        }
    }
    vantel::BCryptCrypto crypto;
    vantel::SystemWallClock clock;
    vantel::ShellBrowserLauncher browser;
    vantel::SignInTools signIn{tokens.get(), &crypto, &clock, &browser,
                               [](vantel::EventLoop& loop) -> std::unique_ptr<vantel::HttpClient> {
                                   return std::make_unique<vantel::WinHttpClient>(loop);
                               }};
    context.signIn = &signIn;
#else
    std::unique_ptr<vantel::FileTokenStore> tokens;
    const std::filesystem::path tokenDirectory = vantel::FileTokenStore::DefaultDirectory();
    if (!tokenDirectory.empty()) {
        tokens = std::make_unique<vantel::FileTokenStore>(tokenDirectory);
    }
    vantel::OpenSslCrypto crypto;
    vantel::SystemWallClock clock;
    vantel::XdgBrowserLauncher browser;
    vantel::CurlHttpClient::Options http;
    // Tests only: the test CA's PEM file, trusted instead of the system's roots, so that the
    // shell tests can reach their fake authorization server without touching the system.
    if (const char* caFile = std::getenv("VANTEL_TEST_CA_FILE")) {
        http.caFile = caFile;
    }
    vantel::SignInTools signIn{
        tokens.get(), &crypto, &clock, &browser,
        [http](vantel::EventLoop& loop) -> std::unique_ptr<vantel::HttpClient> {
            return std::make_unique<vantel::CurlHttpClient>(loop, http);
        }};
    context.signIn = &signIn;
#endif
    const int status = vantel::CliApp::Run(context, words);
    std::cout.flush();
    return status;
}
