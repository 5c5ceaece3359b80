// SPDX-License-Identifier: GPL-3.0-or-later
#include "session.h"

#include <algorithm>
#include <utility>

#include "fast_start.h"
#include "hex_digit.h"
#include "talker_waits.h"

namespace kestro::ops::monitor {

namespace {

constexpr const char* kTalker = "monitor.S19";
// The talker's stop announcements: an SWI or the SCI's interrupt, and an illegal opcode.
constexpr Byte kStopped = 'S';
constexpr Byte kIllegal = 'I';
constexpr Byte kSwi = 0x3F;
constexpr Byte kCcrI = 0x10;  // the CCR's interrupt mask
constexpr Byte kCcrX = 0x40;  // the CCR's XIRQ mask
constexpr std::uint16_t kRegisterBase = 0x1000;
constexpr std::uint16_t kSccr2 = 0x102D;
constexpr Byte kRie = 0x20;  // SCCR2: RDRF interrupts (M68HC11 Reference Manual 9.3.2)
constexpr std::uint16_t kPprog = 0x103B;
constexpr std::uint16_t kBprot = 0x1035;
constexpr std::uint16_t kConfig = 0x103F;
constexpr std::uint16_t kHprio = 0x103C;
constexpr std::uint16_t kOption = 0x1039;
constexpr Byte kMda = 0x20;    // HPRIO: the expanded bus (M68HC11 Reference Manual, HPRIO)
constexpr Byte kRboot = 0x80;  // HPRIO: the boot ROM in the map (the same register)
constexpr std::uint16_t kBootRomPage = 0xBF00;
// PPROG: BYTE, ERASE, EELAT and EEPGM (MC68HC11A8 technical data 3.5).
constexpr Byte kByteErase = 0x16;
constexpr Byte kProgram = 0x02;
constexpr Byte kEepgm = 0x01;
// As long as a step may take before it counts as a program that does not come back.
constexpr Duration kStepLimit = 2s;
// Bytes read at the PC for a step: the longest instruction (5) and the one after a short one.
constexpr std::size_t kStepLook = 8;
// Breakpoints closer than this are checked by one read when they come out.
constexpr std::uint16_t kRemovalSpan = 16;
// What the stop announcement takes to come after the PC's character, beyond the line time.
constexpr Duration kStopLimit = 500ms;

// The registers that carry the monitor's own line to the PC: a write that changes one of their
// kept bits (the rate, the framing, TE and RE on, RWU and SBK off; INIT's map) would end the
// session unseen, and one to SCDR sends a character into the PC's answer (M68HC11 Reference
// Manual, SCI and INIT registers). The program may still set them itself when it runs.
struct LineRegister {
    std::uint16_t address;
    const char* name;
    Byte kept;         // the bits that must stay as they are
    bool anyWrite;     // any write at all disturbs the line
    const char* what;  // why, as the user is told it
};
constexpr LineRegister kLineRegisters[] = {
    {0x102B, "BAUD", 0xFF, false, "BAUD keeps the rate the PC shares with the monitor"},
    {0x102C, "SCCR1", 0x18, false, "SCCR1 keeps its M and WAKE bits, the frame the PC reads"},
    {0x102D, "SCCR2", 0x0F, false, "SCCR2 keeps TE and RE set, RWU and SBK clear"},
    {0x102F, "SCDR", 0x00, true, "A write to SCDR sends a character into the monitor's answers"},
    {0x103D, "INIT", 0xFF, false, "INIT keeps RAM and the registers where the monitor runs"},
};

std::string hex4(unsigned v) {
    return formats::dollarHex(v, 4);
}

std::string hex2(unsigned v) {
    return formats::dollarHex(v, 2);
}

Registers fromFrame(ByteView f, std::uint16_t at) {
    Registers r;
    r.ccr = f[0];
    r.b = f[1];
    r.a = f[2];
    r.x = static_cast<std::uint16_t>(f[3] << 8 | f[4]);
    r.y = static_cast<std::uint16_t>(f[5] << 8 | f[6]);
    r.pc = static_cast<std::uint16_t>(f[7] << 8 | f[8]);
    r.sp = static_cast<std::uint16_t>(at + kFrameBytes - 1);
    return r;
}

Bytes toFrame(const Registers& r) {
    return {r.ccr,
            r.b,
            r.a,
            static_cast<Byte>(r.x >> 8),
            static_cast<Byte>(r.x),
            static_cast<Byte>(r.y >> 8),
            static_cast<Byte>(r.y),
            static_cast<Byte>(r.pc >> 8),
            static_cast<Byte>(r.pc)};
}

}  // namespace

TalkerMonitor::TalkerMonitor(Frame& f, const sim::Variant& part, Successors successors)
    : f_(f), part_(part), successors_(std::move(successors)) {
    link_ = std::make_unique<fast::FastLink>(f_, fast::Check::Crc8);
    if (!startFastTalker(f_, *link_, kTalker))
        fastTalkerNeverAnswered();
    config_ = link_->read(fast::kRead, kConfig, 1).at(0);
    sccr2_ = link_->read(fast::kRead, kSccr2, 1).at(0);
    const Byte hprio = link_->read(fast::kRead, kHprio, 1).at(0);
    expandedBus_ = (hprio & kMda) != 0;
    bootRom_ = (hprio & kRboot) != 0;
    // As after reset, with I set: the program clears it to be stopped from the PC. The stack
    // at the top of the RAM the monitor leaves; on the 256-byte parts over the pseudo-vectors
    // of the timer's input captures and the real-time interrupt, until the program sets its own.
    regs_.ccr = 0xD0;
    regs_.sp = part_.ramSize > 256 ? static_cast<std::uint16_t>(part_.ramSize - 1) : 0x00F3;
    frame_ = static_cast<std::uint16_t>(regs_.sp - (kFrameBytes - 1));
}

TalkerMonitor::Kind TalkerMonitor::kindOf(std::uint16_t a) const {
    if (a < kMonitorEnd || (a >= kSciSlot && a < kSciSlot + kSlotBytes) ||
        (a >= kSwiSlot && a < kSwiSlot + 2 * kSlotBytes))
        return Kind::Monitor;
    if (a < part_.ramSize)
        return Kind::Ram;
    if (a >= kRegisterBase && a < kRegisterBase + part_.registerBlockSize)
        return Kind::Registers;
    const std::uint16_t ee = part_.eepromBaseFor(config_);
    if ((config_ & sim::config::EEON) && part_.eepromSize != 0 && a >= ee &&
        a - ee < part_.eepromSize)
        return Kind::Eeprom;
    if ((bootRom_ && (a & 0xFF00) == kBootRomPage) ||
        ((config_ & sim::config::ROMON) && part_.romOffset(a)))
        return Kind::Rom;
    // The bootstrap mode is a single-chip mode until MDA is set: no bus, so a store there goes
    // nowhere (M68HC11 Reference Manual, operating modes).
    return expandedBus_ ? Kind::Other : Kind::None;
}

std::string TalkerMonitor::mapText() const {
    std::string text = "The " + std::string(part_.shortName) + " has RAM at $0000-" +
                       hex4(part_.ramSize - 1u) + ", its registers at $1000-" +
                       hex4(kRegisterBase + part_.registerBlockSize - 1u);
    const std::uint16_t ee = part_.eepromBaseFor(config_);
    if ((config_ & sim::config::EEON) && part_.eepromSize != 0)
        text += ", EEPROM at " + hex4(ee) + "-" + hex4(ee + part_.eepromSize - 1u);
    if (config_ & sim::config::ROMON)
        for (const sim::AddressRange& r : part_.rom)
            if (r.size != 0)
                text += ", ROM at " + hex4(r.base) + "-" + hex4(r.base + r.size - 1u);
    return text + "; the expanded bus only once the program sets MDA in HPRIO ($103C).";
}

void TalkerMonitor::checkStart(std::optional<std::uint16_t> address) const {
    const std::uint16_t pc = address.value_or(regs_.pc);
    switch (kindOf(pc)) {
        case Kind::Monitor:
            if (!address)
                throw LinkError("No start address: give one, or load a program.",
                                LinkError::Ending::KeepTarget,
                                "PC is " + hex4(pc) + ", in the monitor's own RAM.");
            throw LinkError(hex4(pc) + " is the monitor's own RAM: the program cannot start there.",
                            LinkError::Ending::KeepTarget);
        case Kind::None:
            throw LinkError(
                "No memory answers at " + hex4(pc) + ": the program cannot start there.",
                LinkError::Ending::KeepTarget, mapText());
        default:
            return;
    }
}

void TalkerMonitor::requireStopped(const char* what) const {
    if (running_)
        throw LinkError(std::string("The program is running: stop it before ") + what + ".",
                        LinkError::Ending::KeepTarget);
}

void TalkerMonitor::ended(const std::string& text, const std::string& detail) {
    running_ = false;
    std::string said = detail.empty() ? "The monitor session has ended. Reset your HC11 into "
                                        "bootstrap mode and start it again."
                                      : detail;
    // The SWIs no one can take out now stay in the program, in the EEPROM through a reset: the
    // user is told what to write back.
    if (!inserted_.empty()) {
        said += " Breakpoints are still in memory; the program's own bytes there were";
        for (const auto& [a, original] : inserted_)
            said += " " + hex2(original) + " at " + hex4(a) + ",";
        said.back() = ':';
        said += " write them back in a new session.";
    }
    throw LinkError(text, LinkError::Ending::EndAsFrame, said);
}

Bytes TalkerMonitor::read(std::uint16_t address, std::size_t length, const Progress& progress) {
    requireStopped("reading memory");
    return link_->read(fast::kRead, address, length, [&](std::size_t done) {
        if (progress)
            progress(done, length);
    });
}

void TalkerMonitor::store(std::uint16_t address, Byte value) {
    const fast::Answer a = link_->exchange(fast::kWrite, address, value, 0);
    if (a.status != fast::kDone || a.address != address)
        ended(fast::kNotTheProtocol);
}

void TalkerMonitor::eepromCycle(std::uint16_t address, Byte value, Byte latch) {
    // EELAT first, then the byte, then EEPGM in a write of its own, held for the cycle's time
    // (MC68HC11A8 technical data 3.5: 10 ms at E = 2 MHz, twice that below, where the charge
    // pump is slower); 5 % over it for the PC's clock.
    const bool slowPump = f_.link().sciClock().eHz() < 2e6;
    store(kPprog, latch);
    store(address, value);
    store(kPprog, static_cast<Byte>(latch | kEepgm));
    f_.wait(slowPump ? 21ms : 10500us);
    store(kPprog, 0);
}

void TalkerMonitor::programEeprom(std::uint16_t address, Byte value) {
    const Byte old = link_->read(fast::kRead, address, 1).at(0);
    if (old == value)
        return;
    // BPROT comes out of reset protecting every block; in the special modes it may be cleared
    // at any time (M68HC11 Reference Manual, BPROT), as the programming talkers clear it.
    if (!bprotCleared_) {
        if (link_->read(fast::kRead, kBprot, 1).at(0) != 0)
            store(kBprot, 0);
        bprotCleared_ = true;
    }
    // Below E = 1 MHz the charge pump needs its own R-C clock: CSEL set, 10 ms to settle
    // (MC68HC11A8 technical data 3.5, p. 3-6). The program's OPTION is given back after the
    // byte, since CSEL also clocks its A/D converter.
    std::optional<Byte> option;
    if (needsPumpClockAt(f_.link().sciClock().eHz())) {
        option = link_->read(fast::kRead, kOption, 1).at(0);
        if (!(*option & kCsel)) {
            store(kOption, static_cast<Byte>(*option | kCsel));
            f_.wait(10500us);
        } else {
            option.reset();
        }
    }
    // Programming only takes bits to 0: a 1 over a 0 needs the byte erased first.
    if ((old & value) != value)
        eepromCycle(address, 0xFF, kByteErase);
    eepromCycle(address, value, kProgram);
    if (option)
        store(kOption, *option);
    const Byte now = link_->read(fast::kRead, address, 1).at(0);
    if (now != value) {
        const Byte bprot = link_->read(fast::kRead, kBprot, 1).at(0);
        throw LinkError(hex4(address) + " in the EEPROM did not read back as " + hex2(value) +
                            " after programming (it reads " + hex2(now) + ").",
                        LinkError::Ending::KeepTarget,
                        (bprot & 0x1F) != 0 ? "BPROT is " + hex2(bprot) +
                                                  ": its blocks are protected against programming."
                                            : "The cell may be worn out.");
    }
}

void TalkerMonitor::checkWrite(std::uint16_t address, ByteView bytes) {
    checkLineRegisters(address, bytes);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto a = static_cast<std::uint16_t>(address + i);
        // Each answer the monitor sends would overwrite what was stored there.
        if (stackedAt_ && static_cast<std::uint16_t>(*stackedAt_ - 1u - a) < kMonitorStackBytes)
            throw LinkError(
                hex4(a) +
                    " is the monitor's stack while the program is stopped: nothing was "
                    "written.",
                LinkError::Ending::KeepTarget,
                "The monitor keeps it under the registers the program stopped with, at " +
                    hex4(*stackedAt_ - kMonitorStackBytes) + "-" + hex4(*stackedAt_ - 1u) +
                    "; the program has those bytes back, under its SP, once it runs.");
        switch (kindOf(a)) {
            case Kind::Monitor:
                throw LinkError(hex4(a) + " is the monitor's own RAM: nothing was written.",
                                LinkError::Ending::KeepTarget,
                                "The monitor takes $0000-$00C3 and the pseudo-vectors at "
                                "$00C4, $00F4 and $00F7.");
            case Kind::Rom:
                throw LinkError(hex4(a) + " is in ROM or EPROM: nothing was written.",
                                LinkError::Ending::KeepTarget,
                                "The monitor writes RAM, the registers and the EEPROM.");
            case Kind::None:
                throw LinkError("No memory answers at " + hex4(a) + ": nothing was written.",
                                LinkError::Ending::KeepTarget, mapText());
            default:
                break;
        }
    }
}

