// Where a POP3 server's stream stands: in a retrieved message, or between answers.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace vantel {

/// Follows the commands that reach the server and the answers that come back, in order:
/// those of RETR and TOP carry a message, those of CAPA, and LIST, UIDL and AUTH without an
/// argument carry other lines; all of them end at a "." line. AUTH's exchange runs until its
/// final answer, and what the client says meanwhile is no command. Only the first bytes of
/// each line are kept, so a line of any length costs nothing.
class Pop3AnswerTracker {
  public:
    /// Client bytes on their way to the server.
    void ClientSent(std::string_view bytes);
    /// Server bytes, as they came.
    void ServerSent(std::string_view bytes);
    /// Server bytes passed unseen: where the answer stands is known again at the client's next
    /// command, which a POP3 client sends once it has the whole answer.
    void PassedUnread() { unseen_ = true; }
    /// The server is in the middle of a message (as of the last bytes seen).
    bool InMessage() const { return lines_ == Lines::Message; }

  private:
    enum class Answer { Line, Lines, Message, Auth };
    enum class Lines { None, Other, Message };
    /// The start of a line, up to this many bytes, is all either side needs.
    static constexpr std::size_t kHead = 8;
    /// Commands awaiting their answers beyond this are not counted: a client that keeps on
    /// talking to a silent server costs no more memory.
    static constexpr std::size_t kMaxPending = 1024;

    void ClientLineEnded();
    void ServerLineEnded();

    std::deque<Answer> pending_;  ///< commands sent whose answers have not started
    Lines lines_ = Lines::None;   ///< the server is in a multi-line answer
    bool greeted_ = false;
    bool exchange_ = false;  ///< AUTH's challenges and responses are under way
    bool unseen_ = false;
    std::string clientHead_;
    std::string serverHead_;
    std::size_t serverLength_ = 0;  ///< bytes of the server's current line so far
};

}  // namespace vantel
