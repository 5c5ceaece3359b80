// SPDX-License-Identifier: GPL-3.0-or-later
#include "virtual_clock.h"

#include <algorithm>

namespace kestro {

Scheduler::EventId VirtualClock::schedule(TimePoint at, Callback fn) {
    return events_.add(std::max(at, now_), std::move(fn));
}

bool VirtualClock::runOneUntil(TimePoint t) {
    auto due = events_.takeDue(t);
    if (!due)
        return false;
    now_ = std::max(now_, due->at);
    due->fn();
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
