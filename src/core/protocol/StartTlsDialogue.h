// The plain-text start of a STARTTLS connection, which the relay conducts before the client
// says anything.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/config/ServerEntry.h"
#include "core/protocol/ProtocolDescriptor.h"

namespace vantel {

/// Reads the server's greeting, asks for TLS in the protocol's own words (its descriptor's)
/// and reads the go-ahead:
/// SMTP "EHLO" (STARTTLS must be among the extensions), "STARTTLS", 220; news "STARTTLS",
/// 382 (told from SMTP by its 200/201 greeting, as an SMTP entry carries both); POP3 "STLS",
/// "+OK"; IMAP a tagged "STARTTLS", "OK". The greeting is kept for the client, who gets it
/// once the connection is encrypted: the server sends none after the upgrade. IMAP's greeting
/// loses its [CAPABILITY ...] code, which held before TLS only, so the client asks again.
/// Anything the server refuses ends the dialogue as Failed: the relay never carries on in
/// plain text.
class StartTlsDialogue {
  public:
    enum class Step { Talking, Upgrade, Failed };
    /// Server lines longer than this, or more than kMaxText before the go-ahead, are not a
    /// STARTTLS dialogue.
    static constexpr std::size_t kMaxLine = 4096;
    static constexpr std::size_t kMaxText = 64 * 1024;

    explicit StartTlsDialogue(ServerType type) : protocol_(&DescriptorOf(type)) {}

    /// Server bytes. Appends to `toServer` what the relay says next. After Upgrade the bytes
    /// that followed the go-ahead (the start of the TLS stream) are in TakeRest.
    Step FromServer(std::string_view block, std::string& toServer);

    /// The server's greeting as the client is to get it, line ends included.
    const std::string& greeting() const { return greeting_; }
    /// Why it failed, in words: "server does not offer STARTTLS".
    const std::string& failure() const { return failure_; }
    /// Whether the server greeted as a news server.
    bool news() const { return news_; }
    std::string TakeRest();

  private:
    enum class State { Greeting, Extensions, Answer, Done };
    Step Line(std::string_view line, std::string& toServer);
    Step Greeted(std::string_view line, std::string& toServer);
    Step Fail(std::string reason);
    Step Upgrade();
    void AskForTls(std::string& toServer);

    /// The protocol's words; an SMTP entry's turns to news' when the greeting tells.
    const ProtocolDescriptor* protocol_;
    State state_ = State::Greeting;
    bool news_ = false;
    bool offered_ = false;  ///< the EHLO answer named STARTTLS
    std::size_t seen_ = 0;  ///< bytes read so far
    std::string partial_;   ///< an incomplete line
    std::string greeting_;
    std::string failure_;
    std::string rest_;
};

}  // namespace vantel
