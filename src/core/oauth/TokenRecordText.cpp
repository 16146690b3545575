#include "core/oauth/TokenRecordText.h"

#include <cstdint>

#include "core/oauth/JsonObject.h"

namespace vantel {
namespace {

std::string Text(const JsonObject& json, std::string_view key) {
    return json.String(key).value_or("");
}

}  // namespace

std::string TokenRecordText::Write(const TokenRecord& record) {
    JsonObject json;
    json.Set("version", static_cast<std::int64_t>(TokenRecord::kVersion));
    json.Set("account", record.Account);
    json.Set("provider", record.Provider);
    json.Set("token_url", record.TokenUrl);
    json.Set("client_id", record.ClientId);
    json.Set("tenant", record.Tenant);
    json.Set("scope", record.Scopes);
    json.Set("access_token", record.AccessToken);
    json.Set("access_expiry", record.AccessExpiry);
    json.Set("refresh_token", record.RefreshToken);
    json.Set("refreshed_at", record.RefreshedAt);
    json.Set("local_password", record.LocalPasswordHash);
    json.Set("sign_in_needed", record.SignInNeeded);
    json.Set("sign_in_needed_reason", record.SignInNeededReason);
    return json.Dump() + "\n";
}

std::optional<TokenRecord> TokenRecordText::Read(std::string_view text, std::string& error) {
    const std::optional<JsonObject> json = JsonObject::Parse(text, error);
    if (!json) {
        error = "the token record is damaged: " + error;
        return std::nullopt;
    }
    const std::optional<std::int64_t> version = json->Integer("version");
    if (!version || *version < 1) {
        error = "the token record has no version";
        return std::nullopt;
    }
    if (*version > TokenRecord::kVersion) {
        error = "the token record was written by a newer Vantel (version " +
                std::to_string(*version) + ")";
        return std::nullopt;
    }
    TokenRecord record;
    record.Account = Text(*json, "account");
    record.Provider = Text(*json, "provider");
    record.TokenUrl = Text(*json, "token_url");
    record.ClientId = Text(*json, "client_id");
    record.Tenant = Text(*json, "tenant");
    record.Scopes = Text(*json, "scope");
    record.AccessToken = Text(*json, "access_token");
    record.AccessExpiry = json->Integer("access_expiry").value_or(0);
    record.RefreshToken = Text(*json, "refresh_token");
    record.RefreshedAt = json->Integer("refreshed_at").value_or(0);
    record.LocalPasswordHash = Text(*json, "local_password");
    record.SignInNeeded = json->Bool("sign_in_needed").value_or(false);
    record.SignInNeededReason = Text(*json, "sign_in_needed_reason");
    if (record.Account.empty() || record.RefreshToken.empty()) {
        error = "the token record has no account or no refresh token";
        return std::nullopt;
    }
    return record;
}

std::string TokenRecordText::Key(const OAuthSignIn& signIn) {
    static constexpr char kHex[] = "0123456789abcdef";
    static constexpr std::size_t kMaxKey = 200;
    std::string key;
    const std::string whole = signIn.Provider + "-" + signIn.Account;
    for (char raw : whole) {
        const char c = raw >= 'A' && raw <= 'Z' ? static_cast<char>(raw - 'A' + 'a') : raw;
        // A leading dot or two in a row would make a hidden file or a parent folder.
        const bool dot = c == '.' && !key.empty() && key.back() != '.';
        const bool plain =
            (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '@' || dot;
        if (plain) {
            key += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            key += '_';
            key += kHex[byte >> 4];
            key += kHex[byte & 0xF];
        }
    }
    if (key.size() > kMaxKey) {
        // FNV-1a of the whole keeps long names apart once cut.
        std::uint64_t hash = 14695981039346656037ULL;
        for (char c : key) {
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ULL;
        }
        key.resize(kMaxKey - 17);
        key += '_';
        for (int shift = 60; shift >= 0; shift -= 4) {
            key += kHex[(hash >> shift) & 0xF];
        }
    }
    return key;
}

}  // namespace vantel