void TalkerMonitor::checkLineRegisters(std::uint16_t address, ByteView bytes) {
    for (const LineRegister& r : kLineRegisters) {
        if (r.address < address || static_cast<std::size_t>(r.address - address) >= bytes.size())
            continue;
        const Byte value = bytes[r.address - address];
        if (!r.anyWrite && ((value ^ link_->read(fast::kRead, r.address, 1).at(0)) & r.kept) == 0)
            continue;
        throw LinkError(hex4(r.address) + " is " + r.name +
                            ", which carries the monitor's line: " + "nothing was written.",
                        LinkError::Ending::KeepTarget,
                        std::string(r.what) +
                            ": the session would end unseen. The program may set it when it runs.");
    }
}

void TalkerMonitor::write(std::uint16_t address, ByteView bytes, const Progress& progress) {
    requireStopped("writing memory");
    // Every byte's place is checked before the first is written: a refused write leaves memory
    // as it was.
    checkWrite(address, bytes);
    if (!frameWritten_)
        for (std::size_t i = 0; i < bytes.size(); ++i)
            writtenBeforeRun_.set(static_cast<std::uint16_t>(address + i));
    // The internal RAM is read back once for each run of it that the write covers, in one
    // exchange rather than one a byte.
    std::uint16_t runStart = 0;
    Bytes run;
    const auto readBack = [&] {
        if (run.empty())
            return;
        const Bytes back = link_->read(fast::kRead, runStart, run.size());
        for (std::size_t j = 0; j < run.size(); ++j)
            if (back.at(j) != run[j])
                throw LinkError(hex4(static_cast<std::uint16_t>(runStart + j)) +
                                    " did not read back as " + hex2(run[j]) + ".",
                                LinkError::Ending::KeepTarget);
        run.clear();
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto a = static_cast<std::uint16_t>(address + i);
        const Kind kind = kindOf(a);
        if (kind == Kind::Eeprom) {
            programEeprom(a, bytes[i]);
        } else {
            store(a, bytes[i]);
            if (a == kHprio) {
                expandedBus_ = (bytes[i] & kMda) != 0;
                bootRom_ = (bytes[i] & kRboot) != 0;
            }
            // CONFIG is an EEPROM cell: a store programs nothing, and where it takes the store
            // the memory map follows it.
            if (a == kConfig) {
                const Byte now = link_->read(fast::kRead, a, 1).at(0);
                if (now != bytes[i])
                    throw LinkError(hex4(a) + " (CONFIG) did not read back as " + hex2(bytes[i]) +
                                        " (it reads " + hex2(now) + ").",
                                    LinkError::Ending::KeepTarget,
                                    "CONFIG is an EEPROM cell that a store does not program: "
                                    "kestro-cli config programs it, for the next reset.");
                config_ = now;
            }
            // BPROT as the user sets it is theirs, its reset value too: the session no longer
            // clears it for a write of its own.
            if (a == kBprot)
                bprotCleared_ = true;
            if (kind == Kind::Ram) {
                if (static_cast<std::uint16_t>(runStart + run.size()) != a)
                    readBack();
                if (run.empty())
                    runStart = a;
                run.push_back(bytes[i]);
            }
        }
        if (progress)
            progress(i + 1, bytes.size());
    }
    readBack();
    if (address <= kSccr2 && address + bytes.size() > kSccr2)
        rieArmed_ = false;
    // A write over the stopped program's frame changes its registers.
    if (frameWritten_ && address < frame_ + kFrameBytes && address + bytes.size() > frame_)
        regs_ = fromFrame(ByteView(link_->read(fast::kRead, frame_, kFrameBytes)), frame_);
}

