// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "port_switch.h"
#include "recorders.h"
#include "scripted_target.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace kestro {
namespace {

// Comm 1 on one backend (the virtual board), the other numbers on another (real ports).
TEST(PortSwitch, RoutesEachNumberToItsBackendWithTheProgramsSettings) {
    VirtualClock clock;
    VirtualLine boardLine(clock), realLine(clock);
    VirtualPort board(clock), real(clock);
    board.attach(1, boardLine, "virtual HC11 board");
    real.attach(2, realLine, "/dev/ttyUSB0");
    PortSwitch port(real);
    port.route(1, board);
    testing::RecordingView view;
    LinkState link(port, clock, clock);
    link.setView(&view);
    port.setListener(&link);

    EXPECT_EQ(port.deviceName(1), "virtual HC11 board");
    EXPECT_EQ(port.deviceName(2), "/dev/ttyUSB0");
    EXPECT_EQ(port.deviceName(3), "virtual port 3");

    link.startupSearch();
    EXPECT_TRUE(board.isOpen());
    EXPECT_EQ(board.settings().baud, 1200);
    testing::ScriptedTarget onBoard(clock, boardLine);
    onBoard.sendBreak();
    clock.advance(100ms);
    EXPECT_TRUE(link.ready());

    link.changePort(2);
    EXPECT_FALSE(board.isOpen());
    EXPECT_TRUE(real.isOpen());
    EXPECT_EQ(real.settings().baud, 2400);
    testing::ScriptedTarget onReal(clock, realLine, 2400);
    port.output(std::string_view("hi"));
    clock.advance(100ms);
    EXPECT_EQ(textOf(onReal.received), "hi");

    link.changePort(3);  // absent: back to Comm 2
    EXPECT_TRUE(real.isOpen());
    EXPECT_EQ(link.portNumber(), 2);
    EXPECT_EQ(view.warnings.back(), "virtual port 3 does not exist");
}

// The program asks the switch for a rate; the backend in use sets it, and says what it set.
TEST(PortSwitch, PassesARateOnToTheBackendInUseUntilTheNextOpen) {
    VirtualClock clock;
    VirtualLine line(clock);
    VirtualPort board(clock), real(clock);
    board.attach(1, line);
    board.setAdapter(
        [](int baud) { return baud == 125'000 ? std::optional(128'000) : std::nullopt; });
    PortSwitch port(real);
    port.route(1, board);
    port.setCommPort(1);
    ASSERT_EQ(port.open(), PortError::None);
    EXPECT_EQ(port.setRate(125'000), (RateResult{PortError::None, 128'000}));
    EXPECT_EQ(board.settings().baud, 128'000);
    EXPECT_EQ(port.settings().baud, 128'000);
    EXPECT_EQ(port.setRate(62'500), (RateResult{PortError::BadSettings, 128'000}));
    EXPECT_EQ(port.settings().baud, 128'000);
    port.close();
    EXPECT_EQ(port.settings().baud, 1200);
    ASSERT_EQ(port.open(), PortError::None);
    EXPECT_EQ(board.settings().baud, 1200);
    // Also when the device went away under the rate and the program opens it again.
    ASSERT_EQ(port.setRate(125'000).baud, 128'000);
    board.pull();
    ASSERT_EQ(port.open(), PortError::None);
    EXPECT_EQ(port.settings().baud, 1200);
}

}  // namespace
}  // namespace kestro
