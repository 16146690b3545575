#include "cli/CheckCommand.h"

#include <filesystem>
#include <fstream>
#include <memory>
#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/CommandLine.h"
#include "cli/PrintableText.h"
#include "cli/SettingsSession.h"
#include "cli/SettingsWords.h"
#include "cli/SignInStatus.h"
#include "cli/TextTable.h"
#include "core/config/StoredKludges.h"
#include "core/protocol/pop3/Pop3LoginSwap.h"
#include "core/rewrite/KludgeTypes.h"
#include "platform/EventLoop.h"
#include "platform/TlsFailure.h"

namespace vantel {
namespace {

using Problems = std::vector<CheckCommand::Problem>;

std::string Server(std::size_t i) {
    return "server " + std::to_string(i + 1);
}

std::string Quoted(const std::string& text) {
    return "'" + PrintableText(text) + "'";
}

void CheckSignIn(const RelaySettings& settings, std::size_t i, Problems& problems);

void CheckServers(const RelaySettings& settings, Problems& problems) {
    const std::vector<ServerEntry>& servers = settings.ServerList;
    for (std::size_t i = 0; i < servers.size(); ++i) {
        const ServerEntry& e = servers[i];
        const std::string edit = "vantel server edit " + std::to_string(i + 1);
        if (!IsKnownServerType(e.Type)) {
            problems.push_back({Server(i) + " has type number " + std::to_string(e.Type) +
                                    ", which this version does not know: it is relayed as SMTP",
                                edit + " --type smtp|pop3|imap4"});
        }
        if (e.Name.empty()) {
            problems.push_back({Server(i) + " names no server to relay to", edit + " --host HOST"});
        }
        for (const auto& [which, port] :
             {std::pair{"local", e.LocalPort}, std::pair{"remote", e.RemotePort}}) {
            if (port < 1 || port > 65535) {
                problems.push_back({Server(i) + " has " + which + " port " + std::to_string(port) +
                                        ", which no connection can use",
                                    edit + " --" + which + "-port N (1 to 65535)"});
            }
        }
        if (e.Security == kUnreadableSecurityMode) {
            problems.push_back({Server(i) +
                                    " has a security value that is no mode (empty, or not a "
                                    "number): the relay refuses it",
                                edit + " --security none|tls|starttls"});
        } else if (!IsKnownSecurityMode(e.Security)) {
            problems.push_back({Server(i) + " has security mode " + std::to_string(e.Security) +
                                    ", which this version does not know: the relay refuses it",
                                edit + " --security none|tls|starttls"});
        }
        if (!e.Fingerprint.empty() && NormalizeFingerprint(e.Fingerprint).empty()) {
            problems.push_back(
                {Server(i) + " pins " + Quoted(e.Fingerprint) +
                     ", which is no SHA-256 fingerprint: the relay refuses the entry",
                 edit + " --pin FINGERPRINT (32 pairs of hex digits), or --no-pin"});
        }
        const bool damaged = (e.PassDataIndex != -1 && e.CredentialLength == 0) ||
                             (e.CredentialLength > 0 && StoredLoginUser(e).empty());
        if (!Pop3LoginSwap::UnsafeLoginReason(e).empty()) {
            problems.push_back(
                {Server(i) + "'s stored login holds a line break: sent as it is, what follows "
                             "it would reach the server as commands of their own",
                 edit + " --user NAME (the password is asked for), or --no-login"});
        }
        if (e.Is(ServerType::Pop3) && damaged) {
            problems.push_back(
                {Server(i) + "'s stored login (PassData" + std::to_string(e.PassDataIndex) +
                     ") is missing or cannot be read back: the client's own login is sent",
                 edit + " --user NAME (the password is asked for), or --no-login"});
        }
        for (std::size_t k = 0; k < i; ++k) {
            const ServerEntry& other = servers[k];
            if (other.LocalPort == e.LocalPort && other.Type != e.Type) {
                problems.push_back(
                    {Server(k) + " (" + TypeTitle(other.Type) + ") and " + Server(i) + " (" +
                         TypeTitle(e.Type) + ") both listen on local port " +
                         std::to_string(e.LocalPort) + ": one port serves one protocol",
                     "give one of them a port of its own: " + edit + " --local-port N"});
                break;
            }
        }
        CheckSignIn(settings, i, problems);
    }
}

/// The OAuth 2.0 values an entry cannot sign in without.
void CheckSignIn(const RelaySettings& settings, std::size_t i, Problems& problems) {
    const ServerEntry& e = settings.ServerList[i];
    if (!e.SignsInWithOAuth()) {
        return;
    }
    const std::string edit = "vantel server edit " + std::to_string(i + 1);
    if (e.SignIn != StoredSignInMethod(SignInMethod::OAuth2)) {
        problems.push_back({Server(i) +
                                " has a sign-in method this version does not know: the relay "
                                "refuses it",
                            edit + " --sign-in password|oauth2"});
        return;
    }
    const OAuthSignIn& o = e.OAuth;
    if (o.Account.empty()) {
        problems.push_back({Server(i) + " signs in with OAuth 2.0 but names no account: the server "
                                        "would not know whose mailbox to open",
                            edit + " --account ADDRESS"});
    }
    const std::string& fallback = o.Provider == "microsoft" ? settings.OAuthDefaultMicrosoftClientId
                                  : o.Provider == "google"  ? settings.OAuthDefaultGoogleClientId
                                                            : std::string();
    if (o.ClientId.empty() && fallback.empty()) {
        const std::string key = o.Provider == "microsoft" ? "oauth-microsoft-client-id"
                                : o.Provider == "google"  ? "oauth-google-client-id"
                                                          : "";
        problems.push_back(
            {Server(i) + " signs in with OAuth 2.0 but has no client ID, and no default is set",
             edit + " --client-id ID" +
                 (key.empty() ? std::string()
                              : " (or for every entry: vantel set " + key + " ID)")});
    }
}

/// Why the file cannot give the kludge its lines; empty when it can.
std::string FileTrouble(const std::string& path) {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (!std::filesystem::exists(status)) {
        return "does not exist";
    }
    if (!std::filesystem::is_regular_file(status)) {
        return "is not a plain file";
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return "cannot be read";
    }
    if (file.peek() == std::ifstream::traits_type::eof()) {
        return "is empty";
    }
    return {};
}

void CheckKludges(const RelaySettings& settings, Problems& problems) {
    for (std::size_t i = 0; i < settings.Kludges.size(); ++i) {
        const std::string kludge = "kludge " + std::to_string(i + 1);
        const std::string edit = "vantel kludge edit " + std::to_string(i + 1);
        const KludgeRecord& entry = settings.Kludges[i];
        if (entry.headerName.empty()) {
            problems.push_back({kludge + " names no header", edit + " HEADER"});
        }
        if (entry.type != static_cast<int>(KludgeType::SmtpKludge) &&
            entry.type != static_cast<int>(KludgeType::Pop3Kludge)) {
            problems.push_back({kludge + " rewrites neither SMTP nor POP3 (type " +
                                    std::to_string(entry.type) + "): it never acts",
                                edit + " --smtp or --pop3"});
        }
        const auto action = static_cast<KludgeAction>(entry.action);
        if (entry.action < 0 || entry.action > static_cast<int>(KludgeAction::SpecialKludge)) {
            problems.push_back({kludge + " has no action it can take: it never acts",
                                edit + " --change TEXT, --delete, --from-file PATH or --special "
                                       "SIGNAL"});
        } else if (action == KludgeAction::TakeFromFile) {
            if (const std::string trouble = FileTrouble(entry.text); !trouble.empty()) {
                problems.push_back({kludge + " (" + entry.headerName + ") takes its lines from " +
                                        Quoted(entry.text) + ", which " + trouble +
                                        ": matching lines pass unchanged",
                                    "put lines in that file, or " + edit + " --from-file PATH"});
            }
        } else if (action == KludgeAction::SpecialKludge &&
                   FindSpecialKludge(settings.SpecialKludges, entry.text) < 0) {
            problems.push_back({kludge + " hands its lines to the special kludge with the signal " +
                                    "string " + Quoted(entry.text) + ", and there is none",
                                "vantel special add " + PrintableText(entry.text) +
                                    " SEPARATOR NAME, or " + edit + " with another action"});
        }
    }
    for (std::size_t i = 0; i < settings.SpecialKludges.size(); ++i) {
        const SpecialKludgeRecord& definition = settings.SpecialKludges[i];
        if (definition.separator.empty() || definition.kludgeName.empty()) {
            problems.push_back(
                {"special kludge " + std::to_string(i + 1) +
                     " has no separator or no name: it never adds a line",
                 "vantel special edit " + std::to_string(i + 1) + " SIGNAL SEPARATOR NAME"});
        }
    }
}

void CheckListenAddress(
    const RelaySettings& settings,
    const std::function<bool(const std::string& address, std::string& why)>& canListen,
    Problems& problems) {
    const std::string& address = settings.ListenAddress;
    if (address.empty() || address == "*") {
        return;
    }
    std::string why;
    if (!canListen(address, why)) {
        problems.push_back({"the listen address " + Quoted(address) +
                                " is not one this computer can listen on (" + why +
                                "): no port opens",
                            "vantel set listen-address local (this computer only), * (every "
                            "interface) or an address of this computer"});
    }
}

}  // namespace

std::vector<CheckCommand::Problem> CheckCommand::FindProblems(
    const RelaySettings& settings,
    const std::function<bool(const std::string& address, std::string& why)>& canListen) {
    Problems problems;
    CheckServers(settings, problems);
    CheckKludges(settings, problems);
    CheckListenAddress(settings, canListen, problems);
    return problems;
}

int CheckCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, {}) || !line.operands().empty()) {
        return UsageError(context_, "check", line.error());
    }
    std::ostream& out = context_.out;
    if (!context_.loadError.empty()) {
        out << PrintableText(context_.loadError) << '\n'
            << "  what to do: correct that line; vantel and vantel-relay never write over a file "
               "they cannot read\n";
        return kExitFailed;
    }
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    const RelaySettings& settings = session.settings();
    const std::unique_ptr<EventLoop> loop = CreateEventLoop();
    SocketEvents none;
    std::vector<Problem> problems =
        FindProblems(settings, [&loop, &none](const std::string& address, std::string& why) {
            return loop->CreateSocket(none)->Listen(address, 0, why);
        });
    if (settings.ServerList.empty()) {
        problems.insert(problems.begin(),
                        {"there is no server entry" +
                             std::string(context_.storeMissing ? " (no settings file yet)" : "") +
                             ": the relay listens on no port",
                         "vantel server add --host HOST [--type pop3] ..."});
    }
    const std::string where = context_.storeName + (context_.machine ? " (machine-wide)" : "");
    for (const Problem& problem : problems) {
        out << PrintableText(problem.what) << "\n  what to do: " << problem.todo << '\n';
    }
    for (std::size_t i = 0; i < settings.ServerList.size(); ++i) {
        const ServerEntry& e = settings.ServerList[i];
        if (e.SignIn == StoredSignInMethod(SignInMethod::OAuth2)) {
            out << Server(i) << ": " << SignInStatus::Line(context_.signIn, e, i + 1) << '\n';
        }
    }
    if (problems.empty()) {
        out << where << ": no problems found (" << settings.ServerList.size() << " server entries, "
            << settings.Kludges.size() << " kludges, " << settings.SpecialKludges.size()
            << " special kludges)\n";
        return kExitOk;
    }
    out << where << ": " << problems.size() << (problems.size() == 1 ? " problem" : " problems")
        << '\n';
    return kExitFailed;
}

}  // namespace vantel
