#include "core/protocol/ProtocolFramer.h"

#include "core/protocol/ProtocolDescriptor.h"

namespace vantel {

std::unique_ptr<ProtocolFramer> MakeProtocolFramer(const ServerEntry& entry,
                                                   MessageRewriter& rewriter,
                                                   std::size_t maxHeldLiteral) {
    // News sessions come on Smtp entries, and the SMTP framer follows them as well.
    return DescriptorOf(ServerTypeFromStored(entry.Type))
        .makeFramer(entry, rewriter, maxHeldLiteral);
}

std::unique_ptr<ProtocolFramer> MakeSessionFramer(const ServerEntry& entry,
                                                  MessageRewriter& rewriter,
                                                  std::size_t maxHeldLiteral, LoginHost& host) {
    std::unique_ptr<ProtocolFramer> framer = MakeProtocolFramer(entry, rewriter, maxHeldLiteral);
    const ProtocolDescriptor& protocol = DescriptorOf(ServerTypeFromStored(entry.Type));
    if (!entry.SignsInWithOAuth() || protocol.makeAuthenticator == nullptr) {
        return framer;
    }
    return protocol.makeAuthenticator(std::move(framer), entry, host);
}

}  // namespace vantel
