// SPDX-License-Identifier: GPL-3.0-or-later
// identify against the board: the real ident talker on every part and the CONFIG values that
// change what it must say, decoded through the parts' own rows.
#include <gtest/gtest.h>

#include "identify.h"
#include "station.h"

namespace kestro::sim {
namespace {

using station::Station;

struct IdentRun {
    std::optional<ops::IdentReading> reading;
    std::vector<Message> messages;
    std::uint8_t pprogAfter = 0, eprogAfter = 0;
    std::uint32_t strayPulses = 0;
};

IdentRun identifyOn(Chip chip, std::optional<std::uint8_t> config = std::nullopt, int deafFrom = 0,
                    std::uint32_t crystalHz = SciClock::kDefaultCrystalHz) {
    Station s(chip, crystalHz);
    s.port.deafFrom = deafFrom;
    s.port.isRequest = [](ByteView b) { return b.size() == 5; };  // the CRC-8's
    if (config)
        s.board.eeprom().setConfigCell(*config);
    s.board.resetBootstrap();
    s.clock.advance(std::chrono::milliseconds(100));
    IdentRun r;
    r.reading = ops::readIdentity(s.target);
    s.board.catchUp();
    r.messages = s.ui.messages;
    r.pprogAfter = s.board.peek(0x103B);
    r.eprogAfter = s.board.peek(0x1036);
    return r;
}

// Every part alone, as it leaves the factory and with CONFIG values that move or switch off its
// memories: the part (or the parts it cannot be told from), and the map CONFIG gives it.
TEST(Identify, EveryPartAndTheConfigValuesThatChangeTheAnswer) {
    struct Case {
        Chip chip;
        std::optional<std::uint8_t> config;
        const char* part;        // nullptr: not told apart
        const char* candidates;  // short names, space-separated
        const char* map;         // "NAME BEGIN-END" each, ';'-separated
        std::uint32_t crystalHz = SciClock::kDefaultCrystalHz;
    };
    const Case cases[] = {
        // With EEON clear only the A0 leaves the factory so; an 811E2 at $0800 could.
        {Chip::A0, {}, "A0", "A0 A1 A8 811E2", "RAM 0000-00FF;Registers 1000-103F"},
        {Chip::A1,
         {},
         nullptr,
         "A0 A1 A8 811E2",
         "RAM 0000-00FF;Registers 1000-103F;EEPROM B600-B7FF"},
        {Chip::A8,
         {},
         nullptr,
         "A0 A1 A8 811E2",
         "RAM 0000-00FF;Registers 1000-103F;EEPROM B600-B7FF;ROM E000-FFFF"},
        {Chip::E0, {}, "E0", "E0 E1 E9", "RAM 0000-01FF;Registers 1000-103F"},
        {Chip::E1, {}, "E1", "E0 E1 E9", "RAM 0000-01FF;Registers 1000-103F;EEPROM B600-B7FF"},
        {Chip::E9,
         {},
         "E9",
         "E0 E1 E9",
         "RAM 0000-01FF;Registers 1000-103F;EEPROM B600-B7FF;ROM D000-FFFF"},
        {Chip::E20,
         {},
         "E20",
         "E20",
         "RAM 0000-02FF;Registers 1000-103F;ROM 9000-AFFF;EEPROM B600-B7FF;ROM D000-FFFF"},
        {Chip::E9_711,
         {},
         "711E9",
         "711E9",
         "RAM 0000-01FF;Registers 1000-103F;EEPROM B600-B7FF;EPROM D000-FFFF"},
        {Chip::E20_711,
         {},
         "711E20",
         "711E20",
         "RAM 0000-02FF;Registers 1000-103F;EPROM 9000-AFFF;EEPROM B600-B7FF;EPROM D000-FFFF"},
        {Chip::E2_811, {}, "811E2", "811E2", "RAM 0000-00FF;Registers 1000-103F;EEPROM F800-FFFF"},
        {Chip::E2_811, 0xBF, "811E2", "811E2",
         "RAM 0000-00FF;Registers 1000-103F;EEPROM B800-BFFF"},
        // EEPROM at $0800: CONFIG bits 7-4 read 0, as on the A parts.
        {Chip::E2_811, 0x0F, nullptr, "A0 A1 A8 811E2",
         "RAM 0000-00FF;EEPROM 0800-0FFF;Registers 1000-103F"},
        {Chip::F1, {}, "F1", "F1", "RAM 0000-03FF;Registers 1000-105F;EEPROM FE00-FFFF"},
        {Chip::F1, 0x0F, "F1", "F1", "RAM 0000-03FF;EEPROM 0E00-0FFF;Registers 1000-105F"},
        // CONFIG switching a memory off takes it out of the map; an E9 with ROMON clear shows
        // as the E1 it cannot be told from.
        {Chip::E9, 0x0D, "E1", "E0 E1 E9", "RAM 0000-01FF;Registers 1000-103F;EEPROM B600-B7FF"},
        {Chip::F1, 0xFE, "F1", "F1", "RAM 0000-03FF;Registers 1000-105F"},
        // The same reading at other crystals, the rates and waits following E.
        {Chip::E9,
         {},
         "E9",
         "E0 E1 E9",
         "RAM 0000-01FF;Registers 1000-103F;EEPROM B600-B7FF;ROM D000-FFFF",
         4'915'200},
        {Chip::E20_711,
         {},
         "711E20",
         "711E20",
         "RAM 0000-02FF;Registers 1000-103F;EPROM 9000-AFFF;EEPROM B600-B7FF;EPROM D000-FFFF",
         12'000'000},
        {Chip::E2_811, 0xBF, "811E2", "811E2", "RAM 0000-00FF;Registers 1000-103F;EEPROM B800-BFFF",
         7'372'800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(variant(c.chip).shortName) +
                     (c.config ? " CONFIG " + std::to_string(*c.config) : "") + " at " +
                     std::to_string(c.crystalHz));
        const IdentRun r = identifyOn(c.chip, c.config, 0, c.crystalHz);
        ASSERT_TRUE(r.reading);
        EXPECT_EQ(r.reading->crystalHz, c.crystalHz);
        EXPECT_TRUE(r.messages.empty());
        // Both latches back as reset left them.
        EXPECT_EQ(r.pprogAfter, 0);
        EXPECT_EQ(r.eprogAfter, 0);
        const ops::Identity id = ops::identify(*r.reading, variants());
        std::string candidates;
        for (const Variant* v : id.candidates)
            candidates += (candidates.empty() ? "" : " ") + std::string(v->shortName);
        EXPECT_EQ(candidates, c.candidates);
        EXPECT_EQ(id.part ? std::string(id.part->shortName) : "(none)", c.part ? c.part : "(none)");
        std::string map;
        for (const ops::MappedMemory& m : ops::memoryMap(id, id.part ? *id.part : variant(c.chip)))
            map += (map.empty() ? "" : ";") + m.name + " " + hex4(m.begin) + "-" + hex4(m.end);
        EXPECT_EQ(map, c.map);
        EXPECT_EQ(id.why.empty(), id.candidates.size() == 1);
    }
}

// A talker that never answers, or one that stops after the ping, is a failure with its reason,
// never a part.
TEST(Identify, SilenceIsAFailureNotAPart) {
    for (const int deafFrom : {1, 3}) {
        const IdentRun r = identifyOn(Chip::E9, std::nullopt, deafFrom);
        EXPECT_FALSE(r.reading);
        ASSERT_EQ(r.messages.size(), 1u);
        EXPECT_EQ(r.messages[0].icon, Icon::Critical);
    }
}

// A reading no row fits names no part; a part the user named is warned about only when the
// reading rules it out.
TEST(Identify, NamedPartsAndReadingsNoPartFits) {
    ops::IdentReading e9;
    e9.config = 0x0F;
    e9.probes = {{{0x55, 0xAA}, {0x01, 0x01}, {0x02, 0x02}, {0x72, 0x72}, {0, 0}, {0, 0}}};
    const ops::Identity id = ops::identify(e9, variants());
    ASSERT_NE(id.part, nullptr);
    EXPECT_EQ(id.part->chip, Chip::E9);
    EXPECT_EQ(ops::namedPartWarning(id, variant(Chip::E1)), "");
    EXPECT_EQ(ops::namedPartWarning(id, variant(Chip::A8)),
              "The part named is the A8, but the HC11 answers as the E9: 512 bytes of RAM "
              "answer where the A8 has 256.");
    EXPECT_EQ(ops::namedPartWarning(id, variant(Chip::E9_711)),
              "The part named is the 711E9, but the HC11 answers as the E9: PPROG bit 5 does "
              "not hold ELAT, which the 711E9 has.");
    // Both latches holding: no part has both.
    ops::IdentReading both = e9;
    both.probes[4] = both.probes[5] = {0x20, 0x00};
    const ops::Identity none = ops::identify(both, variants());
    EXPECT_TRUE(none.candidates.empty());
    EXPECT_EQ(none.part, nullptr);
    EXPECT_EQ(ops::identityReport(none, both, 0).front(),
              "Part: none that Kestro knows answers so (512 bytes of RAM, CONFIG $0F)");
}

}  // namespace
}  // namespace kestro::sim
