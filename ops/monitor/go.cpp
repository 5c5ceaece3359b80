// SPDX-License-Identifier: GPL-3.0-or-later
#include "monitor.h"

#include "session.h"

namespace kestro::ops::monitor {

namespace {
// How long each look at the line lasts while the program runs: short enough that a stop asked
// for is taken at once.
constexpr Duration kPollRound = 50ms;
}  // namespace

unsigned registerValue(const Registers& r, std::size_t index) {
    const std::array<unsigned, kRegisterNames.size()> values = {r.a,  r.b,  r.x,  r.y,
                                                                r.sp, r.pc, r.ccr};
    return values.at(index);
}

void setRegisterValue(Registers& r, std::size_t index, unsigned value) {
    const auto byte = static_cast<std::uint8_t>(value);
    const auto word = static_cast<std::uint16_t>(value);
    switch (index) {
        case 0:
            r.a = byte;
            break;
        case 1:
            r.b = byte;
            break;
        case 2:
            r.x = word;
            break;
        case 3:
            r.y = word;
            break;
        case 4:
            r.sp = word;
            break;
        case 5:
            r.pc = word;
            break;
        default:
            r.ccr = byte;
            break;
    }
}

std::string flagLetters(std::uint8_t ccr) {
    static constexpr char kLetters[] = "SXHINZVC";
    std::string letters;
    for (int bit = 7; bit >= 0; --bit)
        letters += (ccr >> bit) & 1 ? kLetters[7 - bit] : '.';
    return letters;
}

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
