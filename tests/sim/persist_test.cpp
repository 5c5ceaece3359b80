// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include "board_bench.h"
#include "kestro/sim/board/keeper.h"
#include "scratch.h"

namespace kestro::sim {
namespace {

using kestro::testing::ScratchDir;
using kestro::testing::slurp;

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

// Every non-volatile memory of a board and how it is protected, as one value.
auto memories(Board& b) {
    const BoardDevices& d = b.devices();
    return std::tuple(b.eeprom().array(), b.eeprom().configCell(),
                      Bytes(b.eprom().begin(), b.eprom().end()), d.parallelEeprom().cells(),
                      d.parallelEeprom().sdp(), d.companion().eeprom().cells(),
                      d.companion().eeprom().sdp(), d.companion().stored());
}

// A board saved, then loaded into a board of another part, also with its line ends made CRLF
// (all, or only the first) as an editor might leave them.
class Persistence : public ::testing::TestWithParam<Chip> {};

TEST_P(Persistence, RoundTripsEveryNonVolatileMemoryWhateverTheLineEnds) {
    ScratchDir folder;
    testing::BoardBench a(GetParam());
    scribble(a.board);
    a.board.save(folder.path);
    const auto file = folder.path / Board::kStateFile;
    const std::string lf = slurp(file);
    std::string crlf;
    for (const char c : lf)
        crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    const std::string firstOnly = std::string(lf).replace(lf.find('\n'), 1, "\r\n");
    for (const std::string& text : {lf, crlf, firstOnly}) {
        SCOPED_TRACE(text == lf ? "LF" : text == crlf ? "CRLF" : "first line CRLF");
        folder.write(Board::kStateFile, text);
        testing::BoardBench b(Chip::A8);  // another part: the file brings its own
        ASSERT_TRUE(b.board.load(folder.path));
        EXPECT_EQ(b.board.chip().chip, GetParam());
        EXPECT_EQ(memories(b.board), memories(a.board));
        EXPECT_EQ(b.board.config(), 0x0D & b.board.chip().configMask);
        // Loaded registers are in use: the companion chip's EEPROM sits in block 4.
        EXPECT_EQ(b.board.devices().companion().eepromBase(), 0x8000);
    }
}

INSTANTIATE_TEST_SUITE_P(AllParts, Persistence,
                         ::testing::Values(Chip::A8, Chip::E9, Chip::E9_711, Chip::E2_811,
                                           Chip::E20_711, Chip::F1),
                         [](const auto& info) { return std::string(variant(info.param).name); });

// text with the line that starts with key replaced by line.
std::string replaced(const std::string& text, const std::string& key, const std::string& line) {
    const auto at = text.find("\n" + key + " ") + 1;
    return text.substr(0, at) + line + text.substr(text.find('\n', at));
}

// The line of text that starts with key.
std::string line(const std::string& text, const std::string& key) {
    const auto at = text.find("\n" + key + " ") + 1;
    return text.substr(at, text.find('\n', at) - at);
}

TEST(Persistence, ABrokenFileIsRefusedWholeAndChangesNothing) {
    ScratchDir folder;
    testing::BoardBench good(Chip::E9);
    good.board.save(folder.path);
    const auto file = folder.path / Board::kStateFile;
    const std::string saved = slurp(file);
    const std::string huge(1 << 20, '0');
    const auto eeprom = saved.find("eeprom ");
    const std::vector<std::pair<std::string, std::string>> breakages{
        {"NotOurs", "hello\n"},
        {"UnknownPart", replaced(saved, "chip", "chip MC68HC11Z9")},
        {"ShortEeprom", replaced(saved, "eeprom", "eeprom 00FF")},
        // Longer than the memory, yet far below the longest line a saved board may have.
        {"EepromOneByteLonger", replaced(saved, "eeprom", line(saved, "eeprom") + "FF")},
        {"EepromOneDigitLonger", replaced(saved, "eeprom", line(saved, "eeprom") + "F")},
        {"EepromOneByteShorter",
         replaced(saved, "eeprom", line(saved, "eeprom").substr(0, 7 + 2 * 511))},
        {"CompanionOneByteLonger",
         replaced(saved, "companion-eeprom", line(saved, "companion-eeprom") + "FF")},
        {"ConfigOneByteLonger", replaced(saved, "config", "config 0F0F")},
        {"NotHex", replaced(saved, "config", "config G0")},
        {"OneBadDigit", std::string(saved).replace(eeprom + 300, 1, "g")},
        {"TruncatedMemory", saved.substr(0, eeprom + 300)},
        {"BadFlag", replaced(saved, "companion-sdp", "companion-sdp 2")},
        {"HugeFirstLine", huge},
        {"HugeLineWithoutValue", saved + huge + "\n"},
        {"HugeMemory", replaced(saved, "eeprom", "eeprom " + huge)},
    };
    for (const auto& [name, text] : breakages) {
        folder.write(Board::kStateFile, text);
        testing::BoardBench b(Chip::A8);
        b.board.eeprom().array()[0] = 0x12;
        try {
            b.board.load(folder.path);
            ADD_FAILURE() << name << ": loaded";
        } catch (const BoardError& e) {
            // The message names the file and quotes no more than a few dozen characters of it.
            const std::string what = e.what();
            EXPECT_NE(what.find(file.string()), std::string::npos) << name << ": " << what;
            EXPECT_LT(what.size(), file.string().size() + 120) << name << ": " << what;
        }
        EXPECT_EQ(b.board.chip().chip, Chip::A8) << name;
        EXPECT_EQ(b.board.eeprom().array()[0], 0x12) << name;
    }
}

TEST(Persistence, AFolderWhereTheFileBelongsIsRefusedAndLeavesNothingBehind) {
    ScratchDir folder;
    std::filesystem::create_directories(folder.path / Board::kStateFile);
    testing::BoardBench b(Chip::E9);
    EXPECT_THROW(b.board.load(folder.path), BoardError);
    EXPECT_THROW(b.board.save(folder.path), BoardError);
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder.path))
        names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{Board::kStateFile});
    EXPECT_TRUE(std::filesystem::is_directory(folder.path / Board::kStateFile));
}

