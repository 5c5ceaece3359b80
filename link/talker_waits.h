// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "clock.h"

namespace kestro {

// A wait a talker counts in rounds of a loop: the time it stands for, so that the PC can write
// the count for the E clock of the board it talks to. The talkers are assembled with the
// counts for E = 2 MHz (an 8 MHz crystal).
struct CountedWait {
    std::string_view label;         // the talker's symbol at the count's immediate operand
    int width;                      // bytes of the count, high byte first
    std::uint64_t nanoseconds;      // what the count stands for: the fact with the talker's margin
    std::uint64_t factNanoseconds;  // the least the manual or the other end asks for
    std::uint32_t cyclesPerRound;   // E cycles of the loop's shortest round
    // The EEPROM's charge pump: twice the time below E = 2 MHz, where it is weaker, and below
    // 1 MHz, where it runs from the R-C clock that CSEL selects (MC68HC11A8 technical data 3.5,
    // p. 3-6; no time is given there for that clock, so the longest named, 20 ms).
    bool eepromPump;
};

// One count in one talker's image.
struct PatchPoint {
    std::string_view talker;  // the file's name without .S19
    const CountedWait* wait;
    std::uint16_t offset;  // in the image, which the boot loader stores from $0000
};

// A talker's name in the tables: its file's name without the extension ("fastee.S19").
inline std::string_view talkerName(std::string_view file) {
    return file.substr(0, file.find('.'));
}

// Every count in every talker; a talker that is not named counts no time.
std::span<const PatchPoint> patchPoints();

// The talker's patch points, in the table's order.
std::vector<PatchPoint> patchPointsOf(std::string_view talker);

// Where a talker that programs or erases the EEPROM puts its charge pump on the R-C clock: the
// mask of a BSET on OPTION, assembled 0, which the PC makes CSEL below E = 1 MHz. A talker with
// an EEPROM wait and no such point is refused there.
struct PumpClock {
    std::string_view talker;  // the file's name without .S19
    std::uint16_t offset;     // of the mask in the image
};
inline constexpr std::string_view kPumpClockLabel = "pump_csel";
inline constexpr Byte kCsel = 0x40;  // OPTION bit 6
std::span<const PumpClock> pumpClocks();
// The talker's row, or nullptr where it has none.
const PumpClock* pumpClockOf(std::string_view talker);

// Whether the EEPROM's pump wants its R-C clock at an E clock (Hz): below 1 MHz.
bool needsPumpClockAt(double eClockHz);

// Why the talker cannot run at an E clock (Hz): it counts an EEPROM cycle where the pump wants
// its R-C clock, and has no room to select it. Empty where it can.
std::string pumpClockRefusal(std::string_view talker, double eClockHz);

// The count a wait needs at an E clock (Hz), rounded up: never shorter than what it stands for.
// nullopt with the reason where no count serves (it would overflow its width, or the E clock
// is one the wait cannot be made at).
std::optional<std::uint32_t> waitCount(const CountedWait& wait, double eClockHz,
                                       std::string* reason);

// How long the talker's wait at that label lasts with its count for an E clock (Hz); nullopt
// where the talker has no such wait or no count serves.
std::optional<Duration> countedWaitAt(std::string_view talker, std::string_view label,
                                      double eClockHz);

// How long a programming talker may spend on each byte of the file at an E clock (Hz): the
// programming wait as counted for that E, or, for a talker that polls until the part is done,
// the longest the part may take. nullopt for a talker that programs nothing, or at an E no
// count serves.
std::optional<Duration> byteWaitAt(std::string_view talker, double eClockHz);

// The E clock the talkers' sources count for: an 8 MHz crystal.
inline constexpr double kAssembledForHz = 2e6;

// The talker's image with every count written for the E clock; nullopt with the reason where
// one cannot be, or where a count that must change is not where the table places it.
std::optional<Bytes> withWaitsFor(std::string_view talker, Bytes image, double eClockHz,
                                  std::string* reason);

}  // namespace kestro
