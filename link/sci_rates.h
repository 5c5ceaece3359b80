// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "serial_port.h"

namespace kestro {

// A rate the HC11's SCI makes: what the PC asks its port for, and the BAUD ($102B) value that
// makes it on the chip, rate = E / (16 x prescaler x 2^SCR) with the prescaler 1, 3, 4 or 13
// (SCP1:0, bits 5:4) and SCR in bits 2:0.
struct SciRate {
    int asked;
    std::uint8_t baudRegister;
    bool operator==(const SciRate&) const = default;
};

// How far a receiver that samples each bit sixteen times takes a sender's rate off its own with
// 8 data bits: about 4.5 % either way, with the other end exact (M68HC11 Reference Manual, SCI
// receive operation, p. 9-28). The SCI's rate comes from the crystal, so all of it is left for
// the adapter.
inline constexpr int kSciTolerancePerMille = 45;

// The rates of one board's SCI, from its crystal: E is a quarter of it (M68HC11 Reference
// Manual, clock generation), and every rate the link uses is the one a BAUD value makes at that
// E. The link holds one; nothing else knows the crystal.
class SciClock {
  public:
    static constexpr std::uint32_t kDefaultCrystalHz = 8'000'000;
    // Where every talker starts and goes back to: E/16/13/8 (1200 baud at E = 2 MHz).
    static constexpr std::uint8_t kTalkerBaud = 0x33;
    // The boot loader's own rate after reset, E/16/16, which its sync byte $FF keeps.
    static constexpr std::uint8_t kLoaderBaud = 0x22;
    // The RAM talker's rate for the file, E/16/13 (9615 baud at E = 2 MHz).
    static constexpr std::uint8_t kRamBaud = 0x30;
    // The fast rates, fastest first: E/16, /32, /64, /128 and E/16/13.
    static constexpr std::array<std::uint8_t, 5> kFastBauds{0x00, 0x01, 0x02, 0x03, 0x30};

    constexpr SciClock() = default;
    explicit constexpr SciClock(std::uint32_t crystalHz) : crystalHz_(crystalHz) {}

    std::uint32_t crystalHz() const { return crystalHz_; }
    double eHz() const { return crystalHz_ / 4.0; }

    // The SCI's bit rate for a BAUD value, in baud (not rounded).
    double made(std::uint8_t baudRegister) const;
    // The rate a BAUD value makes, as the PC asks for it: a standard rate within 0.5 % (9600
    // for 9615), which every adapter makes, otherwise the rate itself, rounded down.
    SciRate rate(std::uint8_t baudRegister) const;
    SciRate talkerRate() const { return rate(kTalkerBaud); }
    SciRate loaderRate() const { return rate(kLoaderBaud); }
    SciRate ramRate() const { return rate(kRamBaud); }
    std::array<SciRate, kFastBauds.size()> fastRates() const;

    // Whether a port running at `actual` baud talks to the SCI at rate r.
    bool withinTolerance(const SciRate& r, int actual) const;

    // Line settings that every port takes, at the nearest standard rate at or above r: what a
    // port is set to before it is asked for r itself. A break from the SCI at r lasts a whole
    // character at that rate, so the port hears it as one.
    std::string baseSettings(const SciRate& r) const;
    // The crystal in MHz, as the user writes it: "8", "7.3728".
    std::string crystalText() const { return mhzText(crystalHz_); }
    // Hertz as megahertz, to the hertz and without trailing zeros.
    static std::string mhzText(std::uint32_t hz);

    bool operator==(const SciClock&) const = default;

  private:
    std::uint32_t crystalHz_ = kDefaultCrystalHz;
};

// A crystal the user typed in MHz ("7.3728", "12"), in Hz; nullopt for anything that is not a
// decimal number from kCrystalMinMHz to kCrystalMaxMHz, to the hertz.
inline constexpr int kCrystalMinMHz = 1;
inline constexpr int kCrystalMaxMHz = 40;
std::optional<std::uint32_t> parseCrystalMHz(std::string_view text);

// Puts the port at rate r: its settings at baseSettings(r), then r itself through setRate where
// that is another rate. BadSettings when the port refuses r or sets it outside the SCI's
// tolerance; any other port error as the port gave it.
PortError setPortRate(SerialPort& port, const SciClock& clock, const SciRate& r);
// What the user is told when a port cannot make rate r.
std::string rateUnmadeText(const std::string& device, const SciClock& clock, const SciRate& r);

// Which fast rate to use, given how the port answers each rate asked of it (its setRate).
struct RateChoice {
    SciRate rate{};        // the talker's rate when no candidate fits
    int inForce = 0;       // what the port set for it; 0 when no candidate fits
    std::size_t next = 0;  // where to go on from if this rate then fails with the talker
    PortError error = PortError::None;  // a port failure that ended the choice
    bool operator==(const RateChoice&) const = default;
};

// Asks for each candidate in turn, from `from` on, and takes the first that the port sets
// within the SCI's tolerance; a refused or far-off rate goes on to the next one down, any other
// port error ends the choice. The port is left at the last rate asked: when no candidate fits,
// the caller puts it back to the talker's rate.
RateChoice chooseRate(const std::function<RateResult(int)>& setRate, const SciClock& clock,
                      std::span<const SciRate> candidates, std::size_t from = 0);

}  // namespace kestro
