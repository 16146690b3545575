// Throughput of the client stream processor on header and body, next to a plain copy of the
// same blocks: the copy is what relaying costs at the least, so figures read as ratios to it.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/MessageRewriter.h"

namespace vantel {
namespace {

constexpr std::size_t kBlockSize = 2048;
constexpr std::size_t kHeaderLines = 40;
constexpr std::size_t kBodySize = 1 << 20;

/// Forty header lines of the usual kinds, most of them named by some kludge, and the blank line.
std::string Header() {
    static constexpr std::string_view kLines[] = {
        "Received: from desk.example.org (desk.example.org [192.0.2.44]) by mx.example.net\r\n",
        "Message-ID: <20250304091244.4f2a77@desk.example.org>\r\n",
        "Date: Tue, 4 Mar 2025 09:12:44 +0100\r\n",
        "From: Anna Berg <anna@example.org>\r\n",
        "To: Ops Team <ops@example.net>\r\n",
        "Subject: Re: ticket #A-1207# printer queue on the third floor\r\n",
        "X-Mailer: Kestrel Mail 3.2 (build 4711)\r\n",
        "MIME-Version: 1.0\r\n",
        "Content-Type: text/plain; charset=us-ascii; format=flowed\r\n",
        "X-Priority: 3 (Normal)\r\n",
    };
    std::string header;
    for (std::size_t i = 0; i < kHeaderLines; ++i) {
        header += kLines[i % std::size(kLines)];
    }
    return header + "\r\n";
}

std::string Body() {
    static constexpr std::string_view kLine =
        "The queue on the third floor is empty again; jobs sent before nine were lost.\r\n";
    std::string body;
    while (body.size() < kBodySize) {
        body += kLine;
    }
    body.resize(kBodySize);
    return body;
}

std::vector<std::string_view> Blocks(std::string_view text) {
    std::vector<std::string_view> blocks;
    for (std::size_t at = 0; at < text.size(); at += kBlockSize) {
        blocks.push_back(text.substr(at, kBlockSize));
    }
    return blocks;
}

/// A relay with `kludges` client stream kludges, changes, deletions and special kludges in
/// turn, none reading a file; it is its own notifier.
class BenchRelay : public Notifier {
  public:
    explicit BenchRelay(int kludges) {
        static constexpr std::string_view kNames[] = {
            "Received:", "Message-ID:",   "To:",         "Subject:",      "X-Mailer:",
            "X-Face:",   "Organization:", "X-Priority:", "Content-Type:", "Reply-To:"};
        for (int i = 0; i < kludges; ++i) {
            KludgeRecord kludge{0, std::string(kNames[i % std::size(kNames)]), 0, "replaced text"};
            switch (i % 3) {
                case 0:
                    break;
                case 1:
                    kludge.action = 1;
                    kludge.text.clear();
                    break;
                default:
                    kludge.action = 3;
                    kludge.text = "ticket";
                    break;
            }
            settings.Kludges.push_back(std::move(kludge));
        }
        settings.SpecialKludges = {{"ticket", "#", "X-Ticket:"}};
    }

    void ShowMessage(std::string_view) override {}

    RelaySettings settings;
    CRuntimeRandom random{1};
    CachedKludgeFiles kludgeFiles;
    MessageRewriter rewriter{settings, random, *this, kludgeFiles};
};

/// Passes every block through `pass` and copies what comes out into `sink`, as the relay
/// copies into its socket buffer.
template <typename Pass>
void SendAll(const std::vector<std::string_view>& blocks, std::vector<char>& sink, Pass pass) {
    std::size_t sent = 0;
    for (std::string_view block : blocks) {
        const std::string_view out = pass(block);
        std::memcpy(sink.data() + sent, out.data(), out.size());
        sent += out.size();
    }
    benchmark::DoNotOptimize(sink.data());
    benchmark::ClobberMemory();
}

/// Room for everything sent, even if the kludges lengthen the text.
std::vector<char> Sink(std::size_t size) {
    return std::vector<char>(2 * size + kBlockSize);
}

void Copy(benchmark::State& state, const std::string& text) {
    const std::vector<std::string_view> blocks = Blocks(text);
    std::vector<char> sink = Sink(text.size());
    for (auto _ : state) {
        SendAll(blocks, sink, [](std::string_view block) { return block; });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_CopyHeader(benchmark::State& state) {
    Copy(state, Header());
}
BENCHMARK(BM_CopyHeader);

void BM_CopyBody(benchmark::State& state) {
    Copy(state, Body());
}
BENCHMARK(BM_CopyBody);

void BM_RewriteHeader(benchmark::State& state) {
    BenchRelay relay(static_cast<int>(state.range(0)));
    const std::string header = Header();
    const std::vector<std::string_view> blocks = Blocks(header);
    std::vector<char> sink = Sink(header.size());
    for (auto _ : state) {
        StreamState stream;
        SendAll(blocks, sink, [&](std::string_view block) {
            return relay.rewriter.ProcessMessageBlock(block, stream, KludgeType::SmtpKludge);
        });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * header.size()));
}
BENCHMARK(BM_RewriteHeader)->Arg(0)->Arg(20);

void BM_RewriteBody(benchmark::State& state) {
    BenchRelay relay(static_cast<int>(state.range(0)));
    const std::string header = Header();
    const std::string body = Body();
    const std::vector<std::string_view> blocks = Blocks(body);
    std::vector<char> sink = Sink(body.size());
    StreamState stream;
    for (std::string_view block : Blocks(header)) {
        relay.rewriter.ProcessMessageBlock(block, stream, KludgeType::SmtpKludge);
    }
    if (!stream.inBody) {
        state.SkipWithError("the header did not end");
        return;
    }
    for (auto _ : state) {
        SendAll(blocks, sink, [&](std::string_view block) {
            return relay.rewriter.ProcessMessageBlock(block, stream, KludgeType::SmtpKludge);
        });
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_RewriteBody)->Arg(0)->Arg(20);

}  // namespace
}  // namespace vantel
