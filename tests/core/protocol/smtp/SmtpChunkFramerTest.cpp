#include "core/protocol/smtp/SmtpChunkFramer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace vantel {
namespace {

/// What the client sends, step by step; a step starting with '<' is the server's text.
using Steps = std::vector<std::string>;
constexpr std::size_t kByBytes = std::string::npos;

/// The client's bytes with every chunk in braces, fed in two pieces cut at `cut` (counted
/// over all of the client's bytes), or one byte at a time.
std::string Framed(const Steps& steps, std::size_t cut) {
    SmtpChunkFramer framer;
    std::string out;
    bool inChunk = false;
    const auto feed = [&](std::string_view text) {
        while (!text.empty()) {
            bool chunk = false;
            const std::size_t n = framer.Next(text, chunk);
            if (n == 0 || n > text.size()) {
                ADD_FAILURE() << "took " << n << " of " << text.size() << " bytes";
                return;
            }
            if (chunk != inChunk) {
                out += chunk ? '{' : '}';
                inChunk = chunk;
            }
            out.append(text.substr(0, n));
            text.remove_prefix(n);
        }
    };
    std::size_t seen = 0;
    for (const std::string& step : steps) {
        if (step[0] == '<') {
            framer.ServerSent(std::string_view(step).substr(1));
            continue;
        }
        if (cut == kByBytes) {
            for (std::size_t i = 0; i < step.size(); ++i) {
                feed(std::string_view(step).substr(i, 1));
            }
        } else {
            const std::size_t at = cut > seen ? std::min(cut - seen, step.size()) : 0;
            feed(std::string_view(step).substr(0, at));
            feed(std::string_view(step).substr(at));
        }
        seen += step.size();
    }
    return inChunk ? out + '}' : out;
}

/// The same framing wherever the client's bytes are cut.
void ExpectFramed(const Steps& steps, const std::string& expected) {
    std::size_t total = 0;
    for (const std::string& step : steps) {
        total += step[0] == '<' ? 0 : step.size();
    }
    for (std::size_t cut = 0; cut <= total; ++cut) {
        ASSERT_EQ(Framed(steps, cut), expected) << "cut at " << cut;
    }
    EXPECT_EQ(Framed(steps, kByBytes), expected) << "byte by byte";
}

TEST(SmtpChunkFramerTest, ChunksPassAsCountedBytesAndCommandsFollowThem) {
    // The chunks hold what would be commands, a blank line and a line cut in two.
    ExpectFramed({"EHLO x\r\nMAIL FROM:<a@b>\r\nBDAT 16\r\nX: 1\r\nDATA\r\nSubjbdat 16 last\r\n"
                  "ect: a\r\n\r\nBDAT 1\r\nQUIT\r\n"},
                 "EHLO x\r\nMAIL FROM:<a@b>\r\nBDAT 16\r\n{X: 1\r\nDATA\r\nSubj}bdat 16 last\r\n"
                 "{ect: a\r\n\r\nBDAT 1}\r\nQUIT\r\n");
    // Chunks back to back, the empty last one included, and spaced-out arguments.
    ExpectFramed({"BDAT  2\r\nabBdAt 1  LAST \r\ncBDAT 0 LAST\r\nRSET\r\n"},
                 "BDAT  2\r\n{ab}BdAt 1  LAST \r\n{c}BDAT 0 LAST\r\nRSET\r\n");
}

TEST(SmtpChunkFramerTest, LinesThatAreNoChunkCommandStayText) {
    for (const char* line : {"BDAT\r\n", "BDAT \r\n", "BDAT x\r\n", "BDAT -1\r\n", "BDAT 5LAST\r\n",
                             "BDAT 5 FIRST\r\n", "BDAT 5 LASTING\r\n", "BDAT 5 LAST x\r\n",
                             "BDATS 5\r\n", " BDAT 5\r\n", "XBDAT 5\r\n",
                             // beyond 64 bits: no size, and no wrapped one either
                             "BDAT 18446744073709551616\r\n", "BDAT 99999999999999999999999\r\n",
                             // a bare LF ends no line
                             "BDAT 5 \nabcde\r\n"}) {
        SCOPED_TRACE(::testing::PrintToString(std::string(line)));
        const std::string text = std::string(line) + "abcdefgh\r\nQUIT\r\n";
        ExpectFramed({text}, text);
    }
    // A command line too long to be one, and one just short enough.
    const std::string command = "BDAT 3" + std::string(SmtpChunkFramer::kMaxCommandLine - 8, ' ');
    ExpectFramed({command + " \r\nabc\r\n"}, command + " \r\nabc\r\n");
    ExpectFramed({command + "\r\nabc\r\n"}, command + "\r\n{abc}\r\n");
}

TEST(SmtpChunkFramerTest, TheLargestSizeCountsDownWithoutWrapping) {
    SmtpChunkFramer framer;
    bool chunk = false;
    const std::string command = "BDAT 18446744073709551615\r\n";
    ASSERT_EQ(framer.Next(command + "xyz", chunk), command.size());
    const std::string block(5000, 'z');
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(framer.Next(block, chunk), block.size());
        EXPECT_TRUE(chunk);
    }
    EXPECT_EQ(framer.chunkLeft(), std::numeric_limits<std::uint64_t>::max() - 15000);
}

