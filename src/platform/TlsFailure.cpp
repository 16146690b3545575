#include "platform/TlsFailure.h"

#include <cctype>

namespace vantel {

std::string DescribeTlsFailure(const TlsFailure& failure, std::string_view host) {
    const std::string print =
        failure.fingerprint.empty() ? "" : "; its SHA-256 fingerprint is " + failure.fingerprint;
    switch (failure.problem) {
        case TlsProblem::None:
            return "TLS failed";
        case TlsProblem::Untrusted:
            return "certificate not trusted" +
                   (failure.detail.empty() ? "" : " (" + failure.detail + ")") + print;
        case TlsProblem::NameMismatch:
            return "certificate is for " + failure.detail + ", not " + std::string(host) + print;
        case TlsProblem::Expired:
            return "certificate expired on " + failure.detail + print;
        case TlsProblem::NotYetValid:
            return "certificate is not valid before " + failure.detail + print;
        case TlsProblem::PinMismatch:
            return "certificate is not the pinned one" + print;
        case TlsProblem::Handshake:
            return "TLS handshake failed" + (failure.detail.empty() ? "" : ": " + failure.detail);
        case TlsProblem::Closed:
            return "server closed the connection during the TLS handshake";
    }
    return "TLS failed";
}

std::string FormatFingerprint(const std::vector<std::uint8_t>& digest) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : digest) {
        if (!text.empty()) {
            text += ':';
        }
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0f];
    }
    return text;
}

std::string NormalizeFingerprint(std::string_view text) {
    std::vector<std::uint8_t> digest;
    int high = -1;
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == ':' || std::isspace(u)) {
            if (high >= 0) {
                return "";  // a separator inside a pair
            }
            continue;
        }
        if (!std::isxdigit(u)) {
            return "";
        }
        const int nibble = std::isdigit(u) ? c - '0' : std::toupper(u) - 'A' + 10;
        if (high < 0) {
            high = nibble;
        } else {
            digest.push_back(static_cast<std::uint8_t>(high << 4 | nibble));
            high = -1;
        }
    }
    if (high >= 0 || digest.size() != 32) {
        return "";
    }
    return FormatFingerprint(digest);
}

}  // namespace vantel
