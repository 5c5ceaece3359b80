#include "event_loop_clock.h"

#include <QEventLoop>
#include <QTimer>
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
}

EventLoopClock::~EventLoopClock() {
    for (auto& [id, timer] : timers_)
        delete timer;
}

TimePoint EventLoopClock::now() const {
    return Duration{elapsed_.nsecsElapsed()};
}

Scheduler::EventId EventLoopClock::schedule(TimePoint at, Callback fn) {
    const EventId id = nextId_++;
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, [this, id, fn = std::move(fn)] {
        auto it = timers_.find(id);
        if (it == timers_.end())
            return;
        it->second->deleteLater();
        timers_.erase(it);
        fn();
    });
    timers_.emplace(id, timer);
    timer->start(toMs(at - now()));
    return id;
}

void EventLoopClock::cancel(EventId id) {
    auto it = timers_.find(id);
    if (it == timers_.end())
        return;
    it->second->stop();
    it->second->deleteLater();
    timers_.erase(it);
}

void EventLoopClock::sleepFor(Duration d) {
    if (abandoned_)
        return;
    QEventLoop loop;
    if (d <= Duration{0}) {
        loop.processEvents(QEventLoop::AllEvents);
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
}

bool EventLoopClock::waitUntil(const std::function<bool()>& done, Duration limit) {
    const TimePoint deadline = now() + std::max(limit, Duration{0});
    if (done() || abandoned_)
        return done();
    if (limit <= Duration{0}) {
        QEventLoop loop;
        loop.processEvents(QEventLoop::AllEvents);
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
    return done();
}

void EventLoopClock::abandonWaits() {
    abandoned_ = true;
    for (QEventLoop* loop : running_)
        loop->quit();
}

}  // namespace kestro
