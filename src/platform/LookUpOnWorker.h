// Name lookup on a thread of its own, with the result handed back through the loop's queue.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/PostQueue.h"
#include "platform/SocketAddress.h"

namespace vantel {

/// The blocking lookup of the platform.
using LookUpFunction = std::vector<SocketAddress> (*)(const std::string& host, std::uint16_t port,
                                                      std::string& error);

/// Runs `lookUp` on a detached worker and posts `done` with its result to `posts`. The worker
/// holds only the queue: if the loop is gone when the lookup ends, the queue is closed and
/// the result (with `done`) is dropped there. When no thread can be started, `done` is posted
/// at once with the reason. A dotted IPv4 address is posted back without a thread.
void LookUpOnWorker(const std::shared_ptr<PostQueue>& posts, LookUpFunction lookUp,
                    const std::string& host, std::uint16_t port, EventLoop::ResolveCallback done);

}  // namespace vantel
