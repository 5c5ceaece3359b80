// SPDX-License-Identifier: GPL-3.0-or-later
// 68HC11 CPU core: registers, instruction execution and interrupt entry, counted in E cycles.
//
// The board owns memory, peripherals and the interrupt priority logic. It hands the CPU a Bus
// for every data and program access and an InterruptSource that says which interrupts are
// pending; the CPU applies the CCR masks, stacks and vectors as the M68HC11 Reference Manual
// (section 5, resets and interrupts) describes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace kestro::sim {

// Condition code register bits.
namespace ccr {
inline constexpr std::uint8_t S = 0x80;  // STOP disable
inline constexpr std::uint8_t X = 0x40;  // XIRQ mask
inline constexpr std::uint8_t H = 0x20;  // half carry
inline constexpr std::uint8_t I = 0x10;  // maskable interrupt mask
inline constexpr std::uint8_t N = 0x08;
inline constexpr std::uint8_t Z = 0x04;
inline constexpr std::uint8_t V = 0x02;
inline constexpr std::uint8_t C = 0x01;
}  // namespace ccr

// Vector addresses in the normal-mode vector table ($FFC0-$FFFF). Board code reports
// maskable sources with these; the CPU relocates them with Cpu::setVectorBase().
namespace vector {
inline constexpr std::uint16_t Sci = 0xFFD6;
inline constexpr std::uint16_t Spi = 0xFFD8;
inline constexpr std::uint16_t PulseAccInput = 0xFFDA;
inline constexpr std::uint16_t PulseAccOverflow = 0xFFDC;
inline constexpr std::uint16_t TimerOverflow = 0xFFDE;
inline constexpr std::uint16_t Toc5 = 0xFFE0;
inline constexpr std::uint16_t Toc4 = 0xFFE2;
inline constexpr std::uint16_t Toc3 = 0xFFE4;
inline constexpr std::uint16_t Toc2 = 0xFFE6;
inline constexpr std::uint16_t Toc1 = 0xFFE8;
inline constexpr std::uint16_t Tic3 = 0xFFEA;
inline constexpr std::uint16_t Tic2 = 0xFFEC;
inline constexpr std::uint16_t Tic1 = 0xFFEE;
inline constexpr std::uint16_t RealTime = 0xFFF0;
inline constexpr std::uint16_t Irq = 0xFFF2;
inline constexpr std::uint16_t Xirq = 0xFFF4;
inline constexpr std::uint16_t Swi = 0xFFF6;
inline constexpr std::uint16_t IllegalOpcode = 0xFFF8;
inline constexpr std::uint16_t CopFailure = 0xFFFA;
inline constexpr std::uint16_t ClockMonitor = 0xFFFC;
inline constexpr std::uint16_t Reset = 0xFFFE;
}  // namespace vector

struct Registers {
    std::uint8_t a = 0;
    std::uint8_t b = 0;
    std::uint16_t x = 0;
    std::uint16_t y = 0;
    std::uint16_t sp = 0;
    std::uint16_t pc = 0;
    std::uint8_t ccr = ccr::S | ccr::X | ccr::I;

    constexpr std::uint16_t d() const { return static_cast<std::uint16_t>(a << 8 | b); }
    constexpr void setD(std::uint16_t v) {
        a = static_cast<std::uint8_t>(v >> 8);
        b = static_cast<std::uint8_t>(v);
    }
    bool operator==(const Registers&) const = default;
};

// Every CPU memory access, program and data. The CPU performs exactly the data reads and
// writes the chip performs (a store does not read its target; BSET reads, then writes), so
// read side effects such as SCSR-then-SCDR flag clearing behave as on the chip. The chip's
// accesses to irrelevant addresses ($FFFF and the like in idle cycles) are not reproduced.
class Bus {
  public:
    virtual ~Bus() = default;
    virtual std::uint8_t read(std::uint16_t address) = 0;
    virtual void write(std::uint16_t address, std::uint8_t value) = 0;

    // Optional fast path. Return the 256 bytes that back the 256-byte page `page` when reads
    // (or writes) there are plain memory with no side effects, else nullptr. The CPU caches
    // the answers; call Cpu::remapMemory() whenever they change (INIT, CONFIG, ...).
    virtual const std::uint8_t* directReadPage(std::uint8_t page) {
        (void)page;
        return nullptr;
    }
    virtual std::uint8_t* directWritePage(std::uint8_t page) {
        (void)page;
        return nullptr;
    }
};

// What the board's interrupt logic has pending. Queried at instruction boundaries, only
// while the matching CCR mask is clear.
class InterruptSource {
  public:
    virtual ~InterruptSource() = default;
    // Level of the XIRQ pin (true = asserted).
    virtual bool xirqPending() const = 0;
    // The normal-mode vector address (e.g. vector::Sci) of the highest-priority pending
    // I-masked source, IRQ pin included, after HPRIO and local enables; nullopt if none.
    virtual std::optional<std::uint16_t> pendingMaskableVector() const = 0;
};

enum class RunState : std::uint8_t {
    Running,
    Waiting,   // after WAI: registers stacked, waiting for an unmasked interrupt
    Stopped,   // after STOP with S clear: clocks halted until XIRQ, unmasked IRQ or reset
    TestHalt,  // TEST opcode executed in a test mode: only reset leaves
};

