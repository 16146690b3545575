// Hierarchical key/value store with registry semantics: the one place settings live.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

/// Which of the two roots a store operation addresses.
enum class StoreRoot {
    CurrentUser,   ///< HKEY_CURRENT_USER: the user's own settings.
    LocalMachine,  ///< HKEY_LOCAL_MACHINE: the copy the companion service reads.
};

/// Key below each root under which all of the program's subkeys lie.
inline constexpr std::string_view kProductKey = "SOFTWARE\\Raderador\\Vantel";

/// The registry primitives the settings code is written against. Subkeys are relative to
/// the product key and use '\' as separator ("Settings", "Settings\\Work"). Key and value
/// names compare case-insensitively. Reads never fail loudly: a missing key or value gives
/// the default. Writes create missing keys and report success, which callers may ignore.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;

    /// Text of a value, whole whatever its length; `defaultText` when it cannot be read.
    /// The text ends at the first NUL, as the ANSI registry API delivers it.
    virtual std::string ReadValueText(std::string_view subkey, std::string_view name,
                                      std::string_view defaultText, StoreRoot root) = 0;
    /// Bytes of a value, whole; empty when it cannot be read.
    virtual std::vector<std::uint8_t> ReadBinaryValue(std::string_view subkey,
                                                      std::string_view name, StoreRoot root) = 0;
    /// Stores a string value (REG_SZ), creating missing keys.
    virtual bool WriteValueText(std::string_view subkey, std::string_view name,
                                std::string_view text, StoreRoot root) = 0;
    /// Stores a binary value (REG_BINARY), creating missing keys.
    virtual bool WriteBinaryValue(std::string_view subkey, std::string_view name,
                                  const std::vector<std::uint8_t>& bytes, StoreRoot root) = 0;
    /// Deletes a key with its values; a key that still has subkeys stays (as on Windows NT).
    virtual bool DeleteStoreKey(std::string_view subkey, StoreRoot root) = 0;
    /// Deletes one value; false when it was not there (or could not be deleted).
    virtual bool DeleteValue(std::string_view subkey, std::string_view name, StoreRoot root) = 0;
    /// The names of a key's values, in no particular order; empty when the key is absent.
    virtual std::vector<std::string> ValueNames(std::string_view subkey, StoreRoot root) = 0;

    /// Groups the writes that follow until the matching EndUpdate, so a store that persists
    /// as a whole (a file) writes once. Calls nest; only the outermost EndUpdate persists.
    virtual void BeginUpdate() {}
    /// Ends a group of writes; false when persisting failed (what was persisted before stays
    /// whole).
    virtual bool EndUpdate() { return true; }
};

}  // namespace vantel
