// SPDX-License-Identifier: GPL-3.0-or-later
// The board's devices on the HC11's expanded bus: external RAM, an 8 KB parallel EEPROM in
// the 28C64 style, and a companion chip in the style of the HC11 port-replacement EEPROMs.
// docs/virtual-board.md is the contract for all three: map, registers, command sequences and
// timings. Time is counted in E cycles of the HC11 (2 MHz).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "kestro/sim/board/e_clock.h"

namespace kestro::sim {

// What a read returns where nothing answers: no memory inside the chip in single-chip mode,
// no device on the expanded bus. The manuals leave it undefined (the data bus keeps whatever
// was last on it). The board answers a mix of the address's bits that is never $FF, so that
// nothing absent can pass for erased memory.
inline std::uint8_t floatingBus(std::uint16_t address) {
    const auto v = static_cast<std::uint8_t>((address >> 8) ^ (address & 0xFF) ^ 0x3C);
    return v == 0xFF ? std::uint8_t{0x7E} : v;
}

// An 8 KB parallel EEPROM with page writes, data polling and JEDEC software data protection,
// addressed by offset ($0000-$1FFF) within its window. The companion chip uses the same cell
// array logic with its block protection on top.
class PageEeprom {
  public:
    static constexpr std::uint16_t kSize = 0x2000;
    static constexpr std::uint16_t kPageSize = 64;
    // A page load ends when no byte follows within 150 us; the write cycle then takes 5 ms.
    // Both are times, whatever E the board's crystal gives: the part has its own clock.
    static constexpr Duration kByteLoadWindow = std::chrono::microseconds(150);
    static constexpr Duration kWriteCycle = std::chrono::milliseconds(5);
    // Command addresses of the JEDEC sequences, adapted to 13 address lines.
    static constexpr std::uint16_t kCmd1 = 0x1555;
    static constexpr std::uint16_t kCmd2 = 0x0AAA;

    // Extra command: the third byte of a six-byte sequence AA 55 80 AA 55 <code>.
    enum class Command : std::uint8_t { None, SdpOn, SdpOff, Extra };

    PageEeprom();
    // The board's E, in which the cycles given to every call are counted.
    void setEClock(EClock e) {
        windowCycles_ = e.cyclesIn(kByteLoadWindow);
        cycleCycles_ = e.cyclesIn(kWriteCycle);
    }
    std::uint64_t loadWindowCycles() const { return windowCycles_; }
    std::uint64_t writeCycleCycles() const { return cycleCycles_; }
    void factoryReset();
    // Power-on or board reset: an interrupted page load is lost; a write cycle in progress
    // completes (it has already been committed).
    void reset();

    std::uint8_t read(std::uint16_t offset, std::uint64_t cycle);
    std::uint8_t peek(std::uint16_t offset, std::uint64_t cycle);
    void write(std::uint16_t offset, std::uint8_t value, std::uint64_t cycle);

    bool busy(std::uint64_t cycle);
    // Brings the cells up to the cycle: a page load whose window has closed is committed.
    void sync(std::uint64_t cycle) { settle(cycle); }
    // As of the last access or sync.
    bool sdp() const { return sdp_; }
    void setSdp(bool on) { sdp_ = on; }
    std::vector<std::uint8_t>& cells() { return cells_; }
    const std::vector<std::uint8_t>& cells() const { return cells_; }

    // Which offsets may not be written (the companion chip's BPR); none by default.
    std::function<bool(std::uint16_t)> isProtected;
    // The last byte of a six-byte AA 55 80 AA 55 xx sequence that is not 20 (SDP off).
    std::optional<std::uint8_t> extraCommand;
    std::function<void()> onExtraCommand;
    // Bumped whenever the cells or the protection change.
    std::uint64_t revision() const { return revision_; }
    // The write cycles run so far, each after its load window.
    std::uint64_t writeCycles() const { return writeCycles_; }
    // The bytes one load may hold, a power of two up to kPageSize: 1 makes a part that writes
    // a byte at a time, whose cycle starts with the write, so that it ignores the rest of a
    // load.
    std::uint16_t pageSize = kPageSize;
    // What a read inside a page load's byte-load window returns. No data sheet read says, so the
    // board answers a value that is neither the cell nor the byte loaded for it (Undefined): a
    // talker that reads there is visibly wrong. Loaded shows what a part that put out the byte
    // just loaded would do to such a talker.
    enum class WindowRead : std::uint8_t { Undefined, Loaded };
    WindowRead windowRead = WindowRead::Undefined;

  private:
    struct Pending {
        std::uint16_t offset;
        std::uint8_t value;
    };
    void settle(std::uint64_t cycle);
    std::uint64_t loadWindow() const { return pageSize == 1 ? 0 : windowCycles_; }
    void flushSequenceAsData(std::uint64_t cycle);
    void loadData(std::uint16_t offset, std::uint8_t value, std::uint64_t cycle);

    std::vector<std::uint8_t> cells_;
    std::uint64_t writeCycles_ = 0;
    std::uint64_t windowCycles_ = EClock{}.cyclesIn(kByteLoadWindow);
    std::uint64_t cycleCycles_ = EClock{}.cyclesIn(kWriteCycle);
    bool sdp_ = false;

