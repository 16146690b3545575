#include "core/oauth/JsonObject.h"

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

namespace vantel {
namespace {

constexpr std::size_t kMaxDepth = 32;

std::int64_t Clamp(double value) {
    if (std::isnan(value)) {
        return 0;
    }
    if (value >= 9.2e18) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (value <= -9.2e18) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(value);
}

// Keeps the top level's scalar members and builds nothing of what lies deeper, so no input
// can make a large tree or recurse.
class TopLevelSax {
  public:
    using json = nlohmann::json;
    explicit TopLevelSax(std::map<std::string, JsonObject::Value, std::less<>>& members)
        : members_(members) {}

    bool null() { return Scalar(nullptr); }
    bool boolean(bool value) { return Scalar(value); }
    bool number_integer(json::number_integer_t value) {
        return Scalar(static_cast<std::int64_t>(value));
    }
    bool number_unsigned(json::number_unsigned_t value) {
        constexpr auto kMax =
            static_cast<json::number_unsigned_t>(std::numeric_limits<std::int64_t>::max());
        return Scalar(static_cast<std::int64_t>(value > kMax ? kMax : value));
    }
    bool number_float(json::number_float_t value, const json::string_t&) {
        return Scalar(static_cast<double>(value));
    }
    bool string(json::string_t& value) { return Scalar(std::move(value)); }
    bool binary(json::binary_t&) { return Scalar(JsonObject::Nested{}); }
    bool start_object(std::size_t) { return Open(); }
    bool end_object() { return Close(); }
    bool start_array(std::size_t) {
        if (depth_ == 0) {
            error_ = "the text is not a JSON object";
            return false;
        }
        return Open();
    }
    bool end_array() { return Close(); }
    bool key(json::string_t& key) {
        if (depth_ == 1) {
            key_ = std::move(key);
        }
        return true;
    }
    bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
        error_ = "the text is not valid JSON (at byte " + std::to_string(position) + ")";
        return false;
    }

    const std::string& Error() const { return error_; }

  private:
    bool Scalar(JsonObject::Value value) {
        if (depth_ == 0) {
            error_ = "the text is not a JSON object";
            return false;
        }
        return depth_ == 1 ? Keep(std::move(value)) : true;
    }
    bool Keep(JsonObject::Value value) {
        if (!members_.emplace(key_, std::move(value)).second) {
            error_ = "the JSON object has a member twice";
            return false;
        }
        return true;
    }
    bool Open() {
        if (depth_ == 1 && !Keep(JsonObject::Nested{})) {
            return false;
        }
        if (++depth_ > kMaxDepth) {
            error_ = "the JSON text is nested too deeply";
            return false;
        }
        return true;
    }
    bool Close() {
        --depth_;
        return true;
    }

    std::map<std::string, JsonObject::Value, std::less<>>& members_;
    std::size_t depth_ = 0;
    std::string key_;
    std::string error_;
};

}  // namespace

std::optional<JsonObject> JsonObject::Parse(std::string_view text, std::string& error) {
    if (text.size() > kMaxText) {
        error = "the JSON text is too long";
        return std::nullopt;
    }
    JsonObject object;
    TopLevelSax sax(object.members_);
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(text.begin(), text.end(), &sax);
    } catch (const std::exception&) {
        parsed = false;
    }
    if (!parsed) {
        error = sax.Error().empty() ? "the text is not valid JSON" : sax.Error();
        return std::nullopt;
    }
    return object;
}

bool JsonObject::Has(std::string_view key) const {
    return members_.find(key) != members_.end();
}

const JsonObject::Value* JsonObject::Find(std::string_view key) const {
    const auto found = members_.find(key);
    return found == members_.end() ? nullptr : &found->second;
}

std::optional<std::string> JsonObject::String(std::string_view key) const {
    const Value* value = Find(key);
    if (value == nullptr || !std::holds_alternative<std::string>(*value)) {
        return std::nullopt;
    }
    return std::get<std::string>(*value);
}

std::optional<std::int64_t> JsonObject::Integer(std::string_view key) const {
    const Value* value = Find(key);
    if (value == nullptr) {
        return std::nullopt;
    }
    if (const auto* integer = std::get_if<std::int64_t>(value)) {
        return *integer;
    }
    if (const auto* real = std::get_if<double>(value)) {
        return Clamp(*real);
    }
    if (const auto* text = std::get_if<std::string>(value)) {
        // Some endpoints send expires_in as "3599".
        std::string_view digits = *text;
        const bool negative = !digits.empty() && digits.front() == '-';
        if (negative) {
            digits.remove_prefix(1);
        }
        if (digits.empty() || digits.size() > 64) {
            return std::nullopt;
        }
        std::int64_t result = 0;
        constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
        for (char c : digits) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            const int digit = c - '0';
            result = result > (kMax - digit) / 10 ? kMax : result * 10 + digit;
        }
        return negative ? -result : result;
    }
    return std::nullopt;
}

std::optional<bool> JsonObject::Bool(std::string_view key) const {
    const Value* value = Find(key);
    if (value == nullptr || !std::holds_alternative<bool>(*value)) {
        return std::nullopt;
    }
    return std::get<bool>(*value);
}

void JsonObject::Set(std::string key, Value value) {
    members_[std::move(key)] = std::move(value);
}

std::string JsonObject::Dump() const {
    nlohmann::json out = nlohmann::json::object();
    for (const auto& [key, value] : members_) {
        nlohmann::json& member = out[key];
        if (std::holds_alternative<bool>(value)) {
            member = std::get<bool>(value);
        } else if (std::holds_alternative<std::int64_t>(value)) {
            member = std::get<std::int64_t>(value);
        } else if (std::holds_alternative<double>(value)) {
            const double real = std::get<double>(value);
            member = std::isfinite(real) ? nlohmann::json(real) : nlohmann::json(nullptr);
        } else if (std::holds_alternative<std::string>(value)) {
            member = std::get<std::string>(value);
        } else if (std::holds_alternative<Nested>(value)) {
            member = nlohmann::json::object();
        }
    }
    return out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

}  // namespace vantel
