#include "core/relay/SecurityProblem.h"

namespace vantel {

std::string SecurityProblem(const ServerEntry& entry, const TlsContext* tls,
                            const std::string& tlsProblem) {
    if (!entry.Encrypted()) {
        return "";
    }
    if (entry.Security == kUnreadableSecurityMode) {
        return "the stored security mode is not a number";
    }
    if (!IsKnownSecurityMode(entry.Security)) {
        return "security mode " + std::to_string(entry.Security) +
               " is not known to this version of Vantel";
    }
    if (tls == nullptr) {
        return "TLS is not available: " + tlsProblem;
    }
    return "";
}

}  // namespace vantel
