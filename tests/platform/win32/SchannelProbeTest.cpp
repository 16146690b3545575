// The connection probe on the Windows event loop and Schannel, against the TLS servers
// scripts/wine-ctest.sh starts.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "cli/ConnectionProbe.h"
#include "platform/win32/TlsTestServers.h"

namespace vantel {
namespace {

class SchannelProbeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!servers_.Load(why)) {
            GTEST_SKIP() << why;
        }
        std::string error;
        context_ = CreateTlsContext({servers_.caPem()}, error);
        ASSERT_TRUE(context_) << error;
    }
    ProbeReport Probe(const std::string& name) {
        ServerEntry entry;
        entry.Name = "localhost";
        entry.RemotePort = servers_.Port(name);
        // The "bye" server's one line is a greeting of the length POP3's is.
        entry.Type = StoredServerType(ServerType::Pop3);
        entry.Security = StoredSecurityMode(SecurityMode::SslTls);
        ConnectionProbe probe(*loop_, context_.get());
        return probe.Run(entry, 10000);
    }

    test::TlsTestServers servers_;
    std::unique_ptr<TlsContext> context_;
    std::unique_ptr<EventLoop> loop_ = CreateEventLoop();
};

TEST_F(SchannelProbeTest, TrustedAndSelfSignedServersAreShown) {
    const ProbeReport trusted = Probe("bye");
    EXPECT_EQ(trusted.error, "");
    EXPECT_EQ(trusted.greeting, "bye\r\n");
    EXPECT_TRUE(trusted.encrypted);
    EXPECT_FALSE(trusted.cipher.empty());
    EXPECT_EQ(trusted.verification, "verified: the certificate is trusted and is for localhost");
    EXPECT_EQ(trusted.certificate.subject, "CN=localhost");

    const ProbeReport refused = Probe("selfsigned");
    EXPECT_FALSE(refused.verified);
    EXPECT_FALSE(refused.certificate.fingerprint.empty());
    EXPECT_EQ(refused.verification,
              "certificate not trusted (self-signed); its SHA-256 fingerprint is " +
                  refused.certificate.fingerprint);
    EXPECT_EQ(refused.certificate.issuer, "CN=localhost");
}

}  // namespace
}  // namespace vantel
