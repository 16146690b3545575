#include "core/protocol/pop3/Pop3Framer.h"

#include "core/rewrite/MessageRewriter.h"

namespace vantel {

Pop3Framer::Pop3Framer(MessageRewriter& rewriter, const ServerEntry& entry)
    : rewriter_(rewriter), login_(entry) {
    const bool storedLogin = Pop3LoginSwap::SendsStoredLogin(entry);
    if (storedLogin || entry.Encrypted()) {
        offers_ = std::make_unique<Pop3OfferFilter>(storedLogin, entry.Encrypted());
    }
}

void Pop3Framer::FromClient(std::string_view block, std::string& toServer, std::string& toClient) {
    if (offers_) {
        filtered_.clear();
        offers_->FromClient(block, filtered_, toClient);
        block = filtered_;
    }
    const std::size_t sent = toServer.size();
    toServer.append(login_.FromClient(block));
    // A POP3 client sends commands only; what it retrieves comes from the server.
    const std::string_view sentNow = std::string_view(toServer).substr(sent);
    answers_.ClientSent(sentNow);
    Report(ClientStreamObserver::Run::Command, sentNow);
    server_.inBody = false;
}

void Pop3Framer::FromServer(std::string_view block, std::string& toClient, std::string&) {
    answers_.ServerSent(block);
    if (offers_) {
        filtered_.clear();
        offers_->FromServer(block, filtered_);
        block = filtered_;
    }
    toClient.append(rewriter_.ProcessMessageBlock(block, server_, KludgeType::Pop3Kludge));
}

bool Pop3Framer::PassesUnread(bool fromServer) const {
    return fromServer && !offers_ && server_.inBody && !server_.pendingText;
}

void Pop3Framer::ClientEnded(std::string& toServer) {
    const std::size_t sent = toServer.size();
    toServer.append(login_.Flush());
    if (offers_) {
        toServer.append(offers_->FlushClient());
    }
    Report(ClientStreamObserver::Run::Command, std::string_view(toServer).substr(sent));
}

void Pop3Framer::ServerEnded(std::string& toClient) {
    toClient.append(MessageRewriter::FlushStream(server_));
    if (offers_) {
        toClient.append(offers_->FlushServer());
    }
}

}  // namespace vantel
