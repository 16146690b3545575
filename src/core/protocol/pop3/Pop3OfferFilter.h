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
/// On a connection the relay has secured, the CAPA answer also loses STLS: the client must
/// not try to upgrade what is upgraded already.
class Pop3OfferFilter {
  public:
    /// `storedLogin`: the relay sends the entry's login; `secured`: it speaks TLS to the
    /// server.
    explicit Pop3OfferFilter(bool storedLogin = true, bool secured = false)
        : storedLogin_(storedLogin), secured_(secured) {}

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
    /// The start of a client line still held, unchanged; with a stored login, AUTH or APOP
    /// alone is dropped.
    std::string FlushClient();
    /// The start of a server line still held, unchanged.
    std::string FlushServer();

  private:
    enum class Answer { Greeting, Line, Lines, Capabilities, Refusal };
    enum class Keep { Pass, Hold, Drop };
    /// One side's current line: its start, and its bytes held while its fate is open.
    struct Line {
        std::string head;
        std::string held;
        Keep keep = Keep::Hold;
    };

    /// Cuts `block` into lines of `line`'s side: each passes, is held or dropped as `decide`
    /// (given whether the line is complete) says, and `ended` runs at each line end.
    template <typename Decide, typename Ended>
    static void Feed(std::string_view block, Line& line, std::string& out, Decide decide,
                     Ended ended);
    /// What `line` held, unchanged; the line starts afresh.
    static std::string Take(Line& line);
    Keep ClientLineKeep(bool complete) const;
    void ClientLineEnded(std::string& toClient);
    /// The relay's answers whose turn it is.
    void AnswerDue(std::string& toClient);
    Keep ServerLineKeep() const;
    void ServerLineEnded(std::string& toClient);

    const bool storedLogin_;
    const bool secured_;
    std::deque<Answer> answers_{Answer::Greeting};

    Line client_;
    Line server_;
    bool answerBody_ = false;  ///< the lines of a multi-line answer
};

}  // namespace vantel
