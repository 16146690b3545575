// What a framer tells of the client's bytes it sends on.
#pragma once

#include <string_view>

namespace vantel {

/// Hears from a framer, in the order the bytes go to the server, what each run of them is as
/// the framer parsed the client's stream, so that nobody else has to parse it again.
class ClientStreamObserver {
  public:
    enum class Run {
        Command,    ///< command lines, or lines that answer the server (SASL); any piece of them
        Continued,  ///< the rest of an IMAP command's line after one of its literals
        Argument,   ///< the bytes of an IMAP literal: part of the command announcing it
        Text,       ///< message text or a BDAT chunk: no command, whatever it holds
    };

    /// `bytes` go to the server now, as `run`.
    virtual void ClientSent(Run run, std::string_view bytes) = 0;

  protected:
    ~ClientStreamObserver() = default;
};

}  // namespace vantel
