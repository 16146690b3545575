// The stream processors: relayed blocks in, rewritten blocks out.
#pragma once

#include <string>
#include <string_view>

#include "core/config/RelaySettings.h"
#include "core/rewrite/KludgeEngine.h"
#include "core/rewrite/KludgeTypes.h"
#include "core/rewrite/StreamState.h"

namespace vantel {

/// Rewrites the header lines of relayed streams, one StreamState per connection direction.
/// The result of a call stays valid until the next call with the same StreamState. No byte
/// is lost: a line the rewriting cannot handle (too long, holding a NUL byte) passes as it
/// came, and text still carried when a stream ends comes back from FlushStream.
class MessageRewriter {
  public:
    MessageRewriter(const RelaySettings& settings, RandomSource& random, Notifier& notifier,
                    KludgeFileReader& files)
        : settings_(settings), kludges_(settings, random, notifier, files) {}

    /// A block of a client stream (`SmtpKludge`) or of a POP3 server stream (`Pop3Kludge`):
    /// header lines go through the kludges of that type, and from the blank line after a
    /// header on everything passes unchanged until `inBody` is cleared. Returns the bytes to
    /// send now; empty while a line is incomplete.
    std::string_view ProcessMessageBlock(std::string_view block, StreamState& state,
                                         KludgeType mode);

    /// Text still carried when the stream ends, unchanged; the state starts afresh.
    static std::string FlushStream(StreamState& state);

    /// Outgoing Date lines get a second blank before their last word (the time zone).
    static void MarkDateLine(std::string_view line, std::string& output);
    /// With the hidden-mode code set, a retrieved From line after a marked Date line is
    /// tagged "(Vantel)".
    void TagFromLine(std::string_view line, std::string& output);

    bool dateMarked() const { return dateMarked_; }

  private:
    /// Whether the next block is split into lines; a message body is not.
    static bool ReadsLines(const StreamState& state) { return !state.inBody || state.pendingText; }

    template <typename HandleLine>
    std::string_view ProcessLines(std::string_view block, StreamState& state, bool joining,
                                  HandleLine handleLine);

    const RelaySettings& settings_;
    KludgeEngine kludges_;
    /// A marked Date line was seen and no From line after it yet; shared by all streams.
    bool dateMarked_ = false;
};

}  // namespace vantel
