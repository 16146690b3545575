#include "platform/win32/CertificateNames.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "platform/win32/AddressConversion.h"

namespace vantel {
namespace {

std::string Narrow(const wchar_t* text) {
    if (text == nullptr || *text == 0) {
        return "";
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return "";
    }
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size - 1));
    return result;
}

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

std::string AddressText(const std::string& bytes) {
    char text[64] = {};
    const int family = bytes.size() == 4 ? AF_INET : AF_INET6;
    if (inet_ntop(family, bytes.data(), text, sizeof(text)) == nullptr) {
        return "?";
    }
    return text;
}

}  // namespace

CertificateNames::CertificateNames(PCCERT_CONTEXT certificate) {
    const CERT_INFO* info = certificate->pCertInfo;
    const CERT_EXTENSION* extension =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO* names = nullptr;
    DWORD size = 0;
    if (extension != nullptr &&
        CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, extension->Value.pbData,
                            extension->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr, &names,
                            &size)) {
        for (DWORD i = 0; i < names->cAltEntry; ++i) {
            const CERT_ALT_NAME_ENTRY& entry = names->rgAltEntry[i];
            if (entry.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
                const std::string name = Narrow(entry.pwszDNSName);
                if (!name.empty()) {
                    dnsNames_.push_back(name);
                    listed_.push_back(name);
                }
            } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                       (entry.IPAddress.cbData == 4 || entry.IPAddress.cbData == 16)) {
                addresses_.emplace_back(reinterpret_cast<const char*>(entry.IPAddress.pbData),
                                        entry.IPAddress.cbData);
                listed_.push_back(AddressText(addresses_.back()));
            }
        }
        LocalFree(names);
    }
    wchar_t common[256] = {};
    if (CertGetNameStringW(certificate, CERT_NAME_ATTR_TYPE, 0,
                           const_cast<char*>(szOID_COMMON_NAME), common, 256) > 1) {
        commonName_ = Narrow(common);
    }
}

bool CertificateNames::Matches(std::string_view host) const {
    SocketAddress literal;
    if (ParseAddress(std::string(host), 0, literal)) {
        const std::size_t length = literal.family == SocketAddress::Family::IPv4 ? 4 : 16;
        return std::any_of(addresses_.begin(), addresses_.end(), [&](const std::string& a) {
            return a.size() == length && std::memcmp(a.data(), literal.bytes, length) == 0;
        });
    }
    // The common name names no server, with or without subjectAltNames.
    return std::any_of(dnsNames_.begin(), dnsNames_.end(),
                       [&](const std::string& name) { return NameMatches(name, host); });
}

std::string CertificateNames::Describe() const {
    std::string text;
    for (const std::string& name : dnsNames_) {
        text += (text.empty() ? "" : ", ") + name;
    }
    for (const std::string& address : addresses_) {
        text += (text.empty() ? "" : ", ") + AddressText(address);
    }
    if (text.empty()) {
        text = commonName_.empty() ? "no name" : commonName_ + " in its common name only";
    }
    return text;
}

bool CertificateNames::NameMatches(std::string_view pattern, std::string_view host) {
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

}  // namespace vantel
