// What each protocol's words are to the relay, in one place per protocol.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/config/ServerEntry.h"

namespace vantel {

class LoginHost;
class MessageRewriter;
class ProtocolFramer;

/// How a protocol's server answers: this decides where a reply ends and what it says.
enum class ReplyStyle {
    Coded,   ///< "ddd text"; "ddd-text" lines continue the reply (SMTP, news)
    Status,  ///< one line, "+OK" or "-ERR" (POP3)
    Tagged,  ///< untagged "* ..." lines, then one tagged with the command's tag (IMAP)
};

/// How a SASL exchange is driven: the client names a mechanism with `command`, the server
/// challenges with lines starting `challenge`, the client answers each in a line of its own,
/// and the server closes with `success` or `failure`.
struct SaslExchange {
    /// Where the exchange ends for someone only listening in.
    enum class Close {
        OtherReply,  ///< at the first reply that is no challenge
        Status,      ///< at a "+OK" or "-ERR" line
        Tagged,      ///< at the reply tagged as the command was
    };
    std::string_view command;    ///< in capitals, before the mechanism
    std::string_view challenge;  ///< what a server's challenge starts with, its blank included
    std::string_view success;    ///< for Tagged, after the tag and its blank
    std::string_view failure;
    std::string_view cancel;  ///< what the client answers a challenge with to give up
    Close close;
};

/// How the trace's masker takes one client command. Where message text is, the framer tells.
struct MaskedCommand {
    enum class Kind {
        Secret,  ///< a secret follows its shown arguments
        /// The number of bytes it names follows at once and is no command: also where the
        /// framer leaves the count to the server (blanks before BDAT, say).
        Counted,
    };
    std::string_view words;  ///< in capitals; "AUTHINFO PASS" is two words
    Kind kind;
    int shown;                     ///< arguments shown before the secret; -1: it has none
    const SaslExchange* exchange;  ///< the SASL exchange it starts, or null
};

/// Makes the framer of a session with `entry`; message literals above `maxHeldLiteral` bytes
/// pass unrewritten.
using FramerFactory = std::unique_ptr<ProtocolFramer> (*)(const ServerEntry& entry,
                                                          MessageRewriter& rewriter,
                                                          std::size_t maxHeldLiteral);

/// Puts the protocol's authenticator in front of `inner` on an OAuth 2.0 entry.
using AuthenticatorFactory = std::unique_ptr<ProtocolFramer> (*)(
    std::unique_ptr<ProtocolFramer> inner, const ServerEntry& entry, LoginHost& host);

/// The words of one protocol, as data: what the relay says for itself (a refusal, a goodbye,
/// STARTTLS) and what it needs to follow the client's commands without a parser of its own.
struct ProtocolDescriptor {
    std::string_view name;
    ReplyStyle replies;
    /// What starts a line in which the relay, in the server's place, ends the session.
    std::string_view refusal;
    /// What a client says to leave, line end included.
    std::string_view goodbye;
    /// What a greeting that lets the client go on starts with (for Coded, its code).
    std::string_view greeting;
    /// The command asking what the server offers before STARTTLS; empty: the greeting tells.
    std::string_view offersQuery;
    /// The command asking for TLS, tag and line end left out.
    std::string_view startTls;
    /// The reply that lets TLS start (for Tagged, after the tag).
    std::string_view startTlsGoAhead;
    /// Commands start with a tag, and may carry literals ("{n}", "{n+}") of counted bytes.
    bool tagged;
    const MaskedCommand* masked;  ///< what the masker looks for in the client's commands
    std::size_t maskedCount;
    const SaslExchange* sasl;
    /// How the framer that parses the session's traffic is made.
    FramerFactory makeFramer;
    /// How the relay logs in for the client on an OAuth 2.0 entry; null: it cannot.
    AuthenticatorFactory makeAuthenticator;

    /// The line, line end included, that ends a session with `text` (made safe by the caller).
    std::string RefusalLine(std::string_view text) const;
    /// Whether `line`, a complete line of a greeting, is its last.
    bool EndsGreeting(std::string_view line) const;
};

/// The descriptor of `type`; an Smtp entry carries news too, told by `news`.
const ProtocolDescriptor& DescriptorOf(ServerType type, bool news = false);

/// Whether a greeting line is a news server's (200 or 201), where an Smtp entry could be either.
bool GreetsAsNews(std::string_view line);

}  // namespace vantel
