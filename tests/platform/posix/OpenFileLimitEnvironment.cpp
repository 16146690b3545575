// The concurrency cases hold thousands of sockets open at once: lift the soft limit on open
// descriptors to the hard one before any test runs.
#include <sys/resource.h>

#include <gtest/gtest.h>

namespace vantel {
namespace {

class OpenFileLimitEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        rlimit limit{};
        if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
            limit.rlim_cur = limit.rlim_max;
            setrlimit(RLIMIT_NOFILE, &limit);
        }
    }
};

// gtest owns and deletes the environment.
[[maybe_unused]] ::testing::Environment* const kOpenFileLimit =
    ::testing::AddGlobalTestEnvironment(new OpenFileLimitEnvironment);

}  // namespace
}  // namespace vantel
