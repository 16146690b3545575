// Bursts into single calls, timed by the real event loop (natively and under Wine). The
// burst that ends is in the file watch's tests; here, the one that does not.
#include "platform/Debouncer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "LoopRunner.h"

namespace vantel {
namespace {

TEST(Debouncer, AStreamThatNeverPausesIsCalledAtTheLongestWaitAllAlongAndOnceAfter) {
    // Quiet time well above the interval, so that a test machine pausing the process now and
    // then does not break the stream; slack for Windows' clock, which ticks every 16 ms.
    constexpr std::uint32_t kQuietMs = 150, kMaxWaitMs = 400, kEveryMs = 20, kSlackMs = 20;
    const auto loop = CreateEventLoop();
    ASSERT_NE(loop, nullptr);
    std::vector<std::uint64_t> calls;
    auto debouncer = std::make_unique<Debouncer>(*loop, kQuietMs, kMaxWaitMs,
                                                 [&] { calls.push_back(loop->NowMs()); });

    const std::uint64_t first = loop->NowMs();
    std::uint64_t lastPoke = 0;
    int pokes = 3 * kMaxWaitMs / kEveryMs;
    const TimerId poker = loop->StartTimer(kEveryMs, true, [&] {
        debouncer->Poke();
        lastPoke = loop->NowMs();
        if (--pokes == 0) {
            loop->Quit();
        }
    });
    loop->Run();
    loop->StopTimer(poker);
    const std::size_t duringStream = calls.size();
    const auto never = [] { return false; };
    test::RunUntil(*loop, never, kMaxWaitMs + kQuietMs);

    ASSERT_GE(duringStream, 2u);
    EXPECT_GE(calls[0] - first, kMaxWaitMs - kSlackMs);
    ASSERT_EQ(calls.size(), duringStream + 1) << "and once for the end of the stream";
    EXPECT_GE(calls.back(), lastPoke);

    // Gone with a call due: the call goes too.
    debouncer->Poke();
    debouncer.reset();
    test::RunUntil(*loop, never, kMaxWaitMs + kQuietMs);
    EXPECT_EQ(calls.size(), duringStream + 1);
}

}  // namespace
}  // namespace vantel
