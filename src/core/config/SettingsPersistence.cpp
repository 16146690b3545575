#include "core/config/SettingsPersistence.h"

#include <algorithm>
#include <optional>
#include <unordered_set>

#include "core/config/AsciiText.h"
#include "core/config/DecimalText.h"
#include "core/config/StoredKludges.h"

namespace vantel {
namespace {

constexpr std::string_view kGlobalKey = "Settings";

// Per-entry values beside the server list, named after the entry's ordinal in it: the server
// line keeps its format, so that older programs still read the list.
constexpr std::string_view kSecurityValue = "ServerSecurity";
constexpr std::string_view kFingerprintValue = "ServerFingerprint";
constexpr std::string_view kPassDataValue = "PassData";
constexpr std::string_view kSignInValue = "ServerSignIn";

/// The OAuth 2.0 texts of an entry, each stored under its name when not empty.
struct OAuthValue {
    std::string_view name;
    std::string OAuthSignIn::*text;
};
constexpr OAuthValue kOAuthValues[] = {
    {"ServerOAuthProvider", &OAuthSignIn::Provider},
    {"ServerOAuthTenant", &OAuthSignIn::Tenant},
    {"ServerOAuthAccount", &OAuthSignIn::Account},
    {"ServerOAuthClientId", &OAuthSignIn::ClientId},
    {"ServerOAuthClientSecret", &OAuthSignIn::ClientSecret},
    {"ServerOAuthAuthorizeUrl", &OAuthSignIn::AuthorizeUrl},
    {"ServerOAuthTokenUrl", &OAuthSignIn::TokenUrl},
    {"ServerOAuthDeviceUrl", &OAuthSignIn::DeviceUrl},
    {"ServerOAuthScopes", &OAuthSignIn::Scopes},
    {"ServerOAuthMechanism", &OAuthSignIn::Mechanism},
};

/// The program-wide client registrations and the sign-ins' folder, in the global key.
struct DefaultValue {
    std::string_view name;
    std::string RelaySettings::*text;
};
constexpr DefaultValue kOAuthDefaults[] = {
    {"OAuthMicrosoftClientId", &RelaySettings::OAuthDefaultMicrosoftClientId},
    {"OAuthGoogleClientId", &RelaySettings::OAuthDefaultGoogleClientId},
    {"OAuthGoogleClientSecret", &RelaySettings::OAuthDefaultGoogleClientSecret},
    {"TokenFolder", &RelaySettings::TokenFolder},
};

std::string OrdinalName(std::string_view base, std::size_t ordinal) {
    return std::string(base) + FormatDecimal(static_cast<int>(ordinal));
}

/// `name` in upper case, as value names compare.
std::string UpperName(std::string_view name) {
    std::string upper(name);
    for (char& c : upper) {
        c = AsciiUpper(c);
    }
    return upper;
}

/// The number of a value named `base` followed by a number in the form FormatDecimal gives,
/// in any letter case (as value names compare); nullopt for any other name.
std::optional<int> NumberOf(std::string_view name, std::string_view base) {
    if (name.size() <= base.size() ||
        !std::equal(base.begin(), base.end(), name.begin(),
                    [](char a, char b) { return AsciiUpper(a) == AsciiUpper(b); })) {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(base.size());
    std::size_t consumed = 0;
    const int number = ParseDecimalPrefix(digits, consumed);
    if (consumed != digits.size() || FormatDecimal(number) != digits) {
        return std::nullopt;
    }
    return number;
}

/// The ordinal of a value named `base` followed by an ordinal; -1 for any other name.
int OrdinalOf(std::string_view name, std::string_view base) {
    const std::optional<int> number = NumberOf(name, base);
    return number && *number >= 0 ? *number : -1;
}

/// A stored number: nullopt when the text is no number (blank around it is allowed).
std::optional<int> StoredNumber(std::string_view text) {
    std::size_t consumed = 0;
    const int number = ParseDecimalPrefix(text, consumed);
    if (consumed == 0 || text.find_first_not_of(" \t", consumed) != std::string_view::npos) {
        return std::nullopt;
    }
    return number;
}

/// Whether `name` is a mode, fingerprint or sign-in value of an ordinal that has none in
/// `servers`.
bool IsStaleSecurityValue(std::string_view name, const std::vector<ServerEntry>& servers) {
    const auto at = [&servers](int ordinal) -> const ServerEntry* {
        return static_cast<std::size_t>(ordinal) < servers.size()
                   ? &servers[static_cast<std::size_t>(ordinal)]
                   : nullptr;
    };
    if (const int ordinal = OrdinalOf(name, kSecurityValue); ordinal >= 0) {
        const ServerEntry* entry = at(ordinal);
        return entry == nullptr || !entry->Encrypted();
    }
    if (const int ordinal = OrdinalOf(name, kFingerprintValue); ordinal >= 0) {
        const ServerEntry* entry = at(ordinal);
        return entry == nullptr || entry->Fingerprint.empty();
    }
    if (const int ordinal = OrdinalOf(name, kSignInValue); ordinal >= 0) {
        const ServerEntry* entry = at(ordinal);
        return entry == nullptr || !entry->SignsInWithOAuth();
    }
    for (const OAuthValue& value : kOAuthValues) {
        if (const int ordinal = OrdinalOf(name, value.name); ordinal >= 0) {
            const ServerEntry* entry = at(ordinal);
            return entry == nullptr || (entry->OAuth.*value.text).empty();
        }
    }
    return false;
}

/// Whether `name` is a stored login that no entry holds any more: of a removed entry, or of a
/// POP3 entry whose login was cleared. Left in the store it would come back at the next load,
/// or with the next entry given that number.
bool IsStalePassData(std::string_view name, const std::vector<ServerEntry>& servers) {
    const std::optional<int> index = NumberOf(name, kPassDataValue);
    if (!index || *index == -1) {
        return false;
    }
    const auto holder =
        std::find_if(servers.begin(), servers.end(),
                     [&index](const ServerEntry& entry) { return entry.PassDataIndex == *index; });
    return holder == servers.end() ||
           (holder->Is(ServerType::Pop3) && holder->CredentialLength <= 0);
}

}  // namespace

std::string SchemaSubkey(std::string_view schemaName) {
    std::string key(kGlobalKey);
    if (!schemaName.empty()) {
        key += '\\';
        key += schemaName;
    }
    return key;
}

std::string SettingsPersistence::SchemaKey(bool perSchema) const {
    return perSchema ? SchemaSubkey(currentSchemaName_) : std::string(kGlobalKey);
}

std::string SettingsPersistence::ReadSetting(std::string_view name, bool perSchema) {
    return store_.ReadValueText(SchemaKey(perSchema), name, "", Root());
}

void SettingsPersistence::WriteSetting(std::string_view name, std::string_view text,
                                       bool perSchema) {
    store_.WriteValueText(SchemaKey(perSchema), name, text, Root());
}

void SettingsPersistence::ReadList(StringList& list, std::string_view name, bool perSchema) {
    list.clear();
    const std::string base(name);
    const int count =
        std::min(ParseDecimal(ReadSetting(base + "Count", perSchema)), kMaxListEntries);
    for (int i = 0; i < count; ++i) {
        list.push_back(ReadSetting(base + FormatDecimal(i), perSchema));
    }
}

void SettingsPersistence::WriteList(const StringList& list, std::string_view name, bool perSchema) {
    const std::string base(name);
    WriteSetting(base + "Count", FormatDecimal(static_cast<int>(list.size())), perSchema);
    for (std::size_t i = 0; i < list.size(); ++i) {
        WriteSetting(base + FormatDecimal(static_cast<int>(i)), list[i], perSchema);
    }
}

std::vector<std::uint8_t> SettingsPersistence::ReadPassData(int index) {
    std::vector<std::uint8_t> bytes = store_.ReadBinaryValue(
        SchemaKey(true), std::string(kPassDataValue) + FormatDecimal(index), Root());
    if (bytes.size() > ServerEntry::kCredentialsSize) {
        bytes.clear();
    }
    return bytes;
}

void SettingsPersistence::WritePassData(int index, const std::uint8_t* bytes, std::size_t length) {
    store_.WriteBinaryValue(SchemaKey(true), std::string(kPassDataValue) + FormatDecimal(index),
                            std::vector<std::uint8_t>(bytes, bytes + length), Root());
}

int SettingsPersistence::ReadServerSecurity(std::size_t ordinal,
                                            const std::unordered_set<std::string>& present) {
    const std::string name = OrdinalName(kSecurityValue, ordinal);
    if (present.count(UpperName(name)) == 0) {
        return StoredSecurityMode(SecurityMode::None);
    }
    // There, so meant to say something: what is no number (a hand-edited "tls", an empty
    // value, a DWORD) is never taken as plain text.
    return StoredNumber(ReadSetting(name, true)).value_or(kUnreadableSecurityMode);
}

int SettingsPersistence::ReadServerSignIn(std::size_t ordinal,
                                          const std::unordered_set<std::string>& present) {
    const std::string name = OrdinalName(kSignInValue, ordinal);
    if (present.count(UpperName(name)) == 0) {
        return StoredSignInMethod(SignInMethod::Password);
    }
    // As with the mode: a value that says nothing readable never lets the client's own
    // login through to an entry meant to sign in with a token.
    return StoredNumber(ReadSetting(name, true)).value_or(kUnreadableSignInMethod);
}

void SettingsPersistence::WriteServerSecurity(const std::vector<ServerEntry>& servers) {
    for (std::size_t i = 0; i < servers.size(); ++i) {
        if (servers[i].Encrypted()) {
            WriteSetting(OrdinalName(kSecurityValue, i), FormatDecimal(servers[i].Security), true);
        }
        if (!servers[i].Fingerprint.empty()) {
            WriteSetting(OrdinalName(kFingerprintValue, i), servers[i].Fingerprint, true);
        }
        if (servers[i].SignsInWithOAuth()) {
            WriteSetting(OrdinalName(kSignInValue, i), FormatDecimal(servers[i].SignIn), true);
        }
        for (const OAuthValue& value : kOAuthValues) {
            const std::string& text = servers[i].OAuth.*value.text;
            if (!text.empty()) {
                WriteSetting(OrdinalName(value.name, i), text, true);
            }
        }
    }
    // A named schema's key was emptied before the save; the default schema's key still holds
    // the values of entries since removed or moved (and of older programs' saves).
    const std::string key = SchemaKey(true);
    for (const std::string& name : store_.ValueNames(key, Root())) {
        if (IsStaleSecurityValue(name, servers) || IsStalePassData(name, servers)) {
            store_.DeleteValue(key, name, Root());
        }
    }
}

void SettingsPersistence::ServersToText(RelaySettings& settings) {
    settings.Servers.clear();
    for (const ServerEntry& entry : settings.ServerList) {
        settings.Servers.push_back(FormatServerLine(entry));
        const std::size_t length =
            std::min<std::size_t>(static_cast<std::size_t>(std::max(entry.CredentialLength, 0)),
                                  entry.Credentials.size());
        if (entry.Is(ServerType::Pop3) && entry.PassDataIndex != -1 && length != 0) {
            WritePassData(entry.PassDataIndex, entry.Credentials.data(), length);
        }
    }
    WriteServerSecurity(settings.ServerList);
}

void SettingsPersistence::TextToServers(RelaySettings& settings) {
    settings.ServerList.clear();
    // Value names compare in any letter case.
    std::unordered_set<std::string> present;
    for (const std::string& name : store_.ValueNames(SchemaKey(true), Root())) {
        present.insert(UpperName(name));
    }
    for (std::size_t i = 0; i < settings.Servers.size(); ++i) {
        ServerEntry entry = ParseServerLine(settings.Servers[i]);
        if (entry.PassDataIndex != -1) {
            const std::vector<std::uint8_t> bytes = ReadPassData(entry.PassDataIndex);
            std::copy(bytes.begin(), bytes.end(), entry.Credentials.begin());
            entry.CredentialLength = static_cast<int>(bytes.size());
        }
        entry.Security = ReadServerSecurity(i, present);
        // Kept as stored, even when it is no fingerprint: the relay refuses such an entry with
        // a notice rather than take it for "no pin".
        entry.Fingerprint = ReadSetting(OrdinalName(kFingerprintValue, i), true);
        entry.SignIn = ReadServerSignIn(i, present);
        for (const OAuthValue& value : kOAuthValues) {
            entry.OAuth.*value.text = ReadSetting(OrdinalName(value.name, i), true);
        }
        settings.ServerList.push_back(entry);
    }
}

void SettingsPersistence::LoadSettings(RelaySettings& settings, int schemaIndex) {
    ReadList(settings.Schemes, "Schemes", false);
    settings.DefaultSchema = ParseDecimal(ReadSetting("DefaultSchema", false));
    if (schemaIndex != -1) {
        settings.DefaultSchema = schemaIndex;
    }
    currentSchemaName_ = settings.GetSchemaName();

    StringList specialKludges;
    StringList signalStr;
    StringList subst;
    StringList kludges;
    ReadList(specialKludges, "SpecialKludges", true);
    ReadList(signalStr, "SignalStr", true);
    ReadList(subst, "Subst", true);
    ReadList(kludges, "Kludges", true);
    settings.SpecialKludges = PairSpecialKludges(signalStr, specialKludges);
    settings.Kludges = PairKludges(kludges, subst);
    ReadList(settings.Servers, "Servers", true);

    const auto readInt = [this](std::string_view name) {
        return ParseDecimal(ReadSetting(name, true));
    };
    settings.DefaultPort = readInt("DefaultPort");
    if (settings.DefaultPort == 0) {
        settings.DefaultPort = 25;
    }
    settings.DefaultPOPPort = readInt("DefaultPOPPort");
    if (settings.DefaultPOPPort == 0) {
        settings.DefaultPOPPort = 110;
    }
    // A negative time-out (a hand-edited store) means no limit, as 0 does; made 0 here so that
    // the relay, the service and the Options dialog all see the same value.
    settings.ConnectTimeout = std::max(0, readInt("ConnectTimeout"));
    settings.MessageTimeout = readInt("MessageTimeout");
    settings.DefaultServer = readInt("DefaultServer");
    settings.DefaultPOPServer = readInt("DefaultPOPServer");
    settings.POPCycleChange = readInt("POPCycleChange");
    settings.UseService = readInt("UseService");
    settings.ListenAddress = ReadSetting("ListenAddress", true);
    settings.LogTraffic = readInt("LogTraffic") != 0 ? 1 : 0;

    settings.CustomValue = ParseDecimal(ReadSetting("CustomValue", false));
    for (const DefaultValue& value : kOAuthDefaults) {
        settings.*value.text = ReadSetting(value.name, false);
    }
    TextToServers(settings);
}

void SettingsPersistence::DeleteSchemaKey(std::string_view schemaName) {
    if (schemaName.empty()) {
        return;  // the default schema's key holds the global values too
    }
    store_.DeleteStoreKey(SchemaSubkey(schemaName), Root());
}

bool SettingsPersistence::SaveSettings(RelaySettings& settings) {
    store_.BeginUpdate();
    currentSchemaName_ = settings.GetSchemaName();
    WriteList(settings.Schemes, "Schemes", false);
    WriteSetting("DefaultSchema", FormatDecimal(settings.DefaultSchema), false);
    if (!currentSchemaName_.empty()) {
        // The named schema's key then holds only what follows, so values of removed entries
        // (their logins included) do not linger.
        store_.DeleteStoreKey(SchemaSubkey(currentSchemaName_), Root());
    }
    ServersToText(settings);

    const StoredKludgeLists lists = SplitKludges(settings);
    WriteList(lists.specialKludges, "SpecialKludges", true);
    WriteList(lists.signalStr, "SignalStr", true);
    WriteList(lists.subst, "Subst", true);
    WriteList(lists.kludges, "Kludges", true);
    WriteList(settings.Servers, "Servers", true);

    const auto writeInt = [this](std::string_view name, int value) {
        WriteSetting(name, FormatDecimal(value), true);
    };
    writeInt("DefaultPort", settings.DefaultPort);
    writeInt("DefaultPOPPort", settings.DefaultPOPPort);
    writeInt("ConnectTimeout", settings.ConnectTimeout);
    writeInt("MessageTimeout", settings.MessageTimeout);
    writeInt("DefaultServer", settings.DefaultServer);
    writeInt("DefaultPOPServer", settings.DefaultPOPServer);
    writeInt("UseService", settings.UseService);
    writeInt("POPCycleChange", settings.POPCycleChange);
    WriteSetting("ListenAddress", settings.ListenAddress, true);
    writeInt("LogTraffic", settings.LogTraffic);
    for (const DefaultValue& value : kOAuthDefaults) {
        const std::string& text = settings.*value.text;
        if (text.empty()) {
            store_.DeleteValue(kGlobalKey, value.name, Root());
        } else {
            WriteSetting(value.name, text, false);
        }
    }
    return store_.EndUpdate();
}

}  // namespace vantel
