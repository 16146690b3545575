// Random bytes and SHA-256 from Windows' own cryptography (bcrypt.dll, part of the system).
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "platform/Crypto.h"

namespace vantel {

class BCryptCrypto : public Crypto {
  public:
    /// Opens the SHA-256 providers; throws std::runtime_error when the system has none.
    BCryptCrypto();
    ~BCryptCrypto() override;
    BCryptCrypto(const BCryptCrypto&) = delete;
    BCryptCrypto& operator=(const BCryptCrypto&) = delete;

    std::string RandomBytes(std::size_t count) override;
    Sha256Digest Sha256(std::string_view data) override;
    Sha256Digest Pbkdf2Sha256(std::string_view password, std::string_view salt,
                              std::uint32_t iterations) override;

  private:
    BCRYPT_ALG_HANDLE sha256_ = nullptr;
    BCRYPT_ALG_HANDLE hmac_ = nullptr;  // PBKDF2 wants the keyed flavour
};

}  // namespace vantel
