#include "platform/win32/WinsockSession.h"

#include <winsock2.h>

namespace vantel {

WinsockSession::WinsockSession() {
    WSADATA data{};
    ok_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    if (ok_ && data.wVersion != MAKEWORD(2, 2)) {
        WSACleanup();
        ok_ = false;
    }
}

WinsockSession::~WinsockSession() {
    if (ok_) {
        WSACleanup();
    }
}

}  // namespace vantel
