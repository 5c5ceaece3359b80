// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor/monitor.h"

namespace kestro::ops::monitor {

namespace {
// How long each poll may wait before the front end's stop request is looked at again: short
// enough that Ctrl-C feels immediate.
constexpr Duration kPollSlice = 50ms;
}  // namespace

Stop go(Monitor& monitor, std::optional<std::uint16_t> address, const RunHooks& hooks) {
    monitor.run(address);
    const auto output = hooks.output ? hooks.output : [](ByteView) {};
    while (true) {
        if (const auto stop = monitor.poll(output, kPollSlice))
            return *stop;
        if (hooks.stopRequested && hooks.stopRequested())
            return monitor.stop();
    }
}

}  // namespace kestro::ops::monitor
