// One special kludge as the program holds it in memory.
#pragma once

#include <string>

namespace vantel {

/// A header line of its own, lifted out of lines that hold the signal string. The store keeps
/// it as two entries at one position: "SignalStr" (the signal string) and "SpecialKludges"
/// ("%c %s": separator, kludge name); StoredKludges reads and writes them.
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
