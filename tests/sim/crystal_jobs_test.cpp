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

// Every EEPROM job, the dump and CONFIG on boards at 4.9152, 7.3728 and 12 MHz give what they
// give at 8 MHz, on both paths: the boxes, the cells, CONFIG and the dump file; at 3.6864 MHz
// (E below 1 MHz, the pump on its R-C clock) on the default path. The fast path agrees the top
// rate of the crystal in use, where rates of 8 MHz would fail and leave it at a slower one. The
// erase's range stops short of the EEPROM's ends, so that it goes in 32 rows, a cycle each.
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
        for (const std::uint32_t crystal :
             {8'000'000u, 4'915'200u, 7'372'800u, 12'000'000u, 3'686'400u}) {
            if (fast && crystal < 4'000'000)
                continue;
            SCOPED_TRACE(std::to_string(crystal) + (fast ? " fast" : " default"));
            Station s(Chip::E9, crystal);
            const auto path = s.file(file);
            Outcome o;
            for (const char* job : jobs) {
                ops::Inputs in;
                in.fast = fast;
                in.dumpBegin = "B600";
                in.dumpEnd = "B6FF";
                in.eepromBegin = "B601";
                in.eepromEnd = "B7FE";
                in.config = {1, 1, 0, 1};
                for (const Message& m : s.run(job, in, path))
                    o.boxes.push_back(std::string(job) + ": " + m.text + " " + m.reason);
                // The fast path asks for the top rate the crystal makes, not for 8 MHz's.
                const int top = SciClock(crystal).fastRates()[0].asked;
                EXPECT_EQ(fast, std::ranges::any_of(
                                    s.port.asked, [top](const auto& a) { return a.second == top; }))
                    << job;
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

// Below E = 1 MHz the fast talkers that have no room to put the pump on its R-C clock are
// refused with the reason before the window asks for a reset or a file; CONFIG goes through the
// fast path still.
TEST(AnyCrystal, TheFastPathBelowOneMegahertzSaysWhatItCannotDo) {
    Station s(Chip::E9, 3'686'400);
    const auto path = s.file(testing::srecord('1', 0xB600, Bytes{0x3C}) + "\r\nS9030000FC\r\n");
    ops::Inputs in;
    in.fast = true;
    in.eepromBegin = "B600";
    in.eepromEnd = "B7FF";
    in.config = {1, 1, 0, 1};
    for (const char* job : {"EepromProgram", "EepromErase"}) {
        SCOPED_TRACE(job);
        s.ui.messages.clear();
        s.ui.chooserAnswer = path.string();
        ASSERT_FALSE(s.link.ready());
        ops::operationFor(job)(s.target, in);
        ASSERT_EQ(s.ui.messages.size(), 1u);
        EXPECT_NE(s.ui.messages[0].text.find("CSEL"), std::string::npos) << s.ui.messages[0].text;
        EXPECT_EQ(s.ui.chooserOpened, 0);
    }
    EXPECT_EQ(s.board.eeprom().cyclesCompleted(), 0);
    s.run("ConfigProgram", in, path);
    EXPECT_EQ(s.board.eeprom().configCell(), 0x0B);  // NOCOP programmed
}

}  // namespace
}  // namespace kestro::sim
