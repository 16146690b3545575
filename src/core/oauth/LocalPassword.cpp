#include "core/oauth/LocalPassword.h"

#include <vector>

#include "core/oauth/Base64.h"
#include "core/oauth/ConstantTime.h"

namespace vantel {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";

std::string_view DigestBytes(const Sha256Digest& digest) {
    return {reinterpret_cast<const char*>(digest.data()), digest.size()};
}

std::vector<std::string_view> SplitDollar(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('$', start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

}  // namespace

std::string LocalPassword::Make(Crypto& crypto) {
    return Base64UrlEncode(crypto.RandomBytes(18));
}

std::string LocalPassword::Hash(Crypto& crypto, std::string_view password) {
    const std::string salt = crypto.RandomBytes(16);
    const Sha256Digest key = crypto.Pbkdf2Sha256(password, salt, kIterations);
    return std::string(kScheme) + "$" + std::to_string(kIterations) + "$" + Base64Encode(salt) +
           "$" + Base64Encode(DigestBytes(key));
}

bool LocalPassword::Verify(Crypto& crypto, std::string_view password, std::string_view stored) {
    const std::vector<std::string_view> parts = SplitDollar(stored);
    if (parts.size() != 4 || parts[0] != kScheme || parts[1].empty() || parts[1].size() > 7) {
        return false;
    }
    std::uint32_t iterations = 0;
    for (char c : parts[1]) {
        if (c < '0' || c > '9') {
            return false;
        }
        iterations = iterations * 10 + static_cast<std::uint32_t>(c - '0');
    }
    const std::optional<std::string> salt = Base64Decode(parts[2]);
    const std::optional<std::string> key = Base64Decode(parts[3]);
    if (iterations == 0 || iterations > kMaxIterations || !salt || salt->empty() || !key ||
        key->size() != sizeof(Sha256Digest)) {
        return false;
    }
    return ConstantTimeEquals(DigestBytes(crypto.Pbkdf2Sha256(password, *salt, iterations)), *key);
}

std::string LocalPassword::Problem(std::string_view password) {
    if (password.size() < kMinLength) {
        return "a local password needs at least " + std::to_string(kMinLength) + " characters";
    }
    if (password.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
        return "a local password cannot hold a line break or a NUL";
    }
    return {};
}

}  // namespace vantel
