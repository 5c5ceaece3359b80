// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual HC11 board: a chip (CPU core, RAM, register block, SCI, EEPROM, EPROM, boot
// loader) and, on the expanded bus, the board's own devices. It runs in the virtual time of
// the link layer: attached to one VirtualLine, it is the far end of a serial cable.
//
// Time: the board turns the scheduler's time into E cycles (2 MHz: 500 ns each). A run slice
// every few hundred microseconds of line time runs the CPU up to that moment; a byte that
// arrives on the line first brings the CPU up to the moment of its stop bit. What the program
// sends goes onto the line at the time of the cycle it was written, however late it runs.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "kestro/sim/board/devices.h"
#include "kestro/sim/board/nvm.h"
#include "kestro/sim/board/ports.h"
#include "kestro/sim/board/sci.h"
#include "kestro/sim/board/timer.h"
#include "kestro/sim/board/variant.h"
#include "kestro/sim/cpu.h"
#include "virtual_line.h"

namespace kestro::sim {

// The one error type of the board: what went wrong with a saved state.
class BoardError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Register offsets in the register block (64 bytes, 96 on the F1) that the board itself handles.
namespace reg {
inline constexpr std::uint8_t SPCR = 0x28;
inline constexpr std::uint8_t BPROT = 0x35;
inline constexpr std::uint8_t EPROG = 0x36;  // the 711E20's EPROM register; reserved elsewhere
inline constexpr std::uint8_t OPTION = 0x39;
inline constexpr std::uint8_t COPRST = 0x3A;
inline constexpr std::uint8_t PPROG = 0x3B;
inline constexpr std::uint8_t HPRIO = 0x3C;
inline constexpr std::uint8_t INIT = 0x3D;
inline constexpr std::uint8_t TEST1 = 0x3E;
inline constexpr std::uint8_t CONFIG = 0x3F;
}  // namespace reg

// EPROG bits (711E20): the EPROM's latch and programming voltage. MBE, EXCOL and EXROW are
// kept as written and do nothing on the board: they serve the factory's tests.
namespace eprog {
inline constexpr std::uint8_t MBE = 0x80;
inline constexpr std::uint8_t ELAT = 0x20;
inline constexpr std::uint8_t EXCOL = 0x10;
inline constexpr std::uint8_t EXROW = 0x08;
inline constexpr std::uint8_t EPGM = 0x01;
inline constexpr std::uint8_t Writable = MBE | ELAT | EXCOL | EXROW | EPGM;
}  // namespace eprog

// HPRIO bits.
namespace hprio {
inline constexpr std::uint8_t RBOOT = 0x80;
inline constexpr std::uint8_t SMOD = 0x40;
inline constexpr std::uint8_t MDA = 0x20;
inline constexpr std::uint8_t IRV = 0x10;
}  // namespace hprio

// SPCR's port D wire-OR mode: TxD (PD1) only pulls low and rises through the board's pull-up.
inline constexpr std::uint8_t kDwom = 0x20;

// Where the RAM pseudo-vectors of bootstrap mode are: each interrupt vector of the boot ROM
// leads to a three-byte slot in RAM where a program puts a JMP (M68HC11 Reference Manual,
// bootstrap mode; the same table on all parts here).
struct PseudoVector {
    std::uint16_t vector;  // normal-mode vector address, e.g. vector::Sci
    std::uint16_t ram;     // where the boot ROM's vector leads
};
std::span<const PseudoVector> pseudoVectors();

struct BoardOptions {
    Chip chip = Chip::E9;
    // +12 V on XIRQ/VPPE (the 711E9's programming voltage).
    bool programmingVoltage = false;
    // How much line time one run slice covers.
    Duration slice = std::chrono::microseconds(500);
    // The part was made with the security option: only then does NOSEC clear in CONFIG make
    // the boot loader wipe the part (the standard parts ignore NOSEC).
    bool securityOption = false;
    // The pull-up TxD rises through while port D is wired-OR (SPCR DWOM, which the boot loader
    // sets), into kTxdLoadFarads of pin, cable and adapter input. The default is an adapter's
    // own weak input pull-up, which is all most users have: it damages characters above
    // txdLimitBaud() (docs/virtual-board.md). 0: a board with no pull-up at all, TxD never rises.
    double txdPullUpOhms = 200'000;
    // The crystal: E, and with it the boot loader's rates, the SCI and the timer, is a quarter
    // of it.
    std::uint32_t crystalHz = 8'000'000;
};

inline constexpr double kTxdLoadFarads = 30e-12;
// How long TxD takes to rise to half the supply (where the PC's receiver takes it as a 1) with
// DWOM set, and the highest rate at which a 1 after a 0 still reads as a 1 in the middle of its
// bit: half a bit must cover the rise.
Duration txdRiseTime(double pullUpOhms);
double txdLimitBaud(double pullUpOhms);

// One byte of the SCI's traffic: sent by the board (to the PC) or received from the line.
struct SerialEvent {
    bool fromBoard;
    Byte byte;
    std::uint64_t cycle;
};

// What the boot loader is doing, for displays and tests.
enum class BootPhase : std::uint8_t {
    SecureErase,  // a secured part erasing itself before it announces itself
    AwaitSync,    // break sent (and held), waiting for the first byte
    Loading,      // storing and echoing the download
    Running,      // the CPU runs the program
};

class Board final : private Bus, private InterruptSource {
  public:
    Board(Scheduler& scheduler, VirtualLine& line, BoardOptions options = {});
    ~Board() override;
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    // A reset with the mode pins in special bootstrap: the boot loader starts and announces
    // itself with a break. Non-volatile memories keep their contents; RAM keeps its too (as
    // it does over a reset with power on), except on a secured part.
    // While RESET is held, an instant press changes nothing: the chip is already in reset.
    void resetBootstrap();

