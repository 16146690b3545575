// The tray program's sign-ins: the Server Settings dialog's and the tray menu's, one at a
// time, on the program's own loop, kept where the relay and the service find them.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/config/RelaySettings.h"
#include "core/oauth/OAuthDefaults.h"
#include "core/oauth/SignInFlow.h"
#include "platform/BrowserLauncher.h"
#include "platform/Crypto.h"
#include "platform/EventLoop.h"
#include "platform/HttpClient.h"
#include "platform/TokenStore.h"
#include "platform/WallClock.h"
#include "tray/dialogs/SignInService.h"

namespace vantel {

/// What signing in needs from the system; owned by the program, outliving the sign-ins.
struct SignInKit {
    TokenStore* tokens = nullptr;
    HttpClient* http = nullptr;  ///< answers on the program's loop
    Crypto* crypto = nullptr;
    WallClock* clock = nullptr;
    BrowserLauncher* browser = nullptr;
    std::uint32_t browserDeadlineMs = 5 * 60 * 1000;
};

class TraySignIn : public SignInService {
  public:
    /// `defaults` gives the program-wide client registrations as the settings hold them now.
    TraySignIn(EventLoop& loop, SignInKit kit, std::function<OAuthDefaults()> defaults);
    ~TraySignIn() override;
    TraySignIn(const TraySignIn&) = delete;
    TraySignIn& operator=(const TraySignIn&) = delete;

    std::string Status(const OAuthSignIn& signIn) override;
    bool Offers(const OAuthSignIn& signIn, Way way) override;
    bool Start(const OAuthSignIn& signIn, Way way, OnProgress onProgress, OnDone onDone,
               std::string& error) override;
    /// Not from inside an `onProgress`: the flow that calls it would end under itself.
    void Cancel() override;

    /// The OAuth 2.0 entries of `settings` whose account must be signed in before the relay
    /// can use it (never signed in, or the provider refused the renewal), one per account.
    std::vector<std::size_t> EntriesNeedingSignIn(const RelaySettings& settings);

  private:
    struct Stored {
        bool signedIn = false;
        std::string line;  ///< the status line
    };
    /// The account's sign-in as the token store holds it now.
    Stored Read(const OAuthSignIn& signIn);
    void Ended(const OAuthSignIn& signIn, const OAuthProvider& provider,
               const SignInFlow::Outcome& outcome, const OnDone& onDone);

    EventLoop& loop_;
    SignInKit kit_;
    std::function<OAuthDefaults()> defaults_;
    std::unique_ptr<SignInFlow> flow_;
    /// Told to the callbacks posted for a flow, which may run after it was cancelled.
    std::shared_ptr<int> generation_ = std::make_shared<int>(0);
};

}  // namespace vantel
