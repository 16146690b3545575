// One registry value as the settings file and the stores hold it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantel {

/// Value types the store gives meaning to; any other type is kept as opaque bytes.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;

struct RegValue {
    std::string name;  ///< "" is the key's default value.
    std::uint32_t type = kRegBinary;
    /// For REG_SZ the text without its terminating NUL; REG_DWORD is little-endian.
    std::vector<std::uint8_t> data;
};

inline bool operator==(const RegValue& a, const RegValue& b) {
    return a.name == b.name && a.type == b.type && a.data == b.data;
}

}  // namespace vantel
