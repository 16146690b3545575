// The flat JSON objects of OAuth 2.0: token answers, error challenges, the token record.
// The one place that parses or writes JSON, so that the large library compiles once.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace vantel {

class JsonObject {
  public:
    /// A member nested deeper than the top level, or an array, is kept only as "there".
    struct Nested {
        bool operator==(const Nested&) const { return true; }
    };
    using Value = std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Nested>;

    /// A longer text is no answer of a token endpoint.
    static constexpr std::size_t kMaxText = 1024 * 1024;

    /// The members of the object `text` holds; nullopt with `error` in words when `text` is
    /// not one JSON object (or too long, too deeply nested, or has a member twice).
    static std::optional<JsonObject> Parse(std::string_view text, std::string& error);

    bool Has(std::string_view key) const;
    /// The member when it is a string, else nullopt.
    std::optional<std::string> String(std::string_view key) const;
    /// The member when it is a number, or a string holding only a decimal integer; values
    /// beyond the range clamp to its ends. nullopt for anything else.
    std::optional<std::int64_t> Integer(std::string_view key) const;
    std::optional<bool> Bool(std::string_view key) const;
    const Value* Find(std::string_view key) const;

    void Set(std::string key, Value value);
    /// Compact JSON; text that is not UTF-8 is written with replacement characters.
    std::string Dump() const;

  private:
    std::map<std::string, Value, std::less<>> members_;
};

}  // namespace vantel
