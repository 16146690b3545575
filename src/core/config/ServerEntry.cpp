#include "core/config/ServerEntry.h"

#include <algorithm>

#include "core/config/DecimalText.h"

namespace vantel {

bool LoginHoldsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

std::string ServerEntry::Label() const {
    return "local port " + std::to_string(LocalPort) + ", server " + Name + " port " +
           std::to_string(RemotePort);
}

std::string FormatServerLine(const ServerEntry& entry) {
    return FormatDecimal(entry.LocalPort) + ' ' + FormatDecimal(entry.RemotePort) + ' ' +
           FormatDecimal(entry.Type) + ' ' + FormatDecimal(entry.PassDataIndex) + ' ' + entry.Name;
}

ServerEntry ParseServerLine(std::string_view line) {
    ServerEntry entry;
    int* const fields[] = {&entry.LocalPort, &entry.RemotePort, &entry.Type, &entry.PassDataIndex};
    std::string_view rest = line;
    for (int* field : fields) {
        std::size_t consumed = 0;
        const int value = ParseDecimalPrefix(rest, consumed);
        if (consumed == 0) {
            break;
        }
        *field = value;
        rest.remove_prefix(consumed);
    }
    if (entry.Type > StoredServerType(ServerType::Imap4)) {
        entry.Type = StoredServerType(ServerType::Smtp);
    }
    const std::size_t blank = line.rfind(' ');
    if (blank != std::string_view::npos) {
        entry.Name = std::string(line.substr(blank + 1, ServerEntry::kMaxNameLength));
    }
    return entry;
}

int ChoosePassDataIndex(const std::vector<ServerEntry>& servers, std::uint32_t tick) {
    const auto taken = [&servers](int index) {
        return index == -1 ||
               std::any_of(servers.begin(), servers.end(),
                           [index](const ServerEntry& e) { return e.PassDataIndex == index; });
    };
    // Unsigned steps: the tick count may stand anywhere in its range, INT_MAX included.
    std::uint32_t candidate = tick;
    while (taken(static_cast<int>(candidate))) {
        ++candidate;
    }
    return static_cast<int>(candidate);
}

}  // namespace vantel
