// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/board.h"

#include <algorithm>
#include <cmath>

#include "board_internal.h"

namespace kestro::sim {

using namespace detail;

Board::Board(Scheduler& scheduler, VirtualLine& line, BoardOptions options)
    : scheduler_(scheduler),
      line_(line),
      options_(options),
      variant_(&variant(options.chip)),
      cpu_(*this, this),
      sci_(line.toPc, line.toTarget, EClock{options.crystalHz},
           [this](Byte b, bool fe) { lineReceived(b, fe); }),
      eeprom_(*variant_, EClock{options.crystalHz}) {
    epoch_ = scheduler_.now();
    // While waiting (WAI, STOP) the CPU reports idle time in steps of a few cycles.
    cpu_.setIdleCycles(8);
    cpu_.onVector = [this](std::uint16_t v) {
        const auto stacked =
            static_cast<std::uint16_t>(peek(static_cast<std::uint16_t>(cpu_.regs.sp + 8)) << 8 |
                                       peek(static_cast<std::uint16_t>(cpu_.regs.sp + 9)));
        if (v == vector::Swi)
            halt_ = {Halt::Breakpoint, static_cast<std::uint16_t>(stacked - 1)};
        else if (v == vector::Sci)
            halt_ = {Halt::FromPc, stacked};
        else if (v == vector::IllegalOpcode)
            halt_ = {Halt::IllegalOpcode, stacked};
    };
    cpu_.onReturn = [this] { halt_ = {}; };
    sci_.setEpoch(epoch_);
    // Before the PC samples a frame from the chip, the chip runs up to that moment (but not past
    // a byte due to reach it first), so that a BAUD write under way reaches the wire in time.
    line_.toPc.setBeforeSample([this](TimePoint t) {
        const auto due = line_.toTarget.nextSampleAt();
        catchUpTo(due && *due < t ? *due : t);
    });
    devices_.onMapChanged = [this] { remap(); };
    devices_.setEClock(EClock{options_.crystalHz});
    chipChanged();
}

Board::~Board() {
    cancelEvents();
    cancelRelease();
    line_.toTarget.setReceiver(0, nullptr);
    line_.toTarget.setMajoritySampling(false);
    line_.toPc.setBeforeSample(nullptr);
}

void Board::cancelEvents() {
    if (sliceEvent_)
        scheduler_.cancel(*sliceEvent_);
    if (bootEvent_)
        scheduler_.cancel(*bootEvent_);
    sliceEvent_.reset();
    bootEvent_.reset();
}

void Board::chipChanged() {
    ram_.assign(variant_->ramSize, 0x00);
    rom_.assign(variant_->romIsEprom ? 0 : variant_->romSize(), 0xFF);
    if (variant_->romIsEprom)
        eprom_.emplace(variant_->romSize());
    else
        eprom_.reset();
    eeprom_.setVariant(*variant_);
    // Only where PPROG drives the EPROM; the 711E20's has its own register.
    eeprom_.attachEprom(eprom_ && variant_->epromControl == EpromControl::Pprog ? &*eprom_
                                                                                : nullptr);
    configReg_ = static_cast<std::uint8_t>(eeprom_.configCell() & variant_->configMask);
    init_ = 0x01;
    hprio_ = kBootHprio;
    buildBootRom();
    remap();
    ++revision_;
}

void Board::setChip(Chip chip) {
    const bool wasPowered = powered_;
    cancelEvents();
    powered_ = false;
    phase_ = BootPhase::AwaitSync;
    variant_ = &variant(chip);
    options_.chip = chip;
    chipChanged();
    devices_.reset();
    sci_.reset(cycle());
    if (wasPowered)
        holdTxdLow();
    timer_.reset(cycle());
}

void Board::factoryReset() {
    const bool wasPowered = powered_;
    cancelEvents();
    powered_ = false;
    phase_ = BootPhase::AwaitSync;
    eeprom_.factoryReset();
    if (eprom_)
        eprom_->factoryReset();
    devices_.factoryReset();
    std::fill(ram_.begin(), ram_.end(), std::uint8_t{0});
    configReg_ = static_cast<std::uint8_t>(eeprom_.configCell() & variant_->configMask);
    sci_.reset(cycle());
    timer_.reset(cycle());
    remap();
    ++revision_;
    if (wasPowered)
        holdTxdLow();
}

void Board::holdTxdLow() {
    // A chip without power drives its TxD pin low, which the PC's UART takes for a break.
    if (!txdHeldLow_)
        line_.toPc.holdBreak(scheduler_.now());
    txdHeldLow_ = true;
}

std::uint16_t Board::eepromBase() const {
    // On the 811E2 and F1 CONFIG bits 7-4 pick the EEPROM's 4 KB boundary.
    return variant_->eepromBaseFor(configReg_);
}

std::span<const std::uint8_t> Board::eprom() const {
    if (!eprom_)
        return {};
    return eprom_->array();
}

std::uint64_t Board::cycle() const {
    return phase_ == BootPhase::Running ? cpuOffset_ + cpu_.cycles() : cycle_;
}

std::uint64_t Board::cycleAt(TimePoint t) const {
    return EClock{options_.crystalHz}.cyclesIn(t - epoch_);
}

TimePoint Board::timeOfCycle(std::uint64_t cycle) const {
    return epoch_ + EClock{options_.crystalHz}.timeOf(cycle);
}

// ---- time

void Board::scheduleSlice() {
    sliceDue_ = scheduler_.now() + options_.slice;
    sliceEvent_ = scheduler_.schedule(sliceDue_, [this] { slice(); });
}

void Board::slice() {
    // Each slice runs up to its own time, or to a byte due before it, and the next follows on
    // the same grid: a slice that runs late must not carry the chip past what the line
    // brings before then, and the slices behind catch up one after another.
    sliceEvent_.reset();
    const auto byteDue = line_.toTarget.nextSampleAt();
    catchUpTo(byteDue && *byteDue < sliceDue_ ? *byteDue : sliceDue_);
    sliceDue_ += options_.slice;
    sliceEvent_ = scheduler_.schedule(sliceDue_, [this] { slice(); });
}

void Board::catchUp() {
    catchUpTo(scheduler_.now());
}

void Board::catchUpTo(TimePoint t) {
    if (!powered_)
        return;
    const std::uint64_t target = cycleAt(t);
    if (phase_ == BootPhase::Running) {
        // The CPU runs in stretches that end at the COP's deadline, which a service moves on.
        while (cycle() < target) {
            const bool cop = copRunning();
            const std::uint64_t stop = cop ? std::min(target, copDeadline()) : target;
            if (stop > cycle())
                cpu_.run(stop - cycle());
            if (copRunning() && cycle() >= copDeadline())
                copReset();
        }
    } else {
        cycle_ = std::max(cycle_, target);
    }
    sci_.advanceTo(cycle());
    timer_.advanceTo(cycle());
    devices_.sync(cycle());
}

void Board::setIrqLow(bool low) {
    catchUp();
    if (low && !irqLow_ && (option_ & kIrqe))
        irqEdge_ = true;
    irqLow_ = low;
}

void Board::setXirqLow(bool low) {
    catchUp();
    xirqLow_ = low;
}

void Board::setPortAInput(int bit, bool level) {
    const TimePoint now = scheduler_.now();
    catchUpTo(now);
    // The edge belongs to the line's time, even where the CPU has run an instruction past it.
    timer_.setPortAInput(bit, level, cycleAt(now));
}

bool Board::userProgramRuns() {
    if (userProgram_ || phase_ != BootPhase::Running)
        return userProgram_;
    // Checked only when a byte passes, which a talker in the internal RAM never sends from
    // anywhere else: the first byte of the program it started is the first one logged.
    const std::uint16_t ramBase = static_cast<std::uint16_t>((init_ & 0xF0) << 8);
    const std::uint16_t pc = cpu_.regs.pc;
    userProgram_ = pc < ramBase || pc - ramBase >= static_cast<int>(ram_.size());
    return userProgram_;
}

void Board::logSerial(bool fromBoard, Byte byte) {
    if (serialLog_.size() == kSerialLogBytes)
        serialLog_.pop_front();
    serialLog_.push_back({fromBoard, byte, cycle()});
    ++serialCount_;
}

PortFunctions Board::portFunctions() {
    const std::uint8_t sccr2 = sci_.peek(sci::SCCR2, cycle());
    PortFunctions f;
    f.expanded = expanded();
    f.sciTransmits = (sccr2 & sci::TE) != 0;
    f.sciReceives = (sccr2 & sci::RE) != 0;
    // TxD idles high between frames; a break held with SBK holds it low. The bits of a frame
    // under way are not shown on the pin.
    f.txdLevel = (sccr2 & sci::SBK) == 0;
    return f;
}

std::vector<PinState> Board::pins() {
    catchUp();
    const PortFunctions f = portFunctions();
    std::vector<PinState> out;
    out.reserve(38);
    const std::uint8_t aOut = timer_.portAOutputs();
    const std::uint8_t aPins = timer_.portAPins();
    for (int bit = 0; bit < 8; ++bit) {
        const bool o = (aOut >> bit) & 1;
        out.push_back({Ports::pinName('A', bit), 'A', bit,
                       o ? PinDirection::Output : PinDirection::Input, ((aPins >> bit) & 1) != 0});
    }
    for (char port = 'B'; port <= 'E'; ++port) {
        const std::uint8_t bus = ports_.busPins(port, f);
        const std::uint8_t o = ports_.outputs(port, f);
        const std::uint8_t lv = ports_.levels(port, f);
        for (int bit = 0; bit < 8; ++bit) {
            const char* name = Ports::pinName(port, bit);
            if (!name)
                continue;
            const PinDirection d = (bus >> bit) & 1 ? PinDirection::Bus
                                   : (o >> bit) & 1 ? PinDirection::Output
                                                    : PinDirection::Input;
            out.push_back({name, port, bit, d, ((lv >> bit) & 1) != 0});
        }
    }
    return out;
}

bool Board::setPinInput(char port, int bit, bool level) {
    if (bit < 0 || bit > 7)
        return false;
    if (port == 'A') {
        catchUp();
        if ((timer_.portAOutputs() >> bit) & 1)
            return false;
        setPortAInput(bit, level);
        return true;
    }
    catchUp();
    return ports_.setInput(port, bit, level, portFunctions());
}

// What every reset does to the chip, with the mode pins strapped for special bootstrap.
void Board::resetChip(std::uint64_t c) {
    halt_ = {};
    configReg_ = static_cast<std::uint8_t>(eeprom_.configCell() & variant_->configMask);
    init_ = 0x01;
    hprio_ = kBootHprio;
    option_ = 0x10;  // DLY set
    initWritten_ = false;
    optionWritten_ = false;
    irqEdge_ = false;
    userProgram_ = false;
    regs_.fill(0);
    eprog_ = 0;
    resetCycle_ = c;
    copArmed_ = false;
    copServiced_ = c;
    eeprom_.reset();
    if (eprom_)
        eprom_->reset();
    devices_.reset();
    sci_.reset(c);
    timer_.reset(c);
    ports_.reset();
    updateTxd();  // SPCR's reset value has DWOM clear
    cpu_.setVectorBase(kSpecialVectors);
    cpu_.setTestOpcodeEnabled(false);
    remap();
    ++revision_;
}

// ---- the COP watchdog

bool Board::copRunning() const {
    // Off with NOCOP (latched from CONFIG at reset), and in the special modes, where DISR comes
    // out of reset set (M68HC11 Reference Manual 5.2.2).
    return phase_ == BootPhase::Running && !(configReg_ & config::NOCOP) && !specialMode();
}

std::uint64_t Board::copDeadline() const {
    // E/2^15 clocks the COP from reset, free-running; a service clears the stages after it, which
    // then count 1, 4, 16 or 64 of those clocks (CR1:CR0). The timeout is never sooner than that
    // many periods after the service and at most one period later (RM 5.2.2): the first clock
    // edge at or after the full time.
    constexpr std::uint64_t period = std::uint64_t{1} << 15;
    const std::uint64_t due = copServiced_ + (period << (2 * (option_ & kCopRate)));
    return resetCycle_ + (due - resetCycle_ + period - 1) / period * period;
}

void Board::copReset() {
    // The COP drives RESET low; the chip restarts with its mode pins still in bootstrap and takes
    // the COP vector, which the boot ROM leads to the RAM slot at $00FA.
    const std::uint64_t c = cycle();
    resetChip(c);
    ++copResets_;
    cpu_.reset(ResetSource::CopFailure);
}

Duration txdRiseTime(double pullUpOhms) {
    if (pullUpOhms <= 0)
        return Duration::max() / 4;  // nothing pulls it up
    return Duration{static_cast<std::int64_t>(pullUpOhms * kTxdLoadFarads * std::log(2.0) * 1e9)};
}

double txdLimitBaud(double pullUpOhms) {
    return 1e9 / (2.0 * static_cast<double>(txdRiseTime(pullUpOhms).count()));
}

void Board::updateTxd() {
    // While RESET is held port D's pins are inputs (M68HC11 Reference Manual 2.3: pins that
    // can be outputs are unterminated inputs during reset): TxD rises through the pull-up as
    // it does with DWOM set.
    const bool openDrain = resetHeld_ || (regs_[reg::SPCR] & kDwom) != 0;
    line_.toPc.setRiseDelay(openDrain ? txdRiseTime(options_.txdPullUpOhms) : Duration{0});
}

std::optional<std::uint16_t> Board::pendingMaskableVector() const {
    auto* self = const_cast<Board*>(this);
    const std::uint64_t c = cycle();
    // IRQ first: a low level, or with IRQE a falling edge, whose latch the vector clears.
    if (option_ & kIrqe) {
        if (irqEdge_) {
            self->irqEdge_ = false;
            return vector::Irq;
        }
    } else if (irqLow_) {
        return vector::Irq;
    }
    // The timer catches up only when something in it may have become due: this runs before
    // every instruction while the I bit is clear.
    if (c >= timer_.nextEvent())
        self->timer_.advanceTo(c);
    // The timer's sources outrank the SCI (M68HC11E data sheet 5.4).
    if (const auto v = timer_.pendingVector())
        return v;
    if (self->sci_.interruptPending(c))
        return vector::Sci;
    return std::nullopt;
}

// ---- the crystal

void Board::setCrystal(std::uint32_t crystalHz) {
    if (crystalHz == options_.crystalHz)
        return;
    const bool wasPowered = powered_;
    cancelEvents();
    powered_ = false;
    phase_ = BootPhase::AwaitSync;
    // Cycles count again from now at the new E: every count kept in cycles starts over at the
    // reset that follows, as it does after power comes back.
    options_.crystalHz = crystalHz;
    epoch_ = scheduler_.now();
    cycle_ = 0;
    sci_.setEClock(EClock{crystalHz});
    sci_.setEpoch(epoch_);
    eeprom_.setClock(EClock{crystalHz});
    devices_.setEClock(EClock{crystalHz});
    devices_.reset();
    sci_.reset(0);
    timer_.reset(0);
    if (wasPowered)
        holdTxdLow();
    ++revision_;
}

}  // namespace kestro::sim
