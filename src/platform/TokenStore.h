// Where the OAuth 2.0 token records live: apart from the settings, so that no export of the
// settings ever holds a token.
#pragma once

#include <cstdint>
#include <initializer_list>
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

    /// Whether `key` may name a record: not empty, only [a-z0-9._@-], no "..", so that no
    /// key names a file outside the store's folder.
    static bool ValidKey(std::string_view key) {
        if (key.empty() || key.size() > 200 || key.find("..") != std::string_view::npos) {
            return false;
        }
        for (char c : key) {
            const bool allowed = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                                 c == '_' || c == '@' || c == '-';
            if (!allowed) {
                return false;
            }
        }
        return true;
    }
    /// Empty when `key` may name a record; else why not, in words.
    static std::string KeyProblem(std::string_view key) {
        return ValidKey(key) ? std::string()
                             : "\"" + std::string(key) + "\" cannot name a token record";
    }

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

  protected:
    /// A generation made of the fields of a file that change with every replacement: never 0
    /// and, with bit 1 set, never 1 (the generation of a missing record).
    static std::uint64_t GenerationOf(std::initializer_list<std::uint64_t> values) {
        std::uint64_t hash = 1469598103934665603ULL;
        for (std::uint64_t value : values) {
            hash ^= value;
            hash *= 1099511628211ULL;
            hash ^= hash >> 29;
        }
        return hash | 2;
    }
};

}  // namespace vantel
