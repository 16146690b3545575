// vantel-load: fake mail servers and measuring clients, for benchmarking the relay against a
// direct connection and a plain forwarder. Every mode prints one line of key=value fields.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "LoadBurst.h"
#include "LoadClients.h"
#include "LoadServers.h"
#include "platform/posix/SignalWatcher.h"

namespace {

using vantel::load::Outcome;

constexpr double kMiB = 1024.0 * 1024.0;
/// Header lines and body bytes of the messages the `messages` mode sends.
constexpr int kMessageHeaderLines = 50;
constexpr std::size_t kShortBodyBytes = 234;

void PrintUsage(std::FILE* out) {
    std::fputs(
        "Usage: vantel-load MODE ARGS... [--timeout SECONDS] [--stop-after SECONDS]\n"
        "Fake servers (run until SIGTERM/SIGINT or the timeout, default 3600 s):\n"
        "  smtp-server PORT        SMTP that accepts and discards every message\n"
        "  pop3-server PORT SIZE   POP3 whose message 1 is SIZE bytes long\n"
        "Clients (on 127.0.0.1; give up after the timeout, default 120 s):\n"
        "  smtp-send PORT SIZE     one message with a SIZE-byte body: MiB/s from DATA to 250\n"
        "  pop3-retr PORT          RETR of message 1: MiB/s from RETR to the final dot\n"
        "  sessions PORT COUNT     COUNT sequential greeting/QUIT sessions: sessions/s\n"
        "  concurrent PORT COUNT   COUNT sessions open at once, EHLO/QUIT: how many succeeded\n"
        "  messages PORT COUNT     COUNT messages of 50 header lines in one session: messages/s\n"
        "                          (with --stop-after: no new message after that many seconds;\n"
        "                          --body BYTES: bodies of that size, 234 bytes by default)\n"
        "  burst PORT COUNT        COUNT SMTP clients connecting at once, from --sources N\n"
        "                          loopback addresses (8): the greeting's p99 in ms, how many\n"
        "                          had EHLO answered with all open (held=) and the p50\n"
        "Each prints one line: MODE ok=0|1 value=... unit=... and details.\n",
        out);
}

/// A whole decimal number in [min, max]; false when `text` is anything else.
bool ParseNumber(const char* text, unsigned long long min, unsigned long long max,
                 unsigned long long& value) {
    if (text == nullptr || *text < '0' || *text > '9') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text, &end, 10);
    return errno == 0 && *end == '\0' && value >= min && value <= max;
}

void PrintOutcome(const std::string& mode, const Outcome& outcome, double value, const char* unit) {
    std::printf("%s ok=%d value=%.2f unit=%s seconds=%.4f succeeded=%ld failed=%ld bytes=%.0f",
                mode.c_str(), outcome.ok ? 1 : 0, outcome.ok || outcome.succeeded > 0 ? value : 0.0,
                unit, outcome.seconds, outcome.succeeded, outcome.failed, outcome.bytes);
    if (!outcome.error.empty()) {
        std::printf(" error=\"%s\"", outcome.error.c_str());
    }
    std::printf("\n");
    std::fflush(stdout);
}

int RunServer(const std::string& mode, std::uint16_t port, std::size_t size,
              std::uint32_t lifetimeSeconds) {
    const std::unique_ptr<vantel::EventLoop> loop = vantel::CreateEventLoop();
    if (!loop) {
        std::printf("%s ok=0 error=\"no event loop\"\n", mode.c_str());
        return 1;
    }
    // Before any other thread, so that the signals reach only the watcher.
    vantel::SignalWatcher signals(
        *loop, [] {}, [&loop] { loop->Quit(); });
    std::unique_ptr<vantel::load::FakeServer> server;
    if (mode == "smtp-server") {
        server = std::make_unique<vantel::load::FakeSmtpServer>(*loop);
    } else {
        server = std::make_unique<vantel::load::FakePop3Server>(*loop, size);
    }
    std::string error;
    if (!server->Listen(port, error)) {
        std::printf("%s ok=0 error=\"%s\"\n", mode.c_str(), error.c_str());
        return 1;
    }
    loop->StartTimer(lifetimeSeconds * 1000, false, [&loop] { loop->Quit(); });
    loop->Run();
    std::printf("%s ok=1 port=%u sessions=%ld messages=%ld\n", mode.c_str(),
                static_cast<unsigned>(server->port()), server->sessions(), server->messages());
    return 0;
}

/// What the options of the client modes say.
struct ClientOptions {
    std::uint32_t timeoutSeconds = 120;
    double stopAfterSeconds = 0;
    std::size_t bodyBytes = kShortBodyBytes;
    int sources = 8;
};

int RunBurst(std::uint16_t port, long count, const ClientOptions& options) {
    const vantel::load::BurstOutcome outcome =
        vantel::load::RunBurst(port, count, options.sources, options.timeoutSeconds * 1000 / 2);
    const bool ok = outcome.held == count && outcome.quit == count;
    std::printf(
        "burst ok=%d value=%.2f unit=ms p50=%.2f held=%ld quit=%ld failed=%ld "
        "seconds=%.4f succeeded=%ld",
        ok ? 1 : 0, outcome.p99Ms, outcome.p50Ms, outcome.held, outcome.quit, outcome.failed,
        outcome.seconds, outcome.held);
    if (!outcome.error.empty()) {
        std::printf(" error=\"%s\"", outcome.error.c_str());
    }
    std::printf("\n");
    return ok ? 0 : 1;
}

