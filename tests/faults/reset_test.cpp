// SPDX-License-Identifier: GPL-3.0-or-later
// The HC11 reset by hand in the middle of a job on the virtual board, at moments spread over a
// character's time: the PC tells a reset from the line before it takes any byte for the
// talker's answer, sends nothing once it has seen it, says whether the boot loader may have
// taken bytes that followed the reset, and tells a next job with no reset in between why it fails.
#include <gtest/gtest.h>

#include "station.h"

namespace kestro::sim {
namespace {

using station::Station;

std::string longEepromFile() {
    std::string file;
    for (unsigned a = 0xB600; a < 0xB800; a += 16)
        file += testing::srecord('1', a, Bytes(16, 0x5A)) + "\r\n";
    return file + "S9030000FC\r\n";
}

TEST(ResetMidJob, IsToldAsAResetWhateverTheLineMadeOfItsBreak) {
    // The button, when the reset comes after the board's first reset, and whether the PC was
    // sending then: a file at 1200 baud cuts the boot loader's break short, and the PC reads
    // it as a garbage byte; a dump leaves the break whole.
    struct Case {
        const char* button;
        Duration at;
        bool sending;
    };
    std::vector<Case> cases;
    // 4.17 ms is half a character at 1200 baud; 137 us keeps off the frames' edges.
    for (int i = 0; i < 12; ++i)
        cases.push_back({"EepromProgram", 3s + std::chrono::microseconds(i * 4170 + 137), true});
    cases.push_back({"DumpStart", 3500ms, false});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " reset at " + std::to_string(c.at.count()) + " ns");
        Station s(Chip::E9);
        const auto path = s.file(longEepromFile());
        std::size_t writesAtReset = 0;
        s.clock.schedule(s.clock.now() + 100ms + c.at, [&] {
            s.board.resetBootstrap();
            writesAtReset = s.port.writes.size();
        });
        ops::Inputs in;
        in.dumpBegin = "B600";
        in.dumpEnd = "B7FF";
        const auto boxes = s.run(c.button, in, path);
        s.clock.advance(1s);
        s.board.catchUp();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, Frame::kResetDuringJob);
        // The character being sent and the one queued behind it, at most.
        EXPECT_LE(s.port.writes.size(), writesAtReset + 2);
        EXPECT_LE(s.board.loadedBytes(), 2u);
        const bool toldTaken = boxes[0].detail.find(
                                   "reset your HC11 into bootstrap mode again "
                                   "before the next job") != std::string::npos;
        EXPECT_EQ(toldTaken, c.sending) << boxes[0].detail;
        // With no new reset, the next job meets whatever the boot loader ran: it runs, is
        // refused, or is told that, never blamed on the crystal.
        s.ui.messages.clear();
        s.ui.chooserAnswer = path.string();
        if (s.link.ready())
            ops::operationFor(c.button)(s.target, in);
        for (const auto& box : s.ui.messages) {
            const std::string told = box.text + " " + box.detail;
            EXPECT_EQ(told.find("crystal"), std::string::npos) << told;
            if (box.text == Frame::kNotEchoed || box.text == Frame::kResetDuringJob) {
                EXPECT_NE(told.find("The last job"), std::string::npos) << told;
            }
        }
    }
}

}  // namespace
}  // namespace kestro::sim
