#include "core/protocol/ProtocolFramer.h"

#include "core/protocol/imap/ImapFramer.h"
#include "core/protocol/pop3/Pop3Framer.h"
#include "core/protocol/smtp/SmtpFramer.h"

namespace vantel {

std::unique_ptr<ProtocolFramer> MakeProtocolFramer(const ServerEntry& entry,
                                                   MessageRewriter& rewriter,
                                                   std::size_t maxHeldLiteral) {
    switch (ServerTypeFromStored(entry.Type)) {
        case ServerType::Pop3:
            return std::make_unique<Pop3Framer>(rewriter, entry);
        case ServerType::Imap4:
            return std::make_unique<ImapFramer>(rewriter, maxHeldLiteral, entry.Encrypted());
        case ServerType::Smtp:
            break;
    }
    return std::make_unique<SmtpFramer>(rewriter, entry.Encrypted());
}

}  // namespace vantel
