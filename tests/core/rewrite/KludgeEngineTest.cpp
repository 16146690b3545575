#include "core/rewrite/KludgeEngine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>

#include "FakeNotifier.h"
#include "TempDir.h"
#include "core/rewrite/CachedKludgeFiles.h"
#include "core/rewrite/KludgeEntry.h"
#include "core/rewrite/SignalKludge.h"

namespace vantel {
namespace {

/// Hands out the numbers it is given, in turn.
class ScriptedRandom : public RandomSource {
  public:
    int Next() override { return values.empty() ? 0 : values[next++ % values.size()]; }
    std::vector<int> values;
    std::size_t next = 0;
};

class KludgeEngineTest : public ::testing::Test {
  protected:
    std::string Apply(std::string_view line, KludgeType type = KludgeType::SmtpKludge) {
        std::string out;
        handled_ = engine_.ApplyHeaderKludges(line, type, out);
        return out;
    }
    void AddKludge(const std::string& kludge, const std::string& subst) {
        settings_.Kludges.push_back(ReadKludge(kludge, subst));
    }
    /// Kludge `i` with its "Subst" entry replaced.
    void SetSubst(std::size_t i, const std::string& subst) {
        settings_.Kludges[i] = ReadKludge(FormatKludgeEntry(settings_.Kludges[i]), subst);
    }
    std::string WriteFile(const char* name, std::string_view content) {
        const auto path = dir_.path() / name;
        std::ofstream(path, std::ios::binary) << content;
        return path.string();
    }

