// SPDX-License-Identifier: GPL-3.0-or-later
#include "event_loop_clock.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QSocketNotifier>
#include <algorithm>
#include <chrono>
#include <cstdint>

namespace kestro {

namespace {

// How often a wait looks at its condition when nothing has woken the loop: a backstop for a
// condition that changes with no event of its own; rarely enough that a long transfer costs
// next to no processor.
constexpr auto kPollInterval = std::chrono::milliseconds(10);

// Scheduled events that fall due close together run together, a wake-up at most this often: a
// board at 125,000 baud has a character on the line every 80 us, and waking for each one
// would cost it three times the processor for nothing. A wait's own limit is not held back, nor
// what a wait watches closely (an answer's last byte, the end of a write): the grain would
// otherwise add up to a millisecond to every exchange with a board in the same process.
constexpr Duration kEventGrain = std::chrono::milliseconds(1);

std::chrono::milliseconds toMs(Duration d) {
    return std::chrono::ceil<std::chrono::milliseconds>(std::max(d, Duration{0}));
}

}  // namespace

PreciseTimer::PreciseTimer(std::function<void()> fired)
    : fired_(std::move(fired)), fd_(::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC)) {
    fallback_.setSingleShot(true);
    fallback_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&fallback_, &QTimer::timeout, [this] { fired_(); });
}

PreciseTimer::~PreciseTimer() {
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

void PreciseTimer::start(Duration d) {
    if (fd_ < 0) {
        fallback_.start(toMs(d));
        return;
    }
    // Watched from the first start on: a clock may be made before the application's event loop.
    if (!notifier_) {
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { onFired(); });
    }
    // An it_value of zero would disarm the timer: the earliest it can be is a nanosecond.
    const std::int64_t ns = std::max<std::int64_t>(d.count(), 1);
    itimerspec timeout{};
    timeout.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
    timeout.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
    ::timerfd_settime(fd_, 0, &timeout, nullptr);
}

void PreciseTimer::stop() {
    if (fd_ < 0) {
        fallback_.stop();
        return;
    }
    // Setting the timer also clears an expiry the loop has not read yet.
    const itimerspec off{};
    ::timerfd_settime(fd_, 0, &off, nullptr);
}

void PreciseTimer::onFired() {
    std::uint64_t expiries = 0;
    // Nothing to read: stopped or started anew since the loop saw it fire.
    if (::read(fd_, &expiries, sizeof expiries) != sizeof expiries)
        return;
    fired_();
}

// Only what was due when the timer fired: a board slower than real time keeps scheduling into
// the past, and the event loop must still get its turn between rounds.
EventLoopClock::EventLoopClock()
    : wake_([this] {
          woke_ = now();
          armedAt_.reset();
          runDue(woke_);
      }) {
    elapsed_.start();
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

void EventLoopClock::watchClosely(TimePoint from, TimePoint until) {
    closeFrom_ = from;
    closeUntil_ = until;
    arm();
}

void EventLoopClock::arm() {
    const auto first = events_.next();
    std::optional<TimePoint> at;
    if (first) {
        at = std::max(*first, woke_ + kEventGrain);
        // The events before the watch run with the first one in it, in their order.
        if (const TimePoint close = std::max(*first, closeFrom_); close <= closeUntil_)
            at = std::min(*at, close);
    }
    // A board schedules an event for every character: most leave the wake-up where it was.
    if (at == armedAt_)
        return;
    armedAt_ = at;
    if (at)
        wake_.start(*at - now());
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
    PreciseTimer timer([&loop] { loop.quit(); });
    timer.start(d);
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
    const auto check = [&] {
        if (abandoned_ || done() || now() >= deadline)
            loop.quit();
    };
    // Whatever woke the loop has been handled when it is about to sleep again: bytes read, an
    // event run, the port's drain timer. The limit has a timer of its own.
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock,
                     &loop, check);
    PreciseTimer limitReached(check);
    limitReached.start(deadline - now());
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, check);
    poll.start(kPollInterval);
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
