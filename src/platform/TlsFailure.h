// Why a TLS connection to a server was refused, worded the same on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

enum class TlsProblem {
    None,
    Untrusted,     ///< the chain ends at no trusted root; detail: "self-signed", "issuer unknown"
    NameMismatch,  ///< detail: the name(s) the certificate is for, "mail.example.net"
    Expired,       ///< detail: the day it expired, "2026-01-02"
    NotYetValid,   ///< detail: the day it becomes valid
    PinMismatch,   ///< the certificate is not the pinned one
    Handshake,     ///< the handshake failed; detail: why, in words ("protocol version")
    Closed,        ///< the server ended the connection during the handshake
};

struct TlsFailure {
    TlsProblem problem = TlsProblem::None;
    std::string detail;
    /// The server certificate's fingerprint, when one was received.
    std::string fingerprint;
};

/// The reason in a notice: "certificate not trusted (self-signed); its SHA-256 fingerprint is
/// AB:CD:…", "certificate is for mail.example.net, not mail.example.org" (`host`: the entry's).
std::string DescribeTlsFailure(const TlsFailure& failure, std::string_view host);

/// "AB:CD:…": upper-case hex pairs joined by colons.
std::string FormatFingerprint(const std::vector<std::uint8_t>& digest);

/// A fingerprint as a user pastes it (any case; colons, blanks or nothing between the pairs)
/// in the form FormatFingerprint gives; empty when it is not 32 bytes of hex.
std::string NormalizeFingerprint(std::string_view text);

}  // namespace vantel
