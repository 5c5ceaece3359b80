#include <gtest/gtest.h>

#include "scripted_target.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace kestro {
namespace {

struct Received {
    std::vector<std::pair<Byte, bool>> bytes;
    std::vector<TimePoint> at;
};

// Sends bytes at one rate and samples them at another, as two UARTs would.
Received sendAcross(ByteView bytes, int txBaud, int rxBaud) {
    VirtualClock clock;
    LineDirection line(clock);
    Received r;
    line.setReceiver(rxBaud, [&](Byte b, bool fe) {
        r.bytes.emplace_back(b, fe);
        r.at.push_back(clock.now());
    });
    Transmitter tx(line);
    tx.setBaud(txBaud);
    tx.queue(bytes);
    clock.advance(1s);
    return r;
}

TEST(VirtualLine, EqualRatesDeliverEveryByteAtItsOwnTime) {
    const Bytes data = {0x00, 0xFF, 0x55, 0xAA, 0x80, 0x01};
    const Received r = sendAcross(data, 1200, 1200);
    ASSERT_EQ(r.bytes.size(), data.size());
    for (std::size_t i = 0; i < data.size(); ++i) {
        EXPECT_EQ(r.bytes[i].first, data[i]);
        EXPECT_FALSE(r.bytes[i].second);
        // Sampled in the middle of the stop bit of frame i: 9.5 bit times after it started.
        const Duration expected =
            characterTime(1200, static_cast<std::int64_t>(i)) + Duration{19LL * 500'000'000 / 1200};
        EXPECT_LE(std::chrono::abs(r.at[i] - expected), Duration{10});
    }
}

TEST(VirtualLine, MismatchedRatesGarbleBytes) {
    // The boot loader's rate detection: $FF sent at 1200 baud reads at 7812 baud as a byte
    // whose low bits are the long start bit.
    const Received slow = sendAcross(Bytes{0xFF}, 1200, 7812);
    ASSERT_FALSE(slow.bytes.empty());
    EXPECT_TRUE(slow.bytes[0].first == 0xC0 || slow.bytes[0].first == 0xE0)
        << int(slow.bytes[0].first);

    const Received fast = sendAcross(bytesOf("abc"), 9600, 1200);
    ASSERT_FALSE(fast.bytes.empty());
    EXPECT_NE(textOf(Bytes{fast.bytes[0].first}), "a");
}

TEST(VirtualLine, BreakReadsAsNulWithFramingErrorOnce) {
    VirtualClock clock;
    LineDirection line(clock);
    std::vector<std::pair<Byte, bool>> got;
    line.setReceiver(1200, [&](Byte b, bool fe) { got.emplace_back(b, fe); });
    Transmitter tx(line);
    tx.setBaud(1200);
    tx.queueBreak(100ms);
    tx.queue(bytesOf("A"));
    clock.advance(1s);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::make_pair(Byte{0}, true));
    EXPECT_EQ(got[1], std::make_pair(Byte{'A'}, false));
}

TEST(VirtualPort, CountsWhatHasNotLeftAndDiscardsOnlyWhatHasNotStarted) {
    VirtualClock clock;
    VirtualLine line(clock);
    VirtualPort port(clock);
    port.attach(1, line);
    port.setCommPort(1);
    ASSERT_EQ(port.setSettings("1200,n,8,1"), PortError::None);
    ASSERT_EQ(port.open(), PortError::None);
    testing::ScriptedTarget target(clock, line);

    port.output(std::string_view("0123456789"));
    EXPECT_EQ(port.outBufferCount(), 10u);
    clock.advance(characterTime(1200, 3) + 1ms);
    EXPECT_EQ(port.outBufferCount(), 7u);  // three gone, the fourth on the wire
    port.discardOutput();
    EXPECT_EQ(port.outBufferCount(), 1u);
    clock.advance(1s);
    EXPECT_EQ(port.outBufferCount(), 0u);
    EXPECT_EQ(textOf(target.received), "0123");
}

TEST(VirtualPort, InputRespectsReadLengthAndBreakIsNotData) {
    VirtualClock clock;
    VirtualLine line(clock);
    VirtualPort port(clock);
    port.attach(1, line);
    ASSERT_EQ(port.open(), PortError::None);
    struct Listener : PortListener {
        int breaks = 0;
        void portBreak() override { ++breaks; }
    } listener;
    port.setListener(&listener);
    testing::ScriptedTarget target(clock, line);
    target.sendBreak();
    target.send(std::string_view("hello world"));
    clock.advance(1s);
    EXPECT_EQ(listener.breaks, 1);
    EXPECT_EQ(port.inBufferCount(), 11u);
    port.setInputLen(5);
    EXPECT_EQ(textOf(port.input()), "hello");
    port.setInputLen(0);
    EXPECT_EQ(textOf(port.input()), " world");
}

TEST(VirtualPort, OpenReportsWhyItFails) {
    VirtualClock clock;
    VirtualLine line(clock);
    VirtualPort port(clock);
    port.attach(2, line);
    port.setOpenResult(3, PortError::InUse);
    port.setCommPort(1);
    EXPECT_EQ(port.open(), PortError::Absent);
    port.setCommPort(3);
    EXPECT_EQ(port.open(), PortError::InUse);
    port.setCommPort(2);
    EXPECT_EQ(port.open(), PortError::None);
    EXPECT_TRUE(port.isOpen());
    port.pull();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.failure(), PortError::Lost);
    EXPECT_EQ(port.output(Byte{1}), PortError::Lost);
}

TEST(LineSettings, ParsesTheProgramsSettingTexts) {
    struct Case {
        const char* text;
        std::optional<LineSettings> parsed;
    };
    const Case cases[] = {
        {"1200,N,8,1", LineSettings{1200, 'N', 8, 1}},
        {"1200,n,8,1", LineSettings{1200, 'N', 8, 1}},
        {"9600,e,7,2", LineSettings{9600, 'E', 7, 2}},
        {"2400,n,8,1", LineSettings{2400, 'N', 8, 1}},
        {"1200,x,8,1", std::nullopt},
        {"1200,n,8", std::nullopt},
        {"fast,n,8,1", std::nullopt},
        {"1200,n,9,1", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(LineSettings::parse(c.text), c.parsed) << c.text;
}

}  // namespace
}  // namespace kestro

namespace kestro {
namespace {

TEST(VirtualLine, ALineHeldLowForLongStaysCheapAndRecovers) {
    VirtualClock clock;
    LineDirection line(clock);
    std::vector<std::pair<Byte, bool>> got;
    line.setReceiver(1200, [&](Byte b, bool fe) { got.emplace_back(b, fe); });
    // A break held for ten seconds in 1 ms pieces, the way a board extends a held reset.
    for (int i = 0; i < 10000; ++i) {
        line.startBreak(1ms, Duration{0});
        clock.advance(1ms);
    }
    Transmitter tx(line);
    tx.setBaud(1200);
    clock.advance(1ms);
    tx.queue(bytesOf("A"));
    clock.advance(100ms);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], std::make_pair(Byte{0}, true));
    EXPECT_EQ(got[1], std::make_pair(Byte{'A'}, false));
}

}  // namespace
}  // namespace kestro
