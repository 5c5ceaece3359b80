// SPDX-License-Identifier: GPL-3.0-or-later
// Erase, CONFIG and RAM download and run through the fast protocol (docs/fast-protocol.md):
// the default path's decisions, boxes and results, from checked blocks.
#include <algorithm>

#include "fast_start.h"
#include "operations.h"
#include "register_bytes.h"
#include "start_address.h"
#include "talker_waits.h"

namespace kestro::ops {

namespace {

constexpr Byte kErase = 'E';
constexpr Byte kConfig = 'C';
constexpr Byte kRamWrite = 'X';
constexpr Byte kRun = 'G';

// One EEPROM cycle as fasterase and fastcfg count it for the E in use (10.85 ms at 2 MHz), with
// room for the talker's own reading.
Duration eepromCycle(Frame& f) {
    return countedWaitAt("fasterase", "count_eecycle", f.link().sciClock().eHz())
               .value_or(Duration::zero()) +
           150us;
}
// fastram's X: as many data bytes as its 256 bytes of RAM leave room for.
constexpr std::size_t kRamBlock = 17;
constexpr std::uint16_t kConfigAddress = 0x103F;

// The value of a character as the talkers' hexval reads it: 16 or more for no digit.
Byte talkerDigit(char c) {
    Byte v = static_cast<Byte>(c);
    if (v >= 0x40)
        v = static_cast<Byte>((v & 0xDF) - 7);
    return static_cast<Byte>(v - '0');
}

// ---- Erase -------------------------------------------------------------------------------

// The range exactly as eeerase takes it from the range command "U" begin "V" end "W": four
// characters each, whatever they are; nullopt when the command is too short for the talker
// ever to act on it.
std::optional<std::pair<std::uint16_t, std::uint16_t>> eraseRange(const Inputs& in) {
    const std::string command = in.eepromBegin + "V" + in.eepromEnd + "W";
    if (command.size() < 10)
        return std::nullopt;
    auto four = [&command](std::size_t at) {
        unsigned v = 0;
        for (std::size_t i = at; i < at + 4; ++i)
            v = (v << 4 | talkerDigit(command[i])) & 0xFFFF;
        return static_cast<std::uint16_t>(v);
    };
    return std::pair{four(0), four(5)};
}

struct ErasePlan {
    bool inEeprom = false;
    Byte rows = 0;  // 0: one bulk erase
};

// eeerase's decision from CONFIG: whether the range is all EEPROM, and bulk or rows.
ErasePlan planErase(Byte config, std::uint16_t begin, std::uint16_t end) {
    if (!(config & 0x01))  // EEON: without it the EEPROM is not in the map
        return {};
    const unsigned placement = config & 0xF0;
    // Bits 7-4 at 0: an 811E2 with its EEPROM at $0800, or a part with it at $B600; the range
    // says which.
    const bool e2 = placement != 0 || begin < 0x1000;
    const unsigned first = e2 ? (placement << 8 | 0x0800) : 0xB600;
    const unsigned last = first + (e2 ? 0x07FF : 0x01FF);
    // A range that ends before it begins is no EEPROM range: as the default path, an error box
    // and nothing erased, not a request the talker refuses until the line is blamed.
    if (begin < first || last < end || end < begin)
        return {};
    if (begin == first && end == last)
        return {true, 0};
    return {true, static_cast<Byte>((static_cast<std::uint16_t>(end - begin) >> 4) + 1)};
}

void fastErase(Target& target, const Inputs& in) {
    Frame::run(target, "EepromErase", "Erase", [&](Frame& f) {
        if (!f.begin())
            return;
        fast::FastLink link(f, fast::Check::Crc8);
        if (!startFastTalker(f, link, "fasterase.S19"))
            fastTalkerNeverAnswered();
        const auto range = eraseRange(in);
        if (!range)
            throw LinkError("The HC11 did not answer the erase.", LinkError::Ending::EndAsFrame,
                            "Reset your HC11 into bootstrap mode and try again.");
        // The ping's answer carries CONFIG.
        const Byte config = static_cast<Byte>(link.exchange(fast::kPing, 0, 0, 0).address);
        const auto [begin, end] = *range;
        const ErasePlan plan = planErase(config, begin, end);
        bool erased = false;
        // A range that ends before it begins (rows 0) is refused here: eeerase would erase 256
        // rows from its start, past the range, before it found the error.
        if (plan.inEeprom && (plan.rows != 0 || end >= begin)) {
            const Bytes last{static_cast<Byte>(end >> 8), static_cast<Byte>(end)};
            const Duration cycle = eepromCycle(f);
            const Duration chip = cycle * std::max(1, int{plan.rows}) + cycle * 2;
            erased = link.exchange(kErase, begin, plan.rows, ByteView(last), 0, chip).status ==
                     fast::kDone;
        }
        if (erased)
            f.ui().message({"Eeprom Erase", "Eeprom", Icon::Information});
        else
            f.ui().message({"Error in Eeprom", "Eeprom", Icon::Information});
        f.finish();
    });
}

// ---- CONFIG ------------------------------------------------------------------------------

// config's decision, from the cell as CONFIG shows it: the value's in C requests, $FF for the
// erase. Nothing when the cell holds the value; an erase only where the value needs a 1 over a
// 0 of the cell, and then no programming when the value is $FF. Bits 7-4 read 0 on the parts
// that do not have them: where the value has them all 1 they need no erase.
std::vector<Byte> configCycles(Byte cell, Byte value) {
    if ((cell & 0xF0) == 0 && (value & 0xF0) == 0xF0)
        cell |= 0xF0;
    if (cell == value)
        return {};
    if ((value & ~cell & 0xFF) == 0)
        return {value};
    if (value == 0xFF)
        return {0xFF};
    return {0xFF, value};
}

void fastConfig(Target& target, const Inputs& in) {
    Frame::run(target, "ConfigProgram", "Program", [&](Frame& f) {
        if (!f.begin())
            return;
        const Byte value = configByte(in.config5Text, in.config);
        fast::FastLink link(f);
        if (!startFastTalker(f, link, "fastcfg.S19"))
            fastTalkerNeverAnswered();
        // The ping's answer carries CONFIG in its address's low byte.
        const auto cell = static_cast<Byte>(link.exchange(fast::kPing, 0, 0, 0).address);
        for (Byte cycle : configCycles(cell, value))
            link.exchange(kConfig, kConfigAddress, cycle, 0, eepromCycle(f));
        reportDone(f, in);
        f.finish();
    });
}

// ---- RAM download and run ----------------------------------------------------------------

// The start address as ram reads the text it is sent: characters that are no digit skipped;
// nullopt for a fifth significant digit, where it runs nothing.
std::optional<std::uint16_t> talkerStartAddress(std::string_view text) {
    unsigned value = 0;
    for (char c : text) {
        const Byte d = talkerDigit(c);
        if (d >= 16)
            continue;
        if (value & 0xF000)
            return std::nullopt;
        value = value << 4 | d;
    }
    return static_cast<std::uint16_t>(value);
}

// Where ram refuses to store: its own internal RAM below $0200 and the register block.
bool ramRefused(unsigned a) {
    return a < 0x0200 || (a >= 0x1000 && a < 0x1040);
}

void fastRam(Target& target, const Inputs& in) {
    Frame::run(target, "ExtRam", "Download", [&](Frame& f) {
        const auto file = beginRamDownload(f, in.startAddress);
        if (!file)
            return;
        fast::FastLink link(f);
        if (!startFastTalker(f, link, "fastram.S19"))
            fastTalkerNeverAnswered();
        // Records that follow on from each other go in the same blocks: bytes are refused one
        // by one, so that the same bytes are stored before a refusal as record by record.
        const auto records = s1Runs(*file);
        std::size_t total = 0, done = 0;
        for (const auto& r : records)
            total += r.bytes.size();
        f.ui().setProgress(1);
        for (const auto& [address, data] : records)
            for (std::size_t at = 0; at < data.size(); at += kRamBlock) {
                const std::size_t n = std::min(kRamBlock, data.size() - at);
                // As ram: the bytes before the first it refuses are stored.
                std::size_t take = 0;
                while (take < n && !ramRefused((address + at + take) & 0xFFFF))
                    ++take;
                Bytes block(kRamBlock, 0xFF);
                std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(at), take, block.begin());
                const auto to = static_cast<std::uint16_t>(address + at);
                const Byte status =
                    take > 0 ? link.exchange(fast::request(kRamWrite, to, static_cast<Byte>(take),
                                                           ByteView(block)),
                                             0)
                                   .status
                             : fast::kDone;
                // V: a byte of the block did not read back, the bytes before it stored.
                if (status != fast::kDone && status != fast::kNoMemory)
                    throw LinkError(fast::kNotTheProtocol, LinkError::Ending::EndAsFrame);
                if (take < n || status == fast::kNoMemory) {
                    f.ui().setProgress(std::nullopt);
                    f.ui().message({kNothingRun, kAppTitle, Icon::Critical, kRefusedRecord});
                    f.finish();
                    return;
                }
                done += n;
                f.ui().setProgress(static_cast<int>(
                    std::clamp<std::size_t>(done * 100 / std::max<std::size_t>(total, 1), 1, 99)));
            }
        f.ui().setProgress(std::nullopt);
        const auto start = talkerStartAddress(in.startAddress);
        if (!start) {
            f.ui().message({kNothingRun, kAppTitle, Icon::Critical,
                            "The start address has more than four significant digits."});
            f.finish();
            return;
        }
        // The talker answers, then jumps once its answer has left the wire: G goes once, and
        // nothing after it.
        if (!link.lastExchange(kRun, *start, 0))
            f.ui().message(notStarted());
        else
            reportDone(f, in);
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> fastMiscOperations() {
    return {{"EepromErase", fastErase}, {"ConfigProgram", fastConfig}, {"ExtRam", fastRam}};
}

}  // namespace kestro::ops
