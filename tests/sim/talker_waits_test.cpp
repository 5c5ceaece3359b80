// SPDX-License-Identifier: GPL-3.0-or-later
// The talkers' counted waits, written by the PC for the crystal in use: against the assembled
// talkers, and on a board whose crystal is not 8 MHz.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "board_bench.h"
#include "sci_rates.h"
#include "srecords.h"
#include "talker_loader.h"
#include "talker_waits.h"

namespace kestro::sim {
namespace {

using namespace std::chrono_literals;

using testing::talkerFile;

Bytes withByte(Bytes image, std::size_t at, Byte value) {
    image.at(at) = value;
    return image;
}

constexpr std::uint32_t kCrystals[] = {3'686'400, 4'915'200, 7'372'800, 8'000'000, 12'000'000};

// Every count lasts at least what the manual asks at that E (twice the EEPROM's 10 ms below
// E = 2 MHz) and what the talker adds to it, and not much more; below E = 1 MHz the talkers
// that program the EEPROM get CSEL in their OPTION mask; nothing else in the image changes,
// and at 8 MHz nothing at all.
TEST(TalkerWaits, EveryCountLastsItsTimeAtEveryCrystal) {
    std::set<std::string_view> talkers;
    for (const PatchPoint& p : patchPoints())
        talkers.insert(p.talker);
    for (const std::string_view name : talkers) {
        const Bytes image = talkerFile(name);
        for (const std::uint32_t crystal : kCrystals) {
            SCOPED_TRACE(std::string(name) + " at " + std::to_string(crystal) + " Hz");
            std::string reason;
            const auto patched = withWaitsFor(name, image, crystal / 4.0, &reason);
            if (name == "fastee" || name == "fasterase") {
                // No room for the pump's clock: refused where it is needed, and only there.
                EXPECT_EQ(!patched, crystal < 4'000'000) << reason;
                if (!patched)
                    continue;
            }
            ASSERT_TRUE(patched) << reason;
            Bytes rest = *patched;
            for (const PumpClock& pump : pumpClocks()) {
                if (pump.talker != name)
                    continue;
                EXPECT_EQ((*patched)[pump.offset], crystal < 4'000'000 ? kCsel : 0x00);
                rest[pump.offset] = image[pump.offset];
            }
            for (const PatchPoint& p : patchPointsOf(name)) {
                const CountedWait& w = *p.wait;
                unsigned count = 0;
                for (int i = 0; i < w.width; ++i) {
                    count = count << 8 | (*patched)[p.offset + static_cast<std::size_t>(i)];
                    rest[p.offset + static_cast<std::size_t>(i)] = image[p.offset + i];
                }
                // In E cycles times 10^9, exactly: a count's length and the times asked.
                const std::uint64_t hz = crystal / 4;
                const std::uint64_t lasts = count * std::uint64_t{w.cyclesPerRound} * 1'000'000'000;
                const std::uint64_t pump = w.eepromPump && hz < 2'000'000 ? 2 : 1;
                EXPECT_GE(lasts, w.factNanoseconds * pump * hz) << w.label;
                EXPECT_GE(lasts, w.nanoseconds * pump * hz) << w.label;
                EXPECT_LE(lasts, w.nanoseconds * pump * hz / 100 * 102) << w.label;
            }
            EXPECT_EQ(rest, image) << "bytes changed that are no count";
            if (crystal == 8'000'000) {
                EXPECT_EQ(*patched, image);
            }
        }
    }
}

// Where no count serves, the download is refused with the reason; an image that does not hold
// the assembled counts where the table places them is not written into.
TEST(TalkerWaits, RefusesWhatNoCountServes) {
    struct Refusal {
        const char* talker;
        double eClockHz;
        Bytes image;
        const char* reason;  // empty: the image goes out as it is
    };
    const Refusal cases[] = {
        {"fastee", 921'600, talkerFile("fastee"), "CSEL"},
        {"fasterase", 921'600, talkerFile("fasterase"), "CSEL"},
        {"eeprog", 921'600, withByte(talkerFile("eeprog"), pumpClocks()[0].offset, 0x20),
         "OPTION mask"},
        {"eprog", 921'600, {}, ""},  // the EPROM needs no pump: its count is made
        {"dump", 5.5e6, talkerFile("dump"), "more than its 16 bits"},
        {"eeprog", std::nan(""), talkerFile("eeprog"), "no HC11"},
        {"eeprog", 3e6, Bytes(256, 0x00), "another version"},
        {"eeprog", 3e6, Bytes(0x40, 0x00), "another version"},
        {"eeprog", 2e6, Bytes(0x40, 0x00), ""},
        {"testcom", 3e6, Bytes(0x40, 0x00), ""},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(std::string(c.talker) + " at " + std::to_string(c.eClockHz));
        Bytes image = c.image.empty() ? talkerFile(c.talker) : c.image;
        std::string reason;
        const auto patched = withWaitsFor(c.talker, image, c.eClockHz, &reason);
        if (*c.reason) {
            EXPECT_FALSE(patched);
            EXPECT_NE(reason.find(c.reason), std::string::npos) << reason;
        } else {
            ASSERT_TRUE(patched) << reason;
            if (std::string_view(c.talker) != "eprog") {
                EXPECT_EQ(*patched, image);
            }
        }
    }
}

// On a board with a 12 MHz crystal (E = 3 MHz) the talkers as assembled hold the EEPROM's and
// the EPROM's programming voltage for two thirds of the time, and the board programs nothing;
// with the counts for E = 3 MHz they program the file. At 3.6864 MHz (E below 1 MHz) the
// counts alone do not do: the pump needs CSEL too. The PC talks at the rate the boot loader
// takes at that crystal.
TEST(TalkerWaits, ProgrammingAtAnotherCrystalNeedsWhatThePcWritesForIt) {
    enum class Image { Assembled, ForTheCrystal, WithoutCsel };
    struct Case {
        const char* talker;
        std::uint32_t crystal;
        std::uint16_t address;
        const char* done;
        Image image;
    };
    const Case cases[] = {
        {"eeprog", 12'000'000, 0xB600, "OB608", Image::Assembled},
        {"eeprog", 12'000'000, 0xB600, "OB608", Image::ForTheCrystal},
        {"eprog", 12'000'000, 0xD000, "OD008", Image::Assembled},
        {"eprog", 12'000'000, 0xD000, "OD008", Image::ForTheCrystal},
        {"eeprog", 3'686'400, 0xB600, "OB608", Image::ForTheCrystal},
        {"eeprog", 3'686'400, 0xB600, "OB608", Image::WithoutCsel},
    };
    const Bytes data = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0x01};
    for (const Case& c : cases) {
        const bool patched = c.image == Image::ForTheCrystal;
        SCOPED_TRACE(std::string(c.talker) + " at " + std::to_string(c.crystal) + " Hz, " +
                     std::to_string(static_cast<int>(c.image)));
        BoardOptions options{Chip::E9_711};
        options.crystalHz = c.crystal;
        options.programmingVoltage = true;
        testing::BoardBench b(options, SciClock(c.crystal).talkerRate().asked);
        Bytes image = talkerFile(c.talker);
        if (c.image != Image::Assembled) {
            std::string reason;
            const auto counts = withWaitsFor(c.talker, image, c.crystal / 4.0, &reason);
            ASSERT_TRUE(counts) << reason;
            image = *counts;
            if (c.image == Image::WithoutCsel)
                image.at(pumpClocks()[0].offset) = 0x00;
        }
        b.bootAndRun(testing::padded(image));
        b.pc.send(bytesOf(kestro::testing::srecords(c.address, data, 16, "\r\n")));
        b.run(c.crystal < 4'000'000 ? 4s : 2s);
        std::string reply = textOf(b.pc.data());
        // The acknowledgements of the file's characters left out, as the PC leaves them.
        std::erase_if(
            reply, [](char ch) { return ch == ' ' || ch == '\r' || ch == '\n' || ch == '\xFD'; });
        const std::span<const Byte> memory =
            c.address == 0xB600 ? std::span<const Byte>(b.board.eeprom().array()) : b.board.eprom();
        const Bytes cells(memory.begin(), memory.begin() + 8);
        if (patched) {
            EXPECT_EQ(reply, c.done);
            EXPECT_EQ(cells, data);
        } else {
            EXPECT_EQ(reply.substr(0, 1), "V") << reply;
            EXPECT_NE(cells, data);
        }
    }
}

}  // namespace
}  // namespace kestro::sim
