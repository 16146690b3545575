// Whether an entry's security mode can be had at all, worded for notices: the relay and the
// connection probe refuse such an entry in the same words.
#pragma once

#include <string>

#include "core/config/ServerEntry.h"
#include "platform/TlsClient.h"

namespace vantel {

/// Why `entry`'s security mode cannot be had with `tls` (this program's TLS; nullptr when it
/// has none, `tlsProblem` saying why), or empty when it can. A mode this version does not
/// know is refused, never taken as plain text.
std::string SecurityProblem(const ServerEntry& entry, const TlsContext* tls,
                            const std::string& tlsProblem);

}  // namespace vantel
