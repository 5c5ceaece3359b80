// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <vector>

#include "open_port.h"
#include "sci_rates.h"
#include "scripted_target.h"

namespace kestro {
namespace {

// What an adapter sets for each rate asked: listed rates as given (nullopt: refused), the rest
// exactly.
using AdapterTable = std::map<int, std::optional<int>>;

std::optional<int> lookUp(const AdapterTable& table, int asked) {
    auto it = table.find(asked);
    return it != table.end() ? it->second : std::optional<int>(asked);
}

AdapterTable stuckAt(std::optional<int> baud) {
    AdapterTable t;
    for (const SciRate& r : SciClock{}.fastRates())
        t[r.asked] = baud;
    return t;
}

// An adapter that refuses every rate above 9600, and sets 9600 as given.
AdapterTable noFast(std::optional<int> at9600 = 9'600) {
    AdapterTable t = stuckAt(std::nullopt);
    t[9'600] = at9600;
    return t;
}

// The rates at each crystal boards are sold with: what the PC asks its port for must be what
// the BAUD value makes at that E, within the SCI's tolerance, and a standard rate where one is
// that close (an adapter makes those exactly).
TEST(SciClock, EveryRateFollowsTheCrystal) {
    struct Row {
        std::uint32_t crystal;
        int talker, loader, ram;
        std::array<int, 5> fast;
    };
    const Row rows[] = {
        {8'000'000, 1'200, 7'812, 9'600, {125'000, 62'500, 31'250, 15'625, 9'600}},
        {4'915'200, 738, 4'800, 5'907, {76'800, 38'400, 19'200, 9'600, 5'907}},
        {7'372'800, 1'107, 7'200, 8'861, {115'200, 57'600, 28'800, 14'400, 8'861}},
        {9'830'400, 1'476, 9'600, 11'815, {153'600, 76'800, 38'400, 19'200, 11'815}},
        {12'000'000, 1'800, 11'718, 14'423, {187'500, 93'750, 46'875, 23'437, 14'423}},
        {3'686'400, 553, 3'600, 4'430, {57'600, 28'800, 14'400, 7'200, 4'430}},
    };
    for (const Row& row : rows) {
        const SciClock sci(row.crystal);
        SCOPED_TRACE(sci.crystalText());
        EXPECT_EQ(sci.talkerRate(), (SciRate{row.talker, 0x33}));
        EXPECT_EQ(sci.loaderRate(), (SciRate{row.loader, 0x22}));
        EXPECT_EQ(sci.ramRate(), (SciRate{row.ram, 0x30}));
        const auto fast = sci.fastRates();
        for (std::size_t i = 0; i < fast.size(); ++i) {
            EXPECT_EQ(fast[i].asked, row.fast[i]);
            EXPECT_TRUE(sci.withinTolerance(fast[i], fast[i].asked));
        }
        for (const SciRate& r : {sci.talkerRate(), sci.loaderRate(), sci.ramRate()})
            EXPECT_TRUE(sci.withinTolerance(r, r.asked));
        // A PC that kept the 8 MHz rates would talk to none of them.
        EXPECT_EQ(sci.withinTolerance(sci.talkerRate(), 1'200), row.crystal == 8'000'000);
    }
    EXPECT_NEAR(SciClock{}.made(0x33), 1'201.92, 0.01);
}

// The port listens for the boot loader's break at a rate its settings text takes, at or above
// the break's own, so that the break lasts a whole character there.
TEST(SciClock, ListensAtAStandardRateAtOrAboveTheTalkersAndReadsTheCrystalAsTyped) {
    const std::tuple<std::uint32_t, const char*, const char*> rows[] = {
        {8'000'000, "1200,n,8,1", "8"},
        {4'915'200, "1200,n,8,1", "4.9152"},
        {12'000'000, "1800,n,8,1", "12"},
        {9'830'400, "1800,n,8,1", "9.8304"},
    };
    for (const auto& [crystal, settings, text] : rows) {
        const SciClock sci(crystal);
        EXPECT_EQ(sci.baseSettings(sci.talkerRate()), settings);
        EXPECT_EQ(sci.crystalText(), text);
        EXPECT_EQ(parseCrystalMHz(text), crystal);
    }
    for (const char* wrong :
         {"", "8.", ".5", "8,0", "7.37280001", "0.5", "41", "-8", "8 MHz", "1e1", "4096"})
        EXPECT_EQ(parseCrystalMHz(wrong), std::nullopt) << wrong;
    EXPECT_EQ(parseCrystalMHz("007.3728"), 7'372'800u);
}

// The tolerance agrees with the receiver the board models: every byte from a sender as far off
// as the tolerance allows arrives whole and without noise; well beyond it, they do not.
TEST(SciRates, TheBoardsReceiverTakesEverySenderWithinTheTolerance) {
    const int edge = 125'000 * kSciTolerancePerMille / 1000;
    const std::tuple<int, bool> senders[] = {
        {125'000 - edge, true}, {125'000 + edge, true}, {117'500, false}, {132'500, false}};
    for (const auto& [baud, clean] : senders) {
        SCOPED_TRACE(baud);
        ASSERT_EQ(SciClock{}.withinTolerance(SciClock{}.fastRates()[0], baud), clean);
        VirtualClock clock;
        LineDirection line(clock);
        line.setMajoritySampling(true);
        Bytes got;
        bool flawed = false;
        line.setReceiver(125'000, [&](Byte b, bool fe) {
            got.push_back(b);
            flawed = flawed || fe || line.noise();
        });
        Transmitter sender(line);
        sender.setBaud(baud);
        Bytes all(256);
        for (int i = 0; i < 256; ++i)
            all[i] = static_cast<Byte>(i);
        sender.queue(all);
        clock.advance(100ms);
        EXPECT_EQ(got == all && !flawed, clean);
    }
}

TEST(RateChoice, TakesTheFastestRateTheAdapterSetsWithinTheSciTolerance) {
    struct Case {
        const char* adapter;
        AdapterTable table;
        int chosen;   // the rate asked; 1200 when none fits
        int inForce;  // what the adapter set for it
        std::vector<int> asked;
    };
    const std::vector<int> all = {125'000, 62'500, 31'250, 15'625, 9'600};
    const SciClock sci;
    const auto rates = sci.fastRates();
    const Case cases[] = {
        {"exact", {}, 125'000, 125'000, {125'000}},
        {"rounded within", {{125'000, 128'000}}, 125'000, 128'000, {125'000}},
        {"at the edge, 4.5 % over", {{125'000, 130'625}}, 125'000, 130'625, {125'000}},
        {"just past it", {{125'000, 130'626}}, 62'500, 62'500, {125'000, 62'500}},
        {"rounded outside",
         {{125'000, 115'200}, {62'500, 57'600}},
         31'250,
         31'250,
         {125'000, 62'500, 31'250}},
        {"refusing", noFast(), 9'600, 9'600, all},
        // 9600 is measured against the 9615 the SCI makes, not against the rate asked.
        {"standard rates only, 9600 high", noFast(10'040), 9'600, 10'040, all},
        {"standard rates only, 9600 low", noFast(9'180), 1'200, 0, all},
        {"stuck at 1200", stuckAt(1'200), 1'200, 0, all},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.adapter);
        std::vector<int> asked;
        const RateChoice choice = chooseRate(
            [&](int baud) {
                asked.push_back(baud);
                const auto set = lookUp(c.table, baud);
                return set ? RateResult{PortError::None, *set}
                           : RateResult{PortError::BadSettings, 1200};
            },
            sci, rates);
        EXPECT_EQ(choice.rate.asked, c.chosen);
        EXPECT_EQ(choice.inForce, c.inForce);
        EXPECT_EQ(choice.error, PortError::None);
        EXPECT_EQ(asked, c.asked);
    }
}

// A rate that then fails with the talker goes on at the next one down; a port that fails under
// the choice ends it with its error, and no rate is claimed.
TEST(RateChoice, GoesOnBelowARateThatFailedAndStopsAtAPortFailure) {
    const auto exact = [](int baud) { return RateResult{PortError::None, baud}; };
    const SciClock sci;
    const auto rates = sci.fastRates();
    RateChoice choice = chooseRate(exact, sci, rates);
    std::vector<int> chosen;
    while (choice.inForce != 0) {
        chosen.push_back(choice.rate.asked);
        choice = chooseRate(exact, sci, rates, choice.next);
    }
    EXPECT_EQ(chosen, (std::vector<int>{125'000, 62'500, 31'250, 15'625, 9'600}));
    EXPECT_EQ(choice.rate, sci.talkerRate());

    std::vector<int> asked;
    choice = chooseRate(
        [&](int baud) {
            asked.push_back(baud);
            return baud == 62'500 ? RateResult{PortError::Lost, 1200}
                                  : RateResult{PortError::BadSettings, 1200};
        },
        sci, rates);
    EXPECT_EQ(asked, (std::vector<int>{125'000, 62'500}));
    EXPECT_EQ(choice.error, PortError::Lost);
    EXPECT_EQ(choice.rate, sci.talkerRate());
    EXPECT_EQ(choice.inForce, 0);
}

// A port is put at an SCI rate through a standard rate's settings, then the rate itself where it
// is another; one it cannot make within the tolerance is refused, whatever the adapter claims.
TEST(SciClock, APortIsPutAtTheRateOrRefusedWhereItCannotMakeIt) {
    struct Case {
        std::uint32_t crystal;
        AdapterTable adapter;
        PortError result;
        int inForce;
    };
    const Case cases[] = {
        {8'000'000, {{1'200, std::nullopt}}, PortError::None, 1'200},  // never asked: standard
        {4'915'200, {}, PortError::None, 738},
        {4'915'200, {{738, 741}}, PortError::None, 741},
        {4'915'200, {{738, 700}}, PortError::BadSettings, 700},
        {4'915'200, {{738, std::nullopt}}, PortError::BadSettings, 1'200},
        {12'000'000, {{1'800, std::nullopt}}, PortError::None, 1'800},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.crystal);
        testing::OpenPort open;
        VirtualPort& port = open.port;
        port.setAdapter([&](int baud) { return lookUp(c.adapter, baud); });
        const SciClock sci(c.crystal);
        EXPECT_EQ(setPortRate(port, sci, sci.talkerRate()), c.result);
        EXPECT_EQ(port.settings().baud, c.inForce);
    }
}

// The virtual port runs at what its adapter sets, for as long as it stays open and its settings
// text stays; the far end hears it at that rate.
TEST(VirtualPort, RunsAtTheRateItsAdapterSetsUntilTheSettingsOrTheNextOpen) {
    testing::OpenPort closed(false);
    auto& [clock, line, port] = closed;
    EXPECT_EQ(port.setRate(125'000), (RateResult{PortError::NotOpen, 1200}));
    ASSERT_EQ(port.open(), PortError::None);
    AdapterTable table{{62'500, std::nullopt}, {31'250, 30'000}};
    port.setAdapter([&](int baud) { return lookUp(table, baud); });

    const std::tuple<int, RateResult> steps[] = {
        {125'000, {PortError::None, 125'000}},
        {62'500, {PortError::BadSettings, 125'000}},  // refused: the rate before stays
        {31'250, {PortError::None, 30'000}},
        {7'812, {PortError::None, 7'812}},
        {0, {PortError::BadSettings, 7'812}},
    };
    testing::ScriptedTarget target(clock, line);
    for (const auto& [asked, result] : steps) {
        SCOPED_TRACE(asked);
        ASSERT_EQ(port.setRate(asked), result);
        EXPECT_EQ(port.settings().baud, result.baud);
        // Both ways at that rate: a target at it hears the bytes and is heard.
        target.setBaud(result.baud);
        target.received.clear();
        port.output(std::string_view("Ok"));
        target.send(std::string_view("ko"));
        clock.advance(characterTime(result.baud, 4));
        EXPECT_EQ(textOf(target.received), "Ok");
        EXPECT_EQ(textOf(port.input()), "ko");
    }
    ASSERT_EQ(port.setSettings("2400,N,8,1"), PortError::None);
    EXPECT_EQ(port.settings().baud, 2400);
    ASSERT_EQ(port.setRate(125'000).baud, 125'000);
    port.close();
    ASSERT_EQ(port.open(), PortError::None);
    EXPECT_EQ(port.settings().baud, 2400);
}

}  // namespace
}  // namespace kestro
