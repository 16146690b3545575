#include "core/config/ServerEntry.h"

#include <gtest/gtest.h>

#include "core/config/DecimalText.h"

namespace vantel {
namespace {

TEST(DecimalTextTest, ReadsLikeTheCRuntimeButNeverOverflows) {
    EXPECT_EQ(ParseDecimal(""), 0);
    EXPECT_EQ(ParseDecimal("abc"), 0);
    EXPECT_EQ(ParseDecimal("587x"), 587);
    EXPECT_EQ(ParseDecimal("  \t-42"), -42);
    EXPECT_EQ(ParseDecimal("+7"), 7);
    EXPECT_EQ(ParseDecimal("- 7"), 0);
    EXPECT_EQ(ParseDecimal("99999999999999999999"), 2147483647);
    EXPECT_EQ(ParseDecimal("-99999999999999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseDecimal("-2147483648"), -2147483647 - 1);
}

TEST(ServerEntryTest, ServerLineRoundTrips) {
    ServerEntry entry;
    entry.LocalPort = 1110;
    entry.RemotePort = 110;
    entry.Type = StoredServerType(ServerType::Pop3);
    entry.PassDataIndex = 12345;
    entry.Name = "pop.example.org";
    EXPECT_EQ(FormatServerLine(entry), "1110 110 1 12345 pop.example.org");

    const ServerEntry back = ParseServerLine(FormatServerLine(entry));
    EXPECT_EQ(back.LocalPort, 1110);
    EXPECT_EQ(back.RemotePort, 110);
    EXPECT_TRUE(back.Is(ServerType::Pop3));
    EXPECT_EQ(back.PassDataIndex, 12345);
    EXPECT_EQ(back.Name, "pop.example.org");
    EXPECT_EQ(back.CredentialLength, 0);
}

TEST(ServerEntryTest, LenientParsingOfDamagedLines) {
    // An unknown type of 3 or more becomes SMTP; negative ones are kept.
    EXPECT_TRUE(ParseServerLine("25 25 7 -1 mailhost").Is(ServerType::Smtp));
    EXPECT_EQ(ParseServerLine("25 25 7 -1 mailhost").Name, "mailhost");
    EXPECT_EQ(ParseServerLine("25 25 -3 -1 h").Type, -3);

    // Missing numbers keep their defaults; the name is the last word.
    const ServerEntry shortLine = ParseServerLine("2525 host name");
    EXPECT_EQ(shortLine.LocalPort, 2525);
    EXPECT_EQ(shortLine.RemotePort, 0);
    EXPECT_EQ(shortLine.PassDataIndex, -1);
    EXPECT_EQ(shortLine.Name, "name");

    // No blank at all: still an entry, with no name.
    const ServerEntry noBlank = ParseServerLine("garbage");
    EXPECT_EQ(noBlank.Name, "");
    EXPECT_EQ(noBlank.LocalPort, 0);

    // A name longer than an entry holds is cut, never overrun.
    const ServerEntry longName = ParseServerLine("25 25 0 -1 " + std::string(1000, 'h'));
    EXPECT_EQ(longName.Name, std::string(ServerEntry::kMaxNameLength, 'h'));
}

TEST(ServerEntryTest, StoredNumbersWithoutATypeAreEditedAsSmtp) {
    for (ServerType type : {ServerType::Smtp, ServerType::Pop3, ServerType::Imap4}) {
        EXPECT_TRUE(IsKnownServerType(StoredServerType(type)));
        EXPECT_EQ(ServerTypeFromStored(StoredServerType(type)), type);
    }
    for (int stored : {-1, 3, 7}) {
        EXPECT_FALSE(IsKnownServerType(stored)) << stored;
        EXPECT_EQ(ServerTypeFromStored(stored), ServerType::Smtp) << stored;
    }
    // Is stays exact: an entry of no known type is in no group of the tray menu.
    ServerEntry odd;
    odd.Type = -1;
    EXPECT_FALSE(odd.Is(ServerType::Smtp));
}

TEST(ServerEntryTest, ALoginThatCouldEndACommandLineIsTold) {
    using namespace std::string_literals;
    for (const std::string& text : {"alice\r\nDELE 1"s, "a\rb"s, "\n"s, "pw\0x"s}) {
        EXPECT_TRUE(LoginHoldsLineBreakOrNul(text)) << text;
    }
    for (const std::string& text : {"alice"s, "p w\t\x7f\xe4"s, ""s}) {
        EXPECT_FALSE(LoginHoldsLineBreakOrNul(text)) << text;
    }
}

}  // namespace
}  // namespace vantel
