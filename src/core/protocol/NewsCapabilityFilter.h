// Takes STARTTLS out of a news server's capability list on a connection the relay secured.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantel {

/// A news client asks CAPABILITIES and gets "101 ..." and a list up to a "." line. On a
/// connection the relay has secured, a STARTTLS line in that list would have the client try
/// to upgrade what is upgraded already, so it goes. Only the answer that directly follows a
/// CAPABILITIES line of the client is read as the list; all other text passes as it comes.
class NewsCapabilityFilter {
  public:
    /// A line of the list still incomplete after this many bytes ends the filtering.
    static constexpr std::size_t kMaxLine = 4096;

    /// Follows the client's lines: a CAPABILITIES line arms the filter, any other disarms
    /// it unless the list has begun.
    void ClientSent(std::string_view text);
    /// The server's next bytes as the client is to get them; valid until the next call.
    std::string_view Filter(std::string_view text);
    /// What is held when the server's stream ends, unchanged.
    std::string Flush();

  private:
    enum class State { Idle, Armed, List };
    /// One whole server line (LF included) while armed or in the list.
    void Line(std::string_view line);

    State state_ = State::Idle;
    std::string clientLine_;  ///< the start of the client's current line
    std::string partial_;     ///< an incomplete server line being decided
    std::string output_;
};

}  // namespace vantel
