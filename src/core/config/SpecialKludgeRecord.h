// One special kludge as the program holds it in memory.
#pragma once

#include <string>

namespace vantel {

/// Where a line holds `signal`, the text between two `separator`s becomes a new header line
/// named `kludgeName`. Saved as two values at one position, the signal string in "SignalStr"
/// and separator and name in "SpecialKludges"; StoredKludges converts between the two.
struct SpecialKludgeRecord {
    std::string signal;
    std::string separator;  ///< one character; empty when there is no usable definition
    std::string kludgeName;

    bool operator==(const SpecialKludgeRecord& other) const {
        return signal == other.signal && separator == other.separator &&
               kludgeName == other.kludgeName;
    }
    bool operator!=(const SpecialKludgeRecord& other) const { return !(*this == other); }
};

}  // namespace vantel