    // RESET as a pin that a push-button holds low. While it is low the chip stops where it is:
    // the CPU, the timer and the SCI do not run, every register holds its reset value, what
    // arrives on RxD is lost, and TxD is an input that the pull-up takes high (a frame being
    // shifted out is cut short; the PC sees no break). powered() is false meanwhile. A press
    // on a board without power brings the power up with RESET held. Pressing again while
    // held keeps it low from now on and forgets a release that was waiting.
    void holdReset();
    // Lets RESET rise, no sooner than minimumHold after the press (later through the
    // scheduler); then the boot loader starts as after resetBootstrap(). Nothing while not
    // held.
    void releaseReset(Duration minimumHold = Duration{0});
    // Holds RESET now and lets it rise `hold` later; 0 is resetBootstrap() with the frame
    // under way cut.
    void pressReset(Duration hold);
    bool resetHeld() const { return resetHeld_; }

    // Changes the part on the board. Its non-volatile memories start from the factory state;
    // the board then waits for a reset.
    void setChip(Chip chip);
    const Variant& chip() const { return *variant_; }

    // Puts another crystal on the board, with the power off as one would: memories keep their
    // contents, and the board waits for a reset, after which E and everything it clocks run at
    // a quarter of the new crystal.
    void setCrystal(std::uint32_t crystalHz);
    std::uint32_t crystalHz() const { return options_.crystalHz; }

    void setProgrammingVoltage(bool on) { options_.programmingVoltage = on; }
    // The pull-up TxD rises through while DWOM is set (BoardOptions::txdPullUpOhms).
    void setTxdPullUp(double ohms) {
        options_.txdPullUpOhms = ohms;
        updateTxd();
    }
    bool programmingVoltage() const { return options_.programmingVoltage; }

    // ---- persistence: the non-volatile memories (internal EEPROM and CONFIG, EPROM, the
    // external EEPROM, the companion chip's EEPROM and registers) in one file per board in
    // the named folder.
    void save(const std::filesystem::path& folder) const;
    // Returns false when the folder holds no saved state (then nothing changes); throws
    // BoardError for a file that is there but cannot be used.
    bool load(const std::filesystem::path& folder);
    // Every memory as it leaves the factory (erased EEPROM and EPROM, factory CONFIG, the
    // companion chip's default registers); the board waits for a reset.
    void factoryReset();
    static constexpr const char* kStateFile = "virtual-hc11-board.txt";

