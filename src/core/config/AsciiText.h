// Protocol words compare without regard to letter case, in ASCII only: a locale must not
// change what a command or an extension is.
#pragma once

#include <cstddef>
#include <string_view>

namespace vantel {

constexpr char AsciiUpper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

/// Whether `text` is `upper` (given in capitals) in any letter case.
constexpr bool EqualsNoCase(std::string_view text, std::string_view upper) {
    if (text.size() != upper.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (AsciiUpper(text[i]) != upper[i]) {
            return false;
        }
    }
    return true;
}

}  // namespace vantel
