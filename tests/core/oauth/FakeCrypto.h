// A Crypto for tests: counting "random" bytes, so that outputs can be foretold; SHA-256 from
// OpenSSL where the tests have it.
#pragma once

#include <string>

#include "platform/Crypto.h"

namespace vantel {

class FakeCrypto : public Crypto {
  public:
    std::string RandomBytes(std::size_t count) override {
        std::string bytes(count, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(next_++);
        }
        return bytes;
    }
    Sha256Digest Sha256(std::string_view data) override;
    Sha256Digest Pbkdf2Sha256(std::string_view password, std::string_view salt,
                              std::uint32_t iterations) override {
        Sha256Digest key{};
        const std::string all =
            std::string(password) + "|" + std::string(salt) + "|" + std::to_string(iterations);
        for (std::size_t i = 0; i < all.size(); ++i) {
            key[i % key.size()] = static_cast<std::uint8_t>(key[i % key.size()] * 31 + all[i]);
        }
        return key;
    }

  private:
    unsigned next_ = 0;
};

}  // namespace vantel
