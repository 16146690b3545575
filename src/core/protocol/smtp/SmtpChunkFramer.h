// Where the BDAT chunks are in what an SMTP client sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantel {

/// Cuts an SMTP client stream into text the rewriter may change and BDAT chunks: a chunk is
/// counted, not ended by a line, so a single byte added to it would corrupt the transaction.
/// Follows the commands: after "BDAT <n> [LAST]" the next n bytes are a chunk; after DATA (or
/// a news client's POST or IHAVE) and the server's 3xx go-ahead, and at once after TAKETHIS,
/// the message or article runs to its "." line and no command is looked for inside it; nor in
/// the lines answering a SASL exchange's challenges after AUTH. Lines end
/// with CR LF, as for the rewriter, so a cut after a command line falls where the rewriter holds
/// nothing back. Holds no bytes itself.
class SmtpChunkFramer {
  public:
    /// Command lines longer than this, CR LF included, are never taken for DATA or BDAT.
    static constexpr std::size_t kMaxCommandLine = 512;

    /// How many leading bytes of `text` (the client's next bytes) go together: chunk bytes
    /// (`chunk` set) to pass exactly as they are, or text up to and including a BDAT command
    /// line, or up to where a message (as inMessage tells) starts or ends, or the whole of
    /// `text`. Not 0 unless `text` is empty.
    std::size_t Next(std::string_view text, bool& chunk);

    /// Whether the bytes Next cuts off next are message text up to its "." line.
    bool inMessage() const { return mode_ == Mode::Message; }

    /// Follows the server's replies: DATA's 354 (POST's 340, IHAVE's 335) means the message
    /// follows; a reply that is no 334 (383) ends a SASL exchange.
    void ServerSent(std::string_view text);

    /// Chunk bytes still to come.
    std::uint64_t chunkLeft() const { return chunkLeft_; }

  private:
    enum class Mode {
        Commands,    ///< command lines
        DataAnswer,  ///< DATA, POST or IHAVE was sent: its reply decides whether text follows
        /// AUTH (news: AUTHINFO SASL) was sent: the client's lines answer the server's
        /// challenges, whatever they read like, up to a reply that is no challenge.
        Sasl,
        Message,  ///< message text up to the "." line
        Chunk,    ///< the bytes of a BDAT chunk
    };

    /// In a message: where in `text` line-by-line reading must go on from `at`, past the
    /// lines that cannot be its "." line (a large message then costs a search for dots, not a
    /// look at every line).
    std::size_t SkipMessageText(std::string_view text, std::size_t at);
    /// Adds one piece of the current line, ending at the latest with its LF.
    void Keep(std::string_view piece);
    /// The current line ended with CR LF; true when a chunk follows it.
    bool LineEnded();
    /// Adds to serverHead_ what `piece`, more of the server's current line, adds to its code.
    void KeepServerHead(std::string_view piece);
    /// What the server's current line, its code as far as serverHead_ holds it, tells.
    void ServerLineCode(bool lineEnded);

    static constexpr std::size_t kCodeLength = 3;

    Mode mode_ = Mode::Commands;
    std::uint64_t chunkLeft_ = 0;
    std::string line_;  ///< the current line, while short enough to matter
    bool lineTooLong_ = false;
    bool crLast_ = false;  ///< the last byte taken was a CR: an LF next ends the line
    /// While DataAnswer, the reply code that lets text follow; while Sasl, a challenge's.
    std::string_view awaited_;
    std::string serverHead_;  ///< the server's current line's code, as far as it came
};

}  // namespace vantel
