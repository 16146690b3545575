// Keeps a POP3 client with a stored login to USER and PASS.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace vantel {

/// The relay replaces USER and PASS with the stored login; a client that logs in another way
/// would send its own credentials to the server. So the greeting loses its APOP time stamp,
/// the CAPA answer its SASL line, and AUTH and APOP are answered by the relay and never
/// reach the server. Everything else passes byte for byte. Answers come in the order of the
/// commands, and those of CAPA, RETR, TOP, and LIST and UIDL without an argument run to a
/// "." line, so following the commands tells which server line belongs to which answer.
class Pop3OfferFilter {
  public:
    /// What the relay answers AUTH and APOP.
    static constexpr std::string_view kRefusalText =
        "-ERR Log in with USER and PASS: the relay sends the stored login\r\n";
    /// A greeting longer than this passes as it came.
    static constexpr std::size_t kMaxGreeting = 4096;

    /// Client bytes: appends to `toServer` what goes on, to `toClient` the relay's answers
    /// that are due now.
    void FromClient(std::string_view block, std::string& toServer, std::string& toClient);
    /// Server bytes: appends what the client is to get, the relay's due answers among them.
    void FromServer(std::string_view block, std::string& toClient);
    /// The start of a client line still held, unchanged.
    std::string FlushClient();
    /// The start of a server line still held, unchanged.
    std::string FlushServer();

  private:
    enum class Answer { Greeting, Line, Lines, Capabilities, Refusal };
    enum class Keep { Pass, Hold, Drop };

    void ClientLineEnded(std::string& toClient);
    /// The relay's answers whose turn it is.
    void AnswerDue(std::string& toClient);
    Keep ServerLineKeep() const;
    void ServerLineEnded(std::string& toClient);

    std::deque<Answer> answers_{Answer::Greeting};

    std::string clientHead_;  ///< the start of the client's current line
    std::string clientHeld_;  ///< bytes of it not yet passed on
    Keep clientKeep_ = Keep::Hold;

    std::string serverHead_;  ///< the start of the server's current line
    std::string serverHeld_;
    Keep serverKeep_ = Keep::Hold;
    bool answerBody_ = false;  ///< the lines of a multi-line answer
};

}  // namespace vantel
