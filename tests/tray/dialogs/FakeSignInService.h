// A SignInService that remembers what it was asked and hands its callbacks to the test, which
// plays the provider's part: progress lines and the outcome arrive when the test says.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tray/dialogs/SignInService.h"

namespace vantel::test {

class FakeSignInService : public SignInService {
  public:
    std::string Status(const OAuthSignIn& signIn) override {
        asked.push_back(signIn);
        return status;
    }
    /// Microsoft's entries, and others with a device URL, offer a code, as the real providers.
    bool Offers(const OAuthSignIn& signIn, Way way) override {
        return way == Way::Browser || lstrcmpiA(signIn.Provider.c_str(), "microsoft") == 0 ||
               !signIn.DeviceUrl.empty();
    }
    bool Start(const OAuthSignIn& signIn, Way way, OnProgress onProgress, OnDone onDone,
               std::string& error) override {
        started.push_back(signIn);
        ways.push_back(way);
        if (!startError.empty()) {
            error = startError;
            return false;
        }
        progress = std::move(onProgress);
        done = std::move(onDone);
        return true;
    }
    void Cancel() override { ++cancels; }

    std::string status = "Not signed in";
    /// Start fails with it when set.
    std::string startError;
    std::vector<OAuthSignIn> asked;  ///< every Status call's entry
    std::vector<OAuthSignIn> started;
    std::vector<Way> ways;
    OnProgress progress;
    OnDone done;
    int cancels = 0;
};

}  // namespace vantel::test
