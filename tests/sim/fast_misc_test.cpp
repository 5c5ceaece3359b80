// SPDX-License-Identifier: GPL-3.0-or-later
// Erase, CONFIG and RAM download and run by the fast protocol against the virtual board: the
// default path's boxes and the same board afterwards, on every part; a damaged block.
#include <gtest/gtest.h>

#include "fast_station.h"

namespace kestro::sim {
namespace {

// A station that counts the job's own requests, not the ping and the rate agreement that every
// job starts with, nor the talker download (which starts with $FF).
struct Station : FastStation {
    explicit Station(Chip chip) : FastStation(chip) {
        port.isRequest = [](ByteView b) { return starts(b, "ECXG"); };
    }
    static bool starts(ByteView b, std::string_view letters) {
        return b.size() >= 5 && letters.find(char(b[0])) != std::string_view::npos;
    }
};

struct Step {
    const char* what;
    const char* button;
    const char* begin = "";  // the EEPROM range; "": the part's whole EEPROM
    const char* end = "";
    std::array<int, 4> boxes{1, 1, 1, 1};
    const char* file = "";  // a program for the RAM download
};

// One step after another on two boards of the same part, one by the default path and one by
// the fast one: each shows the same boxes and ends with the same EEPROM, CONFIG and external
// RAM. The steps erase in bulk, by rows and out of range, leave CONFIG alone, program it,
// erase it first, and load and run programs, one with a record in the register block.
TEST(FastMisc, GivesTheDefaultPathsBoxesAndBoardOnEveryPart) {
    const std::string program = srecords(0x2000, kMarker, 3);
    const std::string regs = srecords(0x1030, Bytes(4, 0x01));
    const std::string registers =
        program.substr(0, program.find("S9")) + regs.substr(regs.find("S1"));
    const Step steps[] = {
        {"a page", "EepromErase", "+100", "+1FF"},
        {"below $1000", "EepromErase", "0800", "08FF"},
        {"all but its ends (128 rows on the 811E2)", "EepromErase", "+001", "+7FE"},
        {"its last rows, up to $FFFF on the 811E2", "EepromErase", "+7E0", ""},
        {"whole EEPROM", "EepromErase"},
        {"outside", "EepromErase", "C000", "C0FF"},
        {"CONFIG as it is", "ConfigProgram"},
        {"NOCOP cleared", "ConfigProgram", "", "", {1, 1, 0, 1}},
        {"ROMON cleared, NOCOP set", "ConfigProgram", "", "", {1, 0, 1, 1}},
        {"EEPROM off", "ConfigProgram", "", "", {0, 1, 1, 1}},
        {"with the EEPROM off", "EepromErase"},
        {"back on", "ConfigProgram"},
        {"a program run", "ExtRam", "", "", {}, "program"},
        {"the registers refused", "ExtRam", "", "", {}, "registers"},
    };
    for (Chip chip : {Chip::A8, Chip::E9, Chip::E9_711, Chip::E2_811}) {
        SCOPED_TRACE(variant(chip).name);
        Station byDefault(chip), fast(chip);
        const Bytes ee = pattern(byDefault.board.eeprom().array().size(), 7);
        for (Station* s : {&byDefault, &fast})
            std::copy(ee.begin(), ee.end(), s->board.eeprom().array().begin());
        const unsigned base = byDefault.board.eepromBase();
        // "": the EEPROM's first or last byte; "+100": from its first; else as it stands.
        auto at = [base](const std::string& text, unsigned whole) {
            const unsigned v = text.empty()     ? base + whole
                               : text[0] == '+' ? base + std::stoul(text.substr(1), nullptr, 16)
                                                : std::stoul(text, nullptr, 16);
            return hex4(v);
        };
        for (const Step& step : steps) {
            SCOPED_TRACE(step.what);
            ops::Inputs in;
            in.eepromBegin = at(step.begin, 0);
            in.eepromEnd = at(step.end, byDefault.board.chip().eepromSize - 1);
            in.config = step.boxes;
            fs::path file;
            if (*step.file)
                file = byDefault.dir.write(
                    "p.s19", std::string(step.file) == "program" ? program : registers);
            for (Station* s : {&byDefault, &fast})
                s->board.devices().ram()[0x3000] = 0;
            // The same cycles of the EEPROM and the CONFIG cell: none that is not needed.
            const int cycles[] = {byDefault.board.eeprom().cyclesCompleted(),
                                  fast.board.eeprom().cyclesCompleted()};
            const auto shown = byDefault.run(step.button, false, in, file);
            EXPECT_EQ(fast.run(step.button, true, in, file), shown);
            EXPECT_EQ(fast.board.eeprom().cyclesCompleted() - cycles[1],
                      byDefault.board.eeprom().cyclesCompleted() - cycles[0]);
            EXPECT_TRUE(std::ranges::any_of(fast.port.writes, [](const Bytes& b) {
                return Station::starts(b, "PB");
            })) << "not the fast path";
            EXPECT_EQ(fast.board.eeprom().array(), byDefault.board.eeprom().array());
            EXPECT_EQ(fast.board.devices().ram(), byDefault.board.devices().ram());
            for (Station* s : {&byDefault, &fast})
                s->board.resetBootstrap();
            EXPECT_EQ(fast.board.config(), byDefault.board.config());
            EXPECT_TRUE(fast.ui.windowEnabled());
        }
        // The program ran, and the one with a refused record did not.
        EXPECT_EQ(fast.board.devices().ram()[0x2000], 0x86);
    }
}

// The user's program runs from the start address on the fast path: the board shows it ran. The
// run request goes once, its answer is the start, and a program that talks at 9600 baud at once
// (which the PC, still at the fast rate, hears as garbage or breaks) is no failure of the job.
// A run request damaged on the line is not sent again, for a program may be running: the PC
// says it cannot vouch for the start.
TEST(FastMisc, RunsTheUsersProgramAtTheStartAddress) {
    const Bytes greets{0xCE, 0x10, 0x00,              // LDX #$1000
                       0x86, 0x30, 0xA7, 0x2B,        // 9600 baud
                       0xC6, 0x5A, 0xF7, 0x30, 0x00,  // the marker
                       0x86, 'H',                     // then "H" for ever, as fast as the SCI sends
                       0x1F, 0x2E, 0x80, 0xFC,        // BRCLR SCSR,X #TDRE *
                       0xA7, 0x2F, 0x20, 0xF8};       // STAA SCDR,X, BRA back
    for (const auto& [program, damaged] :
         {std::pair{kMarker, false}, {greets, false}, {kMarker, true}}) {
        Station s(Chip::E9);
        ops::Inputs in;
        in.startAddress = "2000";
        const fs::path file = s.dir.write("p.s19", srecords(0x2000, program, 3));
        if (damaged) {
            s.port.isRequest = [](ByteView b) { return b.size() == 6 && b[0] == 'G'; };
            s.port.damageRequests = {1};
        }
        const auto shown = s.run("ExtRam", true, in, file);
        EXPECT_EQ(shown.size(), damaged ? 1u : 0u);
        for (const Message& m : shown)
            EXPECT_EQ(m.text, "The HC11 did not confirm the start of the program.");
        EXPECT_EQ(s.board.devices().ram()[0x3000], damaged ? 0x00 : 0x5A);
        EXPECT_EQ(std::count_if(s.port.writes.begin(), s.port.writes.end(),
                                [](const Bytes& w) { return w.size() == 6 && w[0] == 'G'; }),
                  1);
    }
}

// A block damaged on the line is sent again and the job ends as it would have, the board
// too; one damaged every time ends it after a bounded number of tries.
TEST(FastMisc, DamagedBlocksAreSentAgainABoundedNumberOfTimes) {
    Bytes code = kMarker;
    code.resize(96, 0x01);  // three records that follow on: four X blocks of 24
    const std::string fourBlocks = srecords(0x2000, code, 32);
    struct Case {
        const char* button;
        std::set<int> damage;
        const char* says;  // nullptr: the default path's boxes
    };
    const Case cases[] = {
        {"EepromErase", {1}, nullptr},
        {"ConfigProgram", {1}, nullptr},
        {"ExtRam", {2, 5}, nullptr},  // the X blocks 2 and 4
        {"ExtRam", {2, 3, 4, 5}, fast::kDamagedTooOften},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        Station s(Chip::A8), other(Chip::A8);
        const fs::path file = s.dir.write("p.s19", fourBlocks);
        ops::Inputs in;
        in.config = {1, 1, 0, 1};
        const auto byDefault = other.run(c.button, false, in, file);
        s.port.damageRequests = c.damage;
        const auto shown = s.run(c.button, true, in, file);
        if (!c.says) {
            EXPECT_EQ(shown, byDefault);
            EXPECT_EQ(s.board.eeprom().array(), other.board.eeprom().array());
            EXPECT_EQ(s.board.devices().ram(), other.board.devices().ram());
        } else {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].text, c.says);
        }
        EXPECT_TRUE(s.ui.windowEnabled());
    }
}

}  // namespace
}  // namespace kestro::sim
