#include "platform/Debouncer.h"

namespace vantel {

void Debouncer::Poke() {
    if (waiting_) {
        loop_.StopTimer(quiet_);
    } else {
        waiting_ = true;
        deadline_ = loop_.StartTimer(maxWaitMs_, false, [this] { Fire(); });
    }
    quiet_ = loop_.StartTimer(quietMs_, false, [this] { Fire(); });
}

void Debouncer::Cancel() {
    if (waiting_) {
        waiting_ = false;
        loop_.StopTimer(quiet_);
        loop_.StopTimer(deadline_);
    }
}

void Debouncer::Fire() {
    Cancel();
    // A copy, called last: the action may poke again (a new burst) or destroy the debouncer.
    const std::function<void()> action = action_;
    action();
}

}  // namespace vantel
