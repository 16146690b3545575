#include "platform/CertificateDecision.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "core/config/AsciiText.h"

namespace vantel {
namespace {

constexpr std::size_t kNamesListed = 10;

/// An address's bytes, network order: 4 for IPv4, 16 for IPv6; empty for no literal.
using AddressBytes = std::vector<std::uint8_t>;

std::string Lower(std::string_view text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return result;
}

std::string_view WithoutFinalDot(std::string_view name) {
    if (!name.empty() && name.back() == '.') {
        name.remove_suffix(1);
    }
    return name;
}

/// Four decimal parts of 0 to 255 without leading zeros, nothing else: "010" would be read
/// as octal by some resolvers, so it names no address here.
bool ParseIPv4(std::string_view text, std::uint8_t* bytes) {
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (text.empty() || text.front() != '.') {
                return false;
            }
            text.remove_prefix(1);
        }
        std::size_t digits = 0;
        int value = 0;
        while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
            value = value * 10 + (text[digits] - '0');
            ++digits;
        }
        if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[0] == '0')) {
            return false;
        }
        bytes[part] = static_cast<std::uint8_t>(value);
        text.remove_prefix(digits);
    }
    return text.empty();
}

/// Groups of one to four hex digits, at most one "::", perhaps a dotted IPv4 address last.
bool ParseIPv6(std::string_view text, std::uint8_t* bytes) {
    std::array<std::uint16_t, 8> groups{};
    std::size_t count = 0;
    int gap = -1;  // where "::" stands, in groups
    std::size_t at = 0;
    if (text.substr(0, 2) == "::") {
        gap = 0;
        at = 2;
    }
    while (at < text.size()) {
        const std::size_t colon = text.find(':', at);
        const std::string_view token = text.substr(at, colon - at);
        if (colon == std::string_view::npos && token.find('.') != std::string_view::npos) {
            std::uint8_t v4[4];
            if (count > 6 || !ParseIPv4(token, v4)) {
                return false;
            }
            groups[count++] = static_cast<std::uint16_t>(v4[0] << 8 | v4[1]);
            groups[count++] = static_cast<std::uint16_t>(v4[2] << 8 | v4[3]);
            at = text.size();
            break;
        }
        if (token.empty() || token.size() > 4 || count == 8) {
            return false;
        }
        unsigned value = 0;
        for (const char c : token) {
            const int nibble = HexDigitValue(c);
            if (nibble < 0) {
                return false;
            }
            value = value << 4 | static_cast<unsigned>(nibble);
        }
        groups[count++] = static_cast<std::uint16_t>(value);
        if (colon == std::string_view::npos) {
            break;
        }
        at = colon + 1;
        if (at < text.size() && text[at] == ':') {
            if (gap >= 0) {
                return false;
            }
            gap = static_cast<int>(count);
            ++at;
        } else if (at == text.size()) {
            return false;  // one colon at the end
        }
    }
    if (gap < 0 ? count != 8 : count > 7) {
        return false;
    }
    std::array<std::uint16_t, 8> full{};
    const std::size_t head = gap < 0 ? count : static_cast<std::size_t>(gap);
    std::copy(groups.begin(), groups.begin() + head, full.begin());
    std::copy(groups.begin() + head, groups.begin() + count, full.end() - (count - head));
    for (std::size_t i = 0; i < 8; ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(full[i] >> 8);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(full[i] & 0xff);
    }
    return true;
}

AddressBytes ParseAddress(std::string_view text) {
    AddressBytes bytes(16);
    if (text.find(':') != std::string_view::npos) {
        return ParseIPv6(text, bytes.data()) ? bytes : AddressBytes{};
    }
    bytes.resize(4);
    return ParseIPv4(text, bytes.data()) ? bytes : AddressBytes{};
}

bool NamesHost(const std::vector<CertificateName>& names, std::string_view entryHost) {
    const CertificateHost host = ReadCertificateHost(entryHost);
    if (host.uncheckable) {
        return false;
    }
    if (host.address) {
        const AddressBytes wanted = ParseAddress(host.text);
        return std::any_of(names.begin(), names.end(), [&](const CertificateName& name) {
            return name.address && ParseAddress(name.text) == wanted;
        });
    }
    // The common name names no server, with or without subjectAltNames.
    return std::any_of(names.begin(), names.end(), [&](const CertificateName& name) {
        return !name.address && CertificateNameMatches(name.text, host.text);
    });
}

