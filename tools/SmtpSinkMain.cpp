// vantel-smtp-sink: accepts mail on a loopback port and prints each message.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "SmtpSink.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fputs(
            "Usage: vantel-smtp-sink PORT [COUNT]\n"
            "Prints each message received on 127.0.0.1:PORT; stops after COUNT.\n",
            stderr);
        return 2;
    }
    const int port = std::atoi(argv[1]);
    const int count = argc > 2 ? std::atoi(argv[2]) : 0;
    const auto loop = vantel::CreateEventLoop();
    int received = 0;
    vantel::SmtpSink sink(*loop, [&](const std::string& message) {
        std::fwrite(message.data(), 1, message.size(), stdout);
        std::fflush(stdout);
        if (++received == count) {
            loop->Quit();
        }
    });
    std::string error;
    if (port <= 0 || port > 65535 || !sink.Listen(static_cast<std::uint16_t>(port), error)) {
        std::fprintf(stderr, "vantel-smtp-sink: cannot listen on port %d: %s\n", port,
                     error.c_str());
        return 1;
    }
    loop->Run();
    return 0;
}
