#include "platform/SettingsStoreConformance.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vantel {

namespace {

constexpr StoreRoot kUser = StoreRoot::CurrentUser;
constexpr StoreRoot kMachine = StoreRoot::LocalMachine;

std::vector<std::uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

}  // namespace

GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(SettingsStoreConformance);

void SettingsStoreConformance::SetUp() {
    store_ = GetParam().make(test::UniqueProductKey());
    ASSERT_NE(store_, nullptr);
}

void SettingsStoreConformance::TearDown() {
    if (store_ == nullptr) {
        return;
    }
    for (const StoreRoot root : {kUser, kMachine}) {
        for (const char* key : {"Settings\\Work\\Deep", "Settings\\Work", "Settings", ""}) {
            store_->DeleteStoreKey(key, root);
        }
    }
}

TEST_P(SettingsStoreConformance, AbsentKeyOrValueGivesTheDefault) {
    EXPECT_EQ(store_->ReadValueText("Settings", "Host", "fallback", kUser), "fallback");
    EXPECT_TRUE(store_->ReadBinaryValue("Settings", "Host", kUser).empty());
    ASSERT_TRUE(store_->WriteValueText("Settings", "Empty", "", kUser));
    EXPECT_EQ(store_->ReadValueText("Settings", "Host", "fallback", kUser), "fallback");
    EXPECT_EQ(store_->ReadValueText("Settings", "Empty", "fallback", kUser), "");
}

TEST_P(SettingsStoreConformance, RootsHoldValuesIndependently) {
    const std::vector<std::uint8_t> blob = {0x00, 0x01, 0x7F, 0x80, 0xFF};
    ASSERT_TRUE(store_->WriteValueText("Settings", "Host", "user.example", kUser));
    EXPECT_EQ(store_->ReadValueText("Settings", "Host", "none", kMachine), "none");
    ASSERT_TRUE(store_->WriteValueText("Settings", "Host", "machine.example", kMachine));
    ASSERT_TRUE(store_->WriteBinaryValue("Settings", "Blob", blob, kMachine));

    EXPECT_EQ(store_->ReadValueText("Settings", "Host", "", kUser), "user.example");
    EXPECT_EQ(store_->ReadValueText("Settings", "Host", "", kMachine), "machine.example");
    EXPECT_EQ(store_->ReadBinaryValue("Settings", "Blob", kMachine), blob);
    EXPECT_TRUE(store_->ReadBinaryValue("Settings", "Blob", kUser).empty());
}

TEST_P(SettingsStoreConformance, KeyAndValueNamesIgnoreCase) {
    ASSERT_TRUE(store_->WriteValueText("Settings\\Work", "Port", "25", kUser));
    EXPECT_EQ(store_->ReadValueText("SETTINGS\\work", "PORT", "", kUser), "25");
    ASSERT_TRUE(store_->WriteValueText("settings\\WORK", "pOrT", "587", kUser));
    EXPECT_EQ(store_->ReadValueText("Settings\\Work", "Port", "", kUser), "587");
}

TEST_P(SettingsStoreConformance, WritingAnotherTypeReplacesTheValue) {
    ASSERT_TRUE(store_->WriteValueText("Settings", "Mode", "text", kUser));
    ASSERT_TRUE(store_->WriteBinaryValue("Settings", "Mode", {1, 2, 3}, kUser));
    EXPECT_EQ(store_->ReadBinaryValue("Settings", "Mode", kUser),
              (std::vector<std::uint8_t>{1, 2, 3}));
    ASSERT_TRUE(store_->WriteValueText("Settings", "Mode", "again", kUser));
    EXPECT_EQ(store_->ReadValueText("Settings", "Mode", "", kUser), "again");
}

TEST_P(SettingsStoreConformance, LargeValuesReadBackWhole) {
    std::string text(100 * 1024, ' ');
    std::vector<std::uint8_t> blob(100 * 1024);
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char>('a' + i % 26);
        blob[i] = static_cast<std::uint8_t>(i * 7);
    }
    ASSERT_TRUE(store_->WriteValueText("Settings", "Text", text, kUser));
    ASSERT_TRUE(store_->WriteBinaryValue("Settings", "Blob", blob, kUser));
    EXPECT_EQ(store_->ReadValueText("Settings", "Text", "", kUser), text);
    EXPECT_EQ(store_->ReadBinaryValue("Settings", "Blob", kUser), blob);
}

TEST_P(SettingsStoreConformance, BinaryDataReadAsTextStopsAtNul) {
    ASSERT_TRUE(store_->WriteBinaryValue("Settings", "Mixed", Bytes({"ab\0cd", 5}), kUser));
    EXPECT_EQ(store_->ReadValueText("Settings", "Mixed", "", kUser), "ab");
}

