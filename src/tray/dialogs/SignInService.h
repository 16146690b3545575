// What the dialogs need to sign an OAuth 2.0 account in: the tray program gives the real one,
// over its own event loop; the tests give a fake.
#pragma once

#include <functional>
#include <string>

#include "core/config/OAuthSignIn.h"

namespace vantel {

class SignInService {
  public:
    enum class Way {
        Browser,  ///< the system's browser, the answer on a loopback listener
        Device,   ///< a code entered on any device (providers with a device URL)
    };
    /// Told while a sign-in runs, on the program's loop: what the user is to do now
    /// ("Sign in in the browser...", "Open PAGE and enter the code CODE").
    using OnProgress = std::function<void(const std::string& line)>;
    struct Outcome {
        bool signedIn = false;
        /// Why it failed, in the program's words; empty when signed in, or cancelled.
        std::string failure;
        /// The local password the mail client must use, made for this sign-in; shown once.
        std::string localPassword;
    };
    using OnDone = std::function<void(const Outcome& outcome)>;

    virtual ~SignInService() = default;
    /// The status line of `signIn`'s account: "Signed in as ...; renewed automatically",
    /// "Not signed in", or "Sign-in needed: WHY".
    virtual std::string Status(const OAuthSignIn& signIn) = 0;
    /// Whether `signIn`'s provider offers `way`.
    virtual bool Offers(const OAuthSignIn& signIn, Way way) = 0;
    /// Starts signing `signIn`'s account in; one sign-in runs at a time, a new one cancels the
    /// one before. `onDone` runs once, later, on the loop (never inside Start). False with
    /// `error` when it cannot start (an incomplete entry, no listener).
    virtual bool Start(const OAuthSignIn& signIn, Way way, OnProgress onProgress, OnDone onDone,
                       std::string& error) = 0;
    /// Stops the sign-in under way, if any; its `onDone` does not run.
    virtual void Cancel() = 0;
};

}  // namespace vantel
