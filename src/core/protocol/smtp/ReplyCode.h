// The three-digit code that starts every reply of an SMTP or news server.
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

}  // namespace vantel
