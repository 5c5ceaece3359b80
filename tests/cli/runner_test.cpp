// SPDX-License-Identifier: GPL-3.0-or-later
// A job on one port as kestro-cli runs it, in real time but without a talker download: the reset
// of a virtual board on a loaded machine.
#include <gtest/gtest.h>

#include <thread>

#include "event_loop_clock.h"
#include "kestro/sim/board/board.h"
#include "link_state.h"
#include "virtual_port.h"

namespace kestro::cli {
namespace {

// kestro-cli resets a virtual board and waits a little for its break. A process held up for
// longer than that wait (a loaded machine) must still find the break when the wait ends.
TEST(VirtualBoard, ItsResetIsSeenHoweverLongTheProcessIsHeldUp) {
    EventLoopClock clock;
    VirtualLine line{clock};
    VirtualPort port{clock};
    port.attach(1, line);
    sim::Board board(
        clock, line,
        sim::BoardOptions{.chip = sim::Chip::E9_711, .slice = std::chrono::milliseconds(2)});
    LinkState link{port, clock, clock};
    port.setListener(&link);
    port.setSettings(LinkState::kStartupSettings);
    ASSERT_EQ(port.open(), PortError::None);
    // Where in the board's first slices the process is held up matters to a clock that has
    // the fault: three resets, three places.
    for (const Duration heldUpAt : {0ms, 1ms, 3ms}) {
        link.clearReady();
        board.resetBootstrap();
        clock.schedule(clock.now() + heldUpAt, [] { std::this_thread::sleep_for(300ms); });
        EXPECT_TRUE(clock.waitUntil([&link] { return link.ready(); }, 50ms))
            << "held up " << heldUpAt / 1ms << " ms after the reset";
    }
    port.close();
}

}  // namespace
}  // namespace kestro::cli
