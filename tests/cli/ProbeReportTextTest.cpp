#include "cli/PrintableText.h"
#include "cli/ProbeReportText.h"

#include <gtest/gtest.h>

#include <string>

namespace vantel {
namespace {

using namespace std::string_literals;

TEST(ProbeReportTextTest, PrintableTextKeepsTextAndUtf8AndMasksEverythingElse) {
    const struct {
        std::string raw;
        std::string shown;
    } cases[] = {
        {"CN=mail.example.org, O=Example", "CN=mail.example.org, O=Example"},
        {"O=M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x93\xa7",
         "O=M\xc3\xbcller \xe2\x82\xac \xf0\x9f\x93\xa7"},
        {"a\0b\x7f"s, "a?b?"},
        {"\x1b[31mred\tx\r\n", "?[31mred x??"},
        // C1 controls as UTF-8 and as bare bytes; broken, overlong and surrogate sequences.
        {"\xc2\x9b"
         "2J \x9b",
         "??2J ?"},
        {"\xc3", "?"},
        {"\xe2\x82", "??"},
        {"\xc0\xaf \xe0\x80\xaf", "?? ???"},
        {"\xed\xa0\x80", "???"},
        {"\xf4\x90\x80\x80", "????"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PrintableText(c.raw), c.shown) << testing::PrintToString(c.raw);
    }
}

TEST(ProbeReportTextTest, FailuresSayWhereTheProbeGotTo) {
    ProbeReport unreachable;
    unreachable.host = "mail.example.org";
    unreachable.port = 465;
    unreachable.address = "[2001:db8::1]:465";
    unreachable.error = "connection refused";
    EXPECT_EQ(FormatProbeReport(unreachable),
              "Not connected to mail.example.org port 465 (tried [2001:db8::1]:465)\n"
              "Error: connection refused\n");

    unreachable.address.clear();
    unreachable.error = "no such host";
    EXPECT_EQ(FormatProbeReport(unreachable),
              "Not connected to mail.example.org port 465\n"
              "Error: no such host\n");

    ProbeReport flooded;
    flooded.host = "127.0.0.1";
    flooded.port = 25;
    flooded.connected = true;
    flooded.address = "127.0.0.1:25";
    flooded.greeting = "220-a\r\n" + std::string(20, 'x');
    flooded.greetingCut = true;
    flooded.error = "no answer before TLS: timed out after 5 s";
    EXPECT_EQ(FormatProbeReport(flooded),
              "Connected to 127.0.0.1:25 (127.0.0.1)\n"
              "Greeting: 220-a\n"
              "          xxxxxxxxxxxxxxxxxxxx\n"
              "          ... (cut after 27 bytes)\n"
              "Error: no answer before TLS: timed out after 5 s\n");
}

}  // namespace
}  // namespace vantel
