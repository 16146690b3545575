// Takes the extensions the relay cannot pass on out of a server's EHLO answer.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/protocol/smtp/PipelinedCommands.h"

namespace vantel {

/// Removes CHUNKING and BINARYMIME from the answer to a client's EHLO, so the client sends
/// its mail with DATA, whose header the rewriting may change: a BDAT chunk is counted and
/// must not change. On a connection the relay has secured, STARTTLS goes too: the client
/// must not try to upgrade what is upgraded already. Only the removed lines go; when one of them
/// was the answer's last line, the line before it becomes the last. Each reply is paired with
/// the command it answers (the greeting first, then one per command, multi-line replies
/// ending at a "ddd " line), so a client that sends EHLO behind other commands, or before the
/// greeting, still gets its answer filtered. While an EHLO waits for its answer, or when the
/// count is lost, every reply is read as one; other replies pass as they come.
class EhloAnswerFilter {
  public:
    /// A line still incomplete after this many bytes passes unchanged, and the line held
    /// before it; the lines after it are filtered as ever.
    static constexpr std::size_t kMaxLine = 4096;

    /// `secured`: the relay speaks TLS to the server.
    explicit EhloAnswerFilter(bool secured = false) : secured_(secured) {}

    /// The client's command text (never message text or chunk bytes).
    void ClientSent(std::string_view text) { commands_.ClientSent(text); }
    /// A message the client sent with DATA ended with its "." line: one reply answers it.
    void MessageEnded() { commands_.MessageEnded(); }

    /// The server's next bytes as the client is to get them. Holds back an incomplete "250"
    /// line of an answer being filtered, and a "250-" line until the line after it shows
    /// whether it must become the last. The result stays valid until the next call.
    std::string_view Filter(std::string_view text);

    /// What is held when the server's stream ends, unchanged; the filter starts afresh.
    std::string Flush();

  private:
    enum class LineMode { Undecided, Held, Passing };

    /// Whether the reply now starting is to be filtered.
    bool FiltersReply() const;
    void LineEnded();
    /// One whole held line of a filtered reply, its LF included.
    void AnswerLine(std::string_view line);
    /// Sends the held line and then `line`; a "250-" line is held instead.
    void Pass(std::string_view line);

    const bool secured_;
    PipelinedCommands commands_{"EHLO"};
    bool filtering_ = false;  ///< the current reply is read as an EHLO answer
    bool firstLine_ = true;   ///< the current line is its reply's first, the server's name
    std::string head_;        ///< the start of the server's current line
    LineMode lineMode_ = LineMode::Undecided;
    std::string held_;     ///< the latest "250-" line of the answer, not sent yet
    std::string partial_;  ///< the current line while it is held
    std::string output_;
};

}  // namespace vantel
