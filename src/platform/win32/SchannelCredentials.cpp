#include "platform/win32/SchannelCredentials.h"

// SCH_CREDENTIALS and TLS_PARAMETERS, which need UNICODE_STRING.
#define SCHANNEL_USE_BLACKLISTS
#include <subauth.h>

#include <schannel.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace vantel {
namespace {

constexpr DWORD kCredentialFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;

// Chain faults that no date or name can excuse.
constexpr DWORD kChainFaults =
    CERT_TRUST_IS_REVOKED | CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_NOT_VALID_FOR_USAGE |
    CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_CYCLIC | CERT_TRUST_INVALID_EXTENSION |
    CERT_TRUST_INVALID_POLICY_CONSTRAINTS | CERT_TRUST_INVALID_BASIC_CONSTRAINTS |
    CERT_TRUST_INVALID_NAME_CONSTRAINTS | CERT_TRUST_HAS_NOT_PERMITTED_NAME_CONSTRAINT |
    CERT_TRUST_HAS_EXCLUDED_NAME_CONSTRAINT | CERT_TRUST_IS_PARTIAL_CHAIN |
    CERT_TRUST_IS_EXPLICIT_DISTRUST;

bool SelfIssued(PCCERT_CONTEXT certificate) {
    return CertCompareCertificateName(X509_ASN_ENCODING, &certificate->pCertInfo->Subject,
                                      &certificate->pCertInfo->Issuer) != FALSE;
}

/// Why the chain is refused, from its status bits (some of kChainFaults).
void ReadChainFault(DWORD status, const CERT_SIMPLE_CHAIN& chain, CertificateFacts& facts) {
    facts.chain = ChainTrust::Other;
    if (status & CERT_TRUST_IS_REVOKED) {
        facts.chainWords = "revoked";
    } else if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID) {
        facts.chainWords = "bad signature";
    } else if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) {
        facts.chainWords = "not for servers";
    } else if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
        facts.chain = chain.cElement == 1 && SelfIssued(chain.rgpElement[0]->pCertContext)
                          ? ChainTrust::SelfSigned
                          : ChainTrust::IssuerUnknown;
    } else {
        facts.chainWords = "invalid chain";
    }
}

}  // namespace

std::shared_ptr<SchannelCredentials> SchannelCredentials::Create(
    const std::string& exclusiveRootsPem, std::string& error) {
    std::shared_ptr<SchannelCredentials> credentials(new SchannelCredentials);
    if (!exclusiveRootsPem.empty() && !credentials->LoadRoots(exclusiveRootsPem, error)) {
        return nullptr;
    }
    if (!credentials->Acquire(error)) {
        return nullptr;
    }
    return credentials;
}

SchannelCredentials::~SchannelCredentials() {
    if (acquired_) {
        FreeCredentialsHandle(&handle_);
    }
    if (roots_ != nullptr) {
        CertCloseStore(roots_, 0);
    }
}

bool SchannelCredentials::Acquire(std::string& error) {
    TimeStamp expiry{};
    // Windows 10 1809 and later: TLS 1.3 is offered only through SCH_CREDENTIALS, where the
    // older protocols are switched off rather than the newer ones on.
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols =
        SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
    SCH_CREDENTIALS current{};
    current.dwVersion = SCH_CREDENTIALS_VERSION;
    current.dwFlags = kCredentialFlags;
    current.cTlsParameters = 1;
    current.pTlsParameters = &parameters;
    SECURITY_STATUS status = AcquireCredentialsHandleW(
        nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr, &current,
        nullptr, nullptr, &handle_, &expiry);
    // Older systems know only SCHANNEL_CRED; some of them refuse the TLS 1.3 bit in it.
    for (const DWORD protocols :
         {DWORD{SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT}, DWORD{SP_PROT_TLS1_2_CLIENT}}) {
        if (status == SEC_E_OK) {
            break;
        }
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.grbitEnabledProtocols = protocols;
        older.dwFlags = kCredentialFlags;
        status = AcquireCredentialsHandleW(nullptr, const_cast<SEC_WCHAR*>(UNISP_NAME_W),
                                           SECPKG_CRED_OUTBOUND, nullptr, &older, nullptr, nullptr,
                                           &handle_, &expiry);
    }
    if (status != SEC_E_OK) {
        char text[64];
        std::snprintf(text, sizeof(text), "Schannel refused TLS credentials (0x%08lX)",
                      static_cast<unsigned long>(status));
        error = text;
        return false;
    }
    acquired_ = true;
    return true;
}

