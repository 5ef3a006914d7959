#pragma once

// The property listeners of one backend: registration, matching a change to its listeners and
// calling them on the backend's notification thread, with removal that waits for a running call.

#include "platform/audio/audio_hardware.h"

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace brevalo {

class PropertyListenerRegistry
{
public:
    struct Target
    {
        std::uint64_t token = 0;
        std::shared_ptr<PropertyListener> listener;
    };

    ListenerRegistration add(ObjectId object, const PropertyAddress& address,
                             PropertyListener listener);

    // False when the registration is not (any more) registered. Unless waitForRunningCall is
    // false (the caller is the notification thread itself, or nothing delivers any more), it
    // returns only once no call of that listener is running.
    bool remove(const ListenerRegistration& registration, bool waitForRunningCall);

    // The listeners registered now for a change of that property of that object. A global scope
    // listens to every scope, element 0 to every element.
    std::vector<Target> matching(ObjectId object, const PropertyAddress& changed) const;

    // Notification thread: calls each target that is still registered, in order.
    void deliver(const std::vector<Target>& targets, ObjectId object,
                 const PropertyAddress& changed);

private:
    struct Entry
    {
        ObjectId object = unknownObject;
        PropertyAddress address;
        Target target;
    };

    bool registered(std::uint64_t token) const; // with mutex_ held

    mutable std::mutex mutex_;
    std::condition_variable idle_;
    std::vector<Entry> entries_;
    std::uint64_t nextToken_ = 1;
    std::uint64_t runningToken_ = 0;
};

} // namespace brevalo
