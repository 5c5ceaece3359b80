// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor.h"

#include "session.h"

namespace kestro::ops::monitor {

namespace {
// How long each look at the line lasts while the program runs: short enough that a stop asked
// for is taken at once.
constexpr Duration kPollRound = 50ms;
}  // namespace

Stop go(Monitor& monitor, std::optional<std::uint16_t> address, const RunHooks& hooks) {
    monitor.run(address);
    while (true) {
        if (auto s = monitor.poll(hooks.output, kPollRound))
            return *s;
        if (hooks.stopRequested && hooks.stopRequested())
            return monitor.stop();
    }
}

bool release(Monitor& monitor) {
    if (!monitor.running() || monitor.breakpoints().empty())
        return false;
    const Stop s = monitor.stop();
    for (const std::uint16_t at : monitor.breakpoints())
        monitor.clearBreakpoint(at);
    // A program that had stopped by itself stays so, as it would have.
    if (s.cause == StopCause::Stopped || s.cause == StopCause::Breakpoint)
        monitor.run(std::nullopt);
    return true;
}

}  // namespace kestro::ops::monitor