    // ---- inspection
    BootPhase phase() const { return phase_; }
    // Where a resident monitor holds the program: entered at the SWI, SCI or illegal opcode
    // vector and not yet returned from (RTI); at is the SWI's own address, the next
    // instruction's or the illegal opcode's, from the frame stacked.
    enum class Halt : std::uint8_t { None, Breakpoint, FromPc, IllegalOpcode };
    struct MonitorHalt {
        Halt kind = Halt::None;
        std::uint16_t at = 0;
    };
    MonitorHalt monitorHalt() const { return halt_; }
    // Whether the SCI's receiver has PD0/RxD (SCCR2 RE): the serial line then drives the pin.
    bool sciReceives() { return portFunctions().sciReceives; }
    // False from construction, a part change or a factory reset until the next reset, and
    // while RESET is held.
    bool powered() const { return powered_; }
    Cpu& cpu() { return cpu_; }
    const Cpu& cpu() const { return cpu_; }
    std::uint64_t cycle() const;
    // A memory read as the CPU would see it now, without side effects on registers.
    std::uint8_t peek(std::uint16_t address);
    std::span<const std::uint8_t> ram() const { return ram_; }
    std::span<std::uint8_t> ram() { return ram_; }
    const Eeprom& eeprom() const { return eeprom_; }
    Eeprom& eeprom() { return eeprom_; }
    // The CONFIG value in force since the last reset.
    std::uint8_t config() const { return configReg_; }
    std::uint16_t eepromBase() const;
    std::span<const std::uint8_t> eprom() const;  // empty on parts without EPROM
    Eprom* epromDevice() { return eprom_ ? &*eprom_ : nullptr; }
    Sci& sci() { return sci_; }
    // Drives an input pin of port A (PA7 while an input, PA2-PA0) from outside, from the line's
    // time now on: a test, or a front end's click.
    void setPortAInput(int bit, bool level);
    // The IRQ and XIRQ pins, driven from outside (true: low, asserted). Undriven, the board's
    // pull-ups hold them high.
    void setIrqLow(bool low);
    void setXirqLow(bool low);
    bool irqLow() const { return irqLow_; }
    bool xirqLow() const { return xirqLow_; }
    // The main timer and port A: its pins for a front end, its input pins for a test to drive.
    Timer& timer() { return timer_; }
    const Timer& timer() const { return timer_; }
    // Every pin of ports A to E (port D: PD5-PD0), bit 0 of port A first: its name, whether the
    // chip reads it, drives it or carries the expanded bus on it, and its level now.
    std::vector<PinState> pins();
    // Drives an input pin of ports A to E ('A'..'E', bit 0-7) from outside, from the line's
    // time now on. Returns false, changing nothing, where the pin is no input at the moment.
    // An input that nothing drives reads high (the board's pull-ups).
    bool setPinInput(char port, int bit, bool level);
    BoardDevices& devices() { return devices_; }
    const BoardDevices& devices() const { return devices_; }
    std::uint8_t hprio() const { return hprio_; }
    bool expanded() const { return (hprio_ & hprio::MDA) != 0; }
    // How many times the COP watchdog has reset the chip.
    int copResets() const { return copResets_; }
    // Bytes the boot loader stored (the download, without the sync byte).
    std::size_t loadedBytes() const { return loaded_; }

    // Grows whenever a memory that the board window shows may have changed.
    std::uint64_t revision() const { return revision_ + devices_.revision(); }

    // Runs the CPU up to the line's time now (the run slices do this on their own).
    void catchUp();
    // The serial line the board hangs on: its toTarget direction carries what the PC sends.
    VirtualLine& line() { return line_; }

    // The serial traffic of the user's program: every byte the program writes to SCDR and
    // every frame that reaches RxD, from the moment the CPU first runs outside the internal
    // RAM after a reset (a talker there, such as the RAM download's, jumping to the program it
    // loaded) until the next reset by the user. The last kSerialLogBytes bytes are kept.
    const std::deque<SerialEvent>& serialLog() const { return serialLog_; }
    // Grows with every byte logged, also once the oldest are dropped.
    std::uint64_t serialCount() const { return serialCount_; }
    void clearSerialLog() { serialLog_.clear(); }
    static constexpr std::size_t kSerialLogBytes = 4096;

    // Sees every frame that reaches the chip's RxD while its receiver is on, as sampled.
    std::function<void(Byte byte, bool framingError)> onReceived;

  private:
    // Bus
    std::uint8_t read(std::uint16_t address) override;
    void write(std::uint16_t address, std::uint8_t value) override;
    const std::uint8_t* directReadPage(std::uint8_t page) override;
    std::uint8_t* directWritePage(std::uint8_t page) override;
    // InterruptSource
    bool xirqPending() const override { return xirqLow_; }
    std::optional<std::uint16_t> pendingMaskableVector() const override;

