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

}  // namespace vantel
