// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <vector>

#include "clock.h"
#include "event_queue.h"

class QEventLoop;

namespace kestro {

// Real time for the program. Waits run a nested event loop, so the window repaints and breaks
// and timer ticks are handled while an operation waits, and no core is spun.
//
// Scheduled events keep one queue in the order they are due, as in virtual time. When the
// thread stalls (a loaded machine, a paused process), the events that fell due meanwhile run
// in their order, and every one due before a wait's end has run when the wait returns: a wait
// never sees a virtual board that is behind the time the wait ended.
class EventLoopClock final : public Clock, public Scheduler {
  public:
    EventLoopClock();
    ~EventLoopClock() override;

    TimePoint now() const override;
    EventId schedule(TimePoint at, Callback fn) override;
    void cancel(EventId id) override { events_.cancel(id); }

    void sleepFor(Duration d) override;
    bool waitUntil(const std::function<bool()>& done, Duration limit) override;

    // Ends every wait under way at once (the program is quitting).
    void abandonWaits();

  private:
    // Runs, in order, every event due no later than t, also those that they schedule.
    void runDue(TimePoint t);
    // Sets the one timer for the earliest event.
    void arm();

    QElapsedTimer elapsed_;
    QTimer wake_;
    EventQueue events_;
    bool abandoned_ = false;
    std::vector<QEventLoop*> running_;  // the nested loops of the waits under way
};

}  // namespace kestro
