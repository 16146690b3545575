// Where the OAuth 2.0 token records live: apart from the settings, so that no export of the
// settings ever holds a token.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

/// One record per account, named by a key the core makes (letters, digits, '.', '-', '_',
/// '@' only). The record is text the core writes and reads; the store only keeps it safe.
class TokenStore {
  public:
    struct Loaded {
        std::optional<std::string> record;  ///< nullopt: none stored, or refused (`problem`)
        /// Why a record that is there was not read (a file others may read); else empty.
        std::string problem;
    };

    virtual ~TokenStore() = default;
    virtual Loaded Load(std::string_view key) = 0;
    /// Replaces the record whole or not at all; false with `error` set when it failed, and
    /// then the old record is as it was.
    virtual bool Save(std::string_view key, std::string_view record, std::string& error) = 0;
    /// Deletes the record; false with `error` when one is there and could not be deleted.
    virtual bool Remove(std::string_view key, std::string& error) = 0;
    /// Where the records are kept, for people ("~/.local/state/vantel/tokens").
    virtual std::string Location() const = 0;
    /// A number that changes whenever a record is saved or removed by any process, so that
    /// the relay takes up a new sign-in without a restart; 0 where it cannot tell.
    virtual std::uint64_t Generation(std::string_view key) = 0;
};

}  // namespace vantel
