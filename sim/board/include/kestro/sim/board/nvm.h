// SPDX-License-Identifier: GPL-3.0-or-later
// The chip's own non-volatile memories: the EEPROM with its CONFIG cell and the EPROM of the
// 711E9, both programmed through PPROG. Both count time in E cycles and ask for their
// programming time in time, at the board's E.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "kestro/sim/board/e_clock.h"
#include "kestro/sim/board/variant.h"

namespace kestro::sim {

namespace pprog {
inline constexpr std::uint8_t ODD = 0x80;
inline constexpr std::uint8_t EVEN = 0x40;
// The 711E9's EPROM latch; not implemented (reads 0) on the other parts.
inline constexpr std::uint8_t ELAT = 0x20;
inline constexpr std::uint8_t BYTE = 0x10;
inline constexpr std::uint8_t ROW = 0x08;
inline constexpr std::uint8_t ERASE = 0x04;
inline constexpr std::uint8_t EELAT = 0x02;
inline constexpr std::uint8_t EEPGM = 0x01;
// On the 711E9 bit 0 switches the programming voltage to whichever array is latched.
inline constexpr std::uint8_t EPGM = EEPGM;
}  // namespace pprog

// BPROT bits: PTCON protects CONFIG, BPRT3..0 four blocks of the EEPROM.
namespace bprot {
inline constexpr std::uint8_t PTCON = 0x10;
inline constexpr std::uint8_t ALL = 0x1F;
}  // namespace bprot

class Eprom;

// EEPROM array, CONFIG cell and the PPROG/BPROT logic (MC68HC11A8 technical data 3.5;
// M68HC11E family data sheet, EEPROM and EPROM sections). On the 711E9 PPROG also drives the
// EPROM (ELAT, EPGM): attach it with attachEprom().
class Eeprom {
  public:
    static constexpr int kRowBytes = 16;

    // The E cycles a program or erase cycle must last at a crystal (MC68HC11A8 technical data
    // 3.5, p. 3-6): 10 ms at E = 2 MHz, where the charge pump is driven by E. Below 2 MHz the
    // pump is weaker and the manual asks for "as much as" 20 ms: the board asks for all 20.
    // Below 1 MHz the pump wants the R-C clock (CSEL in OPTION): on E there no cycle is ever
    // long enough. Above 2 MHz nothing is said: 10 ms still.
    static std::uint64_t cycleTimeAt(EClock clock);
    // On the R-C clock (CSEL set, at any E): the pump counts only from 10 ms after CSEL was set
    // (A8 technical data 3.5, p. 3-6), and, no time being given for a cycle on that clock, a
    // cycle lasts the longest the manual names, 20 ms. Both in time, as E cycles of the board.
    static std::uint64_t rcSettleTimeAt(EClock clock);
    static std::uint64_t rcCycleTimeAt(EClock clock);
    std::uint64_t cycleTime() const { return cycleTimeAt(clock_); }

    explicit Eeprom(const Variant& v, EClock clock = {});
    // Another part on the board: its array size and factory CONFIG, erased.
    void setVariant(const Variant& v);

    void factoryReset();  // erased array, factory CONFIG
    void reset();         // PPROG cleared, BPROT all set; any cycle in progress is abandoned

    // The EPROM that PPROG's ELAT and EPGM drive (the 711E9's), or nullptr. It runs from the
    // same E.
    void attachEprom(Eprom* eprom);
    // Another crystal: the cycles of a programming time follow it, the attached EPROM's too.
    void setClock(EClock clock);

    // What a read of a cell returns while its array is latched for programming: the data sheets
    // leave it undefined (the array is cut off from the bus). The board answers the cell's
    // complement, which is never the cell and never reads as erased where the cell is.
    static std::uint8_t cutOff(std::uint8_t cell) { return static_cast<std::uint8_t>(~cell); }

    // addr: offset in the array. While EELAT is set the array does not read as memory.
    std::uint8_t read(std::uint16_t offset) const;
    void writeArray(std::uint16_t offset, std::uint8_t value, std::uint64_t cycle);
    void writeConfig(std::uint8_t value, std::uint64_t cycle);

    std::uint8_t pprog() const { return pprog_; }
    // programmingVoltage: +12 V on XIRQ/VPPE, which only the 711E9's EPROM needs.
    void writePprog(std::uint8_t value, std::uint64_t cycle, bool programmingVoltage = false);

