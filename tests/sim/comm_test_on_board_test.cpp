// The program's communication test against the virtual board running the real testcom
// talker, all in virtual time.
#include <gtest/gtest.h>

#include "station.h"
#include "talker_loader.h"

namespace kestro::sim {
namespace {

using station::Station;

class CommTestOnBoard : public ::testing::TestWithParam<Chip> {};

TEST_P(CommTestOnBoard, CommunicationIsOk) {
    Station s(GetParam());
    Bytes boardReceived;
    s.board.onReceived = [&](Byte b, bool) { boardReceived.push_back(b); };
    // Twice, each after a reset of the board: a second run must not trip over the first.
    for (int run = 0; run < 2; ++run) {
        boardReceived.clear();
        s.board.resetBootstrap();
        s.clock.advance(std::chrono::milliseconds(100));
        ASSERT_TRUE(s.link.ready()) << "the board's break was not seen as a reset";
        ops::operationFor("TestComm")(s.target, ops::Inputs{});
        ASSERT_EQ(s.ui.messages.size(), run + 1u);
        EXPECT_EQ(s.ui.messages[run].text, "Communication is OK");
    }

    // What reached the chip: the sync byte (garbled at the loader's 7812 baud), the talker
    // with its fill, then the alphabet.
    std::string reason;
    const auto text = readFile(std::filesystem::path(KESTRO_TALKER_DIR) / "testcom.S19", &reason);
    ASSERT_TRUE(text) << reason;
    const Bytes wire = talkerWireBytes(talkerImage(*text));
    ASSERT_GE(boardReceived.size(), wire.size());
    EXPECT_TRUE(boardReceived[0] == 0xC0 || boardReceived[0] == 0xE0)
        << std::hex << int(boardReceived[0]);
    Bytes expected(wire.begin() + 1, wire.end());
    const Bytes alphabet = bytesOf("abcdefghijklmnopqrstuvwxyz");
    expected.insert(expected.end(), alphabet.begin(), alphabet.end());
    EXPECT_EQ(Bytes(boardReceived.begin() + 1, boardReceived.end()), expected);
    EXPECT_EQ(s.board.phase(), BootPhase::Running);
    EXPECT_FALSE(s.link.ready());
}

INSTANTIATE_TEST_SUITE_P(AllParts, CommTestOnBoard,
                         ::testing::Values(Chip::A8, Chip::E9, Chip::E9_711, Chip::E2_811),
                         [](const auto& info) { return std::string(variant(info.param).name); });

}  // namespace
}  // namespace kestro::sim
