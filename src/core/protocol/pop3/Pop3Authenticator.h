// POP3's words for logging in to the server with an OAuth 2.0 token.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/protocol/UpstreamAuthenticator.h"

namespace vantel {

/// The client logs in with USER and PASS or AUTH PLAIN; the relay authenticates with AUTH and
/// the credentials in a line of their own, never in the command (a token does not fit the
/// 255 bytes a POP3 command may have). The CAPA answer offers USER and SASL PLAIN.
class Pop3Authenticator final : public UpstreamAuthenticator {
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
    void ExchangeEnded() override { user_.clear(); }

  private:
    enum class Capa { None, Asked, Listing };

    std::string user_;  ///< given with USER, waiting for PASS
    bool awaitingPlain_ = false;
    bool greeted_ = false;
    Capa capa_ = Capa::None;
    bool listedUser_ = false;
    bool listedSasl_ = false;
};

}  // namespace vantel
