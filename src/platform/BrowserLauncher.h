// Opening the provider's sign-in page in the user's own browser.
#pragma once

#include <string>

namespace vantel {

class BrowserLauncher {
  public:
    virtual ~BrowserLauncher() = default;
    /// Opens `url` (an https:// URL Vantel built) in the system's browser. False, with
    /// `why`, where there is none to open (no display) or it could not be started.
    virtual bool Open(const std::string& url, std::string& why) = 0;
};

}  // namespace vantel
