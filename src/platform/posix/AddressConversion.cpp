#include "platform/posix/AddressConversion.h"

#include <netdb.h>

#include <cerrno>
#include <system_error>

namespace vantel {
namespace {

/// System texts start a sentence; in a notice they follow a label.
std::string LowerFirst(std::string text) {
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z' &&
        (text.size() < 2 || !(text[1] >= 'A' && text[1] <= 'Z'))) {
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    }
    return text;
}

}  // namespace

std::vector<SocketAddress> LookUpHost(const std::string& host, std::uint16_t port,
                                      std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0) {
        if (rc == EAI_NONAME || rc == EAI_NODATA) {
            error = "no such host";
        } else {
            error = rc == EAI_SYSTEM ? ErrorText(errno) : LowerFirst(gai_strerror(rc));
        }
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
        case ECONNREFUSED:
            return "connection refused";
        case ETIMEDOUT:
            return "timed out";
        case EHOSTUNREACH:
            return "host unreachable";
        case ENETUNREACH:
            return "network unreachable";
        case ECONNRESET:
            return "connection reset";
        case EADDRINUSE:
            return "address already in use";
        case EMFILE:
        case ENFILE:
            return "too many open files";
        default:
            return LowerFirst(std::system_category().message(error));
    }
}

}  // namespace vantel
