#include "core/relay/DefaultServers.h"

#include <algorithm>

namespace vantel {
namespace {

/// The port and current 0-based ordinal of the default group of `type`.
struct Group {
    int port;
    int ordinal;
};

Group DefaultGroup(const RelaySettings& settings, ServerType type) {
    switch (type) {
        case ServerType::Smtp:
            return {settings.DefaultPort, settings.DefaultServer};
        case ServerType::Pop3:
            return {settings.DefaultPOPPort, settings.DefaultPOPServer - 1};
        default:
            return {143, 0};
    }
}

bool InGroup(const ServerEntry& entry, ServerType type, int port) {
    return entry.Is(type) && entry.LocalPort == port;
}

}  // namespace

int DefaultServers::FindDefaultListener(ServerType type) const {
    const int port = DefaultGroup(settings_, type).port;
    for (const auto& listener : listeners_) {
        const auto index = static_cast<std::size_t>(listener->entryIndex);
        if (index < settings_.ServerList.size() &&
            InGroup(settings_.ServerList[index], type, port)) {
            return listener->entryIndex;
        }
    }
    return -1;
}

void DefaultServers::SelectDefaultServer(int ordinal, ServerType type) {
    const Group group = DefaultGroup(settings_, type);
    const int wanted = type == ServerType::Pop3 ? ordinal - 1 : ordinal;
    int current = -1;
    int next = -1;
    int number = 0;
    for (std::size_t j = 0; j < settings_.ServerList.size(); ++j) {
        if (!InGroup(settings_.ServerList[j], type, group.port)) {
            continue;
        }
        if (number == group.ordinal) {
            current = static_cast<int>(j);
        }
        if (number == wanted) {
            next = static_cast<int>(j);
        }
        ++number;
    }
    if (current == -1 || next == -1) {
        return;
    }
    for (auto& listener : listeners_) {
        if (listener->entryIndex == current) {
            listener->entryIndex = next;
            return;
        }
    }
}

int DefaultServers::CyclePopServer() {
    const int count = static_cast<int>(std::count_if(
        settings_.ServerList.begin(), settings_.ServerList.end(), [this](const ServerEntry& e) {
            return InGroup(e, ServerType::Pop3, settings_.DefaultPOPPort);
        }));
    const int next = settings_.DefaultPOPServer < count ? settings_.DefaultPOPServer + 1 : 1;
    SelectDefaultServer(next, ServerType::Pop3);
    settings_.DefaultPOPServer = next;
    return next;
}

bool DefaultServers::WaitsBehindDefault(std::size_t index) const {
    int smtpOrdinal = 0;
    int popOrdinal = 1;
    for (std::size_t i = 0; i < settings_.ServerList.size() && i <= index; ++i) {
        const ServerEntry& entry = settings_.ServerList[i];
        if (InGroup(entry, ServerType::Smtp, settings_.DefaultPort) &&
            smtpOrdinal++ != settings_.DefaultServer && i == index) {
            return true;
        }
        if (InGroup(entry, ServerType::Pop3, settings_.DefaultPOPPort) &&
            popOrdinal++ != settings_.DefaultPOPServer && i == index) {
            return true;
        }
    }
    return false;
}

}  // namespace vantel
