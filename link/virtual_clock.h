// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock.h"
#include "event_queue.h"

namespace kestro {

// A discrete-event scheduler whose time moves only when something waits on it. A three-minute
// transfer runs in milliseconds, and every byte still reaches the far end at its own moment.
class VirtualClock final : public Clock, public Scheduler {
  public:
    TimePoint now() const override { return now_; }
    EventId schedule(TimePoint at, Callback fn) override;
    void cancel(EventId id) override { events_.cancel(id); }

    void sleepFor(Duration d) override;
    bool waitUntil(const std::function<bool()>& done, Duration limit) override;

    // Runs everything due up to now + d; the same as sleepFor, named for tests that drive time.
    void advance(Duration d) { sleepFor(d); }

  private:
    // Runs the earliest event if it is due no later than t; returns whether one ran.
    bool runOneUntil(TimePoint t);

    TimePoint now_{0};
    EventQueue events_;
};

}  // namespace kestro
