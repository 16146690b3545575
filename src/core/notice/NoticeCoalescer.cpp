#include "core/notice/NoticeCoalescer.h"

namespace vantel {

NoticeCoalescer::~NoticeCoalescer() {
    for (const auto& [key, seen] : seen_) {
        if (seen.timer != 0) {
            loop_.StopTimer(seen.timer);
        }
    }
}

void NoticeCoalescer::ShowError(const Notice& notice) {
    std::string key = notice.text;
    key.append(1, '\0').append(notice.entry);
    Seen& seen = seen_[key];
    const bool entryOpen = openEntries_.count(notice.entry) != 0;
    if (seen.open || loop_.NowMs() < seen.until || entryOpen) {
        ++seen.repeats;
        seen.last = notice;
        if (tellRepeats_ && seen.timer == 0 && !seen.open && !entryOpen) {
            const std::uint64_t now = loop_.NowMs();
            const auto wait = static_cast<std::uint32_t>(seen.until > now ? seen.until - now : 0);
            seen.timer = loop_.StartTimer(wait, false, [this, key] { HoldEnded(key); });
        }
        return;
    }
    Pass(key, notice);
}

void NoticeCoalescer::Pass(const std::string& key, Notice notice) {
    Seen& seen = seen_[key];
    notice.repeats = seen.repeats;
    seen.repeats = 0;
    seen.open = true;
    seen.until = loop_.NowMs() + holdMs_;
    const std::string entry = notice.entry;
    ++openEntries_[entry];
    // A message box returns once it is closed; notices that come meanwhile (its message loop
    // runs the relay on) find it open.
    target_.ShowError(notice);
    seen_[key].open = false;
    if (--openEntries_[entry] == 0) {
        openEntries_.erase(entry);
    }
}

void NoticeCoalescer::HoldEnded(const std::string& key) {
    Seen& seen = seen_[key];
    seen.timer = 0;
    if (seen.repeats == 0) {
        return;
    }
    if (loop_.NowMs() < seen.until) {
        // Held longer than planned (the notice was shown again meanwhile): wait on.
        const auto wait = static_cast<std::uint32_t>(seen.until - loop_.NowMs());
        seen.timer = loop_.StartTimer(wait, false, [this, key] { HoldEnded(key); });
        return;
    }
    Pass(key, seen.last);
}

}  // namespace vantel
