// The token records on Windows: one file per key under the user's roaming application data,
// its contents sealed with DPAPI and its folder open to the user and the system only.
//
// The companion service runs as LocalSystem and relays the same entries, so the seal is the
// machine's (CRYPTPROTECT_LOCAL_MACHINE) with the program's own entropy, and what keeps other
// users out is the folder's access list: the user and SYSTEM, nobody else, not inherited. A
// record whose file others may read is refused, as on Linux.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

#include "platform/TokenStore.h"

namespace vantel {

class DpapiTokenStore : public TokenStore {
  public:
    /// A larger file is no record of ours.
    static constexpr std::size_t kMaxRecord = 256 * 1024;

    /// Keeps the records in `directory` (made, user and SYSTEM only, at the first save). A
    /// folder that exists keeps its owner: a record saved there is for that user and SYSTEM.
    explicit DpapiTokenStore(std::filesystem::path directory);

    /// <RoamingAppData>\Vantel\tokens; empty when the system names no such folder.
    static std::filesystem::path DefaultDirectory();

    Loaded Load(std::string_view key) override;
    bool Save(std::string_view key, std::string_view record, std::string& error) override;
    bool Remove(std::string_view key, std::string& error) override;
    std::string Location() const override;
    std::uint64_t Generation(std::string_view key) override;

    /// Empty when only the user the folder of `path` belongs to and SYSTEM may read `path`;
    /// else what is wrong and the fix. That user must be this process's, unless this process
    /// is SYSTEM (the service).
    static std::string AccessProblem(const std::filesystem::path& path);
    /// The service learns the folder with the settings, and again at every reload.
    void SetDirectory(std::filesystem::path directory) { directory_ = std::move(directory); }

  private:
    /// Makes the folder with its access list when missing; false with `error` set.
    bool MakeDirectory(std::string& error) const;

    std::filesystem::path directory_;
};

}  // namespace vantel
