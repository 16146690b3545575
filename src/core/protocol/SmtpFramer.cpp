#include "core/protocol/SmtpFramer.h"

#include "core/rewrite/MessageRewriter.h"

namespace vantel {

void SmtpFramer::FromClient(std::string_view block, std::string& toServer, std::string&) {
    while (!block.empty()) {
        bool chunk = false;
        const std::string_view piece = block.substr(0, chunks_.Next(block, chunk));
        block.remove_prefix(piece.size());
        if (chunk) {
            toServer.append(piece);
        } else {
            ehlo_.ClientSent(piece);
            toServer.append(rewriter_.ProcessMessageBlock(piece, client_, KludgeType::SmtpKludge));
        }
    }
}

void SmtpFramer::FromServer(std::string_view block, std::string& toClient, std::string&) {
    chunks_.ServerSent(block);
    toClient.append(ehlo_.Filter(block));
    client_.inBody = false;  // the reply ends a sent message: the next one has a header again
}

void SmtpFramer::ClientEnded(std::string& toServer) {
    toServer.append(MessageRewriter::FlushStream(client_));
}

void SmtpFramer::ServerEnded(std::string& toClient) {
    toClient.append(ehlo_.Flush());
}

}  // namespace vantel