    RelaySettings settings_;
    ScriptedRandom random_;
    test::FakeNotifier notifier_;
    CachedKludgeFiles files_;
    KludgeEngine engine_{settings_, random_, notifier_, files_};
    test::TempDir dir_;
    bool handled_ = false;
};

TEST(KludgeEntryTest, EntriesAndMatching) {
    EXPECT_EQ(ParseKludgeEntry("1 Subject:").type, 1);
    EXPECT_EQ(ParseKludgeEntry("1 Subject:").headerName, "Subject:");
    EXPECT_EQ(ParseKludgeEntry("0 X Priority:").headerName, "X");
    EXPECT_EQ(ParseKludgeEntry("Subject:").type, 0);
    EXPECT_EQ(ParseKludgeEntry("Subject:").headerName, "Subject:");
    EXPECT_EQ(ParseKludgeEntry("").headerName, "");

    EXPECT_TRUE(MatchKludgeHeader("Subject:x\r\n", "Subject:"));
    EXPECT_FALSE(MatchKludgeHeader("subject: x\r\n", "Subject:"));
    EXPECT_TRUE(MatchKludgeHeader("RCPT TO:<a@b>\r\n", "To:"));
    EXPECT_TRUE(MatchKludgeHeader("MAIL FROM:<a@b>\r\n", "Reply-To:"));
    EXPECT_FALSE(MatchKludgeHeader("To: a\r\n", "RCPT TO:"));
    EXPECT_FALSE(MatchKludgeHeader("rcpt to:<a@b>\r\n", "To:"));
    EXPECT_TRUE(MatchKludgeHeader("anything\r\n", ""));

    EXPECT_EQ(FindSpecialKludge(PairSpecialKludges({"a", "B", "b"}, {}), "b"), 2);
    EXPECT_EQ(FindSpecialKludge(PairSpecialKludges({"a"}, {}), "A"), -1);
}

TEST_F(KludgeEngineTest, NoKludgesOrOtherTypeLeaveTheLine) {
    EXPECT_EQ(Apply("Subject: Hi\r\n"), "");
    EXPECT_FALSE(handled_);
    AddKludge("1 Subject:", "0 x");
    EXPECT_EQ(Apply("Subject: Hi\r\n"), "");
    EXPECT_FALSE(handled_);
}

TEST_F(KludgeEngineTest, ActionsAndTheirOrder) {
    AddKludge("0 Subject:", "0 abc");
    EXPECT_EQ(Apply("Subject: old\r\n"), "Subject:  abc\r\n");
    EXPECT_TRUE(handled_);

    // Every kludge acts; two changes give two lines; a delete does not undo a change.
    AddKludge("0 Subject:", "1 ignored");
    AddKludge("0 Subject:", "0 second");
    EXPECT_EQ(Apply("Subject: old\r\n"), "Subject:  abc\r\nSubject:  second\r\n");
    EXPECT_TRUE(handled_);

    // The kludge's own name is written, also for an envelope command.
    settings_.Kludges = PairKludges({"0 To:"}, {"0 <x@y>"});
    EXPECT_EQ(Apply("RCPT TO:<a@b>\r\n"), "To:  <x@y>\r\n");

    // Unknown actions, unparsable actions and Subst entries missing from a short list are inert.
    settings_.Kludges = PairKludges({"0 A:", "0 A:", "0 A:"}, {"7 x", "nonsense"});
    EXPECT_EQ(Apply("A: 1\r\n"), "");
    EXPECT_FALSE(handled_);

    // A Subst entry without a blank has an empty text.
    settings_.Kludges = PairKludges({"0 A:"}, {"0"});
    EXPECT_EQ(Apply("A: 1\r\n"), "A:  \r\n");
}

TEST_F(KludgeEngineTest, SpecialKludgeAddsALineAndKeepsTheReceivedOne) {
    settings_.SpecialKludges = PairSpecialKludges({"[list]"}, {"# X-Topic:"});
    AddKludge("0 Subject:", "3 [list]");
    EXPECT_EQ(Apply("Subject: [LIST] Meeting #Budget Plan #\r\n"), "X-Topic: budget plan\r\n");
    EXPECT_FALSE(handled_);

    // A change before it is overruled: the received line goes out after the special line.
    settings_.Kludges.insert(settings_.Kludges.begin(), ReadKludge("0 Subject:", "0 new"));
    EXPECT_EQ(Apply("Subject: [list] #v#\r\n"), "Subject:  new\r\nX-Topic: v\r\n");
    EXPECT_FALSE(handled_);
    // No signal string in the line: the special kludge does nothing, the change stands.
    EXPECT_EQ(Apply("Subject: #v#\r\n"), "Subject:  new\r\n");
    EXPECT_TRUE(handled_);
    // An unknown signal string does nothing.
    SetSubst(1, "3 [other]");
    EXPECT_EQ(Apply("Subject: [other] #v#\r\n"), "Subject:  new\r\n");
    // Until a special kludge takes that signal string.
    settings_.SpecialKludges[0].signal = "[Other]";
    EXPECT_EQ(Apply("Subject: [other] #v#\r\n"), "Subject:  new\r\n");
    settings_.SpecialKludges[0].signal = "[other]";
    EXPECT_EQ(Apply("Subject: [OTHER] #v#\r\n"), "Subject:  new\r\nX-Topic: v\r\n");
}

TEST(SpecialKludgeTest, ValueExtraction) {
    RelaySettings s;
    s.SpecialKludges =
        PairSpecialKludges({"", "sig", "sig", "sig", "x"}, {"# K:", "# K:", " K:", "", "#"});
    const auto apply = [&](std::string_view line, int index) {
        const std::optional<SignalKludge> kludge = ReadSignalKludge(s, index);
        std::string added;
        return kludge && ApplySpecialKludge(*kludge, line, added) ? added : "<none>";
    };
    EXPECT_EQ(apply("Subject: #A B #\r\n", 0), "K: a b\r\n");  // empty signal: always there
    EXPECT_EQ(apply("Subject: sig #one\r\n", 1), "<none>");    // one separator
    EXPECT_EQ(apply("Subject: sig ##\r\n", 1), "K:\r\n");      // empty value
    EXPECT_EQ(apply("Subject: SIG#Mixed Case#\r\n", 1), "K: mixed case\r\n");
    EXPECT_EQ(apply("Subject: nothing #a#\r\n", 1), "<none>");          // no signal string
    EXPECT_EQ(apply("  Subject: sig two words\r\n", 2), "K: sig\r\n");  // blank separator
    EXPECT_EQ(apply("Subject: sig #a#\r\n", 3), "<none>");              // empty definition is inert
    EXPECT_EQ(apply("Subject: x #a#\r\n", 4), "<none>");  // definition without a blank
    EXPECT_EQ(apply("Subject: sig #a#\r\n", -1), "<none>");
    EXPECT_EQ(apply("Subject: sig #a#\r\n", 9), "<none>");
    // Values of any length come out whole.
    const std::string big(3000, 'v');
    EXPECT_EQ(apply("S: sig #" + big + "#\r\n", 1), "K: " + big + "\r\n");
}

TEST_F(KludgeEngineTest, TakeFromFilePicksEveryLineEndedByLf) {
    AddKludge("0 X-Quote:", "2 " + WriteFile("three.txt", "one\ntwo\nthree\n"));
    std::map<std::string, int> seen;
    for (int r = 0; r <= RandomSource::kMax; r += 7) {
        random_.values = {r};
        ++seen[Apply("X-Quote: a\r\n")];
    }
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_GT(seen["X-Quote:  one\r\n"], 1400);
    EXPECT_GT(seen["X-Quote:  two\r\n"], 1400);
    EXPECT_GT(seen["X-Quote:  three\r\n"], 1400);

    // Without the final LF the last line can never be chosen.
    SetSubst(0, "2 " + WriteFile("nolf.txt", "one\ntwo\nthree"));
    seen.clear();
    for (int r : {0, 16000, 32767}) {
        random_.values = {r};
        ++seen[Apply("X-Quote: a\r\n")];
    }
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen.count("X-Quote:  three\r\n"), 0u);