void TalkerMonitor::checkFirstFrame() const {
    if (frameWritten_)
        return;
    for (std::uint16_t i = 0; i < kFrameBytes; ++i)
        if (writtenBeforeRun_[static_cast<std::uint16_t>(frame_ + i)])
            throw LinkError("The registers' frame at " + hex4(frame_) + "-" +
                                hex4(static_cast<std::uint16_t>(frame_ + kFrameBytes - 1)) +
                                " would overwrite bytes you wrote there: nothing was run.",
                            LinkError::Ending::KeepTarget,
                            "The program starts from a frame just below SP. Set SP (rm sp) "
                            "below your bytes, or put them elsewhere.");
}

void TalkerMonitor::writeFrame() {
    checkFirstFrame();
    const Bytes bytes = toFrame(regs_);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        store(static_cast<std::uint16_t>(frame_ + i), bytes[i]);
    frameWritten_ = true;
}

void TalkerMonitor::setRegisters(const Registers& r) {
    requireStopped("changing registers");
    // Software clears X but never sets it: TAP and RTI only clear it, a reset sets it
    // (MC68HC11A8 technical data 10.1.6.7). The RTI that starts the program would drop it.
    if (xCleared_ && (r.ccr & kCcrX) != 0)
        throw LinkError("The CCR's X bit cannot be set again: the program runs with it clear.",
                        LinkError::Ending::KeepTarget,
                        "Once cleared, only a reset sets X; an RTI cannot.");
    const auto frame = static_cast<std::uint16_t>(r.sp - (kFrameBytes - 1));
    // The monitor's own calls take the bytes under the frame the program next stops with.
    for (int i = -kMonitorStackBytes; i < kFrameBytes; ++i) {
        const Kind k = kindOf(static_cast<std::uint16_t>(frame + i));
        if (k != Kind::Ram && k != Kind::Other)
            throw LinkError("SP " + hex4(r.sp) +
                                " leaves no room in RAM for the registers the "
                                "monitor keeps under it.",
                            LinkError::Ending::KeepTarget);
    }
    // Until the program runs again they are under the frame it stopped with: each answer the
    // monitor sends, the start's too, would overwrite a frame moved over them.
    if (stackedAt_) {
        const auto lowest = static_cast<std::uint16_t>(*stackedAt_ - kMonitorStackBytes);
        for (std::uint16_t i = 0; i < kFrameBytes; ++i)
            if (static_cast<std::uint16_t>(frame + i - lowest) < kMonitorStackBytes)
                throw LinkError("SP " + hex4(r.sp) +
                                    " would put the registers over the monitor's stack at " +
                                    hex4(lowest) + "-" + hex4(*stackedAt_ - 1u) + ".",
                                LinkError::Ending::KeepTarget,
                                "While the program is stopped SP may be " + hex4(*stackedAt_ + 8u) +
                                    " or above, or " + hex4(lowest - 1u) + " or below.");
    }
    regs_ = r;
    frame_ = frame;
    // Nothing is written before the program first runs: the frame then goes where SP says.
    if (frameWritten_)
        writeFrame();
}

