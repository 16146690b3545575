// Lifting a value out of a header line into a header line of its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/config/RelaySettings.h"

namespace vantel {

/// The line that special kludge `index` builds from `line` ("<name> <value>\r\n", the value
/// lower-cased), or nothing when the index names no usable definition, the line lacks the
/// signal string, or it holds fewer than two separators.
std::optional<std::string> ApplySpecialKludge(const RelaySettings& settings, std::string_view line,
                                              int index);

}  // namespace vantel
