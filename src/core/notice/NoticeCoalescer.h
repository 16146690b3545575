// Keeps repeats of a notice from piling up in front of the user.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/EventLoop.h"
#include "platform/Notifier.h"

namespace vantel {

/// Passes notices on to `target`, but not the same one (same text, same entry) again while
/// it is still before the user: while its box is open (`target` has not returned yet) or
/// within `holdMs` of when it was passed on. Such a repeat is counted, and the next one
/// passed on carries the count. While a box about an entry is open, no other notice about
/// that entry opens one: those are counted too. With `tellRepeats`, a count still open when
/// the hold time is up is passed on by itself (a log says "repeated 19 times" even when the
/// failures then stop). Messages and questions pass straight through.
class NoticeCoalescer : public Notifier {
  public:
    /// How long a log holds repeats back.
    static constexpr std::uint32_t kLogHoldMs = 60000;

    NoticeCoalescer(EventLoop& loop, Notifier& target, std::uint32_t holdMs, bool tellRepeats)
        : loop_(loop), target_(target), holdMs_(holdMs), tellRepeats_(tellRepeats) {}
    NoticeCoalescer(const NoticeCoalescer&) = delete;
    NoticeCoalescer& operator=(const NoticeCoalescer&) = delete;
    ~NoticeCoalescer() override;

    void ShowMessage(std::string_view text) override { target_.ShowMessage(text); }
    void ShowWarning(std::string_view text) override { target_.ShowWarning(text); }
    void ShowError(const Notice& notice) override;
    bool AskYesNo(std::string_view text) override { return target_.AskYesNo(text); }
    bool AskOkCancel(std::string_view text) override { return target_.AskOkCancel(text); }

  private:
    struct Seen {
        bool open = false;        ///< being shown now
        std::uint64_t until = 0;  ///< held back until then
        int repeats = 0;          ///< not passed on since it last was
        Notice last;              ///< the latest of them
        TimerId timer = 0;        ///< tells the repeats when the hold is up
    };

    void Pass(const std::string& key, Notice notice);
    void HoldEnded(const std::string& key);

    EventLoop& loop_;
    Notifier& target_;
    const std::uint32_t holdMs_;
    const bool tellRepeats_;
    std::map<std::string, Seen> seen_;        ///< by text and entry
    std::map<std::string, int> openEntries_;  ///< entries with a notice being shown
};

}  // namespace vantel
