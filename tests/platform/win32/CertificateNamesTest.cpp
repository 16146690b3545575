#include "platform/win32/CertificateNames.h"

#include <gtest/gtest.h>

namespace vantel {
namespace {

TEST(CertificateNamesTest, NamesMatchWholeIgnoringCaseAndFinalDot) {
    EXPECT_TRUE(CertificateNames::NameMatches("Mail.Example.NET", "mail.example.net."));
    EXPECT_FALSE(CertificateNames::NameMatches("mail.example.net", "mail.example.net.evil"));
    EXPECT_FALSE(CertificateNames::NameMatches("mail.example.net", "ail.example.net"));
    EXPECT_FALSE(CertificateNames::NameMatches("", ""));
}

TEST(CertificateNamesTest, WildcardStandsForExactlyOneLeftmostLabel) {
    EXPECT_TRUE(CertificateNames::NameMatches("*.example.net", "SMTP.example.net"));
    EXPECT_FALSE(CertificateNames::NameMatches("*.example.net", "example.net"));
    EXPECT_FALSE(CertificateNames::NameMatches("*.example.net", "a.b.example.net"));
    EXPECT_FALSE(CertificateNames::NameMatches("*.example.net", ".example.net"));
    EXPECT_FALSE(CertificateNames::NameMatches("*.example.net", "smtpexample.net"));
    // A star inside a label, below the leftmost one, or over a top-level domain is no
    // wildcard; nor is a star in the host one.
    EXPECT_FALSE(CertificateNames::NameMatches("smtp*.example.net", "smtp1.example.net"));
    EXPECT_FALSE(CertificateNames::NameMatches("mail.*.net", "mail.example.net"));
    EXPECT_FALSE(CertificateNames::NameMatches("*.net", "example.net"));
    EXPECT_FALSE(CertificateNames::NameMatches("*.example.net", "*.example.net"));
}

}  // namespace
}  // namespace vantel
