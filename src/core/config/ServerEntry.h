// One configured relay route and its text form in the settings store.
#pragma once

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/config/OAuthSignIn.h"

namespace vantel {

/// Protocol of a server entry; stored as its number, so unknown numbers survive as ints.
enum class ServerType : int { Smtp = 0, Pop3 = 1, Imap4 = 2 };

/// The number `type` is stored as.
constexpr int StoredServerType(ServerType type) {
    return static_cast<int>(type);
}

/// Whether a stored number names a ServerType; damaged or newer settings may hold others.
constexpr bool IsKnownServerType(int stored) {
    return stored >= StoredServerType(ServerType::Smtp) &&
           stored <= StoredServerType(ServerType::Imap4);
}

/// The type a stored number stands for where one has to be chosen (the entry editor): a
/// number that names none is taken as Smtp, as the line parser takes the high ones.
constexpr ServerType ServerTypeFromStored(int stored) {
    return IsKnownServerType(stored) ? static_cast<ServerType>(stored) : ServerType::Smtp;
}

/// How the relay talks to the server: plain text, TLS from the first byte, or plain text
/// upgraded with the protocol's STARTTLS command. Stored as its number beside the entry.
enum class SecurityMode : int { None = 0, SslTls = 1, StartTls = 2 };

constexpr int StoredSecurityMode(SecurityMode mode) {
    return static_cast<int>(mode);
}

/// Whether a stored number names a SecurityMode. Any other number (a newer program's mode)
/// is never taken as None: such an entry is refused rather than sent in plain text.
constexpr bool IsKnownSecurityMode(int stored) {
    return stored >= StoredSecurityMode(SecurityMode::None) &&
           stored <= StoredSecurityMode(SecurityMode::StartTls);
}

/// The mode of an entry whose stored security value is there but names no mode by a number
/// (empty, blank, a word, a value of another type). Known to no program, so the relay refuses
/// the entry like one of an unknown mode; saved back, it reads as itself again.
inline constexpr int kUnreadableSecurityMode = INT_MIN;

/// Whether a user name or password holds a CR, LF or NUL. Sent in the relay's USER or PASS
/// line, what follows one would reach the server as a command of its own: such a login is
/// refused where it is typed and reported where it is found stored.
bool LoginHoldsLineBreakOrNul(std::string_view text);

struct ServerEntry {
    static constexpr std::size_t kCredentialsSize = 255;
    static constexpr std::size_t kMaxNameLength = 255;

    std::string Name;  ///< Remote host name or address, at most kMaxNameLength characters.
    int LocalPort = 0;
    int RemotePort = 0;
    int Type = StoredServerType(ServerType::Smtp);  ///< A ServerType number.
    int CredentialLength = 0;                       ///< Bytes of Credentials in use; 0 = none.
    std::array<std::uint8_t, kCredentialsSize> Credentials{};  ///< Scrambled login.
    int PassDataIndex = -1;  ///< Number of the "PassData%d" value; -1 = none.
    int Security = StoredSecurityMode(SecurityMode::None);  ///< A SecurityMode number.
    /// The pinned SHA-256 fingerprint of the server's certificate; empty: none is pinned and
    /// the certificate is checked against the trusted roots and the entry's name.
    std::string Fingerprint;
    int SignIn = StoredSignInMethod(SignInMethod::Password);  ///< A SignInMethod number.
    OAuthSignIn OAuth;  ///< What an OAuth2 entry signs in with; kept whatever SignIn says.

    /// Exactly `type`: a number that names no type is none of them.
    bool Is(ServerType type) const { return Type == StoredServerType(type); }
    /// Exactly `mode`.
    bool Uses(SecurityMode mode) const { return Security == StoredSecurityMode(mode); }
    /// Whether the relay speaks TLS to the server (or a mode it does not know, which it
    /// refuses rather than speak plain text).
    bool Encrypted() const { return !Uses(SecurityMode::None); }
    /// Whether the relay signs in for the client with OAuth 2.0 (or a method it does not
    /// know, which it refuses rather than pass the client's login on).
    bool SignsInWithOAuth() const { return SignIn != StoredSignInMethod(SignInMethod::Password); }

    /// How notices name the entry: "local port 2525, server mail.example.org port 25".
    std::string Label() const;

    bool operator==(const ServerEntry& other) const {
        return Name == other.Name && LocalPort == other.LocalPort &&
               RemotePort == other.RemotePort && Type == other.Type &&
               CredentialLength == other.CredentialLength && Credentials == other.Credentials &&
               PassDataIndex == other.PassDataIndex && Security == other.Security &&
               Fingerprint == other.Fingerprint && SignIn == other.SignIn && OAuth == other.OAuth;
    }
    bool operator!=(const ServerEntry& other) const { return !(*this == other); }
};

/// "LocalPort RemotePort Type PassDataIndex Name", single blanks.
std::string FormatServerLine(const ServerEntry& entry);

/// Reads a server line leniently: up to four leading numbers (missing ones keep their
/// defaults), a type of 3 or more becomes Smtp, and the name is the text after the last
/// blank, cut to kMaxNameLength. A line without a blank still gives an entry (with an empty
/// name) so that the ordinals of the entries after it keep their meaning. Credentials are
/// left empty; they live in separate values.
ServerEntry ParseServerLine(std::string_view line);

/// The "PassData%d" number for an entry getting its first login: the tick count, moved on past
/// -1 (none) and past numbers other entries of `servers` already use, so that no two logins
/// share one stored value.
int ChoosePassDataIndex(const std::vector<ServerEntry>& servers, std::uint32_t tick);

}  // namespace vantel
