// Sockets and name lookups on Windows need Winsock started: once, for every test.
#include <gtest/gtest.h>

#include <memory>

#include "platform/win32/WinsockSession.h"

namespace vantel {
namespace {

class WinsockEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        session_ = std::make_unique<WinsockSession>();
        ASSERT_TRUE(session_->ok()) << "Winsock 2.2 did not start";
    }
    void TearDown() override { session_.reset(); }

  private:
    std::unique_ptr<WinsockSession> session_;
};

// gtest owns and deletes the environment.
[[maybe_unused]] ::testing::Environment* const kWinsock =
    ::testing::AddGlobalTestEnvironment(new WinsockEnvironment);

}  // namespace
}  // namespace vantel
