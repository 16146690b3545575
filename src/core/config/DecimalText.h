// Numbers as the settings store keeps them: signed decimal text.
#pragma once

#include <string>
#include <string_view>

namespace vantel {

/// Leading white space, an optional sign, then digits up to the first non-digit; 0 when no
/// digit follows. Values beyond the int range clamp to its ends instead of wrapping.
int ParseDecimal(std::string_view text);

/// Like ParseDecimal, also telling how many characters were consumed (0 = no number).
int ParseDecimalPrefix(std::string_view text, std::size_t& consumed);

std::string FormatDecimal(int value);

}  // namespace vantel
