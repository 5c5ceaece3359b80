// SPDX-License-Identifier: GPL-3.0-or-later
#include "sci_rates.h"

#include <cstdlib>

namespace kestro {

namespace {

// The bit time in E cycles: 16 x prescaler x 2^SCR.
long divisor(std::uint8_t baudRegister) {
    static constexpr long kPrescaler[] = {1, 3, 4, 13};
    return 16 * kPrescaler[(baudRegister >> 4) & 3] * (1L << (baudRegister & 7));
}

// The rates a port takes in its settings text: those every driver has a constant for.
constexpr int kStandardRates[] = {300,   600,    1'200,  1'800,  2'400,   4'800,
                                  9'600, 19'200, 38'400, 57'600, 115'200, 230'400};

}  // namespace

double SciClock::made(std::uint8_t baudRegister) const {
    return eHz() / static_cast<double>(divisor(baudRegister));
}

SciRate SciClock::rate(std::uint8_t baudRegister) const {
    const double exact = made(baudRegister);
    for (const int standard : kStandardRates)
        if (std::abs(standard - exact) * 200 <= exact)
            return {standard, baudRegister};
    return {static_cast<int>(exact), baudRegister};
}

std::array<SciRate, SciClock::kFastBauds.size()> SciClock::fastRates() const {
    std::array<SciRate, kFastBauds.size()> rates{};
    for (std::size_t i = 0; i < kFastBauds.size(); ++i)
        rates[i] = rate(kFastBauds[i]);
    return rates;
}

bool SciClock::withinTolerance(const SciRate& r, int actual) const {
    if (actual <= 0)
        return false;
    // |actual - E/d| <= tolerance x E/d with E = crystal/4, in whole numbers:
    // |actual x 4d - crystal| x 1000 <= t x crystal.
    const long long off = static_cast<long long>(actual) * 4 * divisor(r.baudRegister) -
                          static_cast<long long>(crystalHz_);
    return std::llabs(off) * 1000 <=
           static_cast<long long>(kSciTolerancePerMille) * static_cast<long long>(crystalHz_);
}

std::string SciClock::baseSettings(const SciRate& r) const {
    int base = kStandardRates[std::size(kStandardRates) - 1];
    for (const int standard : kStandardRates)
        if (standard >= r.asked) {
            base = standard;
            break;
        }
    return std::to_string(base) + ",n,8,1";
}

std::string SciClock::mhzText(std::uint32_t hz) {
    std::string text = std::to_string(hz / 1'000'000);
    std::string fraction = std::to_string(hz % 1'000'000 + 1'000'000).substr(1);
    while (!fraction.empty() && fraction.back() == '0')
        fraction.pop_back();
    return fraction.empty() ? text : text + "." + fraction;
}

std::optional<std::uint32_t> parseCrystalMHz(std::string_view text) {
    const auto dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    const auto digits = [](std::string_view s) {
        return s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    // To the hertz: six places at most, and a number on both sides of a point.
    if (whole.empty() || whole.size() > 3 || !digits(whole) || !digits(fraction) ||
        fraction.size() > 6 || (dot != std::string_view::npos && fraction.empty()))
        return std::nullopt;
    std::uint64_t hz = 0;
    for (const char c : whole)
        hz = hz * 10 + static_cast<std::uint64_t>(c - '0');
    hz *= 1'000'000;
    std::uint64_t place = 100'000;
    for (const char c : fraction) {
        hz += static_cast<std::uint64_t>(c - '0') * place;
        place /= 10;
    }
    if (hz < std::uint64_t{kCrystalMinMHz} * 1'000'000 ||
        hz > std::uint64_t{kCrystalMaxMHz} * 1'000'000)
        return std::nullopt;
    return static_cast<std::uint32_t>(hz);
}

PortError setPortRate(SerialPort& port, const SciClock& clock, const SciRate& r) {
    const std::string base = clock.baseSettings(r);
    if (const PortError e = port.setSettings(base); e != PortError::None)
        return e;
    if (port.settings().baud != r.asked) {
        const RateResult set = port.setRate(r.asked);
        if (set.error != PortError::None)
            return set.error;
    }
    return clock.withinTolerance(r, port.settings().baud) ? PortError::None
                                                          : PortError::BadSettings;
}

std::string rateUnmadeText(const std::string& device, const SciClock& clock, const SciRate& r) {
    return "The serial port " + device + " cannot make " + std::to_string(r.asked) +
           " baud within the HC11's tolerance, the rate its SCI runs at with a " +
           clock.crystalText() + " MHz crystal.";
}

RateChoice chooseRate(const std::function<RateResult(int)>& setRate, const SciClock& clock,
                      std::span<const SciRate> candidates, std::size_t from) {
    const SciRate talker = clock.talkerRate();
    for (std::size_t i = from; i < candidates.size(); ++i) {
        const RateResult set = setRate(candidates[i].asked);
        if (set.error == PortError::BadSettings)
            continue;
        if (set.error != PortError::None)
            return {talker, 0, candidates.size(), set.error};
        if (clock.withinTolerance(candidates[i], set.baud))
            return {candidates[i], set.baud, i + 1, PortError::None};
    }
    return {talker, 0, candidates.size(), PortError::None};
}

}  // namespace kestro
