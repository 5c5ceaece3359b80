#pragma once

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <thread>

#include "clock.h"
#include "event_loop_clock.h"
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

// The program's clock, with the application whose event loop it runs.
struct ProgramClock {
    int argc = 1;
    char name[8] = "test";
    char* argv[1] = {name};
    QCoreApplication app{argc, argv};
    EventLoopClock clock;
};

// The same in the program's event loop: the loop's own thread stalls now and then, and another
// thread keeps a core busy, so timers fire late as on a loaded machine.
class BusyMachine {
  public:
    BusyMachine(std::chrono::milliseconds period, std::chrono::milliseconds stall)
        : spinner_([this] {
              while (!stop_.load(std::memory_order_relaxed)) {
              }
          }) {
        QObject::connect(&timer_, &QTimer::timeout,
                         [stall] { std::this_thread::sleep_for(stall); });
        timer_.start(period);
    }
    ~BusyMachine() {
        stop_ = true;
        spinner_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread spinner_;
    QTimer timer_;
};

}  // namespace kestro::testing
