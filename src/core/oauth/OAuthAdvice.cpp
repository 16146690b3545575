#include "core/oauth/OAuthAdvice.h"

namespace vantel {
namespace {

// Whether `description` names Microsoft's error `number` ("AADSTS50194:"), not one that only
// begins with its digits.
bool HasAadsts(std::string_view description, std::string_view number) {
    const std::string code = "AADSTS" + std::string(number);
    for (std::size_t at = description.find(code); at != std::string_view::npos;
         at = description.find(code, at + 1)) {
        const std::size_t end = at + code.size();
        if (end == description.size() || description[end] < '0' || description[end] > '9') {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string OAuthAdvice(std::string_view provider, std::string_view error,
                        std::string_view description) {
    struct Known {
        const char* number;
        const char* advice;
    };
    static constexpr Known kMicrosoft[] = {
        {"50194",
         "the registration is for one organisation: give the entry its tenant ID "
         "instead of common"},
        {"7000218", "allow public client flows in the app registration (Authentication page)"},
        {"65001", "an administrator of the organisation must consent to the app first"},
        {"90094", "an administrator of the organisation must consent to the app first"},
        {"70043", "the sign-in has expired: sign in again"},
        {"700082", "the sign-in has expired: sign in again"},
    };
    for (const Known& known : kMicrosoft) {
        if (HasAadsts(description, known.number)) {
            return known.advice;
        }
    }
    if (error == "invalid_client") {
        return "the client ID or client secret is wrong";
    }
    if (error == "invalid_grant") {
        if (provider == "google") {
            return "the sign-in is no longer valid: sign in again; if this happens every 7 "
                   "days, the Google project is still in \"Testing\" (publish it)";
        }
        return "the sign-in is no longer valid: sign in again";
    }
    if (error == "access_denied" || error == "authorization_declined") {
        return "the sign-in was declined in the browser";
    }
    return "";
}

}  // namespace vantel
