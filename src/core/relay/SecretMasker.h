// Keeps passwords out of the trace.
#pragma once

#include <string>
#include <string_view>

namespace vantel {

/// Masks what a client sends as a secret: the argument of PASS, the initial response of AUTH,
/// and every line answering the server's 334 challenges while an AUTH exchange runs. One per
/// session; the relayed bytes themselves are never touched.
class SecretMasker {
  public:
    /// The client's text with its secrets replaced by "****".
    std::string MaskClientText(std::string_view text);
    /// Follows the server's replies: anything but a 334 challenge ends an AUTH exchange.
    void ServerReplied(std::string_view text);

  private:
    bool authInProgress_ = false;
};

}  // namespace vantel
