#include "core/oauth/OAuthAdvice.h"

#include <gtest/gtest.h>

namespace vantel {
namespace {

TEST(OAuthAdviceTest, ProviderErrorsBecomeAdvice) {
    struct Case {
        const char* provider;
        const char* error;
        const char* description;
        const char* inAdvice;  // "" = no advice
    } cases[] = {
        {"microsoft", "invalid_request", "AADSTS50194: Application is not multi-tenant",
         "tenant ID"},
        {"microsoft", "invalid_client",
         "AADSTS7000218: The request body must contain client_secret", "public client flows"},
        {"microsoft", "invalid_grant", "AADSTS65001: The user or administrator has not consented",
         "administrator"},
        {"microsoft", "invalid_request", "AADSTS90094: admin consent", "administrator"},
        {"microsoft", "invalid_grant", "AADSTS70043: The refresh token has expired",
         "sign in again"},
        {"microsoft", "invalid_grant", "AADSTS700082: expired due to inactivity", "sign in again"},
        {"microsoft", "invalid_grant", "AADSTS5019400: not the one", "sign in again"},
        {"google", "invalid_grant", "Token has been expired or revoked.", "Testing"},
        {"google", "invalid_client", "Unauthorized", "client ID or client secret"},
        {"other", "access_denied", "", "declined"},
        {"other", "server_error", "AADSTS", ""},
    };
    for (const Case& c : cases) {
        const std::string advice = OAuthAdvice(c.provider, c.error, c.description);
        if (*c.inAdvice == '\0') {
            EXPECT_EQ(advice, "") << c.description;
        } else {
            EXPECT_NE(advice.find(c.inAdvice), std::string::npos)
                << c.description << ": " << advice;
        }
    }
}

}  // namespace
}  // namespace vantel