bool SchannelCredentials::LoadRoots(const std::string& pem, std::string& error) {
    // A memory store beside the chain rather than a chain engine of exclusive roots: Wine
    // refuses such engines, and restricted roots must already be in the machine's store.
    roots_ = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
    if (roots_ == nullptr) {
        error = "cannot open a certificate store in memory";
        return false;
    }
    static constexpr std::string_view kBegin = "-----BEGIN CERTIFICATE-----";
    static constexpr std::string_view kEnd = "-----END CERTIFICATE-----";
    int loaded = 0;
    for (std::size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at)) {
        const std::size_t end = pem.find(kEnd, at);
        if (end == std::string::npos) {
            break;
        }
        const std::size_t length = end + kEnd.size() - at;
        DWORD size = 0;
        std::vector<BYTE> der;
        if (CryptStringToBinaryA(pem.data() + at, static_cast<DWORD>(length),
                                 CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
            der.resize(size);
            if (!CryptStringToBinaryA(pem.data() + at, static_cast<DWORD>(length),
                                      CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                                      nullptr) ||
                !CertAddEncodedCertificateToStore(roots_, X509_ASN_ENCODING, der.data(), size,
                                                  CERT_STORE_ADD_USE_EXISTING, nullptr)) {
                der.clear();
            }
        }
        if (der.empty()) {
            error = "a trusted root is not a readable PEM certificate";
            return false;
        }
        ++loaded;
        at = end;
    }
    if (loaded == 0) {
        error = "no PEM certificate among the trusted roots";
        return false;
    }
    return true;
}

bool SchannelCredentials::IsExclusiveRoot(PCCERT_CONTEXT certificate) const {
    PCCERT_CONTEXT root = nullptr;
    while ((root = CertEnumCertificatesInStore(roots_, root)) != nullptr) {
        if (root->cbCertEncoded == certificate->cbCertEncoded &&
            std::memcmp(root->pbCertEncoded, certificate->pbCertEncoded, root->cbCertEncoded) ==
                0) {
            CertFreeCertificateContext(root);
            return true;
        }
    }
    return false;
}

void SchannelCredentials::CheckChain(PCCERT_CONTEXT leaf, CertificateFacts& facts) const {
    HCERTSTORE extra = leaf->hCertStore;
    HCERTSTORE collection = nullptr;
    if (roots_ != nullptr) {
        collection = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
        if (collection != nullptr) {
            CertAddStoreToCollection(collection, leaf->hCertStore, 0, 0);
            CertAddStoreToCollection(collection, roots_, 0, 0);
            extra = collection;
        }
    }
    LPSTR serverUsage = const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH);
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof(para);
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = &serverUsage;
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    const BOOL built =
        CertGetCertificateChain(nullptr, leaf, nullptr, extra, &para, 0, nullptr, &chain);
    if (collection != nullptr) {
        CertCloseStore(collection, 0);
    }
    if (!built || chain == nullptr || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
        if (chain != nullptr) {
            CertFreeCertificateChain(chain);
        }
        facts.chain = ChainTrust::NoChain;
        return;
    }
    const CERT_SIMPLE_CHAIN& simple = *chain->rgpChain[0];
    // The chain's own status, not the SSL chain policy: under Wine that policy passes a
    // partial chain.
    DWORD status = chain->TrustStatus.dwErrorStatus;
    if (roots_ != nullptr) {
        if (IsExclusiveRoot(simple.rgpElement[simple.cElement - 1]->pCertContext)) {
            status &= ~CERT_TRUST_IS_UNTRUSTED_ROOT;
        } else {
            status |= CERT_TRUST_IS_UNTRUSTED_ROOT;
        }
    }
    facts.chain = ChainTrust::Trusted;
    if (status & kChainFaults) {
        ReadChainFault(status, simple, facts);
    } else {
        // The leaf's own dates are the facts' to judge; an issuer's make the chain untrusted.
        for (DWORD i = 1; i < simple.cElement; ++i) {
            CERT_INFO* info = simple.rgpElement[i]->pCertContext->pCertInfo;
            const LONG when = CertVerifyTimeValidity(nullptr, info);
            if (when > 0) {
                facts.chain = ChainTrust::IssuerExpired;
                facts.issuerTime = SecondsOf(info->NotAfter);
                break;
            }
            if (when < 0) {
                facts.chain = ChainTrust::IssuerNotYetValid;
                facts.issuerTime = SecondsOf(info->NotBefore);
                break;
            }
        }
    }
    CertFreeCertificateChain(chain);
}

std::string SchannelCredentials::Fingerprint(PCCERT_CONTEXT certificate) {
    std::vector<std::uint8_t> digest(32);
    DWORD size = static_cast<DWORD>(digest.size());
    if (!CryptHashCertificate2(L"SHA256", 0, nullptr, certificate->pbCertEncoded,
                               certificate->cbCertEncoded, digest.data(), &size) ||
        size != digest.size()) {
        return "";
    }
    return FormatFingerprint(digest);
}

std::int64_t SecondsOf(const FILETIME& time) {
    // 100-nanosecond intervals since 1601.
    const std::uint64_t ticks = std::uint64_t{time.dwHighDateTime} << 32 | time.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000000) - 11644473600LL;
}

}  // namespace vantel
