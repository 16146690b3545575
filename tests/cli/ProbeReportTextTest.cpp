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

ProbeReport Secured() {
    ProbeReport report;
    report.host = "mail.example.org";
    report.port = 587;
    report.connected = true;
    report.address = "192.0.2.7:587";
    report.greeting = "220-mail.example.org ESMTP\r\n220 no \x1b[2Jspam\r\n";
    report.encrypted = true;
    report.tlsVersion = "TLSv1.3";
    report.cipher = "TLS_AES_256_GCM_SHA384";
    report.certificateSeen = true;
    report.certificate = {"CN=mail.example.org, O=Example", {"mail.example.org", "192.0.2.7"},
                          "CN=Example CA, O=Example",       "2026-12-09 12:00:00 UTC",
                          "2027-01-08 12:00:00 UTC",        "73:8F:00"};
    report.verified = true;
    report.verification = "verified: the certificate is trusted and is for mail.example.org";
    return report;
}

TEST(ProbeReportTextTest, ShowsWhatWasFoundOneFactPerLine) {
    EXPECT_EQ(FormatProbeReport(Secured()),
              "Connected to 192.0.2.7:587 (mail.example.org)\n"
              "Greeting: 220-mail.example.org ESMTP\n"
              "          220 no ?[2Jspam\n"
              "TLS: TLSv1.3, TLS_AES_256_GCM_SHA384\n"
              "Certificate:\n"
              "  Subject:     CN=mail.example.org, O=Example\n"
              "  Names:       mail.example.org, 192.0.2.7\n"
              "  Issuer:      CN=Example CA, O=Example\n"
              "  Valid:       2026-12-09 12:00:00 UTC to 2027-01-08 12:00:00 UTC\n"
              "  SHA-256:     73:8F:00\n"
              "Verification: verified: the certificate is trusted and is for mail.example.org\n");

    // A refused certificate: shown, and its reason said once.
    ProbeReport refused = Secured();
    refused.greeting.clear();
    refused.encrypted = false;
    refused.verified = false;
    refused.certificate.names.clear();
    refused.verification =
        "certificate not trusted (self-signed); its SHA-256 fingerprint is 73:8F:00";
    refused.error = refused.verification;
    EXPECT_EQ(FormatProbeReport(refused),
              "Connected to 192.0.2.7:587 (mail.example.org)\n"
              "Certificate:\n"
              "  Subject:     CN=mail.example.org, O=Example\n"
              "  Names:       none\n"
              "  Issuer:      CN=Example CA, O=Example\n"
              "  Valid:       2026-12-09 12:00:00 UTC to 2027-01-08 12:00:00 UTC\n"
              "  SHA-256:     73:8F:00\n"
              "Verification: certificate not trusted (self-signed); its SHA-256 fingerprint is "
              "73:8F:00\n");
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
