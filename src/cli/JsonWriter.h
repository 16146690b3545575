// JSON for scripts, written as it goes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantel {

/// Builds one JSON text. Commas and nesting are kept track of here; the caller opens and
/// closes objects and arrays in order. Strings are the store's bytes: valid UTF-8 passes as
/// it is, any other byte is taken as the Latin-1 character of its value, so the output is
/// always valid JSON whatever a hand-edited store holds.
class JsonWriter {
  public:
    JsonWriter& BeginObject();
    JsonWriter& EndObject();
    JsonWriter& BeginArray();
    JsonWriter& EndArray();
    /// The name of the next member of the object being written.
    JsonWriter& Key(std::string_view name);
    JsonWriter& String(std::string_view text);
    JsonWriter& Number(long long value);
    JsonWriter& Bool(bool value);
    JsonWriter& Null();

    /// Key and value in one call.
    JsonWriter& Member(std::string_view name, std::string_view text) {
        return Key(name).String(text);
    }
    JsonWriter& Member(std::string_view name, const char* text) { return Key(name).String(text); }
    JsonWriter& Member(std::string_view name, int value) { return Key(name).Number(value); }
    JsonWriter& Member(std::string_view name, bool value) { return Key(name).Bool(value); }

    /// The text so far, with a line end once everything is closed.
    std::string Text() const { return text_ + (open_.empty() ? "\n" : ""); }

    static std::string Quote(std::string_view text);

  private:
    void BeforeValue();

    std::string text_;
    std::vector<bool> open_;  ///< per open container: whether it has a member yet
    bool afterKey_ = false;
};

}  // namespace vantel
