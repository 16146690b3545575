// Which local addresses the listeners open for the ListenAddress setting.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vantel {

/// One socket to open: the literal addresses to try in turn (the first that opens wins), and
/// whether a failure is worth a notice or only means the system lacks that kind of address.
struct ListenEndpoint {
    std::vector<std::string> addresses;
    bool required = true;
};

/// Empty (this computer only): 127.0.0.1, and ::1 where the system has it. "*" (every
/// interface): IPv6 and IPv4 on one socket, or IPv4 alone on a system without IPv6. Anything
/// else is one local address, as written.
std::vector<ListenEndpoint> ListenEndpoints(std::string_view setting);

}  // namespace vantel
