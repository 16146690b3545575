#include "platform/CertificateDecision.h"

#include <gtest/gtest.h>

#include <functional>

namespace vantel {
namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kJanuary2nd2021 = 1609545600;
const std::string kPrint =
    "AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:67:89:AB:CD:EF:01:23:45:"
    "67:89";

/// A trusted certificate for localhost and 127.0.0.1, valid from a day ago for thirty days.
CertificateFacts Trusted() {
    CertificateFacts facts;
    facts.fingerprint = kPrint;
    facts.chain = ChainTrust::Trusted;
    facts.names = {{false, "localhost"}, {true, "127.0.0.1"}};
    facts.commonName = "localhost";
    facts.now = kJanuary2nd2021;
    facts.notBefore = facts.now - kDay;
    facts.notAfter = facts.now + 30 * kDay;
    return facts;
}

using Change = std::function<void(CertificateFacts&)>;
const Change kSelfSigned = [](CertificateFacts& f) { f.chain = ChainTrust::SelfSigned; };
const Change kElsewhere = [](CertificateFacts& f) { f.names = {{false, "mail.example.net"}}; };
const Change kExpired = [](CertificateFacts& f) { f.notAfter = f.now - 3 * kDay; };
const Change kEarly = [](CertificateFacts& f) { f.notBefore = f.now + 5 * kDay; };

TEST(CertificateDecisionTest, APinDecidesAloneAndAGarbledOneMatchesNothing) {
    std::string pasted;  // as a user pastes it: lower case, no colons, blanks around
    for (const char c : kPrint) {
        if (c != ':') {
            pasted += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        }
    }
    const struct {
        const char* name;
        std::vector<Change> changes;
        std::string pin;
        TlsProblem problem;
        const char* detail;
    } rows[] = {
        {"pinned, all else wrong",
         {kSelfSigned, kElsewhere, kExpired},
         kPrint,
         TlsProblem::None,
         ""},
        {"pinned as pasted", {}, " " + pasted + "\n", TlsProblem::None, ""},
        {"another certificate's pin", {}, std::string(64, 'a'), TlsProblem::PinMismatch, ""},
        {"no fingerprint read",
         {[](CertificateFacts& f) { f.fingerprint.clear(); }},
         kPrint,
         TlsProblem::PinMismatch,
         ""},
        {"a pin that is no fingerprint",
         {},
         "AB:CD",
         TlsProblem::PinMismatch,
         "the pinned fingerprint is not 32 bytes of hex"},
    };
    for (const auto& row : rows) {
        CertificateFacts facts = Trusted();
        for (const Change& change : row.changes) {
            change(facts);
        }
        const TlsFailure failure = DecideCertificate(facts, "localhost", row.pin);
        EXPECT_EQ(failure.problem, row.problem) << row.name;
        EXPECT_EQ(failure.detail, row.detail) << row.name;
        EXPECT_EQ(failure.fingerprint, facts.fingerprint) << row.name;
    }
}

TEST(CertificateDecisionTest, TheChainThenTheNameThenTheDatesEachWithItsDetail) {
    const auto chain = [](ChainTrust trust, std::int64_t issuerTime = 0, const char* words = "") {
        return Change([=](CertificateFacts& f) {
            f.chain = trust;
            f.issuerTime = issuerTime;
            f.chainWords = words;
        });
    };
    const struct {
        const char* name;
        std::vector<Change> changes;
        TlsProblem problem;
        std::string detail;
    } rows[] = {
        {"all well", {}, TlsProblem::None, ""},
        {"self-signed", {kSelfSigned}, TlsProblem::Untrusted, "self-signed"},
        {"issuer unknown",
         {chain(ChainTrust::IssuerUnknown)},
         TlsProblem::Untrusted,
         "issuer unknown"},
        {"no chain", {chain(ChainTrust::NoChain)}, TlsProblem::Untrusted, "no chain"},
        {"library's words",
         {chain(ChainTrust::Other, 0, "revoked")},
         TlsProblem::Untrusted,
         "revoked"},
        {"issuer expired",
         {chain(ChainTrust::IssuerExpired, kJanuary2nd2021 - 2 * kDay)},
         TlsProblem::Untrusted,
         "an issuer's certificate expired on 2020-12-31"},
        {"issuer early",
         {chain(ChainTrust::IssuerNotYetValid, kJanuary2nd2021 + 40 * kDay)},
         TlsProblem::Untrusted,
         "an issuer's certificate is not valid before 2021-02-11"},
        {"wrong name", {kElsewhere}, TlsProblem::NameMismatch, "mail.example.net"},
        {"expired", {kExpired}, TlsProblem::Expired, "2020-12-30"},
        {"not yet valid", {kEarly}, TlsProblem::NotYetValid, "2021-01-07"},
        // Several wrong at once: the first in the order is told.
        {"untrusted, elsewhere, expired",
         {kSelfSigned, kElsewhere, kExpired},
         TlsProblem::Untrusted,
         "self-signed"},
        {"elsewhere and expired",
         {kElsewhere, kExpired},
         TlsProblem::NameMismatch,
         "mail.example.net"},
        {"expired and not yet valid", {kEarly, kExpired}, TlsProblem::Expired, "2020-12-30"},
    };
    for (const auto& row : rows) {
        CertificateFacts facts = Trusted();
        for (const Change& change : row.changes) {
            change(facts);
        }
        const TlsFailure failure = DecideCertificate(facts, "localhost", "");
        EXPECT_EQ(failure.problem, row.problem) << row.name;
        EXPECT_EQ(failure.detail, row.detail) << row.name;
        EXPECT_EQ(failure.fingerprint, kPrint) << row.name;
    }
}

TEST(CertificateDecisionTest, HostsMatchTheirOwnKindOfSubjectAltNameOnly) {
    const std::vector<CertificateName> names = {
        {false, "Mail.Example.NET"}, {false, "*.smtp.example.net"}, {false, "192.0.2.9"},
        {true, "192.0.2.1"},         {true, "2001:db8::25"},        {true, "::ffff:198.51.100.7"}};
    const struct {
        const char* host;
        bool taken;
    } rows[] = {
        {"mail.example.net", true},
        {"MAIL.example.net.", true},
        {"a.smtp.example.net", true},
        {"a.b.smtp.example.net", false},
        {"smtp.example.net", false},
        {"192.0.2.1", true},
        {"[192.0.2.1]", true},
        {"2001:DB8:0:0::25", true},
        {"[2001:db8::25]", true},
        {"2001:db8::25%eth0", true},
        {"::ffff:198.51.100.7", true},
        {"198.51.100.7", false},     // an IPv4 address is not its IPv6 mapping
        {"192.0.2.9", false},        // a DNS entry that reads like an address
        {"192.0.2.01", false},       // no address, and no name the certificate has
        {"2001:db8::25::1", false},  // not an address either
        {"mail.example.net:25", false},
        {"", false},
        {"localhost", false},  // the common name names no server
    };
    for (const auto& row : rows) {
        CertificateFacts facts = Trusted();
        facts.names = names;
        EXPECT_EQ(DecideCertificate(facts, row.host, "").problem,
                  row.taken ? TlsProblem::None : TlsProblem::NameMismatch)
            << row.host;
    }
}

TEST(CertificateDecisionTest, AWrongNameToldAsWhatTheCertificateIsFor) {
    std::vector<CertificateName> many;
    for (int i = 0; i < 12; ++i) {
        many.push_back({i % 2 == 1, i % 2 == 1 ? "192.0.2." + std::to_string(i)
                                               : "n" + std::to_string(i) + ".example.test"});
    }
    const struct {
        std::vector<CertificateName> names;
        std::string commonName;
        const char* detail;
    } rows[] = {
        {{{true, "192.0.2.1"}, {false, "mail.example.test"}},
         "localhost",
         "192.0.2.1, mail.example.test"},
        {many, "localhost",
         "n0.example.test, 192.0.2.1, n2.example.test, 192.0.2.3, n4.example.test, 192.0.2.5, "
         "n6.example.test, 192.0.2.7, n8.example.test, 192.0.2.9 and 2 more"},
        {{}, "localhost", "localhost in its common name only"},
        {{{false, ""}}, "", "no name"},
    };
    for (const auto& row : rows) {
        CertificateFacts facts = Trusted();
        facts.names = row.names;
        facts.commonName = row.commonName;
        const TlsFailure failure = DecideCertificate(facts, "localhost", "");
        EXPECT_EQ(failure.problem, TlsProblem::NameMismatch) << row.detail;
        EXPECT_EQ(failure.detail, row.detail);
    }
}

TEST(CertificateDecisionTest, HostsNoCertificateCanBeForAreToldBeforehand) {
    const struct {
        const char* host;
        const char* text;
        bool address;
        const char* reason;
    } rows[] = {
        {"mail.example.net.", "mail.example.net", false, ""},
        {"[::1]", "::1", true, ""},
        {"fe80::1%eth0", "fe80::1", true, ""},
        {"127.0.0.1", "127.0.0.1", true, ""},
        {"127.0.0.01", "127.0.0.01", false, ""},
        {"", "", false, "no server name to check the certificate for"},
        {".", "", false, "no server name to check the certificate for"},
        {"[not:an:address]", "not:an:address", true,
         "the certificate cannot be checked for \"not:an:address\""},
    };
    for (const auto& row : rows) {
        const CertificateHost host = ReadCertificateHost(row.host);
        EXPECT_EQ(host.text, row.text) << row.host;
        EXPECT_EQ(host.address, row.address) << row.host;
        EXPECT_EQ(UncheckableHostReason(host), row.reason) << row.host;
    }
}

TEST(CertificateDecisionTest, DaysAreCountedInUtcAcrossLeapYearsAndBefore1970) {
    const struct {
        std::int64_t time;
        const char* day;
    } rows[] = {
        {0, "1970-01-01"},
        {-1, "1969-12-31"},
        {kJanuary2nd2021 + kDay - 1, "2021-01-02"},
        {1709164800, "2024-02-29"},
        {4107542400, "2100-03-01"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CertificateDay(row.time), row.day) << row.time;
    }
}

TEST(CertificateNamesTest, NamesMatchWholeIgnoringCaseAndFinalDot) {
    EXPECT_TRUE(CertificateNameMatches("Mail.Example.NET", "mail.example.net."));
    EXPECT_FALSE(CertificateNameMatches("mail.example.net", "mail.example.net.evil"));
    EXPECT_FALSE(CertificateNameMatches("mail.example.net", "ail.example.net"));
    EXPECT_FALSE(CertificateNameMatches("", ""));
}

TEST(CertificateNamesTest, WildcardStandsForExactlyOneLeftmostLabel) {
    EXPECT_TRUE(CertificateNameMatches("*.example.net", "SMTP.example.net"));
    EXPECT_FALSE(CertificateNameMatches("*.example.net", "example.net"));
    EXPECT_FALSE(CertificateNameMatches("*.example.net", "a.b.example.net"));
    EXPECT_FALSE(CertificateNameMatches("*.example.net", ".example.net"));
    EXPECT_FALSE(CertificateNameMatches("*.example.net", "smtpexample.net"));
    // A star inside a label, below the leftmost one, or over a top-level domain is no
    // wildcard; nor is a star in the host one.
    EXPECT_FALSE(CertificateNameMatches("smtp*.example.net", "smtp1.example.net"));
    EXPECT_FALSE(CertificateNameMatches("mail.*.net", "mail.example.net"));
    EXPECT_FALSE(CertificateNameMatches("*.net", "example.net"));
    EXPECT_FALSE(CertificateNameMatches("*.example.net", "*.example.net"));
}

}  // namespace
}  // namespace vantel
