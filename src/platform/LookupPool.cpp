#include "platform/LookupPool.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace vantel {

struct LookupPool::Job {
    std::shared_ptr<PostQueue> posts;
    std::string host;
    std::uint16_t port = 0;
    EventLoop::ResolveCallback done;
};

/// Shared by the pool and its workers: a worker blocked in a lookup may outlive the pool.
struct LookupPool::State {
    LookUpFunction lookUp;
    std::size_t maxThreads = 1;
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> queue;
    std::size_t threads = 0;  // started and not yet ended
    std::size_t idle = 0;     // of those, the ones waiting for work
    bool closed = false;      // the pool is gone
};

LookupPool::LookupPool(LookUpFunction lookUp, std::size_t maxThreads)
    : state_(std::make_shared<State>()) {
    state_->lookUp = std::move(lookUp);
    state_->maxThreads = std::max<std::size_t>(maxThreads, 1);
}

LookupPool::~LookupPool() {
    std::deque<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->closed = true;
        dropped.swap(state_->queue);
    }
    // Idle workers end now; busy ones when their lookup returns. Nobody is waited for.
    state_->wake.notify_all();
    // The dropped callbacks go here, outside the lock: their captures may do anything.
}

void LookupPool::Resolve(const std::shared_ptr<PostQueue>& posts, const std::string& host,
                         std::uint16_t port, EventLoop::ResolveCallback done) {
    // "[2001:db8::1]", as URLs write an IPv6 address: no name server knows the brackets.
    if (host.size() > 2 && host.front() == '[' && host.back() == ']' &&
        host.find(':') != std::string::npos) {
        Resolve(posts, host.substr(1, host.size() - 2), port, std::move(done));
        return;
    }
    // A literal address needs no lookup, and no worker for one.
    SocketAddress literal;
    if (SocketAddress::ParseIPv4(host, port, literal)) {
        PostResult(state_, *posts, std::move(done), {literal}, std::string());
        return;
    }
    std::unique_lock<std::mutex> lock(state_->mutex);
    state_->queue.push_back(Job{posts, host, port, std::move(done)});
    if (state_->queue.size() <= state_->idle || state_->threads >= state_->maxThreads) {
        lock.unlock();
        state_->wake.notify_one();
        return;
    }
    try {
        // Detached: the pool's destructor must not wait out a slow name server.
        std::thread(&LookupPool::Work, state_).detach();
        ++state_->threads;
    } catch (const std::exception& e) {
        if (state_->threads > 0) {
            return;  // a running worker takes it in turn
        }
        Job job = std::move(state_->queue.back());
        state_->queue.pop_back();
        lock.unlock();
        PostResult(state_, *job.posts, std::move(job.done), {},
                   "cannot resolve " + host + ": " + e.what());
    }
}

void LookupPool::Work(std::shared_ptr<State> state) {
    std::unique_lock<std::mutex> lock(state->mutex);
    for (;;) {
        ++state->idle;
        state->wake.wait(lock, [&] { return state->closed || !state->queue.empty(); });
        --state->idle;
        if (state->closed) {
            break;
        }
        Job job = std::move(state->queue.front());
        state->queue.pop_front();
        lock.unlock();
        try {
            RunLookup(state, std::move(job));
        } catch (const std::exception&) {
            // Out of memory even for the error text: the answer is lost, the worker goes on.
        }
        lock.lock();
    }
    --state->threads;
}

void LookupPool::RunLookup(const std::shared_ptr<State>& state, Job job) {
    std::string error;
    std::vector<SocketAddress> addresses;
    try {
        addresses = state->lookUp(job.host, job.port, error);
    } catch (const std::exception& e) {
        addresses.clear();
        error = "cannot resolve " + job.host + ": " + e.what();
    }
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        if (state->closed) {
            return;  // nobody to tell; the callback is dropped with `job`, after the lock
        }
    }
    PostResult(state, *job.posts, std::move(job.done), std::move(addresses), std::move(error));
}

void LookupPool::PostResult(const std::shared_ptr<State>& state, PostQueue& posts,
                            EventLoop::ResolveCallback done, std::vector<SocketAddress> addresses,
                            std::string error) {
    posts.Push([state, done = std::move(done), addresses = std::move(addresses),
                error = std::move(error)]() mutable {
        bool closed = false;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            closed = state->closed;
        }
        // The pool goes on the loop's thread, so it cannot go between this check and the call.
        if (!closed) {
            done(std::move(addresses), std::move(error));
        }
    });
}

}  // namespace vantel
