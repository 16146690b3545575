// Base64 as SASL carries it and base64url as OAuth 2.0 does (PKCE, state).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vantel {

/// Standard alphabet, '=' padded.
std::string Base64Encode(std::string_view bytes);
/// Strict: the standard alphabet, padded to a multiple of four, no blanks, no bits left over;
/// nullopt for anything else.
std::optional<std::string> Base64Decode(std::string_view text);

/// URL-safe alphabet ('-', '_'), no padding.
std::string Base64UrlEncode(std::string_view bytes);
/// Strict: the URL-safe alphabet without padding, no bits left over; nullopt otherwise.
std::optional<std::string> Base64UrlDecode(std::string_view text);

}  // namespace vantel
