// SPDX-License-Identifier: GPL-3.0-or-later
// The HC11 reset by hand in the middle of a job on the virtual board, at moments spread over a
// character's time: the PC tells a reset from the line before it takes any byte for the
// talker's answer, sends nothing once it has seen it, keeps so little ahead that a press takes
// none of it to the boot loader, says whether the boot loader may have taken bytes that
// followed the reset, and tells a next job with no reset in between why it fails.
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
    // The button, when RESET goes low after the board's first reset, and how long it is held. A
    // press of 60 ms, a person's at the quickest, outlasts the three characters the PC has ahead of
    // the talker's acknowledgements: the boot loader gets none of them. A press of no length (a
    // glitch) lets them through, and the PC says so.
    struct Case {
        const char* button;
        Duration at;
        Duration hold;
    };
    std::vector<Case> cases;
    // 4.17 ms is half a character at 1200 baud; 137 us keeps off the frames' edges.
    for (int i = 0; i < 12; ++i)
        cases.push_back({"EepromProgram", 3s + std::chrono::microseconds(i * 4170 + 137), 60ms});
    for (int i = 0; i < 4; ++i)
        cases.push_back({"EepromProgram", 3s + std::chrono::microseconds(i * 4170 + 137), 0ms});
    cases.push_back({"DumpStart", 3500ms, 60ms});
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " reset at " + std::to_string(c.at.count()) +
                     " ns held " + std::to_string(c.hold.count()) + " ns");
        Station s(Chip::E9);
        const auto path = s.file(longEepromFile());
        std::size_t writesAtReset = 0;
        s.clock.schedule(s.clock.now() + 100ms + c.at, [&] {
            s.board.pressReset(c.hold);
            writesAtReset = s.port.writes.size();
        });
        ops::Inputs in;
        in.dumpBegin = "B600";
        in.dumpEnd = "B7FF";
        in.dumpFolder = s.dir.path;
        const auto boxes = s.run(c.button, in, path);
        s.clock.advance(1s);
        s.board.catchUp();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, Frame::kResetDuringJob);
        // What was ahead of the acknowledgements at most, and nothing once the reset showed.
        EXPECT_LE(s.port.writes.size(), writesAtReset + Frame::kUnacknowledged);
        if (c.hold > 0ms) {
            EXPECT_EQ(s.board.phase(), BootPhase::AwaitSync) << "the boot loader took a byte";
            EXPECT_EQ(s.board.loadedBytes(), 0u);
        } else {
            EXPECT_LE(s.board.loadedBytes(), Frame::kUnacknowledged);
        }
        const bool toldTaken = boxes[0].detail.find(
                                   "reset your HC11 into bootstrap mode again "
                                   "before the next job") != std::string::npos;
        // Never "nothing more was sent" when the boot loader took a byte; the PC cannot see how
        // long RESET was held, and may warn after a press too.
        if (s.board.phase() != BootPhase::AwaitSync) {
            EXPECT_TRUE(toldTaken) << boxes[0].detail;
        }
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
