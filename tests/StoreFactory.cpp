#include <gtest/gtest.h>

#include "StoreFactory.h"

#include <atomic>
#include <filesystem>

#include "TempDir.h"
#include "platform/store/FileStore.h"
#ifdef _WIN32
#include "platform/win32/RegistryStore.h"
#endif

namespace vantel::test {
namespace {

/// A FileStore that owns the folder its file lives in.
class TempFileStore : public FileStore {
  public:
    explicit TempFileStore(std::unique_ptr<TempDir> dir, const std::string& productKey)
        : FileStore(dir->path() / "settings.reg", productKey), dir_(std::move(dir)) {}

  private:
    std::unique_ptr<TempDir> dir_;
};

}  // namespace

std::vector<StoreFactory> AllStoreFactories() {
    std::vector<StoreFactory> factories;
    factories.push_back({"FileStore", [](const std::string& productKey) {
                             auto store = std::make_unique<TempFileStore>(
                                 std::make_unique<TempDir>(), productKey);
                             EXPECT_TRUE(store->Load());
                             return std::unique_ptr<SettingsStore>(std::move(store));
                         }});
#ifdef _WIN32
    factories.push_back({"RegistryStore", [](const std::string& productKey) {
                             return std::unique_ptr<SettingsStore>(
                                 std::make_unique<RegistryStore>(productKey));
                         }});
#endif
    return factories;
}

std::string UniqueProductKey() {
    static std::atomic<int> counter{0};
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string key = "SOFTWARE\\Raderador\\VantelTest\\";
    if (info != nullptr) {
        key += std::string(info->test_suite_name()) + "." + info->name();
    }
    for (char& c : key) {
        if (c == '/') {
            c = '_';
        }
    }
    return key + "." + std::to_string(++counter);
}

std::string StoreFactoryName(const ::testing::TestParamInfo<StoreFactory>& info) {
    return info.param.name;
}

}  // namespace vantel::test
