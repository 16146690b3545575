#include "core/relay/SecretMasker.h"

#include <gtest/gtest.h>

namespace vantel {
namespace {

TEST(SecretMaskerTest, PasswordsNeverShow) {
    SecretMasker masker;
    EXPECT_EQ(masker.MaskClientText("USER me\r\nPASS s3cret\r\nSTAT\r\n"),
              "USER me\r\nPASS ****\r\nSTAT\r\n");
    EXPECT_EQ(masker.MaskClientText("pass lower\r\n"), "pass ****\r\n");
    EXPECT_EQ(masker.MaskClientText("PASS"), "PASS");  // no argument, nothing to hide
}

TEST(SecretMaskerTest, SmtpAuthExchangeIsMaskedUntilTheServerStopsChallenging) {
    SecretMasker masker;
    EXPECT_EQ(masker.MaskClientText("AUTH PLAIN AGFsaWNlAHNlY3JldA==\r\n"), "AUTH PLAIN ****\r\n");
    masker.ServerReplied("235 ok\r\n");
    EXPECT_EQ(masker.MaskClientText("MAIL FROM:<a@b>\r\n"), "MAIL FROM:<a@b>\r\n");

    EXPECT_EQ(masker.MaskClientText("AUTH LOGIN\r\n"), "AUTH LOGIN\r\n");
    masker.ServerReplied("334 VXNlcm5hbWU6\r\n");
    EXPECT_EQ(masker.MaskClientText("YWxpY2U=\r\n"), "****\r\n");
    masker.ServerReplied("334 UGFzc3dvcmQ6\r\n");
    EXPECT_EQ(masker.MaskClientText("c2VjcmV0\r\n"), "****\r\n");
    masker.ServerReplied("235 2.7.0 accepted\r\n");
    EXPECT_EQ(masker.MaskClientText("RCPT TO:<c@d>\r\n"), "RCPT TO:<c@d>\r\n");
}

}  // namespace
}  // namespace vantel
