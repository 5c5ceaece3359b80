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

}  // namespace kestro::ops::monitor
