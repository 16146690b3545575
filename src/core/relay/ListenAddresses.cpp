#include "core/relay/ListenAddresses.h"

namespace vantel {

std::vector<ListenEndpoint> ListenEndpoints(std::string_view setting) {
    if (setting.empty() || setting == "127.0.0.1") {
        // Clients that try "localhost" as ::1 first find the port there too.
        return {{{"127.0.0.1"}, true}, {{"::1"}, false}};
    }
    if (setting == "*") {
        return {{{"::", "0.0.0.0"}, true}};
    }
    return {{{std::string(setting)}, true}};
}

}  // namespace vantel
