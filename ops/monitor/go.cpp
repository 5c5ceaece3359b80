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

// The stand-in: the opcodes the session's own tests run, each with its length and where it
// goes (M68HC11 Reference Manual, instruction set: BNE on Z clear, BEQ on Z set).
std::vector<std::uint16_t> basicSuccessors(
    ByteView code, const Registers& r,
    const std::function<Bytes(std::uint16_t, std::size_t)>& read) {
    if (code.empty())
        return {};
    const auto at = [&](int n) { return static_cast<std::uint16_t>(r.pc + n); };
    const auto branch = [&] {
        return static_cast<std::uint16_t>(r.pc + 2 + static_cast<std::int8_t>(code[1]));
    };
    const auto word = [&] { return static_cast<std::uint16_t>(code[1] << 8 | code[2]); };
    const bool z = r.ccr & 0x04;
    switch (code[0]) {
        case 0x01:
        case 0x0E:
        case 0x4A:
        case 0x4C:
        case 0x5A:
        case 0x5C:
            return {at(1)};
        case 0x86:
        case 0xC6:
            return {at(2)};
        case 0x8E:
        case 0xCE:
        case 0xB7:
        case 0xF7:
            return {at(3)};
        case 0x20:
        case 0x8D:
            return {branch()};
        case 0x26:
            return {z ? at(2) : branch()};
        case 0x27:
            return {z ? branch() : at(2)};
        case 0xBD:
        case 0x7E:
            return {word()};
        case 0x39: {
            const Bytes ret = read(static_cast<std::uint16_t>(r.sp + 1), 2);
            return {static_cast<std::uint16_t>(ret.at(0) << 8 | ret.at(1))};
        }
        default:
            return {};
    }
}

}  // namespace kestro::ops::monitor
