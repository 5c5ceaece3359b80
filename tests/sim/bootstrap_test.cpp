// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "board_bench.h"

namespace kestro::sim {
namespace {

using testing::BoardBench;

// A download whose first two bytes are BRA *, so the program parks at $0000 once it runs.
Bytes downloadImage(std::size_t n) {
    Bytes image(n);
    for (std::size_t i = 0; i < n; ++i)
        image[i] = static_cast<Byte>(i * 7 + 3);
    image[0] = 0x20;
    image[1] = 0xFE;
    return image;
}

struct DownloadCase {
    const char* name;
    Chip chip;
    int pcBaud;
    std::size_t sent;      // bytes after the sync byte
    std::size_t stored;    // bytes the loader takes
    std::uint8_t baudReg;  // BAUD once the loader has chosen its rate
};

class BootstrapDownload : public ::testing::TestWithParam<DownloadCase> {};

TEST_P(BootstrapDownload, AnnouncesWithABreakThenStoresAndEchoes) {
    const DownloadCase& c = GetParam();
    BoardBench b(c.chip, c.pcBaud);
    b.reset();
    ASSERT_FALSE(b.pc.rx.empty());
    EXPECT_TRUE(b.pc.rx.front().byte == 0 && b.pc.rx.front().framingError) << "no break first";
    EXPECT_EQ(b.pc.breaks(), 1) << "one long break, not a train of them";
    b.pc.rx.clear();

    const Bytes image = downloadImage(c.sent);
    Bytes wire{0xFF};
    wire.insert(wire.end(), image.begin(), image.end());
    b.pc.send(wire);
    b.clock.advance(characterTime(c.pcBaud, static_cast<std::int64_t>(wire.size()) + 10));

    EXPECT_EQ(b.board.phase(), BootPhase::Running);
    EXPECT_EQ(b.board.loadedBytes(), c.stored);
    const Bytes stored(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(c.stored));
    EXPECT_EQ(b.pc.data(), stored) << "the echo: every stored byte, the sync byte not";
    EXPECT_TRUE(std::equal(stored.begin(), stored.end(), b.board.ram().begin()));
    EXPECT_EQ(b.board.peek(0x102B), c.baudReg);
    EXPECT_EQ(b.board.cpu().regs.pc, 0x0000);
    EXPECT_EQ(b.pc.breaks(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Loader, BootstrapDownload,
    ::testing::Values(
        // The program's download: $FF, the talker, $00 fill to 257 bytes, at 1200 baud. A
        // 256-byte part takes 256 and runs; the 257th reaches the program, unechoed here.
        DownloadCase{"A8At1200", Chip::A8, 1200, 257, 256, 0x33},
        DownloadCase{"E2At1200", Chip::E2_811, 1200, 257, 256, 0x33},
        DownloadCase{"E9At1200", Chip::E9, 1200, 257, 257, 0x33},
        DownloadCase{"E9At7812FullRam", Chip::E9, 7812, 512, 512, 0x22},
        DownloadCase{"E711At1200", Chip::E9_711, 1200, 257, 257, 0x33},
        // The larger RAMs take a download as long as themselves, and nothing beyond.
        DownloadCase{"E20At7812FullRam", Chip::E20, 7812, 769, 768, 0x22},
        DownloadCase{"F1At7812FullRam", Chip::F1, 7812, 1025, 1024, 0x22},
        DownloadCase{"A0At1200", Chip::A0, 1200, 257, 256, 0x33}),
    [](const auto& info) { return std::string(info.param.name); });

// The E9 family ends a download after four character times of idle line; the A8 waits for its
// whole RAM however long the line is idle.
// The E9 family ends a short download on an idle line; the loader's stack at the top of RAM,
// which such a download does not reach, then holds what the loader pushed, not what RAM held.
TEST(Bootstrap, OnlyTheE9EndsADownloadOnAnIdleLine) {
    for (const Chip chip : {Chip::E9, Chip::A8}) {
        SCOPED_TRACE(variant(chip).name);
        BoardBench b(chip, 1200);
        std::fill(b.board.ram().begin(), b.board.ram().end(), std::uint8_t{0x00});
        b.reset();
        b.pc.send(Bytes{0xFF, 0x20, 0xFE, 0x01});
        // The last byte's stop bit is sampled 9.5 bit times after its start.
        const Duration idle =
            characterTime(1200, 3) + characterTime(1200) * 19 / 20 + characterTime(1200, 4);
        b.clock.advance(idle - std::chrono::milliseconds(1));
        EXPECT_EQ(b.board.phase(), BootPhase::Loading);
        const BootPhase after = chip == Chip::E9 ? BootPhase::Running : BootPhase::Loading;
        for (const auto wait : {std::chrono::milliseconds(2), std::chrono::milliseconds(2000)}) {
            b.clock.advance(wait);
            EXPECT_EQ(b.board.phase(), after);
        }
        EXPECT_EQ(b.board.loadedBytes(), 3u);
        const auto top = b.board.ram().last(2);
        EXPECT_TRUE(top[0] != 0x00 && top[0] != 0xFF && top[1] != 0x00 && top[1] != 0xFF);
    }
}

TEST(Bootstrap, ABreakInsteadOfTheSyncByteRunsTheEeprom) {
    BoardBench b(Chip::E9, 7812);
    b.board.eeprom().array()[0] = 0x20;  // BRA * at $B600
    b.board.eeprom().array()[1] = 0xFE;
    b.reset();
    b.pc.tx.queueBreak(std::chrono::milliseconds(5));
    b.clock.advance(std::chrono::milliseconds(20));
    EXPECT_EQ(b.board.phase(), BootPhase::Running);
    EXPECT_EQ(b.board.cpu().regs.pc, 0xB600);
}

// NOSEC clear engages security only on a part made with the security option; a standard part
// announces itself at once and keeps its EEPROM, RAM and CONFIG.
TEST(Bootstrap, OnlyAPartWithTheSecurityOptionWipesItselfBeforeItAnnouncesItself) {
    for (const bool option : {true, false}) {
        SCOPED_TRACE(option ? "security option" : "standard part");
        BoardOptions options{Chip::E9};
        options.securityOption = option;
        BoardBench b(options, 7812);
        b.board.eeprom().array()[5] = 0x12;
        b.board.eeprom().setConfigCell(0x07);  // NOSEC clear
        b.board.ram()[3] = 0x34;
        b.board.resetBootstrap();
        b.clock.advance(std::chrono::milliseconds(60));
        ASSERT_GE(b.pc.rx.size(), option ? 2u : 1u);
        if (option) {
            EXPECT_EQ(b.pc.rx[0].byte, 0xFF);
            EXPECT_FALSE(b.pc.rx[0].framingError);
            EXPECT_TRUE(b.pc.rx[1].byte == 0 && b.pc.rx[1].framingError);
            EXPECT_GE(b.pc.rx[1].at - b.pc.rx[0].at, std::chrono::milliseconds(20));
        } else {
            EXPECT_TRUE(b.pc.rx[0].byte == 0 && b.pc.rx[0].framingError) << "the break at once";
        }
        EXPECT_EQ(b.board.eeprom().array()[5], option ? 0xFF : 0x12);
        EXPECT_EQ(b.board.eeprom().configCell(), option ? 0xFF : 0x07);
        EXPECT_EQ(b.board.ram()[3], option ? 0xFF : 0x34);
        // The download then works as usual.
        b.pc.send(Bytes{0xFF, 0x20, 0xFE});
        b.clock.advance(std::chrono::milliseconds(20));
        EXPECT_EQ(b.board.phase(), BootPhase::Running);
    }
}

TEST(Bootstrap, InterruptsReachTheRamPseudoVectors) {
    // LDS #$01FF; LDX #$1000; LDAA #RIE|TE|RE; STAA SCCR2,X; CLI; BRA *. The handler at $000D,
    // reached through the JMP at the SCI pseudo-vector $00C4, echoes each byte plus one:
    // LDAA SCSR,X; LDAA SCDR,X; INCA; STAA SCDR,X; RTI.
    Bytes image{0x8E, 0x01, 0xFF, 0xCE, 0x10, 0x00, 0x86, 0x2C, 0xA7, 0x2D, 0x0E,
                0x20, 0xFE, 0xA6, 0x2E, 0xA6, 0x2F, 0x4C, 0xA7, 0x2F, 0x3B};
    image.resize(0xC7);
    image[0xC4] = 0x7E;  // JMP $000D
    image[0xC6] = 0x0D;
    BoardBench b(Chip::E9, 7812);
    b.bootAndRun(image);
    b.pc.send(Bytes{'a', 'x'});
    b.clock.advance(std::chrono::milliseconds(20));
    EXPECT_EQ(b.pc.data(), (Bytes{'b', 'y'}));
}

}  // namespace
}  // namespace kestro::sim
