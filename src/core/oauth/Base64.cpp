#include "core/oauth/Base64.h"

#include <cstdint>

namespace vantel {
namespace {

constexpr char kStandard[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kUrlSafe[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

std::string Encode(std::string_view bytes, const char* alphabet, bool pad) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16 |
                                static_cast<std::uint8_t>(bytes[i + 1]) << 8 |
                                static_cast<std::uint8_t>(bytes[i + 2]);
        out += alphabet[v >> 18 & 63];
        out += alphabet[v >> 12 & 63];
        out += alphabet[v >> 6 & 63];
        out += alphabet[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t v = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (rest == 2) {
            v |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        }
        out += alphabet[v >> 18 & 63];
        out += alphabet[v >> 12 & 63];
        if (rest == 2) {
            out += alphabet[v >> 6 & 63];
        }
        if (pad) {
            out.append(3 - rest, '=');
        }
    }
    return out;
}

int SextetOf(char c, bool urlSafe) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == (urlSafe ? '-' : '+')) {
        return 62;
    }
    if (c == (urlSafe ? '_' : '/')) {
        return 63;
    }
    return -1;
}

// `text` without padding; a lone last character, or bits set past the last byte, are refused
// so that each byte string has one spelling.
std::optional<std::string> DecodeUnpadded(std::string_view text, bool urlSafe) {
    if (text.size() % 4 == 1) {
        return std::nullopt;
    }
    std::string out;
    out.reserve(text.size() / 4 * 3 + 2);
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        const int sextet = SextetOf(c, urlSafe);
        if (sextet < 0) {
            return std::nullopt;
        }
        bits = bits << 6 | static_cast<std::uint32_t>(sextet);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>(bits >> count & 0xFF);
        }
    }
    if ((bits & ((1u << count) - 1)) != 0) {
        return std::nullopt;
    }
    return out;
}

}  // namespace

std::string Base64Encode(std::string_view bytes) {
    return Encode(bytes, kStandard, true);
}

std::optional<std::string> Base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') {
        ++padding;
    }
    return DecodeUnpadded(text.substr(0, text.size() - padding), false);
}

std::string Base64UrlEncode(std::string_view bytes) {
    return Encode(bytes, kUrlSafe, false);
}

std::optional<std::string> Base64UrlDecode(std::string_view text) {
    return DecodeUnpadded(text, true);
}

}  // namespace vantel
