// The token records on Linux: one file per key, readable by its owner only, in a directory
// only its owner may enter.
#pragma once

#include <filesystem>
#include <string>

#include "platform/TokenStore.h"

namespace vantel {

class FileTokenStore : public TokenStore {
  public:
    /// A larger file is no record of ours.
    static constexpr std::size_t kMaxRecord = 256 * 1024;

    /// Keeps the records in `directory` (made, owner-only, at the first save).
    explicit FileTokenStore(std::filesystem::path directory);

    /// $XDG_STATE_HOME/vantel/tokens, else ~/.local/state/vantel/tokens; empty when neither
    /// variable is set (or not absolute).
    static std::filesystem::path DefaultDirectory();

    Loaded Load(std::string_view key) override;
    bool Save(std::string_view key, std::string_view record, std::string& error) override;
    bool Remove(std::string_view key, std::string& error) override;
    std::string Location() const override;
    std::uint64_t Generation(std::string_view key) override;

  private:
    /// Empty when the directory is missing or private; else what is wrong and the fix.
    std::string DirectoryProblem() const;

    std::filesystem::path directory_;
};

}  // namespace vantel
