// Which of a client's commands each reply of an SMTP or news server answers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

/// A server answers commands in the order they came, however many the client sends at once,
/// and speaks first with a greeting of its own. So the client's command lines, counted in
/// order, tell which command the next reply answers. Every line counts, ended by CR LF or by
/// LF alone (servers take both); the text of a message or chunk is no command and must not
/// be given. When the count cannot be trusted any more (too many commands waiting, a line
/// so long the server may cut it in two), it is given up for the rest of the session and the
/// caller treats every reply as one it would filter.
class PipelinedCommands {
  public:
    /// Commands waiting for their replies at most: more, and the count is given up.
    static constexpr std::size_t kMaxWaiting = 1024;
    /// A longer command line may be read by the server as more than one: the count is given up.
    static constexpr std::size_t kMaxLine = 2048;
    /// Next(): another command, or the greeting.
    static constexpr int kOther = -1;
    /// Next(): nothing waits for a reply, or the count was given up.
    static constexpr int kUnknown = -2;

    /// `watched`: the commands (in capitals, at most three) the caller asks about by index.
    explicit PipelinedCommands(std::initializer_list<std::string_view> watched);

    /// Command text of the client. A line waits for one reply, except TAKETHIS: its reply
    /// follows the article, whose end MessageEnded counts.
    void ClientSent(std::string_view text);
    /// A message or article ended with its "." line: one reply answers it.
    void MessageEnded();
    /// A whole reply of the server has come: the next one answers the next command.
    void ReplyEnded();

    /// What the next reply answers: the index of a watched command, kOther or kUnknown.
    int Next() const;
    /// Whether a watched command waits for its reply (given up counts: true).
    bool Waiting(int index) const;
    /// Whether the client ever sent a watched command.
    bool Seen(int index) const { return seen_[static_cast<std::size_t>(index)]; }
    bool lost() const { return lost_; }

  private:
    void LineEnded();
    void Push(int kind);

    static constexpr std::size_t kHead = 16;
    std::array<std::string_view, 3> watched_{};
    std::size_t watchedCount_ = 0;
    /// The kinds waiting for their replies from `next_` on, the greeting first. A vector, not
    /// a deque: a deque takes more than half a KiB at once, for every session.
    std::vector<std::int8_t> waiting_{static_cast<std::int8_t>(kOther)};
    std::size_t next_ = 0;                 ///< the first of waiting_ still waiting
    std::array<std::size_t, 3> counts_{};  ///< of each watched command in waiting_
    std::array<bool, 3> seen_{};
    std::string head_;  ///< the start of the client's current line
    std::size_t lineLength_ = 0;
    bool lost_ = false;
};

}  // namespace vantel
