// vantel-relay: the relay as a headless program, with its settings in a .reg file.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "daemon/RelayDaemon.h"
#include "platform/posix/EpollEventLoop.h"
#include "platform/posix/InotifyFileWatch.h"
#include "platform/posix/SignalWatcher.h"
#include "platform/store/FileStore.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: vantel-relay [--store FILE] [--machine] [--no-watch] [--trace] [--log FILE]\n"
        "                    [--version] [--help]\n"
        "Relays mail and news between local clients and their servers, rewriting headers\n"
        "with the rules in the settings file.\n"
        "  --store FILE  settings file (default: $XDG_CONFIG_HOME/vantel/settings.reg,\n"
        "                else ~/.config/vantel/settings.reg)\n"
        "  --machine     use the machine-wide settings in the file instead of the user's\n"
        "  --no-watch    reload only on SIGHUP, not whenever the settings file changes\n"
        "  --trace       write every relayed block to standard error\n"
        "  --log FILE    write the same lines, with the time, to FILE too\n"
        "Signals: SIGHUP reloads the settings; SIGINT and SIGTERM stop.\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    vantel::RelayDaemon::Options options;
    options.storePath = vantel::FileStore::DefaultPath();
    bool watch = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--store" && i + 1 < argc) {
            options.storePath = argv[++i];
        } else if (arg == "--machine") {
            options.machine = true;
        } else if (arg == "--no-watch") {
            watch = false;
        } else if (arg == "--trace") {
            options.trace = true;
        } else if (arg == "--log" && i + 1 < argc) {
            options.logPath = argv[++i];
        } else if (arg == "--version") {
            std::printf("vantel-relay %s\n", VANTEL_VERSION);
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return 0;
        } else {
            std::fprintf(stderr, "vantel-relay: unknown argument '%s'\n", arg.c_str());
            PrintUsage(stderr);
            return 2;
        }
    }
    if (options.storePath.empty()) {
        std::fputs("vantel-relay: no HOME or XDG_CONFIG_HOME; name the file with --store\n",
                   stderr);
        return 2;
    }

    // A peer that goes away while bytes are spliced to it would raise SIGPIPE (a splice cannot
    // be told not to); the failed send is handled like any other.
    std::signal(SIGPIPE, SIG_IGN);
    vantel::EpollEventLoop loop;
    if (!loop.ok()) {
        std::fputs("vantel-relay: the system refused an event loop (epoll, eventfd)\n", stderr);
        return 1;
    }
    vantel::RelayDaemon daemon(loop, options);
    // Before any other thread starts, so all of them leave these signals to the watcher.
    vantel::SignalWatcher signals(
        loop, [&daemon] { daemon.Reload(); }, [&daemon] { daemon.Stop(); });
    // Watching before the first load, so that no save in between goes unseen. A settings
    // file that is a symbolic link is saved where the link leads: that file is followed too.
    std::vector<std::unique_ptr<vantel::InotifyFileWatch>> watches;
    std::vector<std::filesystem::path> followed{options.storePath};
    std::error_code ignored;
    if (std::filesystem::is_symlink(options.storePath, ignored)) {
        const std::filesystem::path target =
            std::filesystem::weakly_canonical(options.storePath, ignored);
        if (!ignored && !target.empty()) {
            followed.push_back(target);
        }
    }
    for (const std::filesystem::path& file : followed) {
        const std::string name = file.string();
        watches.push_back(std::make_unique<vantel::InotifyFileWatch>(
            loop, file, [&daemon] { daemon.Reload(); },
            [&daemon, name](const std::string& why) {
                daemon.Say("no longer following changes to " + name + " (" + why +
                           "); SIGHUP reloads it");
            }));
        std::string watchProblem;
        if (watch && !watches.back()->Start(watchProblem)) {
            daemon.Say("not following changes to " + name + " (" + watchProblem +
                       "); SIGHUP reloads it");
        }
    }
    if (!daemon.Load()) {
        return 1;
    }
    daemon.Say("settings from " + options.storePath.string() + ", " +
               std::to_string(daemon.Settings().ServerList.size()) + " server entries");
    daemon.Start();
    loop.Run();
    daemon.Say("stopped");
    return 0;
}
