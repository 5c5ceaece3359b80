// SPDX-License-Identifier: GPL-3.0-or-later
// Programming the internal EEPROM and the 711E9's EPROM through the fast protocol, against the
// virtual board in virtual time: the memory ends as the file has it, erased only where a 0 had
// to become a 1, and the default path's verdicts. (Damaged blocks go through the link every fast
// job shares: the other fast jobs' tests and the block layer's own test run them.)
#include <gtest/gtest.h>

#include "fast_station.h"

namespace kestro::sim {
namespace {

// The cells behind an address: the EEPROM's (wherever CONFIG puts it) or the EPROM's.
std::uint8_t* cells(Board& b, std::uint16_t address) {
    if (address >= 0xD000 && b.epromDevice() != nullptr && (address & 0xF800) != b.eepromBase())
        return b.epromDevice()->array().data() + (address - 0xD000);
    return b.eeprom().array().data() + (address - b.eepromBase());
}

// Over old contents that differ from the file, some bytes needing an erase and some not, and
// some equal to it, the memory ends as the file has it on every part; the EEPROM has gone
// through one cycle for each byte that differed and one more for each that needed a 0 turned
// into a 1, and no latch was set where no memory of its kind is.
TEST(FastProgram, ProgramsOverOldContentsAndErasesOnlyWhereNeeded) {
    struct Case {
        const char* what;
        Chip chip;
        const char* button;
        std::uint16_t address;
        int config;  // the CONFIG cell before the reset; -1: the factory's
        const char* success;
        const char* title;
    };
    const Case cases[] = {
        {"A8", Chip::A8, "EepromProgram", 0xB600, -1, "Eeprom is program", "Eeprom"},
        {"E9", Chip::E9, "EepromProgram", 0xB7C3, -1, "Eeprom is program", "Eeprom"},
        {"711E9 EEPROM", Chip::E9_711, "EepromProgram", 0xB650, -1, "Eeprom is program", "Eeprom"},
        {"711E9 EPROM", Chip::E9_711, "EpromProgram", 0xFFC0, -1, "Eprom is program", "Eprom"},
        {"811E2 at $F800", Chip::E2_811, "EepromProgram", 0xFA05, -1, "Eeprom is program",
         "Eeprom"},
        {"811E2 at $0800", Chip::E2_811, "EepromProgram", 0x0C11, 0x0F, "Eeprom is program",
         "Eeprom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FastStation s(c.chip);
        s.board.setProgrammingVoltage(true);
        if (c.config >= 0) {
            s.board.eeprom().setConfigCell(static_cast<Byte>(c.config));
            s.board.resetBootstrap();
        }
        const bool eprom = std::string_view(c.button) == "EpromProgram";
        const Bytes data = pattern(61, 2);
        Bytes old = eprom ? Bytes(data.size(), 0xFF) : pattern(data.size(), 7);
        for (std::size_t i = 0; !eprom && i < data.size(); i += 5)
            old[i] = data[i];  // bytes that hold their value already: no cycle for them
        std::size_t cycles = 0;
        for (std::size_t i = 0; i < data.size(); ++i) {
            cells(s.board, static_cast<std::uint16_t>(c.address + i))[0] = old[i];
            cycles += (data[i] != old[i]) + ((data[i] & ~old[i]) != 0);
        }
        // Records of 13 bytes: the blocks do not follow the records.
        const auto file = s.file(srecords(c.address, data, 13));
        const int before = s.board.eeprom().cyclesCompleted();
        EXPECT_EQ(s.run(c.button, true, {}, file), says(c.success, c.title));
        for (std::size_t i = 0; i < data.size(); ++i)
            ASSERT_EQ(cells(s.board, static_cast<std::uint16_t>(c.address + i))[0], data[i]) << i;
        if (!eprom) {
            EXPECT_EQ(s.board.eeprom().cyclesCompleted() - before, static_cast<int>(cycles));
        }
        EXPECT_EQ(s.board.eeprom().strayPulses(), 0);
        EXPECT_TRUE(s.ui.windowEnabled());
    }
}

// Where the default path refuses a byte or finds no memory of the kind, the fast path gives
// the same boxes with the same addresses, and sets no latch there; where its CONFIG shows the
// address outside the memory it says so, as the default path can only where no part has the
// memory there. Where no memory of the kind is at the file's first byte, no programming
// voltage is switched on either: PPROG stays clear while the file comes, and the EEPROM stays
// as it was.
TEST(FastProgram, GivesTheDefaultPathsVerdicts) {
    struct Case {
        const char* what;
        Chip chip;
        const char* button;
        std::uint16_t address;
        int config;
        bool voltage;
        const char* reason;     // the start of the reason, with the address
        bool latches = false;   // a memory of the kind takes the file's first bytes
        const char* fast = "";  // the fast path's, where it says more
    };
    const Case cases[] = {
        {"the talker's RAM", Chip::A8, "EepromProgram", 0x01F8, -1, true, "$01F8 is the"},
        {"into the registers", Chip::E2_811, "EepromProgram", 0x0FFC, 0x0F, true, "$1000 is the",
         true},
        {"no EEPROM there", Chip::E9, "EepromProgram", 0xC000, -1, true, "$C000 is outside"},
        {"the A8's ROM", Chip::A8, "EepromProgram", 0xE000, -1, true, "$E000 is outside"},
        {"an 811E2's placement on the A8", Chip::A8, "EepromProgram", 0xF800, -1, true,
         "$F800 did not", false, "$F800 is outside"},
        {"past the EEPROM's end", Chip::A8, "EepromProgram", 0xB7FC, -1, true, "$B800 did not",
         true, "$B800 is outside"},
        {"EEON clear", Chip::A8, "EepromProgram", 0xB600, 0x0C, true, "$B600 did not", false,
         "$B600 is outside"},
        {"811E2 EEPROM elsewhere", Chip::E2_811, "EepromProgram", 0xB600, -1, true, "$B600 did not",
         false, "$B600 is outside"},
        {"EPROM without voltage", Chip::E9_711, "EpromProgram", 0xD000, -1, false, "$D000 did not",
         true},
        {"no EPROM on the E9", Chip::E9, "EpromProgram", 0xE000, -1, true,
         "$E000 did not read back as the file has it: the part has no EPROM there"},
        {"no EPROM on the A8", Chip::A8, "EpromProgram", 0xE000, -1, true, "$E000 did not"},
        {"no EPROM on the 811E2", Chip::E2_811, "EpromProgram", 0xE000, -1, true, "$E000 did not"},
        {"EPROM below $D000", Chip::E9_711, "EpromProgram", 0xCFFC, -1, true, "$CFFC is outside"},
        {"EPROM bit back to 1", Chip::E9_711, "EpromProgram", 0xD100, -1, true, "$D100 did not",
         true},
        {"ROMON clear", Chip::E9_711, "EpromProgram", 0xD000, 0x0D, true, "$D000 did not", false,
         "$D000 is outside"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<Message> shown[2];
        for (bool isFast : {false, true}) {
            FastStation s(c.chip);
            s.board.setProgrammingVoltage(c.voltage);
            if (c.config >= 0)
                s.board.eeprom().setConfigCell(static_cast<Byte>(c.config));
            if (s.board.epromDevice() != nullptr)
                s.board.epromDevice()->array()[0x100] = 0x00;
            int latched = 0;  // bytes that came while PPROG was set
            s.board.onReceived = [&](Byte, bool) { latched += s.board.peek(0x103B) != 0; };
            shown[isFast] = s.run(c.button, isFast, {}, s.file(srecords(c.address, pattern(8, 5))));
            EXPECT_EQ(s.board.eeprom().strayPulses(), 0);
            if (!c.latches) {
                EXPECT_EQ(latched, 0) << "PPROG was set while the file came";
                EXPECT_EQ(s.board.eeprom().array(), Bytes(s.board.eeprom().array().size(), 0xFF));
            }
        }
        for (bool isFast : {false, true}) {
            ASSERT_EQ(shown[isFast].size(), 1u);
            const std::string reason = *c.fast && isFast ? c.fast : c.reason;
            EXPECT_EQ(shown[isFast][0].reason.rfind(reason, 0), 0u) << shown[isFast][0].reason;
            shown[isFast][0].reason.clear();
        }
        EXPECT_EQ(shown[true], shown[false]);
    }
}

}  // namespace
}  // namespace kestro::sim
