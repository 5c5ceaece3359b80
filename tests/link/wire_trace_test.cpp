// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "bench.h"
#include "scratch.h"
#include "wire_trace.h"

namespace kestro {
namespace {

TEST(WireTrace, ShowsBothDirectionsAndBreaksWithTheirTimes) {
    testing::Bench b;
    const auto path = b.talkerDir / "trace.txt";
    {
        WireTrace trace(path.string(), b.clock);
        ASSERT_TRUE(trace.ok());
        b.port.setTrace(&trace);
        b.link.startupSearch();
        b.target.sendBreak();
        b.clock.advance(100ms);
        b.port.output(std::string_view("PPUB600VB7FFW"));
        b.clock.advance(200ms);
        b.target.send(Bytes{0x4F, 0xFF, 0x00});
        b.clock.advance(200ms);
        b.port.setTrace(nullptr);
    }
    EXPECT_EQ(testing::slurp(path),
              // The break is seen when the stop bit of its all-zero frame should have come.
              "    0.007917  <HC11 BREAK\n"
              "    0.100000  PC>   50 50 55 42 36 30 30 56 42 37 46 46 57           "
              "PPUB600VB7FFW\n"
              "    0.307917  <HC11 4F FF 00                                         O..\n");
}

}  // namespace
}  // namespace kestro
