#include "monitor/main_thread_scheduler.h"

#include <QPointer>
#include <QTimer>

namespace brevalo {

namespace {

class QtScheduledTask final : public ScheduledTask
{
public:
    QtScheduledTask(std::chrono::nanoseconds delay, std::function<void()> action)
        : timer_(new QTimer)
    {
        timer_->setSingleShot(true);
        timer_->setTimerType(Qt::PreciseTimer);
        // Sub-millisecond delays round up so that zero stays "later", never "now".
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
        timer_->setInterval(ms.count() < 0 ? std::chrono::milliseconds(0) : ms);
        QObject::connect(timer_, &QTimer::timeout, timer_, [this, action = std::move(action)] {
            pending_ = false;
            // The action may destroy this handle; keep the callable alive on the stack.
            const auto run = action;
            run();
        });
        timer_->start();
    }

    ~QtScheduledTask() override
    {
        if (timer_ != nullptr) {
            timer_->stop();
            // The handle may be dropped from inside the timer's own timeout.
            timer_->disconnect();
            timer_->deleteLater();
        }
    }

    void cancel() override
    {
        pending_ = false;
        if (timer_ != nullptr) {
            timer_->stop();
        }
    }

    bool isPending() const override { return pending_; }

private:
    QPointer<QTimer> timer_;
    bool pending_ = true;
};

} // namespace

MainThreadScheduler::TimePoint QtMainThreadScheduler::now() const
{
    return Clock::now();
}

std::unique_ptr<ScheduledTask> QtMainThreadScheduler::schedule(std::chrono::nanoseconds delay,
                                                               std::function<void()> action)
{
    return std::make_unique<QtScheduledTask>(delay, std::move(action));
}

struct ManualMainThreadScheduler::Entry
{
    std::function<void()> action;
    bool pending = true;
};

namespace {

class ManualScheduledTask final : public ScheduledTask
{
public:
    explicit ManualScheduledTask(std::shared_ptr<ManualMainThreadScheduler::Entry> entry)
        : entry_(std::move(entry))
    {}
    ~ManualScheduledTask() override { cancel(); }
    void cancel() override;
    bool isPending() const override;

private:
    std::shared_ptr<ManualMainThreadScheduler::Entry> entry_;
};

} // namespace

void ManualScheduledTask::cancel()
{
    entry_->pending = false;
}

bool ManualScheduledTask::isPending() const
{
    return entry_->pending;
}

// Starts well away from the clock's epoch so that "distant past" sentinels compare as expected.
ManualMainThreadScheduler::ManualMainThreadScheduler() : now_(TimePoint{} + std::chrono::hours(1))
{}

ManualMainThreadScheduler::~ManualMainThreadScheduler() = default;

std::unique_ptr<ScheduledTask> ManualMainThreadScheduler::schedule(std::chrono::nanoseconds delay,
                                                                   std::function<void()> action)
{
    auto entry = std::make_shared<Entry>();
    entry->action = std::move(action);
    const auto due = now_ + std::max(delay, std::chrono::nanoseconds::zero());
    queue_.emplace(std::make_pair(due, nextSequence_++), entry);
    return std::make_unique<ManualScheduledTask>(entry);
}

void ManualMainThreadScheduler::advance(std::chrono::nanoseconds duration)
{
    const TimePoint end = now_ + std::max(duration, std::chrono::nanoseconds::zero());
    for (;;) {
        auto next = queue_.begin();
        if (next == queue_.end() || next->first.first > end) {
            break;
        }
        const auto due = next->first.first;
        const auto entry = next->second;
        queue_.erase(next);
        if (!entry->pending) {
            continue;
        }
        if (due > now_) {
            const auto step = due - now_;
            now_ = due;
            if (observer_) {
                observer_(step);
            }
        }
        entry->pending = false;
        auto action = std::move(entry->action);
        action();
    }
    if (end > now_) {
        const auto step = end - now_;
        now_ = end;
        if (observer_) {
            observer_(step);
        }
    }
}

std::size_t ManualMainThreadScheduler::pendingCount() const
{
    std::size_t count = 0;
    for (const auto& [key, entry] : queue_) {
        count += entry->pending ? 1U : 0U;
    }
    return count;
}

void ManualMainThreadScheduler::setTimeObserver(
    std::function<void(std::chrono::nanoseconds step)> observer)
{
    observer_ = std::move(observer);
}

} // namespace brevalo
