// Conversions between the store's byte strings and the UTF-16LE that Windows tools write.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

class Utf16 {
  public:
    /// UTF-16LE bytes to UTF-8. Unpaired surrogates become U+FFFD; an odd last byte is ignored.
    static std::string ToUtf8(std::string_view littleEndian);
    /// Text to UTF-16LE without terminator. Valid UTF-8 sequences give their code point; any
    /// other byte is taken as Latin-1, so arbitrary bytes still encode.
    static std::vector<std::uint8_t> FromText(std::string_view text);
};

}  // namespace vantel
