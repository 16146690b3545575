// The SASL messages of XOAUTH2 and OAUTHBEARER (RFC 7628).
#pragma once

#include <string>
#include <string_view>

namespace vantel {

class SaslOAuth {
  public:
    /// The client's message, in base64: XOAUTH2's "user=...^Aauth=Bearer ...^A^A" or
    /// OAUTHBEARER's "n,a=...,^Ahost=...^Aport=...^Aauth=Bearer ...^A^A".
    static std::string InitialResponse(std::string_view mechanism, std::string_view account,
                                       std::string_view token, std::string_view host, int port);
    /// What answers the server's error challenge so that it sends its final refusal.
    static std::string ChallengeAnswer(std::string_view mechanism);
    /// The error challenge (base64 of JSON) in words for the trace; empty when it says
    /// nothing readable.
    static std::string DescribeChallenge(std::string_view challenge);
};

}  // namespace vantel
