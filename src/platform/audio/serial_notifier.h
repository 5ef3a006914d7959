#pragma once

// One thread that runs posted tasks in order. Each backend delivers every property listener
// call and permission answer through one, so that listeners never run on a backend's own
// threads (the PipeWire thread loop, whose lock they would need for their own reads; a
// simulated device's I/O thread) and never run concurrently with each other.
//
// Ending: shutdown (and the destructor) runs every task posted before it, and those that these
// tasks post in turn, then joins the thread, so that a notification or a permission answer
// already promised is never dropped; tasks posted after the thread ended are dropped. Draining
// from the notifier's own thread returns at once: the task calling it is the one being waited
// for, and waiting would never end.

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
    ~SerialNotifier();
    // Main thread (not the notifier's); the notifier stays usable as a drained, ended queue.
    void shutdown();
    SerialNotifier(const SerialNotifier&) = delete;
    SerialNotifier& operator=(const SerialNotifier&) = delete;

    // Any thread except a realtime one (it allocates).
    void post(std::function<void()> task);
    // Blocks until every task posted before the call has run; at once on the notifier thread.
    void drain();
    std::thread::id threadID() const { return thread_.get_id(); }
    bool onNotifierThread() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> tasks_;
    std::uint64_t posted_ = 0;
    std::uint64_t finished_ = 0;
    bool stopping_ = false;
    bool ended_ = false;
    std::thread thread_;
};

} // namespace brevalo
