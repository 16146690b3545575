// Random bytes and SHA-256 from OpenSSL.
#pragma once

#include "platform/Crypto.h"

namespace vantel {

class OpenSslCrypto : public Crypto {
  public:
    std::string RandomBytes(std::size_t count) override;
    Sha256Digest Sha256(std::string_view data) override;
    Sha256Digest Pbkdf2Sha256(std::string_view password, std::string_view salt,
                              std::uint32_t iterations) override;
};

}  // namespace vantel
