// What every command of the command-line program works with.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>

#include "platform/SettingsStore.h"

namespace vantel {

struct SignInTools;

struct CliContext {
    SettingsStore& store;
    /// How messages name the store: the file's path, or "the registry".
    std::string storeName;
    /// Why the store could not be read (a malformed file, with its line); empty when it was.
    std::string loadError;
    /// The store has no settings yet (no file at the path).
    bool storeMissing = false;
    /// Why the last save failed.
    std::function<std::string()> saveError;
    /// The machine-wide copy of the settings instead of the user's.
    bool machine = false;
    /// Saves go to the machine-wide copy and the user's, as the Windows program writes them.
    bool bothRoots = false;
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    /// Seeds the numbers of new stored logins.
    std::uint32_t tick = 0;
    /// The token store and what signing in needs; null where this system has none yet.
    SignInTools* signIn = nullptr;
    /// Written with every save, as the Windows program writes it, so that the service finds
    /// the sign-ins; empty: left as it is.
    std::string tokenFolder{};
};

}  // namespace vantel
