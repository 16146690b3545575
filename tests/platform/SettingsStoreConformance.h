// Behaviour every SettingsStore backend shares. Backends join with
// INSTANTIATE_TEST_SUITE_P(Name, SettingsStoreConformance,
//                          testing::Values(test::StoreFactory{...}), test::StoreFactoryName);
#pragma once

#include <memory>

#include <gtest/gtest.h>

#include "StoreFactory.h"
#include "platform/SettingsStore.h"

namespace vantel {

/// Each test works below its own product key, so backends sharing one registry do not meet.
class SettingsStoreConformance : public testing::TestWithParam<test::StoreFactory> {
  protected:
    void SetUp() override;
    /// Deletes the keys the tests use, so a registry-backed run leaves no values behind.
    void TearDown() override;

    std::unique_ptr<SettingsStore> store_;
};

}  // namespace vantel
