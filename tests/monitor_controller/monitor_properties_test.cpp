// The published state as the views see it: through the meta-object, with change signals.

#include "controller_fixture.h"

#include <QEventLoop>
#include <QMetaProperty>
#include <QTimer>

namespace brevalo::testing_support {
namespace {

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

} // namespace
} // namespace brevalo::testing_support
