// POP3's USER and PASS carrying the login stored with the server entry.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/config/ServerEntry.h"

namespace vantel {

/// Reads a POP3 client's stream: USER and PASS carry the login stored with the entry, when it
/// has one; everything else passes unchanged. With a stored login, every line ended by LF
/// counts, whatever else it holds, and a USER or PASS line goes as soon as its start shows
/// what it is: the client's own login never goes on, not even as text carried to the end of
/// the stream. Without one, complete lines pass and an incomplete one waits for its end.
class Pop3LoginSwap {
  public:
    /// `entry` must outlive the swap.
    explicit Pop3LoginSwap(const ServerEntry& entry) : entry_(entry) {}

    /// Whether the relay sends `entry`'s stored login in place of the client's.
    static bool SendsStoredLogin(const ServerEntry& entry);

    /// Why the login stored with a POP3 `entry` cannot be sent, or empty when it can or there
    /// is none: a line break in it would end the command it goes in, and what follows would
    /// reach the server as commands of their own. Never quotes the login.
    static std::string UnsafeLoginReason(const ServerEntry& entry);

    /// A block of the client's stream. Returns the bytes to send now, valid up to the next
    /// call; empty while a line's start does not yet tell what it is.
    std::string_view FromClient(std::string_view block);
    /// Text still carried when the stream ends, unchanged; the swap starts afresh.
    std::string Flush();
    /// Client bytes carried to the next block.
    std::size_t Held() const { return pending_ ? input_.size() : 0; }

  private:
    /// What becomes of the rest of the current line once its start told whether it is USER
    /// or PASS.
    enum class Line : unsigned char { Undecided, Passing, Dropping };
    /// Longest line held whole; longer ones pass up to their end as they come.
    static constexpr std::size_t kMaxLine = 2047;

    std::string_view SwapLogin(std::string_view block);
    std::string_view PassLines(std::string_view block);

    const ServerEntry& entry_;
    bool pending_ = false;      ///< `input_` holds text carried to the next block
    bool passingLong_ = false;  ///< the carried text is the tail of a line too long to hold
    Line line_ = Line::Undecided;
    std::string input_;
    std::string output_;
};

}  // namespace vantel
