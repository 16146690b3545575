#include "platform/PostQueue.h"

namespace vantel {

bool PostQueue::Push(std::function<void()> work) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!closed_) {
            const bool wasEmpty = work_.empty();
            work_.push_back(std::move(work));
            // One wake per batch: the loop takes everything queued when it wakes.
            if (wasEmpty) {
                wake_();
            }
            return true;
        }
    }
    // Dropped outside the lock: its captures may do anything when destroyed.
    work = nullptr;
    return false;
}

std::deque<std::function<void()>> PostQueue::TakeAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::deque<std::function<void()>> taken;
    taken.swap(work_);
    return taken;
}

void PostQueue::Close() {
    std::deque<std::function<void()>> dropped;
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    dropped.swap(work_);
}

}  // namespace vantel
