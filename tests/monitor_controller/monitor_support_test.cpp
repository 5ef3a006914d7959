// The published state as the views see it (through the meta-object, with change signals), the
// two main-thread schedulers, and reading the saved channel pair.

#include "controller_fixture.h"
#include "monitor/app_preferences.h"

#include <QEventLoop>
#include <QMetaProperty>
#include <QTimer>

#include <gmock/gmock.h>

#include <memory>
#include <vector>

namespace brevalo::testing_support {
namespace {

using ::testing::ElementsAre;

TEST_F(ControllerFixture, EveryPublishedPropertyIsReadableAndNotifies)
{
    MonitorViewModel& controller = running();
    const QMetaObject* meta = controller.metaObject();
    for (int index = meta->propertyOffset(); index < meta->propertyCount(); ++index) {
        const QMetaProperty property = meta->property(index);
        SCOPED_TRACE(property.name());
        EXPECT_TRUE(property.hasNotifySignal());
        EXPECT_TRUE(property.read(&controller).isValid());
    }

    int presentationChanges = 0;
    QObject::connect(&controller, &MonitorViewModel::presentationChanged, &controller,
                     [&presentationChanges] { ++presentationChanges; });
    ASSERT_TRUE(controller.setProperty("isMuted", true));
    EXPECT_TRUE(controller.isMuted());
    EXPECT_GE(presentationChanges, 1);
    ASSERT_TRUE(controller.setProperty("isInputSelectionLocked", true));
    EXPECT_TRUE(controller.isInputSelectionLocked());
}

TEST(QtMainThreadScheduler, RunsOnTheEventLoopAndHonoursCancellation)
{
    QtMainThreadScheduler scheduler;
    std::vector<int> runs;
    std::unique_ptr<ScheduledTask> first;
    std::unique_ptr<ScheduledTask> second;
    first = scheduler.schedule(std::chrono::milliseconds(0), [&] {
        runs.push_back(1);
        first.reset(); // an action may drop its own handle
    });
    second = scheduler.schedule(std::chrono::milliseconds(1), [&] { runs.push_back(2); });
    auto cancelled = scheduler.schedule(std::chrono::milliseconds(0), [&] { runs.push_back(3); });
    cancelled->cancel();
    EXPECT_TRUE(runs.empty());

    QEventLoop loop;
    auto done = scheduler.schedule(std::chrono::milliseconds(5), [&] { loop.quit(); });
    QTimer::singleShot(5000, &loop, &QEventLoop::quit); // a safety net only
    loop.exec();
    EXPECT_EQ(runs, (std::vector<int>{1, 2}));
    EXPECT_FALSE(second->isPending());
    EXPECT_FALSE(cancelled->isPending());
}

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

    // (Rescheduling from inside an action is what the meter poll does every tick.)
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
} // namespace brevalo::testing_support
