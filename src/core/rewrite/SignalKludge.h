// Lifting a value out of a header line into a header line of its own.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "core/config/RelaySettings.h"

namespace vantel {

/// A special kludge read from its record, its signal string lower-cased once.
struct SignalKludge {
    char separator = '\0';
    std::string kludgeName;
    std::string signal;  ///< lower-cased
};

/// Special kludge `index`, or nothing when the index names no usable definition.
std::optional<SignalKludge> ReadSignalKludge(const RelaySettings& settings, int index);

/// Appends the line `kludge` builds from `line` ("<name> <value>\r\n", the value
/// lower-cased) and gives true; false, appending nothing, when the line lacks the signal
/// string or holds fewer than two separators.
bool ApplySpecialKludge(const SignalKludge& kludge, std::string_view line, std::string& output);

}  // namespace vantel