    enum class Area : std::uint8_t { None, Registers, Ram, Eeprom, BootRom, Rom, Eprom, External };
    Area areaOf(std::uint16_t address) const;
    std::uint8_t registerOffset(std::uint16_t address) const;
    void writeEprog(std::uint8_t value, std::uint64_t cycle);
    std::uint8_t readRegister(std::uint8_t offset);
    void writeRegister(std::uint8_t offset, std::uint8_t value);
    void remap();
    bool specialMode() const { return (hprio_ & hprio::SMOD) != 0; }
    bool protectionWindowOpen() const;
    PortFunctions portFunctions();
    bool userProgramRuns();
    void logSerial(bool fromBoard, Byte byte);

    std::uint64_t cycleAt(TimePoint t) const;
    TimePoint timeOfCycle(std::uint64_t cycle) const;
    void catchUpTo(TimePoint t);
    void scheduleSlice();
    void slice();
    void lineReceived(Byte byte, bool framingError);
    void buildBootRom();
    void resetChip(std::uint64_t cycle);
    bool copRunning() const;
    std::uint64_t copDeadline() const;
    void copReset();
    void startBoot();
    void announce();
    void updateTxd();
    void loaderByte(Byte byte, bool framingError);
    void scheduleIdleEnd();
    void startProgram(std::uint16_t pc);
    void cancelEvents();
    void chipChanged();
    // A part change or a factory reset of a powered board is a power cycle: TxD stays low
    // until the next reset.
    void holdTxdLow();
    void cancelRelease();
    static constexpr Duration kPowerUpMark = std::chrono::milliseconds(10);

    Scheduler& scheduler_;
    VirtualLine& line_;
    BoardOptions options_;
    const Variant* variant_;

    // Cached memory map for the CPU's fast path, rebuilt by remap(). Declared before the CPU,
    // whose constructor already asks for the direct pages.
    std::array<Area, 256> pageArea_{};
    bool mapReady_ = false;

    Cpu cpu_;
    MonitorHalt halt_;
    Sci sci_;
    Timer timer_;
    Ports ports_;
    Eeprom eeprom_;
    std::optional<Eprom> eprom_;
    BoardDevices devices_;

    std::vector<std::uint8_t> ram_;
    std::vector<std::uint8_t> rom_;  // mask ROM: contents unknown to us, reads $FF
    std::array<std::uint8_t, 256> bootRom_{};
    std::array<std::uint8_t, 96> regs_{};  // the F1's block is the largest
    std::uint8_t eprog_ = 0;
    std::uint8_t configReg_ = 0;
    std::uint8_t init_ = 0x01;
    std::uint8_t hprio_ = 0;
    std::uint8_t option_ = 0;
    bool initWritten_ = false;
    bool optionWritten_ = false;
    bool irqLow_ = false;
    bool xirqLow_ = false;
    bool irqEdge_ = false;           // a falling edge on IRQ waits to be taken (IRQE set)
    bool copArmed_ = false;          // $55 written to COPRST
    std::uint64_t copServiced_ = 0;  // cycle of the last $AA after $55 (or of the reset)
    int copResets_ = 0;
    std::uint64_t resetCycle_ = 0;

    // Time: the cycle counter and the line time of cycle 0. While the CPU runs, the count is
    // the CPU's own plus an offset, so that every bus access sees the cycle it happens in.
    std::uint64_t cycle_ = 0;
    std::uint64_t cpuOffset_ = 0;
    TimePoint epoch_{0};
    std::optional<Scheduler::EventId> sliceEvent_;
    TimePoint sliceDue_{0};
    std::optional<Scheduler::EventId> bootEvent_;

    BootPhase phase_ = BootPhase::AwaitSync;
    bool powered_ = false;  // false until the first reset: nothing runs, nothing is sent
    bool txdHeldLow_ = false;
    bool resetHeld_ = false;
    TimePoint resetPressedAt_{0};
    TimePoint releaseDue_{0};
    std::optional<Scheduler::EventId> releaseEvent_;
    std::size_t loaded_ = 0;
    TimePoint lastLoaderByte_{0};

    std::uint64_t revision_ = 0;

    bool userProgram_ = false;  // the CPU has run outside the internal RAM since the reset
    std::deque<SerialEvent> serialLog_;
    std::uint64_t serialCount_ = 0;
};

}  // namespace kestro::sim
