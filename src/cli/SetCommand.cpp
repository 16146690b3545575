#include "cli/SetCommand.h"

#include <climits>
#include <istream>
#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/CommandLine.h"
#include "cli/OAuthOptions.h"
#include "cli/SettingsSession.h"
#include "cli/SettingsWords.h"
#include "platform/TerminalInput.h"

namespace vantel {
namespace {

enum class Kind { Port, Seconds, ShortSeconds, Switch, Address, ClientId };

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
    {"oauth-microsoft-client-id", Kind::ClientId, nullptr},
    {"oauth-google-client-id", Kind::ClientId, nullptr},
};

constexpr const char* kSecretKey = "oauth-google-client-secret";

/// Whether `text` can be an address literal: digits, hex letters, dots and colons.
bool LooksLikeAddress(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF.:") == std::string::npos;
}

}  // namespace

int SetCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (line.Parse(words, {}) && line.operands().size() == 1 && line.operands()[0] == kSecretKey) {
        return SetSecret();
    }
    if (!line.Parse(words, {}) || line.operands().size() != 2) {
        return UsageError(context_, "set", line.error().empty() ? "give KEY VALUE" : line.error());
    }
    const std::string& name = line.operands()[0];
    const std::string& value = line.operands()[1];
    if (name == kSecretKey) {
        return Fail(context_,
                    "a client secret is never given as an argument: it would show in the list of "
                    "processes. Run vantel set oauth-google-client-secret and give it on "
                    "standard input");
    }
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
        case Kind::ClientId: {
            if (!value.empty() && !OAuthOptions::IsClientId(value)) {
                return Fail(context_, name +
                                          " is the registration's ID, without blanks or control "
                                          "characters");
            }
            std::string& id = name == "oauth-google-client-id"
                                  ? settings.OAuthDefaultGoogleClientId
                                  : settings.OAuthDefaultMicrosoftClientId;
            id = value;
            if (value.empty()) {
                shown = "none";
            }
            break;
        }
    }
    if (!session.Save()) {
        return kExitFailed;
    }
    context_.out << "Set " << name << " to " << shown << '\n';
    return kExitOk;
}

int SetCommand::SetSecret() {
    std::string secret;
    if (StandardInputIsTerminal()) {
        std::string error;
        if (!ReadHiddenLine("Client secret: ", secret, error)) {
            return Fail(context_, "the client secret could not be read: " + error);
        }
    } else if (!std::getline(context_.in, secret) && secret.empty()) {
        return Fail(context_, std::string(kSecretKey) + ": standard input gave no line");
    }
    if (!secret.empty() && secret.back() == '\r') {
        secret.pop_back();
    }
    // Never repeated in a message, whatever it holds.
    if (!secret.empty() && !OAuthOptions::IsClientId(secret)) {
        secret.assign(secret.size(), '\0');
        return Fail(context_,
                    "the client secret holds blanks or control characters: it was not stored");
    }
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    std::string& stored = session.settings().OAuthDefaultGoogleClientSecret;
    stored.assign(stored.size(), '\0');
    stored = secret;
    secret.assign(secret.size(), '\0');
    if (!session.Save()) {
        return kExitFailed;
    }
    context_.out << "Set " << kSecretKey << " to " << (stored.empty() ? "none" : "(set)") << '\n';
    return kExitOk;
}

}  // namespace vantel
