// SPDX-License-Identifier: GPL-3.0-or-later
// The fast protocol end to end: the program's fast operations against the virtual board
// running the fast talker, in virtual time, with a line that can damage a block either way or
// fall silent.
#include <gtest/gtest.h>

#include "fast_station.h"
#include "sci_rates.h"

namespace kestro::sim {
namespace {

using kestro::testing::slurp;

// At 1200 baud unless a test lets the port change rates.
struct Station : FastStation {
    explicit Station(Chip chip) : FastStation(chip) { port.rates = false; }
};

ops::Inputs dumpRange(const char* begin, const char* end) {
    ops::Inputs in;
    in.dumpBegin = begin;
    in.dumpEnd = end;
    return in;
}

// The EEPROM filled with a pattern and dumped by the default path: the file it wrote, removed
// for the fast path to write again.
std::string defaultDump(FastStation& s, const ops::Inputs& in, unsigned seed) {
    const Bytes ee = pattern(s.board.eeprom().array().size(), seed);
    std::copy(ee.begin(), ee.end(), s.board.eeprom().array().begin());
    EXPECT_EQ(s.run("DumpStart", false, in), std::vector<Message>{});
    const std::string text = slurp(s.dir.path / "upload.s19");
    fs::remove(s.dir.path / "upload.s19");
    return text;
}

// On every part the fast dump writes the very file the default dump writes: the EEPROM, a
// range the talker's own RAM shares, external RAM and the top of the map.
TEST(FastDump, WritesTheDefaultDumpsFileOnEveryPart) {
    struct Case {
        Chip chip;
        const char* begin;
        const char* end;
    };
    const Case cases[] = {{Chip::A8, "B600", "B7FF"},
                          {Chip::E9, "2000", "22FF"},
                          {Chip::E9_711, "B600", "B6FF"},
                          {Chip::E2_811, "FE00", "FFFF"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(variant(c.chip).name);
        Station s(c.chip);
        std::copy_n(pattern(0x300, 5).begin(), 0x300, s.board.devices().ram().begin() + 0x2000);
        const Bytes ee = pattern(s.board.eeprom().array().size(), 9);
        std::copy(ee.begin(), ee.end(), s.board.eeprom().array().begin());
        const ops::Inputs in = dumpRange(c.begin, c.end);
        TimePoint start = s.clock.now();
        ASSERT_EQ(s.run("DumpStart", false, in), std::vector<Message>{});
        const Duration defaultTime = s.clock.now() - start;
        const std::string byDefault = slurp(s.dir.path / "upload.s19");
        fs::remove(s.dir.path / "upload.s19");
        start = s.clock.now();
        ASSERT_EQ(s.run("DumpStart", true, in), std::vector<Message>{});
        const Duration fastTime = s.clock.now() - start;
        EXPECT_EQ(slurp(s.dir.path / "upload.s19"), byDefault);
        // The same download and settling; then, at 1200 baud, 267 characters for 256 bytes
        // where the default moves 672, and no closing quiet ticks (512 bytes: 7.1 s against
        // 15.7 s in all).
        EXPECT_LT(fastTime, defaultTime / 2);
        EXPECT_GT(s.port.requests, 1);
        EXPECT_TRUE(s.ui.windowEnabled());
    }
}

// Compares and status checks give the default path's verdicts on every memory: the file
// programmed by the default path, then compared as it is and with one byte changed (named as
// the compare talkers name it), and the range checked before and after. The internal memories
// are read as the chip alone shows them: a file whose data lies in external RAM is no EEPROM,
// even where the RAM holds it.
TEST(FastCompare, GivesTheDefaultPathsVerdictsOnEveryMemory) {
    struct Case {
        const char* what;
        Chip chip;
        const char* program;  // nullptr: the data is put in external RAM
        const char* compare;
        const char* check;  // nullptr: no status check for the memory
        unsigned address;
        const char* says;  // of the first compare
    };
    const Case cases[] = {
        {"A8 EEPROM", Chip::A8, "EepromProgram", "EepromCompare", "EepromCheck", 0xB605,
         "File equal Eeprom"},
        {"811E2 EEPROM", Chip::E2_811, "EepromProgram", "EepromCompare", "EepromCheck", 0xF810,
         "File equal Eeprom"},
        {"711E9 EPROM", Chip::E9_711, "EpromProgram", "EpromCompare", "EpromCheck", 0xE100,
         "File equal Eprom"},
        {"external EEPROM", Chip::E9, "ExtEEprog", "ExtEEcomp", nullptr, 0x8010,
         "File equal Eeprom"},
        {"external RAM as EEPROM", Chip::E9, nullptr, "EepromCompare", nullptr, 0x2000,
         "Error found at\r\n2000"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Station s(c.chip);
        s.board.setProgrammingVoltage(true);
        ops::Inputs in;
        in.epromBegin = hex4(c.address & 0xFF00);
        in.epromEnd = hex4((c.address & 0xFF00) + 0xFF);
        in.eepromBegin = in.epromBegin;
        in.eepromEnd = in.epromEnd;
        if (c.check) {
            const auto blank = s.run(c.check, false, in);
            EXPECT_EQ(s.run(c.check, true, in), blank);
            EXPECT_EQ(blank.at(0).text, "No Data");
        }
        const Bytes data = pattern(120, 3);
        const fs::path file = s.dir.write("prog.s19", srecords(c.address, data, 32));
        if (c.program)
            ASSERT_EQ(s.run(c.program, false, {}, file).at(0).text.find("Error"),
                      std::string::npos);
        else
            std::copy(data.begin(), data.end(), s.board.devices().ram().begin() + c.address);
        auto changed = data;
        changed[77] ^= 0x40;
        changed[99] ^= 0x01;
        const fs::path other = s.dir.write("other.s19", srecords(c.address, changed, 16));
        for (const auto& [f, says] :
             {std::pair{file, std::string(c.says)},
              std::pair{other, c.program ? "Error found at\r\n" + hex4(c.address + 77)
                                         : std::string(c.says)}}) {
            const auto byDefault = s.run(c.compare, false, {}, f);
            ASSERT_EQ(byDefault.size(), 1u);
            EXPECT_EQ(byDefault[0].text, says);
            EXPECT_EQ(s.run(c.compare, true, {}, f), byDefault);
        }
        if (c.check) {
            const auto data = s.run(c.check, false, in);
            EXPECT_EQ(s.run(c.check, true, in), data);
            EXPECT_EQ(data.at(0).text, "Data");
        }
    }
}

// A block damaged on the line, either way, is sent again and the file is whole; one damaged
// every time ends the job after a bounded number of tries, with no file written. A talker that
// falls silent is an error within a second, never a success.
TEST(FastDump, ADamagedBlockIsSentAgainAndSilenceIsAnError) {
    Station s(Chip::A8);
    const ops::Inputs in = dumpRange("B600", "B7FF");
    const std::string byDefault = defaultDump(s, in, 4);

    // The ping, then the two blocks of 256 bytes: the first request and the second answer
    // are damaged once.
    s.port.damageRequests = {2};
    s.port.damageAnswers = {4};
    EXPECT_EQ(s.run("DumpStart", true, in), std::vector<Message>{});
    EXPECT_EQ(slurp(s.dir.path / "upload.s19"), byDefault);
    EXPECT_EQ(s.port.requests, 6);  // and the ping that found the talker after its silence

    fs::remove(s.dir.path / "upload.s19");
    s.port.damageRequests = {2, 3, 4, 5, 6, 7};
    s.port.damageAnswers = {};
    const auto shown = s.run("DumpStart", true, in);
    ASSERT_EQ(shown.size(), 1u);
    // The talker says nothing to a damaged request; nor to the ping that follows.
    EXPECT_EQ(shown[0].text, fast::kStoppedAnswering);
    EXPECT_EQ(s.port.requests, 3);
    EXPECT_FALSE(fs::exists(s.dir.path / "upload.s19"));
    EXPECT_TRUE(s.ui.windowEnabled());
    EXPECT_FALSE(s.link.ready());

    s.port.damageRequests = {};
    s.port.deafFrom = 3;
    EXPECT_EQ(s.run("DumpStart", true, in).at(0).text, fast::kStoppedAnswering);
    // The run's own 100 ms after the job are not the job's.
    EXPECT_LT(s.clock.now() - s.port.deafSince - 100ms, 1s);
    EXPECT_FALSE(fs::exists(s.dir.path / "upload.s19"));
}

// After the first ping both sides agree on the highest rate the adapter sets within the SCI's
// tolerance and the line carries: a rate refused, claimed but not set, or damaged on the line
// costs under half a second and the job goes on at the next rate down, with the same file (a rate
// rounded too far is the rate choice's own test); a port that cannot leave 1200 baud keeps it with
// the fast protocol, one that goes no higher than the boot loader's 7812 keeps that.
TEST(FastRate, BothSidesKeepTheHighestRateThatWorks) {
    struct Case {
        const char* what;
        bool rates;
        std::function<std::optional<int>(int)> adapter;
        std::map<int, int> lies;
        std::set<int> damaged;
        std::set<int> damageAnswers;  // by request: 1 the ping, 2 B, 3 the ping at the new rate
        int chosen;
        int failed;  // rates tried with the talker that did not hold
    };
    const auto upTo = [](int top) {
        return [top](int asked) { return asked <= top ? std::optional(asked) : std::nullopt; };
    };
    const Case cases[] = {
        {"takes every rate", true, {}, {}, {}, {}, 125'000, 0},
        {"loses the K at the new rate", true, {}, {}, {}, {3}, 62'500, 1},
        {"refuses the top rates", true, upTo(31'250), {}, {}, {}, 31'250, 0},
        {"claims 125000, sets 115200", true, {}, {{125'000, 115'200}}, {}, {}, 62'500, 1},
        {"damages all at the top rates", true, {}, {}, {125'000, 62'500}, {}, 31'250, 2},
        {"cannot leave 1200", false, {}, {}, {}, {}, 1'200, 0},
        {"refuses every fast rate", true, upTo(2'400), {}, {}, {}, 1'200, 0},
        {"goes no higher than 7812", true, upTo(7'812), {}, {}, {}, 7'812, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Station s(Chip::A8);
        const ops::Inputs in = dumpRange("B600", "B7FF");
        const std::string byDefault = defaultDump(s, in, 6);
        s.inner.setAdapter(c.adapter);
        s.port.rates = c.rates;
        s.port.lies = c.lies;
        s.port.damaged = c.damaged;
        s.port.damageAnswers = c.damageAnswers;
        ASSERT_EQ(s.run("DumpStart", true, in), std::vector<Message>{});
        EXPECT_EQ(slurp(s.dir.path / "upload.s19"), byDefault);
        EXPECT_EQ(s.port.requestBauds.back(), c.chosen);
        EXPECT_EQ(s.port.settings().baud, 1'200) << "the job's end leaves the settings' rate";
        // A rate fails from the moment it was asked for the talker (the second time) to the
        // next rate asked; at most half a second each.
        int failed = 0;
        std::map<int, int> times;
        for (std::size_t i = 0; i < s.port.asked.size(); ++i) {
            const auto [at, baud] = s.port.asked[i];
            // The boot loader's rate is no candidate: asked for the download, then for B.
            if (baud == 1'200 || baud == SciClock{}.loaderRate().asked || ++times[baud] != 2)
                continue;
            const auto next = std::find_if(
                s.port.asked.begin() + static_cast<std::ptrdiff_t>(i), s.port.asked.end(),
                [baud](const auto& a) { return a.second != baud && a.second != 1'200; });
            if (next == s.port.asked.end())
                continue;
            ++failed;
            EXPECT_LT(next->first - at, 500ms) << baud;
        }
        EXPECT_EQ(failed, c.failed);
    }
}

// A fast job downloads its talker at the boot loader's own 7812 baud with either loader (the A8's
// fills its RAM, the E9's also ends on an idle line), where the port sets it within the SCI's
// tolerance, and pings and sends B at that rate, first time; a port that refuses 7812 or sets it
// too far off downloads at 1200 as the default path does. A first ping gone wrong at 7812 finds
// the talker at 1200, where it goes on a damaged request; a damaged echo or a talker that never
// answers ends the job as the default path would, with no file and within a second of the ping.
TEST(FastDownload, GoesAtTheLoadersRateWhereThePortSetsIt) {
    constexpr const char* kNotEchoed = "The talker download was not echoed by the HC11.";
    constexpr const char* kNothing = "The HC11 sent nothing, so upload.s19 was not written.";
    struct Case {
        const char* what;
        Chip chip;
        std::function<std::optional<int>(int)> adapter;
        bool damageEcho;
        std::set<int> damageRequests;
        std::set<int> damageAnswers;
        int deafFrom;
        int download;               // the rate of the download
        std::vector<int> requests;  // the rate of each request, up to the read's
        const char* says;           // nullptr: the default dump's file
        std::size_t fifo = 0;       // the adapter's FIFO that the driver no longer counts
    };
    const auto refuse7812 = [](int asked) {
        return asked == 7'812 ? std::nullopt : std::optional(asked);
    };
    const auto low7812 = [](int asked) { return std::optional(asked == 7'812 ? 7'420 : asked); };
    const std::vector<int> atOnce = {7'812, 7'812, 125'000, 125'000};
    const std::vector<int> at1200 = {1'200, 1'200, 125'000, 125'000};
    const std::vector<int> again = {7'812, 1'200, 1'200, 125'000, 125'000};
    const std::vector<int> twice = {7'812, 1'200, 1'200, 1'200, 125'000, 125'000};
    const std::vector<int> never = {7'812, 1'200, 1'200};
    const Case cases[] = {
        {"A8", Chip::A8, {}, false, {}, {}, 0, 7'812, atOnce, nullptr},
        {"E9", Chip::E9, {}, false, {}, {}, 0, 7'812, atOnce, nullptr},
        {"refuses 7812", Chip::E9, refuse7812, false, {}, {}, 0, 1'200, at1200, nullptr},
        {"sets 7812 5 % low", Chip::A8, low7812, false, {}, {}, 0, 1'200, at1200, nullptr},
        // The same on the A8, and on every fast button: the fault harness's test.
        {"damaged echo", Chip::E9, {}, true, {}, {}, 0, 7'812, {}, kNotEchoed},
        // The talker takes the ping for damaged and goes to 1200: the PC's ping there is answered.
        {"first ping damaged", Chip::E9, {}, false, {1}, {}, 0, 7'812, again, nullptr},
        // The talker stays at 7812: it takes the first ping at 1200 for damaged, answers the next.
        {"first answer damaged", Chip::A8, {}, false, {}, {1}, 0, 7'812, twice, nullptr},
        {"no answer to the first ping", Chip::E9, {}, false, {}, {}, 1, 7'812, never, kNothing},
        // The download's last 64 bytes still leave the adapter after the driver says they have:
        // the first ping must reach neither the E9 loader nor the talker's start-up wait.
        {"a late FIFO, E9", Chip::E9, {}, false, {}, {}, 0, 7'812, atOnce, nullptr, 64},
        {"a late FIFO, A8", Chip::A8, {}, false, {}, {}, 0, 7'812, atOnce, nullptr, 64},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FastStation s(c.chip);
        const ops::Inputs in = dumpRange("B600", "B6FF");
        const std::string byDefault = defaultDump(s, in, 2);
        EXPECT_EQ(s.port.downloadBaud, 1'200) << "the default path";

        s.inner.setAdapter(c.adapter);
        s.inner.setAdapterFifo(c.fifo);
        s.port.damageEcho = c.damageEcho;
        s.port.damageRequests = c.damageRequests;
        s.port.damageAnswers = c.damageAnswers;
        s.port.deafFrom = c.deafFrom;
        const TimePoint start = s.clock.now();
        const auto shown = s.run("DumpStart", true, in);
        EXPECT_EQ(s.port.downloadBaud, c.download);
        EXPECT_EQ(s.port.requestBauds, c.requests);
        EXPECT_TRUE(s.ui.windowEnabled());
        EXPECT_FALSE(s.link.ready());
        EXPECT_EQ(s.port.settings().baud, 1'200) << "the job's end leaves the settings' rate";
        if (c.says) {
            ASSERT_EQ(shown.size(), 1u);
            EXPECT_EQ(shown[0].text, c.says);
            EXPECT_FALSE(fs::exists(s.dir.path / "upload.s19"));
            if (c.deafFrom) {
                EXPECT_LT(s.clock.now() - 100ms - s.port.deafSince, 1s);
            }
            continue;
        }
        EXPECT_EQ(shown, std::vector<Message>{});
        EXPECT_EQ(slurp(s.dir.path / "upload.s19"), byDefault);
        // 258 characters and the talker's settling: under 0.4 s at 7812, 2.2 s at 1200.
        if (c.download == 7'812) {
            EXPECT_LT(s.port.firstRequestAt - start - 100ms,
                      400ms + characterTime(7'812, static_cast<std::int64_t>(c.fifo)));
        }
    }
}

}  // namespace
}  // namespace kestro::sim

namespace kestro::sim {
namespace {

// A port that claims 7812 and sets another rate damages the download: the box says so and that
// the next job downloads at 1200, and the next job does, the fast protocol's rates and all.
TEST(FastDownload, OneDamagedAtTheLoadersRateGoesAt1200TheNextTime) {
    FastStation s(Chip::E9);
    s.port.lies[7'812] = 8'200;
    ops::Inputs in = dumpRange("B600", "B6FF");
    const auto first = s.run("DumpStart", true, in);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].text, "The talker download was not echoed by the HC11.");
    EXPECT_NE(first[0].detail.find("the download then goes at 1200 baud"), std::string::npos)
        << first[0].detail;
    EXPECT_EQ(s.port.downloadBaud, 8'200);

    ASSERT_EQ(s.run("DumpStart", true, in), std::vector<Message>{});
    EXPECT_EQ(s.port.downloadBaud, 1'200);
    ASSERT_FALSE(s.port.requestBauds.empty());
    EXPECT_EQ(s.port.requestBauds.back(), 125'000);
}

// One damaged block is noise: it goes again at the rate that carried the others. Damage again
// within a clean run steps the rate down, and a clean run after it steps it back up.
TEST(FastRates, OneDamageKeepsTheRateAndACleanLineWinsItBack) {
    const std::tuple<const char*, std::set<int>, bool> cases[] = {
        {"one damaged block", {6}, false},
        {"two close together", {6, 9}, true},
    };
    for (const auto& [what, damaged, steppedDown] : cases) {
        SCOPED_TRACE(what);
        FastStation s(Chip::A8);
        s.port.damageRequests = damaged;
        // 32 blocks of 256 bytes.
        ops::Inputs in;
        in.dumpBegin = "E000";
        in.dumpEnd = "FFFF";
        in.fast = true;
        EXPECT_EQ(s.run("DumpStart", true, in), std::vector<Message>{});
        const auto& bauds = s.port.requestBauds;
        EXPECT_EQ(std::count(bauds.begin(), bauds.end(), 62'500) != 0, steppedDown);
        EXPECT_EQ(bauds.back(), 125'000);
        EXPECT_GE(std::count(bauds.begin(), bauds.end(), 125'000), 20);
    }
}

}  // namespace
}  // namespace kestro::sim
