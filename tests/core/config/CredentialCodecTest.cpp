#include "core/config/CredentialCodec.h"

#include <gtest/gtest.h>

#include <random>

namespace vantel {
namespace {

TEST(CredentialCodecTest, ReversesBitOrderOfEachByte) {
    std::uint8_t bytes[] = {0x01, 0x61, 0x80, 0xFF, 0x00, 0x0F};
    ReverseBytesBits(bytes, sizeof bytes);
    const std::uint8_t expected[] = {0x80, 0x86, 0x01, 0xFF, 0x00, 0xF0};
    EXPECT_TRUE(std::equal(std::begin(bytes), std::end(bytes), std::begin(expected)));
}

TEST(CredentialCodecTest, PackedLayoutIsScrambledUserNulPasswordNul) {
    CredentialBlock block{};
    ASSERT_EQ(PackCredentials(block, "ab", "c"), 4);
    // 'a'=0x61->0x86, 'b'=0x62->0x46, NUL, 'c'=0x63->0xC6; the final NUL is written, not counted.
    EXPECT_EQ(block[0], 0x86);
    EXPECT_EQ(block[1], 0x46);
    EXPECT_EQ(block[2], 0x00);
    EXPECT_EQ(block[3], 0xC6);
    EXPECT_EQ(block[4], 0x00);
}

TEST(CredentialCodecTest, EmptyOrOversizedLoginIsRefusedAndBlockUntouched) {
    CredentialBlock block;
    block.fill(0xAA);
    EXPECT_EQ(PackCredentials(block, "", "secret"), 0);
    EXPECT_EQ(PackCredentials(block, "user", ""), 0);
    EXPECT_EQ(PackCredentials(block, std::string(200, 'u'), std::string(54, 'p')), 0);
    for (std::uint8_t b : block) {
        ASSERT_EQ(b, 0xAA);
    }
    // The largest login that fits fills the block exactly, terminator included.
    EXPECT_EQ(PackCredentials(block, std::string(200, 'u'), std::string(53, 'p')), 254);
    EXPECT_EQ(block[254], 0x00);
}

TEST(CredentialCodecTest, UnpackOfPackGivesBackAnyLogin) {
    std::mt19937 random(1234);
    for (int round = 0; round < 500; ++round) {
        const std::size_t total = 2 + random() % (kMaxCredentialText - 1);
        const std::size_t userLength = 1 + random() % (total - 1);
        std::string user(userLength, '\0');
        std::string password(total - userLength, '\0');
        for (char& c : user)
            c = static_cast<char>(1 + random() % 255);
        for (char& c : password)
            c = static_cast<char>(1 + random() % 255);

        CredentialBlock block{};
        const int length = PackCredentials(block, user, password);
        ASSERT_EQ(length, static_cast<int>(total + 1));
        std::string gotUser, gotPassword;
        UnpackCredentials(block, length, gotUser, gotPassword);
        ASSERT_EQ(gotUser, user);
        ASSERT_EQ(gotPassword, password);
    }
}

TEST(CredentialCodecTest, UnpackIsSafeOnDamagedLengthsAndData) {
    CredentialBlock block;
    block.fill(0x86);  // 'a' scrambled, and no terminator anywhere
    std::string user, password;
    UnpackCredentials(block, 0, user, password);
    EXPECT_TRUE(user.empty() && password.empty());
    UnpackCredentials(block, -5, user, password);
    EXPECT_TRUE(user.empty() && password.empty());
    UnpackCredentials(block, 100000, user, password);
    EXPECT_EQ(user, std::string(255, 'a'));
    EXPECT_TRUE(password.empty());
}

}  // namespace
}  // namespace vantel
