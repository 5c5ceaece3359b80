// SPDX-License-Identifier: GPL-3.0-or-later
// The chip's own non-volatile memories: the EEPROM with its CONFIG cell, programmed through
// PPROG, and the EPROM of the 711E9, programmed through EPROG. Both count time in E cycles.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "kestro/sim/board/variant.h"

namespace kestro::sim {

namespace pprog {
inline constexpr std::uint8_t ODD = 0x80;
inline constexpr std::uint8_t EVEN = 0x40;
inline constexpr std::uint8_t BYTE = 0x10;
inline constexpr std::uint8_t ROW = 0x08;
inline constexpr std::uint8_t ERASE = 0x04;
inline constexpr std::uint8_t EELAT = 0x02;
inline constexpr std::uint8_t EEPGM = 0x01;
}  // namespace pprog

namespace eprog {
inline constexpr std::uint8_t MBE = 0x80;
inline constexpr std::uint8_t ELAT = 0x20;
inline constexpr std::uint8_t EXCOL = 0x10;
inline constexpr std::uint8_t EXROW = 0x08;
inline constexpr std::uint8_t EPGM = 0x01;
}  // namespace eprog

// BPROT bits: PTCON protects CONFIG, BPRT3..0 four blocks of the EEPROM.
namespace bprot {
inline constexpr std::uint8_t PTCON = 0x10;
inline constexpr std::uint8_t ALL = 0x1F;
}  // namespace bprot

// EEPROM array, CONFIG cell and the PPROG/BPROT logic (MC68HC11A8 technical data 3.5;
// E series technical data 4.3).
class Eeprom {
  public:
    // 10 ms at E = 2 MHz: the programming and erase time the data sheet asks for.
    static constexpr std::uint64_t kCycleTime = 20'000;
    static constexpr int kRowBytes = 16;

    explicit Eeprom(const Variant& v);
    // Another part on the board: its array size and factory CONFIG, erased.
    void setVariant(const Variant& v);

    void factoryReset();  // erased array, factory CONFIG
    void reset();         // PPROG cleared, BPROT all set; any cycle in progress is abandoned

    // addr: offset in the array. While EELAT is set the array does not read as memory.
    std::uint8_t read(std::uint16_t offset) const;
    void writeArray(std::uint16_t offset, std::uint8_t value, std::uint64_t cycle);
    void writeConfig(std::uint8_t value, std::uint64_t cycle);

    std::uint8_t pprog() const { return pprog_; }
    void writePprog(std::uint8_t value, std::uint64_t cycle);

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

  private:
    enum class Target { None, Array, Config };
    bool protectedOffset(std::uint16_t offset) const;
    void finishCycle(std::uint64_t cycle);
    std::uint8_t erased(std::size_t offset) const;

    const Variant* v_;
    std::map<std::uint16_t, std::uint8_t> worn_;
    std::vector<std::uint8_t> array_;
    std::uint8_t config_;
    std::uint8_t pprog_ = 0;
    std::uint8_t bprot_ = bprot::ALL;
    Target latched_ = Target::None;
    std::uint16_t latchOffset_ = 0;
    std::uint8_t latchData_ = 0xFF;
    std::uint64_t pgmStart_ = 0;
    int completed_ = 0;
};

// EPROM of the 711E9 (MC68HC711E9 technical data, EPROM programming): ELAT latches an
// address and data, EPGM switches the programming voltage to the array. Needs +12 V on
// XIRQ/VPPE; without it a cycle changes nothing.
class Eprom {
  public:
    // 2 ms per byte at E = 2 MHz.
    static constexpr std::uint64_t kCycleTime = 4'000;

    explicit Eprom(std::uint32_t size);
    void factoryReset();  // erased: every byte $FF
    void reset();

    std::uint8_t read(std::uint16_t offset) const;
    void writeArray(std::uint16_t offset, std::uint8_t value);
    std::uint8_t eprog() const { return eprog_; }
    void writeEprog(std::uint8_t value, std::uint64_t cycle, bool programmingVoltage);

    std::vector<std::uint8_t>& array() { return array_; }
    const std::vector<std::uint8_t>& array() const { return array_; }

  private:
    std::vector<std::uint8_t> array_;
    std::uint8_t eprog_ = 0;
    bool latched_ = false;
    std::uint16_t latchOffset_ = 0;
    std::uint8_t latchData_ = 0xFF;
    std::uint64_t pgmStart_ = 0;
    bool voltageThroughout_ = false;
};

}  // namespace kestro::sim