TEST(SmtpChunkFramerTest, AMessageAfterDataIsNotSearchedForCommands) {
    // The go-ahead after the replies to the commands sent with DATA, cut in odd places.
    ExpectFramed(
        {"MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\n", "<250 ok\r\n25", "<0 ok\r\n3",
         "<54 go\r\n", "Subject: a\r\n\r\nBDAT 3\r\nabc\r\n..\r\n.\r\nBDAT 2\r\nxyQUIT\r\n"},
        "MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nDATA\r\nSubject: a\r\n\r\nBDAT 3\r\nabc\r\n"
        "..\r\n.\r\nBDAT 2\r\n{xy}QUIT\r\n");
    // DATA turned down: what follows is commands again, and a 3xx to a later command starts
    // no message.
    ExpectFramed({"DATA\r\n", "<554 no valid recipients\r\n", "AUTH LOGIN\r\n",
                  "<334 VXNlcm5hbWU6\r\n", "<535 no\r\n", "BDAT 2\r\nxy"},
                 "DATA\r\nAUTH LOGIN\r\nBDAT 2\r\n{xy}");
    // Only a line that is "." ends the message: dots elsewhere, a "." ended by a bare LF, a
    // "." after a bare LF do not.
    const std::string body = "a.b\r\n.x\r\n.\nBDAT 1\r\n. \r\nline\n.\r\nmore\r\n..\r\n\r\n.\r\n";
    ExpectFramed({"DATA\r\n", "<354 go\r\n", body + "BDAT 1\r\nz"},
                 "DATA\r\n" + body + "BDAT 1\r\n{z}");
    // A 3 inside a reply line is no go-ahead, nor is any 3xx but the command's own (a POST's
    // stray 354).
    ExpectFramed({"data\r\n", "<250 ", "<3 ok\r\n", "BDAT 1\r\nx"}, "data\r\nBDAT 1\r\n{x}");
    ExpectFramed({"POST\r\n", "<35", "<4 go\r\n", "BDAT 1\r\nx"}, "POST\r\nBDAT 1\r\n{x}");
    // A SASL response is no command, whatever it reads like, up to the server's outcome
    // (or anything else it says instead of a challenge).
    ExpectFramed({"AUTH LOGIN\r\n", "<33", "<4 VXNlcm5hbWU6\r\n", "BDAT 2 LAST\r\n",
                  "<334 UGFzc3dvcmQ6\r\n", "DATA\r\n", "<235 ok\r\n", "BDAT 1\r\nx"},
                 "AUTH LOGIN\r\nBDAT 2 LAST\r\nDATA\r\nBDAT 1\r\n{x}");
    ExpectFramed(
        {"AUTHINFO  sasl PLAIN\r\n", "<383 go\r\n", "BDAT 1\r\n", "<501 no\r\n", "BDAT 1\r\nx"},
        "AUTHINFO  sasl PLAIN\r\nBDAT 1\r\nBDAT 1\r\n{x}");
}

TEST(SmtpChunkFramerTest, NewsArticlesAreNotSearchedForCommands) {
    // POST and IHAVE wait for the server's 340 or 335, TAKETHIS sends its article at once.
    const std::string article = "Subject: a\r\n\r\nBDAT 3\r\n.\r\n";
    ExpectFramed({"POST\r\n", "<340 send it\r\n", article, "BDAT 1\r\nx"},
                 "POST\r\n" + article + "BDAT 1\r\n{x}");
    ExpectFramed({"IHAVE <i@d>\r\n", "<335 send it\r\n", article}, "IHAVE <i@d>\r\n" + article);
    ExpectFramed({"TAKETHIS <i@d>\r\n" + article}, "TAKETHIS <i@d>\r\n" + article);
    // A refused posting leaves the client's next lines commands.
    ExpectFramed({"POST\r\n", "<440 not allowed\r\n", "BDAT 1\r\nx"}, "POST\r\nBDAT 1\r\n{x}");
}

}  // namespace
}  // namespace vantel
