#include "platform/AsyncSocket.h"

namespace vantel {

namespace {

/// Small writes join the last queued chunk up to this size, so one send takes many of them.
constexpr std::size_t kCoalesceLimit = 64 * 1024;

}  // namespace

void AsyncSocket::Write(std::string_view bytes) {
    if (bytes.empty() || sendError_ != 0 || shutDownWanted_) {
        return;
    }
    // With bytes queued before, the backend is waiting for room (or for the connection) and
    // sends these with them. Otherwise they go straight from the caller's buffer, and only
    // what the system does not take now is copied into the queue.
    if (QueueEmpty() && CanSend()) {
        int error = 0;
        const long n = SendSome(bytes.data(), bytes.size(), error);
        if (n == kError) {
            sendError_ = error != 0 ? error : -1;
            ReportFailureLater(sendError_);
            return;
        }
        if (n > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        if (bytes.empty()) {
            return;
        }
    }
    if (!QueueEmpty() && !queue_.back().shared && queue_.back().owned.size() < kCoalesceLimit) {
        queue_.back().owned.append(bytes);
    } else {
        PushChunk().owned.assign(bytes);
    }
    backlog_ += bytes.size();
}

void AsyncSocket::Write(std::shared_ptr<const std::string> block) {
    if (!block || block->empty() || sendError_ != 0 || shutDownWanted_) {
        return;
    }
    const bool wasEmpty = QueueEmpty();
    backlog_ += block->size();
    PushChunk().shared = std::move(block);
    if (wasEmpty && CanSend()) {
        Flush();
    }
}

void AsyncSocket::ShutDownSend() {
    shutDownWanted_ = true;
    if (QueueEmpty() && !shutDownDone_ && sendError_ == 0 && CanSend()) {
        EndNow();
    }
}

void AsyncSocket::Reset() {
    resetWanted_ = true;
    shutDownWanted_ = true;
    if (QueueEmpty() && sendError_ == 0 && CanSend()) {
        shutDownDone_ = true;
        ResetNow();
    }
}

void AsyncSocket::EndNow() {
    shutDownDone_ = true;
    if (resetWanted_) {
        ResetNow();
    } else {
        ShutDownNow();
    }
}

AsyncSocket::Chunk& AsyncSocket::PushChunk() {
    // A queue that never quite drains would otherwise grow by a spent chunk per push.
    if (head_ > 0 && head_ * 2 >= queue_.size()) {
        queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(head_));
        head_ = 0;
    }
    return queue_.emplace_back();
}

void AsyncSocket::ClearQueue() {
    // A queue that grew long gives its room back; the usual one or two chunks keep theirs.
    if (queue_.capacity() > 4) {
        std::vector<Chunk>().swap(queue_);
    } else {
        queue_.clear();
    }
    head_ = 0;
}

bool AsyncSocket::Flush() {
    while (!QueueEmpty()) {
        Chunk& front = queue_[head_];
        const std::string_view rest = front.Rest();
        int error = 0;
        const long n = SendSome(rest.data(), rest.size(), error);
        if (n == kWouldBlock) {
            return true;
        }
        if (n < 0) {
            // The bytes can never go now: the owner hears of it as a failed connection.
            sendError_ = error != 0 ? error : -1;
            ClearQueue();
            backlog_ = 0;
            ReportFailureLater(sendError_);
            return false;
        }
        const auto taken = static_cast<std::size_t>(n);
        front.offset += taken;
        backlog_ -= taken;
        if (taken < rest.size()) {
            return true;  // the system is full; the backend calls Writable when it is not
        }
        // What went is let go at once: a queue that has drained holds nothing.
        queue_[head_++] = Chunk{};
        if (QueueEmpty()) {
            ClearQueue();
        }
    }
    if (shutDownWanted_ && !shutDownDone_) {
        EndNow();
    }
    return true;
}

void AsyncSocket::Writable() {
    const bool hadQueue = !QueueEmpty();
    if (!hadQueue && !(shutDownWanted_ && !shutDownDone_)) {
        return;
    }
    if (sendError_ != 0 || !CanSend() || !Flush()) {
        return;
    }
    if (hadQueue) {
        events_.OnSent(backlog_);
    }
}

}  // namespace vantel
