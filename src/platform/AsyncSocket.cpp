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
    if (queue_.empty() && CanSend()) {
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
    if (!queue_.empty() && !queue_.back().shared && queue_.back().owned.size() < kCoalesceLimit) {
        queue_.back().owned.append(bytes);
    } else {
        queue_.emplace_back();
        queue_.back().owned.assign(bytes);
    }
    backlog_ += bytes.size();
}

void AsyncSocket::Write(std::shared_ptr<const std::string> block) {
    if (!block || block->empty() || sendError_ != 0 || shutDownWanted_) {
        return;
    }
    const bool wasEmpty = queue_.empty();
    backlog_ += block->size();
    queue_.emplace_back();
    queue_.back().shared = std::move(block);
    if (wasEmpty && CanSend()) {
        Flush();
    }
}

void AsyncSocket::ShutDownSend() {
    shutDownWanted_ = true;
    if (queue_.empty() && !shutDownDone_ && sendError_ == 0 && CanSend()) {
        EndNow();
    }
}

void AsyncSocket::Reset() {
    resetWanted_ = true;
    shutDownWanted_ = true;
    if (queue_.empty() && sendError_ == 0 && CanSend()) {
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

bool AsyncSocket::Flush() {
    while (!queue_.empty()) {
        Chunk& front = queue_.front();
        const std::string_view rest = front.Rest();
        int error = 0;
        const long n = SendSome(rest.data(), rest.size(), error);
        if (n == kWouldBlock) {
            return true;
        }
        if (n < 0) {
            // The bytes can never go now: the owner hears of it as a failed connection.
            sendError_ = error != 0 ? error : -1;
            queue_.clear();
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
        queue_.pop_front();
    }
    if (shutDownWanted_ && !shutDownDone_) {
        EndNow();
    }
    return true;
}

void AsyncSocket::Writable() {
    const bool hadQueue = !queue_.empty();
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
