#include <gtest/gtest.h>

#include <fstream>

#include "board_bench.h"

namespace kestro::sim {
namespace {

// A fresh folder of its own, removed afterwards.
struct TempFolder {
    inline static int serial = 0;
    std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("kestro-board-" + std::to_string(::getpid()) + "-" + std::to_string(++serial));
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
};

// Fills every non-volatile memory of the board with a pattern of its own.
void scribble(Board& b) {
    for (std::size_t i = 0; i < b.eeprom().array().size(); ++i)
        b.eeprom().array()[i] = static_cast<std::uint8_t>(i * 3);
    b.eeprom().setConfigCell(0x0D);
    if (Eprom* e = b.epromDevice())
        for (std::size_t i = 0; i < e->array().size(); ++i)
            e->array()[i] = static_cast<std::uint8_t>(i * 5 + 1);
    auto& pe = b.devices().parallelEeprom();
    for (std::size_t i = 0; i < pe.cells().size(); ++i)
        pe.cells()[i] = static_cast<std::uint8_t>(i * 7 + 2);
    pe.setSdp(true);
    auto& co = b.devices().companion();
    for (std::size_t i = 0; i < co.eeprom().cells().size(); ++i)
        co.eeprom().cells()[i] = static_cast<std::uint8_t>(i * 11 + 3);
    co.eeprom().setSdp(true);
    co.setStored({0x81, 0x2C, 0x85});
}

class Persistence : public ::testing::TestWithParam<Chip> {};

TEST_P(Persistence, RoundTripsEveryNonVolatileMemory) {
    TempFolder folder;
    testing::BoardBench a(GetParam());
    scribble(a.board);
    a.board.save(folder.path);

    testing::BoardBench b(Chip::A8);  // another part: the file brings its own
    ASSERT_TRUE(b.board.load(folder.path));
    EXPECT_EQ(b.board.chip().chip, GetParam());
    EXPECT_EQ(b.board.eeprom().array(), a.board.eeprom().array());
    EXPECT_EQ(b.board.eeprom().configCell(), 0x0D);
    EXPECT_EQ(b.board.config(), 0x0D & b.board.chip().configMask);
    EXPECT_TRUE(std::ranges::equal(b.board.eprom(), a.board.eprom()));
    EXPECT_EQ(b.board.devices().parallelEeprom().cells(),
              a.board.devices().parallelEeprom().cells());
    EXPECT_TRUE(b.board.devices().parallelEeprom().sdp());
    EXPECT_EQ(b.board.devices().companion().eeprom().cells(),
              a.board.devices().companion().eeprom().cells());
    EXPECT_TRUE(b.board.devices().companion().eeprom().sdp());
    EXPECT_EQ(b.board.devices().companion().stored(), (CompanionRegisters{0x81, 0x2C, 0x85}));
    // Loaded registers are in use: the companion chip's EEPROM sits in block 4.
    EXPECT_EQ(b.board.devices().companion().eepromBase(), 0x8000);
}

INSTANTIATE_TEST_SUITE_P(AllParts, Persistence,
                         ::testing::Values(Chip::A8, Chip::E9, Chip::E9_711, Chip::E2_811),
                         [](const auto& info) { return std::string(variant(info.param).name); });

TEST(Persistence, ABrokenFileIsRefusedWholeAndChangesNothing) {
    const std::vector<std::pair<std::string, std::string>> breakages{
        {"NotOurs", "hello\n"},           {"UnknownPart", "chip MC68HC11Z9\n"},
        {"ShortEeprom", "eeprom 00FF\n"}, {"NotHex", "config G0\n"},
        {"BadFlag", "companion-sdp 2\n"},
    };
    for (const auto& [name, line] : breakages) {
        TempFolder folder;
        testing::BoardBench good(Chip::E9);
        good.board.save(folder.path);
        // Replace the line with the same key (or the whole file for "NotOurs").
        const auto file = folder.path / Board::kStateFile;
        std::ifstream in(file);
        std::string text, l;
        const std::string key = line.substr(0, line.find(' '));
        while (std::getline(in, l))
            text += (name != "NotOurs" && l.rfind(key + " ", 0) == 0) ? line : l + "\n";
        in.close();
        if (name == "NotOurs")
            text = line;
        std::ofstream(file, std::ios::trunc) << text;

        testing::BoardBench b(Chip::A8);
        b.board.eeprom().array()[0] = 0x12;
        EXPECT_THROW(b.board.load(folder.path), BoardError) << name;
        EXPECT_EQ(b.board.chip().chip, Chip::A8) << name;
        EXPECT_EQ(b.board.eeprom().array()[0], 0x12) << name;
    }
}

TEST(Persistence, FactoryResetErasesAndRestoresTheDefaults) {
    testing::BoardBench b(Chip::E9_711);
    scribble(b.board);
    b.board.factoryReset();
    auto erased = [](std::span<const std::uint8_t> m) {
        return std::all_of(m.begin(), m.end(), [](std::uint8_t v) { return v == 0xFF; });
    };
    EXPECT_TRUE(erased(b.board.eeprom().array()));
    EXPECT_EQ(b.board.eeprom().configCell(), 0x0F);
    EXPECT_TRUE(erased(b.board.eprom()));
    EXPECT_TRUE(erased(b.board.devices().parallelEeprom().cells()));
    EXPECT_FALSE(b.board.devices().parallelEeprom().sdp());
    EXPECT_TRUE(erased(b.board.devices().companion().eeprom().cells()));
    EXPECT_EQ(b.board.devices().companion().stored(), CompanionRegisters{});
    // And it still works: a reset announces the board.
    b.board.resetBootstrap();
    b.clock.advance(std::chrono::milliseconds(30));
    EXPECT_EQ(b.pc.breaks(), 1);
}

}  // namespace
}  // namespace kestro::sim
