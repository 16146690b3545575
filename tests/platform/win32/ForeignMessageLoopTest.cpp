// While a dialog runs its own message loop instead of EventLoop::Run, the loop's sockets,
// timers and posted work must go on: they all arrive as messages to the loop's window.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "platform/EventLoop.h"

namespace vantel {
namespace {

class Flags : public SocketEvents {
  public:
    bool accepted = false;
    bool connected = false;
    bool received = false;
    std::function<void()> onAccept;
    void OnAccept() override {
        accepted = true;
        if (onAccept) {
            onAccept();
        }
    }
    void OnConnect(int error) override { connected = error == 0; }
    void OnReceive() override { received = true; }
};

/// What a modal dialog does: dispatch every message of the thread until `done` or 5 s.
template <typename Done>
bool PumpLikeADialog(Done done) {
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!done()) {
        if (GetTickCount64() > deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return true;
}

TEST(ForeignMessageLoopTest, SocketsTimersAndPostsKeepWorkingInADialogsLoop) {
    const auto loop = CreateEventLoop();
    ASSERT_NE(loop, nullptr);
    Flags listenerFlags;
    Flags clientFlags;
    Flags serverFlags;
    const auto listener = loop->CreateSocket(listenerFlags);
    std::string error;
    ASSERT_TRUE(listener->Listen("127.0.0.1", 0, error)) << error;
    std::unique_ptr<AsyncSocket> server;
    listenerFlags.onAccept = [&] {
        int acceptError = 0;
        server = listener->Accept(serverFlags, acceptError);
        server->Write("h");
        EXPECT_EQ(server->Backlog(), 0u);
    };
    const auto client = loop->CreateSocket(clientFlags);
    int connectError = 0;
    ASSERT_NE(client->Connect(listener->LocalAddress(), connectError), ConnectResult::Failed);

    bool timerFired = false;
    bool postRan = false;
    loop->StartTimer(20, false, [&] { timerFired = true; });
    std::thread([&] { loop->Post([&] { postRan = true; }); }).join();

    EXPECT_TRUE(PumpLikeADialog([&] {
        return timerFired && postRan && server != nullptr && clientFlags.connected &&
               clientFlags.received;
    })) << "timer "
        << timerFired << ", post " << postRan << ", accepted " << (server != nullptr)
        << ", connected " << clientFlags.connected << ", received " << clientFlags.received;
}

}  // namespace
}  // namespace vantel
