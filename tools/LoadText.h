// Text for vantel-load: the messages it sends and serves, dot-stuffing, and the scanning of
// received bytes into lines and dot-terminated blocks.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantel::load {

/// Header lines the load messages carry, each ending in CR LF: `count` lines of kinds mail
/// clients write (the benchmark's kludges name them), padded with X-Load-NN lines. `serial`
/// makes the Subject and Message-ID of each message differ.
std::string MakeHeader(int count, long serial);

/// Body lines of 76 characters and CR LF, `bytes` long in all (the last line shorter; a size of
/// 1 gives one empty line). Some lines start with a dot, so dot-stuffing is exercised.
std::string MakeBody(std::size_t bytes);

/// A message of `headerLines` header lines, the blank line, and a body of `bodyBytes`.
std::string MakeMessage(int headerLines, long serial, std::size_t bodyBytes);

/// A message of 50 header lines and body lines that is `bytes` long, or just its header and
/// blank line when `bytes` is smaller than that.
std::string MakeMessageOfSize(std::size_t bytes);

/// The message as sent after DATA or RETR: every line starting with a dot gets a second one,
/// a missing final CR LF is added, and the CR LF . CR LF end follows.
std::string DotTerminated(std::string_view message);

/// Finds the CR LF . CR LF that ends a dot-terminated block, however the block is cut into
/// reads. Stuffing keeps that sequence out of the block itself.
class DotEndScanner {
  public:
    /// Starts a new block; `atLineStart` when a line end came just before it (a dot line at
    /// once then ends the block).
    void Reset(bool atLineStart);
    /// The offset in `data` just past the end of the block, or npos while the block goes on.
    std::size_t Feed(std::string_view data);

  private:
    char tail_[4] = {};  ///< the last bytes fed, which a terminator may start in
    std::size_t tailSize_ = 0;
};

/// Received bytes split into CR LF lines.
class LineBuffer {
  public:
    void Append(std::string_view data);
    /// The next complete line without its CR LF; false when none is complete.
    bool Next(std::string& line);
    /// Everything not yet returned as a line; the buffer is empty afterwards.
    std::string TakeRest();

  private:
    std::string buffer_;
    std::size_t start_ = 0;  ///< where the first line not yet returned begins
};

/// A reply line of SMTP: its three-digit code (-1 when it has none) and whether it is the last
/// line of the reply ("250 ok", not "250-more").
struct SmtpReplyLine {
    int code = -1;
    bool last = true;
};
SmtpReplyLine ParseSmtpReply(std::string_view line);

}  // namespace vantel::load
