// IMAP's words for logging in to the server with an OAuth 2.0 token.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/protocol/UpstreamAuthenticator.h"

namespace vantel {

/// The client logs in with LOGIN (atoms, quoted strings or literals) or AUTHENTICATE PLAIN
/// (with or without an initial response); the relay authenticates with AUTHENTICATE and the
/// client's tag, so that the server's tagged answer is the client's. Capability lists lose
/// their AUTH= entries and LOGINDISABLED and offer AUTH=PLAIN and SASL-IR instead.
class ImapAuthenticator final : public UpstreamAuthenticator {
  public:
    using UpstreamAuthenticator::UpstreamAuthenticator;

    /// `line` with its capability list, if any, as the client is to see it; `offers` notes
    /// what the server's list named.
    static std::string OfferedCapabilities(std::string_view line, bool& initialResponse,
                                           bool& xoauth2, bool& oauthBearer);

  protected:
    ClientStep ReadClient(std::string_view pending) override;
    std::string Offered(std::string_view line) override;
    std::string StartCommand(std::string_view mechanism, std::string_view initial) override;
    bool SendsInitialResponse(std::size_t) const override { return ServerTakesInitialResponse(); }
    ServerStep ReadServer(std::string_view line, std::string& challenge) override;
    std::string SuccessAnswer(std::string_view serverLine) override;
    std::string RefusalAnswer(std::string_view why) override;
    std::string TemporaryAnswer(std::string_view why) override;
    bool StartsLogin(std::string_view pending) const override;
    std::string TooLongAnswer() override;

  private:
    /// A LOGIN command from its arguments on; `used` and the strings when it is whole.
    ClientStep ReadLogin(std::string_view pending, std::size_t at);
    /// One astring of LOGIN at `at`: an atom, a quoted string or a literal. False when more
    /// must come (`wait` set when the client waits for a go-ahead), `bad` when it is none.
    bool ReadString(std::string_view pending, std::size_t& at, std::string& out, bool& wait,
                    bool& bad);

    std::string tag_;              ///< of the login under way
    bool awaitingPlain_ = false;   ///< AUTHENTICATE PLAIN waits for its response line
    std::size_t answeredAt_ = 0;   ///< the literal of the pending LOGIN given a go-ahead
    std::size_t literalLeft_ = 0;  ///< bytes of a passed command's literal still to pass
};

}  // namespace vantel
