// What the command line says about an OAuth 2.0 entry's sign-in.
#pragma once

#include <cstddef>
#include <string>

#include "core/config/ServerEntry.h"

namespace vantel {

class SignInStatus {
  public:
    /// The entry's sign-in state in words, for vantel show and vantel check; `number` is the
    /// entry's number in vantel show. Until the token store is read here, every entry is
    /// taken as not signed in yet.
    static std::string Line(const ServerEntry& entry, std::size_t number);
};

}  // namespace vantel
