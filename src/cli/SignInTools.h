// What signing in needs from the system; main.cpp picks the backends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "platform/BrowserLauncher.h"
#include "platform/Crypto.h"
#include "platform/EventLoop.h"
#include "platform/HttpClient.h"
#include "platform/TokenStore.h"
#include "platform/WallClock.h"

namespace vantel {

struct SignInTools {
    /// Null where no place for the tokens is known (no HOME).
    TokenStore* tokens = nullptr;
    Crypto* crypto = nullptr;
    WallClock* clock = nullptr;
    BrowserLauncher* browser = nullptr;
    /// A client whose answers come on `loop`; one per sign-in, so it never outlives its loop.
    std::function<std::unique_ptr<HttpClient>(EventLoop& loop)> makeHttp;
    /// How long the browser has to bring the answer back.
    std::uint32_t browserDeadlineMs = 5 * 60 * 1000;
};

}  // namespace vantel
