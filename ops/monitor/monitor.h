// SPDX-License-Identifier: GPL-3.0-or-later
// A monitor session as its front ends see it: a program stopped on the HC11, its memory and
// registers, breakpoints, and running it. The session over the resident monitor talker
// implements it; the command interpreter, kestro-cli's prompt and the Monitor window use only
// this, so that each can be tried against a stand-in.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bytes.h"
#include "clock.h"
#include "kestro/sim/board/variant.h"

namespace kestro::ops::monitor {

// The CPU registers of the stopped program, as the monitor found them stacked on entry.
struct Registers {
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t sp = 0;  // the program's own, as it was before the entry stacked anything
    std::uint16_t pc = 0;  // the next instruction the program runs
    std::uint8_t ccr = 0;  // S X H I N Z V C, bit 7 first

    friend bool operator==(const Registers&, const Registers&) = default;
};

// The registers in the order monitors list them, by the name a user types (lower case), and
// whether each is 16 bits wide; the index is the one registerValue and setRegisterValue take.
struct RegisterName {
    std::string_view name;
    bool wide;
};
inline constexpr std::array<RegisterName, 7> kRegisterNames = {{{"a", false},
                                                                {"b", false},
                                                                {"x", true},
                                                                {"y", true},
                                                                {"sp", true},
                                                                {"pc", true},
                                                                {"ccr", false}}};
unsigned registerValue(const Registers& r, std::size_t index);
// The value cut to the register's width.
void setRegisterValue(Registers& r, std::size_t index, unsigned value);
// The CCR as its letters S X H I N Z V C, bit 7 first, a clear one as '.'.
std::string flagLetters(std::uint8_t ccr);

// Why the program is stopped.
enum class StopCause {
    Breakpoint,     // it reached one of the session's breakpoints (pc: the breakpoint's address)
    Step,           // a step ended
    Stopped,        // stopped from the PC (stop, Ctrl-C, the window's Stop)
    Swi,            // an SWI of the program's own, not one of the session's breakpoints
    IllegalOpcode,  // the CPU met an opcode it does not have
};

struct Stop {
    StopCause cause = StopCause::Stopped;
    Registers registers;
};

// What a run reports while it goes, and how its front end asks for it to end.
struct RunHooks {
    // Bytes the running program sent on the SCI, as they come.
    std::function<void(ByteView)> output;
    // Polled while the program runs: true stops it (Ctrl-C, the window's Stop).
    std::function<bool()> stopRequested;
};

// Progress of a long read or write: bytes done of total.
using Progress = std::function<void(std::size_t done, std::size_t total)>;

// Failures are LinkError (link/frame.h): KeepTarget where the session goes on (a refused
// write, a breakpoint in ROM), EndAsFrame where it has ended (a silent talker, a reset, a
// program that overwrote the monitor); the text is what the user is told.
class Monitor {
  public:
    virtual ~Monitor() = default;

    // The part the session runs on, and CONFIG as the monitor read it at its start.
    virtual const sim::Variant& part() const = 0;
    virtual std::uint8_t config() const = 0;

    // Any address: RAM, the register block, EEPROM, ROM, EPROM, the expanded bus. The bytes the
    // session's breakpoints cover read as the program's own, not as the breakpoint's SWI.
    virtual Bytes read(std::uint16_t address, std::size_t length,
                       const Progress& progress = {}) = 0;
    // RAM and registers as stored; EEPROM through its erase and programming cycles, refused
    // where BPROT or CONFIG protects it; ROM, EPROM and the monitor's own RAM refused with the
    // reason. Each byte is read back.
    virtual void write(std::uint16_t address, ByteView bytes, const Progress& progress = {}) = 0;
    // Throws the LinkError write() would for these bytes at address, without writing: a load
    // asks it of every block before its first is written.
    virtual void checkWrite(std::uint16_t address, ByteView bytes) {
        (void)address;
        (void)bytes;
    }

    // The stopped program's registers; setting them changes what the next go or step runs with.
    virtual Registers registers() = 0;
    virtual void setRegisters(const Registers& registers) = 0;

    // Breakpoints: an SWI over the instruction's first byte in RAM or EEPROM while the program
    // runs, the program's byte back whenever it is stopped. ROM and EPROM refused with the reason.
    virtual void setBreakpoint(std::uint16_t address) = 0;
    virtual void clearBreakpoint(std::uint16_t address) = 0;
    virtual std::vector<std::uint16_t> breakpoints() const = 0;

    // Starts the program from address (or from its PC) and returns at once: the breakpoints go
    // in, then the program runs until a breakpoint, its own SWI, an illegal opcode or stop().
    virtual void run(std::optional<std::uint16_t> address) = 0;
    // While it runs: passes on what the program sends for the whole wait, however much it
    // sends, and says how it stopped (as soon as it does), or nullopt while it still runs.
    virtual std::optional<Stop> poll(const std::function<void(ByteView)>& output,
                                     Duration wait) = 0;
    // Stops the running program through the SCI's interrupt. A program that keeps interrupts
    // masked cannot be stopped: LinkError, and the session ends (reset the board).
    virtual Stop stop() = 0;
    virtual bool running() const = 0;
    // Where the program's bytes go that arrive while stop() or step() wait for it to stop.
    virtual void setOutput(std::function<void(ByteView)> output) { (void)output; }
    // Runs one instruction of the stopped program (a branch, a jump, a JSR, RTS, RTI followed).
    virtual Stop step() = 0;
};

// run, then poll until it stops or hooks.stopRequested() says so, then stop: what `go` and the
// window's Go do.
Stop go(Monitor& monitor, std::optional<std::uint16_t> address, const RunHooks& hooks);

// Where a session ends with the program running: its breakpoints come out of the program's
// memory (it is stopped for that, then runs on from where it stood), as nothing would be there
// to take the program back at one, and an EEPROM one would outlast a reset. True when it did.
bool release(Monitor& monitor);

}  // namespace kestro::ops::monitor
