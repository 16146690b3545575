// The TLS servers scripts/wine-ctest.sh starts for the Windows tests (tests/tls/
// tls-test-server.py): one port per case, and the CA that issued their certificates.
#pragma once

#include <cstdint>
#include <string>

namespace vantel::test {

class TlsTestServers {
  public:
    /// Reads ports.json and ca.pem from VANTEL_TLS_TEST_DIR; false with `why` when there are
    /// no servers to test against.
    bool Load(std::string& why);
    /// The port of one case ("trusted", "selfsigned", ...); 0 when there is none.
    std::uint16_t Port(const std::string& name) const;
    const std::string& caPem() const { return caPem_; }

  private:
    std::string ports_;
    std::string caPem_;
};

}  // namespace vantel::test
