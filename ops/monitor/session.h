// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor session over the resident monitor talker (talkers/monitor.s,
// docs/fast-protocol.md "Monitor"): the talker only reads, stores, runs and announces a stop;
// everything else (registers, breakpoints, EEPROM cycles, steps) is done here.
#pragma once

#include <bitset>
#include <map>
#include <memory>
#include <set>

#include "fast_link.h"
#include "monitor.h"

namespace kestro::ops::monitor {

// Where the monitor lives on every part (talkers/monitor.s).
inline constexpr std::uint16_t kMonitorEnd = 0x00C4;  // $0000 up to here is the talker's
// The pseudo-vectors it takes: the SCI's, and the SWI's and illegal opcode's side by side.
inline constexpr std::uint16_t kSciSlot = 0x00C4;
inline constexpr std::uint16_t kSwiSlot = 0x00F4;  // and the illegal opcode's at $00F7
inline constexpr std::size_t kSlotBytes = 3;
// Below the stopped program's frame the monitor keeps its own stack.
inline constexpr std::uint16_t kMonitorStackBytes = 8;  // an answer: JSR, JSR, PSHX, JSR
// The stack frame an interrupt, SWI or illegal opcode leaves: CCR, B, A, X, Y, PC.
inline constexpr std::uint16_t kFrameBytes = 9;

// The messages a session ends with or refuses with, as the user is told them.
inline constexpr const char* kNotStopped =
    "The program did not stop: it keeps interrupts masked, reads the SCI itself, or is halted "
    "by STOP, from which only IRQ, XIRQ or a reset wake the chip.";
inline constexpr const char* kMonitorGone =
    "The monitor on the HC11 stopped answering: the program may have overwritten it "
    "($0000-$00C3 and the pseudo-vectors at $00C4, $00F4 and $00F7).";

// The instruction's successors: where the program can be after it runs. The function the
// opcode table provides; a session may be given another (a stand-in in tests).
using Successors = std::function<std::vector<std::uint16_t>(
    ByteView code, const Registers& r,
    const std::function<Bytes(std::uint16_t, std::size_t)>& read)>;

class TalkerMonitor final : public Monitor {
  public:
    // Inside a frame that has begun (Frame::run, then begin()): downloads the monitor through
    // the boot loader, agrees the rate and reads CONFIG; every failure is a LinkError. part: the
    // part on the board (the caller's --chip, or identify's reading); successors: the opcode
    // table's. The program runs in the chip's bootstrap mode; a write to HPRIO (MDA) gives it
    // the expanded bus.
    TalkerMonitor(Frame& f, const sim::Variant& part, Successors successors);

    const sim::Variant& part() const override { return part_; }
    std::uint8_t config() const override { return config_; }
    Bytes read(std::uint16_t address, std::size_t length, const Progress& progress = {}) override;
    void write(std::uint16_t address, ByteView bytes, const Progress& progress = {}) override;
    void checkWrite(std::uint16_t address, ByteView bytes) override;
    Registers registers() override { return regs_; }
    void setRegisters(const Registers& registers) override;
    void setBreakpoint(std::uint16_t address) override;
    void clearBreakpoint(std::uint16_t address) override;
    std::vector<std::uint16_t> breakpoints() const override;
    void run(std::optional<std::uint16_t> address) override;
    std::optional<Stop> poll(const std::function<void(ByteView)>& output, Duration wait) override;
    Stop stop() override;
    bool running() const override { return running_; }
    void setOutput(std::function<void(ByteView)> output) override { output_ = std::move(output); }
    Stop step() override;

    // What kind of memory an address is, for the writes and the breakpoints. Other: the
    // expanded bus, once HPRIO's MDA gives it to the program; None: nothing answers there.
    enum class Kind { Ram, Registers, Eeprom, Rom, Monitor, Other, None };
    Kind kindOf(std::uint16_t address) const;

  private:
    void requireStopped(const char* what) const;
    // Refuses, before anything is written, a write that would cut the monitor's own line.
    void checkLineRegisters(std::uint16_t address, ByteView bytes);
    // Refuses a start where no program of the user's can be: the monitor's RAM, no memory.
    void checkStart(std::optional<std::uint16_t> address) const;
    // The part's memories as the session sees them, for a refusal's reason.
    std::string mapText() const;
    // A store of one byte by the talker, nothing checked.
    void store(std::uint16_t address, Byte value);
    // One EEPROM byte through its erase and programming cycles, timed here.
    void programEeprom(std::uint16_t address, Byte value);
    void eepromCycle(std::uint16_t address, Byte value, Byte latch);
    // The byte as the program has it, or a reason it cannot hold a breakpoint.
    void checkBreakpointPlace(std::uint16_t address) const;
    void writeFrame();
    // Before the program's first run its registers' frame goes below SP: refused where the user
    // has put bytes there in this session, which the frame would overwrite unseen.
    void checkFirstFrame() const;
    // Clears BPROT for the breakpoints' EEPROM cycles; what it held, to be put back, if anything.
    std::optional<Byte> openBprot();
    // The SWIs in; known: the program's bytes already read at some of those places.
    void insertBreakpoints(const std::set<std::uint16_t>& at,
                           const std::map<std::uint16_t, Byte>& known = {});
    // programRan: the program has run since they went in, and may have stored over them.
    void removeBreakpoints(bool programRan);
    // Where a step from the PC may end, each a place for a temporary breakpoint; known: the
    // bytes read at the PC. A LinkError (KeepTarget) where a step cannot be taken.
    std::set<std::uint16_t> stepPlaces(std::map<std::uint16_t, Byte>& known);
    void startRun(std::optional<std::uint16_t> address, bool step,
                  const std::set<std::uint16_t>& at,
                  const std::map<std::uint16_t, Byte>& known = {});
    // A stop announcement at the front of pending_, taken from it.
    struct Announcement {
        std::uint16_t frame;
        bool illegal;  // the illegal opcode trap, not an SWI or the SCI's interrupt
    };
    std::optional<Announcement> takeAnnouncement(const std::function<void(ByteView)>& output);
    Stop stopped(Announcement a, bool askedToStop);
    [[noreturn]] void ended(const std::string& text, const std::string& detail = {});

    Frame& f_;
    const sim::Variant& part_;
    Successors successors_;
    std::unique_ptr<fast::FastLink> link_;
    std::uint8_t config_ = 0;
    Byte sccr2_ = 0x0C;
    Registers regs_;
    std::uint16_t frame_ = 0;    // where the frame lies while the program is stopped
    bool frameWritten_ = false;  // the program has not run yet: the frame is the PC's alone
    std::bitset<0x10000> writtenBeforeRun_;  // what the user wrote before the first run
    // Where the program last stopped: the monitor's stack lies under it until the next start.
    std::optional<std::uint16_t> stackedAt_;
    bool running_ = false;
    bool bprotCleared_ = false;
    bool xCleared_ = false;     // the program has run with the CCR's X clear: the CPU keeps it so
    bool rieArmed_ = false;     // SCCR2's RIE stored for the last start, a step's
    bool expandedBus_ = false;  // HPRIO's MDA: a program's stack may lie on the bus
    bool bootRom_ = true;       // HPRIO's RBOOT: the boot ROM at $BF00-$BFFF
    std::function<void(ByteView)> output_;
    std::set<std::uint16_t> breakpoints_;
    std::map<std::uint16_t, Byte> inserted_;  // the SWIs in memory, with the program's bytes
    Bytes pending_;                           // what came while it ran, not yet passed on
    std::optional<Stop> queued_;              // a stop met before the run began (run's first step)
};

}  // namespace kestro::ops::monitor
