// A session whose server has not said anything yet.
#pragma once

#include <cstdint>

namespace vantel {

class RelaySocket;

struct PendingClose {
    RelaySocket* socket = nullptr;  ///< the server side; the record goes when the socket does
    std::uint64_t deadline = 0;     ///< NowMs after which the session is closed
};

}  // namespace vantel
