// One kludge as the program holds it in memory.
#pragma once

#include <string>

namespace vantel {

/// Which header lines a kludge matches and what it does with them. Saved as two values at one
/// position, type and header name in "Kludges" and action and text in "Subst" (each a number,
/// a blank, the text); StoredKludges converts between the two.
struct KludgeRecord {
    int type = 0;            ///< a KludgeType number
    std::string headerName;  ///< one word; empty matches every line
    int action = -1;         ///< a KludgeAction number; -1 when it has none
    std::string text;        ///< the text, file path or signal string

    bool operator==(const KludgeRecord& other) const {
        return type == other.type && headerName == other.headerName && action == other.action &&
               text == other.text;
    }
    bool operator!=(const KludgeRecord& other) const { return !(*this == other); }
};

}  // namespace vantel
