// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "clock.h"
#include "virtual_clock.h"

namespace kestro::testing {

// Virtual time on a machine that is busy now and then: in every period the owner's thread
// stalls for a while, and every event due meanwhile runs at the stall's end, in its order.
class StallingScheduler final : public Scheduler {
  public:
    StallingScheduler(VirtualClock& clock, Duration period, Duration stall)
        : clock_(clock), period_(period), stall_(stall) {}

    TimePoint now() const override { return clock_.now(); }
    EventId schedule(TimePoint at, Callback fn) override {
        const Duration into = Duration{at.count() % period_.count()};
        if (into < stall_)
            at = at - into + stall_ + into / 1024;  // late, yet still in the order they were due
        return clock_.schedule(at, std::move(fn));
    }
    void cancel(EventId id) override { clock_.cancel(id); }

  private:
    VirtualClock& clock_;
    Duration period_;
    Duration stall_;
};

}  // namespace kestro::testing
