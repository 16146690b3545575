// Opening the provider's sign-in page in the user's default browser, through the shell.
#pragma once

#include <string>

#include "platform/BrowserLauncher.h"

namespace vantel {

class ShellBrowserLauncher : public BrowserLauncher {
  public:
    /// Only an https:// page (or an http:// one on this computer) is handed to the shell:
    /// whatever else the shell would open, a program or a file, a sign-in never asks for.
    bool Open(const std::string& url, std::string& why) override;
};

}  // namespace vantel
