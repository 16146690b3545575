#include "cli/SetCommand.h"

#include <climits>
#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/CommandLine.h"
#include "cli/SettingsSession.h"
#include "cli/SettingsWords.h"

namespace vantel {
namespace {

enum class Kind { Port, Seconds, ShortSeconds, Switch, Address };

struct Key {
    const char* name;
    Kind kind;
    int RelaySettings::*number;
};

constexpr Key kKeys[] = {
    {"default-smtp-port", Kind::Port, &RelaySettings::DefaultPort},
    {"default-pop3-port", Kind::Port, &RelaySettings::DefaultPOPPort},
    {"connect-timeout", Kind::Seconds, &RelaySettings::ConnectTimeout},
    {"timeout", Kind::ShortSeconds, &RelaySettings::MessageTimeout},
    {"listen-address", Kind::Address, nullptr},
    {"use-service", Kind::Switch, &RelaySettings::UseService},
    {"cyclic-change", Kind::Switch, &RelaySettings::POPCycleChange},
    {"log-traffic", Kind::Switch, &RelaySettings::LogTraffic},
};

/// Whether `text` can be an address literal: digits, hex letters, dots and colons.
bool LooksLikeAddress(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF.:") == std::string::npos;
}

}  // namespace

int SetCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, {}) || line.operands().size() != 2) {
        return UsageError(context_, "set", line.error().empty() ? "give KEY VALUE" : line.error());
    }
    const std::string& name = line.operands()[0];
    const std::string& value = line.operands()[1];
    const Key* key = nullptr;
    for (const Key& k : kKeys) {
        if (name == k.name) {
            key = &k;
        }
    }
    if (key == nullptr) {
        return UsageError(context_, "set", "there is no value called '" + name + "'");
    }
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    RelaySettings& settings = session.settings();
    std::string shown = value;
    switch (key->kind) {
        case Kind::Port:
        case Kind::Seconds:
        case Kind::ShortSeconds: {
            const int low = key->kind == Kind::Port ? 1 : 0;
            const int high = key->kind == Kind::Port           ? 65535
                             : key->kind == Kind::ShortSeconds ? 60
                                                               : INT_MAX;
            const auto number = ParseNumberIn(value, low, high);
            if (!number) {
                return Fail(context_,
                            name + " is a whole number from " + std::to_string(low) +
                                (high == INT_MAX ? " up" : " to " + std::to_string(high)) +
                                ", not '" + value + "'");
            }
            settings.*(key->number) = *number;
            break;
        }
        case Kind::Switch: {
            const auto on = ParseSwitchWord(value);
            if (!on) {
                return Fail(context_, name + " is on or off, not '" + value + "'");
            }
            settings.*(key->number) = *on ? 1 : 0;
            shown = *on ? "on" : "off";
            break;
        }
        case Kind::Address:
            if (value == "local" || value.empty()) {
                settings.ListenAddress.clear();
                shown = "local";
            } else if (value == "*" || LooksLikeAddress(value)) {
                settings.ListenAddress = value;
            } else {
                return Fail(context_,
                            "listen-address is local, * or an address of this computer "
                            "(such as 192.168.1.5), not '" +
                                value + "'");
            }
            break;
    }
    if (!session.Save()) {
        return kExitFailed;
    }
    context_.out << "Set " << name << " to " << shown << '\n';
    return kExitOk;
}

}  // namespace vantel
