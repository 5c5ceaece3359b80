// SPDX-License-Identifier: GPL-3.0-or-later
#include "talker_waits.h"

#include <cmath>
#include <cstdio>

namespace kestro {

namespace {

constexpr std::uint64_t kMs = 1'000'000;
constexpr std::uint64_t kUs = 1'000;

// The waits, each with its loop's shortest round (cycle counts: MC68HC11A8 technical data,
// instruction set table) and the time its 2 MHz count gives. talkers/CMakeLists.txt checks at
// build time that each talker holds these counts where its labels say.

// The EEPROM's program or erase time, 10 ms at E = 2 MHz (MC68HC11A8 technical data 3.5).
// eeprog and eprog poll the SCI in every round: bsr poll 6, poll with a character held 11,
// dey 4, bne 3.
constexpr CountedWait kEepromPolled{"count_cycle", 2, 10'560 * kUs, 10 * kMs, 24, true};
// eecycle.inc: dey 4, bne 3.
constexpr CountedWait kEepromCycle{"count_eecycle", 2, 10'850 * kUs, 10 * kMs, 7, true};
// fastee: dex 3, bne 3.
constexpr CountedWait kEepromFast{"count_cycle", 2, 10'500 * kUs, 10 * kMs, 6, true};
// The 711E9's EPROM, 2 ms a byte in time (docs/hardware-facts.md, EPROM).
constexpr CountedWait kEpromPolled{"count_cycle", 2, 2'160 * kUs, 2 * kMs, 24, false};
constexpr CountedWait kEpromFast{"count_cycle", 2, 2'100 * kUs, 2 * kMs, 6, false};
// Data polling of an EEPROM on the expanded bus, whose write cycle takes 10 ms at most:
// exteeprg bsr poll 6, poll 11, cmpa 4, beq 3, dey 4, bne 3; fastxe cmpa 4, beq 3, dey 4, bne 3.
constexpr CountedWait kExternalPolled{"count_poll", 2, 17'050 * kUs, 10 * kMs, 31, false};
constexpr CountedWait kExternalFast{"count_poll", 2, 17'080 * kUs, 10 * kMs, 14, false};
// The fast protocol's idle line that ends a request (docs/fast-protocol.md): ldaa 4, three
// asla 6, bcs 3, dey 4, bne 3.
constexpr CountedWait kFastIdle{"count_idle", 2, 20 * kMs, 20 * kMs, 20, false};
// ram: 5 ms of idle line ends the start address (ldaa 4, bita 2, bne 3, dey 4, bne 3), and
// 50 ms between its answer and the jump (dey 4, bne 3).
constexpr CountedWait kRamIdle{"count_idle", 2, 5 * kMs, 5 * kMs, 16, false};
constexpr CountedWait kRamJump{"count_jump", 2, 50'001 * kUs, 50 * kMs, 7, false};
// dump: 200 ms before the first record, for a PC that clears its input late (pshx 4, pulx 5,
// dey 4, bne 3).
constexpr CountedWait kDumpStart{"count_start", 2, 200'200 * kUs, 200 * kMs, 16, false};

// The 10 ms the charge pump takes to settle after CSEL is set (MC68HC11A8 technical data 3.5,
// p. 3-6), waited at the start of eeprog, eeerase and config (pump_clock in talkers/hc11.inc):
// dex 3, bne 3. fastcfg takes no request before 20 ms of idle line, which outlast it.
constexpr CountedWait kPumpSettle{"count_settle", 2, 10'500 * kUs, 10 * kMs, 6, false};

// xisdpoff and xireset: the companion chip's write cycle after a command, 10 ms at most
// (docs/hardware-facts.md), waited out with dex 3, bne 3.
constexpr CountedWait kCompanionCycle{"count_xcycle", 2, 10'500 * kUs, 10 * kMs, 6, false};

constexpr PatchPoint kPatchPoints[] = {
    {"eeprog", &kPumpSettle, 0x0D},
    {"eeprog", &kEepromPolled, 0x63},
    {"eprog", &kEpromPolled, 0x5C},
    {"eeerase", &kPumpSettle, 0x0A},
    {"eeerase", &kEepromCycle, 0x98},
    {"config", &kPumpSettle, 0x0A},
    {"config", &kEepromCycle, 0x5B},
    {"exteeprg", &kExternalPolled, 0x3E},
    {"ram", &kRamIdle, 0x77},
    {"ram", &kRamJump, 0x8F},
    {"dump", &kDumpStart, 0x0F},
    {"fastee", &kFastIdle, 0x11},
    {"fastee", &kEepromFast, 0xEC},
    {"fastep", &kFastIdle, 0x17},
    {"fastep", &kEpromFast, 0xDF},
    {"fastxe", &kFastIdle, 0x17},
    {"fastxe", &kExternalFast, 0xE3},
    {"fasterase", &kFastIdle, 0x11},
    {"fasterase", &kEepromCycle, 0xEB},
    {"fastcfg", &kFastIdle, 0x18},
    {"fastcfg", &kEepromCycle, 0xE0},
    {"fastram", &kFastIdle, 0x19},
    {"faststat", &kFastIdle, 0x0F},
    {"fastxi", &kFastIdle, 0x15},
    {"fastrd", &kFastIdle, 0x0F},
    {"monitor", &kFastIdle, 0x10},
    {"ident", &kFastIdle, 0x0E},
    {"xisdpoff", &kCompanionCycle, 0x3B},
    {"xireset", &kCompanionCycle, 0x3B},
};

// The OPTION masks, checked at build time as the counts are. fastee and fasterase have no room
// for one (docs/talkers.md): below E = 1 MHz they are refused.
constexpr PumpClock kPumpClocks[] = {
    {"eeprog", 0x0B},
    {"eeerase", 0x08},
    {"config", 0x08},
    {"fastcfg", 0x0E},
};

// The waits a programming talker spends on each byte of the file, and whether it polls until
// the part is done (data polling ends at the part's own write cycle, 10 ms at most).
struct ByteWait {
    std::string_view talker;
    const CountedWait* wait;
    bool endsWhenDone;
};
constexpr ByteWait kByteWaits[] = {
    {"eeprog", &kEepromPolled, false},
    {"eprog", &kEpromPolled, false},
    {"exteeprg", &kExternalPolled, true},
};

std::string megahertz(double hz) {
    char text[32];
    std::snprintf(text, sizeof text, "%g MHz", hz / 1e6);
    return text;
}

}  // namespace

std::span<const PatchPoint> patchPoints() {
    return kPatchPoints;
}

std::span<const PumpClock> pumpClocks() {
    return kPumpClocks;
}

const PumpClock* pumpClockOf(std::string_view talker) {
    for (const PumpClock& p : kPumpClocks)
        if (p.talker == talker)
            return &p;
    return nullptr;
}

std::string pumpClockRefusal(std::string_view talker, double eClockHz) {
    if (!needsPumpClockAt(eClockHz) || pumpClockOf(talker))
        return {};
    for (const PatchPoint& p : kPatchPoints)
        if (p.talker == talker && p.wait->eepromPump)
            return "at an E clock of " + megahertz(eClockHz) +
                   " (below 1 MHz) the EEPROM's charge pump needs its R-C clock (CSEL in "
                   "OPTION), which the talker " +
                   std::string(talker) + " has no room to select; the default path's talkers do";
    return {};
}

bool needsPumpClockAt(double eClockHz) {
    return eClockHz < 1e6;
}

std::vector<PatchPoint> patchPointsOf(std::string_view talker) {
    std::vector<PatchPoint> points;
    for (const PatchPoint& p : kPatchPoints)
        if (p.talker == talker)
            points.push_back(p);
    return points;
}

std::optional<std::uint32_t> waitCount(const CountedWait& wait, double eClockHz,
                                       std::string* reason) {
    auto refuse = [reason](std::string why) -> std::optional<std::uint32_t> {
        if (reason)
            *reason = std::move(why);
        return std::nullopt;
    };
    if (!std::isfinite(eClockHz) || eClockHz < 1e3 || eClockHz > 1e8)
        return refuse("an E clock of " + megahertz(eClockHz) + " is no HC11's");
    std::uint64_t ns = wait.nanoseconds;
    if (wait.eepromPump && eClockHz < 2e6)
        ns *= 2;
    // A fraction of a hertz up: a longer count, never a shorter one. The product stays far
    // below 2^64 (at most a second of waiting at 100 MHz).
    const auto hz = static_cast<std::uint64_t>(std::ceil(eClockHz));
    const std::uint64_t perRound = std::uint64_t{1'000'000'000} * wait.cyclesPerRound;
    const std::uint64_t count = (ns * hz + perRound - 1) / perRound;
    const std::uint64_t most = (std::uint64_t{1} << (8 * wait.width)) - 1;
    if (count > most)
        return refuse("at an E clock of " + megahertz(eClockHz) + " the talker's wait " +
                      std::string(wait.label) + " needs " + std::to_string(count) +
                      " rounds, more than its " + std::to_string(8 * wait.width) + " bits hold");
    return static_cast<std::uint32_t>(count);
}

std::optional<Duration> countedWaitAt(std::string_view talker, std::string_view label,
                                      double eClockHz) {
    for (const PatchPoint& p : kPatchPoints) {
        if (p.talker != talker || p.wait->label != label)
            continue;
        if (!pumpClockRefusal(talker, eClockHz).empty())
            return std::nullopt;
        const auto count = waitCount(*p.wait, eClockHz, nullptr);
        if (!count)
            return std::nullopt;
        return Duration{
            static_cast<std::int64_t>(std::ceil(1e9 * *count * p.wait->cyclesPerRound / eClockHz))};
    }
    return std::nullopt;
}

std::optional<Duration> byteWaitAt(std::string_view talker, double eClockHz) {
    for (const ByteWait& b : kByteWaits) {
        if (b.talker != talker)
            continue;
        if (b.endsWhenDone)
            return waitCount(*b.wait, eClockHz, nullptr)
                       ? std::optional(Duration{static_cast<std::int64_t>(b.wait->factNanoseconds)})
                       : std::nullopt;
        return countedWaitAt(talker, b.wait->label, eClockHz);
    }
    return std::nullopt;
}

std::optional<Bytes> withWaitsFor(std::string_view talker, Bytes image, double eClockHz,
                                  std::string* reason) {
    if (std::string why = pumpClockRefusal(talker, eClockHz); !why.empty()) {
        if (reason)
            *reason = std::move(why);
        return std::nullopt;
    }
    const std::string anotherVersion =
        " where this program's table places it (a talker of another version?)";
    if (const PumpClock* pump = pumpClockOf(talker); pump && needsPumpClockAt(eClockHz)) {
        // Only over the mask the talker was assembled with, as the counts below.
        if (pump->offset >= image.size() || image[pump->offset] != 0x00) {
            if (reason)
                *reason = "the talker file does not hold its OPTION mask" + anotherVersion;
            return std::nullopt;
        }
        image[pump->offset] = kCsel;
    }
    for (const PatchPoint& p : kPatchPoints) {
        if (p.talker != talker)
            continue;
        const auto count = waitCount(*p.wait, eClockHz, reason);
        if (!count)
            return std::nullopt;
        const auto assembled = waitCount(*p.wait, kAssembledForHz, reason);
        if (!assembled)
            return std::nullopt;
        if (*count == *assembled)
            continue;  // a count that stays is not looked at
        // Only over the count the talker was assembled with: a file of another make or
        // version is refused rather than changed where it may hold code.
        const std::size_t at = p.offset;
        const auto width = static_cast<std::size_t>(p.wait->width);
        std::uint32_t held = 0;
        for (std::size_t i = 0; i < width && at + i < image.size(); ++i)
            held = held << 8 | image[at + i];
        if (at + width > image.size() || held != *assembled) {
            if (reason)
                *reason = "the talker file does not hold its wait " + std::string(p.wait->label) +
                          anotherVersion;
            return std::nullopt;
        }
        for (std::size_t i = 0; i < width; ++i)
            image[at + i] = static_cast<Byte>(*count >> (8 * (width - 1 - i)));
    }
    return image;
}

}  // namespace kestro
