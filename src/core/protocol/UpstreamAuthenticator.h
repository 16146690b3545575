// Logging in to the server for the client, with an OAuth 2.0 access token.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

#include "core/config/ServerEntry.h"
#include "core/oauth/AccessTokenSource.h"
#include "core/oauth/SaslOAuth.h"
#include "core/protocol/LoginHost.h"
#include "core/protocol/ProtocolFramer.h"

namespace vantel {

/// Stands in front of the protocol's framer on an OAuth 2.0 entry. Until the client has
/// logged in, it reads the client's commands itself: a login (with the entry's account and
/// its local password) never reaches the server; the relay checks it, takes an access token
/// and authenticates to the server with XOAUTH2 or OAUTHBEARER, answering the server's error
/// challenge and, after a refusal, renewing the token and trying once more. Every other
/// command passes to the framer as ever, and what the server offers is cut to what the
/// client can use here. Once logged in, every byte goes through the framer alone.
/// The protocol's words come from the class of each protocol.
class UpstreamAuthenticator : public ProtocolFramer {
  public:
    /// A client line before the login longer than this is no login: it passes as it comes,
    /// unless it starts as one, and then the client is refused and heard no more.
    static constexpr std::size_t kMaxLoginLine = 16 * 1024;
    /// Client bytes held while the login is under way; beyond it the session stops reading.
    static constexpr std::size_t kMaxHeld = 64 * 1024;

    UpstreamAuthenticator(std::unique_ptr<ProtocolFramer> inner, const ServerEntry& entry,
                          LoginHost& host);
    ~UpstreamAuthenticator() override;

    void FromClient(std::string_view block, std::string& toServer, std::string& toClient) override;
    void FromServer(std::string_view block, std::string& toClient, std::string& toServer) override;
    void ClientEnded(std::string& toServer) override;
    void ServerEnded(std::string& toClient) override;
    bool PassesUnread(bool fromServer) const override;
    std::size_t HeldForServer() const override;
    bool ServerInMessage() const override;
    void ServerPassedUnread() override;
    void Observe(ClientStreamObserver* observer) override;

    /// Whether the client has logged in and the session relays as any other.
    bool LoggedIn() const { return stage_ == Stage::Relaying; }

  protected:
    /// What the client's pending bytes start with, as ReadClient finds it.
    struct ClientStep {
        enum class Kind {
            More,    ///< nothing can be told yet: wait for more bytes
            Pass,    ///< the first `used` bytes go to the server as they are
            Answer,  ///< the relay answers `answer` and the first `used` bytes are done
            Login,   ///< a login with `account` and `password`, `used` bytes long
        };
        Kind kind = Kind::More;
        std::size_t used = 0;
        std::string answer;
        std::string account;
        std::string password;
    };
    /// What a server line in the relay's own exchange says.
    enum class ServerStep {
        Part,       ///< a line of a reply that goes on
        GoAhead,    ///< the server waits for the credentials
        Challenge,  ///< the server refused the token and waits for the error challenge's answer
        Success,
        Refusal,
        Aside,  ///< no part of the exchange (an untagged IMAP line): it goes to the client
    };

    const ServerEntry& entry() const { return entry_; }
    /// The mechanism: XOAUTH2, or OAUTHBEARER where the entry asks for it or the server
    /// offers only that.
    SaslMechanism Mechanism() const;
    /// Noted from the server's offers: SASL-IR, and which OAuth mechanisms.
    void ServerOffers(bool initialResponse, bool xoauth2, bool oauthBearer);
    bool ServerTakesInitialResponse() const { return initialResponse_; }
    /// The account and password of a SASL PLAIN response (base64 of "authzid NUL authcid NUL
    /// password"); false when it is no such thing, or names someone else to act as.
    static bool DecodePlain(std::string_view response, std::string& account, std::string& password);
    /// What the client is told in words, made fit for one line of its protocol.
    static std::string ClientText(std::string_view why);
    /// Whether the blank-separated word number `index` (from 0) of `line` is one of `upper`
    /// (given in capitals), in any letter case.
    static bool WordIs(std::string_view line, std::size_t index,
                       std::initializer_list<std::string_view> upper);

