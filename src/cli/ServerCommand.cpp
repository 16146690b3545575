#include "cli/ServerCommand.h"

#include <istream>
#include <ostream>

#include "cli/CliMessages.h"
#include "cli/CliNotifier.h"
#include "cli/OAuthOptions.h"
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

const std::initializer_list<OptionRule> kOptions = {{"--type", true},
                                                    {"--host", true},
                                                    {"--local-port", true},
                                                    {"--remote-port", true},
                                                    {"--security", true},
                                                    {"--pin", true},
                                                    {"--no-pin", false},
                                                    {"--pin-current", false},
                                                    {"--user", true},
                                                    {"--password-stdin", false},
                                                    {"--no-login", false},
                                                    {"--password", true},
                                                    {"--preset", true},
                                                    {"--sign-in", true},
                                                    {"--provider", true},
                                                    {"--account", true},
                                                    {"--tenant", true},
                                                    {"--client-id", true},
                                                    {"--client-secret-stdin", false},
                                                    {"--client-secret", true},
                                                    {"--authorize-url", true},
                                                    {"--token-url", true},
                                                    {"--device-url", true},
                                                    {"--scopes", true},
                                                    {"--mechanism", true}};

/// The OAuth 2.0 options that only an entry signing in with OAuth 2.0 can take.
constexpr const char* kOAuthOnlyOptions[] = {
    "--provider",      "--account",   "--tenant",     "--client-id", "--client-secret-stdin",
    "--authorize-url", "--token-url", "--device-url", "--scopes",    "--mechanism"};

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
    if (e.SignsInWithOAuth()) {
        text += ", OAuth 2.0 (" + (e.OAuth.Provider.empty() ? "no provider" : e.OAuth.Provider) +
                (e.OAuth.Account.empty() ? "" : ", " + e.OAuth.Account) + ")";
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
    if (line.Has("--client-secret")) {
        return Fail(context_,
                    "a client secret is never given as an argument: it would show in the list "
                    "of processes. Use --client-secret-stdin");
    }
    if (line.Has("--client-secret-stdin") && line.Has("--password-stdin")) {
        return Fail(context_,
                    "--client-secret-stdin and --password-stdin both read standard input: give "
                    "one at a time");
    }
    const std::vector<std::string>& operands = line.operands();
    const std::string verb = operands.empty() ? std::string() : operands[0];
    CliNotifier quiet;
    SettingsSession session(context_, quiet);
    session.Load();
    std::vector<ServerEntry>& servers = session.settings().ServerList;

    if (verb == "add" && operands.size() == 1) {
        if (!line.Has("--host") && !line.Has("--preset")) {
            return UsageError(context_, "server add", "--host (or --preset NAME) is needed");
        }
        if (line.Has("--preset") && !line.Has("--type")) {
            return UsageError(context_, "server add",
                              "--preset goes with --type imap4, pop3 or smtp: a provider has "
                              "a server for each");
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
    if (const auto name = line.Value("--preset")) {
        ServerPreset::Server preset;
        std::string problem;
        if (!ServerPreset::Find(OAuthOptions::Lower(*name), type, preset, problem)) {
            Fail(context_, "--preset: " + problem);
            return false;
        }
        SettingsEdits::ApplyPreset(entry, type, preset);
        if (line.Has("--security")) {
            SettingsEdits::ChangeSecurity(entry, security);
        }
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
    return ApplySignIn(line, entry) && ApplyLogin(line, entry, servers);
}

bool ServerCommand::ApplySignIn(const CommandLine& line, ServerEntry& entry) {
    if (const auto word = line.Value("--sign-in")) {
        if (*word == "password") {
            entry.SignIn = StoredSignInMethod(SignInMethod::Password);
        } else if (*word == "oauth2") {
            entry.SignIn = StoredSignInMethod(SignInMethod::OAuth2);
        } else {
            Fail(context_, "--sign-in is password or oauth2, not '" + *word + "'");
            return false;
        }
    }
    if (!entry.SignsInWithOAuth()) {
        for (const char* option : kOAuthOnlyOptions) {
            if (line.Has(option)) {
                Fail(context_, std::string(option) +
                                   " goes with --sign-in oauth2: this entry signs in with a "
                                   "password");
                return false;
            }
        }
        return true;
    }
    OAuthSignIn oauth = entry.OAuth;
    if (const auto word = line.Value("--provider")) {
        const auto provider = OAuthOptions::ParseProvider(*word);
        if (!provider) {
            Fail(context_, "--provider is microsoft, google or other, not '" + *word + "'");
            return false;
        }
        oauth.Provider = *provider;
    }
    if (oauth.Provider.empty()) {
        Fail(context_,
             "an OAuth 2.0 entry needs --provider microsoft, google or other (or --preset NAME)");
        return false;
    }
    if (const auto account = line.Value("--account")) {
        if (!account->empty() && !OAuthOptions::IsAccount(*account)) {
            Fail(context_, "--account is the mailbox's address (name@example.org), not '" +
                               PrintableText(*account) + "'");
            return false;
        }
        oauth.Account = *account;
    }
    if (const auto tenant = line.Value("--tenant")) {
        if (oauth.Provider != "microsoft") {
            Fail(context_, "--tenant is for Microsoft entries only");
            return false;
        }
        if (!tenant->empty() && !OAuthOptions::IsTenant(*tenant)) {
            Fail(context_,
                 "--tenant is common, organizations, consumers, a tenant ID (a GUID) or the "
                 "tenant's domain name, not '" +
                     PrintableText(*tenant) + "'");
            return false;
        }
        oauth.Tenant = *tenant;
    }
    if (const auto id = line.Value("--client-id")) {
        if (!id->empty() && !OAuthOptions::IsClientId(*id)) {
            Fail(context_,
                 "--client-id is the registration's ID, without blanks or control characters");
            return false;
        }
        oauth.ClientId = *id;
    }
    for (const auto& [option, field] : {std::pair{"--authorize-url", &OAuthSignIn::AuthorizeUrl},
                                        std::pair{"--token-url", &OAuthSignIn::TokenUrl},
                                        std::pair{"--device-url", &OAuthSignIn::DeviceUrl}}) {
        const auto url = line.Value(option);
        if (!url) {
            continue;
        }
        if (oauth.Provider != "other") {
            Fail(context_, std::string(option) +
                               " is for --provider other: Microsoft and Google have theirs "
                               "built in");
            return false;
        }
        if (!url->empty() && !OAuthOptions::IsEndpointUrl(*url)) {
            Fail(context_, std::string(option) +
                               " is an https:// address (http:// only to 127.0.0.1, ::1 or "
                               "localhost), not '" +
                               PrintableText(*url) + "'");
            return false;
        }
        oauth.*field = *url;
    }
    if (const auto scopes = line.Value("--scopes")) {
        if (oauth.Provider != "other") {
            Fail(context_,
                 "--scopes is for --provider other: Microsoft and Google have theirs "
                 "built in");
            return false;
        }
        const auto normalized = OAuthOptions::NormalizeScopes(*scopes);
        if (!scopes->empty() && !normalized) {
            Fail(context_,
                 "--scopes is a list of scopes separated by blanks, each without "
                 "control characters");
            return false;
        }
        oauth.Scopes = normalized.value_or(std::string());
    }
    if (const auto word = line.Value("--mechanism")) {
        const auto mechanism = OAuthOptions::ParseMechanism(*word);
        if (!word->empty() && !mechanism) {
            Fail(context_,
                 "--mechanism is xoauth2 or oauthbearer, not '" + PrintableText(*word) + "'");
            return false;
        }
        oauth.Mechanism = mechanism.value_or(std::string());
    }
    if (line.Has("--client-secret-stdin")) {
        std::string secret;
        if (!std::getline(context_.in, secret) && secret.empty()) {
            Fail(context_, "--client-secret-stdin: standard input gave no line");
            return false;
        }
        if (!secret.empty() && secret.back() == '\r') {
            secret.pop_back();
        }
        // The secret is never repeated in a message, whatever it holds.
        if (!secret.empty() && !OAuthOptions::IsClientId(secret)) {
            Wipe(secret);
            Fail(context_,
                 "the client secret holds blanks or control characters: it was not "
                 "stored");
            return false;
        }
        Wipe(oauth.ClientSecret);
        oauth.ClientSecret = secret;
        Wipe(secret);
    }
    entry.OAuth = oauth;
    Wipe(oauth.ClientSecret);
    return true;
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
