#include "core/config/ServerPreset.h"

namespace vantel {
namespace {

struct Row {
    const char* name;
    const char* title;  ///< how messages name the provider
    const char* provider;
    // Indexed by ServerType: SMTP, POP3, IMAP4; a null host: the provider has no such server.
    struct {
        const char* host;
        int port;
        SecurityMode security;
    } servers[3];
};

constexpr SecurityMode kTls = SecurityMode::SslTls;
constexpr SecurityMode kStartTls = SecurityMode::StartTls;

// Microsoft and Google refuse passwords for these protocols; the others want an app password.
constexpr Row kRows[] = {
    {"microsoft",
     "Microsoft",
     "microsoft",
     {{"smtp.office365.com", 587, kStartTls},
      {"outlook.office365.com", 995, kTls},
      {"outlook.office365.com", 993, kTls}}},
    {"google",
     "Google",
     "google",
     {{"smtp.gmail.com", 465, kTls}, {"pop.gmail.com", 995, kTls}, {"imap.gmail.com", 993, kTls}}},
    {"fastmail",
     "Fastmail",
     nullptr,
     {{"smtp.fastmail.com", 465, kTls},
      {"pop.fastmail.com", 995, kTls},
      {"imap.fastmail.com", 993, kTls}}},
    {"yahoo",
     "Yahoo",
     nullptr,
     {{"smtp.mail.yahoo.com", 465, kTls},
      {"pop.mail.yahoo.com", 995, kTls},
      {"imap.mail.yahoo.com", 993, kTls}}},
    {"icloud",
     "iCloud",
     nullptr,
     {{"smtp.mail.me.com", 587, kStartTls}, {nullptr, 0, kTls}, {"imap.mail.me.com", 993, kTls}}},
    {"zoho",
     "Zoho",
     nullptr,
     {{"smtppro.zoho.com", 465, kTls},
      {"poppro.zoho.com", 995, kTls},
      {"imappro.zoho.com", 993, kTls}}},
};

constexpr const char* kTypeTitles[] = {"SMTP", "POP3", "IMAP4"};

}  // namespace

bool ServerPreset::Find(std::string_view name, ServerType type, Server& server,
                        std::string& problem) {
    for (const Row& row : kRows) {
        if (name != row.name) {
            continue;
        }
        const int index = StoredServerType(type);
        const auto& found = row.servers[index];
        if (found.host == nullptr) {
            problem = std::string(row.title) + " has no " + kTypeTitles[index] + " server";
            return false;
        }
        server.Host = found.host;
        server.RemotePort = found.port;
        server.Security = found.security;
        server.SignIn = row.provider != nullptr ? SignInMethod::OAuth2 : SignInMethod::Password;
        server.Provider = row.provider != nullptr ? row.provider : "";
        return true;
    }
    std::string names;
    for (const std::string& known : Names()) {
        names += (names.empty() ? "" : ", ") + known;
    }
    problem = "there is no preset '" + std::string(name) + "' (there are " + names + ")";
    return false;
}

std::vector<std::string> ServerPreset::Names() {
    std::vector<std::string> names;
    for (const Row& row : kRows) {
        names.emplace_back(row.name);
    }
    return names;
}

}  // namespace vantel
