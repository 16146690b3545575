#include "platform/SocketAddress.h"

#include <cstdio>

namespace vantel {

namespace {

std::string IPv4Text(const std::uint8_t* b) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    return text;
}

// The shortest common form: lowercase hex, leading zeros dropped, and the longest run of two
// or more zero groups (the first of equal runs) written as "::".
std::string IPv6Text(const std::uint8_t* b) {
    unsigned groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<unsigned>(b[2 * i] << 8 | b[2 * i + 1]);
    }
    const bool mappedIPv4 = groups[0] == 0 && groups[1] == 0 && groups[2] == 0 && groups[3] == 0 &&
                            groups[4] == 0 && groups[5] == 0xffff;
    if (mappedIPv4) {
        return "::ffff:" + IPv4Text(b + 12);
    }

    int bestStart = -1;
    int bestLength = 1;
    for (int i = 0; i < 8;) {
        if (groups[i] != 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < 8 && groups[end] == 0) {
            ++end;
        }
        if (end - i > bestLength) {
            bestStart = i;
            bestLength = end - i;
        }
        i = end;
    }

    std::string text;
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (!text.empty() && text.back() != ':') {
            text += ':';
        }
        char group[8];
        std::snprintf(group, sizeof group, "%x", groups[i]);
        text += group;
    }
    return text;
}

}  // namespace

std::string SocketAddress::ToString() const {
    const std::string portText = std::to_string(port);
    if (family == Family::IPv4) {
        return IPv4Text(bytes) + ":" + portText;
    }
    return "[" + IPv6Text(bytes) + "]:" + portText;
}

bool SocketAddress::ParseIPv4(std::string_view text, std::uint16_t port, SocketAddress& address) {
    SocketAddress parsed;
    parsed.port = port;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') {
                return false;
            }
            text.remove_prefix(1);
        }
        int value = 0;
        std::size_t digits = 0;
        while (digits < text.size() && digits < 3 && text[digits] >= '0' && text[digits] <= '9') {
            value = value * 10 + (text[digits] - '0');
            ++digits;
        }
        if (digits == 0 || value > 255) {
            return false;
        }
        parsed.bytes[part] = static_cast<std::uint8_t>(value);
        text.remove_prefix(digits);
    }
    if (!text.empty()) {
        return false;
    }
    address = parsed;
    return true;
}

}  // namespace vantel
