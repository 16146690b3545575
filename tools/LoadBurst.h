// The burst client of vantel-load: many SMTP clients connecting at once, on raw sockets so that
// each can come from its own loopback address and the tool itself costs little per session.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vantel::load {

struct BurstOutcome {
    long held = 0;     ///< sessions that had their EHLO answered while all were open
    long quit = 0;     ///< held sessions whose QUIT was answered afterwards
    long failed = 0;   ///< sessions that never got that far
    double p50Ms = 0;  ///< connect to greeting; a session without one counts as the wait
    double p99Ms = 0;
    double seconds = 0;  ///< until every session was held or given up
    std::string error;
};

/// The `q` quantile (0..1) of `values`, which it sorts; 0 for none.
double Quantile(std::vector<double>& values, double q);

/// Opens `count` connections to 127.0.0.1:`port` at once, spread over `sources` loopback
/// addresses (127.0.0.2 onwards) so that no one address runs out of ports; each says EHLO
/// after the greeting. Once every session is held, or `settleMs` has passed, the held ones say
/// QUIT and the rest are closed.
BurstOutcome RunBurst(std::uint16_t port, long count, int sources, std::uint32_t settleMs);

}  // namespace vantel::load
