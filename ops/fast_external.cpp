// SPDX-License-Identifier: GPL-3.0-or-later
// The expanded bus through the fast protocol (docs/fast-protocol.md): an EEPROM programmed as
// exteeprg programs it, and the companion chip's registers and commands as the xi talkers set
// them, with the default path's verdicts and texts.
#include <algorithm>
#include <cstdio>

#include "fast_start.h"
#include "operations.h"
#include "register_bytes.h"

namespace kestro::ops {

namespace {

using fast::FastLink;

std::string hex4(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v & 0xFFFF);
    return text;
}

// ---- Programming: the data of W requests, the answers that end a run

// fastxe's W: the bytes it loads in one write cycle. A block never crosses a multiple of 16, so
// that a part whose pages are 16 bytes or more takes it as one page; a part's page boundary may
// send the bytes of a load that crosses it elsewhere.
constexpr std::size_t kWriteData = 16;
// exteeprg refuses every address below this one: the HC11's own RAM and registers.
constexpr unsigned kLowestExternal = 0x2000;
// What fastxe spends on a byte at most: its data polling gives up after 17.08 ms.
constexpr Duration kByteAtMost = 17100us;

struct Member {
    std::string_view button;
    const char* title;
    const char* success;
    const char* failure;
};
// The default path's words: the external EEPROM's member reports in the EPROM's.
constexpr Member kMembers[] = {
    {"ExtEEprog", "Eprom", "Eprom is program", "Error in Eprom"},
    {"Xiprog", "Eeprom", "Eeprom is program", "Error in Eeprom"},
};
// What exteeprg's letters A and V mean, as the default path tells them.
constexpr const char* kRefused =
    " is below $2000, where the HC11's own RAM and registers are, which the talker does not "
    "program";
constexpr const char* kNotWritten =
    " did not read back as the file has it within the write cycle (nothing there, the HC11's "
    "own memory in the way, a protected block, or data protection on)";

void fastProgram(const Member& m, Target& target) {
    Frame::run(target, std::string(m.button), "Program", [&m](Frame& f) {
        if (!f.begin())
            return;
        const auto file = chooseSRecordFile(f);
        if (!file)
            return;
        FastLink link(f, fast::Check::Crc8);
        if (!startFastTalker(f, link, "fastxe.S19"))
            fastTalkerNeverAnswered();
        const auto runs = s1Runs(*file);
        std::size_t total = 0, done = 0;
        for (const auto& run : runs)
            total += run.bytes.size();
        auto fail = [&](unsigned address, const char* why) {
            f.ui().setProgress(std::nullopt);
            Message failed{m.failure, m.title, Icon::Information};
            failed.reason = "$" + hex4(address) + why;
            f.ui().message(failed);
            f.finish();
        };
        f.ui().setProgress(1);
        for (const auto& [address, bytes] : runs) {
            for (std::size_t at = 0, n = 0; at < bytes.size(); at += n) {
                n = std::min(kWriteData - (address + at) % kWriteData, bytes.size() - at);
                // As exteeprg: the bytes before the first one it refuses are written.
                std::size_t take = 0;
                while (take < n && ((address + at + take) & 0xFFFF) >= kLowestExternal)
                    ++take;
                const auto first = static_cast<std::uint16_t>(address + at);
                if (take > 0) {
                    Bytes data(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                               bytes.begin() + static_cast<std::ptrdiff_t>(at + take));
                    data.resize(kWriteData, 0xFF);
                    const fast::Answer a =
                        link.exchange(fast::kWrite, first, static_cast<Byte>(take), ByteView(data),
                                      0, kByteAtMost * static_cast<int>(take));
                    if (a.status == fast::kNoMemory)
                        return fail(a.address, kNotWritten);
                    if (a.status != fast::kDone ||
                        a.address != static_cast<std::uint16_t>(first + take))
                        throw LinkError(fast::kNotTheProtocol, LinkError::Ending::EndAsFrame);
                }
                if (take < n)
                    return fail((address + at + take) & 0xFFFF, kRefused);
                done += n;
                f.ui().setProgress(static_cast<int>(
                    std::clamp<std::size_t>(done * 100 / std::max<std::size_t>(total, 1), 1, 99)));
            }
        }
        f.ui().setProgress(std::nullopt);
        f.ui().message({m.success, m.title, Icon::Information});
        f.finish();
    });
}

// ---- The companion chip: its register block found, a register written or a command sent

// The chip's register offsets and its STATUS bits (docs/virtual-board.md, "Companion chip").
constexpr unsigned kEem = 5, kSfr = 6, kStatus = 7;
constexpr Byte kBusy = 0x80, kProtected = 0x01;
// How long the chip's write cycle may run (10 ms at most) before the job gives up on it.
constexpr Duration kWriteCycleAtMost = 20ms;
// The data bytes of fastxi's S request, and the bytes it reads back.
constexpr std::size_t kStoreData = 8;
constexpr std::size_t kStoreRead = 8;

LinkError chipError(const std::string& text, const std::string& detail) {
    return LinkError(text, LinkError::Ending::EndAsFrame, detail);
}

// One S request: values[i] to `at`, or to `second` where bit i of `where` is set, back to back;
// then the 8 bytes from at on. Where no value goes to `second`, `at` stands for it: the talker
// refuses a second address below $0200 whether a byte goes there or not.
Bytes store(FastLink& link, unsigned at, unsigned second, std::initializer_list<Byte> values,
            unsigned where) {
    if (where == 0)
        second = at;
    Bytes data = {static_cast<Byte>(second >> 8), static_cast<Byte>(second)};
    data.insert(data.end(), values.begin(), values.end());
    data.resize(kStoreData, 0);
    // The count: one bit for each value, least significant first, and a 1 above the last.
    const auto count = static_cast<Byte>(where | 1u << values.size());
    const auto address = static_cast<std::uint16_t>(at);
    const fast::Answer a =
        link.exchange(fast::kStore, address, count, ByteView(data), kStoreRead, {});
    if (a.status != fast::kDone || a.address != address)
        throw LinkError(fast::kNotTheProtocol, LinkError::Ending::EndAsFrame);
    return a.data;
}

// The register block as the xi talkers find it: the first of $1040, $2040 ... $F040 whose SFR
// reads back its own place ($80 + the 4 KB unit). Its first 8 registers.
std::pair<unsigned, Bytes> findChip(FastLink& link) {
    for (unsigned unit = 1; unit <= 0xF; ++unit) {
        const unsigned base = unit << 12 | 0x40;
        Bytes regs = store(link, base, 0, {}, 0);
        if (regs[kSfr] == (0x80 | unit))
            return {base, regs};
    }
    throw chipError("The companion chip did not answer.",
                    "No register block at $1040, $2040 ... $F040 read back its place in SFR: the "
                    "board has no companion chip, or the HC11's own memory hides it (its ROM "
                    "while ROMON is set).");
}

// Until the chip's write cycle has ended; then its data protection must be off, or what was
// sent did not take.
void awaitChip(Frame& f, FastLink& link, unsigned base, const char* refused,
               const std::string& why) {
    const TimePoint giveUp = f.clock().now() + kWriteCycleAtMost;
    Byte status = kBusy;
    while (status & kBusy) {
        if (f.clock().now() > giveUp)
            throw chipError("The companion chip's write cycle did not end.",
                            "Its STATUS register still showed a write cycle after 20 ms.");
        status = store(link, base + kStatus, 0, {}, 0)[0];
    }
    if (status & kProtected)
        throw chipError(refused, why);
}

struct XiCommand {
    std::string_view button;
    const char* caption;
    Byte (*build)(const Inputs&);  // the byte to send
    unsigned offset;               // a register's; 0: a command sequence ending in the byte
};
constexpr XiCommand kXiCommands[] = {
    {"XISDPoff", "SDP off", [](const Inputs&) { return Byte{0x20}; }, 0},
    {"XIreset", "Reset", [](const Inputs&) { return Byte{0x30}; }, 0},
    {"XISFR", "Prog. SFR", [](const Inputs& in) { return sfrByte(in.sfrPosition); }, kSfr},
    {"XIeem", "Prog. EEM",
     [](const Inputs& in) { return eemByte(in.eemMapText, in.eemLam, in.eemRes); }, kEem},
    {"XIBPR", "Prog. BPR", [](const Inputs& in) { return bprByte(in.bpr); }, 4},
};

void fastXicor(const XiCommand& c, Target& target, const Inputs& in) {
    Frame::run(target, std::string(c.button), c.caption, [&](Frame& f) {
        if (!f.begin())
            return;
        const Byte value = c.build(in);
        FastLink link(f);
        if (!startFastTalker(f, link, "fastxi.S19"))
            fastTalkerNeverAnswered();
        const auto [base, regs] = findChip(link);
        if (c.offset != 0) {
            store(link, base + c.offset, 0, {value}, 0);
            awaitChip(f, link, base, "The companion chip refused the write.",
                      "Its software data protection is on: turn it off with SDP off first.");
        } else {
            // $AA to $1555, $55 to $0AAA, $80, $AA, $55, then the byte, in the EEPROM's window
            // (EEM bits 2-0: its 8 KB block), as xicmd.inc sends them.
            const unsigned window = (regs[kEem] & 7u) << 13;
            store(link, window + 0x1555, window + 0x0AAA, {0xAA, 0x55, 0x80, 0xAA, 0x55, value},
                  0b010010);
            awaitChip(f, link, base, "The companion chip's data protection is still on.",
                      "The command did not reach its EEPROM window at $" + hex4(window) +
                          ": the HC11's own ROM may lie over it while ROMON is set (clear ROMON "
                          "in CONFIG first, or move the EEPROM with EEM).");
        }
        reportDone(f, in);
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> fastExternalOperations() {
    std::vector<ButtonOperation> ops;
    for (const Member& m : kMembers)
        ops.push_back({m.button, [&m](Target& t, const Inputs&) { fastProgram(m, t); }});
    for (const XiCommand& c : kXiCommands)
        ops.push_back({c.button, [&c](Target& t, const Inputs& in) { fastXicor(c, t, in); }});
    return ops;
}

}  // namespace kestro::ops
