// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "clock.h"
#include "event_queue.h"

class QEventLoop;
class QSocketNotifier;

namespace kestro {

// A single-shot timer to the nanosecond: a timerfd that the event loop watches. A QTimer counts
// whole milliseconds, and rounding a wait up to them costs up to twelve characters at 125,000
// baud each time the program turns round between an answer and the next request.
class PreciseTimer {
  public:
    explicit PreciseTimer(std::function<void()> fired);
    ~PreciseTimer();
    PreciseTimer(const PreciseTimer&) = delete;
    PreciseTimer& operator=(const PreciseTimer&) = delete;

    // Fires once, d from now (at the event loop's next turn when d is not positive); a start
    // replaces the one before it.
    void start(Duration d);
    void stop();

  private:
    void onFired();

    std::function<void()> fired_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer fallback_;  // whole milliseconds, should the system have no timerfd to give
};

// Real time for the program. Waits run a nested event loop, so the window repaints and breaks
// and timer ticks are handled while an operation waits, and no core is spun. A wait looks at
// its condition each time the loop has handled what woke it (bytes from the port, an event of
// a board, the port's own drain timer), so it ends as soon as the condition holds.
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
    void watchClosely(TimePoint from, TimePoint until) override;

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
    PreciseTimer wake_;
    TimePoint woke_{-1s};                      // when wake_ last fired
    std::optional<TimePoint> armedAt_;         // when it fires next
    TimePoint closeFrom_{0}, closeUntil_{-1};  // where events are not gathered (watchClosely)
    EventQueue events_;
    bool abandoned_ = false;
    std::vector<QEventLoop*> running_;  // the nested loops of the waits under way
};

}  // namespace kestro
