#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "core/notice/NoticeCoalescer.h"
#include "relay/RelayFixture.h"

namespace vantel {
namespace {

using test::LoopbackPeer;

/// A message box as the relay's notices meet it: it stays open, running the loop as its own
/// message loop would, until `closeWhen` says the user closed it (or ten seconds pass).
class ModalBoxes : public Notifier {
  public:
    explicit ModalBoxes(EventLoop& loop) : loop_(loop) {}
    void ShowMessage(std::string_view) override {}
    void ShowError(const Notice& notice) override {
        shown.push_back(notice);
        open = true;
        test::RunUntil(loop_, [&] { return !closeWhen || closeWhen(); });
        open = false;
    }
    std::vector<Notice> shown;
    std::function<bool()> closeWhen;
    bool open = false;

  private:
    EventLoop& loop_;
};

TEST(NoticeBurst, ABurstOfFailuresIsOneBoxAndTheNextOneCountsTheRest) {
    const std::unique_ptr<EventLoop> loop = CreateEventLoop();
    ModalBoxes boxes(*loop);
    NoticeCoalescer coalescer(*loop, boxes, 0, false);
    test::CountingObserver observer;
    RelayHost host(*loop, coalescer, nullptr, observer, 7);
    ServerEntry entry;
    entry.Type = static_cast<int>(ServerType::Imap4);
    entry.LocalPort = test::FreePort(*loop);
    entry.RemotePort = test::FreePort(*loop);  // nothing listens there
    entry.Name = "127.0.0.1";
    host.settings().ServerList = {entry};
    host.Start();

    std::vector<std::unique_ptr<LoopbackPeer>> clients;
    const auto connect = [&] {
        clients.push_back(std::make_unique<LoopbackPeer>(*loop));
        EXPECT_TRUE(clients.back()->Connect(static_cast<std::uint16_t>(entry.LocalPort)));
    };
    // The box is closed once the relay has let every client go and the notices it posted
    // before have come through.
    bool marked = false;
    bool drained = false;
    boxes.closeWhen = [&] {
        if (clients.size() == 20 && !marked &&
            std::all_of(clients.begin(), clients.end(), [](auto& c) { return c->closed; })) {
            marked = true;
            loop->Post([&] { drained = true; });
        }
        return drained;
    };
    for (int i = 0; i < 20; ++i) {
        connect();
    }
    ASSERT_TRUE(test::RunUntil(*loop, [&] { return !boxes.shown.empty() && !boxes.open; }));
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].entry, entry.Label());
    EXPECT_EQ(boxes.shown[0].repeats, 0);

    // Once it is closed, the next failure opens a box that says what the first held back.
    boxes.closeWhen = nullptr;
    connect();
    ASSERT_TRUE(test::RunUntil(*loop, [&] { return boxes.shown.size() == 2; }));
    const std::string box = boxes.shown[1].Box();
    EXPECT_EQ(box.substr(box.rfind('\n') + 1), "(repeated 19 times)");
}

}  // namespace
}  // namespace vantel
