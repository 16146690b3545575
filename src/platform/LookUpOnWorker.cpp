#include "platform/LookUpOnWorker.h"

#include <system_error>
#include <thread>

namespace vantel {

void LookUpOnWorker(const std::shared_ptr<PostQueue>& posts, LookUpFunction lookUp,
                    const std::string& host, std::uint16_t port, EventLoop::ResolveCallback done) {
    // A literal address needs no lookup, and no thread for one.
    SocketAddress literal;
    if (SocketAddress::ParseIPv4(host, port, literal)) {
        posts->Push([done = std::move(done), literal] { done({literal}, std::string()); });
        return;
    }
    auto work = [posts, lookUp, host, port, done]() mutable {
        std::string error;
        std::vector<SocketAddress> addresses = lookUp(host, port, error);
        posts->Push(
            [done = std::move(done), addresses = std::move(addresses),
             error = std::move(error)]() mutable { done(std::move(addresses), std::move(error)); });
    };
    try {
        // Detached: joining at destruction would wait out a slow name server.
        std::thread(std::move(work)).detach();
    } catch (const std::system_error& e) {
        posts->Push([done = std::move(done), host, what = std::string(e.what())] {
            done({}, "cannot resolve " + host + ": " + what);
        });
    }
}

}  // namespace vantel
