// SPDX-License-Identifier: GPL-3.0-or-later
// The EEPROM jobs on a board whose crystal makes E slower than 2 MHz, where the EEPROM's time
// doubles (MC68HC11A8 technical data 3.5): the talker's wait for a byte outlasts the two
// characters it can hold, so the file must come no faster than the talker takes it; and the
// fast path's limits for each byte and each erased row follow the talker's longer counts.
#include <gtest/gtest.h>

#include "station.h"

namespace kestro::sim {
namespace {

using station::Station;

TEST(SlowCrystal, EepromJobsWaitForTheLongerCycles) {
    // 64 bytes of $5A: on the default path over erased cells, a programming cycle each; on the
    // fast path over $A5, an erase and a programming cycle each, eight blocks of eight.
    std::string file;
    for (unsigned a = 0xB600; a < 0xB640; a += 16)
        file += testing::srecord('1', a, Bytes(16, 0x5A)) + "\r\n";
    file += "S9030000FC\r\n";
    for (const std::uint32_t crystal : {7'372'800u, 4'915'200u}) {
        for (const bool fast : {false, true}) {
            SCOPED_TRACE(std::to_string(crystal) + (fast ? " fast" : " default"));
            Station s(Chip::E9, crystal);
            const auto path = s.file(file);
            if (fast)
                std::fill_n(s.board.eeprom().array().begin(), 0x40, std::uint8_t{0xA5});
            ops::Inputs in;
            in.fast = fast;
            auto boxes = s.run("EepromProgram", in, path);
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, "Eeprom is program") << boxes[0].reason;
            const auto& ee = s.board.eeprom().array();
            EXPECT_EQ(std::count(ee.begin(), ee.begin() + 0x40, 0x5A), 0x40);
            if (!fast)
                continue;
            // A range short of the EEPROM's ends: 32 rows, each a cycle of its own.
            in.eepromBegin = "B601";
            in.eepromEnd = "B7FE";
            boxes = s.run("EepromErase", in);
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_EQ(boxes[0].text, "Eeprom Erase") << boxes[0].reason;
            EXPECT_EQ(std::count(ee.begin(), ee.end(), 0xFF), 0x200);
        }
    }
}

}  // namespace
}  // namespace kestro::sim
