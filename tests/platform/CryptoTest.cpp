// The platform's cryptography against published vectors: OpenSSL on Linux, bcrypt on Windows.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#ifdef _WIN32
#include "platform/win32/BCryptCrypto.h"
#else
#include "platform/posix/OpenSslCrypto.h"
#endif

namespace vantel {
namespace {

std::unique_ptr<Crypto> MakeCrypto() {
#ifdef _WIN32
    return std::make_unique<BCryptCrypto>();
#else
    return std::make_unique<OpenSslCrypto>();
#endif
}

std::string Hex(const Sha256Digest& digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : digest) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

TEST(CryptoTest, Sha256MatchesKnownDigests) {
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    auto crypto = MakeCrypto();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Hex(crypto->Sha256(cases[i].input)), cases[i].digest);
    }
    // Bytes with the top bit and zeros go through unchanged (no string cut at a NUL).
    EXPECT_NE(crypto->Sha256(std::string("\0\xff", 2)), crypto->Sha256(std::string("\0", 1)));
}

TEST(CryptoTest, Pbkdf2MatchesKnownKeys) {
    const struct {
        std::string password;
        std::string salt;
        std::uint32_t iterations;
        const char* key;
    } cases[] = {
        // RFC 7914 section 11 (the first 32 bytes of its 64).
        {"passwd", "salt", 1, "55ac046e56e3089fec1691c22544b605f94185216dde0465e68b9d57c20dacbc"},
        // Common PBKDF2-HMAC-SHA256 vectors.
        {"password", "salt", 1, "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
        {"password", "salt", 2, "ae4d0c95af6b46d32d0adff928f06dd02a303f8ef3c251dfd6e2d85a95474c43"},
        {"password", "salt", 4096,
         "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
        {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
         "348c89dbcbd32b2f32d814b8116e84cf2b17347ebc1800181c4e2a1fb8dd53e1"},
    };
    auto crypto = MakeCrypto();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.password + "/" + std::to_string(c.iterations));
        EXPECT_EQ(Hex(crypto->Pbkdf2Sha256(c.password, c.salt, c.iterations)), c.key);
    }
    EXPECT_THROW(crypto->Pbkdf2Sha256("p", "s", 0), std::exception);
}

TEST(CryptoTest, RandomBytesAreFreshEachTime) {
    auto crypto = MakeCrypto();
    EXPECT_EQ(crypto->RandomBytes(0), "");
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        const std::string bytes = crypto->RandomBytes(32);
        ASSERT_EQ(bytes.size(), 32u);
        seen.insert(bytes);
    }
    EXPECT_EQ(seen.size(), 50u);
    EXPECT_EQ(crypto->RandomBytes(3 << 20).size(), 3u << 20) << "more than one call gives";
}

}  // namespace
}  // namespace vantel
