// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/board.h"

#include <algorithm>
#include <cmath>

namespace kestro::sim {

namespace {

constexpr std::uint16_t kBootRomBase = 0xBF00;
constexpr std::uint16_t kSpecialVectors = 0xBFC0;
constexpr std::uint16_t kNormalVectors = 0xFFC0;
constexpr std::uint16_t kBootRomEntry = 0xBF00;

// HPRIO after a reset into bootstrap mode: RBOOT and SMOD set, MDA and IRV clear, IRQ as the
// highest-priority I-masked source (PSEL = %0101).
constexpr std::uint8_t kBootHprio = hprio::RBOOT | hprio::SMOD | 0x05;

// BAUD values of the boot loader at E = 2 MHz: E/16/4/4 = 7812 baud, and E/16/13/8 = 1200.
constexpr std::uint8_t kBaud7812 = 0x22;
constexpr std::uint8_t kBaud1200 = 0x33;
constexpr std::uint8_t kSyncByte = 0xFF;
// What the boot loader leaves on its stack at the top of RAM: the board's choice of return
// addresses into the boot ROM ($BF40-$BFFF), never $00 or $FF.
constexpr std::array<std::uint8_t, 4> kLoaderStack = {0xBF, 0x5A, 0xBF, 0x7D};

// OPTION bit 5: IRQ takes falling edges only; clear, a low level.
constexpr std::uint8_t kIrqe = 0x20;
// OPTION bits 1:0: CR1:CR0, the COP's rate.
constexpr std::uint8_t kCopRate = 0x03;

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

Board::Board(Scheduler& scheduler, VirtualLine& line, BoardOptions options)
    : scheduler_(scheduler),
      line_(line),
      options_(options),
      variant_(&variant(options.chip)),
      cpu_(*this, this),
      sci_(line.toPc, line.toTarget, EClock{options.crystalHz},
           [this](Byte b, bool fe) { lineReceived(b, fe); }),
      eeprom_(*variant_) {
    epoch_ = scheduler_.now();
    // While waiting (WAI, STOP) the CPU reports idle time in steps of a few cycles.
    cpu_.setIdleCycles(8);
    sci_.setEpoch(epoch_);
    // Before the PC samples a frame from the chip, the chip runs up to that moment (but not past
    // a byte due to reach it first), so that a BAUD write under way reaches the wire in time.
    line_.toPc.setBeforeSample([this](TimePoint t) {
        const auto due = line_.toTarget.nextSampleAt();
        catchUpTo(due && *due < t ? *due : t);
    });
    devices_.onMapChanged = [this] { remap(); };
    chipChanged();
}

Board::~Board() {
    cancelEvents();
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
    rom_.assign(variant_->romIsEprom ? 0 : variant_->romSize, 0xFF);
    if (variant_->romIsEprom)
        eprom_.emplace(variant_->romSize);
    else
        eprom_.reset();
    eeprom_.setVariant(*variant_);
    eeprom_.attachEprom(eprom_ ? &*eprom_ : nullptr);
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
    if (!variant_->eepromMovable)
        return variant_->eepromBase;
    // 811E2: CONFIG bits 7-4 select the 4 KB boundary; the 2 KB array sits in its upper half.
    return static_cast<std::uint16_t>(((configReg_ >> 4) << 12) | 0x0800);
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

// What every reset does to the chip, with the mode pins strapped for special bootstrap.
void Board::resetChip(std::uint64_t c) {
    configReg_ = static_cast<std::uint8_t>(eeprom_.configCell() & variant_->configMask);
    init_ = 0x01;
    hprio_ = kBootHprio;
    option_ = 0x10;  // DLY set
    initWritten_ = false;
    optionWritten_ = false;
    irqEdge_ = false;
    userProgram_ = false;
    regs_.fill(0);
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

void Board::resetBootstrap() {
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

Duration txdRiseTime(double pullUpOhms) {
    if (pullUpOhms <= 0)
        return Duration::max() / 4;  // nothing pulls it up
    return Duration{static_cast<std::int64_t>(pullUpOhms * kTxdLoadFarads * std::log(2.0) * 1e9)};
}

double txdLimitBaud(double pullUpOhms) {
    return 1e9 / (2.0 * static_cast<double>(txdRiseTime(pullUpOhms).count()));
}

void Board::updateTxd() {
    line_.toPc.setRiseDelay((regs_[reg::SPCR] & kDwom) ? txdRiseTime(options_.txdPullUpOhms)
                                                       : Duration{0});
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
    if (loaded_ == ram_.size()) {
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

// ---- memory map

Board::Area Board::areaOf(std::uint16_t a) const {
    const std::uint16_t regBase = static_cast<std::uint16_t>((init_ & 0x0F) << 12);
    if ((a & 0xFFC0) == regBase)
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
    if (variant_->romSize != 0 && (configReg_ & config::ROMON) && a >= variant_->romBase)
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
            return readRegister(static_cast<std::uint8_t>(a & 0x3F));
        case Area::Ram:
            return ram_[a - ((init_ & 0xF0) << 8)];
        case Area::Eeprom:
            return eeprom_.read(static_cast<std::uint16_t>(a - eepromBase()));
        case Area::BootRom:
            return bootRom_[a - kBootRomBase];
        case Area::Rom:
            return rom_[a - variant_->romBase];
        case Area::Eprom:
            return eprom_->read(static_cast<std::uint16_t>(a - variant_->romBase));
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
            const std::uint8_t offset = a & 0x3F;
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
            writeRegister(static_cast<std::uint8_t>(a & 0x3F), v);
            return;
        case Area::Ram:
            ram_[a - ((init_ & 0xF0) << 8)] = v;
            return;
        case Area::Eeprom:
            eeprom_.writeArray(static_cast<std::uint16_t>(a - eepromBase()), v, cycle());
            return;
        case Area::Eprom:
            eprom_->writeArray(static_cast<std::uint16_t>(a - variant_->romBase), v);
            return;
        case Area::External:
            devices_.write(a, v, cycle());
            return;
        default:
            return;  // ROM and nothing at all
    }
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
            return 0x00;  // reserved on these parts (EPROG belongs to the 711E20)
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
            // Reserved on all four parts, the 711E9 included: its EPROM is programmed through
            // PPROG (M68HC11E family data sheet). A write does nothing.
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
    devices_.reset();
    sci_.reset(0);
    timer_.reset(0);
    if (wasPowered)
        holdTxdLow();
    ++revision_;
}

}  // namespace kestro::sim
