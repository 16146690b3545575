// In-memory tree of registry keys and values, as a .reg file describes it.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/store/RegValue.h"

namespace vantel {

/// Keys are addressed by full path ("HKEY_CURRENT_USER\\SOFTWARE\\..."). Key and value names
/// compare case-insensitively (ASCII) and keep the case they were first written with.
class RegImage {
  public:
    /// Creates the key and its missing ancestors; false when the path is not a valid key path.
    bool CreateKey(std::string_view path);
    bool HasKey(std::string_view path) const;
    bool HasSubkeys(std::string_view path) const;
    /// Removes a key with its values; false when it is absent or still has subkeys.
    bool DeleteKey(std::string_view path);
    /// Removes a key with its values and all its subkeys; false when it is absent.
    bool DeleteTree(std::string_view path);

    /// Sets a value, creating the key. A replaced value keeps its place and its name's case.
    /// False when the key path or the value name cannot be represented.
    bool SetValue(std::string_view path, RegValue value);
    bool DeleteValue(std::string_view path, std::string_view name);
    const RegValue* FindValue(std::string_view path, std::string_view name) const;

    /// All key paths, each parent directly followed by its subtree.
    std::vector<std::string> KeyPaths() const;
    /// The key's values in the order they were first set.
    std::vector<const RegValue*> Values(std::string_view path) const;

    /// Non-empty components separated by single backslashes, no NUL, CR or LF, and no leading
    /// '-' (which a .reg file reads as a deletion).
    static bool IsValidPath(std::string_view path);
    static bool IsValidValueName(std::string_view name);

  private:
    struct NameLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    /// Like NameLess, but '\' sorts first so that a key's subtree follows it contiguously.
    struct PathLess {
        using is_transparent = void;
        bool operator()(std::string_view a, std::string_view b) const;
    };
    struct Slot {
        RegValue value;
        std::uint64_t order = 0;
    };
    struct Key {
        std::map<std::string, Slot, NameLess> values;
    };
    using KeyMap = std::map<std::string, Key, PathLess>;

    static bool IsBelow(std::string_view child, std::string_view parent);

    KeyMap keys_;
    std::uint64_t nextOrder_ = 0;
};

}  // namespace vantel
