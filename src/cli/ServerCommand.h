// vantel server add|edit|remove: the server entries, with the Server Settings dialog's rules.
#pragma once

#include <string>
#include <vector>

#include "cli/CliContext.h"
#include "cli/CommandLine.h"
#include "core/config/ServerEntry.h"

namespace vantel {

class ServerCommand {
  public:
    static constexpr const char* kHelp =
        "Usage: vantel server add --host HOST [OPTIONS]\n"
        "       vantel server add --preset NAME --type TYPE [OPTIONS]\n"
        "       vantel server edit N [OPTIONS]\n"
        "       vantel server remove N\n"
        "Adds, changes or removes a server entry: the relay listens on the local port and\n"
        "relays every connection to HOST. N is the entry's number in vantel show.\n"
        "  --type smtp|pop3|imap4  the protocol (default smtp)\n"
        "  --host HOST             the server's name or address\n"
        "  --local-port N          the port the mail client connects to (default: the type's)\n"
        "  --remote-port N         the server's port (default: the type's for the security)\n"
        "  --security none|tls|starttls\n"
        "                          plain text, TLS from the first byte, or STARTTLS\n"
        "  --pin FINGERPRINT       accept only the certificate with this SHA-256 fingerprint\n"
        "  --no-pin                check the certificate against the trusted roots again\n"
        "  --pin-current           (edit) probe the server and pin the certificate it shows\n"
        "  --user NAME             POP3: the login the relay sends instead of the client's;\n"
        "                          the password is asked for without echo\n"
        "  --password-stdin        read the password from the first line of standard input\n"
        "  --no-login              forget the stored login\n"
        "  --preset NAME           (with --type) a provider's host, port, security and sign-in:\n"
        "                          microsoft, google, fastmail, yahoo, icloud, zoho\n"
        "  --sign-in password|oauth2\n"
        "                          the client's own login, or the relay signs in with OAuth 2.0\n"
        "  --provider microsoft|google|other\n"
        "  --account ADDRESS       OAuth 2.0: the mailbox's address\n"
        "  --tenant T              Microsoft: common, organizations, consumers or a tenant ID\n"
        "  --client-id ID          the registration's client ID (default: vantel set's)\n"
        "  --client-secret-stdin   read the client secret (Google) from standard input\n"
        "  --authorize-url URL, --token-url URL, --device-url URL\n"
        "                          other providers: https://, or http:// to this computer only\n"
        "  --scopes \"A B\"          other providers: the scopes to ask for\n"
        "  --mechanism xoauth2|oauthbearer\n"
        "                          other providers: how the token is sent\n"
        "An empty value (--client-id '') clears an OAuth 2.0 value.\n"
        "A type or security change moves a port that still holds the old default to the new\n"
        "one (SMTP 25/465/587, POP3 110/995/110, IMAP4 143/993/143). A password is never\n"
        "taken as an argument: it would show in the list of processes.\n";

    explicit ServerCommand(CliContext& context) : context_(context) {}
    int Run(const std::vector<std::string>& words);

  private:
    /// Applies the options to `entry`; false when one of them is refused (the user was told).
    bool Apply(const CommandLine& line, ServerEntry& entry, bool adding,
               const std::vector<ServerEntry>& servers);
    /// The sign-in method and the OAuth 2.0 values.
    bool ApplySignIn(const CommandLine& line, ServerEntry& entry);
    bool ApplyLogin(const CommandLine& line, ServerEntry& entry,
                    const std::vector<ServerEntry>& servers);
    /// The password from standard input or the terminal prompt.
    bool ReadPassword(const CommandLine& line, const std::string& user, std::string& password);
    /// Probes the entry's server and pins the certificate it shows.
    bool PinCurrent(ServerEntry& entry);

    CliContext& context_;
};

}  // namespace vantel