void TalkerMonitor::checkBreakpointPlace(std::uint16_t address) const {
    switch (kindOf(address)) {
        case Kind::Ram:
        case Kind::Eeprom:
        case Kind::Other:
        case Kind::None:  // the bus may be the program's by the time it runs: the run checks
            return;
        case Kind::Rom:
            throw LinkError("No breakpoint at " + hex4(address) + ": it is in ROM or EPROM.",
                            LinkError::Ending::KeepTarget,
                            "A breakpoint is an SWI written over the instruction, which only RAM "
                            "and the EEPROM take.");
        case Kind::Monitor:
            throw LinkError("No breakpoint at " + hex4(address) + ": it is the monitor's own RAM.",
                            LinkError::Ending::KeepTarget);
        case Kind::Registers:
            throw LinkError("No breakpoint at " + hex4(address) + ": it is the register block.",
                            LinkError::Ending::KeepTarget);
    }
}

void TalkerMonitor::setBreakpoint(std::uint16_t address) {
    checkBreakpointPlace(address);
    breakpoints_.insert(address);
}

void TalkerMonitor::clearBreakpoint(std::uint16_t address) {
    breakpoints_.erase(address);
}

std::vector<std::uint16_t> TalkerMonitor::breakpoints() const {
    return {breakpoints_.begin(), breakpoints_.end()};
}

