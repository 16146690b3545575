#include "platform/EscapedText.h"

#include <cstddef>
#include <cstdint>

namespace vantel {
namespace {

enum class Breaks { Escape, Keep, Blank };

/// The length of the well-formed UTF-8 sequence at the start of `text` (0: none), with its
/// character in `code`.
std::size_t Utf8Length(std::string_view text, std::uint32_t& code) {
    const auto lead = static_cast<std::uint8_t>(text[0]);
    const std::size_t length = lead >= 0xc2 && lead <= 0xdf   ? 2
                               : lead >= 0xe0 && lead <= 0xef ? 3
                               : lead >= 0xf0 && lead <= 0xf4 ? 4
                                                              : 0;
    if (length == 0 || text.size() < length) {
        return 0;
    }
    code = lead & (0x7fu >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<std::uint8_t>(text[i]);
        if ((next & 0xc0u) != 0x80u) {
            return 0;
        }
        code = code << 6 | (next & 0x3fu);
    }
    const std::uint32_t least = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
    const bool fits = code >= least && code <= 0x10ffff && (code < 0xd800 || code > 0xdfff);
    return fits ? length : 0;
}

void AppendEscape(std::string& out, char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    switch (c) {
        case '\r':
            out += "\\r";
            return;
        case '\n':
            out += "\\n";
            return;
        case '\t':
            out += "\\t";
            return;
        default:
            break;
    }
    const auto byte = static_cast<std::uint8_t>(c);
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 0x0f];
}

std::string Escape(std::string_view text, Breaks breaks) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        const auto byte = static_cast<std::uint8_t>(c);
        if (byte >= 0x20 && byte < 0x7f) {
            out += c;
            ++i;
            continue;
        }
        if (byte < 0x80 || byte == 0x7f) {
            const bool lineEnd = c == '\n' || c == '\t' ||
                                 (c == '\r' && (i + 1 == text.size() || text[i + 1] == '\n'));
            if (breaks == Breaks::Keep && lineEnd) {
                out += c;
            } else if (breaks == Breaks::Blank && (c == '\n' || c == '\r')) {
                out += ' ';
            } else {
                AppendEscape(out, c);
            }
            ++i;
            continue;
        }
        std::uint32_t code = 0;
        const std::size_t length = Utf8Length(text.substr(i), code);
        if (length > 0 && (code < 0x80 || code > 0x9f)) {
            out.append(text.substr(i, length));
            i += length;
        } else if (length > 0) {
            // A C1 control in UTF-8: some terminals take it as the escape it stands for.
            AppendEscape(out, text[i]);
            AppendEscape(out, text[i + 1]);
            i += length;
        } else {
            // No UTF-8 (a code page's text): only the bytes of the C1 range are controls.
            if (byte <= 0x9f) {
                AppendEscape(out, c);
            } else {
                out += c;
            }
            ++i;
        }
    }
    return out;
}

}  // namespace

std::string EscapeControls(std::string_view text) {
    return Escape(text, Breaks::Escape);
}

std::string EscapeControlsInLines(std::string_view text) {
    return Escape(text, Breaks::Keep);
}

std::string OneLine(std::string_view text) {
    return Escape(text, Breaks::Blank);
}

}  // namespace vantel
