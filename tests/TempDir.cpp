#include "TempDir.h"

#include <atomic>
#include <chrono>
#include <random>
#include <string>

namespace vantel::test {

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        path_ = std::filesystem::temp_directory_path() /
                ("vantel-test-" + std::to_string(stamp) + "-" + std::to_string(seed()) + "-" +
                 std::to_string(++counter));
        if (std::filesystem::create_directory(path_)) {
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace vantel::test
