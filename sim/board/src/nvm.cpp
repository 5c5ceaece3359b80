// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/nvm.h"

#include <algorithm>
#include <limits>

namespace kestro::sim {

// ---- EEPROM

namespace {

// The cycles of E in a span of milliseconds, rounded up: E is a quarter of the crystal.
std::uint64_t cyclesOfMs(EClock clock, std::uint64_t ms) {
    return (std::uint64_t{clock.crystalHz} * ms + 3999) / 4000;
}

}  // namespace

std::uint64_t Eeprom::cycleTimeAt(EClock clock) {
    if (clock.crystalHz >= 8'000'000)
        return cyclesOfMs(clock, 10);
    if (clock.crystalHz >= 4'000'000)
        return cyclesOfMs(clock, 20);
    return std::numeric_limits<std::uint64_t>::max();
}

std::uint64_t Eeprom::rcSettleTimeAt(EClock clock) {
    return cyclesOfMs(clock, 10);
}

std::uint64_t Eeprom::rcCycleTimeAt(EClock clock) {
    return cyclesOfMs(clock, 20);
}

std::uint64_t Eprom::cycleTimeAt(EClock clock) {
    return cyclesOfMs(clock, 2);
}

Eeprom::Eeprom(const Variant& v, EClock clock)
    : v_(&v), clock_(clock), array_(v.eepromSize, 0xFF), config_(v.factoryConfig) {}

void Eeprom::attachEprom(Eprom* eprom) {
    eprom_ = eprom;
    if (eprom_)
        eprom_->setClock(clock_);
}

void Eeprom::setClock(EClock clock) {
    clock_ = clock;
    if (eprom_)
        eprom_->setClock(clock_);
}

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
    rcClock_ = false;  // OPTION's reset value has CSEL clear
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
    const std::uint8_t cell = offset < array_.size() ? array_[offset] : 0xFF;
    // With EELAT set the array is cut off from the bus: a read does not return the cell.
    return (pprog_ & pprog::EELAT) ? cutOff(cell) : cell;
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

void Eeprom::writePprog(std::uint8_t value, std::uint64_t cycle, bool programmingVoltage) {
    const std::uint8_t latches = pprog::EELAT | pprog::ELAT;
    const bool wasPgm = pprog_ & pprog::EEPGM;
    // Bit 5 is ELAT on the 711E9 and not implemented (reads 0) elsewhere (A8 technical data
    // 3.5.1; E family data sheet, PPROG).
    std::uint8_t next = eprom_ ? value : static_cast<std::uint8_t>(value & ~pprog::ELAT);
    if (wasPgm) {
        // While the programming voltage is on, the mode bits and the latches cannot change:
        // only clearing EPGM (with whatever else the write holds) is taken.
        if (next & pprog::EEPGM)
            next = pprog_;
    } else {
        // ELAT and EELAT are mutually exclusive: a write asking for both gets neither.
        if ((next & latches) == latches)
            next &= static_cast<std::uint8_t>(~(latches | pprog::EEPGM));
        // EPGM takes only when the latch it serves was set by an earlier write and stays set:
        // latch and voltage in one write start no cycle.
        if ((next & pprog::EEPGM) && !(pprog_ & next & latches))
            next &= static_cast<std::uint8_t>(~pprog::EEPGM);
    }
    if (wasPgm && !(next & pprog::EEPGM) && (pprog_ & pprog::EELAT))
        finishCycle(cycle);
    if (!wasPgm && (next & pprog::EEPGM)) {
        pgmStart_ = cycle;
        pumpClockChanged_ = false;
        const bool nothing =
            (next & pprog::EELAT) ? latched_ == Target::None : !(eprom_ && eprom_->latched());
        stray_ += nothing ? 1 : 0;
    }
    pprog_ = next;
    if (!(pprog_ & pprog::EELAT)) {
        latched_ = Target::None;
        latchData_ = 0xFF;
    }
    if (eprom_)
        eprom_->control(pprog_ & pprog::ELAT, (pprog_ & pprog::ELAT) && (pprog_ & pprog::EPGM),
                        cycle, programmingVoltage);
}

void Eeprom::selectPumpClock(bool rcClock, std::uint64_t cycle) {
    if (rcClock == rcClock_)
        return;
    rcClock_ = rcClock;
    rcSince_ = cycle;
    if (busy())
        pumpClockChanged_ = true;
}

bool Eeprom::cycleLongEnough(std::uint64_t end) const {
    if (pumpClockChanged_)
        return false;
    if (!rcClock_)
        return end - pgmStart_ >= cycleTime();
    return pgmStart_ >= rcSince_ + rcSettleTimeAt(clock_) &&
           end - pgmStart_ >= rcCycleTimeAt(clock_);
}

void Eeprom::finishCycle(std::uint64_t cycle) {
    // A cycle that was cut short, or whose pump had not settled on its clock, leaves the
    // cells as they were.
    if (!cycleLongEnough(cycle))
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
        // No page read says that a byte or row erase reaches CONFIG on every part (the A8's
        // CONFIG paragraphs were not found, and the E series is said to differ), so only the
        // bulk-erase mode addressed to CONFIG erases it, and it erases CONFIG alone.
        if (erase && (pprog_ & (pprog::BYTE | pprog::ROW)))
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

Eprom::Eprom(std::uint32_t size, EClock clock) : array_(size, 0xFF), clock_(clock) {}

void Eprom::factoryReset() {
    std::fill(array_.begin(), array_.end(), std::uint8_t{0xFF});
    reset();
}

void Eprom::reset() {
    elat_ = epgm_ = latched_ = false;
}

std::uint8_t Eprom::read(std::uint16_t offset) const {
    const std::uint8_t cell = offset < array_.size() ? array_[offset] : 0xFF;
    // With ELAT set the EPROM cannot be read: the bus does not carry the cell.
    return elat_ ? Eeprom::cutOff(cell) : cell;
}

void Eprom::writeArray(std::uint16_t offset, std::uint8_t value) {
    if (!elat_ || epgm_)
        return;
    latched_ = true;
    latchOffset_ = offset;
    latchData_ = value;
}

void Eprom::control(bool elat, bool epgm, std::uint64_t cycle, bool programmingVoltage) {
    if (!epgm_ && epgm) {
        pgmStart_ = cycle;
        voltageThroughout_ = programmingVoltage;
    }
    if (epgm_ && !epgm) {
        voltageThroughout_ = voltageThroughout_ && programmingVoltage;
        if (latched_ && voltageThroughout_ && cycle - pgmStart_ >= cycleTime() &&
            latchOffset_ < array_.size())
            array_[latchOffset_] &= latchData_;  // an EPROM cell only goes from 1 to 0
    }
    epgm_ = epgm;
    elat_ = elat;
    if (!elat_)
        latched_ = false;
}

}  // namespace kestro::sim
