// The fake authorization server as a program of its own, for the end-to-end tests and the
// README's transcript: a mail server validates tokens at its /introspect, a person or a script
// follows its /authorize. Prints its port, then serves until SIGTERM or SIGINT.
//
//   vantel-fake-auth-server [--plain] [--username NAME] [--client-id ID] [--expires-in S]
//                           [--ca FILE]
#include <signal.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>

#include "oauth/FakeAuthServer.h"

int main(int argc, char** argv) {
    vantel::test::FakeAuthServer::Options options;
    std::string caFile;
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasValue = i + 1 < argc;
        if (word == "--plain") {
            options.tls = false;
        } else if (word == "--username" && hasValue) {
            options.username = argv[++i];
        } else if (word == "--client-id" && hasValue) {
            options.clientId = argv[++i];
        } else if (word == "--expires-in" && hasValue) {
            options.expiresIn = std::stoll(argv[++i]);
        } else if (word == "--ca" && hasValue) {
            caFile = argv[++i];
        } else {
            std::fprintf(stderr,
                         "usage: vantel-fake-auth-server [--plain] [--username NAME] "
                         "[--client-id ID] [--expires-in S] [--ca FILE]\n");
            return 2;
        }
    }
    // Blocked before the server's threads start, so that sigwait below is the one to get them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    vantel::test::TestPki pki;
    if (!caFile.empty()) {
        std::ofstream(caFile) << pki.caPem();
    }
    vantel::test::FakeAuthServer server(pki, options);
    std::cout << server.port() << std::endl;
    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
