// The servers of well-known mail providers, so that an entry for one needs only its name: one
// table for the command line and the dialog.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/config/ServerEntry.h"

namespace vantel {

class ServerPreset {
  public:
    /// What a preset gives an entry of one type.
    struct Server {
        std::string Host;
        int RemotePort = 0;
        SecurityMode Security = SecurityMode::SslTls;
        SignInMethod SignIn = SignInMethod::Password;
        std::string Provider;  ///< the OAuth 2.0 provider; empty for password presets
    };

    /// The preset `name` (lower case) for `type`. False with `problem` set when there is no
    /// such preset, or it has no server of that type.
    static bool Find(std::string_view name, ServerType type, Server& server, std::string& problem);
    /// The names of the presets, in the order help texts list them.
    static std::vector<std::string> Names();
};

}  // namespace vantel
