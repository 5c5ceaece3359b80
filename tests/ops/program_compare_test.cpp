#include <gtest/gtest.h>

#include "ops_bench.h"

namespace kestro {
namespace {

using testing::OpsBench;

const std::string kFile = "S1050000860173\r\nS9030000FC\r\n";

struct Member {
    const char* button;
    const char* caption;
    const char* title;
    const char* success;
    const char* failure;
    bool compares;
};

const Member kMembers[] = {
    {"EepromProgram", "Program", "Eeprom", "Eeprom is program", "Error in Eeprom", false},
    {"EpromProgram", "Program", "Eprom", "Eprom is program", "Error in Eprom", false},
    {"ExtEEprog", "Program", "Eprom", "Eprom is program", "Error in Eprom", false},
    {"Xiprog", "Program", "Eeprom", "Eeprom is program", "Error in Eeprom", false},
    {"EepromCompare", "Compare", "Eeprom", "File equal Eeprom", "", true},
    {"EpromCompare", "Compare", "Eprom", "File equal Eprom", "", true},
    {"ExtEEcomp", "Compare", "Eeprom", "File equal Eeprom", "", true},
    {"Xicomp", "Compare", "Eeprom", "File equal Eeprom", "", true},
};

class ProgramCompare : public ::testing::TestWithParam<Member> {};

TEST_P(ProgramCompare, SendsTheFileAndASilentTargetIsSuccess) {
    const Member& m = GetParam();
    // A file that ends in a DOS end-of-file mark goes out with it.
    for (const std::string& file : {kFile, kFile + "\x1A"}) {
        SCOPED_TRACE(file.size());
        OpsBench b;
        b.connectAndReset();
        b.ui.chooserAnswer = b.writeFile("app.s19", file).string();
        b.run(m.button);
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0], (Message{m.success, m.title, Icon::Information}));
        // The file goes out unchanged, with one zero byte beyond its end, in one piece.
        Bytes expected = bytesOf(file);
        expected.push_back(0x00);
        EXPECT_EQ(b.sentToTalker(), expected);
        EXPECT_EQ(b.writesAfterDownload(), std::vector<Bytes>{expected});
        EXPECT_EQ(b.ui.captions[m.button], m.caption);
        EXPECT_FALSE(b.link.ready());
        EXPECT_TRUE(b.ui.windowEnabled());
        // The streamer showed the bars, moved them within 1..99 and hid them again.
        ASSERT_GE(b.ui.progress.size(), 2u);
        EXPECT_EQ(b.ui.progress.front(), 1);
        EXPECT_EQ(b.ui.progress.back(), std::nullopt);
    }
}

TEST_P(ProgramCompare, AnAnswerIsTheMembersFailure) {
    const Member& m = GetParam();
    OpsBench b;
    b.connectAndReset();
    b.ui.chooserAnswer = b.writeFile("app.s19", kFile).string();
    b.target.talker = [&b, n = 0](Byte) mutable {
        if (++n == 10)
            b.target.send(std::string_view("B600 12"));
    };
    b.run(m.button);
    ASSERT_EQ(b.ui.messages.size(), 1u);
    if (m.compares)
        EXPECT_EQ(b.ui.messages[0],
                  (Message{"Error found at\r\nB600 12", m.title, Icon::Critical}));
    else
        EXPECT_EQ(b.ui.messages[0], (Message{m.failure, m.title, Icon::Information}));
}

TEST_P(ProgramCompare, CancelLeavesTheTargetReady) {
    const Member& m = GetParam();
    OpsBench b;
    b.connectAndReset();
    b.run(m.button);
    EXPECT_TRUE(b.ui.messages.empty());
    EXPECT_EQ(b.ui.chooserOpened, 1);
    EXPECT_EQ(b.ui.captions[m.button], m.caption);
    EXPECT_EQ(b.ui.enabled, (std::vector<bool>{false, true}));
    EXPECT_TRUE(b.link.ready());
    EXPECT_TRUE(b.wire.writes.empty());
}

// A file that is not S-records, or is not there, is named and refused before the talker goes,
// and the reset is kept.
TEST_P(ProgramCompare, ABrokenOrMissingFileIsRefusedBeforeTheTalkerGoes) {
    const Member& m = GetParam();
    for (const bool missing : {false, true}) {
        OpsBench b;
        b.connectAndReset();
        const auto path = missing ? b.talkerDir / "gone.s19"
                                  : b.writeFile("firmware.bin", std::string("\x12\x00\xff\x7f"
                                                                            "ELF",
                                                                            7));
        b.ui.chooserAnswer = path.string();
        b.run(m.button);
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0].icon, Icon::Critical);
        EXPECT_NE(b.ui.messages[0].text.find(path.string()), std::string::npos);
        EXPECT_EQ(b.ui.messages[0].detail, missing ? "" : "Line 1: not an S-record.");
        EXPECT_TRUE(b.link.ready());
        EXPECT_TRUE(b.wire.writes.empty());
        EXPECT_TRUE(b.ui.windowEnabled());
    }
}

INSTANTIATE_TEST_SUITE_P(Ops, ProgramCompare, ::testing::ValuesIn(kMembers),
                         [](const auto& info) { return std::string(info.param.button); });

TEST(ProgramCompareFile, ALongFileGoesInBufferSizedPiecesWithProgress) {
    OpsBench b;
    b.connectAndReset();
    std::string file;
    while (file.size() < 20000)
        file += "S1130000000102030405060708090A0B0C0D0E0F74\r\n";
    b.ui.chooserAnswer = b.writeFile("big.s19", file).string();
    b.run("EepromProgram");
    const auto writes = b.writesAfterDownload();
    ASSERT_EQ(writes.size(), file.size() / 512 + 1);
    for (std::size_t i = 0; i + 1 < writes.size(); ++i)
        EXPECT_EQ(writes[i].size(), 512u);
    EXPECT_EQ(writes.back().size(), file.size() % 512 + 1);
    EXPECT_EQ(b.sentToTalker().size(), file.size() + 1);
    // About three minutes of line time, and the bars rose steadily without reaching 100.
    EXPECT_GT(b.clock.now(), Duration{160s});
    int last = 0;
    for (const auto& p : b.ui.progress) {
        if (!p)
            continue;
        EXPECT_GE(*p, last);
        EXPECT_LE(*p, 99);
        last = *p;
    }
    EXPECT_GE(last, 95);
    EXPECT_EQ(b.ui.messages.at(0).text, "Eeprom is program");
}

TEST(ProgramCompareFile, LeftoverBytesFromTheLastRunNeverReachTheVerdict) {
    OpsBench b;
    b.connectAndReset();
    b.ui.chooserAnswer = b.writeFile("app.s19", kFile).string();
    b.target.talker = [&b](Byte) { b.target.send(Byte{'!'}); };
    b.run("EepromProgram");
    EXPECT_EQ(b.ui.messages.at(0).text, "Error in Eeprom");
    EXPECT_GT(b.port.inBufferCount(), 0u);  // left for the next run

    b.target.reset();
    b.clock.advance(100ms);
    b.target.talker = nullptr;
    b.run("EepromCompare");
    EXPECT_EQ(b.ui.messages.at(1).text, "File equal Eeprom");
}

}  // namespace
}  // namespace kestro