std::optional<Byte> TalkerMonitor::openBprot() {
    const Byte bprot = link_->read(fast::kRead, kBprot, 1).at(0);
    if (bprot == 0)
        return std::nullopt;
    store(kBprot, 0);
    // The session's own first clearing, as a write to the EEPROM makes it, stays.
    if (!std::exchange(bprotCleared_, true))
        return std::nullopt;
    return bprot;
}

void TalkerMonitor::insertBreakpoints(const std::set<std::uint16_t>& at,
                                      const std::map<std::uint16_t, Byte>& known) {
    // The program may have protected the EEPROM since the session cleared BPROT: a breakpoint
    // there goes in all the same, and the program finds BPROT as it set it.
    std::optional<Byte> bprot;
    bool opened = false;
    try {
        for (std::uint16_t a : at) {
            const auto k = known.find(a);
            inserted_[a] = k != known.end() ? k->second : link_->read(fast::kRead, a, 1).at(0);
            if (kindOf(a) == Kind::Eeprom) {
                if (!std::exchange(opened, true))
                    bprot = openBprot();
                programEeprom(a, kSwi);
                continue;
            }
            store(a, kSwi);
            // The internal RAM takes what is stored; elsewhere only a read tells.
            if (kindOf(a) != Kind::Ram && link_->read(fast::kRead, a, 1).at(0) != kSwi)
                throw LinkError("No breakpoint at " + hex4(a) + ": no RAM there took the SWI.",
                                LinkError::Ending::KeepTarget);
        }
    } catch (const LinkError& e) {
        // The program does not run, and keeps its own bytes wherever an SWI went in.
        if (e.ending == LinkError::Ending::KeepTarget) {
            if (bprot)
                store(kBprot, *bprot);
            removeBreakpoints(false);
        }
        throw;
    }
    if (bprot)
        store(kBprot, *bprot);
}

