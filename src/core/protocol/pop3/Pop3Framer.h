// POP3 sessions: the stored login in place of the client's, retrieved messages rewritten.
#pragma once

#include <memory>
#include <string>

#include "core/config/ServerEntry.h"
#include "core/protocol/ProtocolFramer.h"
#include "core/protocol/pop3/Pop3AnswerTracker.h"
#include "core/protocol/pop3/Pop3LoginSwap.h"
#include "core/protocol/pop3/Pop3OfferFilter.h"
#include "core/rewrite/StreamState.h"

namespace vantel {

/// USER and PASS carry the login stored with the entry, when it has one (Pop3LoginSwap), and
/// then the
/// Pop3OfferFilter keeps the client from logging in any other way; the server's replies and
/// the messages it delivers go through the rewriter. A client command returns the server's
/// stream to header reading, so every retrieved message has its header rewritten.
class Pop3Framer : public ProtocolFramer {
  public:
    Pop3Framer(MessageRewriter& rewriter, const ServerEntry& entry);

    void FromClient(std::string_view block, std::string& toServer, std::string& toClient) override;
    void FromServer(std::string_view block, std::string& toClient, std::string& toServer) override;
    void ClientEnded(std::string& toServer) override;
    void ServerEnded(std::string& toClient) override;
    /// The rest of a retrieved message's body, up to the client's next command.
    bool PassesUnread(bool fromServer) const override;
    /// Inside the answer to RETR or TOP.
    bool ServerInMessage() const override { return answers_.InMessage(); }
    void ServerPassedUnread() override { answers_.PassedUnread(); }

  private:
    MessageRewriter& rewriter_;
    std::unique_ptr<Pop3OfferFilter> offers_;  ///< with a stored login or TLS only
    std::string filtered_;
    Pop3LoginSwap login_;
    StreamState server_;
    Pop3AnswerTracker answers_;
};

}  // namespace vantel
