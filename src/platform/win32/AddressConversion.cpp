#include "platform/win32/AddressConversion.h"

#include <windows.h>

namespace vantel {

std::vector<SocketAddress> LookUpHost(const std::string& host, std::uint16_t port,
                                      std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        // Not gai_strerror: it writes into one static buffer, and lookups run in parallel.
        error = ErrorText(rc);
        return {};
    }
    std::vector<SocketAddress> addresses = AddressesOf(found, port);
    freeaddrinfo(found);
    if (addresses.empty()) {
        error = "no IPv4 or IPv6 address";
    }
    return addresses;
}

std::string ErrorText(int error) {
    switch (error) {
        case WSAECONNREFUSED:
            return "connection refused";
        case WSAETIMEDOUT:
            return "timed out";
        case WSAEHOSTUNREACH:
            return "host unreachable";
        case WSAENETUNREACH:
            return "network unreachable";
        case WSAECONNRESET:
            return "connection reset";
        case WSAEADDRINUSE:
            return "address already in use";
        case WSAEMFILE:
            return "too many open sockets";
        case WSAHOST_NOT_FOUND:
        case WSANO_DATA:
            return "no such host";
        default:
            break;
    }
    char buffer[512];
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' ||
                             text.back() == '.')) {
        text.pop_back();
    }
    if (text.empty()) {
        return "error " + std::to_string(error);
    }
    return text + " (" + std::to_string(error) + ")";
}

}  // namespace vantel
