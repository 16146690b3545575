// The words the command line uses for the stored numbers, both ways.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/config/ServerEntry.h"

namespace vantel {

/// "smtp", "pop3", "imap4"; "type 7" for a number that names none.
std::string TypeWord(int storedType);
/// "SMTP", "POP3", "IMAP4", as tables show them.
std::string TypeTitle(int storedType);
std::optional<ServerType> ParseTypeWord(std::string_view word);

/// "none", "tls", "starttls"; "mode 7" for a number this program does not know, "unreadable"
/// for a stored value that is no number.
std::string SecurityWord(int storedSecurity);
/// "None", "SSL/TLS", "STARTTLS", as the Server Settings dialog names them.
std::string SecurityTitle(int storedSecurity);
std::optional<SecurityMode> ParseSecurityWord(std::string_view word);

/// "smtp" or "pop3": which stream a kludge rewrites.
std::string DirectionWord(int kludgeType);
/// "change", "delete", "file", "special"; empty for an entry without an action.
std::string ActionWord(int action);

/// The user name of `entry`'s stored login; empty when it has none, or none that reads back
/// whole (a user and a password). The password is never kept.
std::string StoredLoginUser(const ServerEntry& entry);

/// "on"/"off", "yes"/"no", "true"/"false", "1"/"0".
std::optional<bool> ParseSwitchWord(std::string_view word);

/// A whole decimal number in [low, high], nothing else around it.
std::optional<int> ParseNumberIn(std::string_view text, int low, int high);

}  // namespace vantel
