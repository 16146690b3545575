// Name lookups on a few shared worker threads, with each result handed back through the
// asking loop's queue.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/PostQueue.h"
#include "platform/SocketAddress.h"

namespace vantel {

class LookupPool {
  public:
    /// The blocking lookup: the addresses, or empty with `error` set.
    using LookUpFunction = std::function<std::vector<SocketAddress>(
        const std::string& host, std::uint16_t port, std::string& error)>;

    static constexpr std::size_t kDefaultThreads = 4;

    /// Workers are started as lookups arrive, never more than `maxThreads` (at least one).
    explicit LookupPool(LookUpFunction lookUp, std::size_t maxThreads = kDefaultThreads);
    /// Returns at once, even while lookups block: running ones finish on their detached
    /// workers and their results are dropped; queued ones are dropped unstarted. To be
    /// destroyed on the thread that runs the posted results, so none runs after it.
    ~LookupPool();
    LookupPool(const LookupPool&) = delete;
    LookupPool& operator=(const LookupPool&) = delete;

    /// Queues a lookup of `host`; `done` gets its result through `posts` in the order the
    /// lookups finish; an IPv6 address may come in brackets. A dotted IPv4 address is posted
    /// back at once. When no worker can be
    /// started and none is running, `done` is posted at once with the reason.
    void Resolve(const std::shared_ptr<PostQueue>& posts, const std::string& host,
                 std::uint16_t port, EventLoop::ResolveCallback done);

  private:
    struct Job;
    struct State;

    static void Work(std::shared_ptr<State> state);
    static void RunLookup(const std::shared_ptr<State>& state, Job job);
    /// Posts `done` with the result; on the loop it runs only if the pool still exists.
    static void PostResult(const std::shared_ptr<State>& state, PostQueue& posts,
                           EventLoop::ResolveCallback done, std::vector<SocketAddress> addresses,
                           std::string error);

    std::shared_ptr<State> state_;
};

}  // namespace vantel
