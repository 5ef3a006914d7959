#pragma once

// Delayed work on the main thread, behind an interface so that the controllers' debounces,
// polls and hold times run in virtual time in tests.
//
// Threads: every call and every action belongs to the thread the scheduler was created on (the
// Qt main thread in the application).

#include <QObject>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>

namespace brevalo {

// A pending action. Destroying the handle cancels the action; cancelling from inside the action
// itself is harmless.
class ScheduledTask
{
public:
    virtual ~ScheduledTask() = default;
    virtual void cancel() = 0;
    // True until the action has run or was cancelled.
    virtual bool isPending() const = 0;
};

class MainThreadScheduler
{
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    virtual ~MainThreadScheduler() = default;

    virtual TimePoint now() const = 0;
    // Runs action once, on the main thread, no earlier than delay from now (a zero delay still
    // runs later, never inside this call).
    [[nodiscard]] virtual std::unique_ptr<ScheduledTask> schedule(std::chrono::nanoseconds delay,
                                                                  std::function<void()> action) = 0;
};

// Qt timers on the calling thread's event loop and the steady clock.
class QtMainThreadScheduler final : public MainThreadScheduler
{
public:
    TimePoint now() const override;
    std::unique_ptr<ScheduledTask> schedule(std::chrono::nanoseconds delay,
                                            std::function<void()> action) override;
};

// Virtual time for tests: nothing runs until advance() is called, then every action that falls
// due runs in due order (ties in scheduling order) with now() set to its due time.
class ManualMainThreadScheduler final : public MainThreadScheduler
{
public:
    ManualMainThreadScheduler();
    ~ManualMainThreadScheduler() override;

    TimePoint now() const override { return now_; }
    std::unique_ptr<ScheduledTask> schedule(std::chrono::nanoseconds delay,
                                            std::function<void()> action) override;

    // Moves virtual time forward by duration, running due actions on the way.
    void advance(std::chrono::nanoseconds duration);
    // Runs the actions already due at now() (zero-delay ones included).
    void runDue() { advance(std::chrono::nanoseconds::zero()); }
    // Actions still waiting.
    std::size_t pendingCount() const;

    // Called with each step of virtual time before the actions at its end run, so that a test
    // can move other simulated clocks (the simulated audio hardware) in step.
    void setTimeObserver(std::function<void(std::chrono::nanoseconds step)> observer);

    struct Entry;

private:
    TimePoint now_;
    std::uint64_t nextSequence_ = 0;
    std::multimap<std::pair<TimePoint, std::uint64_t>, std::shared_ptr<Entry>> queue_;
    std::function<void(std::chrono::nanoseconds)> observer_;
};

} // namespace brevalo
