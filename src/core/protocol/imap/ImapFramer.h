// IMAP sessions: the literals a client sends are counted, and the messages it saves are
// rewritten with their counts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "core/protocol/ProtocolFramer.h"
#include "core/rewrite/StreamState.h"

namespace vantel {

/// Follows the client's commands and their literals: a line ending in "{n}", "{n+}", "{n-}"
/// or "~{n}" is followed by exactly n bytes that are never read as command lines. The message
/// literals of APPEND (the one after the mailbox, every further one of MULTIAPPEND, the TEXT
/// parts of CATENATE) go through the rewriter like SMTP text and leave with the count of the
/// rewritten bytes; every other literal, and every line that announces one, passes unchanged.
/// Command lines without a literal go through the rewriter as the rest of the client's text
/// always has.
///
/// A synchronising message literal must be counted before its announcement goes: the relay
/// answers the client's wait with its own go-ahead, collects and rewrites the literal, sends
/// the announcement with the new count and then waits for the server's go-ahead, which the
/// client does not see, before the literal follows. Whatever the client sends meanwhile
/// waits behind it. When the server turns the command down instead, its tagged answer goes
/// to the client and the rest of the command is dropped. Literals above the holding limit
/// pass unchanged, with their own count.
///
/// The server's text passes unchanged, save for the go-aheads the relay asked for itself and
/// the COMPRESS capabilities (ImapCapabilityFilter); a client that sends COMPRESS all the same
/// has the relay turn it down.
class ImapFramer : public ProtocolFramer {
  public:
    /// The largest message literal held for rewriting: the largest message a provider takes.
    static constexpr std::size_t kMaxHeldLiteral = 64 * 1024 * 1024;
    /// What the relay answers a client that waits to send a message literal.
    static constexpr std::string_view kReadyText = "+ Ready for literal data\r\n";
    /// The largest literal LITERAL- lets a client send without waiting.
    static constexpr std::uint64_t kMaxMinusLiteral = 4096;
    /// A command line longer than this, line end included, passes as it comes, unrewritten.
    static constexpr std::size_t kMaxLine = 8192;

    /// `secured`: the relay speaks TLS to the server.
    explicit ImapFramer(MessageRewriter& rewriter, std::size_t maxHeldLiteral = kMaxHeldLiteral,
                        bool secured = false)
        : rewriter_(rewriter), maxHeldLiteral_(maxHeldLiteral), secured_(secured) {}

    void FromClient(std::string_view block, std::string& toServer, std::string& toClient) override;
    void FromServer(std::string_view block, std::string& toClient, std::string& toServer) override;
    void ClientEnded(std::string& toServer) override;
    void ServerEnded(std::string& toClient) override;
    std::size_t HeldForServer() const override { return queuedBytes_; }
    /// Inside one of the server's literals (a message fetched, say).
    bool ServerInMessage() const override { return serverLiteralLeft_ > 0; }

  private:
    enum class ClientMode {
        Line,     ///< a command line, or the rest of one after a literal
        Literal,  ///< literal bytes that pass as they come
        Collect,  ///< a message literal, held until it is complete
    };
    /// How a literal was announced.
    enum class Sync { Wait, Plus, Minus };
    struct Announcement {
        std::uint64_t count = 0;
        Sync sync = Sync::Wait;
        bool binary = false;  ///< "~{n}": binary content
        /// The count is beyond 64 bits and stands at the largest: the bytes after such a
        /// client line are kept from command reading (and the trace) to the end.
        bool tooLarge = false;
        std::size_t start = 0;  ///< where "{" (or "~") stands in the line
        std::size_t endAt = 0;  ///< where the line end (CR LF or LF) starts
    };
    /// Client bytes held behind a go-ahead the relay waits for.
    struct Piece {
        std::string bytes;
        std::uint64_t command = 0;
        ClientStreamObserver::Run run = ClientStreamObserver::Run::Command;
        bool goAhead = false;  ///< no bytes: the server's go-ahead is awaited here
        std::string tag;       ///< with goAhead: the tag of the command that waits
    };

    static bool ParseAnnouncement(std::string_view line, Announcement& found);

    void ClientLineEnded();
    void StartCommand(std::string_view head);
    void LiteralCollected();
    /// Client bytes to the server, in order: now, or behind a go-ahead still awaited. Bytes
    /// of a command the server turned down are dropped.
    void Send(std::string_view bytes, ClientStreamObserver::Run run);
    /// After what was sent so far, wait for the server's go-ahead.
    void AwaitGoAhead();
    /// Rewrites the complete plain command lines gathered so far and sends them.
    void SendRun();
    /// Puts bytes out in order, or behind the go-ahead awaited.
    void Put(std::string_view bytes, ClientStreamObserver::Run run);
    /// What the bytes of the current line are to the observer.
    ClientStreamObserver::Run LineRun() const {
        return continued_ ? ClientStreamObserver::Run::Continued
                          : ClientStreamObserver::Run::Command;
    }
    /// Sends queued pieces until the next go-ahead to wait for.
    void Release();
    void ServerLineEnded();
    /// The server answered the command whose go-ahead the relay waits for.
    void Refused();

    MessageRewriter& rewriter_;
    const std::size_t maxHeldLiteral_;
    const bool secured_;
    std::string* toServer_ = nullptr;  ///< where Send puts bytes during a call
    std::string* toClient_ = nullptr;  ///< where the relay's own answers go during a call

    // The client's side.
    ClientMode mode_ = ClientMode::Line;
    std::string line_;             ///< the current line while it is short enough to hold
    bool longLine_ = false;        ///< the current line passes as it comes
    std::string head_;             ///< a long line's start
    std::string tail_;             ///< a long line's end
    bool continued_ = false;       ///< the line goes on with a command after its literal
    std::uint64_t command_ = 0;    ///< the client's current command, counted from 1
    std::string tag_;              ///< its tag
    bool append_ = false;          ///< it is APPEND
    bool compress_ = false;        ///< it is COMPRESS, which the relay answers itself
    bool pastMailbox_ = false;     ///< APPEND's mailbox is behind: literals now are messages
    std::size_t argumentsAt_ = 0;  ///< where the command's arguments start in its first line
    std::uint64_t literalLeft_ = 0;
    bool literalAwaited_ = false;  ///< a literal passing through waits for the server's "+"
    std::string literal_;          ///< a message literal being collected
    std::string announcedHead_;    ///< its announcing line up to the count
    std::string announcedCount_;   ///< the announcement as the client wrote it, line end included
    Sync literalSync_ = Sync::Wait;
    /// Whether the line announcing it started a command, or went on with one.
    ClientStreamObserver::Run announcedRun_ = ClientStreamObserver::Run::Command;
    std::string run_;  ///< complete plain command lines, for the rewriter
    StreamState commands_;
    std::uint64_t refused_ = 0;  ///< the command the server turned down, if any

    // Client bytes waiting for the server.
    std::deque<Piece> queue_;
    std::size_t queuedBytes_ = 0;
    bool waiting_ = false;  ///< a go-ahead the relay asked for is still to come
    std::string waitTag_;
    std::uint64_t waitCommand_ = 0;

    // The server's side.
    std::uint64_t serverLiteralLeft_ = 0;
    bool serverLineStart_ = true;
    bool swallowing_ = false;    ///< the go-ahead line the client does not see
    bool capabilities_ = false;  ///< the line may hold a capability list: it is held
    std::string heldLine_;
    bool serverEnded_ = false;  ///< no go-ahead can come any more
    std::string serverHead_;
    std::string serverTail_;
};

}  // namespace vantel
