#include "core/config/SettingsPersistence.h"

#include <algorithm>

#include "core/config/DecimalText.h"

namespace vantel {
namespace {

constexpr std::string_view kGlobalKey = "Settings";

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
    std::vector<std::uint8_t> bytes =
        store_.ReadBinaryValue(SchemaKey(true), "PassData" + FormatDecimal(index), Root());
    if (bytes.size() > ServerEntry::kCredentialsSize) {
        bytes.clear();
    }
    return bytes;
}

void SettingsPersistence::WritePassData(int index, const std::uint8_t* bytes, std::size_t length) {
    store_.WriteBinaryValue(SchemaKey(true), "PassData" + FormatDecimal(index),
                            std::vector<std::uint8_t>(bytes, bytes + length), Root());
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
}

void SettingsPersistence::TextToServers(RelaySettings& settings) {
    settings.ServerList.clear();
    for (const std::string& line : settings.Servers) {
        ServerEntry entry = ParseServerLine(line);
        if (entry.PassDataIndex != -1) {
            const std::vector<std::uint8_t> bytes = ReadPassData(entry.PassDataIndex);
            std::copy(bytes.begin(), bytes.end(), entry.Credentials.begin());
            entry.CredentialLength = static_cast<int>(bytes.size());
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

    ReadList(settings.SpecialKludges, "SpecialKludges", true);
    ReadList(settings.SignalStr, "SignalStr", true);
    ReadList(settings.Subst, "Subst", true);
    ReadList(settings.Kludges, "Kludges", true);
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

    WriteList(settings.SpecialKludges, "SpecialKludges", true);
    WriteList(settings.SignalStr, "SignalStr", true);
    WriteList(settings.Subst, "Subst", true);
    WriteList(settings.Kludges, "Kludges", true);
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
    return store_.EndUpdate();
}

}  // namespace vantel
