#include "platform/win32/BCryptCrypto.h"

#include <algorithm>
#include <climits>
#include <stdexcept>
#include <string>
#include <vector>

namespace vantel {

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

/// The part of `data` from `offset` that one call (counting in ULONG) takes.
ULONG Piece(std::size_t size, std::size_t offset) {
    return static_cast<ULONG>(std::min<std::size_t>(size - offset, 1u << 20));
}

}  // namespace

BCryptCrypto::BCryptCrypto() {
    if (!Succeeded(BCryptOpenAlgorithmProvider(&sha256_, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
        !Succeeded(BCryptOpenAlgorithmProvider(&hmac_, BCRYPT_SHA256_ALGORITHM, nullptr,
                                               BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
        if (sha256_ != nullptr) {
            BCryptCloseAlgorithmProvider(sha256_, 0);
        }
        throw std::runtime_error("the system offers no SHA-256");
    }
}

BCryptCrypto::~BCryptCrypto() {
    BCryptCloseAlgorithmProvider(hmac_, 0);
    BCryptCloseAlgorithmProvider(sha256_, 0);
}

std::string BCryptCrypto::RandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    auto* out = reinterpret_cast<PUCHAR>(bytes.data());
    for (std::size_t done = 0; done < count;) {
        const ULONG piece = Piece(count, done);
        if (!Succeeded(
                BCryptGenRandom(nullptr, out + done, piece, BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            throw std::runtime_error("the system has no random numbers to give");
        }
        done += piece;
    }
    return bytes;
}

Sha256Digest BCryptCrypto::Sha256(std::string_view data) {
    Sha256Digest digest{};
    BCRYPT_HASH_HANDLE hash = nullptr;
    // With no object buffer the provider allocates one itself (Windows 7 and later).
    if (!Succeeded(BCryptCreateHash(sha256_, &hash, nullptr, 0, nullptr, 0, 0))) {
        throw std::runtime_error("SHA-256 is not available");
    }
    bool ok = true;
    auto* in = reinterpret_cast<PUCHAR>(const_cast<char*>(data.data()));
    for (std::size_t done = 0; ok && done < data.size();) {
        const ULONG piece = Piece(data.size(), done);
        ok = Succeeded(BCryptHashData(hash, in + done, piece, 0));
        done += piece;
    }
    ok = ok &&
         Succeeded(BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0));
    BCryptDestroyHash(hash);
    if (!ok) {
        throw std::runtime_error("SHA-256 failed");
    }
    return digest;
}

Sha256Digest BCryptCrypto::Pbkdf2Sha256(std::string_view password, std::string_view salt,
                                        std::uint32_t iterations) {
    if (iterations == 0 || password.size() > ULONG_MAX || salt.size() > ULONG_MAX) {
        throw std::invalid_argument("PBKDF2 needs at least one iteration");
    }
    Sha256Digest key{};
    // The call reads through non-const pointers but does not write.
    std::vector<UCHAR> pass(password.begin(), password.end());
    std::vector<UCHAR> salted(salt.begin(), salt.end());
    if (!Succeeded(BCryptDeriveKeyPBKDF2(
            hmac_, pass.empty() ? nullptr : pass.data(), static_cast<ULONG>(pass.size()),
            salted.empty() ? nullptr : salted.data(), static_cast<ULONG>(salted.size()), iterations,
            key.data(), static_cast<ULONG>(key.size()), 0))) {
        SecureZeroMemory(pass.data(), pass.size());
        throw std::runtime_error("PBKDF2 failed");
    }
    SecureZeroMemory(pass.data(), pass.size());
    return key;
}

}  // namespace vantel