    // CR LF files read like LF files.
    SetSubst(0, "2 " + WriteFile("crlf.txt", "only\r\n"));
    EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  only\r\n");
    SetSubst(0, "2 " + WriteFile("one.txt", "single line"));
    EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  single line\r\n");
    EXPECT_TRUE(notifier_.messages.empty());
}

TEST_F(KludgeEngineTest, ChoiceNeverLeavesTheLines) {
    for (std::size_t lines : {1u, 2u, 3u, 10u, 1000u, 32767u, 40000u}) {
        std::string content;
        for (std::size_t i = 0; i < lines; ++i) {
            content += "L" + std::to_string(i + 1) + "\n";
        }
        EXPECT_EQ(KludgeEngine::ChooseFileLine(content, 0), "L1");
        const std::string last = "L" + std::to_string(lines);
        EXPECT_EQ(KludgeEngine::ChooseFileLine(content, RandomSource::kMax), last) << lines;
    }
}

TEST_F(KludgeEngineTest, FileTextEndsAtItsFirstNul) {
    using namespace std::string_literals;
    // The line holding the NUL is cut there; no NUL reaches the header.
    AddKludge("0 X-Quote:", "2 " + WriteFile("cut.txt", "ab\0cd\nef\n"s));
    for (int r : {0, 16000, RandomSource::kMax}) {
        random_.values = {r};
        EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  ab\r\n") << r;
    }
    SetSubst(0, "2 " + WriteFile("lead.txt", "\0one\ntwo\n"s));
    EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  \r\n");

    // Lines after the NUL are neither chosen nor counted: the draw spreads over the two
    // lines before it.
    const std::string content = "one\ntwo\n\0three\nfour\nfive\nsix\n"s;
    std::map<std::string, int> seen;
    for (int r = 0; r <= RandomSource::kMax; ++r) {
        ++seen[std::string(KludgeEngine::ChooseFileLine(content, r))];
    }
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NEAR(seen["one"], seen["two"], 2);
}

TEST_F(KludgeEngineTest, EmptyMissingAndHugeFiles) {
    AddKludge("0 X-Quote:", "2 " + WriteFile("empty.txt", ""));
    EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  \r\n");
    EXPECT_TRUE(handled_);

    const std::string missing = (dir_.path() / "missing.txt").string();
    SetSubst(0, "2 " + missing);
    EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  \r\n");
    EXPECT_EQ(Apply("X-Quote: b\r\n"), "X-Quote:  \r\n");
    EXPECT_EQ(notifier_.messages,
              std::vector<std::string>(2, "Error opening file '" + missing + "'."));

    // A file line longer than a replacement holds is cut to fit.
    SetSubst(0, "2 " + WriteFile("huge.txt", std::string(5000, 'q') + "\n"));
    const std::string out = Apply("X-Quote: a\r\n");
    EXPECT_EQ(out,
              "X-Quote:  " + std::string(KludgeEngine::kReplacementCapacity - 4, 'q') + "\r\n");
}

TEST_F(KludgeEngineTest, UnreadablePathsGiveTheNoticeAndNewFilesAreTakenUp) {
    // A directory reads like a missing file: a notice and an empty replacement.
    const std::string directory = dir_.path().string();
    AddKludge("0 X-Quote:", "2 " + directory);
    EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  \r\n");
    EXPECT_TRUE(handled_);
    EXPECT_EQ(notifier_.messages,
              std::vector<std::string>{"Error opening file '" + directory + "'."});

    // Missing at first, then created.
    const std::string path = (dir_.path() / "later.txt").string();
    SetSubst(0, "2 " + path);
    EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  \r\n");
    EXPECT_EQ(notifier_.messages.size(), 2u);
    WriteFile("later.txt", "first\r\n");
    EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  first\r\n");
    EXPECT_EQ(Apply("X-Quote: b\r\n"), "X-Quote:  first\r\n");

    // Replaced by a file of the same size but a later time: its line is used.
    const auto written = std::filesystem::last_write_time(path);
    WriteFile("later.txt", "again\r\n");
    std::filesystem::last_write_time(path, written + std::chrono::seconds(10));
    EXPECT_EQ(Apply("X-Quote: a\r\n"), "X-Quote:  again\r\n");
    EXPECT_EQ(notifier_.messages.size(), 2u);
}

}  // namespace
}  // namespace vantel
