#include "core/protocol/smtp/EhloAnswerFilter.h"

#include <gtest/gtest.h>

#include <string>

namespace vantel {
namespace {

/// What the client gets of `answer` to its `command`, the answer cut at `cut`.
std::string Filtered(std::string_view command, std::string_view answer, std::size_t cut) {
    EhloAnswerFilter filter;
    filter.ClientSent(command);
    std::string out(filter.Filter(answer.substr(0, cut)));
    out.append(filter.Filter(answer.substr(cut)));
    out.append(filter.Flush());
    return out;
}

/// The same result wherever the answer is cut, and nothing left held once it is complete.
void ExpectFiltered(std::string_view command, std::string_view answer, std::string_view expected) {
    for (std::size_t cut = 0; cut <= answer.size(); ++cut) {
        ASSERT_EQ(Filtered(command, answer, cut), expected) << "cut at " << cut;
    }
    EhloAnswerFilter filter;
    filter.ClientSent(command);
    std::string out;
    for (const char c : answer) {
        out.append(filter.Filter(std::string_view(&c, 1)));
    }
    EXPECT_EQ(out, expected) << "byte by byte";
    EXPECT_TRUE(filter.Flush().empty());
}

TEST(EhloAnswerFilterTest, RemovesChunkingWhereverItStands) {
    // In the middle.
    ExpectFiltered("EHLO me\r\n",
                   "250-mx.example Hello\r\n250-PIPELINING\r\n250-CHUNKING\r\n250-SIZE 1000\r\n"
                   "250 HELP\r\n",
                   "250-mx.example Hello\r\n250-PIPELINING\r\n250-SIZE 1000\r\n250 HELP\r\n");
    // Last, with BINARYMIME before it: the line before both becomes the last.
    ExpectFiltered("ehlo me\r\n",
                   "250-mx.example\r\n250-8BITMIME\r\n250-binarymime\r\n250 Chunking\r\n",
                   "250-mx.example\r\n250 8BITMIME\r\n");
    // Last after the server's name alone.
    ExpectFiltered("EHLO me\r\n", "250-mx.example\r\n250 CHUNKING\r\n", "250 mx.example\r\n");
    // With a parameter, and with bare LF line ends.
    ExpectFiltered("EHLO me\r\n", "250-mx\n250-CHUNKING 1\n250 SIZE\n", "250-mx\n250 SIZE\n");
}

TEST(EhloAnswerFilterTest, EverythingElseStaysByteExact) {
    // Other words, words that only begin like a removed one, other replies, and the
    // server's own name, whatever it is.
    const std::string answer =
        "250-chunking\r\n250-CHUNKINGX\r\n250-X-CHUNKING\r\n250-BINARYMIMES\r\n251-CHUNKING\r\n"
        "250-\r\n250CHUNKING\r\n";
    ExpectFiltered("EHLO me\r\n", answer, answer);
    // An answer of the name alone, and a refusal.
    ExpectFiltered("EHLO me\r\n", "250 CHUNKING\r\n", "250 CHUNKING\r\n");
    ExpectFiltered("EHLO me\r\n", "502 5.5.1 no\r\n250 CHUNKING\r\n",
                   "502 5.5.1 no\r\n250 CHUNKING\r\n");
    // Removing a last line whose place nothing could take would leave the answer open.
    ExpectFiltered("EHLO me\r\n", "550-odd\r\n250 CHUNKING\r\n", "550-odd\r\n250 CHUNKING\r\n");
}

TEST(EhloAnswerFilterTest, OnlyTheAnswerToAnEhloIsFiltered) {
    const std::string answer = "250-mx\r\n250 CHUNKING\r\n";
    for (const char* command :
         {"HELO me\r\n", "EHLOme\r\n", "MAIL FROM:<EHLO@x>\r\n", " EHLO\r\n", "XEHLO me\r\n", ""}) {
        SCOPED_TRACE(command);
        ExpectFiltered(command, answer, answer);
    }
    ExpectFiltered("NOOP\r\nEhLo\r\n", answer, "250 mx\r\n");

    EhloAnswerFilter filter;
    EXPECT_EQ(filter.Filter("220 mx ESMTP\r\n"), "220 mx ESMTP\r\n");
    // Pipelined commands in pieces, one with a bare LF: each reply is paired with its
    // command. While the EHLO waits, what comes before its answer is read as one too.
    filter.ClientSent("RSET\r\nNOOP\nEH");
    filter.ClientSent("LO me\r");
    filter.ClientSent("\nMAIL FROM:<a@b>\r\n");
    EXPECT_EQ(filter.Filter("250 ok\r\n250-ok\r\n250 CHUNKING\r\n250-mx\r\n250-CHUNKING\r\n250 "
                            "SIZE\r\n250-MAIL\r\n250 CHUNKING\r\n"),
              "250 ok\r\n250 ok\r\n250-mx\r\n250 SIZE\r\n250-MAIL\r\n250 CHUNKING\r\n");
    // The next EHLO is filtered again.
    filter.ClientSent("EHLO again\r\n");
    EXPECT_EQ(filter.Filter("250-mx\r\n"), "");
    EXPECT_EQ(filter.Filter("250 CHUNKING\r\n"), "250 mx\r\n");
}

TEST(EhloAnswerFilterTest, HeldBytesAreBoundedAndNeverLost) {
    EhloAnswerFilter filter;
    filter.ClientSent("EHLO me\r\n");
    // A line that does not end is not held for ever: it passes, the held line before it too;
    // the answer's later lines are filtered still.
    EXPECT_EQ(filter.Filter("250-mx\r\n250-"), "");
    const std::string endless(EhloAnswerFilter::kMaxLine, 'x');
    EXPECT_EQ(filter.Filter(endless), "250-mx\r\n250-" + endless);
    EXPECT_EQ(filter.Filter("\r\n250-CHUNKING\r\n250 SIZE\r\n"), "\r\n250 SIZE\r\n");

    // The server leaves in the middle of an answer: what was held comes out unchanged.
    filter.ClientSent("EHLO me\r\n");
    EXPECT_EQ(filter.Filter("250-mx\r\n250-CHUNKING\r\n250 CHUN"), "");
    EXPECT_EQ(filter.Flush(), "250-mx\r\n250 CHUN");
    EXPECT_EQ(filter.Filter("250 CHUNKING\r\n"), "250 CHUNKING\r\n");
}

}  // namespace
}  // namespace vantel
