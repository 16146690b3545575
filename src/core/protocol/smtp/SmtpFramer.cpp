#include "core/protocol/smtp/SmtpFramer.h"

#include "core/rewrite/MessageRewriter.h"

namespace vantel {

using Run = ClientStreamObserver::Run;

void SmtpFramer::FromClient(std::string_view block, std::string& toServer, std::string&) {
    while (!block.empty()) {
        bool chunk = false;
        const bool message = chunks_.inMessage();
        const std::string_view piece = block.substr(0, chunks_.Next(block, chunk));
        block.remove_prefix(piece.size());
        if (chunk) {
            toServer.append(piece);
            Report(Run::Text, piece);
        } else {
            // A message's lines are no commands: only command text is read for EHLO and
            // CAPABILITIES (and a large message costs no scan for them).
            if (!message) {
                ehlo_.ClientSent(piece);
                if (news_) {
                    news_->ClientSent(piece);
                }
            } else if (!chunks_.inMessage()) {
                // Its "." line came: the server answers the message as a whole.
                ehlo_.MessageEnded();
                if (news_) {
                    news_->MessageEnded();
                }
            }
            const std::string_view sent =
                rewriter_.ProcessMessageBlock(piece, client_, KludgeType::SmtpKludge);
            toServer.append(sent);
            Report(message ? Run::Text : Run::Command, sent);
        }
    }
}

void SmtpFramer::FromServer(std::string_view block, std::string& toClient, std::string&) {
    chunks_.ServerSent(block);
    const std::string_view text = ehlo_.Filter(block);
    toClient.append(news_ ? news_->Filter(text) : text);
    client_.inBody = false;  // the reply ends a sent message: the next one has a header again
}

void SmtpFramer::ClientEnded(std::string& toServer) {
    const std::string carried = MessageRewriter::FlushStream(client_);
    toServer.append(carried);
    Report(chunks_.inMessage() ? Run::Text : Run::Command, carried);
}

void SmtpFramer::ServerEnded(std::string& toClient) {
    const std::string held = ehlo_.Flush();
    toClient.append(news_ ? news_->Filter(held) : held);
    if (news_) {
        toClient.append(news_->Flush());
    }
}

}  // namespace vantel
