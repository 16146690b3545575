// Takes STARTTLS out of a news server's capability list on a connection the relay secured.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/protocol/smtp/PipelinedCommands.h"

namespace vantel {

/// A news client asks CAPABILITIES and gets "101 ..." and a list up to a "." line. On a
/// connection the relay has secured, a STARTTLS line in that list would have the client try
/// to upgrade what is upgraded already, so it goes. The server's replies are followed one by
/// one, paired with the client's commands: the greeting first, then one per command, the
/// multi-line ones (articles, lists, help) running to their "." line, so text inside an
/// article or listing is never read as a list. A 101 reply is the list whichever command it
/// answers: only CAPABILITIES has one. All other text passes as it comes.
class NewsCapabilityFilter {
  public:
    /// Commands waiting for their replies at most (beyond, the count is given up).
    static constexpr std::size_t kMaxWaiting = PipelinedCommands::kMaxWaiting;

    /// The client's command text (never an article's).
    void ClientSent(std::string_view text) { commands_.ClientSent(text); }
    /// An article the client posted ended with its "." line: one reply answers it.
    void MessageEnded() { commands_.MessageEnded(); }
    /// The server's next bytes as the client is to get them; valid until the next call.
    /// Only a list line that may still turn out to be STARTTLS is held back.
    std::string_view Filter(std::string_view text);
    /// What is held when the server's stream ends, unchanged.
    std::string Flush();

  private:
    enum class LineMode { Undecided, Passing, Dropped };
    void LineEnded();

    PipelinedCommands commands_{"LISTGROUP"};
    bool statusLine_ = true;  ///< the current line is a reply's first
    bool body_ = false;       ///< in the lines of a multi-line reply
    bool list_ = false;       ///< ... which is the capability list
    std::string head_;        ///< the start of the server's current line
    LineMode lineMode_ = LineMode::Undecided;
    std::string partial_;  ///< a list line held while it may be STARTTLS
    std::string output_;
};

}  // namespace vantel
