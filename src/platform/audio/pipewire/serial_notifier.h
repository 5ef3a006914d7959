#pragma once

// One thread that runs posted tasks in order. The PipeWire backend delivers every property
// listener call through it, so that listeners never run on the PipeWire thread loop (whose lock
// they would need for their own reads) and never run concurrently with each other.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace brevalo {

class SerialNotifier
{
public:
    SerialNotifier();
    // Runs the tasks already posted, then stops the thread.
    ~SerialNotifier();
    SerialNotifier(const SerialNotifier&) = delete;
    SerialNotifier& operator=(const SerialNotifier&) = delete;

    // Any thread except a realtime one (it allocates).
    void post(std::function<void()> task);
    // Blocks until every task posted before the call has run. Not from the notifier thread.
    void drain();
    std::thread::id threadID() const { return thread_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> tasks_;
    std::uint64_t posted_ = 0;
    std::uint64_t finished_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace brevalo
