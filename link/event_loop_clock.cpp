// SPDX-License-Identifier: GPL-3.0-or-later
#include "event_loop_clock.h"

#include <QEventLoop>
#include <algorithm>
#include <chrono>

namespace kestro {

namespace {

// How often a wait looks at its condition when no event has woken it: often enough that a
// reply is noticed at once, rarely enough that a long transfer costs next to no processor.
constexpr auto kPollInterval = std::chrono::milliseconds(10);

std::chrono::milliseconds toMs(Duration d) {
    return std::chrono::ceil<std::chrono::milliseconds>(std::max(d, Duration{0}));
}

}  // namespace

EventLoopClock::EventLoopClock() {
    elapsed_.start();
    wake_.setSingleShot(true);
    wake_.setTimerType(Qt::PreciseTimer);
    // Only what was due when the timer fired: a board slower than real time keeps scheduling
    // into the past, and the event loop must still get its turn between rounds.
    QObject::connect(&wake_, &QTimer::timeout, [this] { runDue(now()); });
}

EventLoopClock::~EventLoopClock() = default;

TimePoint EventLoopClock::now() const {
    return Duration{elapsed_.nsecsElapsed()};
}

Scheduler::EventId EventLoopClock::schedule(TimePoint at, Callback fn) {
    const auto first = events_.next();
    const EventId id = events_.add(at, std::move(fn));
    if (!first || at < *first)
        arm();
    return id;
}

void EventLoopClock::runDue(TimePoint t) {
    while (auto due = events_.takeDue(t))
        due->fn();
    arm();
}

void EventLoopClock::arm() {
    if (const auto first = events_.next())
        wake_.start(toMs(*first - now()));
    else
        wake_.stop();
}

void EventLoopClock::sleepFor(Duration d) {
    if (abandoned_)
        return;
    const TimePoint end = now() + std::max(d, Duration{0});
    QEventLoop loop;
    if (d <= Duration{0}) {
        loop.processEvents(QEventLoop::AllEvents);
        runDue(end);
        return;
    }
    // Nothing to look at until the time is up: one timer, no polling.
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(toMs(d));
    running_.push_back(&loop);
    loop.exec();
    running_.pop_back();
    if (!abandoned_)
        runDue(end);
}

bool EventLoopClock::waitUntil(const std::function<bool()>& done, Duration limit) {
    const TimePoint deadline = now() + std::max(limit, Duration{0});
    if (done() || abandoned_)
        return done();
    if (limit <= Duration{0}) {
        QEventLoop loop;
        loop.processEvents(QEventLoop::AllEvents);
        runDue(deadline);
        return done();
    }
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        const TimePoint t = now();
        if (abandoned_ || done() || t >= deadline) {
            loop.quit();
            return;
        }
        poll.start(std::min(kPollInterval, toMs(deadline - t)));
    });
    poll.setSingleShot(true);
    poll.start(std::min(kPollInterval, toMs(deadline - now())));
    running_.push_back(&loop);
    loop.exec();
    running_.pop_back();
    if (!abandoned_ && !done())
        runDue(deadline);
    return done();
}

void EventLoopClock::abandonWaits() {
    abandoned_ = true;
    for (QEventLoop* loop : running_)
        loop->quit();
}

}  // namespace kestro
