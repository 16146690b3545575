#include "platform/posix/OpenSslCrypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace vantel {

std::string OpenSslCrypto::RandomBytes(std::size_t count) {
    std::string bytes(count, '\0');
    auto* out = reinterpret_cast<unsigned char*>(bytes.data());
    // In pieces an int can count.
    for (std::size_t done = 0; done < count;) {
        const std::size_t piece = std::min<std::size_t>(count - done, 1 << 20);
        if (RAND_bytes(out + done, static_cast<int>(piece)) != 1) {
            throw std::runtime_error("the system has no random numbers to give");
        }
        done += piece;
    }
    return bytes;
}

Sha256Digest OpenSslCrypto::Sha256(std::string_view data) {
    Sha256Digest digest{};
    unsigned int size = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &size, EVP_sha256(), nullptr) != 1 ||
        size != digest.size()) {
        throw std::runtime_error("SHA-256 is not available");
    }
    return digest;
}

Sha256Digest OpenSslCrypto::Pbkdf2Sha256(std::string_view password, std::string_view salt,
                                         std::uint32_t iterations) {
    if (iterations == 0 || iterations > INT_MAX || password.size() > INT_MAX ||
        salt.size() > INT_MAX) {
        throw std::invalid_argument("PBKDF2 needs 1 to 2^31-1 iterations");
    }
    Sha256Digest key{};
    if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()),
                          static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                          static_cast<int>(key.size()), key.data()) != 1) {
        throw std::runtime_error("PBKDF2 is not available");
    }
    return key;
}

}  // namespace vantel
