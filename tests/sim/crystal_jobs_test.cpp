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

namespace kestro::sim {
namespace {

// Every EEPROM job, the dump and CONFIG on boards at 4.9152 and 12 MHz give what they give at
// 8 MHz, on both paths: the boxes, the cells, CONFIG and the dump file.
TEST(AnyCrystal, EveryJobGivesWhatItGivesAtEightMegahertz) {
    std::string file;
    for (unsigned a = 0xB600; a < 0xB620; a += 16)
        file += testing::srecord('1', a, Bytes(16, 0x3C)) + "\r\n";
    file += "S9030000FC\r\n";
    const char* const jobs[] = {"EepromProgram", "EepromCompare", "EepromCheck",  "DumpStart",
                                "EepromErase",   "EepromCheck",   "ConfigProgram"};
    struct Outcome {
        std::vector<std::string> boxes;
        Bytes eeprom;
        std::uint8_t config;
        std::string dump;
        bool operator==(const Outcome&) const = default;
    };
    for (const bool fast : {false, true}) {
        std::optional<Outcome> at8;
        for (const std::uint32_t crystal : {8'000'000u, 4'915'200u, 12'000'000u}) {
            SCOPED_TRACE(std::to_string(crystal) + (fast ? " fast" : " default"));
            Station s(Chip::E9, crystal);
            const auto path = s.file(file);
            Outcome o;
            for (const char* job : jobs) {
                ops::Inputs in;
                in.fast = fast;
                in.dumpBegin = "B600";
                in.dumpEnd = "B6FF";
                in.config = {1, 1, 0, 1};
                for (const Message& m : s.run(job, in, path))
                    o.boxes.push_back(std::string(job) + ": " + m.text + " " + m.reason);
            }
            s.board.resetBootstrap();
            s.clock.advance(std::chrono::milliseconds(100));
            o.eeprom = s.board.eeprom().array();
            o.config = s.board.eeprom().configCell();
            o.dump = testing::slurp(s.dir.path / "upload.s19");
            if (!at8)
                at8 = o;
            else
                EXPECT_EQ(o, *at8) << ::testing::PrintToString(o.boxes);
        }
    }
}

}  // namespace
}  // namespace kestro::sim
