#include "cli/SettingsWords.h"

#include <charconv>

#include "core/config/CredentialCodec.h"
#include "core/rewrite/KludgeTypes.h"

namespace vantel {
namespace {

constexpr const char* kTypeWords[] = {"smtp", "pop3", "imap4"};
constexpr const char* kTypeTitles[] = {"SMTP", "POP3", "IMAP4"};
constexpr const char* kSecurityWords[] = {"none", "tls", "starttls"};
constexpr const char* kSecurityTitles[] = {"None", "SSL/TLS", "STARTTLS"};
constexpr const char* kActionWords[] = {"change", "delete", "file", "special"};

}  // namespace

std::string TypeWord(int storedType) {
    return IsKnownServerType(storedType) ? kTypeWords[storedType]
                                         : "type " + std::to_string(storedType);
}

std::string TypeTitle(int storedType) {
    return IsKnownServerType(storedType) ? kTypeTitles[storedType]
                                         : "type " + std::to_string(storedType);
}

std::optional<ServerType> ParseTypeWord(std::string_view word) {
    for (int i = 0; i < 3; ++i) {
        if (word == kTypeWords[i]) {
            return static_cast<ServerType>(i);
        }
    }
    if (word == "imap") {
        return ServerType::Imap4;
    }
    return std::nullopt;
}

std::string SecurityWord(int storedSecurity) {
    if (storedSecurity == kUnreadableSecurityMode) {
        return "unreadable";
    }
    return IsKnownSecurityMode(storedSecurity) ? kSecurityWords[storedSecurity]
                                               : "mode " + std::to_string(storedSecurity);
}

std::string SecurityTitle(int storedSecurity) {
    if (storedSecurity == kUnreadableSecurityMode) {
        return "unreadable";
    }
    return IsKnownSecurityMode(storedSecurity) ? kSecurityTitles[storedSecurity]
                                               : "mode " + std::to_string(storedSecurity);
}

std::optional<SecurityMode> ParseSecurityWord(std::string_view word) {
    for (int i = 0; i < 3; ++i) {
        if (word == kSecurityWords[i]) {
            return static_cast<SecurityMode>(i);
        }
    }
    if (word == "ssl") {
        return SecurityMode::SslTls;
    }
    return std::nullopt;
}

std::string DirectionWord(int kludgeType) {
    if (kludgeType == static_cast<int>(KludgeType::SmtpKludge)) {
        return "smtp";
    }
    if (kludgeType == static_cast<int>(KludgeType::Pop3Kludge)) {
        return "pop3";
    }
    return "type " + std::to_string(kludgeType);
}

std::string ActionWord(int action) {
    return action >= 0 && action < 4 ? kActionWords[action] : std::string();
}

std::string StoredLoginUser(const ServerEntry& entry) {
    std::string user;
    std::string password;
    UnpackCredentials(entry.Credentials, entry.CredentialLength, user, password);
    const bool whole = !user.empty() && !password.empty();
    password.assign(password.size(), '\0');
    return whole ? user : std::string();
}

std::optional<bool> ParseSwitchWord(std::string_view word) {
    if (word == "on" || word == "yes" || word == "true" || word == "1") {
        return true;
    }
    if (word == "off" || word == "no" || word == "false" || word == "0") {
        return false;
    }
    return std::nullopt;
}

std::optional<int> ParseNumberIn(std::string_view text, int low, int high) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, problem] = std::from_chars(text.data(), end, value);
    if (text.empty() || problem != std::errc() || stop != end || value < low || value > high) {
        return std::nullopt;
    }
    return value;
}

}  // namespace vantel
