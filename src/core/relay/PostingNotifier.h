// Notices from inside socket events, shown later from the loop.
#pragma once

#include <memory>
#include <string_view>

#include "platform/EventLoop.h"
#include "platform/Notifier.h"

namespace vantel {

/// Hands every notice to the loop instead of showing it at once: a message box runs a
/// message loop of its own, and socket events dispatched there would re-enter the session
/// (and the rewriting state) that is showing the notice. Questions cannot wait for an answer
/// this way and go straight through; nothing inside a session asks one.
class PostingNotifier : public Notifier {
  public:
    PostingNotifier(EventLoop& loop, Notifier& target) : loop_(loop), target_(target) {}
    PostingNotifier(const PostingNotifier&) = delete;
    PostingNotifier& operator=(const PostingNotifier&) = delete;
    /// Notices still queued are dropped.
    ~PostingNotifier() override { *alive_ = false; }

    void ShowMessage(std::string_view text) override;
    void ShowError(const Notice& notice) override;
    bool AskYesNo(std::string_view text) override { return target_.AskYesNo(text); }
    bool AskOkCancel(std::string_view text) override { return target_.AskOkCancel(text); }

  private:
    EventLoop& loop_;
    Notifier& target_;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace vantel
