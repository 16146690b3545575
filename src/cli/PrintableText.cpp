#include "cli/PrintableText.h"

#include <cstdint>

namespace vantel {
std::size_t Utf8Sequence(std::string_view text, std::uint32_t& code) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
    if (text.empty()) {
        return 0;
    }
    const std::uint8_t lead = byte(0);
    std::size_t length = 0;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        code = lead & 0x1fu;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        code = lead & 0x0fu;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xc0u) != 0x80u) {
            return 0;
        }
        code = code << 6 | (byte(i) & 0x3fu);
    }
    const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    const bool fits = code >= least && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
    return fits ? length : 0;
}

std::string PrintableText(std::string_view text) {
    std::string printable;
    printable.reserve(text.size());
    while (!text.empty()) {
        const char c = text.front();
        std::size_t length = 1;
        if (c >= 0x20 && c < 0x7f) {
            printable += c;
        } else if (c == '\t') {
            printable += ' ';
        } else if (std::uint32_t code = 0;
                   (length = Utf8Sequence(text, code)) > 0 && !(code >= 0x80 && code <= 0x9f)) {
            // Well-formed and no C1 control, which some terminals act on.
            printable.append(text.substr(0, length));
        } else {
            length = 1;
            printable += '?';
        }
        text.remove_prefix(length);
    }
    return printable;
}

}  // namespace vantel
