#include "core/protocol/pop3/Pop3LoginSwap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/config/CredentialCodec.h"

namespace vantel {
namespace {

/// The entries of the cases: 0 with the stored login "stored"/"pw", 1 without one; any other
/// index stands for an entry that is not there. One swap per entry, as each session has.
class Pop3LoginSwapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        CredentialBlock block{};
        entries_[0].Type = StoredServerType(ServerType::Pop3);
        entries_[0].CredentialLength = PackCredentials(block, "stored", "pw");
        entries_[0].Credentials = block;
    }
    std::string FeedPop3Client(std::string_view block, int entryIndex = 0) {
        const auto at =
            static_cast<std::size_t>(entryIndex == 0 || entryIndex == 1 ? entryIndex : 2);
        return std::string(swaps_[at].FromClient(block));
    }

    ServerEntry entries_[3];
    Pop3LoginSwap swaps_[3] = {Pop3LoginSwap(entries_[0]), Pop3LoginSwap(entries_[1]),
                               Pop3LoginSwap(entries_[2])};
    Pop3LoginSwap& swap_ = swaps_[0];
};

TEST_F(Pop3LoginSwapTest, LoginIsReplacedAndEverythingElsePasses) {
    EXPECT_EQ(FeedPop3Client("USER me\r\nPASS mine\r\n"), "USER stored\r\nPASS pw\r\n");
    // The commands in any case; the replacement is written in capitals. Without the blank
    // (or with more letters) it is some other command.
    EXPECT_EQ(FeedPop3Client("user me\r\nPaSs mine\r\nUSER\r\nSTAT\r\nusers x\r\n"),
              "USER stored\r\nPASS pw\r\nUSER\r\nSTAT\r\nusers x\r\n");
    EXPECT_EQ(FeedPop3Client("US"), "");
    EXPECT_EQ(FeedPop3Client("ER x\r\n"), "USER stored\r\n");
    EXPECT_EQ(FeedPop3Client("pa"), "");
    EXPECT_EQ(FeedPop3Client("ss x\r\n"), "PASS pw\r\n");
}

TEST_F(Pop3LoginSwapTest, AStoredLoginReplacesTheClientsWhateverItsLinesHoldWhereverTheyAreCut) {
    using namespace std::string_literals;
    const std::string longPass = "PASS " + std::string(5000, 'p') + "\r\n";
    const std::string input =
        "user me\nPASS\tmine\r\nSTAT\r\nUSER\r\nUSERS x\n\r\nUSER a\0b\rc\n"s + longPass +
        "LIST\r\nPASS\0me\nPASS unended"s;
    const std::string expected =
        "USER stored\r\nPASS pw\r\nSTAT\r\nUSER\r\nUSERS x\n\r\nUSER stored\r\nPASS pw\r\n"
        "LIST\r\nPASS pw\r\nPASS pw\r\n";
    for (std::size_t cut = 0; cut <= input.size(); ++cut) {
        std::string sent = FeedPop3Client(std::string_view(input).substr(0, cut));
        sent += FeedPop3Client(std::string_view(input).substr(cut));
        sent += swap_.Flush();
        ASSERT_EQ(sent, expected) << "cut at " << cut;
    }
    std::string sent;
    for (const char c : input) {
        sent += FeedPop3Client(std::string_view(&c, 1));
        ASSERT_LE(swap_.Held(), 5u);  // only a line's start is ever held
    }
    EXPECT_EQ(sent + swap_.Flush(), expected);
}

TEST_F(Pop3LoginSwapTest, EntriesWithoutLoginOrOutOfRangePassTheClientsLogin) {
    EXPECT_EQ(FeedPop3Client("USER me\r\n", 1), "USER me\r\n");
    EXPECT_EQ(FeedPop3Client("USER me\r\n", 2), "USER me\r\n");
    EXPECT_EQ(FeedPop3Client("USER me\r\n", -1), "USER me\r\n");
}

TEST_F(Pop3LoginSwapTest, WithoutAStoredLoginCompleteLinesPassAndTheRestWaits) {
    struct Case {
        const char* what;
        std::vector<std::string> blocks;
        std::vector<std::string> sent;  ///< after each block
    };
    const std::string longLine(3000, 'x');
    const Case cases[] = {
        {"an incomplete line waits for its end",
         {"USER me\r\nST", "AT\r\n"},
         {"USER me\r\n", "STAT\r\n"}},
        {"CR and LF in two blocks", {"NOOP\r", "\n"}, {"", "NOOP\r\n"}},
        {"after a blank line the block goes as it is",
         {"\r\nUSER pa", "ss\r\n"},
         {"\r\nUSER pa", "ss\r\n"}},
        {"a line too long to hold goes but its last byte",
         {longLine, "\r\n"},
         {longLine.substr(1), "x\r\n"}},
        {"a folded line waits whole", {"A\r\n B", "\r\n"}, {"", "A\r\n B\r\n"}},
        {"an empty block keeps what is carried", {"LIS", "", "T\r\n"}, {"", "", "LIST\r\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Pop3LoginSwap swap(entries_[1]);
        for (std::size_t i = 0; i < c.blocks.size(); ++i) {
            EXPECT_EQ(std::string(swap.FromClient(c.blocks[i])), c.sent[i]) << "block " << i;
        }
        EXPECT_EQ(swap.Flush(), "");
    }
    // What is still carried at the end comes back unchanged.
    Pop3LoginSwap swap(entries_[1]);
    EXPECT_EQ(swap.FromClient("QU"), "");
    EXPECT_EQ(swap.Flush(), "QU");
}

}  // namespace
}  // namespace vantel
