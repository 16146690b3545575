#include "cli/ServerCommand.h"

#include <istream>
#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/PrintableText.h"
#include "cli/ProbeCommand.h"
#include "cli/SettingsSession.h"
#include "cli/SettingsWords.h"
#include "core/config/CredentialCodec.h"
#include "core/config/SettingsEdits.h"
#include "platform/TerminalInput.h"
#include "platform/TlsFailure.h"

namespace vantel {
namespace {

const std::initializer_list<OptionRule> kOptions = {
    {"--type", true},       {"--host", true},
    {"--local-port", true}, {"--remote-port", true},
    {"--security", true},   {"--pin", true},
    {"--no-pin", false},    {"--pin-current", false},
    {"--user", true},       {"--password-stdin", false},
    {"--no-login", false},  {"--password", true}};

/// Why a user name or password with a CR, LF or NUL is refused, after what it is.
constexpr const char* kLoginLineBreakText =
    "cannot hold line breaks (CR, LF) or NUL characters: the server would take what follows "
    "for commands of their own";

/// Fills the rest of `secret` with NULs before it goes, so the password does not linger.
void Wipe(std::string& secret) {
    secret.assign(secret.size(), '\0');
    secret.clear();
}

std::string Describe(std::size_t number, const ServerEntry& e) {
    std::string text = "server " + std::to_string(number) + ": " + TypeTitle(e.Type) +
                       " on local port " + std::to_string(e.LocalPort) + " to " + e.Name + ":" +
                       std::to_string(e.RemotePort);
    if (e.Encrypted()) {
        text += " (" + SecurityTitle(e.Security) + (e.Fingerprint.empty() ? "" : ", pinned") + ")";
    }
    if (const std::string user = StoredLoginUser(e); !user.empty()) {
        text += ", login stored for " + user;
    }
    // A hand-edited store may hold anything in the name and the login.
    return PrintableText(text);
}

}  // namespace

int ServerCommand::Run(const std::vector<std::string>& words) {
    CommandLine line;
    if (!line.Parse(words, kOptions)) {
        return UsageError(context_, "server", line.error());
    }
    if (line.Has("--password")) {
        return Fail(context_,
                    "a password is never given as an argument: it would show in the list of "
                    "processes. Use the prompt (with --user) or --password-stdin");
    }
    const std::vector<std::string>& operands = line.operands();
    const std::string verb = operands.empty() ? std::string() : operands[0];
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    std::vector<ServerEntry>& servers = session.settings().ServerList;

    if (verb == "add" && operands.size() == 1) {
        if (!line.Has("--host")) {
            return UsageError(context_, "server add", "--host is needed");
        }
        if (line.Has("--pin-current")) {
            return UsageError(context_, "server add",
                              "--pin-current probes an entry that exists: add it first, then "
                              "use vantel server edit N --pin-current");
        }
        ServerEntry entry;
        if (!Apply(line, entry, true, servers)) {
            return kExitFailed;
        }
        SettingsEdits::AddServer(servers, entry);
        if (!session.Save()) {
            return kExitFailed;
        }
        context_.out << "Added " << Describe(servers.size(), entry) << '\n';
        return kExitOk;
    }
    if ((verb == "edit" || verb == "remove") && operands.size() == 2) {
        const int index = EntryIndex(context_, "server", operands[1], servers.size());
        if (index < 0) {
            return kExitFailed;
        }
        const auto position = static_cast<std::size_t>(index);
        if (verb == "remove") {
            const ServerEntry removed = servers[position];
            SettingsEdits::RemoveServer(servers, position);
            if (!session.Save()) {
                return kExitFailed;
            }
            context_.out << "Removed " << Describe(position + 1, removed) << '\n';
            return kExitOk;
        }
        ServerEntry entry = servers[position];
        if (!Apply(line, entry, false, servers)) {
            return kExitFailed;
        }
        if (line.Has("--pin-current") && !PinCurrent(entry)) {
            return kExitFailed;
        }
        SettingsEdits::ReplaceServer(servers, position, entry);
        if (!session.Save()) {
            return kExitFailed;
        }
        context_.out << "Changed " << Describe(position + 1, entry) << '\n';
        return kExitOk;
    }
    return UsageError(
        context_, "server",
        verb.empty() ? "say add, edit N or remove N" : "cannot make sense of '" + verb + "' here");
}

bool ServerCommand::Apply(const CommandLine& line, ServerEntry& entry, bool adding,
                          const std::vector<ServerEntry>& servers) {
    if (line.Has("--pin") && (line.Has("--no-pin") || line.Has("--pin-current"))) {
        Fail(context_, "--pin, --no-pin and --pin-current exclude each other");
        return false;
    }
    const ServerType oldType = ServerTypeFromStored(entry.Type);
    ServerType type = oldType;
    if (const auto word = line.Value("--type")) {
        const auto parsed = ParseTypeWord(*word);
        if (!parsed) {
            Fail(context_, "--type is smtp, pop3 or imap4, not '" + *word + "'");
            return false;
        }
        type = *parsed;
    }
    int security = entry.Security;
    if (const auto word = line.Value("--security")) {
        const auto parsed = ParseSecurityWord(*word);
        if (!parsed) {
            Fail(context_, "--security is none, tls or starttls, not '" + *word + "'");
            return false;
        }
        security = StoredSecurityMode(*parsed);
    }
    if (adding) {
        // A new entry starts from the dialog's: SMTP ports, then the chosen type's and mode's.
        entry = SettingsEdits::NewServer(type, security);
    } else {
        // The dialog's order: the type first, then the mode.
        SettingsEdits::ChangeType(entry, type);
        SettingsEdits::ChangeSecurity(entry, security);
    }
    for (const auto& [option, port] : {std::pair{"--local-port", &entry.LocalPort},
                                       std::pair{"--remote-port", &entry.RemotePort}}) {
        if (const auto word = line.Value(option)) {
            const auto number = ParseNumberIn(*word, 1, 65535);
            if (!number) {
                Fail(context_,
                     std::string(option) + " is a port from 1 to 65535, not '" + *word + "'");
                return false;
            }
            *port = *number;
        }
    }
    if (const auto host = line.Value("--host")) {
        if (host->empty() || host->find_first_of(" \t\r\n") != std::string::npos) {
            Fail(context_, "--host is a name or address without blanks");
            return false;
        }
        if (host->size() > ServerEntry::kMaxNameLength) {
            Fail(context_, "--host can have at most " +
                               std::to_string(ServerEntry::kMaxNameLength) + " characters");
            return false;
        }
        entry.Name = *host;
    }
    if (const auto pin = line.Value("--pin")) {
        entry.Fingerprint = NormalizeFingerprint(*pin);
        if (entry.Fingerprint.empty()) {
            Fail(context_,
                 "--pin is the certificate's SHA-256 fingerprint: 32 pairs of hex digits "
                 "(AB:CD:...)");
            return false;
        }
    }
    if (line.Has("--no-pin")) {
        entry.Fingerprint.clear();
    }
    return ApplyLogin(line, entry, servers);
}

bool ServerCommand::ApplyLogin(const CommandLine& line, ServerEntry& entry,
                               const std::vector<ServerEntry>& servers) {
    const auto user = line.Value("--user");
    if (line.Has("--no-login")) {
        if (user || line.Has("--password-stdin")) {
            Fail(context_, "--no-login cannot go with --user or --password-stdin");
            return false;
        }
        SettingsEdits::ClearLogin(entry);
        return true;
    }
    if (!user) {
        if (line.Has("--password-stdin")) {
            Fail(context_, "--password-stdin goes with --user NAME");
            return false;
        }
        return true;
    }
    if (!entry.Is(ServerType::Pop3)) {
        Fail(context_,
             "only POP3 entries have a stored login (this one is " + TypeTitle(entry.Type) + ")");
        return false;
    }
    if (user->empty()) {
        Fail(context_, "--user is empty; to forget the login use --no-login");
        return false;
    }
    if (LoginHoldsLineBreakOrNul(*user)) {
        Fail(context_, std::string("--user ") + kLoginLineBreakText);
        return false;
    }
    std::string password;
    if (!ReadPassword(line, *user, password)) {
        return false;
    }
    if (password.empty()) {
        Fail(context_, "the password is empty: the login was not stored");
        return false;
    }
    if (LoginHoldsLineBreakOrNul(password)) {
        Wipe(password);
        Fail(context_,
             std::string("the password ") + kLoginLineBreakText + "; the login was not stored");
        return false;
    }
    if (user->size() + password.size() > kMaxCredentialText) {
        Wipe(password);
        Fail(context_, "The user name and password together can have at most " +
                           std::to_string(kMaxCredentialText) + " characters.");
        return false;
    }
    SettingsEdits::SetLogin(entry, servers, *user, password, context_.tick);
    Wipe(password);
    return true;
}

bool ServerCommand::ReadPassword(const CommandLine& line, const std::string& user,
                                 std::string& password) {
    if (line.Has("--password-stdin")) {
        if (!std::getline(context_.in, password) && password.empty()) {
            Fail(context_, "--password-stdin: standard input gave no line");
            return false;
        }
        if (!password.empty() && password.back() == '\r') {
            password.pop_back();
        }
        return true;
    }
    if (!StandardInputIsTerminal()) {
        Fail(context_,
             "no terminal to ask for the password: give it on standard input with "
             "--password-stdin");
        return false;
    }
    std::string error;
    if (!ReadHiddenLine("Password for " + user + ": ", password, error)) {
        Fail(context_, "the password could not be read: " + error);
        return false;
    }
    return true;
}

bool ServerCommand::PinCurrent(ServerEntry& entry) {
    if (!entry.Encrypted()) {
        Fail(context_, "--pin-current needs an entry with --security tls or starttls");
        return false;
    }
    std::string fingerprint;
    if (!ProbeCommand(context_).ProbeForPin(entry, fingerprint)) {
        return false;
    }
    entry.Fingerprint = fingerprint;
    return true;
}

}  // namespace vantel
