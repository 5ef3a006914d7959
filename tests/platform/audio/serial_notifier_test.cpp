#include "platform/audio/serial_notifier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <optional>
#include <thread>
#include <vector>

namespace brevalo {
namespace {

TEST(SerialNotifier, RunsTasksInOrderOnOneThreadAndDrains)
{
    std::vector<int> seen;
    std::atomic<std::thread::id> thread{};
    SerialNotifier notifier;
    for (int i = 0; i < 100; ++i) {
        notifier.post([&, i] {
            seen.push_back(i);
            thread = std::this_thread::get_id();
        });
    }
    notifier.drain();
    std::vector<int> expected(100);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(thread.load(), notifier.threadID());
    EXPECT_NE(thread.load(), std::this_thread::get_id());
}

// The two ways the backends' notification threads once differed: whether tasks still queued at
// the end run, and whether a listener that drains (through a call that drains) hangs.
TEST(SerialNotifier, EndsAfterEveryPromisedTaskAndNeverWaitsForItself)
{
    std::optional<SerialNotifier> notifier;
    notifier.emplace();
    std::atomic<bool> release{false};
    std::vector<int> ran;
    notifier->post([&] {
        while (!release.load()) {
            std::this_thread::yield();
        }
        notifier->drain(); // would wait for itself
        ran.push_back(1);
        notifier->post([&] { ran.push_back(3); }); // posted while the end is under way
    });
    notifier->post([&] { ran.push_back(2); });
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        release = true;
    });
    notifier->shutdown();
    releaser.join();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    notifier->post([&] { ran.push_back(4); }); // after the end: dropped, and drain returns
    notifier->drain();
    notifier.reset();
    EXPECT_EQ(ran.size(), 3u);
}

} // namespace
} // namespace brevalo
