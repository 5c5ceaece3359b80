// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "bench.h"
#include "scratch.h"
#include "wire_trace.h"

namespace kestro {
namespace {

// Both directions, breaks and rate changes with their times: the rate the port set, the one
// asked where it set another, and a refusal.
TEST(WireTrace, ShowsBothDirectionsBreaksAndRatesWithTheirTimes) {
    testing::Bench b;
    b.port.setAdapter([](int baud) {
        return baud == 62'500 ? std::nullopt : std::optional(baud == 125'000 ? 128'000 : baud);
    });
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
        b.port.setRate(125'000);
        b.clock.advance(100ms);
        b.port.setRate(62'500);
        b.port.setRate(31'250);
        b.port.setTrace(nullptr);
    }
    EXPECT_EQ(testing::slurp(path),
              // The break is seen when the stop bit of its all-zero frame should have come.
              "    0.007917  <HC11 BREAK\n"
              "    0.100000  PC>   50 50 55 42 36 30 30 56 42 37 46 46 57           "
              "PPUB600VB7FFW\n"
              "    0.307917  <HC11 4F FF 00                                         O..\n"
              "    0.500000  RATE  128000 baud, asked 125000\n"
              "    0.600000  RATE  128000 baud, asked 62500: refused\n"
              "    0.600000  RATE  31250 baud\n");
}

}  // namespace
}  // namespace kestro
