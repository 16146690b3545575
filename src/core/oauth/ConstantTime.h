// Comparing secrets without telling by the time taken how much of a guess was right.
#pragma once

#include <cstddef>
#include <string_view>

namespace vantel {

/// Whether `a` equals `b`; the time depends on the lengths only.
inline bool ConstantTimeEquals(std::string_view a, std::string_view b) {
    unsigned char difference = a.size() == b.size() ? 0 : 1;
    const std::size_t n = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < n; ++i) {
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return difference == 0;
}

}  // namespace vantel
