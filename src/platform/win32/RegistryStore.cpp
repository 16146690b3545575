#include "platform/win32/RegistryStore.h"

#include <windows.h>

#include <algorithm>

namespace vantel {
namespace {

HKEY RootKey(StoreRoot root) {
    return root == StoreRoot::LocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

/// Closes a key handle on every path out.
class KeyHandle {
  public:
    KeyHandle() = default;
    KeyHandle(const KeyHandle&) = delete;
    KeyHandle& operator=(const KeyHandle&) = delete;
    ~KeyHandle() {
        if (key_ != nullptr) {
            RegCloseKey(key_);
        }
    }
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

  private:
    HKEY key_ = nullptr;
};

}  // namespace

std::string RegistryStore::KeyPath(std::string_view subkey) const {
    std::string path = productKey_;
    if (!subkey.empty()) {
        path += '\\';
        path += subkey;
    }
    return path;
}

bool RegistryStore::ReadRaw(std::string_view subkey, std::string_view name, StoreRoot root,
                            std::vector<std::uint8_t>& bytes) {
    KeyHandle key;
    if (RegOpenKeyExA(RootKey(root), KeyPath(subkey).c_str(), 0, KEY_QUERY_VALUE, key.Out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    const std::string valueName(name);
    // Ask for the size first so a value of any length reads back whole; retry if it grew
    // between the two calls.
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = 0;
        if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, nullptr, nullptr, &size) !=
            ERROR_SUCCESS) {
            return false;
        }
        bytes.assign(size, 0);
        const LONG rc = RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, nullptr,
                                         bytes.empty() ? nullptr : bytes.data(), &size);
        if (rc == ERROR_SUCCESS) {
            bytes.resize(size);
            return true;
        }
        if (rc != ERROR_MORE_DATA) {
            return false;
        }
    }
    return false;
}

std::string RegistryStore::ReadValueText(std::string_view subkey, std::string_view name,
                                         std::string_view defaultText, StoreRoot root) {
    std::vector<std::uint8_t> bytes;
    if (!ReadRaw(subkey, name, root, bytes)) {
        return std::string(defaultText);
    }
    const auto nul = std::find(bytes.begin(), bytes.end(), 0);
    return std::string(bytes.begin(), nul);
}

std::vector<std::uint8_t> RegistryStore::ReadBinaryValue(std::string_view subkey,
                                                         std::string_view name, StoreRoot root) {
    std::vector<std::uint8_t> bytes;
    if (!ReadRaw(subkey, name, root, bytes)) {
        bytes.clear();
    }
    return bytes;
}

bool RegistryStore::WriteRaw(std::string_view subkey, std::string_view name, unsigned long type,
                             const std::uint8_t* bytes, std::size_t length, StoreRoot root) {
    KeyHandle key;
    if (RegCreateKeyExA(RootKey(root), KeyPath(subkey).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                        nullptr, key.Out(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExA(key.Get(), std::string(name).c_str(), 0, type, bytes,
                          static_cast<DWORD>(length)) == ERROR_SUCCESS;
}

bool RegistryStore::WriteValueText(std::string_view subkey, std::string_view name,
                                   std::string_view text, StoreRoot root) {
    // The stored length is the text without its NUL, as the settings have always been written.
    return WriteRaw(subkey, name, REG_SZ, reinterpret_cast<const std::uint8_t*>(text.data()),
                    text.size(), root);
}

bool RegistryStore::WriteBinaryValue(std::string_view subkey, std::string_view name,
                                     const std::vector<std::uint8_t>& bytes, StoreRoot root) {
    return WriteRaw(subkey, name, REG_BINARY, bytes.data(), bytes.size(), root);
}

bool RegistryStore::DeleteStoreKey(std::string_view subkey, StoreRoot root) {
    return RegDeleteKeyA(RootKey(root), KeyPath(subkey).c_str()) == ERROR_SUCCESS;
}

bool RegistryStore::DeleteValue(std::string_view subkey, std::string_view name, StoreRoot root) {
    KeyHandle key;
    if (RegOpenKeyExA(RootKey(root), KeyPath(subkey).c_str(), 0, KEY_SET_VALUE, key.Out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    return RegDeleteValueA(key.Get(), std::string(name).c_str()) == ERROR_SUCCESS;
}

std::vector<std::string> RegistryStore::ValueNames(std::string_view subkey, StoreRoot root) {
    std::vector<std::string> names;
    KeyHandle key;
    if (RegOpenKeyExA(RootKey(root), KeyPath(subkey).c_str(), 0, KEY_QUERY_VALUE, key.Out()) !=
        ERROR_SUCCESS) {
        return names;
    }
    DWORD longest = 0;
    if (RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &longest, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return names;
    }
    // The longest name is counted without its NUL. A longer name added meanwhile is skipped,
    // as a value added after the listing would be.
    std::vector<char> name(static_cast<std::size_t>(longest) + 1);
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(name.size());
        const LONG rc = RegEnumValueA(key.Get(), index, name.data(), &length, nullptr, nullptr,
                                      nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (rc == ERROR_SUCCESS) {
            names.emplace_back(name.data(), length);
        } else if (rc != ERROR_MORE_DATA) {
            break;
        }
    }
    return names;
}

}  // namespace vantel
