// Protocol words compare without regard to letter case, and hex digits read, in ASCII only:
// a locale must not change what a command, an extension or a number is.
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

/// The value of a hex digit in either case; -1 for any other character.
constexpr int HexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace vantel
