// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <map>
#include <optional>
#include <utility>

#include "clock.h"

namespace kestro {

// Scheduled events in the order they are due; equal times keep the order of scheduling. The
// virtual clock and the program's clock both keep time through one, so a late machine runs
// the board's events in the order virtual time would.
class EventQueue {
  public:
    Scheduler::EventId add(TimePoint at, Scheduler::Callback fn) {
        const Scheduler::EventId id = nextId_++;
        events_.emplace(std::make_pair(at, id), std::move(fn));
        whenOf_.emplace(id, at);
        return id;
    }

    void cancel(Scheduler::EventId id) {
        auto it = whenOf_.find(id);
        if (it == whenOf_.end())
            return;
        events_.erase({it->second, id});
        whenOf_.erase(it);
    }

    std::optional<TimePoint> next() const {
        if (events_.empty())
            return std::nullopt;
        return events_.begin()->first.first;
    }

    struct Due {
        TimePoint at;
        Scheduler::Callback fn;
    };
    // Takes out the earliest event if it is due no later than t.
    std::optional<Due> takeDue(TimePoint t) {
        if (events_.empty() || events_.begin()->first.first > t)
            return std::nullopt;
        auto first = events_.begin();
        Due due{first->first.first, std::move(first->second)};
        whenOf_.erase(first->first.second);
        events_.erase(first);
        return due;
    }

  private:
    Scheduler::EventId nextId_ = 1;
    std::map<std::pair<TimePoint, Scheduler::EventId>, Scheduler::Callback> events_;
    std::map<Scheduler::EventId, TimePoint> whenOf_;
};

}  // namespace kestro
