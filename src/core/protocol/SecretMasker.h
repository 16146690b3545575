// Keeps passwords out of the trace.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/config/ServerEntry.h"
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
/// Message text (after DATA, POST, IHAVE, TAKETHIS, BDAT) and IMAP literals of other commands
/// are not commands: nothing in them is masked or taken as one. Lines may arrive in pieces,
/// so each line keeps what its start has shown and whether its rest is a secret. A parser
/// only: the relayed bytes are never touched.
class SecretMasker {
  public:
    /// What a secret shows as.
    static constexpr std::string_view kMask = "****";
    /// Bytes of a line start kept to recognise its command; a line whose command is still
    /// open after this many is taken as no command, or as all secret when its command has one.
    static constexpr std::size_t kMaxHead = 256;

    /// `protocol` is the session entry's type; Smtp entries carry news (NNTP) sessions too.
    explicit SecretMasker(ServerType protocol) : protocol_(DescriptorOf(protocol)) {}

    /// The client's text with each secret replaced by kMask (once per line).
    std::string MaskClientText(std::string_view text);
    /// Follows the server's replies: its challenges and their end, its go-ahead for message
    /// text and for IMAP literals.
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
    void StartLine();
    /// Shows a run of the current line's bytes (no LF among them).
    void TakeContent(std::string_view run, std::string& shown);
    void EndLine();
    void EndCommandLine();
    /// When the line ends in an IMAP literal: its bytes follow, then the line goes on.
    void StartLiteral();
    void ServerLine(std::string_view line);
    bool IsTagged(std::string_view line) const;
    /// Whether the server's `line` ends the SASL exchange in progress.
    bool ExchangeClosed(std::string_view line) const;
    bool ListensToServer() const;

    const ProtocolDescriptor& protocol_;

    // The client's current line.
    bool lineStarted_ = false;
    bool commandLine_ = false;   ///< the line is a command (not a SASL response, not text)
    bool continuation_ = false;  ///< the line goes on after an IMAP literal
    Show show_ = Show::Undecided;
    bool maskShown_ = false;
    std::string head_;  ///< the line's start, secrets excluded, at most kMaxHead bytes
    std::string tail_;  ///< the line's last few bytes, for an IMAP literal's announcement

    // What the client's lines are.
    bool body_ = false;         ///< message text up to the line "."
    std::string_view goAhead_;  ///< the reply code that starts message text; empty: none awaited
    const SaslExchange* exchange_ = nullptr;  ///< the SASL exchange in progress
    std::string tag_;                         ///< the IMAP tag of the last command
    std::uint64_t rawLeft_ = 0;               ///< bytes still to come that are no command line
    bool rawSecret_ = false;
    bool literalAwaited_ = false;  ///< a synchronising IMAP literal waits for the server's "+"

    std::string serverHead_;  ///< the start of the server's current line
};

}  // namespace vantel
