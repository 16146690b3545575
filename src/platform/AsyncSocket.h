// A non-blocking stream socket whose events arrive on the event loop's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/SocketAddress.h"

namespace vantel {

/// What a socket tells its owner. Every call comes from the event loop, never from inside a
/// call the owner made on the socket, so an owner may destroy the socket in any of them.
class SocketEvents {
  public:
    virtual ~SocketEvents() = default;
    /// A listening socket has a connection to Accept.
    virtual void OnAccept() {}
    /// A Connect finished: `error` 0 on success, else the system's error code.
    virtual void OnConnect(int error) { (void)error; }
    /// Data (or the peer's end of stream) can be read; repeats while any remains unread and
    /// reading is not paused.
    virtual void OnReceive() {}
    /// The system took more of the send queue; `backlog` bytes are still queued. Comes after
    /// a Write left bytes queued, until the queue is empty (the last call says 0).
    virtual void OnSent(std::size_t backlog) { (void)backlog; }
    /// The peer ended its stream (`error` 0) or the connection failed (`error` nonzero, a
    /// failed send included). Data may still be waiting: read it with Receive until it gives
    /// 0, kWouldBlock or kError. Comes once.
    virtual void OnClose(int error) { (void)error; }
};

/// How a Connect began. NoSocket: the system would not give a socket at all (out of
/// descriptors), which says nothing about the address.
enum class ConnectResult { Connected, InProgress, Failed, NoSocket };

/// The backends implement the system calls; the send queue is common to all of them.
class AsyncSocket {
  public:
    /// Receive results other than a byte count.
    static constexpr long kWouldBlock = -1;
    static constexpr long kError = -2;
    /// Forward's answer when this pair of sockets cannot forward: nothing was read.
    static constexpr long kCannotForward = -3;

    explicit AsyncSocket(SocketEvents& events) : events_(events) {}
    virtual ~AsyncSocket() = default;  ///< closes the socket; what is still queued is dropped
    AsyncSocket(const AsyncSocket&) = delete;
    AsyncSocket& operator=(const AsyncSocket&) = delete;

    /// Binds to the literal `address` ("::" takes IPv4 connections too, where the system
    /// lets it) and `port`, and listens with the system's largest backlog. On failure returns
    /// false and `error` says why.
    virtual bool Listen(const std::string& address, std::uint16_t port, std::string& error) = 0;
    /// Takes one waiting connection. nullptr with `error` 0 when none is waiting, with the
    /// system's error code when accepting failed (no descriptors left, for one).
    virtual std::unique_ptr<AsyncSocket> Accept(SocketEvents& events, int& error) = 0;
    /// Starts connecting; OnConnect follows only for InProgress.
    virtual ConnectResult Connect(const SocketAddress& address, int& error) = 0;
    /// Bytes read (0 = the peer ended its stream), kWouldBlock or kError.
    virtual long Receive(void* buffer, std::size_t size) = 0;
    /// Moves up to `max` of the bytes the peer sent on through `to`, without copying them
    /// through this process where the system can (Linux: splice through a pipe); what `to`'s
    /// connection does not take at once waits in its queue, as after Write. Only while `to`
    /// has nothing queued, or the order would change. Gives what Receive gives, or
    /// kCannotForward.
    virtual long Forward(AsyncSocket& to, std::size_t max) {
        (void)to;
        (void)max;
        return kCannotForward;
    }
    /// Stops (or resumes) OnReceive, so a slow peer can hold back a fast one; on a listening
    /// socket, stops (or resumes) OnAccept.
    virtual void PauseReceive(bool paused) = 0;
    /// Sends small writes at once instead of waiting to coalesce them.
    virtual void SetNoDelay() = 0;
    /// The local end, after Listen (useful when port 0 was asked for).
    virtual SocketAddress LocalAddress() const = 0;

    /// Queues a copy of `bytes` and sends what the system takes now. Before the connection
    /// stands, everything waits in the queue. Never calls the owner back: a failed send comes
    /// as OnClose from the loop.
    void Write(std::string_view bytes);
    /// The same for a block that may be large and shared by several sockets, without a copy.
    void Write(std::shared_ptr<const std::string> block);
    /// Bytes queued and not yet taken by the system (a socket that wraps another counts what
    /// that one holds too).
    virtual std::size_t Backlog() const { return backlog_; }
    /// Ends our direction of the stream once the queue is sent; the peer then reads end of
    /// stream after every byte written before.
    void ShutDownSend();
    /// Ends the connection abortively once the queue is sent: the peer's next read then fails
    /// with a reset instead of giving the end of the stream, so it can tell that the stream
    /// was cut. What the system has taken but not yet delivered may be lost with it, and a
    /// socket destroyed first resets at once. Nothing more is written or read after it.
    void Reset();
    /// Whether a send failed; nothing more is sent then.
    bool SendFailed() const { return sendError_ != 0; }
    /// Whether the peer's end of the stream came without the end the protocol under this
    /// socket marks (TLS: no close_notify), so what came before may have been cut short.
    virtual bool Truncated() const { return false; }

  protected:
    /// Whether Write would still send anything.
    bool SendOpen() const { return sendError_ == 0 && !shutDownWanted_; }
    /// The system call behind Write: bytes taken (possibly fewer than given), kWouldBlock
    /// (the backend then owes a call of Writable), or kError with `error` set.
    virtual long SendSome(const char* data, std::size_t size, int& error) = 0;
    /// The system call behind ShutDownSend, made once the queue is empty.
    virtual void ShutDownNow() = 0;
    /// Behind Reset, once the queue is empty: closes the connection with a reset now.
    virtual void ResetNow() = 0;
    /// A Reset waits for the queue: the backend's destructor then resets rather than closes.
    bool ResetPending() const { return resetWanted_ && !shutDownDone_; }
    /// Whether sending is possible yet (a connect may still be under way).
    virtual bool CanSend() const = 0;
    /// Delivers OnClose(`error`) from the loop, unless the socket is gone by then or its close
    /// was reported already.
    virtual void ReportFailureLater(int error) = 0;

    /// For the backends: the system can take more, or the connection now stands. Sends what is
    /// queued and tells the owner; may end with this socket destroyed by the owner.
    void Writable();

    SocketEvents& events_;

  private:
    struct Chunk {
        std::shared_ptr<const std::string> shared;  ///< set for a shared block
        std::string owned;                          ///< else the bytes are here
        std::size_t offset = 0;                     ///< sent so far
        std::string_view Rest() const {
            const std::string& bytes = shared ? *shared : owned;
            return std::string_view(bytes).substr(offset);
        }
    };

    /// Sends from the queue until it is empty or the system is full; false when a send failed.
    bool Flush();
    /// Ends the connection as asked, by a reset or by the end of our stream.
    void EndNow();

    bool QueueEmpty() const { return head_ == queue_.size(); }
    Chunk& PushChunk();
    void ClearQueue();

    /// The chunks from `head_` on are still to go. Unlike a deque, an empty vector takes no
    /// memory, and most sockets of a relay have nothing queued most of the time.
    std::vector<Chunk> queue_;
    std::size_t head_ = 0;
    std::size_t backlog_ = 0;
    bool shutDownWanted_ = false;
    bool shutDownDone_ = false;
    bool resetWanted_ = false;
    int sendError_ = 0;
};

}  // namespace vantel
