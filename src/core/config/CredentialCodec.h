// The stored form of a POP3 login: "user\0password\0" with every used byte bit-reversed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/config/ServerEntry.h"

namespace vantel {

using CredentialBlock = std::array<std::uint8_t, ServerEntry::kCredentialsSize>;

/// Longest user name plus password that fits the block with both terminators.
inline constexpr std::size_t kMaxCredentialText = ServerEntry::kCredentialsSize - 2;

/// Reverses the bit order of each byte in place (0x01 <-> 0x80); its own inverse.
void ReverseBytesBits(std::uint8_t* bytes, std::size_t length);

/// Writes the scrambled login into `block` and returns its length (user + 1 + password).
/// Returns 0 and leaves the block alone when either text is empty, or when the two together
/// exceed kMaxCredentialText bytes: a login that does not fit is refused, never cut. Each
/// text counts up to its first NUL, as a C string would.
int PackCredentials(CredentialBlock& block, std::string_view user, std::string_view password);

/// Recovers user name and password from the first `length` bytes of `block`; both are empty
/// when `length` is 0 or less. Lengths past the block are read as the whole block.
void UnpackCredentials(const CredentialBlock& block, int length, std::string& user,
                       std::string& password);

}  // namespace vantel
