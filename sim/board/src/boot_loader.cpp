// SPDX-License-Identifier: GPL-3.0-or-later
// The boot ROM's loader: the break, the sync byte, the download into RAM and its end, as the
// part's row says (its length, and whether an idle line ends it).
#include <algorithm>

#include "board_internal.h"

namespace kestro::sim {

using namespace detail;

namespace {

// The boot ROM's vectors lead to three-byte slots in RAM (M68HC11 Reference Manual,
// bootstrap mode interrupt vectors): from the SCI's at $00C4 up to the clock monitor's at
// $00FD, one slot per vector in vector order.
constexpr PseudoVector kPseudoVectors[] = {
    {vector::Sci, 0x00C4},           {vector::Spi, 0x00C7},
    {vector::PulseAccInput, 0x00CA}, {vector::PulseAccOverflow, 0x00CD},
    {vector::TimerOverflow, 0x00D0}, {vector::Toc5, 0x00D3},
    {vector::Toc4, 0x00D6},          {vector::Toc3, 0x00D9},
    {vector::Toc2, 0x00DC},          {vector::Toc1, 0x00DF},
    {vector::Tic3, 0x00E2},          {vector::Tic2, 0x00E5},
    {vector::Tic1, 0x00E8},          {vector::RealTime, 0x00EB},
    {vector::Irq, 0x00EE},           {vector::Xirq, 0x00F1},
    {vector::Swi, 0x00F4},           {vector::IllegalOpcode, 0x00F7},
    {vector::CopFailure, 0x00FA},    {vector::ClockMonitor, 0x00FD},
};

}  // namespace

std::span<const PseudoVector> pseudoVectors() {
    return kPseudoVectors;
}

// ---- reset and the boot loader

void Board::buildBootRom() {
    // Our boot ROM holds no code: the loader runs natively. Only its vector table is real
    // data, so that interrupts in bootstrap mode reach the RAM pseudo-vectors. Everything
    // else reads as $00, which is an illegal opcode outside the special test mode.
    bootRom_.fill(0x00);
    for (std::uint16_t v = kSpecialVectors; v < 0xC000; v = static_cast<std::uint16_t>(v + 2)) {
        const std::uint16_t normal = static_cast<std::uint16_t>(kNormalVectors | (v & 0x3F));
        std::uint16_t target = kBootRomEntry;
        for (const PseudoVector& p : kPseudoVectors)
            if (p.vector == normal)
                target = p.ram;
        bootRom_[v - kBootRomBase] = static_cast<std::uint8_t>(target >> 8);
        bootRom_[v - kBootRomBase + 1] = static_cast<std::uint8_t>(target);
    }
}

void Board::holdReset() {
    const TimePoint now = scheduler_.now();
    if (resetHeld_) {
        // A new press: the button's minimum counts from it, and it is still down.
        cancelRelease();
        resetPressedAt_ = now;
        return;
    }
    catchUpTo(now);
    const std::uint64_t c = std::max(powered_ ? cycle() : cycle_, cycleAt(now));
    resetHeld_ = true;
    resetPressedAt_ = now;
    if (txdHeldLow_) {
        // Power comes up with RESET held, as a supervisor holds it: TxD, an input now, is let
        // go at once, long enough before the boot loader's break for the PC to see it begin.
        line_.toPc.endBreak(now, kPowerUpMark);
        txdHeldLow_ = false;
    }
    if (bootEvent_)
        scheduler_.cancel(*bootEvent_);
    bootEvent_.reset();
    sci_.cutFrame(c);
    cycle_ = c;
    phase_ = BootPhase::AwaitSync;
    powered_ = false;  // nothing runs until the release
    resetChip(c);
}

void Board::releaseReset(Duration minimumHold) {
    if (!resetHeld_)
        return;
    const TimePoint due = resetPressedAt_ + minimumHold;
    if (scheduler_.now() < due) {
        if (releaseEvent_ && releaseDue_ >= due)
            return;
        cancelRelease();
        releaseDue_ = due;
        releaseEvent_ = scheduler_.schedule(due, [this] {
            releaseEvent_.reset();
            releaseReset();
        });
        return;
    }
    cancelRelease();
    resetHeld_ = false;
    resetBootstrap();
}

void Board::pressReset(Duration hold) {
    holdReset();
    releaseReset(hold);
}

void Board::cancelRelease() {
    if (releaseEvent_)
        scheduler_.cancel(*releaseEvent_);
    releaseEvent_.reset();
}

void Board::resetBootstrap() {
    if (resetHeld_)
        return;
    if (txdHeldLow_) {
        // Power comes back: TxD goes high until the boot loader's own break, long enough for
        // the PC to see that break begin.
        line_.toPc.endBreak(scheduler_.now(), kPowerUpMark);
        txdHeldLow_ = false;
    }
    cycle_ = std::max(powered_ ? cycle() : cycle_, cycleAt(scheduler_.now()));
    powered_ = true;
    phase_ = BootPhase::AwaitSync;
    if (bootEvent_)
        scheduler_.cancel(*bootEvent_);
    bootEvent_.reset();

    resetChip(cycle_);
    serialLog_.clear();

    if (!sliceEvent_)
        scheduleSlice();

    if (options_.securityOption && !(configReg_ & config::NOSEC)) {
        // A secured part announces itself only after wiping what it protects: it sends $FF,
        // erases the EEPROM, fills RAM with $FF and erases CONFIG (two 10 ms cycles). NOSEC
        // clear engages security only on a part made with the security option (M68HC11
        // Reference Manual p. 4-15, security option); the standard parts ignore it.
        phase_ = BootPhase::SecureErase;
        sci_.write(sci::BAUD, kBaud7812, cycle_);
        sci_.write(sci::SCCR2, sci::TE, cycle_);
        sci_.write(sci::SCDR, 0xFF, cycle_);
        eeprom_.eraseAllForSecurity();
        std::fill(ram_.begin(), ram_.end(), std::uint8_t{0xFF});
        ++revision_;
        const Duration wipe = std::chrono::milliseconds(2 * 10) + characterTime(7812, 2);
        const TimePoint wiped = timeOfCycle(cycle_) + wipe;
        bootEvent_ = scheduler_.schedule(wiped, [this, wiped] {
            bootEvent_.reset();
            catchUpTo(wiped);
            announce();
        });
        return;
    }
    announce();
}

void Board::announce() {
    phase_ = BootPhase::AwaitSync;
    loaded_ = 0;
    // The loader sets its stack at the top of RAM and pushes there before the download, so
    // RAM the download does not reach is not what it was. What it pushes and how much is not
    // in the pages read: the board writes kLoaderStack bytes of a boot ROM address, which a
    // full download overwrites and a short one (the E9 family's) leaves.
    for (std::size_t i = 0; i < kLoaderStack.size(); ++i)
        ram_[ram_.size() - kLoaderStack.size() + i] = kLoaderStack[i];
    ++revision_;
    // The loader leaves port D wired-OR: TxD is open-drain until a program clears DWOM (AN1060,
    // the loader's initialisation and "Common Bootstrap Mode Problems").
    regs_[reg::SPCR] |= kDwom;
    updateTxd();
    const std::uint64_t c = cycle();
    sci_.write(sci::BAUD, kBaud7812, c);
    // The break goes on until the host starts to send: RxD low ends it.
    sci_.write(sci::SCCR2, sci::TE | sci::RE | sci::SBK, c);
}

void Board::lineReceived(Byte byte, bool framingError) {
    // Up to the byte's stop bit, not to now: the event that brings it may run late.
    catchUpTo(line_.toTarget.sampledAt());
    if (onReceived)
        onReceived(byte, framingError);
    if (userProgramRuns())
        logSerial(false, byte);
    sci_.received(byte, framingError, cycle(), line_.toTarget.noise());
    if (phase_ == BootPhase::AwaitSync || phase_ == BootPhase::Loading)
        loaderByte(byte, framingError);
}

void Board::loaderByte(Byte, bool) {
    const std::uint64_t c = cycle();
    // As the ROM would: SCSR then SCDR, which also clears RDRF.
    const std::uint8_t status = sci_.read(sci::SCSR, c);
    if (!(status & sci::RDRF))
        return;
    const std::uint8_t data = sci_.read(sci::SCDR, c);

    if (phase_ == BootPhase::AwaitSync) {
        sci_.write(sci::SCCR2, sci::TE | sci::RE, c);  // end of the break
        if (data == 0x00 && (status & sci::FE)) {
            // A break instead of the sync byte: run the program in EEPROM.
            startProgram(eepromBase());
            return;
        }
        if (data != kSyncByte)
            sci_.write(sci::BAUD, kBaud1200, c);  // $FF sent at 1200 baud reads as $C0/$E0
        phase_ = BootPhase::Loading;
        lastLoaderByte_ = timeOfCycle(c);
        if (variant_->loaderEnd == LoaderEnd::RamFullOrIdleLine)
            scheduleIdleEnd();
        return;
    }

    ram_[loaded_++] = data;
    sci_.write(sci::SCDR, data, c);  // the echo
    ++revision_;
    if (loaded_ == variant_->loaderLength) {
        startProgram(0x0000);
        return;
    }
    lastLoaderByte_ = timeOfCycle(c);
    if (variant_->loaderEnd == LoaderEnd::RamFullOrIdleLine)
        scheduleIdleEnd();
}

void Board::scheduleIdleEnd() {
    if (bootEvent_)
        scheduler_.cancel(*bootEvent_);
    const Duration fourCharacters{static_cast<std::int64_t>(40.0 * 1e9 / sci_.rate())};
    const TimePoint end = lastLoaderByte_ + fourCharacters;
    bootEvent_ = scheduler_.schedule(end, [this, end] {
        bootEvent_.reset();
        catchUpTo(end);
        if (phase_ == BootPhase::Loading)
            startProgram(0x0000);
    });
}

void Board::startProgram(std::uint16_t pc) {
    if (bootEvent_)
        scheduler_.cancel(*bootEvent_);
    bootEvent_.reset();
    const std::uint64_t c = cycle();
    phase_ = BootPhase::Running;
    cpu_.resetAt(pc);
    cpu_.regs.sp = static_cast<std::uint16_t>(ram_.size() - 1);
    cpu_.regs.x = 0x1000;
    cpuOffset_ = c - cpu_.cycles();
}

}  // namespace kestro::sim
