// Takes the extensions the relay cannot pass on out of a server's EHLO answer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantel {

/// Removes CHUNKING and BINARYMIME from the answer to a client's EHLO, so the client sends
/// its mail with DATA, whose header the rewriting may change: a BDAT chunk is counted and
/// must not change. On a connection the relay has secured, STARTTLS goes too: the client
/// must not try to upgrade what is upgraded already. Only the removed lines go; when one of them
/// was the answer's last line, the line before it becomes the last. Server text is filtered only
/// while an EHLO answer is due, line by line; everything else passes as it comes.
class EhloAnswerFilter {
  public:
    /// A line still incomplete after this many bytes ends the filtering of its answer: it
    /// and the rest of the answer pass unchanged.
    static constexpr std::size_t kMaxLine = 4096;

    /// `secured`: the relay speaks TLS to the server.
    explicit EhloAnswerFilter(bool secured = false) : secured_(secured) {}

    /// Follows the client's commands: after an EHLO the server's next answer is filtered.
    void ClientSent(std::string_view text);

    /// The server's next bytes as the client is to get them. Holds back an incomplete line of
    /// the answer, and a "250-" line until the line after it shows whether it must become
    /// the last. The result stays valid until the next call.
    std::string_view Filter(std::string_view text);

    /// What is held when the server's stream ends, unchanged; the filter starts afresh.
    std::string Flush();

    bool answerDue() const { return answerDue_; }

  private:
    /// One whole line of the answer, its LF included.
    void AnswerLine(std::string_view line);
    /// Sends the held line and then `line`; a "250-" line is held instead.
    void Pass(std::string_view line);
    void AnswerEnded();

    bool secured_ = false;
    bool answerDue_ = false;
    bool firstLine_ = true;        ///< the next line of the answer is its first, the server's name
    std::size_t clientMatch_ = 0;  ///< letters of "EHLO" the client's current line began with
    std::string held_;             ///< the latest "250-" line of the answer, not sent yet
    std::string partial_;          ///< an incomplete line of the answer
    std::string output_;
};

}  // namespace vantel
