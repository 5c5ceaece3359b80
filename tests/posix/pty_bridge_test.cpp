// SPDX-License-Identifier: GPL-3.0-or-later
#include "pty_bridge.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <QTest>
#include <string>

#include "termios_port.h"
#include "virtual_clock.h"

namespace kestro::sim {
namespace {

// A program that flushes its output (kestro-cli on Ctrl-C) takes back what the line has not yet
// carried, as an adapter's flush does: nothing of an ended run reaches the board after it, and
// what the program writes after the flush goes out whole.
TEST(PtyBridge, AFlushTakesBackWhatTheLineHasNotCarried) {
    VirtualClock clock;
    VirtualLine line(clock);
    std::string arrived;
    line.toTarget.setReceiver(1200, [&](Byte b, bool) { arrived.push_back(char(b)); });
    PtyBridge bridge(clock, line);
    const int program = ::open(bridge.devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(program, 0);

    const std::string file(200, 'S');
    ASSERT_EQ(::write(program, file.data(), file.size()), ssize_t(file.size()));
    ::tcdrain(program);
    bridge.readable();
    clock.advance(characterTime(1200, 10));
    ::tcflush(program, TCOFLUSH);
    ASSERT_EQ(::write(program, "next", 4), 4);
    ::tcdrain(program);
    bridge.readable();
    clock.advance(characterTime(1200, 100));
    // The character on the wire at the flush finishes; then only what came after it.
    EXPECT_TRUE(arrived == std::string(10, 'S') + "next" ||
                arrived == std::string(11, 'S') + "next")
        << arrived;
    ::close(program);
}

// A pseudo-terminal carries no rate: the board takes the one the program set, custom rates
// (termios2) as well as the B constants, and talks to it at that rate both ways.
TEST(PtyBridge, TalksAtTheRateTheProgramSetEvenWithoutABConstant) {
    for (const int baud : {125'000, 62'500, 9'600}) {
        SCOPED_TRACE(baud);
        VirtualClock clock;
        VirtualLine line(clock);
        std::string arrived;
        line.toTarget.setReceiver(baud,
                                  [&](Byte b, bool fe) { arrived.push_back(fe ? '!' : char(b)); });
        PtyBridge bridge(clock, line);
        TermiosPort program([&](int) { return bridge.devicePath(); });
        ASSERT_EQ(program.open(), PortError::None);
        ASSERT_EQ(program.setRate(baud), (RateResult{PortError::None, baud}));

        ASSERT_EQ(program.output(std::string_view("fast")), PortError::None);
        bridge.readable();
        EXPECT_EQ(bridge.rate(), baud);
        clock.advance(characterTime(baud, 10));
        EXPECT_EQ(arrived, "fast");

        Transmitter board(line.toPc);
        board.setBaud(baud);
        board.queue(bytesOf("back"));
        clock.advance(characterTime(baud, 10));
        ASSERT_TRUE(QTest::qWaitFor([&] { return program.inBufferCount() >= 4; }, 5000));
        EXPECT_EQ(textOf(program.input()), "back");
    }
}

}  // namespace
}  // namespace kestro::sim