void TalkerMonitor::removeBreakpoints(bool programRan) {
    // Each byte back as the program had it, EEPROM ones through their cycles, whatever BPROT the
    // program left (then put back as it was). One that fails does not keep the others in.
    auto bytes = std::move(inserted_);
    inserted_.clear();
    std::optional<Byte> bprot;
    bool opened = false;
    std::optional<LinkError> failed;
    // A byte that no longer holds the SWI after a run: the program has stored over it
    // (self-modifying code, a table it rewrites): what it stored is its own and stays. The places
    // close to one another (a step's, a loop's) are read at once.
    // A read between them must not touch the register block, where reads clear flags.
    const auto readable = [this](unsigned from, unsigned to) {
        for (unsigned a = from; a <= to; ++a)
            if (kindOf(static_cast<std::uint16_t>(a)) == Kind::Registers)
                return false;
        return true;
    };
    std::map<std::uint16_t, Byte> now;
    for (auto at = bytes.begin(); programRan && at != bytes.end();) {
        auto last = at;
        for (auto next = std::next(at);
             next != bytes.end() && next->first - at->first < kRemovalSpan &&
             readable(last->first, next->first);
             ++next)
            last = next;
        const Bytes span =
            link_->read(fast::kRead, at->first, std::size_t{1} + last->first - at->first);
        for (auto k = at; k != std::next(last); ++k)
            now[k->first] = span.at(k->first - at->first);
        at = std::next(last);
    }
    for (const auto& [a, original] : bytes) {
        if (programRan && now.at(a) != kSwi)
            continue;
        try {
            if (kindOf(a) == Kind::Eeprom) {
                if (!std::exchange(opened, true))
                    bprot = openBprot();
                programEeprom(a, original);
            } else {
                store(a, original);
            }
        } catch (const LinkError& e) {
            if (e.ending != LinkError::Ending::KeepTarget)
                throw;
            if (!failed)
                failed = e;
        }
    }
    if (bprot)
        store(kBprot, *bprot);
    if (failed)
        throw *failed;
}

void TalkerMonitor::startRun(std::optional<std::uint16_t> address, bool step,
                             const std::set<std::uint16_t>& at,
                             const std::map<std::uint16_t, Byte>& known) {
    if (address)
        regs_.pc = *address;
    if (!frameWritten_ || address)
        writeFrame();
    insertBreakpoints(at, known);
    // RIE lets the PC stop the program. A free run may clear it, so it goes in before each; a
    // step's one instruction is taken to leave it as the step before it found it, which saves
    // an exchange a step (one that clears it only costs the stop of a step that never ends).
    if (!(step && rieArmed_))
        store(kSccr2, static_cast<Byte>(sccr2_ | kRie));
    rieArmed_ = step;
    pending_.clear();
    const auto answer = link_->lastExchange('G', frame_, 0);
    if (!answer || answer->address != frame_)
        ended("The HC11 did not confirm the start of the program.",
              "It may be running. Reset your HC11 into bootstrap mode to start again.");
    running_ = true;
}

void TalkerMonitor::run(std::optional<std::uint16_t> address) {
    requireStopped("running it again");
    checkStart(address);
    checkFirstFrame();
    if (address) {
        regs_.pc = *address;
        writeFrame();
    }
    // A breakpoint where the program stands would stop it at once: the instruction runs first.
    // One a step cannot take (a loop onto itself, a JSR into ROM) runs with the others only.
    if (breakpoints_.contains(regs_.pc)) {
        std::map<std::uint16_t, Byte> known;
        try {
            (void)stepPlaces(known);
        } catch (const LinkError& e) {
            if (e.ending != LinkError::Ending::KeepTarget)
                throw;
            std::set<std::uint16_t> others = breakpoints_;
            others.erase(regs_.pc);
            startRun(std::nullopt, false, others);
            return;
        }
        const Stop s = step();
        if (s.cause != StopCause::Step) {
            queued_ = s;
            running_ = true;
            return;
        }
    }
    startRun(std::nullopt, false, breakpoints_);
}

