// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <optional>
#include <thread>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include "event_loop_clock.h"
#include "virtual_line.h"
#include "virtual_port.h"

namespace kestro {
namespace {

Duration cpuTime() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return std::chrono::seconds(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           std::chrono::microseconds(u.ru_utime.tv_usec + u.ru_stime.tv_usec);
}

// The program's clock, with the application whose event loop it runs.
class EventLoopClockTest : public ::testing::Test {
  protected:
    int argc = 1;
    char name[8] = "test";
    char* argv[1] = {name};
    QCoreApplication app{argc, argv};
    EventLoopClock clock;
};

TEST_F(EventLoopClockTest, AWaitSleepsInTheEventLoopWithoutSpinning) {
    const Duration cpuBefore = cpuTime();
    const TimePoint start = clock.now();
    clock.sleepFor(600ms);
    const Duration waited = clock.now() - start;
    EXPECT_GE(waited, Duration{600ms});
    EXPECT_LT(waited, Duration{3s});  // generous: the machine may be busy
    // A wait wakes a hundred times a second at most: a few percent of a core here, far less
    // in an optimised build.
    EXPECT_LT(cpuTime() - cpuBefore, Duration{60ms});
}

// A wait runs the events that fall due meanwhile, not one cancelled, and ends when its
// condition holds or at its limit.
TEST_F(EventLoopClockTest, AWaitRunsDueEventsAndEndsAtItsConditionOrLimit) {
    bool fired = false;
    bool cancelledFired = false;
    clock.schedule(clock.now() + 100ms, [&] { fired = true; });
    clock.cancel(clock.schedule(clock.now() + 50ms, [&] { cancelledFired = true; }));
    const TimePoint start = clock.now();
    EXPECT_TRUE(clock.waitUntil([&] { return fired; }, 2s));
    EXPECT_LT(clock.now() - start, Duration{1500ms});
    EXPECT_FALSE(cancelledFired);
    const TimePoint limited = clock.now();
    EXPECT_FALSE(clock.waitUntil([] { return false; }, 200ms));
    EXPECT_GE(clock.now() - limited, Duration{200ms});
    EXPECT_TRUE(clock.waitUntil([] { return true; }, 0ms));
}

// The virtual board runs in slices, each scheduling the next on its own grid. When the thread
// stalls past the end of a wait, the wait must still return to a board that has run up to its
// end, or the host finds an echo missing that the line had long delivered.
TEST_F(EventLoopClockTest, AfterAStallEveryEventDueBeforeTheWaitsEndHasRunInOrder) {
    for (const bool polling : {false, true}) {
        SCOPED_TRACE(polling ? "wait for a condition" : "sleep");
        const TimePoint t0 = clock.now();
        std::vector<TimePoint> ran;
        std::function<void(TimePoint)> slice = [&](TimePoint due) {
            ran.push_back(due);
            if (due < t0 + 200ms)
                clock.schedule(due + 2ms, [&slice, due] { slice(due + 2ms); });
        };
        clock.schedule(t0 + 2ms, [&slice, t0] { slice(t0 + 2ms); });
        clock.schedule(t0 + 1ms, [] { std::this_thread::sleep_for(300ms); });
        if (polling)
            clock.waitUntil([] { return false; }, 50ms);
        else
            clock.sleepFor(50ms);
        ASSERT_FALSE(ran.empty());
        EXPECT_GE(ran.back(), t0 + 48ms);
        EXPECT_TRUE(std::is_sorted(ran.begin(), ran.end()));
        clock.sleepFor(400ms);  // the rest of the chain, before the next case
        EXPECT_GE(ran.size(), 100u);
    }
}

Duration median(std::vector<Duration> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
}

// A port tells of its bytes through a socket notifier: the wait for an answer must end once
// the loop has handled it, not at the wait's next look of its own (milliseconds a request at
// 125,000 baud).
TEST_F(EventLoopClockTest, AWaitEndsAsSoonAsANotificationMakesItsConditionHold) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    std::optional<TimePoint> arrived;
    QSocketNotifier notifier(fds[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        char c;
        [[maybe_unused]] const ssize_t n = ::read(fds[0], &c, 1);
        arrived = clock.now();
    });
    std::vector<Duration> late;
    for (int round = 0; round < 5; ++round) {
        arrived.reset();
        QTimer::singleShot(25ms,
                           [&] { [[maybe_unused]] const ssize_t n = ::write(fds[1], "x", 1); });
        ASSERT_TRUE(clock.waitUntil([&] { return arrived.has_value(); }, 2s));
        late.push_back(clock.now() - *arrived);
    }
    EXPECT_LT(median(late), Duration{2ms});
    ::close(fds[0]);
    ::close(fds[1]);
}

// A board in the same process: its slices every 50 us, and a far end that answers each byte
// with one after a talker's few dozen E cycles, both on the program's clock.
struct BoardOnTheClock {
    static constexpr int kBaud = 125'000;
    explicit BoardOnTheClock(EventLoopClock& clock) : clock(clock), line(clock), port(clock) {
        port.attach(1, line);
        EXPECT_EQ(port.setSettings("125000,N,8,1"), PortError::None);
        EXPECT_EQ(port.open(), PortError::None);
        reply.setBaud(kBaud);
        // The answer keeps the far end's own time, however late the event that heard the request.
        line.toTarget.setReceiver(kBaud, [this](Byte, bool) {
            line.toPc.startFrame('K', kBaud, line.toTarget.sampledAt() + 64us);
        });
        slice();
    }
    ~BoardOnTheClock() { clock.cancel(next); }
    void slice() {
        next = clock.schedule(clock.now() + 50us, [this] { slice(); });
    }
    // From the request to the whole answer, as the fast protocol's exchange waits for it.
    Duration exchange(bool awaited) {
        const TimePoint start = clock.now();
        port.output(Byte{'P'});
        clock.waitUntil([this] { return port.outBufferCount() == 0; }, 1s);
        if (awaited)
            port.awaitInput(1);
        clock.waitUntil([this] { return port.inBufferCount() >= 1; }, 1s);
        EXPECT_EQ(port.input().size(), 1u);
        return clock.now() - start;
    }
    EventLoopClock& clock;
    VirtualLine line;
    VirtualPort port;
    Transmitter reply{line.toPc};
    Scheduler::EventId next = 0;
};

// The clock gathers a board's events into a wake-up a millisecond, which would add up to that
// to each exchange: a wait that says what it awaits ends as the answer's last byte arrives,
// the request's drain included, and a long stream still costs next to no processor.
TEST_F(EventLoopClockTest, AnAwaitedAnswerFromABoardOnTheClockEndsTheWaitAsItArrives) {
    BoardOnTheClock board(clock);
    const Duration lineTime = characterTime(BoardOnTheClock::kBaud, 2) + 64us;
    std::vector<Duration> awaited, gathered;
    for (int round = 0; round < 7; ++round) {
        awaited.push_back(board.exchange(true));
        gathered.push_back(board.exchange(false));
    }
    EXPECT_LT(median(awaited), lineTime + 400us);
    EXPECT_GT(median(gathered), lineTime + 400us);

    // Half a second of line time as one answer costs no more awaited than gathered: the watch
    // is on its end alone.
    const auto stream = [&](bool awaitIt) {
        constexpr std::size_t kBytes = BoardOnTheClock::kBaud / 20;
        board.reply.queue(Bytes(kBytes, 0x55));
        const Duration cpuBefore = cpuTime();
        if (awaitIt)
            board.port.awaitInput(kBytes);
        EXPECT_TRUE(clock.waitUntil([&] { return board.port.inBufferCount() >= kBytes; }, 3s));
        board.port.discardInput();
        return cpuTime() - cpuBefore;
    };
    const Duration gatheredCpu = stream(false);
    EXPECT_LT(stream(true), gatheredCpu * 3 / 2 + 20ms);
}

TEST_F(EventLoopClockTest, QuittingAbandonsEveryWaitUnderWay) {
    const TimePoint start = clock.now();
    clock.schedule(clock.now() + 100ms, [this] {
        // A wait nested in another, as when a handler runs inside an operation's wait.
        clock.schedule(clock.now() + 50ms, [this] { clock.abandonWaits(); });
        clock.waitUntil([] { return false; }, 30s);
    });
    clock.sleepFor(30s);
    EXPECT_LT(clock.now() - start, Duration{3s});
    clock.sleepFor(30s);  // and nothing waits any more
    EXPECT_LT(clock.now() - start, Duration{3s});
}

}  // namespace
}  // namespace kestro
