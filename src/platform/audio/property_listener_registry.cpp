#include "platform/audio/property_listener_registry.h"

#include <algorithm>

namespace brevalo {

ListenerRegistration PropertyListenerRegistry::add(ObjectId object, const PropertyAddress& address,
                                                   PropertyListener listener)
{
    std::lock_guard lock(mutex_);
    Entry entry{object, address,
                Target{nextToken_++, std::make_shared<PropertyListener>(std::move(listener))}};
    entries_.push_back(entry);
    return ListenerRegistration{object, address, entry.target.token};
}

bool PropertyListenerRegistry::remove(const ListenerRegistration& registration,
                                      bool waitForRunningCall)
{
    std::unique_lock lock(mutex_);
    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) {
        return e.target.token == registration.token && e.object == registration.objectID &&
               e.address == registration.address;
    });
    if (it == entries_.end()) {
        return false;
    }
    entries_.erase(it);
    if (waitForRunningCall) {
        idle_.wait(lock, [&] { return runningToken_ != registration.token; });
    }
    return true;
}

std::vector<PropertyListenerRegistry::Target>
PropertyListenerRegistry::matching(ObjectId object, const PropertyAddress& changed) const
{
    std::vector<Target> targets;
    std::lock_guard lock(mutex_);
    for (const auto& entry : entries_) {
        const auto& a = entry.address;
        if (entry.object == object && a.selector == changed.selector &&
            (a.scope == Scope::global || a.scope == changed.scope) &&
            (a.element == 0 || a.element == changed.element)) {
            targets.push_back(entry.target);
        }
    }
    return targets;
}

bool PropertyListenerRegistry::registered(std::uint64_t token) const
{
    return std::any_of(entries_.begin(), entries_.end(),
                       [&](const Entry& e) { return e.target.token == token; });
}

void PropertyListenerRegistry::deliver(const std::vector<Target>& targets, ObjectId object,
                                       const PropertyAddress& changed)
{
    for (const auto& target : targets) {
        {
            std::lock_guard lock(mutex_);
            // Removed while an earlier listener of this change ran: not called any more.
            if (!registered(target.token)) {
                continue;
            }
            runningToken_ = target.token;
        }
        (*target.listener)(object, changed);
        {
            std::lock_guard lock(mutex_);
            runningToken_ = 0;
        }
        idle_.notify_all();
    }
}

} // namespace brevalo
