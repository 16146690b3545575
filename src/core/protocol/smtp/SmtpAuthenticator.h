// SMTP's words for logging in to the server with an OAuth 2.0 token.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/protocol/UpstreamAuthenticator.h"

namespace vantel {

/// The client logs in with AUTH PLAIN or AUTH LOGIN; the relay authenticates with AUTH and
/// the credentials after the server's 334, as Microsoft documents it. The EHLO answer offers
/// AUTH PLAIN LOGIN, and mail sent before the login is refused here with 530.
class SmtpAuthenticator final : public UpstreamAuthenticator {
  public:
    using UpstreamAuthenticator::UpstreamAuthenticator;

  protected:
    ClientStep ReadClient(std::string_view pending) override;
    std::string Offered(std::string_view line) override;
    std::string StartCommand(std::string_view mechanism, std::string_view initial) override;
    bool SendsInitialResponse(std::size_t) const override { return false; }
    ServerStep ReadServer(std::string_view line, std::string& challenge) override;
    std::string SuccessAnswer(std::string_view serverLine) override;
    std::string RefusalAnswer(std::string_view why) override;
    std::string TemporaryAnswer(std::string_view why) override;
    bool StartsLogin(std::string_view pending) const override;
    std::string TooLongAnswer() override;
    void ExchangeEnded() override { lastCode_ = '5'; }

  private:
    enum class Awaiting { Nothing, Plain, LoginUser, LoginPassword };

    Awaiting awaiting_ = Awaiting::Nothing;
    std::string user_;
    bool greeted_ = false;  ///< the greeting's last line has passed
    int ehloAnswers_ = 0;   ///< EHLO commands passed whose answers are still to come
    bool inEhloAnswer_ = false;
    bool firstLine_ = true;  ///< the current reply's next line is its first
    char lastCode_ = '5';    ///< the first digit of the server's last reply in the exchange
};

}  // namespace vantel
