#include "core/oauth/DeviceAuthorization.h"

#include "core/oauth/JsonObject.h"
#include "core/oauth/OAuthProvider.h"
#include "platform/EscapedText.h"

namespace vantel {

std::optional<DeviceAuthorization> DeviceAuthorization::Read(int status, std::string_view body,
                                                             std::string& error) {
    std::string parseError;
    const std::optional<JsonObject> json = JsonObject::Parse(body, parseError);
    if (!json) {
        error = status == 0 ? "the device endpoint could not be reached"
                            : "the device endpoint answered HTTP " + std::to_string(status) +
                                  " with no JSON object";
        return std::nullopt;
    }
    if (const std::optional<std::string> refused = json->String("error")) {
        error = "the device endpoint refused: " + EscapeControls(refused->substr(0, 100));
        if (const std::optional<std::string> why = json->String("error_description")) {
            error += " (" + EscapeControls(why->substr(0, 200)) + ")";
        }
        return std::nullopt;
    }
    DeviceAuthorization device;
    device.deviceCode = json->String("device_code").value_or("");
    device.userCode = EscapeControls(json->String("user_code").value_or(""));
    device.verificationUri =
        json->String("verification_uri").value_or(json->String("verification_url").value_or(""));
    device.verificationUriComplete = json->String("verification_uri_complete").value_or("");
    device.message = EscapeControls(json->String("message").value_or(""));
    device.expiresIn = json->Integer("expires_in").value_or(900);
    device.intervalSeconds = json->Integer("interval").value_or(kDefaultIntervalSeconds);
    if (device.intervalSeconds < kMinIntervalSeconds) {
        device.intervalSeconds = kMinIntervalSeconds;
    }
    if (device.intervalSeconds > 60) {
        device.intervalSeconds = 60;
    }
    // The user is sent to these pages: only web pages a browser should open.
    const auto page = [](const std::string& url) { return OAuthProvider::IsAllowedEndpoint(url); };
    if (!device.verificationUriComplete.empty() && !page(device.verificationUriComplete)) {
        device.verificationUriComplete.clear();
    }
    if (device.deviceCode.empty() || device.userCode.empty() || !page(device.verificationUri) ||
        device.expiresIn <= 0) {
        error = "the device endpoint's answer lacks the device code, the user code or the page";
        return std::nullopt;
    }
    device.verificationUri = EscapeControls(device.verificationUri);
    device.verificationUriComplete = EscapeControls(device.verificationUriComplete);
    return device;
}

DeviceAuthorization::Poll DeviceAuthorization::Next(std::string_view error) {
    if (error == "authorization_pending") {
        return Poll::Again;
    }
    if (error == "slow_down") {
        intervalSeconds += kSlowDownSeconds;
        return Poll::Again;
    }
    return Poll::Done;
}

}  // namespace vantel
