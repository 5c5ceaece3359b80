// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <array>
#include <set>
#include <string>

#include "frame.h"
#include "kestro/sim/board/variant.h"
#include "monitor/monitor.h"

namespace kestro::testing {

// A monitor session without an HC11: 64 KB of memory, the registers and the breakpoints, with
// ROM from romBegin up that refuses writes and breakpoints as the session does, a program
// that stops by itself after a number of polls, and a session that can die.
class MonitorStandIn final : public ops::monitor::Monitor {
  public:
    using Stop = ops::monitor::Stop;
    using StopCause = ops::monitor::StopCause;
    using Registers = ops::monitor::Registers;

    std::array<Byte, 0x10000> memory{};
    Registers regs{.sp = 0x01FF, .pc = 0xB600, .ccr = 0xD0};
    std::set<std::uint16_t> set;
    unsigned romBegin = 0xE000;
    bool isRunning = false;
    // A run stops by itself after this many polls (as if at its first breakpoint); -1: never.
    int pollsUntilStop = -1;
    StopCause runStopsBy = StopCause::Breakpoint;
    std::uint16_t runStopsAt = 0;
    // What the program sends at its first poll.
    std::string programSends;
    // Every call after this one throws, as a session whose talker went silent.
    bool dead = false;
    // The talker goes silent once this many writes have gone; 0: never.
    int writesBeforeDeath = 0;
    int writes = 0;  // write calls, refused ones included
    int polls = 0;

    const sim::Variant& part() const override {
        static const sim::Variant kPart{};
        return kPart;
    }
    std::uint8_t config() const override { return 0x0F; }

    Bytes read(std::uint16_t address, std::size_t length, const ops::monitor::Progress&) override {
        alive();
        if (address + length > memory.size())
            throw LinkError("read past $FFFF", LinkError::Ending::KeepTarget);
        return Bytes(memory.begin() + address, memory.begin() + address + length);
    }
    void write(std::uint16_t address, ByteView bytes, const ops::monitor::Progress&) override {
        alive();
        ++writes;
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            if (address + k >= romBegin)
                throw LinkError(rom(static_cast<unsigned>(address + k)),
                                LinkError::Ending::KeepTarget);
            memory[address + k] = bytes[k];
        }
        dead = writes == writesBeforeDeath;
    }
    void checkWrite(std::uint16_t address, ByteView bytes) override {
        if (address + bytes.size() > romBegin)
            throw LinkError(rom(std::max<unsigned>(address, romBegin)),
                            LinkError::Ending::KeepTarget);
    }
    Registers registers() override {
        alive();
        return regs;
    }
    void setRegisters(const Registers& r) override {
        alive();
        regs = r;
    }
    void setBreakpoint(std::uint16_t address) override {
        alive();
        if (address >= romBegin)
            throw LinkError(rom(address), LinkError::Ending::KeepTarget);
        set.insert(address);
    }
    void clearBreakpoint(std::uint16_t address) override {
        alive();
        set.erase(address);
    }
    std::vector<std::uint16_t> breakpoints() const override { return {set.begin(), set.end()}; }
    void run(std::optional<std::uint16_t> address) override {
        alive();
        if (address)
            regs.pc = *address;
        isRunning = true;
        polls = 0;
    }
    std::optional<Stop> poll(const std::function<void(ByteView)>& output, Duration) override {
        alive();
        if (polls++ == 0 && !programSends.empty())
            output(bytesOf(programSends));
        if (pollsUntilStop < 0 || polls < pollsUntilStop)
            return std::nullopt;
        isRunning = false;
        regs.pc = runStopsAt;
        return Stop{runStopsBy, regs};
    }
    Stop stop() override {
        alive();
        isRunning = false;
        return Stop{StopCause::Stopped, regs};
    }
    bool running() const override { return isRunning; }
    Stop step() override {
        alive();
        regs.pc = static_cast<std::uint16_t>(regs.pc + 1);
        return Stop{StopCause::Step, regs};
    }

  private:
    void alive() const {
        if (dead)
            throw LinkError("The monitor does not answer: the session has ended.",
                            LinkError::Ending::EndAsFrame);
    }
    static std::string rom(unsigned address) {
        char text[64];
        std::snprintf(text, sizeof text, "$%04X is ROM: the monitor cannot write it.", address);
        return text;
    }
};

}  // namespace kestro::testing