std::optional<TalkerMonitor::Announcement> TalkerMonitor::takeAnnouncement(
    const std::function<void(ByteView)>& output) {
    // The announcement is four bytes: S or I, the frame's address, the CRC-8. Its CRC and a frame
    // in RAM (on the expanded bus only where the program has it) tell it from the program's bytes.
    const std::size_t n = pending_.size();
    std::size_t keepFrom = n;
    for (std::size_t i = 0; i < n; ++i) {
        if (pending_[i] != kStopped && pending_[i] != kIllegal)
            continue;
        if (i + 4 > n) {
            keepFrom = std::min(keepFrom, i);
            break;
        }
        const auto at = static_cast<std::uint16_t>(pending_[i + 1] << 8 | pending_[i + 2]);
        const Kind k = kindOf(at);
        if (fast::crc8(ByteView(pending_.data() + i, 4)) != 0 || at > 0xFFFF - kFrameBytes ||
            (k != Kind::Ram && !(k == Kind::Other && expandedBus_)))
            continue;
        if (output && i > 0)
            output(ByteView(pending_.data(), i));
        const bool illegal = pending_[i] == kIllegal;
        pending_.clear();
        return Announcement{at, illegal};
    }
    if (output && keepFrom > 0)
        output(ByteView(pending_.data(), keepFrom));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(keepFrom));
    return std::nullopt;
}

std::optional<Stop> TalkerMonitor::poll(const std::function<void(ByteView)>& output,
                                        Duration wait) {
    if (queued_) {
        running_ = false;
        const Stop s = *queued_;
        queued_.reset();
        return s;
    }
    if (!running_)
        throw LinkError("The program is not running.", LinkError::Ending::KeepTarget);
    // The whole wait, however much the program sends: a caller counts its time in waits.
    SerialPort& port = f_.port();
    const TimePoint until = f_.clock().now() + wait;
    do {
        port.awaitInput(1);
        f_.clock().waitUntil([&] { return port.inBufferCount() > 0; }, until - f_.clock().now());
        const Bytes more = port.input();
        pending_.insert(pending_.end(), more.begin(), more.end());
        if (const auto a = takeAnnouncement(output)) {
            running_ = false;
            return stopped(*a, false);
        }
    } while (f_.clock().now() < until);
    return std::nullopt;
}

Stop TalkerMonitor::stopped(Announcement a, bool askedToStop) {
    frame_ = a.frame;
    stackedAt_ = a.frame;
    frameWritten_ = true;
    regs_ = fromFrame(ByteView(link_->read(fast::kRead, frame_, kFrameBytes)), frame_);
    xCleared_ = (regs_.ccr & kCcrX) == 0;
    // A stop inside the monitor's own RAM is the program having written over it: what runs
    // there is no longer the monitor.
    if (kindOf(regs_.pc) == Kind::Monitor)
        ended(kMonitorGone);
    StopCause cause = askedToStop ? StopCause::Stopped : StopCause::Swi;
    const auto before = static_cast<std::uint16_t>(regs_.pc - 1);
    if (a.illegal) {
        // Its trap stacks the opcode's own address (M68HC11 Reference Manual 5.4.2), which may
        // follow a breakpoint's: the PC stays.
        cause = StopCause::IllegalOpcode;
    } else if (inserted_.contains(before) && !(askedToStop && (regs_.ccr & kCcrI) == 0)) {
        // The SWI has run: the program goes on at the instruction it stood for. The SCI's
        // interrupt, taken only with I clear, stacks the next instruction's address as an SWI
        // does (M68HC11 Reference Manual 5.4): a program stopped from the PC just after a
        // breakpoint's byte, with interrupts on, is taken not to have run it.
        cause = StopCause::Breakpoint;
        if ((before >> 8) != (regs_.pc >> 8))
            store(static_cast<std::uint16_t>(frame_ + 7), static_cast<Byte>(before >> 8));
        store(static_cast<std::uint16_t>(frame_ + 8), static_cast<Byte>(before));
        regs_.pc = before;
    }
    removeBreakpoints(true);
    return Stop{cause, regs_};
}

