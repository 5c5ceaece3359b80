// The program's communication test against the virtual board running the real testcom
// talker, all in virtual time.
#include <gtest/gtest.h>

#include "kestro/sim/board/board.h"
#include "operations.h"
#include "recorders.h"
#include "talker_loader.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace kestro::sim {
namespace {

#ifdef KESTRO_TALKER_DIR
const std::filesystem::path kTalkerDir = KESTRO_TALKER_DIR;
#endif

// The PC of the program (port, link, frame) on Comm 1, the board at the cable's far end.
struct Station {
    explicit Station(Chip chip) : board(clock, line, BoardOptions{chip}) {
        port.attach(1, line);
        port.setListener(&link);
        link.setView(&view);
        board.onReceived = [this](Byte b, bool) { boardReceived.push_back(b); };
    }

    VirtualClock clock;
    VirtualLine line{clock};
    VirtualPort port{clock};
    LinkState link{port, clock, clock};
    Board board;
    kestro::testing::RecordingView view;
    kestro::testing::RecordingUi ui;
    Bytes boardReceived;
};

class CommTestOnBoard : public ::testing::TestWithParam<Chip> {};

TEST_P(CommTestOnBoard, CommunicationIsOk) {
#ifndef KESTRO_TALKER_DIR
    GTEST_SKIP() << "the talkers are not part of this build";
#else
    Station s(GetParam());
    s.link.startupSearch();
    Target target{s.link, s.ui, kTalkerDir};
    // Twice, each after a reset of the board: a second run must not trip over the first.
    for (int run = 0; run < 2; ++run) {
        s.boardReceived.clear();
        s.board.resetBootstrap();
        s.clock.advance(std::chrono::milliseconds(100));
        ASSERT_TRUE(s.link.ready()) << "the board's break was not seen as a reset";
        ops::operationFor("TestComm")(target, ops::Inputs{});
        ASSERT_EQ(s.ui.messages.size(), run + 1u);
        EXPECT_EQ(s.ui.messages[run].text, "Communication is OK");
    }

    // What reached the chip: the sync byte (garbled at the loader's 7812 baud), the talker
    // with its fill, then the alphabet.
    std::string reason;
    const auto text = readFile(kTalkerDir / "testcom.S19", &reason);
    ASSERT_TRUE(text) << reason;
    const Bytes wire = talkerWireBytes(talkerImage(*text));
    ASSERT_GE(s.boardReceived.size(), wire.size());
    EXPECT_TRUE(s.boardReceived[0] == 0xC0 || s.boardReceived[0] == 0xE0)
        << std::hex << int(s.boardReceived[0]);
    Bytes expected(wire.begin() + 1, wire.end());
    const Bytes alphabet = bytesOf("abcdefghijklmnopqrstuvwxyz");
    expected.insert(expected.end(), alphabet.begin(), alphabet.end());
    EXPECT_EQ(Bytes(s.boardReceived.begin() + 1, s.boardReceived.end()), expected);
    EXPECT_EQ(s.board.phase(), BootPhase::Running);
    EXPECT_FALSE(s.link.ready());
#endif
}

INSTANTIATE_TEST_SUITE_P(AllParts, CommTestOnBoard,
                         ::testing::Values(Chip::A8, Chip::E9, Chip::E9_711, Chip::E2_811),
                         [](const auto& info) { return std::string(variant(info.param).name); });

}  // namespace
}  // namespace kestro::sim
