// vantel-relay: the relay as a headless program, with its settings in a .reg file.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/config/RelaySettings.h"
#include "core/config/SettingsPersistence.h"
#include "platform/store/FileStore.h"

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: vantel-relay [--store FILE] [--machine] [--version] [--help]\n"
        "  --store FILE  settings file (default: $XDG_CONFIG_HOME/vantel/settings.reg)\n"
        "  --machine     use the machine-wide settings instead of the user's\n",
        out);
}

void PrintSettings(const vantel::RelaySettings& settings, const std::string& schema) {
    std::printf("Schema: %s\n", schema.empty() ? "(default)" : schema.c_str());
    std::printf("Default SMTP port %d, default POP3 port %d, connect time-out %d s\n",
                settings.DefaultPort, settings.DefaultPOPPort, settings.ConnectTimeout);
    static const char* const kTypes[] = {"SMTP", "POP3", "IMAP4"};
    for (const vantel::ServerEntry& e : settings.ServerList) {
        const char* type = (e.Type >= 0 && e.Type <= 2) ? kTypes[e.Type] : "?";
        std::printf("  %-5s local port %5d -> %s:%d%s\n", type, e.LocalPort, e.Name.c_str(),
                    e.RemotePort, e.CredentialLength > 0 ? " (stored login)" : "");
    }
    std::printf("%zu kludges, %zu special kludges\n", settings.Kludges.size(),
                settings.SpecialKludges.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::filesystem::path storePath = vantel::FileStore::DefaultPath();
    bool machine = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--store" && i + 1 < argc) {
            storePath = argv[++i];
        } else if (arg == "--machine") {
            machine = true;
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

    vantel::FileStore store(storePath);
    if (!store.Load()) {
        std::fprintf(stderr, "vantel-relay: %s\n", store.LastError().c_str());
        return 1;
    }
    if (!std::filesystem::exists(storePath)) {
        std::fprintf(stderr, "vantel-relay: no settings file at %s; starting with no servers\n",
                     storePath.string().c_str());
    }
    vantel::RelaySettings settings;
    vantel::SettingsPersistence persistence(store);
    // Settings are always read from the user's copy unless the machine copy is asked for.
    persistence.SetUseMachineStore(machine);
    persistence.LoadSettings(settings, -1);
    PrintSettings(settings, persistence.CurrentSchemaName());
    return 0;
}
