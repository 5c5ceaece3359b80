#include <gtest/gtest.h>

#include "ops_bench.h"

namespace kestro {
namespace {

using testing::OpsBench;

const std::string kFile = "S1050000860173\r\nS9030000FC\r\n";

struct Member {
    const char* button;
    Message success, failure;  // a comparing member's failure text is followed by the reply
};

const Member kMembers[] = {
    {"EepromProgram", {"Eeprom is program", "Eeprom"}, {"Error in Eeprom", "Eeprom"}},
    {"EpromProgram", {"Eprom is program", "Eprom"}, {"Error in Eprom", "Eprom"}},
    {"ExtEEprog", {"Eprom is program", "Eprom"}, {"Error in Eprom", "Eprom"}},
    {"Xiprog", {"Eeprom is program", "Eeprom"}, {"Error in Eeprom", "Eeprom"}},
    {"EepromCompare",
     {"File equal Eeprom", "Eeprom"},
     {"Error found at\r\n", "Eeprom", Icon::Critical}},
    {"EpromCompare",
     {"File equal Eprom", "Eprom"},
     {"Error found at\r\n", "Eprom", Icon::Critical}},
    {"ExtEEcomp",
     {"File equal Eeprom", "Eeprom"},
     {"Error found at\r\n", "Eeprom", Icon::Critical}},
    {"Xicomp", {"File equal Eeprom", "Eeprom"}, {"Error found at\r\n", "Eeprom", Icon::Critical}},
};

void PrintTo(const Member& m, std::ostream* os) {
    *os << m.button;
}

class ProgramCompare : public ::testing::TestWithParam<Member> {};

// A silent talker is success; any answer is the member's failure, and a comparing member shows
// the answer.
TEST_P(ProgramCompare, ASilentTalkerIsSuccessAndAnAnswerFailure) {
    const Member& m = GetParam();
    for (const bool answers : {false, true}) {
        OpsBench b;
        b.choose(kFile);
        if (answers)
            b.target.talker = [&b, n = 0](Byte) mutable {
                if (++n == 10)
                    b.target.send(std::string_view("B600 12"));
            };
        b.run(m.button);
        Message expected = answers ? m.failure : m.success;
        if (answers && expected.icon == Icon::Critical)
            expected.text += "B600 12";
        EXPECT_EQ(b.ui.messages, std::vector{expected});
    }
}

// Cancelled, unreadable or not S-records: refused before the talker goes, so the reset is kept.
TEST_P(ProgramCompare, AFileThatCannotGoIsRefusedBeforeTheTalker) {
    const Member& m = GetParam();
    const std::tuple<const char*, std::string, std::string> choices[] = {
        {"cancel", "", ""},
        {"missing", "@/gone.s19", ""},
        {"binary", "@/firmware.bin", "Line 1: not an S-record."},
    };
    for (const auto& [what, chosen, detail] : choices) {
        SCOPED_TRACE(what);
        OpsBench b;
        b.writeFile("firmware.bin", std::string("\x12\x00\xff\x7f"
                                                "ELF",
                                                7));
        const std::string path =
            chosen.empty() ? "Cancel" : b.talkerDir.string() + chosen.substr(1);
        b.ui.chooserAnswer = path;
        b.run(m.button);
        EXPECT_EQ(b.ui.chooserOpened, 1);
        EXPECT_TRUE(b.link.ready());
        EXPECT_TRUE(b.wire.writes.empty());
        EXPECT_TRUE(b.ui.windowEnabled());
        if (chosen.empty()) {
            EXPECT_TRUE(b.ui.messages.empty());
            continue;
        }
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0].icon, Icon::Critical);
        EXPECT_NE(b.ui.messages[0].text.find(path), std::string::npos);
        EXPECT_EQ(b.ui.messages[0].detail, detail);
    }
}

INSTANTIATE_TEST_SUITE_P(Ops, ProgramCompare, ::testing::ValuesIn(kMembers),
                         [](const auto& info) { return std::string(info.param.button); });

// The file goes out as it stands, a DOS end-of-file mark and all, then one zero byte beyond its
// end, in pieces the size of the port's buffer, the bars rising steadily below 100.
TEST(ProgramCompareFile, GoesOutWholeInBufferSizedPiecesWithProgress) {
    OpsBench b;
    std::string file;
    while (file.size() < 20000)
        file += "S1130000000102030405060708090A0B0C0D0E0F74\r\n";
    file += "\x1A";
    b.choose(file);
    b.run("EepromProgram");
    const auto writes = b.writesAfterDownload();
    ASSERT_EQ(writes.size(), file.size() / 512 + 1);
    for (std::size_t i = 0; i + 1 < writes.size(); ++i)
        EXPECT_EQ(writes[i].size(), 512u);
    Bytes expected = bytesOf(file);
    expected.push_back(0x00);
    EXPECT_EQ(b.sentToTalker(), expected);
    EXPECT_GT(b.clock.now(), Duration{160s});
    ASSERT_GE(b.ui.progress.size(), 3u);
    EXPECT_EQ(b.ui.progress.front(), 1);
    EXPECT_EQ(b.ui.progress.back(), std::nullopt);
    int last = 0;
    for (std::size_t i = 0; i + 1 < b.ui.progress.size(); ++i) {
        const int p = b.ui.progress[i].value_or(-1);
        EXPECT_TRUE(p >= last && p <= 99) << p;
        last = p;
    }
    EXPECT_GE(last, 95);
    EXPECT_EQ(b.texts(), std::vector<std::string>{"Eeprom is program"});
}

// The talker's answer stays in the port for the next run, which must not take it as its own.
TEST(ProgramCompareFile, LeftoverBytesFromTheLastRunNeverReachTheVerdict) {
    OpsBench b;
    b.choose(kFile);
    b.target.talker = [&b](Byte) { b.target.send(Byte{'!'}); };
    b.run("EepromProgram");
    EXPECT_GT(b.port.inBufferCount(), 0u);
    b.target.reset();
    b.clock.advance(100ms);
    b.target.talker = nullptr;
    b.run("EepromCompare");
    EXPECT_EQ(b.texts(), (std::vector<std::string>{"Error in Eeprom", "File equal Eeprom"}));
}

}  // namespace
}  // namespace kestro
