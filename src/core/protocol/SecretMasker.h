// Keeps passwords out of the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/config/ServerEntry.h"
#include "core/protocol/ClientStreamObserver.h"
#include "core/protocol/ProtocolDescriptor.h"

namespace vantel {

/// Follows one session's commands and replies to find what the client sends as a secret, as
/// the protocol's descriptor lists its commands and SASL exchanges:
///  - SMTP: the initial response of AUTH and the lines answering the 334 challenges;
///  - news: the argument of AUTHINFO PASS, the initial response of AUTHINFO SASL and the
///    lines answering the 383 challenges;
///  - POP3: the argument of PASS, the digest of APOP, the initial response of AUTH and the
///    lines answering the "+ " challenges;
///  - IMAP: the arguments of LOGIN (literals included), the initial response of AUTHENTICATE
///    and the lines answering the "+ " challenges, up to the tagged completion.
/// Where message text and literals are, the framer tells as it sends the client's bytes on
/// (ClientStreamObserver): nothing in message text is masked or taken as a command, and a
/// literal is as secret as its command. Lines may arrive in pieces, so each line keeps what its
/// start has shown and whether its rest is a secret. The relayed bytes are never touched.
class SecretMasker final : public ClientStreamObserver {
  public:
    /// What a secret shows as.
    static constexpr std::string_view kMask = "****";
    /// Bytes of a line start kept to recognise its command; a line whose command is still
    /// open after this many is taken as no command, or as all secret when its command has one.
    static constexpr std::size_t kMaxHead = 256;

    /// `protocol` is the session entry's type; Smtp entries carry news (NNTP) sessions too.
    explicit SecretMasker(ServerType protocol) : protocol_(DescriptorOf(protocol)) {}

    /// The client's bytes the framer sent on, as the trace shows them.
    void ClientSent(Run run, std::string_view bytes) override;
    /// What the trace shows of the client's bytes sent since the last call.
    std::string TakeShown();
    /// Follows the server's replies: its challenges and their end.
    void ServerReplied(std::string_view text);

  private:
    enum class Show { Undecided, Plain, Secret };
    /// What the start of a command line tells.
    struct Reading {
        Show show = Show::Plain;
        const MaskedCommand* command = nullptr;
        bool arguments = false;  ///< its shown arguments are there (a mechanism is named)
    };

    /// Reads a command line's start; `complete`: the whole line, its line end taken off.
    Reading Read(std::string_view head, bool complete) const;
    /// Shows command lines, or the rest of one after a literal.
    void TakeLines(std::string_view text);
    void StartLine();
    /// Shows a run of the current line's bytes (no LF among them).
    void TakeContent(std::string_view run);
    void EndLine();
    void EndCommandLine();
    void TakeLiteral(std::string_view bytes);
    void ServerLine(std::string_view line);
    bool IsTagged(std::string_view line) const;
    /// Whether the server's `line` ends the SASL exchange in progress.
    bool ExchangeClosed(std::string_view line) const;

    const ProtocolDescriptor& protocol_;
    std::string shown_;  ///< what the trace shows of the bytes sent since TakeShown

    // The client's current line.
    bool lineStarted_ = false;
    bool commandLine_ = false;  ///< a command's first line (no SASL response, no continuation)
    Show show_ = Show::Undecided;
    bool maskShown_ = false;
    std::string head_;  ///< the line's start, secrets excluded, at most kMaxHead bytes

    // What the client's lines are.
    bool lastSecret_ = false;  ///< the last line ended in a secret: so are literals after it
    bool inLiteral_ = false;   ///< bytes of a literal came since the last line
    const SaslExchange* exchange_ = nullptr;  ///< the SASL exchange in progress
    std::string tag_;                         ///< the IMAP tag of the last command
    std::uint64_t countedLeft_ = 0;           ///< bytes a BDAT line counted, still to come

    std::string serverHead_;  ///< the start of the server's current line
};

}  // namespace vantel
