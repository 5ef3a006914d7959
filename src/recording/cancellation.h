#pragma once

#include <atomic>
#include <exception>
#include <memory>

namespace brevalo {

// Thrown by a background operation whose token was tripped. It is a normal way for a task to
// end, never a failure to show: callers catch it apart from CaptureError and drop the result.
class CancellationError : public std::exception
{
public:
    const char* what() const noexcept override { return "The operation was cancelled."; }
};

// A flag shared by every copy: the owner keeps one copy and trips it from any thread, the task
// polls its copy at safe points. A default-constructed token is live and never tripped unless
// someone holding a copy cancels it. Lock-free and allocation-free after construction.
class CancellationToken
{
public:
    CancellationToken() : cancelled_(std::make_shared<std::atomic<bool>>(false)) {}

    void cancel() const noexcept { cancelled_->store(true, std::memory_order_relaxed); }
    bool isCancelled() const noexcept { return cancelled_->load(std::memory_order_relaxed); }
    void throwIfCancelled() const
    {
        if (isCancelled()) {
            throw CancellationError();
        }
    }

private:
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

} // namespace brevalo
