#include "platform/win32/TlsTestServers.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace vantel::test {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

bool TlsTestServers::Load(std::string& why) {
    const char* dir = std::getenv("VANTEL_TLS_TEST_DIR");
    if (dir == nullptr || *dir == 0) {
        why =
            "VANTEL_TLS_TEST_DIR not set: no TLS test servers (scripts/wine-ctest.sh starts them)";
        return false;
    }
    ports_ = ReadFile(std::string(dir) + "\\ports.json");
    caPem_ = ReadFile(std::string(dir) + "\\ca.pem");
    if (ports_.empty() || caPem_.empty()) {
        why = std::string("no ports.json or ca.pem in ") + dir;
        return false;
    }
    return true;
}

std::uint16_t TlsTestServers::Port(const std::string& name) const {
    const std::size_t key = ports_.find("\"" + name + "\"");
    const std::size_t colon = key == std::string::npos ? key : ports_.find(':', key);
    return colon == std::string::npos
               ? 0
               : static_cast<std::uint16_t>(std::strtoul(ports_.c_str() + colon + 1, nullptr, 10));
}

}  // namespace vantel::test
