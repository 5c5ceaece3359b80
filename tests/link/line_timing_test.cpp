#include <gtest/gtest.h>

#include "late_events.h"
#include "virtual_line.h"
#include "virtual_port.h"

namespace kestro {
namespace {

constexpr int kBaud = 1200;
constexpr std::size_t kDownload = 258;  // a talker download: $FF and 257 bytes

// Where the receiver samples the stop bit of the n-th frame of a back-to-back run from t0.
TimePoint stopSample(TimePoint t0, std::size_t n) {
    return t0 + characterTime(kBaud, static_cast<std::int64_t>(n)) +
           Duration{19LL * 500'000'000 / kBaud};
}

TEST(LineTiming, FramesQueuedBackToBackStayBackToBackWhenEventsRunLate) {
    VirtualClock clock;
    testing::StallingScheduler late(clock, 40ms, 15ms);
    LineDirection line(late);
    std::vector<TimePoint> sampled;
    line.setReceiver(kBaud, [&](Byte, bool) { sampled.push_back(line.sampledAt()); });
    Transmitter tx(line);
    tx.setBaud(kBaud);
    clock.advance(20ms);  // out of a stall: the first frame starts now
    const TimePoint t0 = clock.now();
    tx.queue(Bytes(kDownload, 0x55));
    clock.advance(3s);
    ASSERT_EQ(sampled.size(), kDownload);
    for (std::size_t i = 0; i < kDownload; ++i)
        ASSERT_LE(std::chrono::abs(sampled[i] - stopSample(t0, i)), Duration{1us}) << i;
    EXPECT_EQ(tx.pending(), 0u);
}

TEST(LineTimingInTheProgram, ADownloadTakesItsLineTimeOnABusyMachine) {
    testing::ProgramClock program;
    EventLoopClock& clock = program.clock;
    VirtualLine line(clock);
    VirtualPort port(clock);
    port.attach(1, line);
    ASSERT_EQ(port.setSettings("1200,n,8,1"), PortError::None);
    ASSERT_EQ(port.open(), PortError::None);
    std::size_t received = 0;
    TimePoint lastStop{0};
    line.toTarget.setReceiver(kBaud, [&](Byte, bool) {
        ++received;
        lastStop = line.toTarget.sampledAt();
    });

    testing::BusyMachine busy(40ms, 15ms);
    const TimePoint t0 = clock.now();
    for (std::size_t i = 0; i < kDownload; ++i)
        port.output(Byte{0x55});
    ASSERT_TRUE(clock.waitUntil([&] { return received == kDownload; }, 10s));
    const Duration lineTime = stopSample(t0, kDownload - 1) - t0;
    EXPECT_LE(lastStop - t0, lineTime + lineTime / 100)
        << "took " << (lastStop - t0).count() / 1'000'000 << " ms of line time";
    EXPECT_TRUE(clock.waitUntil([&] { return port.outBufferCount() == 0; }, 1s));
}

}  // namespace
}  // namespace kestro
