#include "core/rewrite/MessageRewriter.h"

#include <gtest/gtest.h>

#include <string>

#include "FakeNotifier.h"
#include "core/config/StoredKludges.h"
#include "core/rewrite/CRuntimeRandom.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/LineSplitter.h"

namespace vantel {
namespace {

using Mode = KludgeType;

class MessageRewriterTest : public ::testing::Test {
  protected:
    std::string Feed(std::string_view block, Mode mode = Mode::SmtpKludge) {
        return std::string(rewriter_.ProcessMessageBlock(block, state_, mode));
    }
    void AddKludge(const std::string& kludge, const std::string& subst) {
        settings_.Kludges.push_back(ReadKludge(kludge, subst));
    }
    /// Kludge `i` with its "Subst" entry replaced.
    void SetSubst(std::size_t i, const std::string& subst) {
        settings_.Kludges[i] = ReadKludge(FormatKludgeEntry(settings_.Kludges[i]), subst);
    }

    RelaySettings settings_;
    CRuntimeRandom random_{1};
    test::FakeNotifier notifier_;
    CachedKludgeFiles kludgeFiles_;
    MessageRewriter rewriter_{settings_, random_, notifier_, kludgeFiles_};
    StreamState state_;
};

TEST(LineSplitterTest, FindsLineEndsWithAndWithoutJoining) {
    std::size_t end = 99;
    EXPECT_EQ(FindLineEnd("", 0, end, false), LineEnd::Exhausted);
    EXPECT_EQ(FindLineEnd("abc\r", 0, end, false), LineEnd::Incomplete);
    EXPECT_EQ(FindLineEnd("a\rb\r\n", 0, end, false), LineEnd::Complete);
    EXPECT_EQ(end, 4u);

    const std::string_view folded = "Subject: a\r\n b\r\nX: 1\r\n";
    EXPECT_EQ(FindLineEnd(folded, 0, end, false), LineEnd::Complete);
    EXPECT_EQ(end, 11u);
    EXPECT_EQ(FindLineEnd(folded, 0, end, true), LineEnd::Complete);
    EXPECT_EQ(end, 15u);
    // A fold whose own CR LF has not arrived yet keeps the line open.
    EXPECT_EQ(FindLineEnd("Subject: a\r\n\tb", 0, end, true), LineEnd::Incomplete);
    // A CR LF at the very end of the text always ends the line.
    EXPECT_EQ(FindLineEnd("Subject: a\r\n", 0, end, true), LineEnd::Complete);
    // Bytes from 0x80 up do not continue a line.
    EXPECT_EQ(FindLineEnd("A: 1\r\n\xA0x\r\n", 0, end, true), LineEnd::Complete);
    EXPECT_EQ(end, 5u);
}

TEST_F(MessageRewriterTest, PlainLinesPassAndIncompleteLinesWait) {
    EXPECT_EQ(Feed("Subject: Hi\r\n"), "Subject: Hi\r\n");
    EXPECT_EQ(Feed("Subject: H"), "");
    EXPECT_TRUE(state_.pendingText);
    EXPECT_EQ(Feed("i\r\n"), "Subject: Hi\r\n");
    EXPECT_FALSE(state_.pendingText);
    // CR and LF split over two blocks.
    EXPECT_EQ(Feed("X: 1\r"), "");
    EXPECT_EQ(Feed("\nY: 2\r\n"), "X: 1\r\nY: 2\r\n");
}

TEST_F(MessageRewriterTest, FoldedLinesReachKludgesWholeOnlyInPop3Mode) {
    AddKludge("0 Subject:", "0 new");
    AddKludge("1 Subject:", "0 new");
    EXPECT_EQ(Feed("Subject: a\r\n b\r\n", Mode::SmtpKludge), "Subject:  new\r\n b\r\n");
    EXPECT_EQ(Feed("Subject: a\r\n b\r\n", Mode::Pop3Kludge), "Subject:  new\r\n");
}

TEST_F(MessageRewriterTest, BlankLineStartsTheBodyWhichPassesUntouched) {
    AddKludge("0 X:", "1 ");
    EXPECT_EQ(Feed("X: 1\r\n\r\nX: body\r\n"), "\r\nX: body\r\n");
    EXPECT_TRUE(state_.inBody);
    const std::string block = "X: still body\r\nDate: a b\r\n";
    const std::string_view out = rewriter_.ProcessMessageBlock(block, state_, Mode::SmtpKludge);
    EXPECT_EQ(out.data(), block.data()) << "body blocks must not be copied";
    // The relay clears inBody when the other side speaks: header reading starts again.
    state_.inBody = false;
    EXPECT_EQ(Feed("X: 2\r\nQUIT\r\n"), "QUIT\r\n");
}

TEST_F(MessageRewriterTest, OutgoingDateLinesAreMarked) {
    EXPECT_EQ(Feed("Date: Mon, 7 Dec 2026 17:22:33 +0300\r\n"),
              "Date: Mon, 7 Dec 2026 17:22:33  +0300\r\n");
    EXPECT_EQ(Feed("Resent-Date: x y\r\n"), "Resent-Date: x  y\r\n");
    EXPECT_EQ(Feed("Date: Mon, 7 Dec 2026 17:22:33 +0300\r\n", Mode::Pop3Kludge),
              "Date: Mon, 7 Dec 2026 17:22:33 +0300\r\n");
    // A Date line that a kludge changed is still marked; a deleted one is not.
    AddKludge("0 Date:", "0 Tue, 8 Dec +0000");
    EXPECT_EQ(Feed("Date: x\r\n"), "Date:  Tue, 8 Dec  +0000\r\n");
    SetSubst(0, "1 ");
    EXPECT_EQ(Feed("Date: x\r\n"), "");
}

TEST_F(MessageRewriterTest, RetrievedFromLineIsTaggedOnlyInHiddenMode) {
    const std::string message = "Date: Mon, 7 Dec 2026 17:22:33  +0300\r\nFrom: Vor Arudu\r\n";
    EXPECT_EQ(Feed(message, Mode::Pop3Kludge), message);
    settings_.CustomValue = kHiddenModeCode;
    EXPECT_EQ(Feed(message, Mode::Pop3Kludge),
              "Date: Mon, 7 Dec 2026 17:22:33  +0300\r\nFrom: Vor Arudu(Vantel)\r\n");
    // Only the first From line after the marked Date line, and X-From: counts as one.
    EXPECT_EQ(Feed("From: again\r\n", Mode::Pop3Kludge), "From: again\r\n");
    EXPECT_EQ(Feed("Date: a  b\r\n", Mode::Pop3Kludge), "Date: a  b\r\n");
    EXPECT_TRUE(rewriter_.dateMarked());
    EXPECT_EQ(Feed("X-From: z\r\n", Mode::Pop3Kludge), "X-From: z(Vantel)\r\n");
    // An unmarked Date line does not arm the tag.
    EXPECT_EQ(Feed("Date: a b\r\nFrom: q\r\n", Mode::Pop3Kludge), "Date: a b\r\nFrom: q\r\n");
    // A From line deleted at the start of a block leaves nothing to tag.
    AddKludge("1 From:", "1 ");
    EXPECT_EQ(Feed("Date: a  b\r\n", Mode::Pop3Kludge), "Date: a  b\r\n");
    EXPECT_EQ(Feed("From: gone\r\n", Mode::Pop3Kludge), "");
}

TEST_F(MessageRewriterTest, OverlongLinesAndNulBytesPassUnchanged) {
    AddKludge("0 Subject:", "0 short");
    const std::string longLine = "Subject: " + std::string(5000, 'x') + "\r\n";
    // Whole, in pieces, and split right between CR and LF: never rewritten, never cut.
    EXPECT_EQ(Feed(longLine), longLine);
    std::string out;
    for (std::size_t i = 0; i < longLine.size(); i += 700) {
        out += Feed(longLine.substr(i, 700));
    }
    out += Feed("Subject: next\r\n");
    EXPECT_EQ(out, longLine + "Subject:  short\r\n");

    out = Feed(longLine.substr(0, longLine.size() - 1));
    out += Feed("\nSubject: after\r\n");
    EXPECT_EQ(out, longLine + "Subject:  short\r\n");

    const std::string withNul("Subject: a\0b\r\nSubject: c\r\n", 26);
    EXPECT_EQ(Feed(withNul), std::string("Subject: a\0b\r\n", 14) + "Subject:  short\r\n");
}

TEST_F(MessageRewriterTest, CarriedTextSurvivesEmptyBlocksAndComesBackAtStreamEnd) {
    EXPECT_EQ(Feed("QUIT"), "");
    EXPECT_EQ(Feed(""), "");
    EXPECT_EQ(MessageRewriter::FlushStream(state_), "QUIT");
    EXPECT_FALSE(state_.pendingText);
    EXPECT_EQ(MessageRewriter::FlushStream(state_), "");
}

TEST_F(MessageRewriterTest, EmptyHeaderNameKludgeAlsoMeetsTheEmptyLineAtABlockEnd) {
    // A kludge with no header name matches every line, and once more the empty remainder
    // of a block that ends at a line end.
    AddKludge("", "0 x");
    EXPECT_EQ(Feed("A: 1\r\n"), "  x\r\n  x\r\n");
}

TEST_F(MessageRewriterTest, EditsOfTheKludgeListsReachTheNextBlockOfTheSameStream) {
    AddKludge("0 Subject:", "0 first");
    EXPECT_EQ(Feed("Subject: a\r\n"), "Subject:  first\r\n");
    SetSubst(0, "0 second");
    EXPECT_EQ(Feed("Subject: a\r\n"), "Subject:  second\r\n");
    // An entry added in front acts first; once removed, it acts no more.
    settings_.Kludges.insert(settings_.Kludges.begin(), ReadKludge("0 Subject:", "0 front"));
    EXPECT_EQ(Feed("Subject: a\r\n"), "Subject:  front\r\nSubject:  second\r\n");
    settings_.Kludges.erase(settings_.Kludges.begin());
    EXPECT_EQ(Feed("Subject: a\r\n"), "Subject:  second\r\n");
    // A line cut by the edit meets the lists of the block that completes it.
    EXPECT_EQ(Feed("Subj"), "");
    SetSubst(0, "1 ");
    EXPECT_EQ(Feed("ect: a\r\nX: 1\r\n"), "X: 1\r\n");

    // The special kludge follows its signal string and definition.
    SetSubst(0, "3 [b]");
    settings_.SpecialKludges = PairSpecialKludges({"[a]"}, {"# X-Tag:"});
    EXPECT_EQ(Feed("Subject: [B] #V#\r\n"), "Subject: [B] #V#\r\n");
    settings_.SpecialKludges[0].signal = "[b]";
    EXPECT_EQ(Feed("Subject: [B] #V#\r\n"), "X-Tag: v\r\nSubject: [B] #V#\r\n");
    settings_.SpecialKludges[0] = ReadSpecialKludge("[b]", "% X-Other:");
    EXPECT_EQ(Feed("Subject: [b] %W%\r\n"), "X-Other: w\r\nSubject: [b] %W%\r\n");
    settings_.SpecialKludges[0] = ReadSpecialKludge("[b]", "");
    EXPECT_EQ(Feed("Subject: [b] %W%\r\n"), "Subject: [b] %W%\r\n");
}

TEST_F(MessageRewriterTest, AnUnreadableKludgeFileIsReportedForEveryLineItMeets) {
    AddKludge("0 X-Quote:", "2 /nonexistent/vantel/quotes.txt");
    EXPECT_EQ(Feed("X-Quote: a\r\nX-Quote: b\r\n"), "X-Quote:  \r\nX-Quote:  \r\n");
    EXPECT_EQ(Feed("X-Quote: c\r\n"), "X-Quote:  \r\n");
    EXPECT_EQ(notifier_.messages,
              std::vector<std::string>(3, "Error opening file '/nonexistent/vantel/quotes.txt'."));
}

}  // namespace
}  // namespace vantel