/// What the certificate is for: its subjectAltNames (the first ten), else its common name,
/// said to be no more than that.
std::string DescribeNames(const CertificateFacts& facts) {
    std::vector<std::string_view> names;
    for (const CertificateName& name : facts.names) {
        if (!name.text.empty()) {
            names.push_back(name.text);
        }
    }
    if (names.empty()) {
        return facts.commonName.empty() ? "no name" : facts.commonName + " in its common name only";
    }
    std::string joined;
    for (std::size_t i = 0; i < names.size() && i < kNamesListed; ++i) {
        joined += (i == 0 ? "" : ", ");
        joined += names[i];
    }
    if (names.size() > kNamesListed) {
        joined += " and " + std::to_string(names.size() - kNamesListed) + " more";
    }
    return joined;
}

std::string ChainDetail(const CertificateFacts& facts) {
    switch (facts.chain) {
        case ChainTrust::NoChain:
            return "no chain";
        case ChainTrust::Trusted:
            return "";
        case ChainTrust::SelfSigned:
            return "self-signed";
        case ChainTrust::IssuerUnknown:
            return "issuer unknown";
        case ChainTrust::IssuerExpired:
            return "an issuer's certificate expired on " + CertificateDay(facts.issuerTime);
        case ChainTrust::IssuerNotYetValid:
            return "an issuer's certificate is not valid before " +
                   CertificateDay(facts.issuerTime);
        case ChainTrust::Other:
            return facts.chainWords;
    }
    return facts.chainWords;
}

}  // namespace

TlsFailure DecideCertificate(const CertificateFacts& facts, std::string_view host,
                             std::string_view pin) {
    TlsFailure failure;
    failure.fingerprint = facts.fingerprint;
    if (!pin.empty()) {
        // A pin is the user's trust in that very certificate: no chain, name or dates. One
        // that is no fingerprint matches nothing, and never lets the chain decide instead.
        const std::string pinned = NormalizeFingerprint(pin);
        if (pinned.empty()) {
            failure.problem = TlsProblem::PinMismatch;
            failure.detail = "the pinned fingerprint is not 32 bytes of hex";
        } else if (facts.fingerprint.empty() || pinned != facts.fingerprint) {
            failure.problem = TlsProblem::PinMismatch;
        }
        return failure;
    }
    // A certificate nobody vouches for says nothing true about its name or dates; one for
    // another server is the wrong one whatever its dates.
    if (facts.chain != ChainTrust::Trusted) {
        failure.problem = TlsProblem::Untrusted;
        failure.detail = ChainDetail(facts);
    } else if (!NamesHost(facts.names, host)) {
        failure.problem = TlsProblem::NameMismatch;
        failure.detail = DescribeNames(facts);
    } else if (facts.now > facts.notAfter) {
        failure.problem = TlsProblem::Expired;
        failure.detail = CertificateDay(facts.notAfter);
    } else if (facts.now < facts.notBefore) {
        failure.problem = TlsProblem::NotYetValid;
        failure.detail = CertificateDay(facts.notBefore);
    }
    return failure;
}

bool CertificateNameMatches(std::string_view pattern, std::string_view host) {
    const std::string p = Lower(WithoutFinalDot(pattern));
    const std::string h = Lower(WithoutFinalDot(host));
    if (p.empty() || h.empty() || h.find('*') != std::string::npos) {
        return false;
    }
    if (p.compare(0, 2, "*.") != 0) {
        return p == h;
    }
    // "*.example.net": the rest must itself be a name of two labels or more, so that no
    // wildcard covers a whole top-level domain, and the star one label of the host.
    const std::string_view rest = std::string_view(p).substr(1);  // ".example.net"
    if (rest.find('.', 1) == std::string_view::npos || rest.find('*') != std::string_view::npos ||
        h.size() <= rest.size() || h.compare(h.size() - rest.size(), rest.size(), rest) != 0) {
        return false;
    }
    return h.find('.') == h.size() - rest.size();
}

CertificateHost ReadCertificateHost(std::string_view host) {
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    CertificateHost read;
    if (host.find(':') != std::string_view::npos) {
        // No name has a colon: an IPv6 literal, perhaps with a zone.
        read.address = true;
        read.text = std::string(host.substr(0, host.find('%')));
        read.uncheckable = ParseAddress(read.text).empty();
        return read;
    }
    std::uint8_t bytes[4];
    read.address = ParseIPv4(host, bytes);
    read.text = std::string(read.address ? host : WithoutFinalDot(host));
    read.uncheckable = read.text.empty();
    return read;
}

std::string UncheckableHostReason(const CertificateHost& host) {
    if (!host.uncheckable) {
        return "";
    }
    return host.text.empty() ? "no server name to check the certificate for"
                             : "the certificate cannot be checked for \"" + host.text + "\"";
}

std::string CertificateDay(std::int64_t time) {
    // Days to a civil date in the proleptic Gregorian calendar, eras of 400 years.
    const std::int64_t days = time >= 0 ? time / 86400 : (time - 86399) / 86400;
    const std::int64_t z = days + 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    char text[80];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day));
    return text;
}

}  // namespace vantel