int RunClient(const std::string& mode, std::uint16_t port, unsigned long long number,
              const ClientOptions& options) {
    if (mode == "burst") {
        return RunBurst(port, static_cast<long>(number), options);
    }
    const std::unique_ptr<vantel::EventLoop> loop = vantel::CreateEventLoop();
    if (!loop) {
        std::printf("%s ok=0 error=\"no event loop\"\n", mode.c_str());
        return 1;
    }
    Outcome outcome;
    bool finished = false;
    auto done = [&](const Outcome& result) {
        outcome = result;
        finished = true;
        loop->Quit();
    };
    const std::uint32_t timeoutMs = options.timeoutSeconds * 1000;
    const long count = static_cast<long>(number);
    std::unique_ptr<vantel::load::Scenario> scenario;
    double scale = 1;
    const char* unit = "";
    if (mode == "smtp-send") {
        // A short header, so that the body passes the relay as a body.
        auto message = std::make_shared<const std::string>(
            vantel::load::DotTerminated(vantel::load::MakeMessage(8, 1, number)));
        scenario = std::make_unique<vantel::load::SmtpMailer>(
            *loop, port, 1, [message](long) { return message; }, true, timeoutMs, done);
        scale = 1 / kMiB;
        unit = "MiB/s";
    } else if (mode == "pop3-retr") {
        scenario = std::make_unique<vantel::load::Pop3Retriever>(*loop, port, timeoutMs, done);
        scale = 1 / kMiB;
        unit = "MiB/s";
    } else if (mode == "sessions") {
        scenario =
            std::make_unique<vantel::load::SequentialSessions>(*loop, port, count, timeoutMs, done);
        unit = "sessions/s";
    } else if (mode == "concurrent") {
        scenario =
            std::make_unique<vantel::load::ConcurrentSessions>(*loop, port, count, timeoutMs, done);
        unit = "succeeded";
    } else {
        auto mailer = std::make_unique<vantel::load::SmtpMailer>(
            *loop, port, count,
            [body = options.bodyBytes](long serial) {
                return std::make_shared<const std::string>(vantel::load::DotTerminated(
                    vantel::load::MakeMessage(kMessageHeaderLines, serial, body)));
            },
            false, timeoutMs, done);
        mailer->StopAfter(options.stopAfterSeconds);
        scenario = std::move(mailer);
        unit = "messages/s";
    }
    scenario->Start();
    if (!finished) {
        loop->Run();
    }
    double value = 0;
    if (mode == "concurrent") {
        value = static_cast<double>(outcome.succeeded);
    } else if (outcome.seconds > 0) {
        value = outcome.amount * scale / outcome.seconds;
    }
    PrintOutcome(mode, outcome, value, unit);
    return outcome.ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    unsigned long long timeout = 0;
    unsigned long long stopAfter = 0;
    unsigned long long body = kShortBodyBytes;
    unsigned long long sources = 8;
    // Each option's value and its bounds.
    const struct {
        const char* name;
        unsigned long long* value;
        unsigned long long min, max;
    } numeric[] = {{"--timeout", &timeout, 1, 86400},
                   {"--stop-after", &stopAfter, 1, 86400},
                   {"--body", &body, 0, 1ull << 30},
                   {"--sources", &sources, 1, 250}};
    for (int i = 1; i < argc; ++i) {
        bool option = false;
        for (const auto& n : numeric) {
            if (std::strcmp(argv[i], n.name) == 0 && i + 1 < argc) {
                option = true;
                if (!ParseNumber(argv[++i], n.min, n.max, *n.value)) {
                    PrintUsage(stderr);
                    return 2;
                }
                break;
            }
        }
        if (option) {
            continue;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        }
        args.emplace_back(argv[i]);
    }
    const std::string mode = args.empty() ? std::string() : args[0];
    const bool server = mode == "smtp-server" || mode == "pop3-server";
    const bool client = mode == "smtp-send" || mode == "pop3-retr" || mode == "sessions" ||
                        mode == "concurrent" || mode == "messages" || mode == "burst";
    const std::size_t wanted = mode == "smtp-server" || mode == "pop3-retr" ? 2 : 3;
    unsigned long long port = 0;
    unsigned long long number = 0;
    // Sizes up to 1 GiB, counts up to a million: enough for any benchmark, and bounded.
    const unsigned long long maxNumber =
        mode == "pop3-server" || mode == "smtp-send" ? (1ull << 30) : 1000000;
    if ((!server && !client) || args.size() != wanted ||
        !ParseNumber(args[1].c_str(), server ? 0 : 1, 65535, port) ||
        (wanted == 3 && !ParseNumber(args[2].c_str(), 1, maxNumber, number))) {
        PrintUsage(stderr);
        return 2;
    }
    if (server) {
        return RunServer(mode, static_cast<std::uint16_t>(port), number,
                         static_cast<std::uint32_t>(timeout != 0 ? timeout : 3600));
    }
    ClientOptions options;
    options.timeoutSeconds = static_cast<std::uint32_t>(timeout != 0 ? timeout : 120);
    options.stopAfterSeconds = static_cast<double>(stopAfter);
    options.bodyBytes = static_cast<std::size_t>(body);
    options.sources = static_cast<int>(sources);
    return RunClient(mode, static_cast<std::uint16_t>(port), number, options);
}
