#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "ops_bench.h"

namespace kestro {
namespace {

using testing::OpsBench;

std::vector<Bytes> writesOf(std::initializer_list<std::string_view> items) {
    std::vector<Bytes> w;
    for (auto i : items)
        w.push_back(bytesOf(i));
    return w;
}

TEST(StatusCheck, SendsTheRangeInSevenWritesAndJudgesByAnyReply) {
    struct Case {
        const char* button;
        const char* title;
        std::vector<Bytes> writes;
        std::string reply;
        const char* verdict;
    };
    const Case cases[] = {
        {"EepromCheck", "Eeprom", writesOf({"P", "P", "U", "B600", "V", "B7FF", "W"}), "",
         "No Data"},
        {"EepromCheck", "Eeprom", writesOf({"P", "P", "U", "B600", "V", "B7FF", "W"}), "x", "Data"},
        {"EpromCheck", "Eprom", writesOf({"P", "P", "U", "D000", "V", "FFFF", "W"}),
         "D000 FF FF 12", "Data"},
        {"EpromCheck", "Eprom", writesOf({"P", "P", "U", "D000", "V", "FFFF", "W"}), "", "No Data"},
    };
    for (const Case& c : cases) {
        OpsBench b;
        b.connectAndReset();
        b.target.talker = [&b, &c](Byte x) {
            if (x == 'W' && !c.reply.empty())
                b.target.send(std::string_view(c.reply));
        };
        b.run(c.button);
        EXPECT_EQ(b.writesAfterDownload(), c.writes) << c.button;
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0], (Message{c.verdict, c.title, Icon::Information}));
        EXPECT_EQ(b.ui.captions[c.button], "Check Stat");
        EXPECT_FALSE(b.link.ready());
    }
}

TEST(EepromErase, WaitsForTheVerdictCharacter) {
    struct Case {
        const char* name;
        std::string reply;
        Duration delay;
        std::optional<Message> box;
    };
    const Case cases[] = {
        {"Done", "O", 100ms, Message{"Eeprom Erase", "Eeprom", Icon::Information}},
        {"Error", "E", 100ms, Message{"Error in Eeprom", "Eeprom", Icon::Information}},
        {"TwoCharacters", "OK", 100ms, std::nullopt},
        {"LowerCase", "o", 100ms, std::nullopt},
        // A real byte-by-byte erase of a large EEPROM takes many seconds: still awaited.
        {"LateButAwaited", "O", 25s, Message{"Eeprom Erase", "Eeprom", Icon::Information}},
    };
    for (const Case& c : cases) {
        OpsBench b;
        b.connectAndReset();
        b.target.talker = [&b, &c](Byte x) {
            if (x == 'W')
                b.target.after(c.delay, [&b, &c] { b.target.send(std::string_view(c.reply)); });
        };
        ops::Inputs in;
        in.eepromBegin = "B700";
        in.eepromEnd = "B7FF";
        b.run("EepromErase", in);
        EXPECT_EQ(b.writesAfterDownload(), writesOf({"P", "P", "U", "B700", "V", "B7FF", "W"}))
            << c.name;
        if (c.box) {
            ASSERT_EQ(b.ui.messages.size(), 1u) << c.name;
            EXPECT_EQ(b.ui.messages[0], *c.box) << c.name;
        } else {
            EXPECT_TRUE(b.ui.messages.empty()) << c.name;
        }
        EXPECT_EQ(b.ui.captions["EepromErase"], "Erase");
        EXPECT_FALSE(b.link.ready());
    }
}

TEST(EepromErase, ASilentTargetEndsTheRunAfterALimit) {
    OpsBench b;
    b.connectAndReset();
    const TimePoint start = b.clock.now();
    b.run("EepromErase");
    ASSERT_EQ(b.ui.messages.size(), 1u);
    EXPECT_EQ(b.ui.messages[0].text, "The HC11 did not answer the erase.");
    EXPECT_EQ(b.ui.messages[0].icon, Icon::Critical);
    EXPECT_GT(b.clock.now() - start, Duration{30s});
    EXPECT_LT(b.clock.now() - start, Duration{120s});
    EXPECT_FALSE(b.link.ready());
    EXPECT_TRUE(b.ui.windowEnabled());
    EXPECT_EQ(b.ui.captions["EepromErase"], "Erase");
}

