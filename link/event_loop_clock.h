#pragma once

#include <QElapsedTimer>
#include <map>
#include <vector>

#include "clock.h"

class QEventLoop;
class QTimer;

namespace kestro {

// Real time for the program. Waits run a nested event loop, so the window repaints and breaks
// and timer ticks are handled while an operation waits, and no core is spun.
class EventLoopClock final : public Clock, public Scheduler {
  public:
    EventLoopClock();
    ~EventLoopClock() override;

    TimePoint now() const override;
    EventId schedule(TimePoint at, Callback fn) override;
    void cancel(EventId id) override;

    void sleepFor(Duration d) override;
    bool waitUntil(const std::function<bool()>& done, Duration limit) override;

    // Ends every wait under way at once (the program is quitting).
    void abandonWaits();

  private:
    QElapsedTimer elapsed_;
    EventId nextId_ = 1;
    std::map<EventId, QTimer*> timers_;
    bool abandoned_ = false;
    std::vector<QEventLoop*> running_;  // the nested loops of the waits under way
};

}  // namespace kestro
