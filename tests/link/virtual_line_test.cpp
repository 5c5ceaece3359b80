// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "open_port.h"
#include "scripted_target.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace kestro {
namespace {

// A break reads once, as a NUL with a framing error, however long the line is held low and in
// however many pieces (a board holds its reset in 1 ms pieces); the line then carries bytes.
TEST(VirtualLine, ABreakReadsAsOneNulWithAFramingErrorAndTheLineRecovers) {
    for (const int pieces : {1, 10000}) {
        VirtualClock clock;
        LineDirection line(clock);
        std::vector<std::pair<Byte, bool>> got;
        line.setReceiver(1200, [&](Byte b, bool fe) { got.emplace_back(b, fe); });
        Transmitter tx(line);
        tx.setBaud(1200);
        if (pieces == 1)
            tx.queueBreak(100ms);
        for (int i = 0; pieces > 1 && i < pieces; ++i) {
            line.startBreak(1ms, Duration{0});
            clock.advance(1ms);
        }
        clock.advance(1ms);
        tx.queue(bytesOf("A"));
        clock.advance(1s);
        EXPECT_EQ(got, (std::vector<std::pair<Byte, bool>>{{0, true}, {'A', false}})) << pieces;
    }
}

TEST(VirtualPort, CountsWhatHasNotLeftAndDiscardsOnlyWhatHasNotStarted) {
    testing::OpenPort open;
    auto& [clock, line, port] = open;
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

// The ports parse only the program's own setting texts; anything else is refused, never read
// past its end.
TEST(LineSettings, RefusesWhatIsNoSetting) {
    for (const char* text : {"1200,n,8", "1200,n,9,1", "1200,x,8,1", ""})
        EXPECT_EQ(LineSettings::parse(text), std::nullopt) << text;
}

}  // namespace
}  // namespace kestro
