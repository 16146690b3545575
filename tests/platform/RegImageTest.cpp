#include "platform/store/RegImage.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace vantel {

namespace {

RegValue Text(std::string name, const std::string& text) {
    return RegValue{std::move(name), kRegSz, {text.begin(), text.end()}};
}

}  // namespace

TEST(RegImageTest, KeysAreCreatedWithAncestorsAndKeepTheirFirstSpelling) {
    RegImage image;
    ASSERT_TRUE(image.CreateKey("HKEY_CURRENT_USER\\Software\\App"));
    ASSERT_TRUE(image.SetValue("hkey_current_user\\SOFTWARE\\app\\Sub", Text("v", "1")));
    EXPECT_EQ(image.KeyPaths(),
              (std::vector<std::string>{"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\Software",
                                        "HKEY_CURRENT_USER\\Software\\App",
                                        "HKEY_CURRENT_USER\\Software\\App\\Sub"}));
    EXPECT_TRUE(image.HasKey("HKEY_CURRENT_USER\\SOFTWARE"));
}

TEST(RegImageTest, SubtreesFollowTheirParentWhateverTheNeighbours) {
    RegImage image;
    for (const char* path : {"A B", "A\\c", "a\\B\\x", "A", "A\\BC", "A!"}) {
        ASSERT_TRUE(image.CreateKey(path));
    }
    EXPECT_EQ(image.KeyPaths(),
              (std::vector<std::string>{"A", "A\\B", "A\\B\\x", "A\\BC", "A\\c", "A B", "A!"}));

    EXPECT_FALSE(image.DeleteKey("A\\B"));
    EXPECT_TRUE(image.DeleteTree("a\\b"));
    EXPECT_FALSE(image.DeleteTree("A\\B"));
    EXPECT_EQ(image.KeyPaths(), (std::vector<std::string>{"A", "A\\BC", "A\\c", "A B", "A!"}));
    EXPECT_TRUE(image.DeleteKey("A\\c"));
    EXPECT_FALSE(image.HasKey("A\\c"));
}

TEST(RegImageTest, ReplacedValueKeepsItsPlaceAndName) {
    RegImage image;
    ASSERT_TRUE(image.SetValue("K", Text("First", "1")));
    ASSERT_TRUE(image.SetValue("K", Text("Second", "2")));
    ASSERT_TRUE(image.SetValue("k", RegValue{"FIRST", kRegBinary, {7}}));
    const std::vector<const RegValue*> values = image.Values("K");
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(*values[0], (RegValue{"First", kRegBinary, {7}}));
    EXPECT_EQ(values[1]->name, "Second");
    EXPECT_TRUE(image.DeleteValue("K", "first"));
    EXPECT_EQ(image.FindValue("K", "First"), nullptr);
    EXPECT_FALSE(image.DeleteValue("K", "first"));
}

TEST(RegImageTest, NamesAFileCannotHoldAreRefused) {
    RegImage image;
    for (const std::string& path : std::vector<std::string>{
             "", "\\A", "A\\", "A\\\\B", "-A", "A\nB", "A\rB", std::string("A\0B", 3)}) {
        EXPECT_FALSE(image.CreateKey(path)) << path;
    }
    EXPECT_FALSE(image.SetValue("K", Text("a\nb", "")));
    EXPECT_FALSE(image.SetValue("K", Text(std::string("a\0b", 3), "")));
    EXPECT_TRUE(image.KeyPaths().empty());
}

}  // namespace vantel
