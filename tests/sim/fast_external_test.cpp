// SPDX-License-Identifier: GPL-3.0-or-later
// The expanded bus through the fast protocol, end to end on the virtual board: the external
// EEPROM and the companion chip's EEPROM programmed, and the chip's registers and commands,
// each against the default path on the same board state.
#include <gtest/gtest.h>

#include <numeric>

#include "fast_station.h"

namespace kestro::sim {
namespace {

struct Station : FastStation {
    explicit Station(Chip chip) : FastStation(chip) {
        // The rate agreement's requests are not counted: they come and go with the port's rates.
        port.isRequest = [](ByteView b) {
            // fastxe's (the CRC-8: 5, W 21) and fastxi's (6, 14).
            return (b.size() == 5 || b.size() == 6 || b.size() == 14 || b.size() == 21) &&
                   b[0] != fast::kRate;
        };
    }

    // The E9 with ROMON clear, so that the companion chip's EEPROM at $E000 answers.
    void romOff() {
        ops::Inputs noRom;
        noRom.config = {1, 0, 1, 1};
        ASSERT_EQ(run("ConfigProgram", false, noRom), std::vector<Message>{});
    }

    std::vector<Byte>& cells(bool companion) {
        return companion ? board.devices().companion().eeprom().cells()
                         : board.devices().parallelEeprom().cells();
    }
};

// Programs over other contents give what the default path gives, verdict and cells alike, and
// compare equal after on either path; programs over equal contents write nothing. Refused and
// failed writes give the default path's letter and address, and change what the default path
// changes.
TEST(FastExternalProgram, GivesTheDefaultPathsVerdictsAndCells) {
    struct Case {
        const char* what;
        const char* button;
        bool companion;
        unsigned address;  // of the file's data
        std::size_t length;
        void (*before)(Board&);  // the board's state before each run
        const char* says;        // the default path's reason, or its verdict
    };
    const Case cases[] = {
        {"external EEPROM", "ExtEEprog", false, 0x8010, 70, [](Board&) {}, "Eprom is program"},
        {"companion EEPROM", "Xiprog", true, 0xE3F9, 45, [](Board&) {}, "Eeprom is program"},
        {"below $2000", "ExtEEprog", false, 0x1FFC, 12, [](Board&) {}, "$1FFC is below $2000"},
        {"data protection on", "ExtEEprog", false, 0x8200, 20,
         [](Board& b) { b.devices().parallelEeprom().setSdp(true); }, "$8200 did not read back"},
        {"a protected block", "Xiprog", true, 0xE3F0, 40,
         [](Board& b) { b.devices().companion().setStored({.bpr = 0x01}); },
         "$E3F0 did not read back"},
        {"nothing there", "ExtEEprog", false, 0xA000, 9, [](Board&) {}, "$A000 did not read back"},
        // Parts with smaller pages: blocks that crossed one would land in the wrong page.
        {"pages of 16", "ExtEEprog", false, 0x8013, 70,
         [](Board& b) { b.devices().parallelEeprom().pageSize = 16; }, "Eprom is program"},
        {"a byte at a time", "ExtEEprog", false, 0x8013, 40,
         [](Board& b) { b.devices().parallelEeprom().pageSize = 1; }, "Eprom is program"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Station s(Chip::E9);
        s.romOff();
        auto& cells = s.cells(c.companion);
        Bytes old = pattern(cells.size(), 2);
        const fs::path file = s.file(srecords(c.address, pattern(c.length, 5), 19));
        std::copy(old.begin(), old.end(), cells.begin());
        c.before(s.board);
        const auto byDefault = s.run(c.button, false, {}, file);
        ASSERT_EQ(byDefault.size(), 1u);
        EXPECT_TRUE((byDefault[0].text + byDefault[0].reason).find(c.says) != std::string::npos)
            << byDefault[0].text << byDefault[0].reason;
        const Bytes programmed = cells;
        std::copy(old.begin(), old.end(), cells.begin());
        c.before(s.board);
        PageEeprom& rom = c.companion ? s.board.devices().companion().eeprom()
                                      : s.board.devices().parallelEeprom();
        const std::uint64_t cycles = rom.writeCycles();
        EXPECT_EQ(s.run(c.button, true, {}, file), byDefault);
        EXPECT_GE(s.port.requests, 1);  // the fast talker's ping at least
        EXPECT_EQ(cells, programmed);
        EXPECT_TRUE(s.ui.windowEnabled());
        if (byDefault.at(0).text.find("Error") != std::string::npos)
            continue;
        const auto at = programmed.begin() + (c.address - (c.companion ? 0xE000 : 0x8000));
        EXPECT_EQ(Bytes(at, at + static_cast<std::ptrdiff_t>(c.length)), pattern(c.length, 5));
        // One write cycle for each 16 aligned bytes of the file, where the default path takes
        // one a byte (as does a part that writes a byte at a time).
        const auto changed = static_cast<std::uint64_t>(std::inner_product(
            old.begin(), old.end(), programmed.begin(), 0, std::plus<>(), std::not_equal_to<>()));
        EXPECT_EQ(
            rom.writeCycles() - cycles,
            rom.pageSize == 1 ? changed : (c.address + c.length - 1) / 16 - c.address / 16 + 1);
        // Again over what it wrote: equal, so nothing is written.
        const auto revision = s.board.devices().revision();
        EXPECT_EQ(s.run(c.button, true, {}, file), byDefault);
        EXPECT_EQ(s.board.devices().revision(), revision);
        for (const bool fast : {false, true})
            EXPECT_EQ(s.run(c.companion ? "Xicomp" : "ExtEEcomp", fast, {}, file),
                      says("File equal Eeprom", "Eeprom"));
    }
}

// The companion chip's commands change what the default path's change, step after step on
// two boards, the registers moving at each reset; and where the default path cannot tell, the
// fast path says that the chip refused.
TEST(FastExternalCompanion, ChangesWhatTheDefaultPathChanges) {
    ops::Inputs sfr, eem, bpr, none;
    sfr.sfrPosition = 8;  // $2040
    eem.eemMapText = "$C000-$DFFF";
    eem.eemLam = true;
    bpr.bpr = {true, false, true};
    struct Step {
        const char* button;
        const ops::Inputs& in;
        bool sdpBefore;
        const char* fastSays;  // nullptr: no box, as the default path
    };
    const Step steps[] = {
        {"XIBPR", bpr, false, nullptr},
        {"XISFR", sfr, false, nullptr},
        {"XIeem", eem, false, nullptr},
        {"XIBPR", none, false, nullptr},  // found where SFR moved it
        {"XISDPoff", none, true, nullptr},
        {"XIBPR", bpr, true, "The companion chip refused the write."},
        {"XIreset", none, true, nullptr},
        {"XIBPR", bpr, false, nullptr},  // the EEPROM back at $E000
        {"XISDPoff", none, false, nullptr},
    };
    Station slow(Chip::E9), fast(Chip::E9);
    slow.romOff();
    fast.romOff();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.button);
        auto& a = slow.board.devices().companion();
        auto& b = fast.board.devices().companion();
        a.eeprom().setSdp(step.sdpBefore);
        b.eeprom().setSdp(step.sdpBefore);
        EXPECT_EQ(slow.run(step.button, false, step.in), std::vector<Message>{});
        const auto shown = fast.run(step.button, true, step.in);
        if (step.fastSays)
            EXPECT_EQ(shown.at(0).text, step.fastSays);
        else
            EXPECT_EQ(shown, std::vector<Message>{});
        EXPECT_EQ(b.stored(), a.stored());
        EXPECT_EQ(b.eeprom().sdp(), a.eeprom().sdp());
        EXPECT_EQ(b.registerBase(), a.registerBase());
        EXPECT_EQ(b.eepromBase(), a.eepromBase());
        EXPECT_TRUE(fast.ui.windowEnabled());
    }
    EXPECT_EQ(fast.board.devices().companion().stored().bpr, 0x05);
}

// A block damaged on the line, either way, is sent again and the run ends as it would have,
// with nothing written past the file.
TEST(FastExternalLine, DamagedBlocksAreSentAgain) {
    struct Case {
        const char* button;
        int damageRequest, damageAnswer;
        const char* says;
    };
    const Case cases[] = {
        {"ExtEEprog", 5, 0, "Eprom is program"},  // the last W (P, P, then three)
        {"ExtEEprog", 0, 4, "Eprom is program"},
        {"XIBPR", 2, 3, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " " + std::to_string(c.damageRequest) + " " +
                     std::to_string(c.damageAnswer));
        Station s(Chip::E9);
        s.port.damageRequests = {c.damageRequest};
        s.port.damageAnswers = {c.damageAnswer};
        const Bytes data = pattern(40, 7);
        const fs::path file = s.file(srecords(0x8000, data, 16));
        ops::Inputs in;
        in.bpr[3] = true;
        const auto shown = s.run(c.button, true, in, file);
        if (!c.says) {
            EXPECT_EQ(shown, std::vector<Message>{});
            EXPECT_EQ(s.board.devices().companion().stored().bpr, 0x08);
        } else {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].text, c.says);
            Bytes expected = data;
            expected.resize(64, 0xFF);  // and nothing written past the file
            EXPECT_EQ(Bytes(s.cells(false).begin(), s.cells(false).begin() + 64), expected);
        }
        EXPECT_TRUE(s.ui.windowEnabled());
    }
}

// One image serves every part: the 256-byte parts take the talkers' last fill byte and their
// smaller RAM.
TEST(FastExternalParts, ProgramAndRegistersOnEveryPart) {
    for (Chip chip : {Chip::A8, Chip::E9_711, Chip::E2_811}) {
        SCOPED_TRACE(variant(chip).name);
        Station s(chip);
        const Bytes data = pattern(16, 9);
        const fs::path file = s.file(srecords(0x9FF0, data, 16));
        const auto shown = s.run("ExtEEprog", true, {}, file);
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(shown[0].text, "Eprom is program");
        EXPECT_EQ(s.ui.lineRate, 125'000);  // the talker took the rate agreement
        EXPECT_EQ(Bytes(s.cells(false).begin() + 0x1FF0, s.cells(false).end()),
                  Bytes(data.begin(), data.begin() + 16));
        ops::Inputs in;
        in.bpr[7] = true;
        EXPECT_EQ(s.run("XIBPR", true, in), std::vector<Message>{});
        EXPECT_EQ(s.board.devices().companion().stored().bpr, 0x80);
        EXPECT_EQ(s.ui.lineRate, 125'000);
    }
}

}  // namespace
}  // namespace kestro::sim