TEST_P(SettingsStoreConformance, OnlyKeysWithoutSubkeysAreDeleted) {
    ASSERT_TRUE(store_->WriteValueText("Settings", "Top", "1", kUser));
    ASSERT_TRUE(store_->WriteValueText("Settings\\Work\\Deep", "Leaf", "2", kUser));

    EXPECT_FALSE(store_->DeleteStoreKey("Settings", kUser));
    EXPECT_FALSE(store_->DeleteStoreKey("Settings\\Work", kUser));
    EXPECT_EQ(store_->ReadValueText("Settings", "Top", "gone", kUser), "1");
    EXPECT_FALSE(store_->DeleteStoreKey("Settings\\Work\\Deep", kMachine));

    EXPECT_TRUE(store_->DeleteStoreKey("Settings\\Work\\Deep", kUser));
    EXPECT_EQ(store_->ReadValueText("Settings\\Work\\Deep", "Leaf", "gone", kUser), "gone");
    EXPECT_FALSE(store_->DeleteStoreKey("Settings\\Work\\Deep", kUser));
    EXPECT_TRUE(store_->DeleteStoreKey("Settings\\Work", kUser));
    EXPECT_TRUE(store_->DeleteStoreKey("Settings", kUser));
    EXPECT_EQ(store_->ReadValueText("Settings", "Top", "gone", kUser), "gone");
}

TEST_P(SettingsStoreConformance, EmptySubkeyIsTheProductKey) {
    ASSERT_TRUE(store_->WriteValueText("", "Version", "3", kUser));
    ASSERT_TRUE(store_->WriteValueText("", "", "default value", kUser));
    ASSERT_TRUE(store_->WriteValueText("Settings", "Host", "h", kUser));
    EXPECT_FALSE(store_->DeleteStoreKey("", kUser));
    EXPECT_EQ(store_->ReadValueText("", "Version", "", kUser), "3");
    EXPECT_EQ(store_->ReadValueText("", "", "", kUser), "default value");
}

TEST_P(SettingsStoreConformance, ValuesAreListedAndDeletedOneByOne) {
    const auto sorted = [](std::vector<std::string> names) {
        std::sort(names.begin(), names.end());
        return names;
    };
    EXPECT_TRUE(store_->ValueNames("Settings", kUser).empty());
    ASSERT_TRUE(store_->WriteValueText("Settings", "Host", "h", kUser));
    ASSERT_TRUE(store_->WriteBinaryValue("Settings", "PassData7", {1, 2}, kUser));
    ASSERT_TRUE(store_->WriteValueText("Settings", "ServerSecurity0", "1", kUser));
    ASSERT_TRUE(store_->WriteValueText("Settings", "Other", "m", kMachine));
    ASSERT_TRUE(store_->WriteValueText("Settings\\Work", "Port", "25", kUser));
    EXPECT_EQ(sorted(store_->ValueNames("Settings", kUser)),
              (std::vector<std::string>{"Host", "PassData7", "ServerSecurity0"}));

    EXPECT_TRUE(store_->DeleteValue("SETTINGS", "serversecurity0", kUser));
    EXPECT_FALSE(store_->DeleteValue("Settings", "ServerSecurity0", kUser));
    EXPECT_FALSE(store_->DeleteValue("Settings", "Other", kUser));
    EXPECT_FALSE(store_->DeleteValue("Missing", "Host", kUser));
    EXPECT_EQ(store_->ReadValueText("Settings", "ServerSecurity0", "gone", kUser), "gone");
    EXPECT_EQ(sorted(store_->ValueNames("Settings", kUser)),
              (std::vector<std::string>{"Host", "PassData7"}));
    EXPECT_EQ(store_->ValueNames("Settings", kMachine), std::vector<std::string>{"Other"});
    EXPECT_EQ(store_->ReadValueText("Settings\\Work", "Port", "", kUser), "25");

    // The names come back in the case they were written with.
    ASSERT_TRUE(store_->WriteValueText("Settings\\Work", "MixedCase", "x", kUser));
    EXPECT_EQ(sorted(store_->ValueNames("settings\\work", kUser)),
              (std::vector<std::string>{"MixedCase", "Port"}));
}

TEST_P(SettingsStoreConformance, WritesInsideAnUpdateAreVisibleAtOnce) {
    store_->BeginUpdate();
    store_->BeginUpdate();
    ASSERT_TRUE(store_->WriteValueText("Settings", "A", "1", kUser));
    EXPECT_TRUE(store_->EndUpdate());
    EXPECT_EQ(store_->ReadValueText("Settings", "A", "", kUser), "1");
    ASSERT_TRUE(store_->WriteBinaryValue("Settings", "B", {9}, kMachine));
    EXPECT_TRUE(store_->EndUpdate());
    EXPECT_EQ(store_->ReadBinaryValue("Settings", "B", kMachine), std::vector<std::uint8_t>{9});
}

}  // namespace vantel
