// A SignInService whose provider is the test: it keeps the callbacks and calls them when the
// test says. Microsoft, and entries with a device URL, offer a code.
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
    bool Offers(const OAuthSignIn& signIn, Way way) override {
        return way == Way::Browser || lstrcmpiA(signIn.Provider.c_str(), "microsoft") == 0 ||
               !signIn.DeviceUrl.empty();
    }
    bool Start(const OAuthSignIn& signIn, Way way, OnProgress onProgress, OnDone onDone,
               std::string& error) override {
        started.push_back(signIn);
        ways.push_back(way);
        error = startError;
        progress = std::move(onProgress);
        done = std::move(onDone);
        return startError.empty();
    }
    void Cancel() override { ++cancels; }

    std::string status = "Not signed in";
    std::string startError;  ///< Start fails with it when set
    std::vector<OAuthSignIn> asked, started;
    std::vector<Way> ways;
    OnProgress progress;
    OnDone done;
    int cancels = 0;
};

}  // namespace vantel::test
