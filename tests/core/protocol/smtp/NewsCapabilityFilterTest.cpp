#include "core/protocol/smtp/NewsCapabilityFilter.h"

#include <gtest/gtest.h>

#include <string>

namespace vantel {
namespace {

/// What the client gets of `replies` to `commands`, the replies cut at `cut`.
std::string Filtered(std::string_view commands, std::string_view replies, std::size_t cut) {
    NewsCapabilityFilter filter;
    filter.ClientSent(commands);
    std::string out(filter.Filter(replies.substr(0, cut)));
    out.append(filter.Filter(replies.substr(cut)));
    return out.append(filter.Flush());
}

TEST(NewsCapabilityFilterTest, OnlyTheCapabilityListLosesStartTlsHoweverTheClientPipelines) {
    const std::string list = "101 Capability list:\r\nVERSION 2\r\nstarttls\r\nREADER\r\n.\r\n";
    const std::string filtered = "101 Capability list:\r\nVERSION 2\r\nREADER\r\n.\r\n";
    // An article that looks like a capability list, and a LISTGROUP answer that runs to its
    // "." line where a GROUP answer is one line.
    const std::string article = "220 1 <a@b> article\r\n101 x\r\nSTARTTLS\r\n..\r\n.\r\n";
    const struct {
        const char* what;
        std::string commands;
        std::string replies;
        std::string expected;
    } cases[] = {
        {"asked before the greeting", "CAPABILITIES\r\n", "200 ready\r\n" + list,
         "200 ready\r\n" + filtered},
        {"asked behind another command", "MODE READER\r\nCAPABILITIES\r\n",
         "200 ready\r\n200 reader\r\n" + list, "200 ready\r\n200 reader\r\n" + filtered},
        {"bare LF line ends", "MODE READER\nCAPABILITIES\n", "200 ready\n200 reader\n" + list,
         "200 ready\n200 reader\n" + filtered},
        {"behind an article", "ARTICLE 1\r\nCAPABILITIES\r\n", "200 ready\r\n" + article + list,
         "200 ready\r\n" + article + filtered},
        {"behind a LISTGROUP", "LISTGROUP g\r\nGROUP g\r\nCAPABILITIES\r\n",
         "200 ready\r\n211 2 1 101 g\r\n1\r\n101\r\nSTARTTLS\r\n.\r\n211 2 1 2 g\r\n" + list,
         "200 ready\r\n211 2 1 101 g\r\n1\r\n101\r\nSTARTTLS\r\n.\r\n211 2 1 2 g\r\n" + filtered},
        {"not asked: a help text stays", "HELP\r\n", "200 ready\r\n100 help\r\nSTARTTLS\r\n.\r\n",
         "200 ready\r\n100 help\r\nSTARTTLS\r\n.\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (std::size_t cut = 0; cut <= c.replies.size(); ++cut) {
            ASSERT_EQ(Filtered(c.commands, c.replies, cut), c.expected) << "cut at " << cut;
        }
    }
}

TEST(NewsCapabilityFilterTest, ArticlesPostedAreNoCommandsAndCountsStayBounded) {
    NewsCapabilityFilter filter;
    filter.ClientSent("POST\r\n");
    EXPECT_EQ(filter.Filter("200 ready\r\n340 send\r\n"), "200 ready\r\n340 send\r\n");
    // The article's lines are not the client's commands: its end gets one reply.
    filter.MessageEnded();
    filter.ClientSent("CAPABILITIES\r\n");
    EXPECT_EQ(filter.Filter("240 posted\r\n101 caps\r\nSTARTTLS\r\n.\r\n"),
              "240 posted\r\n101 caps\r\n.\r\n");

    // Far more commands than any client keeps waiting: the count is given up, and every
    // capability list is filtered from then on.
    for (std::size_t i = 0; i <= NewsCapabilityFilter::kMaxWaiting; ++i) {
        filter.ClientSent("DATE\r\n");
    }
    EXPECT_EQ(filter.Filter("111 20240101000000\r\n101 caps\r\nSTARTTLS\r\n.\r\n"),
              "111 20240101000000\r\n101 caps\r\n.\r\n");
}

}  // namespace
}  // namespace vantel
