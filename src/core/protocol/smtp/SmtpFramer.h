// SMTP and news sessions: the header of each message or article rewritten, chunks counted.
#pragma once

#include <memory>

#include "core/protocol/ProtocolFramer.h"
#include "core/protocol/smtp/EhloAnswerFilter.h"
#include "core/protocol/smtp/NewsCapabilityFilter.h"
#include "core/protocol/smtp/SmtpChunkFramer.h"
#include "core/rewrite/StreamState.h"

namespace vantel {

/// The client's commands and messages go through the rewriter line by line, BDAT chunks as
/// they came; the server's answer to EHLO loses the extensions that would let a client send
/// chunks. A server reply returns the client's stream to header reading, so every message of
/// a session has its header rewritten.
class SmtpFramer : public ProtocolFramer {
  public:
    /// `secured`: the relay speaks TLS to the server.
    explicit SmtpFramer(MessageRewriter& rewriter, bool secured = false)
        : rewriter_(rewriter),
          ehlo_(secured),
          news_(secured ? std::make_unique<NewsCapabilityFilter>() : nullptr) {}

    void FromClient(std::string_view block, std::string& toServer, std::string& toClient) override;
    void FromServer(std::string_view block, std::string& toClient, std::string& toServer) override;
    void ClientEnded(std::string& toServer) override;
    void ServerEnded(std::string& toClient) override;

  private:
    MessageRewriter& rewriter_;
    StreamState client_;
    SmtpChunkFramer chunks_;
    EhloAnswerFilter ehlo_;
    /// On secured connections only; the others, most of them, spare its room.
    std::unique_ptr<NewsCapabilityFilter> news_;
};

}  // namespace vantel
