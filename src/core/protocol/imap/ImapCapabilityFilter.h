// The capabilities an IMAP client must not see through the relay.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vantel {

/// Finds capability lists in a server's lines and takes COMPRESS=... out of them: once a
/// client compresses its stream, no kludge can apply to what it saves, and the relay would
/// read compressed bytes as text. Lists come as a CAPABILITY response ("* CAPABILITY ...")
/// and as a response code of a status response ("* OK [CAPABILITY ...] ready", "a1 OK
/// [CAPABILITY ...] Logged in").
class ImapCapabilityFilter {
  public:
    enum class Shape { No, Maybe, Yes };
    /// The longest tag taken for one.
    static constexpr std::size_t kMaxTag = 64;
    /// What a client that asks to compress all the same is told, after its tag.
    static constexpr std::string_view kRefusalText =
        " NO [CANNOT] COMPRESS is not available through the relay\r\n";

    /// Whether a server line that starts with `head` holds a capability list: Maybe while the
    /// start is too short to tell.
    static Shape Classify(std::string_view head);
    /// `line`, which Classify found to hold a list, without its COMPRESS capabilities and,
    /// when the relay has `secured` the connection, without STARTTLS and LOGINDISABLED (a
    /// server may name them over TLS by mistake; the client would try to upgrade again or
    /// think it may not log in). Every other byte stays.
    static std::string WithoutCompress(std::string_view line, bool secured = false);
    /// A greeting without its [CAPABILITY ...] response code, which holds before TLS only;
    /// `listed`: it had one, `offersStartTls`: the list named STARTTLS.
    static std::string WithoutCapabilityCode(std::string_view line, bool& listed,
                                             bool& offersStartTls);
};

}  // namespace vantel