Stop TalkerMonitor::stop() {
    if (queued_)
        return *poll({}, Duration{0});
    if (!running_)
        throw LinkError("The program is not running.", LinkError::Ending::KeepTarget);
    // A stop the program came to by itself before the PC asked is told as what it is.
    SerialPort& port = f_.port();
    const Bytes already = port.input();
    pending_.insert(pending_.end(), already.begin(), already.end());
    if (const auto a = takeAnnouncement(output_)) {
        running_ = false;
        return stopped(*a, false);
    }
    // One character raises the SCI's receive interrupt. It is a ping's first byte: the monitor
    // takes it as the start of its next request, and the rest of the ping follows the stop.
    const Bytes ping = fast::request(fast::kPing, 0, 0, {}, fast::Check::Crc8);
    f_.send(ByteView(ping.data(), 1));
    f_.waitDrained();
    const TimePoint until = f_.clock().now() + kStopLimit;
    std::optional<Announcement> frame;
    while (!frame && f_.clock().now() < until) {
        port.awaitInput(1);
        f_.clock().waitUntil([&] { return port.inBufferCount() > 0; }, until - f_.clock().now());
        const Bytes more = port.input();
        pending_.insert(pending_.end(), more.begin(), more.end());
        frame = takeAnnouncement(output_);
    }
    if (!frame)
        ended(kNotStopped,
              "Or it has overwritten the monitor ($0000-$00C3, the pseudo-vectors at $00C4, "
              "$00F4 and $00F7). The session has ended: reset your HC11 into bootstrap mode.");
    running_ = false;
    f_.send(ByteView(ping.data() + 1, ping.size() - 1));
    f_.waitDrained();
    port.setInputLen(4);
    port.awaitInput(4);
    f_.clock().waitUntil([&] { return port.inBufferCount() >= 4; },
                         characterTime(port.settings().baud, 7) + fast::FastLink::kTurnaround);
    const Bytes answer = port.input();
    port.setInputLen(0);
    if (answer.size() != 4 || answer[0] != fast::kDone || fast::crc8(ByteView(answer)) != 0) {
        // The monitor took the ping as damaged and went back to its first rate.
        if (!link_->ping())
            ended(kMonitorGone);
    }
    return stopped(*frame, true);
}

std::set<std::uint16_t> TalkerMonitor::stepPlaces(std::map<std::uint16_t, Byte>& known) {
    // The instruction and what follows it: a successor among them needs no read of its own.
    const Bytes code = read(regs_.pc, kStepLook);
    for (std::uint16_t i = 0; i < code.size(); ++i)
        known[static_cast<std::uint16_t>(regs_.pc + i)] = code[i];
    const auto successors = successors_(
        ByteView(code), regs_,
        [this](std::uint16_t a, std::size_t n) { return link_->read(fast::kRead, a, n); });
    // No breakpoint can stand where the step starts: an instruction that can only come back to
    // itself (BRA *, or BRCLR on its own address) is refused like one that cannot end.
    std::set<std::uint16_t> at(successors.begin(), successors.end());
    at.erase(regs_.pc);
    if (at.empty()) {
        // The instructions that leave the program's flow, each told as what it does.
        struct Why {
            Byte opcode;
            const char* text;
        };
        static constexpr Why kWhy[] = {
            {0x3F, "it is an SWI, which enters the monitor: go runs it and stops after it."},
            {0x3E, "WAI waits for an interrupt. Use go with a breakpoint where it goes on."},
            {0xCF, "STOP halts the clock until IRQ, XIRQ or a reset."},
        };
        std::string why =
            "it does not end or only comes back to itself. Use go with a "
            "breakpoint after it.";
        for (const Why& w : kWhy)
            if (!code.empty() && code[0] == w.opcode)
                why = w.text;
        throw LinkError("The instruction at " + hex4(regs_.pc) + " cannot be stepped: " + why,
                        LinkError::Ending::KeepTarget);
    }
    for (std::uint16_t a : at)
        checkBreakpointPlace(a);
    return at;
}

Stop TalkerMonitor::step() {
    requireStopped("stepping it");
    checkStart(std::nullopt);
    std::map<std::uint16_t, Byte> known;
    const std::set<std::uint16_t> at = stepPlaces(known);
    startRun(std::nullopt, true, at, known);
    const TimePoint until = f_.clock().now() + kStepLimit;
    std::optional<Stop> s;
    while (!s && f_.clock().now() < until)
        s = poll(output_, until - f_.clock().now());
    // An instruction that does not end (WAI, or a loop onto itself through an interrupt).
    if (!s)
        s = stop();
    if (s->cause == StopCause::Breakpoint)
        s->cause = StopCause::Step;
    return *s;
}

}  // namespace kestro::ops::monitor