TEST(Keeper, AStateThatCannotBeReadIsSetAsideNotWrittenOver) {
    ScratchDir folder;
    const auto file = folder.path / Board::kStateFile;
    testing::BoardBench user(Chip::E9);
    scribble(user.board);
    user.board.save(folder.path);
    const std::string saved = slurp(file);
    for (const char* aside :
         {"virtual-hc11-board.unreadable.txt", "virtual-hc11-board.unreadable-2.txt"}) {
        // One bad digit in the user's EEPROM image.
        const std::string damaged = std::string(saved).replace(saved.find("eeprom ") + 9, 1, "x");
        folder.write(Board::kStateFile, damaged);
        testing::BoardBench b(Chip::E9);
        BoardKeeper keeper(b.board, folder.path);
        const auto told = keeper.restore();
        ASSERT_TRUE(told);
        EXPECT_NE(told->find("factory state"), std::string::npos) << *told;
        EXPECT_NE(told->find((folder.path / aside).string()), std::string::npos) << *told;
        EXPECT_EQ(b.board.eeprom().array()[0], 0xFF);
        // Saving, as at exit, leaves the set-aside file as the user had it.
        EXPECT_FALSE(keeper.save());
        EXPECT_EQ(slurp(folder.path / aside), damaged);
    }
}

TEST(Keeper, AStateThatCannotBeSetAsideIsLeftAloneAndNotSavedOver) {
    ScratchDir folder;
    const std::string unreadable = "kestro-virtual-hc11-board 1\nchip MC68HC11E9\nconfig G0\n";
    const auto file = folder.write(Board::kStateFile, unreadable);
    // Root writes into a read-only folder, so root lets the keeper work as nobody, who owns it.
    constexpr uid_t kNobody = 65534;
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(folder.path.c_str(), kNobody, -1) | ::chown(file.c_str(), kNobody, -1),
                  0);
    }
    std::filesystem::permissions(
        folder.path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    if (root) {
        ASSERT_EQ(::seteuid(kNobody), 0);
    }
    testing::BoardBench b(Chip::E9);
    BoardKeeper keeper(b.board, folder.path);
    const auto told = keeper.restore();
    const auto saved = keeper.save();
    if (root) {
        ASSERT_EQ(::seteuid(0), 0);
    }
    std::filesystem::permissions(folder.path, std::filesystem::perms::owner_all);
    ASSERT_TRUE(told);
    EXPECT_NE(told->find("not saved over it"), std::string::npos) << *told;
    EXPECT_FALSE(saved);
    EXPECT_EQ(slurp(file), unreadable);
}

TEST(Keeper, AFailedSaveIsToldOnceUntilASaveSucceeds) {
    ScratchDir folder;
    const auto blocker = folder.write("board", "a file where the board's folder belongs");
    testing::BoardBench b(Chip::E9);
    BoardKeeper keeper(b.board, blocker);
    EXPECT_FALSE(keeper.restore());
    const auto told = keeper.save();
    ASSERT_TRUE(told);
    EXPECT_NE(told->find(blocker.string()), std::string::npos) << *told;
    EXPECT_FALSE(keeper.save());
    std::filesystem::remove(blocker);
    EXPECT_FALSE(keeper.save());
    EXPECT_TRUE(std::filesystem::exists(blocker / Board::kStateFile));
    std::filesystem::remove_all(blocker);
    folder.write("board", "");
    EXPECT_TRUE(keeper.save());
}

TEST(Persistence, FactoryStateIsThatOfANewBoard) {
    testing::BoardBench b(Chip::E9_711);
    const auto fresh = memories(b.board);
    scribble(b.board);
    b.board.factoryReset();
    EXPECT_EQ(memories(b.board), fresh);
    // And it still works: a reset announces the board.
    b.reset();
    EXPECT_EQ(b.pc.breaks(), 1);
}

}  // namespace
}  // namespace kestro::sim
