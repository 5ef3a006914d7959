// The manual scheduler the other tests rely on, and reading the saved channel pair.

#include "monitor/app_preferences.h"
#include "monitor/main_thread_scheduler.h"

#include <QSettings>
#include <QTemporaryDir>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace brevalo {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

TEST(ManualMainThreadScheduler, RunsDueActionsInOrderAtTheirDueTime)
{
    ManualMainThreadScheduler scheduler;
    const auto start = scheduler.now();
    std::vector<std::pair<int, std::chrono::nanoseconds>> runs;
    std::chrono::nanoseconds observed{0};
    scheduler.setTimeObserver([&](std::chrono::nanoseconds step) { observed += step; });
    const auto record = [&](int id) {
        return [&, id] { runs.emplace_back(id, scheduler.now() - start); };
    };

    auto late = scheduler.schedule(30ms, record(3));
    auto early = scheduler.schedule(10ms, record(1));
    auto tie = scheduler.schedule(10ms, record(2));
    auto immediate = scheduler.schedule(0ms, record(0));
    EXPECT_TRUE(runs.empty()); // never inside schedule
    scheduler.advance(20ms);
    EXPECT_THAT(runs, ElementsAre(std::pair{0, std::chrono::nanoseconds(0ms)},
                                  std::pair{1, std::chrono::nanoseconds(10ms)},
                                  std::pair{2, std::chrono::nanoseconds(10ms)}));
    EXPECT_EQ(scheduler.now() - start, 20ms);
    EXPECT_EQ(observed, 20ms);
    EXPECT_TRUE(late->isPending());
    EXPECT_FALSE(early->isPending());
    EXPECT_EQ(scheduler.pendingCount(), 1U);

    // Cancelled or dropped actions never run.
    late->cancel();
    scheduler.schedule(1ms, record(4)).reset();
    scheduler.advance(50ms);
    EXPECT_EQ(runs.size(), 3U);
    EXPECT_EQ(scheduler.pendingCount(), 0U);

    // An action may reschedule itself and drop its own handle.
    std::unique_ptr<ScheduledTask> handle;
    int ticks = 0;
    std::function<void()> tick = [&] {
        ++ticks;
        handle = scheduler.schedule(33ms, tick);
    };
    handle = scheduler.schedule(0ms, tick);
    scheduler.advance(100ms);
    EXPECT_EQ(ticks, 4); // 0, 33, 66, 99 ms
}

// The controller tests check which keys are written and removed; this is the reading side.
TEST(AppPreferences, APairNeedsBothChannelsAsIntegers)
{
    QTemporaryDir directory;
    QSettings settings(directory.filePath(QStringLiteral("p.ini")), QSettings::IniFormat);
    AppPreferences preferences(settings);
    settings.setValue("leftChannel", 2);
    EXPECT_FALSE(preferences.channelPairID().has_value());
    settings.setValue("rightChannel", "one");
    EXPECT_FALSE(preferences.channelPairID().has_value());
    settings.setValue("rightChannel", 3);
    EXPECT_EQ(preferences.channelPairID(), QStringLiteral("2-3"));
}

} // namespace
} // namespace brevalo
