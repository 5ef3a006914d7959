#include "platform/audio/serial_notifier.h"

namespace brevalo {

SerialNotifier::SerialNotifier() : thread_([this] { run(); }) {}

SerialNotifier::~SerialNotifier()
{
    shutdown();
}

void SerialNotifier::shutdown()
{
    if (onNotifierThread()) {
        return; // a task cannot wait for its own thread to end
    }
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void SerialNotifier::post(std::function<void()> task)
{
    {
        std::lock_guard lock(mutex_);
        if (ended_) {
            return; // nothing would ever run it
        }
        tasks_.push_back(std::move(task));
        ++posted_;
    }
    wake_.notify_one();
}

void SerialNotifier::drain()
{
    if (onNotifierThread()) {
        return;
    }
    std::unique_lock lock(mutex_);
    const auto target = posted_;
    idle_.wait(lock, [&] { return finished_ >= target; });
}

void SerialNotifier::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !tasks_.empty(); });
        if (tasks_.empty()) {
            ended_ = true; // stopping, and everything posted has run
            return;
        }
        auto task = std::move(tasks_.front());
        tasks_.pop_front();
        lock.unlock();
        task();
        task = nullptr; // captured state dies outside the lock too
        lock.lock();
        ++finished_;
        idle_.notify_all();
    }
}

} // namespace brevalo
