// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/nvm.h"

#include <algorithm>

namespace kestro::sim {

// ---- EEPROM

Eeprom::Eeprom(const Variant& v) : v_(&v), array_(v.eepromSize, 0xFF), config_(v.factoryConfig) {}

void Eeprom::setVariant(const Variant& v) {
    v_ = &v;
    array_.assign(v.eepromSize, 0xFF);
    factoryReset();
}

void Eeprom::factoryReset() {
    std::fill(array_.begin(), array_.end(), std::uint8_t{0xFF});
    worn_.clear();
    config_ = v_->factoryConfig;
    reset();
}

void Eeprom::reset() {
    pprog_ = 0;
    bprot_ = bprot::ALL;
    latched_ = Target::None;
    latchData_ = 0xFF;
}

bool Eeprom::protectedOffset(std::uint16_t offset) const {
    // BPRT0..3 guard blocks that grow towards the top of the array: on the 512-byte parts
    // 32, 64, 128 and 288 bytes; on the 2 KB array of the 811E2 four blocks of 512.
    int block = 3;
    if (array_.size() <= 512) {
        if (offset < 0x20)
            block = 0;
        else if (offset < 0x60)
            block = 1;
        else if (offset < 0xE0)
            block = 2;
    } else {
        block = std::min(3, offset / 512);
    }
    return (bprot_ >> block) & 1;
}

std::uint8_t Eeprom::read(std::uint16_t offset) const {
    // With EELAT set the array is cut off from the bus: a read returns the data latched for
    // programming (or $FF when nothing is latched yet), never the cells.
    if (pprog_ & pprog::EELAT)
        return latched_ == Target::None ? 0xFF : latchData_;
    return offset < array_.size() ? array_[offset] : 0xFF;
}

void Eeprom::writeArray(std::uint16_t offset, std::uint8_t value, std::uint64_t) {
    // Without EELAT a write to the array does nothing; during a cycle the latch is frozen.
    if (!(pprog_ & pprog::EELAT) || (pprog_ & pprog::EEPGM))
        return;
    latched_ = Target::Array;
    latchOffset_ = offset;
    latchData_ = value;
}

void Eeprom::writeConfig(std::uint8_t value, std::uint64_t) {
    if (!(pprog_ & pprog::EELAT) || (pprog_ & pprog::EEPGM))
        return;
    latched_ = Target::Config;
    latchData_ = value;
}

void Eeprom::writePprog(std::uint8_t value, std::uint64_t cycle) {
    const bool wasLat = pprog_ & pprog::EELAT;
    const bool wasPgm = pprog_ & pprog::EEPGM;
    std::uint8_t next = value & static_cast<std::uint8_t>(~0x20);  // bit 5 is not there
    if (!wasLat && (next & pprog::EEPGM)) {
        // EELAT and EEPGM in one write: EEPGM stays clear, no cycle starts.
        next &= static_cast<std::uint8_t>(~pprog::EEPGM);
    }
    if (wasPgm && (next & pprog::EEPGM)) {
        // While the charge pump runs, the mode bits and the latch cannot be changed.
        next = pprog_;
    }
    if (wasPgm && !(next & pprog::EEPGM)) {
        finishCycle(cycle);
        pprog_ = next;
    } else {
        pprog_ = next;
        if (!wasPgm && (next & pprog::EEPGM))
            pgmStart_ = cycle;
    }
    if (!(pprog_ & pprog::EELAT)) {
        latched_ = Target::None;
        latchData_ = 0xFF;
    }
}

void Eeprom::finishCycle(std::uint64_t cycle) {
    // A cycle that was cut short leaves the cells as they were.
    if (cycle - pgmStart_ < kCycleTime)
        return;
    const bool erase = pprog_ & pprog::ERASE;
    if (latched_ == Target::None) {
        // An erase needs no data, but the address must have been written all the same:
        // nothing latched, nothing selected.
        return;
    }
    ++completed_;
    if (latched_ == Target::Config) {
        if (bprot_ & bprot::PTCON)
            return;
        config_ = erase ? std::uint8_t{0xFF} : static_cast<std::uint8_t>(config_ & latchData_);
        return;
    }
    if (!erase) {
        if (!protectedOffset(latchOffset_))
            array_[latchOffset_] &= latchData_;
        return;
    }
    std::size_t from = latchOffset_;
    std::size_t to = latchOffset_ + 1u;
    if (pprog_ & pprog::BYTE) {
        // one byte
    } else if (pprog_ & pprog::ROW) {
        from = latchOffset_ / kRowBytes * kRowBytes;
        to = from + kRowBytes;
    } else {
        from = 0;
        to = array_.size();
    }
    for (std::size_t i = from; i < to; ++i)
        if (!protectedOffset(static_cast<std::uint16_t>(i)))
            array_[i] = erased(i);
}

std::uint8_t Eeprom::erased(std::size_t offset) const {
    const auto w = worn_.find(static_cast<std::uint16_t>(offset));
    return w == worn_.end() ? std::uint8_t{0xFF} : static_cast<std::uint8_t>(~w->second);
}

void Eeprom::writeBprot(std::uint8_t value, bool canClear) {
    value &= bprot::ALL;
    // Bits can always be set; clearing them is only possible while the window is open.
    bprot_ = canClear ? value : static_cast<std::uint8_t>(bprot_ | value);
}

void Eeprom::eraseAllForSecurity() {
    std::fill(array_.begin(), array_.end(), std::uint8_t{0xFF});
    config_ = 0xFF;
}

// ---- EPROM

Eprom::Eprom(std::uint32_t size) : array_(size, 0xFF) {}

void Eprom::factoryReset() {
    std::fill(array_.begin(), array_.end(), std::uint8_t{0xFF});
    reset();
}

void Eprom::reset() {
    eprog_ = 0;
    latched_ = false;
}

std::uint8_t Eprom::read(std::uint16_t offset) const {
    if (eprog_ & eprog::ELAT)
        return latched_ ? latchData_ : 0xFF;
    return offset < array_.size() ? array_[offset] : 0xFF;
}

void Eprom::writeArray(std::uint16_t offset, std::uint8_t value) {
    if (!(eprog_ & eprog::ELAT) || (eprog_ & eprog::EPGM))
        return;
    latched_ = true;
    latchOffset_ = offset;
    latchData_ = value;
}

void Eprom::writeEprog(std::uint8_t value, std::uint64_t cycle, bool programmingVoltage) {
    const bool wasLat = eprog_ & eprog::ELAT;
    const bool wasPgm = eprog_ & eprog::EPGM;
    std::uint8_t next =
        value & (eprog::MBE | eprog::ELAT | eprog::EXCOL | eprog::EXROW | eprog::EPGM);
    if (!wasLat && (next & eprog::EPGM))
        next &= static_cast<std::uint8_t>(~eprog::EPGM);  // as with PPROG: no cycle
    if (wasPgm && (next & eprog::EPGM))
        next = eprog_;
    if (!wasPgm && (next & eprog::EPGM)) {
        pgmStart_ = cycle;
        voltageThroughout_ = programmingVoltage;
    }
    if (wasPgm && !(next & eprog::EPGM)) {
        voltageThroughout_ = voltageThroughout_ && programmingVoltage;
        if (latched_ && voltageThroughout_ && cycle - pgmStart_ >= kCycleTime &&
            latchOffset_ < array_.size())
            array_[latchOffset_] &= latchData_;  // an EPROM cell only goes from 1 to 0
    }
    eprog_ = next;
    if (!(eprog_ & eprog::ELAT))
        latched_ = false;
}

}  // namespace kestro::sim
