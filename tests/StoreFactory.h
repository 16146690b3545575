// The settings store backends the behavioural tests run against on this platform.
#pragma once

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/SettingsStore.h"

namespace vantel::test {

struct StoreFactory {
    const char* name;
    /// Makes an empty store whose keys lie below `productKey`, unique per test.
    std::function<std::unique_ptr<SettingsStore>(const std::string& productKey)> make;
};

/// Names the backend in test listings instead of dumping its bytes.
inline void PrintTo(const StoreFactory& factory, std::ostream* os) {
    *os << factory.name;
}

/// FileStore everywhere, and the registry on Windows.
std::vector<StoreFactory> AllStoreFactories();

/// A product key of its own for the running test, so registry-backed runs do not meet.
std::string UniqueProductKey();

/// gtest parameter names.
std::string StoreFactoryName(const ::testing::TestParamInfo<StoreFactory>& info);

}  // namespace vantel::test
