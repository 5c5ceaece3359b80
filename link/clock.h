// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace kestro {

using Duration = std::chrono::nanoseconds;
// Time since the clock's own epoch; monotonic, so crossing midnight never lengthens a wait.
using TimePoint = std::chrono::nanoseconds;

using namespace std::chrono_literals;

// Runs callbacks at given times on the one thread that owns the link. The serial lines of the
// virtual board, the tick timer and the simulated target all keep time through it.
class Scheduler {
  public:
    using Callback = std::function<void()>;
    using EventId = std::uint64_t;

    virtual ~Scheduler() = default;
    virtual TimePoint now() const = 0;
    // A time in the past runs as soon as the owner gets round to it, after earlier events.
    virtual EventId schedule(TimePoint at, Callback fn) = 0;
    virtual void cancel(EventId id) = 0;
    // From `from` to `until` a wait hangs on what the events bring (the last byte of an answer,
    // the end of a write): a scheduler that gathers events into fewer wake-ups runs each at its
    // own time then, so that the wait ends when its condition holds. A later call replaces it;
    // one with until before from ends it.
    virtual void watchClosely(TimePoint /*from*/, TimePoint /*until*/) {}
};

// Every wait of the program goes through a Clock. In the program a wait sleeps in the event loop,
// so the window repaints and breaks are handled; in tests time is virtual and a wait costs nothing.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    // Lets pending events run for at least d; with d == 0 it runs what is pending once.
    virtual void sleepFor(Duration d) = 0;
    // Lets events run until done() holds or limit has passed; returns done().
    virtual bool waitUntil(const std::function<bool()>& done, Duration limit) = 0;
};

// Time on the line for n characters of 10 bits (start, 8 data, stop) at the given rate.
constexpr Duration characterTime(int baud, std::int64_t n = 1) {
    return Duration{n * 10 * 1'000'000'000LL / baud};
}

}  // namespace kestro
