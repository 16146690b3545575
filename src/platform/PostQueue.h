// Work handed to the event loop's thread from any thread. Shared (through a shared_ptr) with
// threads that may outlive the loop: once closed, whatever they hand over is dropped instead
// of reaching a loop that is gone.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace vantel {

class PostQueue {
  public:
    /// `wake` tells the loop there is work; it runs under the queue's lock, so once Close has
    /// returned it never runs again and may refer to the loop.
    explicit PostQueue(std::function<void()> wake) : wake_(std::move(wake)) {}
    PostQueue(const PostQueue&) = delete;
    PostQueue& operator=(const PostQueue&) = delete;

    /// Queues `work` and wakes the loop; false (and `work` is dropped) once closed.
    bool Push(std::function<void()> work);
    /// Everything queued so far, in order.
    std::deque<std::function<void()>> TakeAll();
    /// Drops what is queued and refuses what comes later.
    void Close();

  private:
    std::function<void()> wake_;
    std::mutex mutex_;
    std::deque<std::function<void()>> work_;
    bool closed_ = false;
};

}  // namespace vantel
