// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/devices.h"

#include <algorithm>

namespace kestro::sim {

namespace {

constexpr std::uint8_t kSeqA = 0xAA, kSeqB = 0x55;
constexpr std::uint8_t kSdpOn = 0xA0, kSixByte = 0x80, kSdpOff = 0x20;

constexpr BoardDevices::Placement kPlacements[] = {
    {BoardDevices::Kind::Ram, 0x0000, BoardDevices::kRamSize},
    {BoardDevices::Kind::ParallelEeprom, BoardDevices::kParallelEepromBase, PageEeprom::kSize},
};

}  // namespace

// ---- PageEeprom

PageEeprom::PageEeprom() : cells_(kSize, 0xFF) {}

void PageEeprom::factoryReset() {
    std::fill(cells_.begin(), cells_.end(), std::uint8_t{0xFF});
    sdp_ = false;
    busyUntil_ = 0;
    reset();
    ++revision_;
}

void PageEeprom::reset() {
    loading_ = false;
    loadIsDummy_ = false;
    unlocked_ = false;
    enableAfterCycle_ = false;
    pageBuf_.fill(std::nullopt);
    sequence_.clear();
}

void PageEeprom::settle(std::uint64_t cycle) {
    if (!(loading_ || enableAfterCycle_) || cycle < lastWrite_ + loadWindow())
        return;
    // The load window has closed: the write cycle starts and the page is committed. Reads
    // cannot see the cells until the cycle ends, so committing now is not visible early.
    busyUntil_ = lastWrite_ + loadWindow() + cycleCycles_;
    ++writeCycles_;
    if (loading_ && !loadIsDummy_) {
        for (std::uint16_t i = 0; i < kPageSize; ++i)
            if (pageBuf_[i])
                cells_[loadPage_ + i] = *pageBuf_[i];
        ++revision_;
    }
    if (enableAfterCycle_) {
        sdp_ = true;
        ++revision_;
    }
    loading_ = false;
    loadIsDummy_ = false;
    enableAfterCycle_ = false;
    unlocked_ = false;
    pageBuf_.fill(std::nullopt);
    sequence_.clear();
}

bool PageEeprom::busy(std::uint64_t cycle) {
    settle(cycle);
    return cycle < busyUntil_;
}

std::uint8_t PageEeprom::peek(std::uint16_t offset, std::uint64_t cycle) {
    settle(cycle);
    if (cycle < busyUntil_) {
        // Data polling: bit 7 is the complement of the last byte written until the cycle ends.
        return static_cast<std::uint8_t>((~lastData_ & 0x80) | (toggle_ ? 0x40 : 0) |
                                         (lastData_ & 0x3F));
    }
    offset %= kSize;
    const std::uint8_t cell = cells_[offset];
    if (!loading_ || loadWindow() == 0)
        return cell;
    // Inside the byte-load window.
    const std::uint16_t at = static_cast<std::uint16_t>(offset - loadPage_);
    const bool inLoad = offset >= loadPage_ && at < pageSize && pageBuf_[at];
    const std::uint8_t loaded = inLoad ? *pageBuf_[at] : cell;
    if (windowRead == WindowRead::Loaded)
        return loaded;
    const auto v = static_cast<std::uint8_t>(cell ^ 0x5A);
    return v != loaded ? v : static_cast<std::uint8_t>(cell ^ 0xA5);
}

std::uint8_t PageEeprom::read(std::uint16_t offset, std::uint64_t cycle) {
    const std::uint8_t v = peek(offset, cycle);
    if (cycle < busyUntil_)
        toggle_ = !toggle_;  // bit 6 toggles on each read while the cycle runs
    return v;
}

void PageEeprom::loadData(std::uint16_t offset, std::uint8_t value, std::uint64_t cycle) {
    // The load's first write latches the page (A6-A12 on a 64-byte part) until its cycle
    // ends: a byte for another page lands in the latched one, at its place within a page.
    if (loading_)
        offset = static_cast<std::uint16_t>(loadPage_ + (offset & (pageSize - 1)));
    const std::uint16_t page = static_cast<std::uint16_t>(offset & ~(pageSize - 1));
    const bool blocked = (sdp_ && !unlocked_) || (isProtected && isProtected(offset));
    if (!loading_) {
        loading_ = true;
        loadPage_ = page;
        loadIsDummy_ = blocked;
    }
    if (!blocked) {
        pageBuf_[offset - page] = value;
        loadIsDummy_ = false;
    }
    lastData_ = value;
    lastWrite_ = cycle;
}

void PageEeprom::flushSequenceAsData(std::uint64_t cycle) {
    // Without protection the bytes of a broken-off sequence are ordinary writes.
    const auto seq = std::move(sequence_);
    sequence_.clear();
    if (sdp_)
        return;
    for (const Pending& p : seq)
        loadData(p.offset, p.value, cycle);
}

void PageEeprom::write(std::uint16_t offset, std::uint8_t value, std::uint64_t cycle) {
    offset %= kSize;
    settle(cycle);
    if (cycle < busyUntil_)
        return;  // ignored during a write cycle
    if (!sequence_.empty() && cycle >= lastWrite_ + windowCycles_)
        sequence_.clear();

    // The command sequences: AA to $1555, 55 to $0AAA, then A0 (protect and write) or
    // 80 AA 55 followed by 20 (unprotect) or an extra code, all to $1555/$0AAA.
    static const Pending kProtect[] = {{kCmd1, kSeqA}, {kCmd2, kSeqB}, {kCmd1, kSdpOn}};
    static const Pending kSix[] = {
        {kCmd1, kSeqA}, {kCmd2, kSeqB}, {kCmd1, kSixByte}, {kCmd1, kSeqA}, {kCmd2, kSeqB}};
    const std::size_t n = sequence_.size();
    const Pending w{offset, value};
    auto same = [](const Pending& a, const Pending& b) {
        return a.offset == b.offset && a.value == b.value;
    };
    bool extends = false;
    if (n < 2 && same(w, kProtect[n]))
        extends = true;
    else if (n == 2 && (same(w, kProtect[2]) || same(w, kSix[2])))
        extends = true;
    else if (n >= 3 && n < 5 && sequence_[2].value == kSixByte && same(w, kSix[n]))
        extends = true;
    if (extends) {
        sequence_.push_back(w);
        lastWrite_ = cycle;
        if (sequence_.size() == 3 && value == kSdpOn) {
            // Protection on; the bytes that follow in this load are written.
            // Protection on; the bytes that follow in this load are written. Without any, the
            // write cycle only sets the protection.
            sequence_.clear();
            unlocked_ = true;
            enableAfterCycle_ = true;
            lastData_ = value;
        }
        return;
    }
    if (n == 5 && offset == kCmd1) {
        sequence_.clear();
        if (value == kSdpOff) {
            sdp_ = false;
            ++revision_;
        } else if (onExtraCommand) {
            extraCommand = value;
            onExtraCommand();
            extraCommand.reset();
        }
        // The command itself takes a write cycle.
        busyUntil_ = cycle + cycleCycles_;
        lastData_ = value;
        return;
    }
    if (n > 0)
        flushSequenceAsData(cycle);
    loadData(offset, value, cycle);
}

// ---- Companion

Companion::Companion() {
    eeprom_.isProtected = [this](std::uint16_t offset) {
        return ((stored_.bpr >> (offset >> 10)) & 1) != 0;
    };
    eeprom_.onExtraCommand = [this] {
        if (eeprom_.extraCommand == kRestoreDefaults) {
            stored_ = CompanionRegisters{};
            eeprom_.setSdp(false);
            ++revision_;
        }
    };
}

void Companion::factoryReset() {
    eeprom_.factoryReset();
    stored_ = CompanionRegisters{};
    regBusyUntil_ = 0;
    reset();
    ++revision_;
}

void Companion::reset() {
    eeprom_.reset();
    sfrInUse_ = stored_.sfr;
    eemInUse_ = stored_.eem;
    portB_ = portC_ = ddrC_ = 0;
}

std::optional<std::uint16_t> Companion::registerBase() const {
    const unsigned unit = sfrInUse_ & 0x7F;
    if (!(sfrInUse_ & 0x80) || unit > 0xF)
        return std::nullopt;
    return static_cast<std::uint16_t>((unit << 12) + kRegisterOffset);
}

std::uint8_t Companion::readRegister(std::uint8_t offset, std::uint64_t cycle) {
    switch (offset) {
        case PORTB:
            return portB_;
        case PORTC:
            return portC_;
        case DDRC:
            return ddrC_;
        case BPR:
            return stored_.bpr;
        case EEM:
            return stored_.eem;
        case SFR:
            return stored_.sfr;
        case STATUS:
            return static_cast<std::uint8_t>(
                (cycle < regBusyUntil_ || eeprom_.busy(cycle) ? 0x80 : 0) |
                (eeprom_.sdp() ? 0x01 : 0));
        default:
            return 0;
    }
}

void Companion::writeRegister(std::uint8_t offset, std::uint8_t value, std::uint64_t cycle) {
    switch (offset) {
        case PORTB:
            portB_ = value;
            return;
        case PORTC:
            portC_ = value;
            return;
        case DDRC:
            ddrC_ = value;
            return;
        default:
            break;
    }
    if (offset != BPR && offset != EEM && offset != SFR)
        return;
    // The non-volatile registers: refused while protection is on or a write cycle runs.
    if (eeprom_.sdp() || cycle < regBusyUntil_ || eeprom_.busy(cycle))
        return;
    if (offset == SFR && !(value & 0x80))
        return;
    if (offset == BPR)
        stored_.bpr = value;
    else if (offset == EEM)
        stored_.eem = static_cast<std::uint8_t>(value & 0x2F);
    else
        stored_.sfr = value;
    regBusyUntil_ = cycle + eeprom_.writeCycleCycles();
    ++revision_;
}

// ---- BoardDevices

std::span<const BoardDevices::Placement> BoardDevices::placements() {
    return kPlacements;
}

BoardDevices::BoardDevices() : ram_(kRamSize, 0x00) {}

void BoardDevices::factoryReset() {
    std::fill(ram_.begin(), ram_.end(), std::uint8_t{0});
    eeprom_.factoryReset();
    companion_.factoryReset();
    if (onMapChanged)
        onMapChanged();
}

void BoardDevices::reset() {
    eeprom_.reset();
    companion_.reset();
    if (onMapChanged)
        onMapChanged();
}

BoardDevices::Hit BoardDevices::decode(std::uint16_t a) const {
    if (const auto base = companion_.registerBase();
        base && a >= *base && a < *base + Companion::kRegisterCount)
        return Hit::CompanionRegs;
    const std::uint16_t cb = companion_.eepromBase();
    if (a >= cb && a - cb < PageEeprom::kSize)
        return Hit::CompanionEeprom;
    if (a >= kParallelEepromBase && a - kParallelEepromBase < PageEeprom::kSize)
        return Hit::Eeprom;
    if (a < kRamSize)
        return Hit::Ram;
    return Hit::None;
}

std::uint8_t BoardDevices::read(std::uint16_t a, std::uint64_t cycle) {
    switch (decode(a)) {
        case Hit::CompanionRegs:
            return companion_.readRegister(
                static_cast<std::uint8_t>(a - *companion_.registerBase()), cycle);
        case Hit::CompanionEeprom:
            return companion_.eeprom().read(static_cast<std::uint16_t>(a - companion_.eepromBase()),
                                            cycle);
        case Hit::Eeprom:
            return eeprom_.read(static_cast<std::uint16_t>(a - kParallelEepromBase), cycle);
        case Hit::Ram:
            return ram_[a];
        case Hit::None:
            break;
    }
    return floatingBus(a);  // nothing drives the data bus
}

std::uint8_t BoardDevices::peek(std::uint16_t a, std::uint64_t cycle) {
    switch (decode(a)) {
        case Hit::CompanionRegs:
            return companion_.readRegister(
                static_cast<std::uint8_t>(a - *companion_.registerBase()), cycle);
        case Hit::CompanionEeprom:
            return companion_.eeprom().peek(static_cast<std::uint16_t>(a - companion_.eepromBase()),
                                            cycle);
        case Hit::Eeprom:
            return eeprom_.peek(static_cast<std::uint16_t>(a - kParallelEepromBase), cycle);
        default:
            return read(a, cycle);
    }
}

void BoardDevices::write(std::uint16_t a, std::uint8_t v, std::uint64_t cycle) {
    switch (decode(a)) {
        case Hit::CompanionRegs:
            companion_.writeRegister(static_cast<std::uint8_t>(a - *companion_.registerBase()), v,
                                     cycle);
            break;
        case Hit::CompanionEeprom:
            companion_.eeprom().write(static_cast<std::uint16_t>(a - companion_.eepromBase()), v,
                                      cycle);
            break;
        case Hit::Eeprom:
            eeprom_.write(static_cast<std::uint16_t>(a - kParallelEepromBase), v, cycle);
            break;
        case Hit::Ram:
            ram_[a] = v;
            break;
        case Hit::None:
            break;
    }
}

std::uint8_t* BoardDevices::ramPage(std::uint8_t page) {
    const std::uint16_t base = static_cast<std::uint16_t>(page << 8);
    for (unsigned i = 0; i < 256; ++i)
        if (decode(static_cast<std::uint16_t>(base + i)) != Hit::Ram)
            return nullptr;
    return &ram_[base];
}

}  // namespace kestro::sim
