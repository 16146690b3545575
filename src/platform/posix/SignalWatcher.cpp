#include "platform/posix/SignalWatcher.h"

#include <pthread.h>
#include <signal.h>

namespace vantel {
namespace {

/// SIGUSR2 only ends the waiting thread.
sigset_t WatchedSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGHUP);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR2);
    return set;
}

}  // namespace

SignalWatcher::SignalWatcher(EventLoop& loop, std::function<void()> onReload,
                             std::function<void()> onStop) {
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    waiter_ = std::thread([&loop, set, onReload = std::move(onReload), onStop = std::move(onStop)] {
        for (;;) {
            int signal = 0;
            if (sigwait(&set, &signal) != 0 || signal == SIGUSR2) {
                return;
            }
            loop.Post(signal == SIGHUP ? onReload : onStop);
        }
    });
}

SignalWatcher::~SignalWatcher() {
    pthread_kill(waiter_.native_handle(), SIGUSR2);
    waiter_.join();
}

}  // namespace vantel