    /// Reads the client's pending bytes before it has logged in (`pending` is not empty).
    virtual ClientStep ReadClient(std::string_view pending) = 0;
    /// A whole server line before the login, line end included, as the client is to get it.
    virtual std::string Offered(std::string_view line) = 0;
    /// The command that starts the relay's exchange, line end included; `initial` is the
    /// credentials where the protocol sends them with it, else empty.
    virtual std::string StartCommand(std::string_view mechanism, std::string_view initial) = 0;
    /// Whether the credentials go in the command itself.
    virtual bool SendsInitialResponse(std::size_t size) const = 0;
    /// What a server line of the exchange is; the challenge's text, if any, in `challenge`.
    virtual ServerStep ReadServer(std::string_view line, std::string& challenge) = 0;
    /// The answers to the client: logged in (`serverLine` the server's last line), refused
    /// (`why` in words; `serverText` what the server said, if it said anything), a temporary
    /// failure, and a bad request (`why`).
    virtual std::string SuccessAnswer(std::string_view serverLine) = 0;
    virtual std::string RefusalAnswer(std::string_view why) = 0;
    virtual std::string TemporaryAnswer(std::string_view why) = 0;
    /// A new exchange may start (the client may try again).
    virtual void ExchangeEnded() {}
    /// Whether the client's pending bytes begin a login (or answer the relay's request for
    /// credentials), whatever follows.
    virtual bool StartsLogin(std::string_view pending) const = 0;
    /// The answer to a login too long to be one, line end included.
    virtual std::string TooLongAnswer() = 0;

  private:
    enum class Stage {
        Open,      ///< the client has not logged in
        Checking,  ///< its login is being checked or a token being fetched
        Upstream,  ///< the relay's own exchange with the server is under way
        Relaying,  ///< logged in: everything goes through the framer
        Deaf,      ///< sent a login too long to read: nothing more it sends is read
    };
    struct Output {
        std::string toServer;
        std::string toClient;
    };

    /// The client's SASL message with the current token.
    std::string Credentials() const;
    void ReadPending(Output& out);
    void Login(const std::string& account, const std::string& password);
    void TokenArrived(const AccessTokenAnswer& answer);
    void Authenticate(const std::string& token, Output& out);
    void ServerLine(std::string_view line, Output& out);
    /// Ends the exchange with `answer` to the client; the client may try again.
    void Refuse(const std::string& answer, Output& out);
    void Succeed(std::string_view serverLine, Output& out);
    /// The pending bytes after the login, once it is over.
    void Release(Output& out);
    /// Sends `out` through the session: outside a call of the framer.
    void Send(Output& out);
    void ToServer(Output& out, std::string_view bytes);
    /// Whole lines of the framer's output towards the client before the login.
    void OfferLines(std::string_view text, std::string& toClient);

    std::unique_ptr<ProtocolFramer> inner_;
    const ServerEntry& entry_;
    LoginHost& host_;
    std::shared_ptr<bool> alive_;  ///< callbacks that outlive this framer find it gone
    Stage stage_ = Stage::Open;
    std::string pending_;       ///< client bytes not yet read, or held behind the login
    bool passingLine_ = false;  ///< a long client line passes until its end
    std::string offerLine_;     ///< the start of a server line before the login
    std::string serverLine_;    ///< the start of a server line of the exchange
    std::string account_;       ///< of the login under way
    std::string token_;
    bool renewed_ = false;  ///< the token was renewed after a refusal already
    bool credentialsSent_ = false;
    bool clientEnded_ = false;
    bool serverEnded_ = false;
    bool initialResponse_ = false;
    bool offersXoauth2_ = false;
    bool offersOauthBearer_ = false;
};

}  // namespace vantel
