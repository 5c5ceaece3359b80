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

}  // namespace

double sciRate(std::uint8_t baudRegister, long eClockHz) {
    return static_cast<double>(eClockHz) / static_cast<double>(divisor(baudRegister));
}

bool withinTolerance(const SciRate& r, int actual, long eClockHz) {
    if (actual <= 0)
        return false;
    // |actual - E/d| <= tolerance x E/d, in whole numbers: |actual x d - E| x 1000 <= t x E.
    const long long off = static_cast<long long>(actual) * divisor(r.baudRegister) - eClockHz;
    return std::llabs(off) * 1000 <= static_cast<long long>(kSciTolerancePerMille) * eClockHz;
}

RateChoice chooseRate(const std::function<RateResult(int)>& setRate, std::size_t from,
                      std::span<const SciRate> candidates) {
    for (std::size_t i = from; i < candidates.size(); ++i) {
        const RateResult set = setRate(candidates[i].asked);
        if (set.error == PortError::BadSettings)
            continue;
        if (set.error != PortError::None)
            return {kSlowRate, 0, candidates.size(), set.error};
        if (withinTolerance(candidates[i], set.baud))
            return {candidates[i], set.baud, i + 1, PortError::None};
    }
    return {kSlowRate, 0, candidates.size(), PortError::None};
}

}  // namespace kestro
