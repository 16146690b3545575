#include "platform/win32/SchannelDetails.h"

#include <schannel.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string_view>

#include "platform/win32/CertificateNames.h"
#include "platform/win32/SchannelCredentials.h"
#include "platform/win32/WideText.h"

namespace vantel {
namespace {

/// "CN=mail.example.org, O=Example": the narrowest part first, as OpenSSL is asked for too.
std::string NameText(CERT_NAME_BLOB* name) {
    constexpr DWORD kType = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
    const DWORD size = CertNameToStrW(X509_ASN_ENCODING, name, kType, nullptr, 0);
    if (size <= 1) {
        return "";
    }
    std::wstring text(size, L'\0');
    const DWORD written = CertNameToStrW(X509_ASN_ENCODING, name, kType, text.data(), size);
    text.resize(written > 0 ? written - 1 : 0);  // without the terminator
    return Narrow(text);
}

/// "2026-12-09 12:00:00 UTC".
std::string TimeText(const FILETIME& time) {
    SYSTEMTIME when{};
    if (!FileTimeToSystemTime(&time, &when)) {
        return "an unreadable date";
    }
    char text[48];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u UTC", when.wYear, when.wMonth,
                  when.wDay, when.wHour, when.wMinute, when.wSecond);
    return text;
}

/// Whether `name` looks like a standard cipher suite name: "TLS_" and capitals, digits and
/// underscores.
bool IsSuiteName(const std::string& name) {
    return name.rfind("TLS_", 0) == 0 && std::all_of(name.begin(), name.end(), [](char c) {
               return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
           });
}

std::string CipherText(ALG_ID cipher, DWORD bits) {
    switch (cipher) {
        case CALG_AES:
        case CALG_AES_128:
        case CALG_AES_192:
        case CALG_AES_256:
            return "AES-" + std::to_string(bits);
        case CALG_3DES:
            return "3DES";
        case CALG_RC4:
            return "RC4";
        case CALG_DES:
            return "DES";
        default:
            return cipher == 0 ? "" : "cipher " + std::to_string(cipher);
    }
}

std::string HashText(ALG_ID hash) {
    switch (hash) {
        case CALG_SHA1:
            return "SHA-1";
        case CALG_SHA_256:
            return "SHA-256";
        case CALG_SHA_384:
            return "SHA-384";
        case CALG_SHA_512:
            return "SHA-512";
        case CALG_MD5:
            return "MD5";
        default:
            return "";  // none of its own, with an AEAD cipher
    }
}

std::string ExchangeText(ALG_ID exchange) {
    switch (exchange) {
        case CALG_ECDH:
        case CALG_ECDH_EPHEM:
            return "ECDHE";
        case CALG_DH_EPHEM:
            return "DHE";
        case CALG_RSA_KEYX:
            return "RSA";
        default:
            return "";
    }
}

}  // namespace

CertificateInfo DescribeCertificate(PCCERT_CONTEXT certificate) {
    CertificateInfo info;
    CERT_INFO* fields = certificate->pCertInfo;
    info.subject = NameText(&fields->Subject);
    info.names = CertificateNames(certificate).listed();
    info.issuer = NameText(&fields->Issuer);
    info.notBefore = TimeText(fields->NotBefore);
    info.notAfter = TimeText(fields->NotAfter);
    info.fingerprint = SchannelCredentials::Fingerprint(certificate);
    return info;
}

std::string CipherSuiteName(CtxtHandle* context) {
    SecPkgContext_CipherInfo suite{};
    suite.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (QueryContextAttributesW(context, SECPKG_ATTR_CIPHER_INFO, &suite) == SEC_E_OK) {
        const std::string name = Narrow(
            std::wstring_view(suite.szCipherSuite, wcsnlen(suite.szCipherSuite, SZ_ALG_MAX_SIZE)));
        // Wine pieces the name together and writes "<unknown>" for a part it cannot name.
        if (IsSuiteName(name)) {
            return name;
        }
    }
    SecPkgContext_ConnectionInfo connection{};
    if (QueryContextAttributesW(context, SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK) {
        return "";
    }
    std::string text;
    for (const std::string& part : {ExchangeText(connection.aiExch),
                                    CipherText(connection.aiCipher, connection.dwCipherStrength),
                                    HashText(connection.aiHash)}) {
        if (!part.empty()) {
            text += (text.empty() ? "" : ", ") + part;
        }
    }
    return text;
}

}  // namespace vantel
