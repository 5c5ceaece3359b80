// SPDX-License-Identifier: GPL-3.0-or-later
// A job ends at once when the target can no longer take what follows: the HC11 reset under
// it (its boot loader would take the rest for a program to run), or the talker's first error
// (after which it takes nothing more).
#include <gtest/gtest.h>

#include "ops_bench.h"
#include "srecords.h"

namespace kestro {
namespace {

using testing::OpsBench;

// Reset at a moment of each step of a job: the job ends within a second, nothing more reaches
// the target after the break, one box says what happened, and the target is not ready.
TEST(ResetDuringJob, EndsTheJobAtOnceAndSendsNothingMore) {
    // junk: a byte left on the line before the download, which the echo then follows.
    const std::tuple<const char*, Duration, bool> cases[] = {
        // The talker download takes 2.2 s; then the settle, then the file for 4 s and more.
        {"EepromProgram", 1s, false}, {"EepromProgram", 1s, true},    {"EepromProgram", 4s, false},
        {"EepromCompare", 5s, false}, {"ExtRam", 3500ms, false},      {"EepromErase", 3s, false},
        {"DumpStart", 3s, false},     {"EepromCheck", 2900ms, false},
    };
    for (const auto& [button, at, junk] : cases) {
        SCOPED_TRACE(std::string(button) + " reset at " + std::to_string(at.count() / 1000000) +
                     " ms" + (junk ? " after junk" : ""));
        OpsBench b;
        if (junk) {
            b.target.send(Byte{0x5A});
            b.clock.advance(20ms);
        }
        b.choose(testing::srecords(0xB600, Bytes(16 * 30, 0x5A)));
        // The RAM talker moves to 9600 baud as the PC does, and acknowledges the file there.
        if (std::string_view(button) == "ExtRam")
            b.target.talker = [&b, started = false](Byte) mutable {
                if (!std::exchange(started, true))
                    b.target.after(400ms, [&b] { b.target.setBaud(9600); });
            };
        ops::Inputs in;
        in.startAddress = "2000";
        in.dumpFolder = b.talkerDir;
        std::size_t receivedAtReset = 0;
        TimePoint resetAt{};
        b.clock.schedule(b.clock.now() + at, [&] {
            b.target.reset();
            resetAt = b.clock.now();
            receivedAtReset = b.target.received.size();
        });
        b.run(button, in);
        ASSERT_NE(resetAt, TimePoint{});
        // The break reaches the PC one character later; a byte on the wire then finishes.
        EXPECT_LE(b.clock.now() - resetAt, 1s);
        b.clock.advance(10s);
        EXPECT_LE(b.target.received.size(), receivedAtReset + 2);
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0].text, "The HC11 was reset during the job.");
        EXPECT_FALSE(b.link.ready());
        EXPECT_TRUE(b.ui.windowEnabled());
        EXPECT_EQ(b.ui.progress.back(), std::nullopt);
    }
}

// A break before the talker download is the target announcing itself again: the job goes on.
TEST(ResetDuringJob, ABreakBeforeTheDownloadIsNoReset) {
    OpsBench b;
    b.target.sendBreak();
    b.clock.advance(100ms);
    b.run("TestComm");
    ASSERT_EQ(b.ui.messages.size(), 1u);
    EXPECT_NE(b.ui.messages[0].text, "The HC11 was reset during the job.");
}

// A talker that refuses the file's first record takes nothing more: the rest of the file stays
// on the PC and the verdict comes at once, however long the file.
TEST(TalkerError, StopsTheFileAtTheTalkersFirstAnswer) {
    const std::tuple<const char*, char, const char*> cases[] = {
        {"EepromProgram", 'A', "Error in Eeprom"},
        {"ExtEEprog", 'V', "Error in Eprom"},
    };
    for (const auto& [button, letter, verdict] : cases) {
        SCOPED_TRACE(button);
        OpsBench b;
        // About 150 KB: 21 minutes at 1200 baud.
        b.choose(testing::srecords(0x1000, Bytes(16 * 3500, 0x5A)));
        std::size_t sentAtAnswer = 0;
        // The loader's 257th byte comes first: the file's first byte is the second.
        b.target.talker = [&, letter, count = 0](Byte) mutable {
            if (++count != 2)
                return;
            b.target.after(1ms, [&, letter] {
                b.target.send(Byte(letter));
                sentAtAnswer = b.target.received.size();
            });
        };
        const TimePoint start = b.clock.now();
        b.run(button);
        EXPECT_LT(b.clock.now() - start, 10s);
        b.clock.advance(10s);
        EXPECT_LE(b.target.received.size(), sentAtAnswer + 2);
        EXPECT_EQ(b.texts(), std::vector<std::string>{verdict});
        EXPECT_FALSE(b.link.ready());
        EXPECT_TRUE(b.ui.windowEnabled());
    }
}

}  // namespace
}  // namespace kestro
