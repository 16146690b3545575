// Properties of the stream processors that must hold however the network cuts the stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/protocol/pop3/Pop3LoginSwap.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/KludgeEntry.h"
#include "core/rewrite/MessageRewriter.h"

namespace vantel {
namespace {

/// The server entry at `index`, or an entry without a login when there is none.
ServerEntry EntryAt(const RelaySettings& settings, int index) {
    return index >= 0 && static_cast<std::size_t>(index) < settings.ServerList.size()
               ? settings.ServerList[static_cast<std::size_t>(index)]
               : ServerEntry{};
}

constexpr int kCases = 300;

/// One relay's settings and rewriter; it is its own notifier, as no kludge here reads a file.
class Relay : public Notifier {
  public:
    RelaySettings settings;
    CRuntimeRandom random{1};
    CachedKludgeFiles kludgeFiles;
    MessageRewriter rewriter{settings, random, *this, kludgeFiles};

    void ShowMessage(std::string_view text) override { ADD_FAILURE() << "notice: " << text; }
};

using Rng = std::mt19937;

std::size_t Pick(Rng& rng, std::size_t count) {
    return rng() % count;
}

bool Chance(Rng& rng, int percent) {
    return static_cast<int>(rng() % 100) < percent;
}

/// Lower case only, so that no "Date:" or "From:" can arise by chance.
std::string Words(Rng& rng, std::size_t length) {
    static constexpr std::string_view kChars = "abcdefghij xyz0123456789<>@.;=\"-_";
    std::string text;
    while (text.size() < length) {
        text += kChars[Pick(rng, kChars.size())];
    }
    return text;
}

struct MessageShape {
    bool dateAndFrom = false;  ///< header lines may name Date: and From:
    bool indentedBody = true;  ///< the body may open with white space
};

std::string HeaderLine(Rng& rng, const MessageShape& shape) {
    static constexpr std::string_view kNames[] = {
        "Subject:",  "To:",      "Cc:",        "Received:", "Message-ID:", "X-Mailer:",
        "Reply-To:", "RCPT TO:", "MAIL FROM:", "USER ",     "PASS ",       "Organization:"};
    static constexpr std::string_view kDateAndFrom[] = {"Date:", "From:"};
    std::string line(shape.dateAndFrom && Chance(rng, 15) ? kDateAndFrom[Pick(rng, 2)]
                                                          : kNames[Pick(rng, std::size(kNames))]);
    line += ' ' + Words(rng, 1 + Pick(rng, 60));
    switch (Pick(rng, 10)) {
        case 0:  // folded
            for (std::size_t folds = 1 + Pick(rng, 3); folds > 0; --folds) {
                line += std::string("\r\n") + " \t\v\f"[Pick(rng, 4)] + Words(rng, Pick(rng, 30));
            }
            break;
        case 1:  // around the longest line that is rewritten, or far too long
            line +=
                Words(rng, Chance(rng, 50) ? StreamState::kMaxLine - 5 - line.size() + Pick(rng, 7)
                                           : 3000 + Pick(rng, 7000));
            break;
        case 2:  // stray CR, LF or NUL inside
            line.insert(Pick(rng, line.size() + 1), 1, "\r\n\0"[Pick(rng, 3)]);
            break;
        default:
            break;
    }
    return line + "\r\n";
}

/// A header, the blank line and a body; the header may end with the stream instead.
std::string Message(Rng& rng, const MessageShape& shape, std::string* body = nullptr) {
    std::string text;
    for (std::size_t lines = Pick(rng, 12); lines > 0; --lines) {
        text += HeaderLine(rng, shape);
    }
    if (body == nullptr && Chance(rng, 10)) {
        return text;
    }
    std::string content;
    if (shape.indentedBody && Chance(rng, 20)) {
        content += " indented\r\n";
    }
    for (std::size_t lines = Pick(rng, 8); lines > 0; --lines) {
        // Body lines that look like header lines, blank lines and the end mark must all pass.
        content += Chance(rng, 30) ? "\r\n" : Chance(rng, 10) ? ".\r\n" : HeaderLine(rng, shape);
    }
    if (Chance(rng, 30)) {
        content += Words(rng, Pick(rng, 20));  // no final line end
    }
    if (body != nullptr) {
        *body = content;
    }
    return text + "\r\n" + content;
}

/// A CR LF followed by a blank or tab: the next line continues this one.
bool IsFold(std::string_view text, std::size_t at) {
    return at >= 2 && at < text.size() && text.substr(at - 2, 2) == "\r\n" &&
           std::string_view(" \t\v\f").find(text[at]) != std::string_view::npos;
}

/// Random blocks: single bytes, small or large pieces, with cuts between CR and LF favoured.
/// Without `atFolds`, no block ends where a folded line goes on.
std::vector<std::string_view> Cut(std::string_view text, Rng& rng, bool atFolds = true) {
    std::vector<std::size_t> cuts;
    const std::size_t style = Pick(rng, 4);
    for (std::size_t at = 0; at < text.size();) {
        at += style == 0 ? 1 : 1 + Pick(rng, style == 1 ? 16 : style == 2 ? 300 : 4000);
        if (at < text.size() && Chance(rng, 30)) {
            const std::size_t cr = text.find('\r', at);
            at = cr == std::string_view::npos ? at : cr + 1 + Pick(rng, 2);
        }
        cuts.push_back(std::min(at, text.size()));
    }
    std::vector<std::string_view> blocks;
    std::size_t from = 0;
    for (std::size_t to : cuts) {
        if (to > from && (atFolds || !IsFold(text, to))) {
            blocks.push_back(text.substr(from, to - from));
            from = to;
        }
    }
    return blocks;
}

/// The first difference, shown briefly: the texts can be many kilobytes long.
::testing::AssertionResult SameText(std::string_view expected, std::string_view actual) {
    if (expected == actual) {
        return ::testing::AssertionSuccess();
    }
    const std::size_t at = static_cast<std::size_t>(
        std::mismatch(expected.begin(), expected.end(), actual.begin(), actual.end()).first -
        expected.begin());
    auto show = [at](std::string_view text) {
        return ::testing::PrintToString(std::string(text.substr(at > 40 ? at - 40 : 0, 80)));
    };
    return ::testing::AssertionFailure()
           << "lengths " << expected.size() << " and " << actual.size() << ", first difference at "
           << at << "\n  expected: " << show(expected) << "\n  actual:   " << show(actual);
}

enum class Processor { Smtp, Pop3Server, Pop3Client };

/// Feeds the blocks as the relay would and returns everything sent, the flushed tail included.
/// With `clearBody`, the other direction sometimes speaks between blocks.
std::string Relayed(Relay& relay, Processor processor, int entryIndex,
                    const std::vector<std::string_view>& blocks, Rng* clearBody = nullptr) {
    StreamState state;
    const ServerEntry entry = EntryAt(relay.settings, entryIndex);
    Pop3LoginSwap login(entry);
    std::string sent;
    for (std::string_view block : blocks) {
        switch (processor) {
            case Processor::Smtp:
                sent += relay.rewriter.ProcessMessageBlock(block, state, KludgeType::SmtpKludge);
                break;
            case Processor::Pop3Server:
                sent += relay.rewriter.ProcessMessageBlock(block, state, KludgeType::Pop3Kludge);
                break;
            case Processor::Pop3Client:
                sent += login.FromClient(block);
                break;
        }
        if (clearBody != nullptr && Chance(*clearBody, 15)) {
            state.inBody = false;
        }
    }
    return sent + (processor == Processor::Pop3Client ? login.Flush()
                                                      : MessageRewriter::FlushStream(state));
}

/// Kludges of every kind but file lines, named after lines of `message`.
void AddRandomKludges(RelaySettings& settings, std::string_view message, Rng& rng, bool emptyNames,
                      KludgeType mode) {
    const std::vector<std::string_view> lines = [&] {
        std::vector<std::string_view> found;
        for (std::size_t at = 0, end; (end = message.find("\r\n", at)) != message.npos;
             at = end + 2) {
            found.push_back(message.substr(at, end - at));
        }
        return found;
    }();
    auto piece = [&](std::size_t maxLength) {
        const std::string_view line = lines.empty() ? "Subject:" : lines[Pick(rng, lines.size())];
        return std::string(FirstWord(line.substr(0, 1 + Pick(rng, maxLength))));
    };
    for (std::size_t i = 1 + Pick(rng, 8); i > 0; --i) {
        std::string name = emptyNames && Chance(rng, 10) ? std::string() : piece(12);
        if (name.empty() && !emptyNames) {
            name = "Subject:";
        }
        const int type = Chance(rng, 80) ? static_cast<int>(mode) : 1 - static_cast<int>(mode);
        static constexpr int kActions[] = {0, 1, 3};
        const int action = kActions[Pick(rng, 3)];
        const std::string signal = piece(6);
        settings.Kludges.push_back(ReadKludge(
            name.empty() ? "" : std::to_string(type) + ' ' + name,
            std::to_string(action) + ' ' + (action == 3 ? signal : Words(rng, Pick(rng, 20)))));
        settings.SpecialKludges.push_back(
            ReadSpecialKludge(signal, std::string(1, "<\" :"[Pick(rng, 4)]) + " X-Lifted"));
    }
}

TEST(RewritePropertyTest, WithoutKludgesEveryProcessorPassesTheStreamThrough) {
    for (int seed = 0; seed < kCases; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Rng rng(static_cast<Rng::result_type>(seed));
        std::string input;
        for (std::size_t messages = 1 + Pick(rng, 3); messages > 0; --messages) {
            input += Message(rng, MessageShape{});
        }
        Relay relay;
        relay.settings.CustomValue = Chance(rng, 50) ? kHiddenModeCode : 0;
        relay.settings.ServerList.resize(1);  // an entry without a stored login
        const std::vector<std::string_view> blocks = Cut(input, rng);
        ASSERT_TRUE(SameText(input, Relayed(relay, Processor::Smtp, 0, blocks, &rng)));
        ASSERT_TRUE(SameText(input, Relayed(relay, Processor::Pop3Server, 0, blocks, &rng)));
        for (int entryIndex : {0, 1, -1}) {
            SCOPED_TRACE("entry " + std::to_string(entryIndex));
            ASSERT_TRUE(
                SameText(input, Relayed(relay, Processor::Pop3Client, entryIndex, blocks, &rng)));
        }
    }
}

TEST(RewritePropertyTest, KludgesNeverTouchTheBody) {
    for (int seed = 0; seed < kCases; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Rng rng(static_cast<Rng::result_type>(seed));
        const bool pop3 = Chance(rng, 50);
        SCOPED_TRACE(pop3 ? "POP3 server stream" : "client stream");
        MessageShape shape;
        shape.dateAndFrom = true;
        std::string body;
        const std::string input = Message(rng, shape, &body);
        Relay relay;
        relay.settings.CustomValue = Chance(rng, 50) ? kHiddenModeCode : 0;
        const KludgeType mode = pop3 ? KludgeType::Pop3Kludge : KludgeType::SmtpKludge;
        AddRandomKludges(relay.settings, input, rng, true, mode);
        const std::string sent =
            Relayed(relay, pop3 ? Processor::Pop3Server : Processor::Smtp, 0, Cut(input, rng));
        const std::string tail = "\r\n" + body;
        ASSERT_GE(sent.size(), tail.size());
        ASSERT_TRUE(SameText(tail, std::string_view(sent).substr(sent.size() - tail.size())));
    }
}

TEST(RewritePropertyTest, OutputDoesNotDependOnHowTheStreamIsCut) {
    for (int seed = 0; seed < kCases; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        Rng rng(static_cast<Rng::result_type>(seed));
        const bool pop3 = Chance(rng, 50);
        SCOPED_TRACE(pop3 ? "POP3 server stream" : "client stream");
        // Date lines are marked by looking at the whole block's output, so they are left out.
        MessageShape shape;
        const std::string input = Message(rng, shape);
        RelaySettings settings;
        settings.CustomValue = Chance(rng, 50) ? kHiddenModeCode : 0;
        const KludgeType mode = pop3 ? KludgeType::Pop3Kludge : KludgeType::SmtpKludge;
        AddRandomKludges(settings, input, rng, false, mode);
        const Processor processor = pop3 ? Processor::Pop3Server : Processor::Smtp;
        Relay whole;
        whole.settings = settings;
        Relay pieces;
        pieces.settings = settings;
        // A line that ends with its block is complete even if a fold follows in the next one:
        // the peer may be waiting for it, so it cannot be held back.
        ASSERT_TRUE(SameText(Relayed(whole, processor, 0, {input}),
                             Relayed(pieces, processor, 0, Cut(input, rng, !pop3))));
    }
}

// A body opening with white space must not be folded into the blank line before it, or the
// body would be rewritten as if it were header.
TEST(RewritePropertyTest, BlankLineBeforeAnIndentedBodyEndsThePop3Header) {
    Relay relay;
    relay.settings.Kludges = PairKludges({"1 Subject:"}, {"1 "});
    StreamState state;
    EXPECT_EQ(relay.rewriter.ProcessMessageBlock("Subject: a\r\n\r\n indented\r\nSubject: b\r\n",
                                                 state, KludgeType::Pop3Kludge),
              std::string_view("\r\n indented\r\nSubject: b\r\n"));
    EXPECT_TRUE(state.inBody);
}

}  // namespace
}  // namespace vantel
