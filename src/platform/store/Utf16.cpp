#include "platform/store/Utf16.h"

namespace vantel {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void AppendUnit(std::vector<std::uint8_t>& out, char32_t unit) {
    out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

/// Length of the well-formed UTF-8 sequence at `i` (0 if there is none) and its code point.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char b0 = byte(i);
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    }
    std::size_t len = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        lo = b0 == 0xE0 ? 0xA0 : 0x80;  // no overlong forms
        hi = b0 == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        lo = b0 == 0xF0 ? 0x90 : 0x80;
        hi = b0 == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (i + len > s.size() || byte(i + 1) < lo || byte(i + 1) > hi) {
        return 0;
    }
    cp = b0 & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    return len;
}

}  // namespace

std::string Utf16::ToUtf8(std::string_view littleEndian) {
    std::string out;
    out.reserve(littleEndian.size());
    const std::size_t units = littleEndian.size() / 2;
    const auto unit = [&](std::size_t k) -> char32_t {
        return static_cast<unsigned char>(littleEndian[2 * k]) |
               (static_cast<char32_t>(static_cast<unsigned char>(littleEndian[2 * k + 1])) << 8);
    };
    for (std::size_t k = 0; k < units; ++k) {
        const char32_t u = unit(k);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 &&
            unit(k + 1) <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
            ++k;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, u);
        }
    }
    return out;
}

std::vector<std::uint8_t> Utf16::FromText(std::string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 2);
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        std::size_t len = DecodeUtf8(text, i, cp);
        if (len == 0) {
            cp = static_cast<unsigned char>(text[i]);
            len = 1;
        }
        if (cp >= 0x10000) {
            AppendUnit(out, 0xD800 + ((cp - 0x10000) >> 10));
            AppendUnit(out, 0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            AppendUnit(out, cp);
        }
        i += len;
    }
    return out;
}

}  // namespace vantel
