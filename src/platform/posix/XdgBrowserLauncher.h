// Opens the sign-in page with xdg-open, which hands it to the desktop's browser.
#pragma once

#include <string>

#include "platform/BrowserLauncher.h"

namespace vantel {

class XdgBrowserLauncher : public BrowserLauncher {
  public:
    /// `program` is looked up in PATH; tests give a script of their own.
    explicit XdgBrowserLauncher(std::string program = "xdg-open");

    /// Only with a display (DISPLAY or WAYLAND_DISPLAY) and only for an https:// URL (or
    /// http:// to this computer) of plain printable characters; the program runs without a
    /// shell and is waited for on a thread of its own, so the caller never blocks.
    bool Open(const std::string& url, std::string& why) override;

  private:
    std::string program_;
};

}  // namespace vantel