    // OPTION's CSEL as written at a cycle: the charge pump on the R-C clock or on E. A change
    // while the programming voltage is on spoils that cycle.
    void selectPumpClock(bool rcClock, std::uint64_t cycle);
    bool pumpOnRcClock() const { return rcClock_; }

    std::uint8_t bprotReg() const { return bprot_; }
    // canClear: within the 64 cycles after reset, or any time in a special mode.
    void writeBprot(std::uint8_t value, bool canClear);

    // The EEPROM cell behind CONFIG (what the next reset loads).
    std::uint8_t configCell() const { return config_; }
    void setConfigCell(std::uint8_t v) { config_ = v; }
    std::vector<std::uint8_t>& array() { return array_; }
    const std::vector<std::uint8_t>& array() const { return array_; }

    // The secured boot's erase: array and CONFIG back to $FF.
    void eraseAllForSecurity();

    // A cell worn out by too many cycles: the given bits stay 0 through every erase from now
    // on (the data sheets give about 10,000 cycles). A factory reset or another part brings new
    // cells.
    void wearOut(std::uint16_t offset, std::uint8_t bitsStuckAtZero) {
        worn_[offset] |= bitsStuckAtZero;
    }

    bool busy() const { return (pprog_ & pprog::EEPGM) != 0; }
    int cyclesCompleted() const { return completed_; }
    // Times the programming voltage went on (EEPROM or EPROM) with no address of that memory
    // latched: a program that latched an address where the memory is not. What silicon does
    // then is not documented; the board changes nothing and counts them for tests.
    int strayPulses() const { return stray_; }

  private:
    enum class Target { None, Array, Config };
    bool protectedOffset(std::uint16_t offset) const;
    bool cycleLongEnough(std::uint64_t end) const;
    void finishCycle(std::uint64_t cycle);
    std::uint8_t erased(std::size_t offset) const;

    const Variant* v_;
    EClock clock_;
    Eprom* eprom_ = nullptr;
    std::map<std::uint16_t, std::uint8_t> worn_;
    std::vector<std::uint8_t> array_;
    std::uint8_t config_;
    std::uint8_t pprog_ = 0;
    std::uint8_t bprot_ = bprot::ALL;
    Target latched_ = Target::None;
    std::uint16_t latchOffset_ = 0;
    std::uint8_t latchData_ = 0xFF;
    std::uint64_t pgmStart_ = 0;
    bool rcClock_ = false;
    std::uint64_t rcSince_ = 0;
    bool pumpClockChanged_ = false;  // during the cycle under way
    int completed_ = 0;
    int stray_ = 0;
};

// EPROM of the 711E9 (M68HC11E family data sheet, EPROM programming): PPROG's ELAT latches an
// address and data, EPGM switches the programming voltage to the array. Needs +12 V on
// XIRQ/VPPE; without it a cycle changes nothing. The Eeprom that owns PPROG drives it.
class Eprom {
  public:
    // 2 ms a byte, in time whatever E is: nothing read ties the EPROM's programming time to E.
    static std::uint64_t cycleTimeAt(EClock clock);
    std::uint64_t cycleTime() const { return cycleTimeAt(clock_); }

    explicit Eprom(std::uint32_t size, EClock clock = {});
    void setClock(EClock clock) { clock_ = clock; }
    void factoryReset();  // erased: every byte $FF
    void reset();

    std::uint8_t read(std::uint16_t offset) const;
    void writeArray(std::uint16_t offset, std::uint8_t value);
    // PPROG's ELAT and EPGM as they are after a write, at the given cycle.
    void control(bool elat, bool epgm, std::uint64_t cycle, bool programmingVoltage);
    bool latchOpen() const { return elat_; }
    bool latched() const { return latched_; }

    std::vector<std::uint8_t>& array() { return array_; }
    const std::vector<std::uint8_t>& array() const { return array_; }

  private:
    std::vector<std::uint8_t> array_;
    EClock clock_;
    bool elat_ = false;
    bool epgm_ = false;
    bool latched_ = false;
    std::uint16_t latchOffset_ = 0;
    std::uint8_t latchData_ = 0xFF;
    std::uint64_t pgmStart_ = 0;
    bool voltageThroughout_ = false;
};

}  // namespace kestro::sim
