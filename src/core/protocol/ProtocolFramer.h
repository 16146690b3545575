// What a relayed session's protocol makes of the bytes that pass.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/config/ServerEntry.h"
#include "core/protocol/ClientStreamObserver.h"

namespace vantel {

class MessageRewriter;

/// Reads one session's traffic as its protocol frames it, so that only message text reaches
/// the rewriter and everything counted in bytes keeps its count: SMTP's BDAT chunks, IMAP's
/// literals. Also where the relay answers for the server, or holds the client's bytes until
/// the server is ready for them. Every byte given in comes out, changed only where it is
/// message text, unless the server turned down the command it belongs to.
class ProtocolFramer {
  public:
    virtual ~ProtocolFramer() = default;

    /// A block from the client. Appends to `toServer` what goes on now and to `toClient` what
    /// the relay answers itself.
    virtual void FromClient(std::string_view block, std::string& toServer,
                            std::string& toClient) = 0;
    /// A block from the server. Appends to `toClient` what goes on now and to `toServer`
    /// client bytes that were waiting for this answer.
    virtual void FromServer(std::string_view block, std::string& toClient,
                            std::string& toServer) = 0;
    /// The client's stream has ended: appends what is held of it and may go now.
    virtual void ClientEnded(std::string& toServer) = 0;
    /// The server's stream has ended: appends what is held of it. Client bytes still waiting
    /// for the server's answer are given up, as nothing can answer them any more.
    virtual void ServerEnded(std::string& toClient) = 0;
    /// Whether what comes next from the server (`fromServer`) or the client passes on as it
    /// is, unseen by the framer, until the other side speaks again: then the relay may move
    /// it without reading it.
    virtual bool PassesUnread(bool fromServer) const {
        (void)fromServer;
        return false;
    }
    /// Client bytes held until the server is ready for them. While any are held, the end of
    /// the client's stream is not passed on.
    virtual std::size_t HeldForServer() const { return 0; }
    /// Whether the server is in the middle of a message it delivers (a retrieved message, a
    /// literal): a stream that breaks off now leaves the client with part of one.
    virtual bool ServerInMessage() const { return false; }
    /// Bytes from the server went on unread, as PassesUnread allowed.
    virtual void ServerPassedUnread() {}
    /// Who hears what the client's bytes sent on are (the trace's masker); null: nobody.
    virtual void Observe(ClientStreamObserver* observer) { observer_ = observer; }

  protected:
    /// `bytes`, just put out towards the server, are `run`.
    void Report(ClientStreamObserver::Run run, std::string_view bytes) {
        if (observer_ != nullptr && !bytes.empty()) {
            observer_->ClientSent(run, bytes);
        }
    }

  private:
    ClientStreamObserver* observer_ = nullptr;
};

/// The framer of `entry`'s protocol; SMTP entries carry news as well. `entry` and `rewriter`
/// must outlive it. Message literals above `maxHeldLiteral` bytes pass unrewritten.
std::unique_ptr<ProtocolFramer> MakeProtocolFramer(const ServerEntry& entry,
                                                   MessageRewriter& rewriter,
                                                   std::size_t maxHeldLiteral);

class LoginHost;

/// The framer of a session with `entry`: on an OAuth 2.0 entry behind the protocol's
/// authenticator, which logs in through `host`.
std::unique_ptr<ProtocolFramer> MakeSessionFramer(const ServerEntry& entry,
                                                  MessageRewriter& rewriter,
                                                  std::size_t maxHeldLiteral, LoginHost& host);

}  // namespace vantel
