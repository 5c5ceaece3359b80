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

}  // namespace
}  // namespace kestro
