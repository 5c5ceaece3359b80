// SPDX-License-Identifier: GPL-3.0-or-later
// Programming the internal EEPROM and the 711E9's EPROM through the fast protocol
// (docs/fast-protocol.md, W): the file's bytes in file order, in blocks that follow on from
// each other (up to the talker's block size), with the default path's verdicts. The PC refuses the
// talker's own RAM and the register block (A) and decides from the CONFIG that the talker's ping
// answers where the memory is (M), as the default talkers decide it, before it sends a byte; the
// talker erases only where a 0 must become a 1, reads every byte it wrote back, and answers V where
// the part keeps no EPROM latch.
#include <algorithm>
#include <cstdio>

#include "fast_start.h"
#include "operations.h"
#include "talker_waits.h"

namespace kestro::ops {

namespace {

struct Program {
    std::string_view button;
    const char* talker;
    const char* title;
    const char* success;
    const char* failure;
    // The longest a byte can take on the chip, the talker's answer coming after it for each:
    // so many of its counted cycles (count_cycle), at the E in use, and the talker's own work.
    int cyclesPerByte;
    Duration workPerByte;
    // The data bytes of the talker's W: the EPROM's 2 ms a byte leave the line's time a larger
    // share, which longer blocks shrink.
    std::size_t block;
    // Whether the memory is at the address, from CONFIG as the part shows it and the part
    // named (empty: none).
    bool (*inMemory)(Byte config, std::uint16_t address, std::string_view part);
};

// eeprog's rule: nowhere while EEON (bit 0) is clear; on the 811E2 at $x800-$xFFF with x from
// bits 7-4; with bits 7-4 at 0 (the A8, E9 and 711E9 show them so) at $B600-$B7FF and also at
// $0800-$0FFF, an 811E2 with its EEPROM there, which CONFIG cannot tell apart.
bool inEeprom(Byte config, std::uint16_t a, std::string_view) {
    unsigned high = (a >> 8) | 0x01;
    if (high == 0xB7)
        high = 0x08;
    return (high | 0x07) == (config | 0x0Eu);
}

// The EPROM a named part holds beside $D000-$FFFF (docs/hardware-facts.md, EPROM); eprog has
// the same bounds written into it for that part (link/talker_parts.cpp).
struct LowerEprom {
    std::string_view part;
    std::uint16_t first;
    std::uint16_t last;
};
constexpr LowerEprom kLowerEproms[] = {{"MC68HC711E20", 0x9000, 0xAFFF}};

// eprog's rule: $D000-$FFFF, and a named part's lower range, while ROMON (CONFIG bit 1) maps
// the EPROM. Whether the part keeps the EPROM's latch only the chip can tell: the talker
// answers V where it does not.
bool inEprom(Byte config, std::uint16_t a, std::string_view part) {
    if (!(config & 0x02))
        return false;
    for (const LowerEprom& e : kLowerEproms)
        if (e.part == part && a >= e.first && a <= e.last)
            return true;
    return a >= 0xD000;
}

// An EEPROM byte: an erase and a programming cycle of 10.51 ms; an EPROM byte 2.11 ms.
constexpr Program kPrograms[] = {
    {"EepromProgram", "fastee.S19", "Eeprom", "Eeprom is program", "Error in Eeprom", 2, 1ms, 8,
     inEeprom},
    {"EpromProgram", "fastep.S19", "Eprom", "Eprom is program", "Error in Eprom", 1, 900us, 16,
     inEprom},
};

struct FileByte {
    std::uint16_t address;
    Byte value;
};

// The data bytes of the S1 records a file is sent as, in the order the default talkers take
// them.
std::vector<FileByte> fileBytes(std::string_view text) {
    std::vector<FileByte> bytes;
    for (const auto& [address, data] : s1Records(text))
        for (std::size_t i = 0; i < data.size(); ++i)
            bytes.push_back({static_cast<std::uint16_t>(address + i), data[i]});
    return bytes;
}

// The talker's own RAM ($0000-$01FF, the internal RAM of every part) and the register block,
// which the default programming talkers refuse.
bool refused(std::uint16_t a) {
    return a < 0x0200 || (a >= 0x1000 && a < 0x1040);
}

void fail(Frame& f, const Program& p, char letter, std::uint16_t address) {
    char reply[8];
    std::snprintf(reply, sizeof reply, "%c %04X", letter, static_cast<unsigned>(address));
    f.ui().setProgress(std::nullopt);
    Message failed{p.failure, p.title, Icon::Information};
    failed.reason = programFailureReason(p.button, reply);
    f.ui().message(failed);
    f.finish();
}

void fastProgram(const Program& p, Target& target) {
    Frame::run(target, std::string(p.button), "Program", [&p](Frame& f) {
        if (!f.begin())
            return;
        const auto file = chooseSRecordFile(f);
        if (!file)
            return;
        fast::FastLink link(f, fast::Check::Crc8);
        if (!startFastTalker(f, link, p.talker))
            fastTalkerNeverAnswered();
        // The ping's answer carries CONFIG in its address's low byte.
        const auto config = static_cast<Byte>(link.exchange(fast::kPing, 0, 0, 0).address);
        const std::vector<FileByte> bytes = fileBytes(*file);
        const Duration perByte =
            countedWaitAt(talkerName(p.talker), "count_cycle", f.link().sciClock().eHz())
                    .value_or(Duration::zero()) *
                p.cyclesPerByte +
            p.workPerByte;
        f.ui().setProgress(1);
        for (std::size_t i = 0; i < bytes.size();) {
            const std::uint16_t at = bytes[i].address;
            if (refused(at))
                return fail(f, p, 'A', at);
            if (!p.inMemory(config, at, f.link().part()))
                return fail(f, p, 'M', at);
            // A block: bytes that follow on from each other, all in the memory.
            Bytes data{bytes[i].value};
            while (data.size() < p.block && i + data.size() < bytes.size()) {
                const FileByte& b = bytes[i + data.size()];
                if (b.address != static_cast<std::uint16_t>(at + data.size()) ||
                    refused(b.address) || !p.inMemory(config, b.address, f.link().part()))
                    break;
                data.push_back(b.value);
            }
            const auto count = static_cast<Byte>(data.size());
            const std::uint16_t past = static_cast<std::uint16_t>(at + count);
            data.resize(p.block, 0xFF);
            const fast::Answer a =
                link.exchange(fast::kWrite, at, count, ByteView(data), 0, perByte * count);
            // V names a byte of the block; K the address past its last.
            const bool inBlock = static_cast<std::uint16_t>(a.address - at) < count;
            if (a.status == fast::kNoMemory && inBlock)
                return fail(f, p, 'V', a.address);
            if (a.status != fast::kDone || a.address != past) {
                f.ui().setProgress(std::nullopt);
                throw LinkError(fast::kNotTheProtocol, LinkError::Ending::EndAsFrame,
                                "The talker files in the asm folder may not belong to this "
                                "version of Kestro.");
            }
            i += count;
            f.ui().setProgress(
                static_cast<int>(std::clamp<std::size_t>(i * 100 / bytes.size(), 1, 99)));
        }
        f.ui().setProgress(std::nullopt);
        f.ui().message({p.success, p.title, Icon::Information});
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> fastProgramOperations() {
    std::vector<ButtonOperation> ops;
    for (const Program& p : kPrograms)
        ops.push_back({p.button, [&p](Target& t, const Inputs&) { fastProgram(p, t); }});
    return ops;
}

}  // namespace kestro::ops
