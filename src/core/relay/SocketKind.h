// Which side of which kind of session a relayed socket is.
#pragma once

namespace vantel {

enum class SocketKind : int {
    SendServerSide = 0,  ///< server side of an SMTP/news/IMAP4 session: passes unchanged
    SendClientSide = 1,  ///< its client side: rewritten in SMTP mode
    Pop3ClientSide = 2,  ///< client side of a POP3 session: login replaced
    Pop3ServerSide = 3,  ///< its server side: retrieved mail rewritten in POP3 mode
};

/// IN blocks: what the user sends out, and the mail a POP3 server delivers.
inline bool TracesAsIn(SocketKind kind) {
    return kind == SocketKind::SendClientSide || kind == SocketKind::Pop3ServerSide;
}

inline bool IsClientSide(SocketKind kind) {
    return kind == SocketKind::SendClientSide || kind == SocketKind::Pop3ClientSide;
}

}  // namespace vantel
