// SPDX-License-Identifier: GPL-3.0-or-later
// The chip's memory map and register block, from the part's row: where RAM, the registers, the
// EEPROM, the boot ROM and the ROM or EPROM answer, and what each register write does.
#include "board_internal.h"

namespace kestro::sim {

using namespace detail;

// ---- memory map

Board::Area Board::areaOf(std::uint16_t a) const {
    const std::uint16_t regBase = static_cast<std::uint16_t>((init_ & 0x0F) << 12);
    if (a >= regBase && a - regBase < variant_->registerBlockSize)
        return Area::Registers;
    const std::uint16_t ramBase = static_cast<std::uint16_t>((init_ & 0xF0) << 8);
    if (a >= ramBase && a - ramBase < static_cast<int>(ram_.size()))
        return Area::Ram;
    if (configReg_ & config::EEON) {
        const std::uint16_t eb = eepromBase();
        if (a >= eb && a - eb < variant_->eepromSize)
            return Area::Eeprom;
    }
    if ((hprio_ & hprio::RBOOT) && (a & 0xFF00) == kBootRomBase)
        return Area::BootRom;
    if ((configReg_ & config::ROMON) && variant_->romOffset(a))
        return variant_->romIsEprom ? Area::Eprom : Area::Rom;
    if (expanded())
        return Area::External;
    return Area::None;
}

void Board::remap() {
    for (unsigned p = 0; p < 256; ++p) {
        const std::uint16_t base = static_cast<std::uint16_t>(p << 8);
        const Area first = areaOf(base);
        bool uniform = true;
        for (unsigned i = 1; i < 256 && uniform; ++i)
            uniform = areaOf(static_cast<std::uint16_t>(base + i)) == first;
        pageArea_[p] = uniform ? first : Area::None;
        if (!uniform)
            pageArea_[p] = Area::Registers;  // mixed page: no fast path
    }
    mapReady_ = true;
    cpu_.remapMemory();
}

const std::uint8_t* Board::directReadPage(std::uint8_t page) {
    return directWritePage(page);
}

std::uint8_t* Board::directWritePage(std::uint8_t page) {
    if (!mapReady_)
        return nullptr;
    const std::uint16_t base = static_cast<std::uint16_t>(page << 8);
    switch (pageArea_[page]) {
        case Area::Ram:
            return &ram_[base - ((init_ & 0xF0) << 8)];
        case Area::External:
            return devices_.ramPage(page);
        default:
            return nullptr;
    }
}

std::uint8_t Board::read(std::uint16_t a) {
    switch (areaOf(a)) {
        case Area::Registers:
            return readRegister(registerOffset(a));
        case Area::Ram:
            return ram_[a - ((init_ & 0xF0) << 8)];
        case Area::Eeprom:
            return eeprom_.read(static_cast<std::uint16_t>(a - eepromBase()));
        case Area::BootRom:
            return bootRom_[a - kBootRomBase];
        case Area::Rom:
            return rom_[*variant_->romOffset(a)];
        case Area::Eprom:
            return eprom_->read(static_cast<std::uint16_t>(*variant_->romOffset(a)));
        case Area::External:
            return devices_.read(a, cycle());
        case Area::None:
            break;
    }
    return floatingBus(a);
}

std::uint8_t Board::peek(std::uint16_t a) {
    switch (areaOf(a)) {
        case Area::Registers: {
            const std::uint8_t offset = registerOffset(a);
            if (offset >= sci::BAUD && offset <= sci::SCDR)
                return sci_.peek(offset, cycle());
            return readRegister(offset);
        }
        case Area::External:
            return devices_.peek(a, cycle());
        default:
            return read(a);
    }
}

void Board::write(std::uint16_t a, std::uint8_t v) {
    switch (areaOf(a)) {
        case Area::Registers:
            writeRegister(registerOffset(a), v);
            return;
        case Area::Ram:
            ram_[a - ((init_ & 0xF0) << 8)] = v;
            return;
        case Area::Eeprom:
            eeprom_.writeArray(static_cast<std::uint16_t>(a - eepromBase()), v, cycle());
            return;
        case Area::Eprom:
            eprom_->writeArray(static_cast<std::uint16_t>(*variant_->romOffset(a)), v);
            return;
        case Area::External:
            devices_.write(a, v, cycle());
            return;
        default:
            return;  // ROM and nothing at all
    }
}

std::uint8_t Board::registerOffset(std::uint16_t a) const {
    return static_cast<std::uint8_t>(a - ((init_ & 0x0F) << 12));
}

void Board::writeEprog(std::uint8_t v, std::uint64_t c) {
    // ELAT (bit 5) latches address and data on the next array write; EPGM (bit 0) then puts
    // the programming voltage on it, and takes only while ELAT was already set by an earlier
    // write, as PPROG's latches and EEPGM do. While EPGM is on, only clearing it is taken.
    const bool wasPgm = eprog_ & eprog::EPGM;
    std::uint8_t next = v & eprog::Writable;
    if (wasPgm && (next & eprog::EPGM))
        next = eprog_;
    if (!wasPgm && (next & eprog::EPGM) && !(eprog_ & eprog::ELAT))
        next &= static_cast<std::uint8_t>(~eprog::EPGM);
    eprog_ = next;
    eprom_->control(eprog_ & eprog::ELAT, (eprog_ & eprog::ELAT) && (eprog_ & eprog::EPGM), c,
                    options_.programmingVoltage);
    ++revision_;
}

bool Board::protectionWindowOpen() const {
    return specialMode() || cycle() - resetCycle_ < 64;
}

std::uint8_t Board::readRegister(std::uint8_t offset) {
    const std::uint64_t c = cycle();
    if (offset >= sci::BAUD && offset <= sci::SCDR)
        return sci_.read(offset, c);
    if (timer::owns(offset))
        return timer_.read(offset, c);
    if (ports::owns(offset))
        return ports_.read(offset, portFunctions());
    switch (offset) {
        case reg::PPROG:
            return eeprom_.pprog();
        case reg::BPROT:
            return eeprom_.bprotReg();
        case reg::EPROG:
            // The 711E20's EPROM register; reserved, reading 0, on every other part.
            return variant_->epromControl == EpromControl::Eprog ? eprog_ : 0x00;
        case reg::HPRIO:
            return hprio_;
        case reg::INIT:
            return init_;
        case reg::OPTION:
            return option_;
        case reg::CONFIG:
            return configReg_;
        default:
            return regs_[offset];
    }
}

void Board::writeRegister(std::uint8_t offset, std::uint8_t v) {
    const std::uint64_t c = cycle();
    if (offset >= sci::BAUD && offset <= sci::SCDR) {
        if (offset == sci::SCDR && userProgramRuns() && (sci_.peek(sci::SCCR2, c) & sci::TE))
            logSerial(true, v);
        sci_.write(offset, v, c);
        return;
    }
    if (timer::owns(offset)) {
        timer_.write(offset, v, c, specialMode());
        return;
    }
    if (ports::owns(offset)) {
        ports_.write(offset, v);
        return;
    }
    switch (offset) {
        case reg::PPROG:
            eeprom_.writePprog(v, c, options_.programmingVoltage);
            ++revision_;
            return;
        case reg::BPROT:
            eeprom_.writeBprot(v, protectionWindowOpen());
            return;
        case reg::EPROG:
            // Reserved on every part but the 711E20 (the 711E9 programs its EPROM through
            // PPROG): a write does nothing there.
            if (variant_->epromControl == EpromControl::Eprog)
                writeEprog(v, c);
            return;
        case reg::HPRIO: {
            std::uint8_t next = hprio_;
            if (specialMode()) {
                // RBOOT, MDA and IRV are writable in the special modes only; SMOD can be
                // cleared (leaving the special modes for good) but never set.
                const std::uint8_t free = hprio::RBOOT | hprio::MDA | hprio::IRV;
                next = static_cast<std::uint8_t>((next & ~free) | (v & free));
                if (!(v & hprio::SMOD))
                    next &= static_cast<std::uint8_t>(~hprio::SMOD);
            }
            next = static_cast<std::uint8_t>((next & 0xF0) | (v & 0x0F));
            hprio_ = next;
            cpu_.setVectorBase(specialMode() ? kSpecialVectors : kNormalVectors);
            cpu_.setTestOpcodeEnabled(specialMode() && expanded());
            remap();
            return;
        }
        case reg::INIT:
            // Once within 64 cycles of reset in the normal modes; any time in special modes.
            if (specialMode() || (!initWritten_ && protectionWindowOpen())) {
                init_ = v;
                initWritten_ = true;
                remap();
            }
            return;
        case reg::COPRST:
            // $55 arms, $AA then clears the COP (RM 5.2.2).
            if (v == 0x55) {
                copArmed_ = true;
            } else if (v == 0xAA && copArmed_) {
                copArmed_ = false;
                copServiced_ = c;
            }
            return;
        case reg::OPTION:
            // IRQE is one of OPTION's bits that the normal modes let a program write only once,
            // within 64 cycles of reset; the special modes at any time.
            if (!specialMode() && (optionWritten_ || !protectionWindowOpen())) {
                constexpr std::uint8_t protect = kIrqe | kCopRate;
                v = static_cast<std::uint8_t>((v & ~protect) | (option_ & protect));
            }
            optionWritten_ = true;
            option_ = v;
            // CSEL is not among the bits the manuals make write-once: writable at any time.
            eeprom_.selectPumpClock(option_ & kCsel, c);
            return;
        case reg::CONFIG:
            eeprom_.writeConfig(v, c);
            return;
        case reg::SPCR:
            regs_[offset] = v;
            updateTxd();
            return;
        default:
            regs_[offset] = v;
            return;
    }
}

}  // namespace kestro::sim
