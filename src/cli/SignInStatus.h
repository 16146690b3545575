// What the command line says about an OAuth 2.0 entry's sign-in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/SignInTools.h"
#include "core/config/ServerEntry.h"

namespace vantel {

class SignInStatus {
  public:
    /// The entry's sign-in state in words, for vantel show and vantel check, from the token
    /// store as it is now; `number` is the entry's number in vantel show. Without a token
    /// store (`tools` null, or no place for it) the entry is taken as not signed in yet.
    static std::string Line(const SignInTools* tools, const ServerEntry& entry, std::size_t number);

    /// `seconds` since 1970 as UTC in ISO 8601: "2026-12-10T23:34:21Z".
    static std::string UtcTime(std::int64_t seconds);
};

}  // namespace vantel
