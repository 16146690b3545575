#include "core/config/CredentialCodec.h"

#include <algorithm>
#include <cstring>

namespace vantel {
namespace {

std::string_view UpToNul(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

}  // namespace

void ReverseBytesBits(std::uint8_t* bytes, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        std::uint8_t b = bytes[i];
        b = static_cast<std::uint8_t>((b & 0xF0) >> 4 | (b & 0x0F) << 4);
        b = static_cast<std::uint8_t>((b & 0xCC) >> 2 | (b & 0x33) << 2);
        b = static_cast<std::uint8_t>((b & 0xAA) >> 1 | (b & 0x55) << 1);
        bytes[i] = b;
    }
}

int PackCredentials(CredentialBlock& block, std::string_view user, std::string_view password) {
    user = UpToNul(user);
    password = UpToNul(password);
    if (user.empty() || password.empty() || user.size() + password.size() > kMaxCredentialText) {
        return 0;
    }
    std::uint8_t* out = block.data();
    std::memcpy(out, user.data(), user.size());
    out[user.size()] = 0;
    std::memcpy(out + user.size() + 1, password.data(), password.size());
    const std::size_t length = user.size() + 1 + password.size();
    out[length] = 0;
    ReverseBytesBits(out, length);
    return static_cast<int>(length);
}

void UnpackCredentials(const CredentialBlock& block, int length, std::string& user,
                       std::string& password) {
    user.clear();
    password.clear();
    if (length <= 0) {
        return;
    }
    CredentialBlock work = block;
    const std::size_t used = std::min<std::size_t>(static_cast<std::size_t>(length), work.size());
    ReverseBytesBits(work.data(), used);
    const std::string_view text(reinterpret_cast<const char*>(work.data()), used);
    const std::size_t nul = text.find('\0');
    user = std::string(text.substr(0, nul));
    if (nul != std::string_view::npos) {
        password = std::string(UpToNul(text.substr(nul + 1)));
    }
}

}  // namespace vantel
