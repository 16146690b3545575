#include "platform/store/FileStore.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/AtomicFile.h"
#include "platform/store/RegFile.h"

namespace vantel {

namespace {

enum class ReadResult { Ok, Missing, Failed };

ReadResult ReadWholeFile(const std::filesystem::path& path, std::string& bytes,
                         std::string& error) {
    std::FILE* file = std::fopen(path.string().c_str(), "rb");
    if (file == nullptr) {
        // ENOTDIR: a parent is a plain file, so this file cannot exist either.
        if (errno == ENOENT || errno == ENOTDIR) {
            return ReadResult::Missing;
        }
        error = path.string() + ": " + std::strerror(errno);
        return ReadResult::Failed;
    }
    char buffer[64 * 1024];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.append(buffer, n);
    }
    const bool failed = std::ferror(file) != 0;
    const int err = errno;
    std::fclose(file);
    if (failed) {
        error = path.string() + ": " + std::strerror(err);
        return ReadResult::Failed;
    }
    return ReadResult::Ok;
}

}  // namespace

FileStore::FileStore(std::filesystem::path path, std::string productKey)
    : path_(std::move(path)), productKey_(std::move(productKey)) {}

bool FileStore::Load() {
    if (state_ == State::ReadOnly) {
        return false;
    }
    state_ = State::ReadOnly;
    if (path_.empty()) {
        lastError_ = "no path for the settings file";
        return false;
    }
    std::string bytes;
    RegImage image;
    switch (ReadWholeFile(path_, bytes, lastError_)) {
        case ReadResult::Failed:
            return false;
        case ReadResult::Missing:
            break;
        case ReadResult::Ok: {
            RegFile::ParseError error;
            if (!bytes.empty() && !RegFile::Parse(bytes, image, error)) {
                lastError_ =
                    path_.string() + ":" + std::to_string(error.line) + ": " + error.reason;
                return false;
            }
            break;
        }
    }
    image_ = std::move(image);
    state_ = State::Ready;
    lastError_.clear();
    return true;
}

std::filesystem::path FileStore::DefaultPath() {
    return DefaultPath([](const char* name) -> const char* { return std::getenv(name); });
}

std::filesystem::path FileStore::DefaultPath(
    const std::function<const char*(const char*)>& getenv) {
    const char* config = getenv("XDG_CONFIG_HOME");
    if (config != nullptr && *config != '\0') {
        return std::filesystem::path(config) / "vantel" / "settings.reg";
    }
    const char* home = getenv("HOME");
    if (home != nullptr && *home != '\0') {
        return std::filesystem::path(home) / ".config" / "vantel" / "settings.reg";
    }
    return {};
}

std::optional<std::string> FileStore::KeyPath(std::string_view subkey, StoreRoot root) const {
    std::string path =
        root == StoreRoot::LocalMachine ? "HKEY_LOCAL_MACHINE\\" : "HKEY_CURRENT_USER\\";
    path += productKey_;
    if (!subkey.empty()) {
        path += '\\';
        path += subkey;
    }
    if (!RegImage::IsValidPath(path)) {
        return std::nullopt;
    }
    return path;
}

const RegValue* FileStore::Find(std::string_view subkey, std::string_view name, StoreRoot root) {
    if (state_ == State::NotLoaded) {
        Load();
    }
    const std::optional<std::string> key = KeyPath(subkey, root);
    return key ? image_.FindValue(*key, name) : nullptr;
}

std::string FileStore::ReadValueText(std::string_view subkey, std::string_view name,
                                     std::string_view defaultText, StoreRoot root) {
    const RegValue* value = Find(subkey, name, root);
    if (value == nullptr) {
        return std::string(defaultText);
    }
    const auto end = std::find(value->data.begin(), value->data.end(), 0);
    return std::string(value->data.begin(), end);
}

std::vector<std::uint8_t> FileStore::ReadBinaryValue(std::string_view subkey, std::string_view name,
                                                     StoreRoot root) {
    const RegValue* value = Find(subkey, name, root);
    if (value == nullptr) {
        return {};
    }
    std::vector<std::uint8_t> bytes = value->data;
    if (value->type == kRegSz) {
        bytes.push_back(0);
    }
    return bytes;
}

bool FileStore::WriteValueText(std::string_view subkey, std::string_view name,
                               std::string_view text, StoreRoot root) {
    return Modify(subkey, root, [&](const std::string& key) {
        return image_.SetValue(key,
                               RegValue{std::string(name), kRegSz, {text.begin(), text.end()}});
    });
}

bool FileStore::WriteBinaryValue(std::string_view subkey, std::string_view name,
                                 const std::vector<std::uint8_t>& bytes, StoreRoot root) {
    return Modify(subkey, root, [&](const std::string& key) {
        return image_.SetValue(key, RegValue{std::string(name), kRegBinary, bytes});
    });
}

bool FileStore::DeleteStoreKey(std::string_view subkey, StoreRoot root) {
    return Modify(subkey, root, [&](const std::string& key) { return image_.DeleteKey(key); });
}

bool FileStore::DeleteValue(std::string_view subkey, std::string_view name, StoreRoot root) {
    return Modify(subkey, root,
                  [&](const std::string& key) { return image_.DeleteValue(key, name); });
}

std::vector<std::string> FileStore::ValueNames(std::string_view subkey, StoreRoot root) {
    if (state_ == State::NotLoaded) {
        Load();
    }
    std::vector<std::string> names;
    const std::optional<std::string> key = KeyPath(subkey, root);
    if (key) {
        for (const RegValue* value : image_.Values(*key)) {
            names.push_back(value->name);
        }
    }
    return names;
}

bool FileStore::Modify(std::string_view subkey, StoreRoot root,
                       const std::function<bool(const std::string& key)>& change) {
    if (state_ == State::NotLoaded) {
        Load();
    }
    if (state_ == State::ReadOnly) {
        groupRefused_ = groupRefused_ || updateDepth_ > 0;
        return false;
    }
    const std::optional<std::string> key = KeyPath(subkey, root);
    if (!key || !change(*key)) {
        return false;
    }
    dirty_ = true;
    return updateDepth_ > 0 || Persist();
}

bool FileStore::Persist() {
    std::string error;
    if (!WriteFileAtomically(path_, RegFile::Format(image_), error)) {
        lastError_ = std::move(error);
        return false;
    }
    dirty_ = false;
    lastError_.clear();
    return true;
}

void FileStore::BeginUpdate() {
    ++updateDepth_;
}

bool FileStore::EndUpdate() {
    if (updateDepth_ == 0 || --updateDepth_ > 0) {
        return true;
    }
    const bool refused = std::exchange(groupRefused_, false);
    const bool persisted = !dirty_ || Persist();
    return persisted && !refused;
}

}  // namespace vantel
