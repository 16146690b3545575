#include "cli/ShowCommand.h"

#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/CommandLine.h"
#include "cli/JsonWriter.h"
#include "cli/PrintableText.h"
#include "cli/SettingsSession.h"
#include "cli/SettingsWords.h"
#include "cli/SignInStatus.h"
#include "cli/TextTable.h"
#include "core/rewrite/KludgeTypes.h"

namespace vantel {
namespace {

std::string ListenWords(const std::string& address) {
    if (address.empty()) {
        return "local (this computer only)";
    }
    if (address == "*") {
        return "* (every interface)";
    }
    return address;
}

const char* Switch(int value) {
    return value != 0 ? "on" : "off";
}

struct GeneralValue {
    const char* key;
    std::string text;
};

std::vector<GeneralValue> GeneralValues(const RelaySettings& s) {
    return {{"default-smtp-port", std::to_string(s.DefaultPort)},
            {"default-pop3-port", std::to_string(s.DefaultPOPPort)},
            {"connect-timeout", std::to_string(s.ConnectTimeout)},
            {"timeout", std::to_string(s.MessageTimeout)},
            {"listen-address", ListenWords(s.ListenAddress)},
            {"use-service", Switch(s.UseService)},
            {"cyclic-change", Switch(s.POPCycleChange)},
            {"log-traffic", Switch(s.LogTraffic)}};
}

/// The client ID an entry signs in with, in words: its own, or the program-wide default.
std::string ClientIdWords(const OAuthSignIn& oauth) {
    return oauth.ClientId.empty() ? std::string("default") : oauth.ClientId;
}

bool HasOAuthDefaults(const RelaySettings& s) {
    return !s.OAuthDefaultMicrosoftClientId.empty() || !s.OAuthDefaultGoogleClientId.empty() ||
           !s.OAuthDefaultGoogleClientSecret.empty();
}

void PrintOAuthText(std::ostream& out, const RelaySettings& s, const SignInTools* tools) {
    for (std::size_t i = 0; i < s.ServerList.size(); ++i) {
        const ServerEntry& e = s.ServerList[i];
        if (!e.SignsInWithOAuth()) {
            continue;
        }
        const OAuthSignIn& o = e.OAuth;
        std::string text = "  Server " + std::to_string(i + 1) + " signs in with OAuth 2.0: " +
                           (o.Provider.empty() ? "no provider" : o.Provider) + ", account " +
                           (o.Account.empty() ? "(none)" : o.Account);
        if (!o.Tenant.empty()) {
            text += ", tenant " + o.Tenant;
        }
        text += ", client ID " + ClientIdWords(o);
        if (!o.ClientSecret.empty()) {
            text += ", client secret: set";
        }
        out << PrintableText(text) << "\n    " << SignInStatus::Line(tools, e, i + 1) << '\n';
    }
}

void PrintText(std::ostream& out, const std::string& where, const RelaySettings& s,
               const SignInTools* tools) {
    const std::string schema = s.GetSchemaName();
    out << "Settings: " << PrintableText(where) << ", schema "
        << (schema.empty() ? std::string("(default)") : "'" + PrintableText(schema) + "'")
        << "\n\nServers\n";
    TextTable servers({"#", "Type", "Local", "Server", "Security", "Login"});
    for (std::size_t i = 0; i < s.ServerList.size(); ++i) {
        const ServerEntry& e = s.ServerList[i];
        std::string security = SecurityTitle(e.Security);
        if (!e.Fingerprint.empty()) {
            security += ", pinned";
        }
        const std::string user = StoredLoginUser(e);
        servers.AddRow({std::to_string(i + 1), TypeTitle(e.Type), std::to_string(e.LocalPort),
                        e.Name + ":" + std::to_string(e.RemotePort), security,
                        user.empty() ? "-" : user + " (password stored)"});
    }
    servers.empty() ? void(out << "  (none)\n") : servers.Print(out);
    for (std::size_t i = 0; i < s.ServerList.size(); ++i) {
        if (!s.ServerList[i].Fingerprint.empty()) {
            out << "  Server " << i + 1 << " pins SHA-256 "
                << PrintableText(s.ServerList[i].Fingerprint) << '\n';
        }
    }

    PrintOAuthText(out, s, tools);

    out << "\nKludges\n";
    TextTable kludges({"#", "Direction", "Header", "Action", "Text"});
    for (std::size_t i = 0; i < s.Kludges.size(); ++i) {
        const KludgeRecord& kludge = s.Kludges[i];
        kludges.AddRow({std::to_string(i + 1), DirectionWord(kludge.type), kludge.headerName,
                        ActionWord(kludge.action), kludge.text});
    }
    kludges.empty() ? void(out << "  (none)\n") : kludges.Print(out);

    out << "\nSpecial kludges\n";
    TextTable specials({"#", "Signal", "Separator", "Name"});
    for (std::size_t i = 0; i < s.SpecialKludges.size(); ++i) {
        const SpecialKludgeRecord& special = s.SpecialKludges[i];
        specials.AddRow(
            {std::to_string(i + 1), special.signal, special.separator, special.kludgeName});
    }
    specials.empty() ? void(out << "  (none)\n") : specials.Print(out);

    out << "\nGeneral\n";
    TextTable general({"Key", "Value"});
    for (const GeneralValue& value : GeneralValues(s)) {
        general.AddRow({value.key, value.text});
    }
    general.Print(out);
    if (HasOAuthDefaults(s)) {
        // Shown only once one is set, so that a store without them reads as before.
        out << "\nOAuth 2.0 defaults\n";
        TextTable defaults({"Key", "Value"});
        defaults.AddRow({"oauth-microsoft-client-id", s.OAuthDefaultMicrosoftClientId.empty()
                                                          ? "not set"
                                                          : s.OAuthDefaultMicrosoftClientId});
        defaults.AddRow({"oauth-google-client-id", s.OAuthDefaultGoogleClientId.empty()
                                                       ? "not set"
                                                       : s.OAuthDefaultGoogleClientId});
        defaults.AddRow({"oauth-google-client-secret",
                         s.OAuthDefaultGoogleClientSecret.empty() ? "not set" : "set"});
        defaults.Print(out);
    }

    out << "\nSchemas\n";
    out << (s.DefaultSchema == 0 || schema.empty() ? "  * " : "    ") << "(default)\n";
    for (std::size_t i = 0; i < s.Schemes.size(); ++i) {
        const bool current = static_cast<int>(i) + 1 == s.DefaultSchema;
        out << (current ? "  * " : "    ") << PrintableText(s.Schemes[i]) << '\n';
    }
}

void PrintJson(std::ostream& out, const std::string& where, const RelaySettings& s,
               const SignInTools* tools) {
    JsonWriter json;
    json.BeginObject().Member("store", where).Member("schema", s.GetSchemaName());
    json.Key("servers").BeginArray();
    for (std::size_t i = 0; i < s.ServerList.size(); ++i) {
        const ServerEntry& e = s.ServerList[i];
        const std::string user = StoredLoginUser(e);
        json.BeginObject()
            .Member("number", static_cast<int>(i) + 1)
            .Member("type", TypeWord(e.Type))
            .Member("localPort", e.LocalPort)
            .Member("host", e.Name)
            .Member("remotePort", e.RemotePort)
            .Member("security", SecurityWord(e.Security))
            .Member("fingerprint", e.Fingerprint)
            .Member("user", user)
            .Member("passwordStored", !user.empty());
        if (e.SignsInWithOAuth()) {
            const OAuthSignIn& o = e.OAuth;
            json.Member("signIn", "oauth2")
                .Key("oauth")
                .BeginObject()
                .Member("provider", o.Provider)
                .Member("account", o.Account)
                .Member("tenant", o.Tenant)
                .Member("clientId", ClientIdWords(o))
                .Member("clientSecretSet", !o.ClientSecret.empty())
                .Member("authorizeUrl", o.AuthorizeUrl)
                .Member("tokenUrl", o.TokenUrl)
                .Member("deviceUrl", o.DeviceUrl)
                .Member("scopes", o.Scopes)
                .Member("mechanism", o.Mechanism)
                .Member("state", SignInStatus::Line(tools, e, i + 1))
                .EndObject();
        }
        json.EndObject();
    }
    json.EndArray().Key("kludges").BeginArray();
    for (std::size_t i = 0; i < s.Kludges.size(); ++i) {
        const KludgeRecord& kludge = s.Kludges[i];
        json.BeginObject()
            .Member("number", static_cast<int>(i) + 1)
            .Member("direction", DirectionWord(kludge.type))
            .Member("header", kludge.headerName)
            .Member("action", ActionWord(kludge.action))
            .Member("text", kludge.text)
            .EndObject();
    }
    json.EndArray().Key("specialKludges").BeginArray();
    for (std::size_t i = 0; i < s.SpecialKludges.size(); ++i) {
        const SpecialKludgeRecord& special = s.SpecialKludges[i];
        json.BeginObject()
            .Member("number", static_cast<int>(i) + 1)
            .Member("signal", special.signal)
            .Member("separator", special.separator)
            .Member("name", special.kludgeName)
            .EndObject();
    }
    json.EndArray().Key("general").BeginObject();
    json.Member("default-smtp-port", s.DefaultPort)
        .Member("default-pop3-port", s.DefaultPOPPort)
        .Member("connect-timeout", s.ConnectTimeout)
        .Member("timeout", s.MessageTimeout)
        .Member("listen-address", s.ListenAddress.empty() ? "local" : s.ListenAddress)
        .Member("use-service", s.UseService != 0)
        .Member("cyclic-change", s.POPCycleChange != 0)
        .Member("log-traffic", s.LogTraffic != 0)
        .EndObject();
    if (HasOAuthDefaults(s)) {
        json.Key("oauthDefaults")
            .BeginObject()
            .Member("microsoftClientId", s.OAuthDefaultMicrosoftClientId)
            .Member("googleClientId", s.OAuthDefaultGoogleClientId)
            .Member("googleClientSecretSet", !s.OAuthDefaultGoogleClientSecret.empty())
            .EndObject();
    }
    json.Key("schemas").BeginArray();
    for (std::size_t i = 0; i < s.Schemes.size(); ++i) {
        json.BeginObject()
            .Member("name", s.Schemes[i])
            .Member("current", static_cast<int>(i) + 1 == s.DefaultSchema)
            .EndObject();
    }
    json.EndArray().EndObject();
    out << json.Text();
}

}  // namespace

int ShowCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, {{"--schema", true}, {"--json", false}}) || !line.operands().empty()) {
        return UsageError(context_, "show", line.error());
    }
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    if (const auto name = line.Value("--schema")) {
        const int index = SchemaManager::FindSchema(session.settings().Schemes, *name);
        if (index == 0) {
            return Fail(context_, "there is no schema '" + *name + "'");
        }
        session.Load(index);
    }
    const std::string where = context_.storeName + (context_.machine ? " (machine-wide copy)" : "");
    if (line.Has("--json")) {
        PrintJson(context_.out, where, session.settings(), context_.signIn);
    } else {
        PrintText(context_.out, where, session.settings(), context_.signIn);
    }
    return 0;
}

}  // namespace vantel
