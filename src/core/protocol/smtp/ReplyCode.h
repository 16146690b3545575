// The three-digit code that starts every reply of an SMTP or news server, and the extension
// each line of an EHLO answer names.
#pragma once

#include <cstddef>
#include <string_view>

namespace vantel {

/// The code of the reply line `line` starts with; -1 when it has none.
inline int ReplyCode(std::string_view line) {
    const auto digit = [&](std::size_t i) { return line[i] >= '0' && line[i] <= '9'; };
    if (line.size() < 3 || !digit(0) || !digit(1) || !digit(2)) {
        return -1;
    }
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

/// "ddd-": more lines of the same reply follow.
inline bool IsContinuedReply(std::string_view line) {
    return ReplyCode(line) >= 0 && line.size() > 3 && line[3] == '-';
}

/// The extension a "250-" or "250 " line of an EHLO answer names (its first word, as the
/// server spells it); empty for any other line.
inline std::string_view EhloKeyword(std::string_view line) {
    if (line.size() < 5 || line.substr(0, 3) != "250" || (line[3] != '-' && line[3] != ' ')) {
        return {};
    }
    const std::string_view rest = line.substr(4);
    return rest.substr(0, rest.find_first_of(" \t\r\n"));
}

}  // namespace vantel