    // Page load in progress.
    bool loading_ = false;
    bool loadIsDummy_ = false;  // protected writes: a write cycle runs, nothing changes
    std::uint16_t loadPage_ = 0;
    std::array<std::optional<std::uint8_t>, kPageSize> pageBuf_{};
    std::uint64_t lastWrite_ = 0;
    bool enableAfterCycle_ = false;
    bool unlocked_ = false;  // AA 55 A0 seen: this page load may write

    // Write cycle.
    std::uint64_t busyUntil_ = 0;
    std::uint8_t lastData_ = 0xFF;
    bool toggle_ = false;

    std::vector<Pending> sequence_;
    std::uint64_t revision_ = 0;
};

// The companion chip's non-volatile registers.
struct CompanionRegisters {
    std::uint8_t bpr = 0x00;  // bit n protects the 1 KB block n of its EEPROM
    std::uint8_t eem = 0x07;  // bits 2..0: 8 KB block of the map; bit 3 reset polarity;
                              // bit 5 port B carries A7-A0
    std::uint8_t sfr = 0x81;  // bit 7 set; bits 6..0: register block location in 4 KB units
    bool operator==(const CompanionRegisters&) const = default;
};

class Companion {
  public:
    // Register offsets within its block.
    static constexpr std::uint8_t PORTB = 0x0, PORTC = 0x1, DDRC = 0x2, BPR = 0x4, EEM = 0x5,
                                  SFR = 0x6, STATUS = 0x7;
    static constexpr std::uint16_t kRegisterOffset = 0x40;  // within the 4 KB unit
    static constexpr std::uint16_t kRegisterCount = 16;
    // Restores the default registers and turns SDP off: AA 55 80 AA 55 30.
    static constexpr std::uint8_t kRestoreDefaults = 0x30;

    Companion();
    void factoryReset();
    // Takes the registers written since the last reset into use (SFR and EEM move the
    // register block and the EEPROM only at a reset, as CONFIG does on the HC11).
    void reset();

    std::optional<std::uint16_t> registerBase() const;  // nullopt: outside the 64 KB map
    std::uint16_t eepromBase() const { return static_cast<std::uint16_t>((eemInUse_ & 7) << 13); }

    std::uint8_t readRegister(std::uint8_t offset, std::uint64_t cycle);
    void writeRegister(std::uint8_t offset, std::uint8_t value, std::uint64_t cycle);

    PageEeprom& eeprom() { return eeprom_; }
    const PageEeprom& eeprom() const { return eeprom_; }
    // The registers as stored (what the next reset takes into use).
    const CompanionRegisters& stored() const { return stored_; }
    void setStored(const CompanionRegisters& r) { stored_ = r, ++revision_; }
    std::uint64_t revision() const { return revision_ + eeprom_.revision(); }

  private:
    PageEeprom eeprom_;
    CompanionRegisters stored_;
    std::uint8_t sfrInUse_ = 0x81;
    std::uint8_t eemInUse_ = 0x07;
    std::uint8_t portB_ = 0, portC_ = 0, ddrC_ = 0;
    std::uint64_t regBusyUntil_ = 0;
    std::uint64_t revision_ = 0;
};

// Everything on the expanded bus, decoded in the board's priority: the companion chip's
// registers, its EEPROM, the parallel EEPROM, then the external RAM. The chip's own
// resources take precedence over all of them; the board checks those first.
class BoardDevices {
  public:
    // Fixed devices of the board (the companion chip moves and is not in this table).
    enum class Kind : std::uint8_t { Ram, ParallelEeprom };
    struct Placement {
        Kind kind;
        std::uint16_t base;
        std::uint32_t size;
    };
    static std::span<const Placement> placements();
    static constexpr std::uint16_t kParallelEepromBase = 0x8000;
    static constexpr std::uint32_t kRamSize = 0x8000;

    BoardDevices();
    void factoryReset();
    void reset();

    std::uint8_t read(std::uint16_t address, std::uint64_t cycle);
    std::uint8_t peek(std::uint16_t address, std::uint64_t cycle);
    void write(std::uint16_t address, std::uint8_t value, std::uint64_t cycle);
    // The RAM behind a page that only the external RAM decodes, else nullptr.
    std::uint8_t* ramPage(std::uint8_t page);

    std::vector<std::uint8_t>& ram() { return ram_; }
    const std::vector<std::uint8_t>& ram() const { return ram_; }
    PageEeprom& parallelEeprom() { return eeprom_; }
    const PageEeprom& parallelEeprom() const { return eeprom_; }
    Companion& companion() { return companion_; }
    const Companion& companion() const { return companion_; }
    void setEClock(EClock e) {
        eeprom_.setEClock(e);
        companion_.eeprom().setEClock(e);
    }

    // Commits what the EEPROMs' page loads hold once their windows have closed, so that
    // displays and saved states see it; the board calls this every run slice.
    void sync(std::uint64_t cycle) {
        eeprom_.sync(cycle);
        companion_.eeprom().sync(cycle);
    }

    // Set by the board: the decoding changed (a reset moved the companion chip).
    std::function<void()> onMapChanged;
    std::uint64_t revision() const {
        return ramRevision_ + eeprom_.revision() + companion_.revision();
    }
    void touchRam() { ++ramRevision_; }

  private:
    enum class Hit : std::uint8_t { None, CompanionRegs, CompanionEeprom, Eeprom, Ram };
    Hit decode(std::uint16_t address) const;

    std::vector<std::uint8_t> ram_;
    PageEeprom eeprom_;
    Companion companion_;
    std::uint64_t ramRevision_ = 0;
};

}  // namespace kestro::sim
