// The settings store in the Windows registry, through the ANSI registry API.
#pragma once

#include <string>

#include "platform/SettingsStore.h"

namespace vantel {

class RegistryStore : public SettingsStore {
  public:
    /// `productKey` is the key below each root that holds every subkey.
    explicit RegistryStore(std::string productKey = std::string(kProductKey))
        : productKey_(std::move(productKey)) {}

    std::string ReadValueText(std::string_view subkey, std::string_view name,
                              std::string_view defaultText, StoreRoot root) override;
    std::vector<std::uint8_t> ReadBinaryValue(std::string_view subkey, std::string_view name,
                                              StoreRoot root) override;
    bool WriteValueText(std::string_view subkey, std::string_view name, std::string_view text,
                        StoreRoot root) override;
    bool WriteBinaryValue(std::string_view subkey, std::string_view name,
                          const std::vector<std::uint8_t>& bytes, StoreRoot root) override;
    bool DeleteStoreKey(std::string_view subkey, StoreRoot root) override;
    bool DeleteValue(std::string_view subkey, std::string_view name, StoreRoot root) override;
    std::vector<std::string> ValueNames(std::string_view subkey, StoreRoot root) override;

  private:
    std::string KeyPath(std::string_view subkey) const;
    bool ReadRaw(std::string_view subkey, std::string_view name, StoreRoot root,
                 std::vector<std::uint8_t>& bytes);
    bool WriteRaw(std::string_view subkey, std::string_view name, unsigned long type,
                  const std::uint8_t* bytes, std::size_t length, StoreRoot root);

    std::string productKey_;
};

}  // namespace vantel
