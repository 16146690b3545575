// The device code flow (RFC 8628): what the device endpoint answers, and how often to ask
// the token endpoint whether the user has entered the code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantel {

struct DeviceAuthorization {
    /// Polls come no closer than this, whatever the answer asks.
    static constexpr std::int64_t kMinIntervalSeconds = 1;
    static constexpr std::int64_t kDefaultIntervalSeconds = 5;
    /// RFC 8628 3.5: each slow_down adds this to the interval, for good.
    static constexpr std::int64_t kSlowDownSeconds = 5;

    std::string deviceCode;  ///< secret
    std::string userCode;
    std::string verificationUri;
    std::string verificationUriComplete;  ///< empty when not given
    std::string message;                  ///< Microsoft's instructions, escaped
    std::int64_t expiresIn = 900;
    std::int64_t intervalSeconds = kDefaultIntervalSeconds;

    /// Reads the device endpoint's answer; nullopt with `error` in words when it is no
    /// device authorization (the provider's error, or a field missing). Accepts Google's
    /// older "verification_url" too.
    static std::optional<DeviceAuthorization> Read(int status, std::string_view body,
                                                   std::string& error);

    /// What a poll's answer means for the next: keep asking (after `intervalSeconds`, grown
    /// on slow_down), or stop and read the answer as a token answer.
    enum class Poll { Again, Done };
    Poll Next(std::string_view error);
};

}  // namespace vantel
