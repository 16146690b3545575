#include "platform/win32/CertificateNames.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include "platform/win32/WideText.h"

namespace vantel {
namespace {

std::string AddressText(const CRYPT_DATA_BLOB& bytes) {
    char text[64] = {};
    const int family = bytes.cbData == 4 ? AF_INET : AF_INET6;
    if (inet_ntop(family, bytes.pbData, text, sizeof(text)) == nullptr) {
        return "";
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
                CertificateName name{false,
                                     entry.pwszDNSName != nullptr ? Narrow(entry.pwszDNSName) : ""};
                if (!name.text.empty()) {
                    names_.push_back(std::move(name));
                }
            } else if (entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                       (entry.IPAddress.cbData == 4 || entry.IPAddress.cbData == 16)) {
                CertificateName address{true, AddressText(entry.IPAddress)};
                if (!address.text.empty()) {
                    names_.push_back(std::move(address));
                }
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

std::vector<std::string> CertificateNames::listed() const {
    std::vector<std::string> texts;
    for (const CertificateName& name : names_) {
        texts.push_back(name.text);
    }
    return texts;
}

}  // namespace vantel
