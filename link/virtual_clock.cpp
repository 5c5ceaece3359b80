#include "virtual_clock.h"

#include <algorithm>

namespace kestro {

Scheduler::EventId VirtualClock::schedule(TimePoint at, Callback fn) {
    const EventId id = nextId_++;
    at = std::max(at, now_);
    events_.emplace(std::make_pair(at, id), std::move(fn));
    whenOf_.emplace(id, at);
    return id;
}

void VirtualClock::cancel(EventId id) {
    auto it = whenOf_.find(id);
    if (it == whenOf_.end())
        return;
    events_.erase({it->second, id});
    whenOf_.erase(it);
}

bool VirtualClock::runOneUntil(TimePoint t) {
    if (events_.empty())
        return false;
    auto first = events_.begin();
    if (first->first.first > t)
        return false;
    now_ = std::max(now_, first->first.first);
    Callback fn = std::move(first->second);
    whenOf_.erase(first->first.second);
    events_.erase(first);
    fn();
    return true;
}

void VirtualClock::sleepFor(Duration d) {
    const TimePoint end = now_ + std::max(d, Duration{0});
    while (runOneUntil(end)) {
    }
    now_ = std::max(now_, end);
}

bool VirtualClock::waitUntil(const std::function<bool()>& done, Duration limit) {
    const TimePoint end = now_ + std::max(limit, Duration{0});
    while (!done()) {
        if (!runOneUntil(end)) {
            now_ = std::max(now_, end);
            return done();
        }
    }
    return true;
}

}  // namespace kestro
