#include "core/oauth/OAuthProvider.h"

#include "core/config/AsciiText.h"

namespace vantel {
namespace {

constexpr std::string_view kMicrosoftScopes =
    "https://outlook.office.com/IMAP.AccessAsUser.All "
    "https://outlook.office.com/POP.AccessAsUser.All "
    "https://outlook.office.com/SMTP.Send offline_access";

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

// A tenant goes into the endpoint's path: a name, a domain or a GUID, nothing else.
bool IsTenantName(std::string_view tenant) {
    if (tenant.empty() || tenant.size() > 255 || tenant.front() == '.' || tenant.front() == '-') {
        return false;
    }
    for (char c : tenant) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.';
        if (!ok) {
            return false;
        }
    }
    return tenant.find("..") == std::string_view::npos;
}

bool StartsWithNoCase(std::string_view text, std::string_view lowerPrefix) {
    return text.size() >= lowerPrefix.size() &&
           Lower(text.substr(0, lowerPrefix.size())) == lowerPrefix;
}

bool CheckEndpoint(std::string_view what, const std::string& url, bool required,
                   std::string& error) {
    if (url.empty()) {
        if (required) {
            error = "the entry has no " + std::string(what) + " URL";
            return false;
        }
        return true;
    }
    if (!OAuthProvider::IsAllowedEndpoint(url)) {
        error = "the " + std::string(what) +
                " URL must begin with https:// (http:// only to this computer)";
        return false;
    }
    return true;
}

}  // namespace

bool OAuthProvider::IsAllowedEndpoint(std::string_view url) {
    for (char c : url) {
        // No blanks, controls or bytes beyond ASCII: the URL goes into requests as it is.
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F) {
            return false;
        }
    }
    std::string_view rest;
    bool secure = false;
    if (StartsWithNoCase(url, "https://")) {
        rest = url.substr(8);
        secure = true;
    } else if (StartsWithNoCase(url, "http://")) {
        rest = url.substr(7);
    } else {
        return false;
    }
    const std::size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    if (authority.find('@') != std::string_view::npos) {
        return false;  // user information hides the real host from a reader
    }
    std::string_view host = authority;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) {
            return false;
        }
        const std::string_view after = host.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            return false;
        }
        host = host.substr(0, close + 1);
    } else {
        host = host.substr(0, host.find(':'));
    }
    if (host.empty()) {
        return false;
    }
    if (secure) {
        return true;
    }
    const std::string lower = Lower(host);
    return lower == "127.0.0.1" || lower == "[::1]" || lower == "localhost";
}

std::optional<OAuthProvider> OAuthProvider::Resolve(const OAuthSignIn& signIn,
                                                    const OAuthDefaults& defaults,
                                                    std::string& error) {
    OAuthProvider provider;
    provider.name = Lower(signIn.Provider);
    std::string defaultClientId;
    std::string defaultSecret;
    std::string setKey;
    std::string mechanismName = signIn.Mechanism;
    if (provider.name == "microsoft") {
        provider.kind = Kind::Microsoft;
        provider.tenant = signIn.Tenant.empty() ? "common" : signIn.Tenant;
        if (!IsTenantName(provider.tenant)) {
            error =
                "the Microsoft tenant must be common, organizations, consumers or a "
                "tenant ID";
            return std::nullopt;
        }
        const std::string base =
            "https://login.microsoftonline.com/" + provider.tenant + "/oauth2/v2.0/";
        provider.authorizeUrl = base + "authorize";
        provider.tokenUrl = base + "token";
        provider.deviceUrl = base + "devicecode";
        provider.scopes = std::string(kMicrosoftScopes);
        provider.scopeOnRefresh = true;
        defaultClientId = defaults.microsoftClientId;
        setKey = OAuthDefaults::kMicrosoftClientIdKey;
        if (!mechanismName.empty() && !EqualsNoCase(mechanismName, "XOAUTH2")) {
            error = "Microsoft's servers accept XOAUTH2 only";
            return std::nullopt;
        }
    } else if (provider.name == "google") {
        provider.kind = Kind::Google;
        provider.authorizeUrl = "https://accounts.google.com/o/oauth2/v2/auth";
        provider.tokenUrl = "https://oauth2.googleapis.com/token";
        provider.scopes = "https://mail.google.com/";
        provider.authorizeExtras = {{"access_type", "offline"}, {"prompt", "consent"}};
        defaultClientId = defaults.googleClientId;
        defaultSecret = defaults.googleClientSecret;
        setKey = OAuthDefaults::kGoogleClientIdKey;
    } else if (provider.name == "other") {
        provider.kind = Kind::Other;
    } else {
        error = signIn.Provider.empty()
                    ? "the entry names no OAuth provider (microsoft, google or other)"
                    : "the OAuth provider must be microsoft, google or other";
        return std::nullopt;
    }

    // The entry's own values win over the provider's.
    if (!signIn.AuthorizeUrl.empty()) {
        provider.authorizeUrl = signIn.AuthorizeUrl;
    }
    if (!signIn.TokenUrl.empty()) {
        provider.tokenUrl = signIn.TokenUrl;
    }
    if (!signIn.DeviceUrl.empty()) {
        provider.deviceUrl = signIn.DeviceUrl;
    }
    if (!signIn.Scopes.empty()) {
        provider.scopes = signIn.Scopes;
    }
    if (!mechanismName.empty()) {
        const std::optional<SaslMechanism> mechanism = ParseSaslMechanism(mechanismName);
        if (!mechanism) {
            error = "the mechanism must be XOAUTH2 or OAUTHBEARER";
            return std::nullopt;
        }
        provider.mechanism = *mechanism;
    }
    if (!CheckEndpoint("authorization", provider.authorizeUrl, true, error) ||
        !CheckEndpoint("token", provider.tokenUrl, true, error) ||
        !CheckEndpoint("device code", provider.deviceUrl, false, error)) {
        return std::nullopt;
    }
    if (provider.scopes.empty()) {
        error = "the entry names no scopes to ask for";
        return std::nullopt;
    }

    if (!signIn.ClientId.empty()) {
        provider.clientId = signIn.ClientId;
        // A default secret belongs to the default client only.
        provider.clientSecret = signIn.ClientSecret;
    } else {
        provider.clientId = defaultClientId;
        provider.clientSecret = signIn.ClientSecret.empty() ? defaultSecret : signIn.ClientSecret;
    }
    if (provider.clientId.empty()) {
        error = "the entry has no OAuth client ID: give it one";
        if (!setKey.empty()) {
            error += ", or set one for all " +
                     std::string(provider.kind == Kind::Microsoft ? "Microsoft" : "Google") +
                     " entries with vantel set " + setKey + " ID";
        }
        return std::nullopt;
    }
    if (provider.kind == Kind::Google && provider.clientSecret.empty()) {
        // Google's token endpoint refuses a desktop client that leaves its secret out.
        error =
            "the entry has no client secret for its Google client ID: give it the one "
            "Google issued with the ID";
        if (signIn.ClientId.empty()) {
            error += ", or set it with vantel set " +
                     std::string(OAuthDefaults::kGoogleClientSecretKey) +
                     " (it reads the secret from standard input)";
        }
        return std::nullopt;
    }
    return provider;
}

}  // namespace vantel
