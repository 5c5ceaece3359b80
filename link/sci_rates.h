// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "serial_port.h"

namespace kestro {

// A rate the HC11's SCI makes at E = 2 MHz: what the PC asks its port for, and the BAUD
// ($102B) value that makes it on the chip, rate = E / (16 x prescaler x 2^SCR) with the
// prescaler 1, 3, 4 or 13 (SCP1:0, bits 5:4) and SCR in bits 2:0.
struct SciRate {
    int asked;
    std::uint8_t baudRegister;
    bool operator==(const SciRate&) const = default;
};

inline constexpr long kSciEClockHz = 2'000'000;

// The fast rates, fastest first: E/16, /32, /64, /128 and E/16/13 (9615, asked as 9600).
inline constexpr SciRate kFastRates[] = {
    {125'000, 0x00}, {62'500, 0x01}, {31'250, 0x02}, {15'625, 0x03}, {9'600, 0x30},
};
// Where every talker starts, and where a port that fits none of the fast rates stays.
inline constexpr SciRate kSlowRate{1'200, 0x33};
// The boot loader's own rate after reset, E/16/16.
inline constexpr SciRate kLoaderRate{7'812, 0x22};

// How far a receiver that samples each bit sixteen times takes a sender's rate off its own with
// 8 data bits: about 4.5 % either way, with the other end exact (M68HC11 Reference Manual, SCI
// receive operation, p. 9-28). The SCI's rate comes from the crystal, so all of it is left for
// the adapter.
inline constexpr int kSciTolerancePerMille = 45;

// The SCI's bit rate for a BAUD value at the given E clock, in baud (not rounded).
double sciRate(std::uint8_t baudRegister, long eClockHz = kSciEClockHz);
// Whether a port running at `actual` baud talks to the SCI at rate r.
bool withinTolerance(const SciRate& r, int actual, long eClockHz = kSciEClockHz);

// Which fast rate to use, given how the port answers each rate asked of it (its setRate).
struct RateChoice {
    SciRate rate = kSlowRate;  // kSlowRate when no candidate fits
    int inForce = 0;           // what the port set for it; 0 when no candidate fits
    std::size_t next = 0;      // where to go on from if this rate then fails with the talker
    PortError error = PortError::None;  // a port failure that ended the choice
    bool operator==(const RateChoice&) const = default;
};

// Asks for each candidate in turn, from `from` on, and takes the first that the port sets
// within the SCI's tolerance; a refused or far-off rate goes on to the next one down, any other
// port error ends the choice. The port is left at the last rate asked: when no candidate fits,
// the caller puts it back to 1200 baud.
RateChoice chooseRate(const std::function<RateResult(int)>& setRate, std::size_t from = 0,
                      std::span<const SciRate> candidates = kFastRates);

}  // namespace kestro
