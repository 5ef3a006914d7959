// The manual scheduler the other tests rely on, and the settings keys.

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
}

TEST(ManualMainThreadScheduler, AnActionMayRescheduleItselfAndDropItsOwnHandle)
{
    ManualMainThreadScheduler scheduler;
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

class Preferences : public ::testing::Test
{
protected:
    QTemporaryDir directory_;
    QSettings settings_{directory_.filePath(QStringLiteral("p.ini")), QSettings::IniFormat};
    AppPreferences preferences_{settings_};
};

TEST_F(Preferences, UsesTheFixedKeysAndRemovesThemForEmptyValues)
{
    preferences_.setInputDeviceUID(QStringLiteral("uid-1"));
    preferences_.setChannelPair(AudioChannelPair{2, 3, {}, {}});
    preferences_.setMuted(true);
    EXPECT_EQ(settings_.value("inputDeviceUID").toString(), QStringLiteral("uid-1"));
    EXPECT_EQ(settings_.value("leftChannel").toInt(), 2);
    EXPECT_EQ(settings_.value("rightChannel").toInt(), 3);
    EXPECT_TRUE(settings_.value("muted").toBool());
    EXPECT_EQ(preferences_.channelPairID(), QStringLiteral("2-3"));

    preferences_.setInputDeviceUID(QString());
    preferences_.setChannelPair(std::nullopt);
    EXPECT_FALSE(settings_.contains("inputDeviceUID"));
    EXPECT_FALSE(settings_.contains("leftChannel"));
    EXPECT_FALSE(settings_.contains("rightChannel"));
    EXPECT_FALSE(preferences_.inputDeviceUID().has_value());

    // A pair needs both channels, as integers.
    settings_.setValue("leftChannel", 0);
    EXPECT_FALSE(preferences_.channelPairID().has_value());
    settings_.setValue("rightChannel", "one");
    EXPECT_FALSE(preferences_.channelPairID().has_value());
}

} // namespace
} // namespace brevalo
