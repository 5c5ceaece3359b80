// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

#include "clock.h"

namespace kestro::sim {

// The E clock a crystal gives: E = crystal / 4 (M68HC11 Reference Manual, the clock
// generator). Cycle counts and line time convert exactly, whatever the crystal, so that a
// crystal of 4.9152 or 7.3728 MHz keeps its bit times without drift over a long run.
struct EClock {
    std::uint32_t crystalHz = 8'000'000;

    double hz() const { return static_cast<double>(crystalHz) / 4.0; }

    // When a cycle begins, after the epoch: rounded up to the nanosecond, so that
    // cyclesIn(timeOf(c)) is c again.
    Duration timeOf(std::uint64_t cycles) const {
        const std::uint64_t whole = cycles / crystalHz;
        const std::uint64_t rest = cycles % crystalHz;
        return Duration{
            static_cast<std::int64_t>(whole * kNsPerCrystalCycles +
                                      (rest * kNsPerCrystalCycles + crystalHz - 1) / crystalHz)};
    }
    // Whole cycles in a span of time.
    std::uint64_t cyclesIn(Duration d) const {
        if (d.count() <= 0)
            return 0;
        const auto ns = static_cast<std::uint64_t>(d.count());
        return ns / kNsPerCrystalCycles * crystalHz +
               ns % kNsPerCrystalCycles * crystalHz / kNsPerCrystalCycles;
    }

  private:
    // crystalHz cycles of E last four seconds.
    static constexpr std::uint64_t kNsPerCrystalCycles = 4'000'000'000ULL;
};

}  // namespace kestro::sim
