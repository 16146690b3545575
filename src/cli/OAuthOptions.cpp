#include "cli/OAuthOptions.h"

#include <algorithm>
#include <cctype>

namespace vantel {
namespace {

constexpr std::size_t kMaxText = 2048;

/// Printable ASCII without blanks.
bool IsWord(std::string_view text) {
    if (text.empty() || text.size() > kMaxText) {
        return false;
    }
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7f) {
            return false;
        }
    }
    return true;
}

bool IsHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

bool IsGuid(std::string_view text) {
    if (text.size() != 36) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !IsHex(text[i])) {
            return false;
        }
    }
    return true;
}

bool IsDomainName(std::string_view text) {
    if (text.empty() || text.size() > 253 || text.find('.') == std::string_view::npos) {
        return false;
    }
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('.', start);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        const std::string_view label = text.substr(start, end - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-') {
            return false;
        }
        for (const char c : label) {
            if (std::isalnum(static_cast<unsigned char>(c)) == 0 && c != '-') {
                return false;
            }
        }
        start = end + 1;
    }
    return true;
}

/// Whether `rest` (after the scheme) starts with `host` followed by its end, a port or a path.
bool StartsWithHost(std::string_view rest, std::string_view host) {
    if (rest.size() < host.size() || OAuthOptions::Lower(rest.substr(0, host.size())) != host) {
        return false;
    }
    return rest.size() == host.size() || rest[host.size()] == ':' || rest[host.size()] == '/' ||
           rest[host.size()] == '?';
}

}  // namespace

std::string OAuthOptions::Lower(std::string_view word) {
    std::string text(word);
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

std::optional<std::string> OAuthOptions::ParseProvider(std::string_view word) {
    const std::string lower = Lower(word);
    if (lower == "microsoft" || lower == "google" || lower == "other") {
        return lower;
    }
    return std::nullopt;
}

std::optional<std::string> OAuthOptions::ParseMechanism(std::string_view word) {
    const std::string lower = Lower(word);
    if (lower == "xoauth2") {
        return std::string("XOAUTH2");
    }
    if (lower == "oauthbearer") {
        return std::string("OAUTHBEARER");
    }
    return std::nullopt;
}

bool OAuthOptions::IsAccount(std::string_view text) {
    const std::size_t at = text.rfind('@');
    return text.size() <= 254 && IsWord(text) && at != std::string_view::npos && at > 0 &&
           at + 1 < text.size();
}

bool OAuthOptions::IsTenant(std::string_view text) {
    const std::string lower = Lower(text);
    return lower == "common" || lower == "organizations" || lower == "consumers" || IsGuid(text) ||
           IsDomainName(text);
}

bool OAuthOptions::IsEndpointUrl(std::string_view text) {
    if (!IsWord(text)) {
        return false;
    }
    const std::string lower = Lower(text);
    if (lower.rfind("https://", 0) == 0) {
        const std::string_view rest = text.substr(8);
        return !rest.empty() && rest.front() != '/' && rest.front() != ':' && rest.front() != '?';
    }
    if (lower.rfind("http://", 0) == 0) {
        const std::string_view rest = text.substr(7);
        return StartsWithHost(rest, "127.0.0.1") || StartsWithHost(rest, "[::1]") ||
               StartsWithHost(rest, "localhost");
    }
    return false;
}

bool OAuthOptions::IsClientId(std::string_view text) {
    return IsWord(text);
}

std::optional<std::string> OAuthOptions::NormalizeScopes(std::string_view text) {
    std::string scopes;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        const std::string_view scope = text.substr(start, end - start);
        if (!scope.empty()) {
            if (!IsWord(scope)) {
                return std::nullopt;
            }
            scopes += (scopes.empty() ? "" : " ") + std::string(scope);
        }
        start = end + 1;
    }
    if (scopes.empty() || scopes.size() > kMaxText) {
        return std::nullopt;
    }
    return scopes;
}

}  // namespace vantel