TEST(ConfigProgram, SendsFfAaAndTheByteWithoutWaitingForAReply) {
    struct Case {
        std::string location;
        std::array<int, 4> boxes;
        Byte value;
    };
    const Case cases[] = {
        {"$F800-$FFFF", {0, 0, 0, 0}, 0xF0},
        {"$0800-$0FFF", {1, 1, 1, 1}, 0x0F},
        {"$B800-$BFFF", {1, 0, 1, 0}, 0xB5},
    };
    for (const Case& c : cases) {
        OpsBench b;
        b.connectAndReset();
        ops::Inputs in;
        in.config5Text = c.location;
        in.config = c.boxes;
        b.run("ConfigProgram", in);
        EXPECT_EQ(b.writesAfterDownload(), (std::vector<Bytes>{{0xFF}, {0xAA}, {c.value}}));
        EXPECT_TRUE(b.ui.messages.empty());
        EXPECT_EQ(b.ui.captions["ConfigProgram"], "Program");
        EXPECT_FALSE(b.link.ready());
        b.clock.advance(1s);
        EXPECT_EQ(b.sentToTalker(), (Bytes{0xFF, 0xAA, c.value}));
    }
}

TEST(XicorRegisters, SendTheirByteRawInFiveWrites) {
    struct Case {
        const char* button;
        const char* caption;
        ops::Inputs in;
        Byte value;
    };
    ops::Inputs sfr0;
    sfr0.sfrPosition = 64;
    ops::Inputs eem;
    eem.eemMapText = "$2000-$3FFF";
    eem.eemLam = eem.eemRes = true;
    ops::Inputs bpr;
    bpr.bpr[0] = bpr.bpr[7] = true;
    const Case cases[] = {
        {"XISFR", "Prog. SFR", ops::Inputs{}, 0x81}, {"XISFR", "Prog. SFR", sfr0, 0x90},
        {"XIeem", "Prog. EEM", ops::Inputs{}, 0x07}, {"XIeem", "Prog. EEM", eem, 0x29},
        {"XIBPR", "Prog. BPR", ops::Inputs{}, 0x00}, {"XIBPR", "Prog. BPR", bpr, 0x81},
    };
    for (const Case& c : cases) {
        OpsBench b;
        b.connectAndReset();
        b.run(c.button, c.in);
        EXPECT_EQ(b.writesAfterDownload(),
                  (std::vector<Bytes>{{'P'}, {'P'}, {'U'}, {c.value}, {'W'}}))
            << c.button;
        EXPECT_EQ(b.sentToTalker(), (Bytes{'P', 'P', 'U', c.value, 'W'}));
        EXPECT_TRUE(b.ui.messages.empty());
        EXPECT_EQ(b.ui.captions[c.button], c.caption);
        EXPECT_FALSE(b.link.ready());
    }
}

TEST(XicorCommands, SendOnlyTheTalkerAndGiveItHalfASecond) {
    for (const auto& [button, caption] :
         {std::pair{"XISDPoff", "SDP off"}, std::pair{"XIreset", "Reset"}}) {
        OpsBench b;
        b.connectAndReset();
        const TimePoint start = b.clock.now();
        b.run(button);
        EXPECT_TRUE(b.writesAfterDownload().empty());
        EXPECT_EQ(b.wire.writes.size(), 258u);
        EXPECT_TRUE(b.ui.messages.empty());
        EXPECT_EQ(b.ui.captions[button], caption);
        EXPECT_FALSE(b.link.ready());
        // The download's line time, then the half second.
        EXPECT_LT(std::chrono::abs(b.clock.now() - start - characterTime(1200, 258) - 500ms),
                  Duration{1ms});
    }
}

TEST(EveryOperation, RefusesWhenNotReadyAndChangesNothing) {
    for (const char* button :
         {"TestComm",  "EepromCheck", "EpromCheck",    "EepromProgram", "EpromProgram",
          "ExtEEprog", "Xiprog",      "EepromCompare", "EpromCompare",  "ExtEEcomp",
          "Xicomp",    "EepromErase", "ConfigProgram", "ExtRam",        "DumpStart",
          "XISDPoff",  "XIreset",     "XISFR",         "XIeem",         "XIBPR"}) {
        OpsBench b;
        b.link.startupSearch();
        b.run(button);
        ASSERT_EQ(b.ui.messages.size(), 1u) << button;
        EXPECT_EQ(b.ui.messages[0],
                  (Message{"Please reset your HC11", kAppTitle, Icon::Exclamation}));
        EXPECT_TRUE(b.ui.enabled.empty()) << button;
        EXPECT_TRUE(b.ui.captions.empty()) << button;
        EXPECT_TRUE(b.ui.visible.empty()) << button;
        EXPECT_EQ(b.ui.chooserOpened, 0);
        EXPECT_TRUE(b.wire.writes.empty()) << button;
    }
}

}  // namespace
}  // namespace kestro
