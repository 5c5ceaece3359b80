// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ops_bench.h"

namespace kestro {
namespace {

using testing::OpsBench;

// The command of the talkers that take a range: each item a write of its own.
std::vector<Bytes> rangeCommand(std::string_view begin, std::string_view end) {
    return {{'P'}, {'P'}, {'U'}, bytesOf(begin), {'V'}, bytesOf(end), {'W'}};
}

// Without a reset nothing runs and nothing changes; a run gives the button its caption back
// and spends the reset, however the target answered. A talker listens from its first
// instructions on, but those come only once the boot loader has ended and the talker has set
// its line up: the PC waits 250 ms after the download before it sends the first byte of a
// command or file.
TEST(EveryOperation, NeedsAResetLetsTheTalkerSettleAndGivesItsCaptionBack) {
    const std::pair<const char*, const char*> buttons[] = {
        {"TestComm", "Test Comm"},    {"EepromCheck", "Check Stat"}, {"EpromCheck", "Check Stat"},
        {"EepromProgram", "Program"}, {"EpromProgram", "Program"},   {"ExtEEprog", "Program"},
        {"Xiprog", "Program"},        {"EepromCompare", "Compare"},  {"EpromCompare", "Compare"},
        {"ExtEEcomp", "Compare"},     {"Xicomp", "Compare"},         {"EepromErase", "Erase"},
        {"ConfigProgram", "Program"}, {"ExtRam", "Download"},        {"DumpStart", "Start Dump"},
        {"XISDPoff", "SDP off"},      {"XIreset", "Reset"},          {"XISFR", "Prog. SFR"},
        {"XIeem", "Prog. EEM"},       {"XIBPR", "Prog. BPR"}};
    for (const auto& [button, caption] : buttons) {
        SCOPED_TRACE(button);
        OpsBench idle(false);
        idle.run(button);
        EXPECT_EQ(idle.ui.messages,
                  (std::vector<Message>{{"Please reset your HC11", kAppTitle, Icon::Exclamation}}));
        EXPECT_TRUE(idle.ui.enabled.empty() && idle.ui.captions.empty() && idle.ui.visible.empty());
        EXPECT_EQ(idle.ui.chooserOpened, 0);
        EXPECT_TRUE(idle.wire.writes.empty());

        OpsBench b;
        b.choose("S1052000860153\r\nS9030000FC\r\n");
        std::vector<TimePoint> arrivals;  // of the bytes after the boot loader's 256
        b.target.talker = [&b, &arrivals](Byte) { arrivals.push_back(b.clock.now()); };
        ops::Inputs in;
        in.dumpFolder = b.talkerDir;
        b.run(button, in);
        EXPECT_EQ(b.ui.captionLog.front(), "Please Wait");
        EXPECT_EQ(b.ui.captions[button], caption);
        EXPECT_EQ(b.ui.enabled, (std::vector<bool>{false, true}));
        EXPECT_FALSE(b.link.ready());
        // The first is the download's fill byte; SDP off and the companion's reset send no more.
        if (std::string_view(button) != "XISDPoff" && std::string_view(button) != "XIreset") {
            ASSERT_GE(arrivals.size(), 2u);
            EXPECT_GE(arrivals[1] - arrivals[0], 250ms);
        }
    }
}

// Only a lone O or E is a verdict (the board tests show the E), however long the erase takes;
// a target that never answers is given up after a limit.
TEST(EepromErase, WaitsLongForTheVerdictCharacter) {
    const std::tuple<const char*, Duration, std::vector<std::string>> cases[] = {
        {"OK", 100ms, {}},
        {"o", 100ms, {}},
        {"O", 25s, {"Eeprom Erase"}},
        {"", 0s, {"The HC11 did not answer the erase."}},
    };
    for (const auto& [reply, delay, says] : cases) {
        OpsBench b;
        b.target.talker = [&b, reply, delay](Byte x) {
            if (x == 'W' && *reply)
                b.target.after(delay, [&b, reply] { b.target.send(std::string_view(reply)); });
        };
        b.run("EepromErase");
        EXPECT_EQ(b.texts(), says) << reply;
        EXPECT_TRUE(*reply || (b.clock.now() > 30s && b.clock.now() < 120s))
            << b.clock.now().count();
    }
}

// What the operations send their talkers, each item a write of its own. The talkers end the job
// with "O" (a status talker names the first byte with data instead), and a job whose end they
// did not confirm failed, whether it reads or writes. A talker sent nothing is given half a
// second to act.
TEST(TalkerCommands, GoOutInWritesOfTheirOwnAndEndConfirmed) {
    const std::string reads = "The HC11 did not confirm the end of the job.";
    const std::string changes =
        "The HC11 did not confirm the end of the job; the memory may be partly programmed.";
    const std::tuple<const char*, const char*, std::vector<Bytes>, const char*> cases[] = {
        {"EepromCheck", "B6F0", rangeCommand("B600", "B7FF"), "Data"},
        {"EpromCheck", "O", rangeCommand("D000", "FFFF"), "No Data"},
        {"EpromCheck", "", rangeCommand("D000", "FFFF"), reads.c_str()},
        {"ConfigProgram", "O", {{0xFF}, {0xAA}, {0xF0}}, nullptr},
        {"ConfigProgram", "", {{0xFF}, {0xAA}, {0xF0}}, changes.c_str()},
        {"XISFR", "O", {{'P'}, {'P'}, {'U'}, {0x81}, {'W'}}, nullptr},
        {"XIBPR", "", {{'P'}, {'P'}, {'U'}, {0x00}, {'W'}}, changes.c_str()},
        {"XISDPoff", "O", {}, nullptr},
        {"XIreset", "", {}, changes.c_str()},
    };
    for (const auto& [button, reply, writes, verdict] : cases) {
        SCOPED_TRACE(std::string(button) + " " + reply);
        OpsBench b;
        std::size_t last = 1;  // the loader's 257th byte, then the command
        for (const Bytes& w : writes)
            last += w.size();
        b.confirmAt(last, reply);
        const TimePoint start = b.clock.now();
        b.run(button);
        EXPECT_EQ(b.writesAfterDownload(), writes) << button;
        EXPECT_EQ(b.wire.writes.size(), 258 + writes.size()) << button;
        EXPECT_EQ(b.texts(),
                  verdict ? std::vector<std::string>{verdict} : std::vector<std::string>{});
        const Duration after = b.clock.now() - start - characterTime(1200, 258);
        EXPECT_TRUE(!writes.empty() || std::chrono::abs(after - 500ms) < 1ms) << after.count();
    }
}

}  // namespace
}  // namespace kestro
