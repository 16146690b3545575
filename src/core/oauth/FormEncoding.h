// Percent-encoding of URL query strings and of the forms posted to token endpoints.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantel {

using FormFields = std::vector<std::pair<std::string, std::string>>;

/// Every byte but the unreserved ones (letters, digits, "-._~") as %XX.
std::string PercentEncode(std::string_view text);
/// "%XX" decoded, and '+' as a blank (forms and query strings); nullopt for a '%' not
/// followed by two hex digits.
std::optional<std::string> PercentDecode(std::string_view text);
/// "name=value&name=value", each side percent-encoded; fields in the order given.
std::string FormEncode(const FormFields& fields);

}  // namespace vantel
