// Winsock started for as long as this object lives: sockets and name lookups need it.
#pragma once

namespace vantel {

class WinsockSession {
  public:
    WinsockSession();
    ~WinsockSession();
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;

    /// False when Winsock 2.2 is not available; then no socket will open.
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
};

}  // namespace vantel