enum class ResetSource : std::uint8_t { External, CopFailure, ClockMonitor };

class Cpu {
  public:
    explicit Cpu(Bus& bus, InterruptSource* interrupts = nullptr);

    // Reset as the chip does: CCR = S X I set, other registers unchanged, PC fetched from the
    // vector of `source` relative to the vector base.
    void reset(ResetSource source = ResetSource::External);
    // Reset state, but start at `pc` without a vector fetch (boards that model the bootstrap
    // ROM's download themselves start the user program at $0000).
    void resetAt(std::uint16_t pc);

    // Executes one instruction or takes one interrupt; returns the E cycles used. While
    // waiting (WAI), stopped (STOP) or test-halted it returns idleCycles() and stays so until
    // an interrupt (or reset) ends the state.
    int step();
    // Steps until at least `minCycles` E cycles have elapsed; returns the cycles used.
    std::uint64_t run(std::uint64_t minCycles);

    Registers regs;
    // Told of each vector the CPU takes (its normal-mode address, once the registers are
    // stacked) and of each RTI, for a debugging view that follows a monitor's stops.
    std::function<void(std::uint16_t normalVector)> onVector;
    std::function<void()> onReturn;

    std::uint64_t cycles() const { return cycles_; }
    RunState runState() const { return state_; }

    // Base of the 64-byte vector table: $FFC0 in normal modes, $BFC0 in special modes.
    void setVectorBase(std::uint16_t base) {
        vectorBase_ = static_cast<std::uint16_t>(base & 0xFFC0);
    }
    std::uint16_t vectorBase() const { return vectorBase_; }
    // Address actually read for a normal-mode vector address such as vector::Sci.
    std::uint16_t vectorAddress(std::uint16_t normalVector) const {
        return static_cast<std::uint16_t>(vectorBase_ | (normalVector & 0x3F));
    }

    void setInterruptSource(InterruptSource* interrupts) { interrupts_ = interrupts; }
    // Cycles reported per step while waiting, stopped or test-halted (>= 1).
    void setIdleCycles(int cycles) { idleCycles_ = cycles < 1 ? 1 : cycles; }
    int idleCycles() const { return idleCycles_; }
    // Oscillator start-up delay when leaving STOP: 4064 E cycles with OPTION.DLY = 1 (its
    // reset value), 4 with DLY = 0.
    void setStopRecoveryCycles(int cycles) { stopRecoveryCycles_ = cycles < 0 ? 0 : cycles; }
    // TEST ($00) is legal only in the special test mode; elsewhere it is an illegal opcode.
    void setTestOpcodeEnabled(bool enabled) { testOpcodeEnabled_ = enabled; }

    // Re-reads Bus::directReadPage/directWritePage for all pages.
    void remapMemory();

  private:
    friend struct CpuExec;

    std::uint8_t read8(std::uint16_t a) {
        if (const std::uint8_t* p = readPages_[a >> 8])
            return p[a & 0xFF];
        return bus_.read(a);
    }
    void write8(std::uint16_t a, std::uint8_t v) {
        if (std::uint8_t* p = writePages_[a >> 8]) {
            p[a & 0xFF] = v;
            return;
        }
        bus_.write(a, v);
    }
    std::uint16_t read16(std::uint16_t a) {
        const std::uint8_t hi = read8(a);
        return static_cast<std::uint16_t>(hi << 8 | read8(static_cast<std::uint16_t>(a + 1)));
    }
    void write16(std::uint16_t a, std::uint16_t v) {
        write8(a, static_cast<std::uint8_t>(v >> 8));
        write8(static_cast<std::uint16_t>(a + 1), static_cast<std::uint8_t>(v));
    }
    std::uint8_t fetch8() { return read8(regs.pc++); }
    std::uint16_t fetch16() {
        const std::uint16_t v = read16(regs.pc);
        regs.pc = static_cast<std::uint16_t>(regs.pc + 2);
        return v;
    }
    void push8(std::uint8_t v) { write8(regs.sp--, v); }
    void push16(std::uint16_t v) {
        push8(static_cast<std::uint8_t>(v));
        push8(static_cast<std::uint8_t>(v >> 8));
    }
    std::uint8_t pull8() { return read8(++regs.sp); }
    std::uint16_t pull16() {
        const std::uint8_t hi = pull8();
        return static_cast<std::uint16_t>(hi << 8 | pull8());
    }

    void stackAll();
    void enterVector(std::uint16_t normalVector, bool xirq);
    int takeInterrupt(std::uint16_t normalVector, bool xirq);
    int trapIllegal(std::uint16_t opcodeAddress, int cycles);
    int stepIdle();
    void resetCommon();

    Bus& bus_;
    InterruptSource* interrupts_;
    std::uint64_t cycles_ = 0;
    RunState state_ = RunState::Running;
    std::uint16_t vectorBase_ = 0xFFC0;
    int idleCycles_ = 1;
    int stopRecoveryCycles_ = 4064;
    bool testOpcodeEnabled_ = false;
    // The I bit cleared by CLI/TAP takes effect one instruction late (see CLI in the manual):
    // the instruction after it runs before a pending interrupt is taken.
    bool iMaskDelay_ = false;
    std::array<const std::uint8_t*, 256> readPages_{};
    std::array<std::uint8_t*, 256> writePages_{};
};

}  // namespace kestro::sim
