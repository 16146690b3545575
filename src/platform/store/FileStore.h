// Settings kept in one .reg file, for systems without a registry.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/SettingsStore.h"
#include "platform/store/RegImage.h"

namespace vantel {

/// Both roots live in the one file as HKEY_CURRENT_USER\<product key>\... and
/// HKEY_LOCAL_MACHINE\<product key>\...; other keys in the file are kept as they are.
/// A file that cannot be read or parsed is never written: the store turns read-only for good,
/// so a hand-edited file is not lost to a typo.
class FileStore : public SettingsStore {
  public:
    explicit FileStore(std::filesystem::path path,
                       std::string productKey = std::string(kProductKey));

    /// Reads the file; a missing or empty file is an empty store. Called by the first
    /// operation if the owner has not. False (and read-only) when the file cannot be read or
    /// parsed; LastError() then says "<path>:<line>: <reason>" or the system's reason.
    bool Load();
    /// Why the last load or write failed.
    const std::string& LastError() const { return lastError_; }
    bool ReadOnly() const { return state_ == State::ReadOnly; }
    const std::filesystem::path& Path() const { return path_; }

    /// $XDG_CONFIG_HOME/vantel/settings.reg, else $HOME/.config/vantel/settings.reg; empty when
    /// neither variable is set.
    static std::filesystem::path DefaultPath();
    static std::filesystem::path DefaultPath(const std::function<const char*(const char*)>& getenv);

    std::string ReadValueText(std::string_view subkey, std::string_view name,
                              std::string_view defaultText, StoreRoot root) override;
    /// A string value reads as its text and terminating NUL, as the ANSI registry API gives it.
    std::vector<std::uint8_t> ReadBinaryValue(std::string_view subkey, std::string_view name,
                                              StoreRoot root) override;
    bool WriteValueText(std::string_view subkey, std::string_view name, std::string_view text,
                        StoreRoot root) override;
    bool WriteBinaryValue(std::string_view subkey, std::string_view name,
                          const std::vector<std::uint8_t>& bytes, StoreRoot root) override;
    bool DeleteStoreKey(std::string_view subkey, StoreRoot root) override;
    bool DeleteValue(std::string_view subkey, std::string_view name, StoreRoot root) override;
    std::vector<std::string> ValueNames(std::string_view subkey, StoreRoot root) override;

    void BeginUpdate() override;
    /// Persists the group's changes; also false when a write in the group was refused.
    bool EndUpdate() override;

  private:
    enum class State { NotLoaded, Ready, ReadOnly };

    const RegValue* Find(std::string_view subkey, std::string_view name, StoreRoot root);
    std::optional<std::string> KeyPath(std::string_view subkey, StoreRoot root) const;
    /// Applies `change` to the image unless read-only, then persists outside a group.
    bool Modify(std::string_view subkey, StoreRoot root,
                const std::function<bool(const std::string& key)>& change);
    bool Persist();

    std::filesystem::path path_;
    std::string productKey_;
    RegImage image_;
    State state_ = State::NotLoaded;
    std::string lastError_;
    std::size_t updateDepth_ = 0;
    bool dirty_ = false;
    bool groupRefused_ = false;
};

}  // namespace vantel
