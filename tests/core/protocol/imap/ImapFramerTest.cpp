#include "core/protocol/imap/ImapFramer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeNotifier.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/MessageRewriter.h"

namespace vantel {
namespace {

/// One side's bytes; the client's are cut anywhere, the server's too.
struct Step {
    bool client;
    std::string bytes;
};
struct Outcome {
    std::string toServer;
    std::string toClient;
};
constexpr std::size_t kByBytes = std::string::npos;

Step C(std::string bytes) {
    return {true, std::move(bytes)};
}
Step S(std::string bytes) {
    return {false, std::move(bytes)};
}

/// Plays `steps` through a framer whose rewriter has no kludges: it only marks Date lines
/// (a second blank before the zone), which is enough to tell rewritten text from passed text.
/// Each step is fed in two pieces cut at `cut`, or one byte at a time.
Outcome Play(const std::vector<Step>& steps, std::size_t cut) {
    RelaySettings settings;
    CRuntimeRandom random{1};
    test::FakeNotifier notifier;
    CachedKludgeFiles files;
    MessageRewriter rewriter(settings, random, notifier, files);
    ImapFramer framer(rewriter);
    Outcome out;
    const auto feed = [&](const Step& step, std::string_view bytes) {
        if (step.client) {
            framer.FromClient(bytes, out.toServer, out.toClient);
        } else {
            framer.FromServer(bytes, out.toClient, out.toServer);
        }
    };
    for (const Step& step : steps) {
        const std::string_view bytes = step.bytes;
        if (cut == kByBytes) {
            for (std::size_t i = 0; i < bytes.size(); ++i) {
                feed(step, bytes.substr(i, 1));
            }
        } else {
            const std::size_t at = std::min(cut, bytes.size());
            feed(step, bytes.substr(0, at));
            feed(step, bytes.substr(at));
        }
    }
    return out;
}

const std::string kMessage = "Date: Mon, 1 Jan 2024 10:00:00 +0000\r\nSubject: t\r\n\r\nbody\r\n";
const std::string kRewritten =
    "Date: Mon, 1 Jan 2024 10:00:00  +0000\r\nSubject: t\r\n\r\nbody\r\n";

std::string Count(const std::string& text, std::string_view sync = "") {
    return "{" + std::to_string(text.size()) + std::string(sync) + "}\r\n";
}

TEST(ImapFramerTest, LiteralsAreCountedAndOnlyAppendedMessagesRewrittenWhereverTheBytesAreCut) {
    const std::string ready(ImapFramer::kReadyText);
    struct Case {
        const char* what;
        std::vector<Step> steps;
        Outcome expected;
    };
    const Case cases[] = {
        {"a command line goes through the rewriter",
         {C("a1 SEARCH Date: a b\r\n"), S("a1 OK\r\n")},
         {"a1 SEARCH Date: a  b\r\n", "a1 OK\r\n"}},
        {"{n}: the server's go-ahead reaches the client, the literal is not read as lines",
         {C("a1 LOGIN {5}\r\n"), S("+ go\r\n"), C("alice {11}\r\n"), S("+ go\r\n"),
          C("Date: a b\r\n\r\n"), S("a1 OK\r\n")},
         {"a1 LOGIN {5}\r\nalice {11}\r\nDate: a b\r\n\r\n", "+ go\r\n+ go\r\na1 OK\r\n"}},
        {"{n+}: the literal follows at once; the line goes on after it",
         {C("a1 SEARCH TEXT {9+}\r\nDate: a b UNSEEN\r\n"), S("a1 OK\r\n")},
         {"a1 SEARCH TEXT {9+}\r\nDate: a b UNSEEN\r\n", "a1 OK\r\n"}},
        {"APPEND {n}: the relay gives the go-ahead, recounts and swallows the server's",
         {C("a1 APPEND Sent " + Count(kMessage)), C(kMessage + "\r\n"), S("+ go ahead\r\n"),
          S("a1 OK done\r\n")},
         {"a1 APPEND Sent " + Count(kRewritten) + kRewritten + "\r\n", ready + "a1 OK done\r\n"}},
        {"APPEND {n+}: recounted with the same kind of announcement",
         {C("a2 APPEND Sent (\\Seen) " + Count(kMessage, "+") + kMessage + "\r\n"),
          S("a2 OK done\r\n")},
         {"a2 APPEND Sent (\\Seen) " + Count(kRewritten, "+") + kRewritten + "\r\n",
          "a2 OK done\r\n"}},
        {"a refused APPEND takes its literal along; the next command still counts",
         {C("a1 APPEND Missing " + Count(kMessage)), C(kMessage + "\r\n"),
          S("a1 NO [TRYCREATE] no\r\n"), C("a2 NOOP\r\n"), S("a2 OK\r\n")},
         {"a1 APPEND Missing " + Count(kRewritten) + "a2 NOOP\r\n",
          ready + "a1 NO [TRYCREATE] no\r\na2 OK\r\n"}},
        {"COMPRESS is neither offered nor let through",
         {S("* OK [CAPABILITY IMAP4rev1 COMPRESS=DEFLATE IDLE] hi\r\n"),
          C("a1 COMPRESS DEFLATE\r\n"), C("a2 NOOP\r\n"), S("a2 OK\r\n")},
         {"a2 NOOP\r\n",
          "* OK [CAPABILITY IMAP4rev1 IDLE] hi\r\na1 NO [CANNOT] COMPRESS is not available "
          "through the relay\r\na2 OK\r\n"}},
        {"a server's literal is not taken for a go-ahead or a capability list",
         {S("* 1 FETCH (BODY[] {29}\r\n+ go\r\n* CAPABILITY COMPRESS\r\n)\r\n")},
         {"", "* 1 FETCH (BODY[] {29}\r\n+ go\r\n* CAPABILITY COMPRESS\r\n)\r\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::size_t longest = 0;
        for (const Step& step : c.steps) {
            longest = std::max(longest, step.bytes.size());
        }
        for (std::size_t cut = 0; cut <= longest + 1; ++cut) {
            const std::size_t at = cut > longest ? kByBytes : cut;
            const Outcome out = Play(c.steps, at);
            ASSERT_EQ(out.toServer, c.expected.toServer) << "cut at " << cut;
            ASSERT_EQ(out.toClient, c.expected.toClient) << "cut at " << cut;
        }
    }
}

}  // namespace
}  // namespace vantel
