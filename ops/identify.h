// SPDX-License-Identifier: GPL-3.0-or-later
// Which HC11 part answers, told from what the ident talker measures on it (talkers/ident.s):
// CONFIG, the RAM past page 0, the F1's register past the 64-byte block and the EPROM latches.
// The parts come as the caller's rows, so that a new part is a new row and not a branch here.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "frame.h"
#include "kestro/sim/board/variant.h"

namespace kestro::ops {

// What ident sent back, as it sent it.
struct IdentReading {
    std::uint8_t config = 0;
    // Each probe's two read-backs, in the talker's order (kProbes in identify.cpp).
    std::array<std::array<std::uint8_t, 2>, 6> probes{};
    int downloadBaud = 0;  // the rate the talker went down at
    long crystalHz = 0;    // the crystal the link's rates were made for
};

// ident run on the target: nullopt when it did not answer, which the target's UI has been told.
std::optional<IdentReading> readIdentity(Target& target);

// What the reading says.
struct Identity {
    std::uint8_t config = 0;
    unsigned ramSize = 0;            // bytes answering as RAM from $0000
    unsigned registerBlockSize = 0;  // 64, or 96 where the register past $103F answers
    bool pprogLatch = false;         // PPROG bit 5 held ELAT
    bool eprogLatch = false;         // $1036 held ELAT
    // The parts the reading fits; part is one of them when it alone fits, or alone fits with
    // the memories CONFIG has on as that part leaves the factory.
    std::vector<const sim::Variant*> candidates;
    const sim::Variant* part = nullptr;
    // Why the others in candidates cannot be told from part (or from each other).
    std::vector<std::string> why;
};

Identity identify(const IdentReading& reading, std::span<const sim::Variant> parts);

// The parts a report describes: the one identified, or one of each die among those it cannot
// tell apart (the one whose factory CONFIG fits, where there is one).
std::vector<const sim::Variant*> describedParts(const Identity& id);

// The report, a line each: the part, CONFIG bit by bit, the memory map in use, the crystal and
// rates. lineBaud: the rate the talker and the PC agreed on.
std::vector<std::string> identityReport(const Identity& id, const IdentReading& reading,
                                        int lineBaud);

// The warning for a part the user named that the identification rules out; empty when it fits.
std::string namedPartWarning(const Identity& id, const sim::Variant& named);

// CONFIG bit by bit on a part: name, the bit's value, what it means there.
struct ConfigBit {
    std::string name;
    unsigned value;
    std::string meaning;
};
std::vector<ConfigBit> configBits(std::uint8_t config, const sim::Variant& part);

// A memory as the part maps it under its CONFIG.
struct MappedMemory {
    std::string name;
    unsigned begin;
    unsigned end;  // the last address
};
std::vector<MappedMemory> memoryMap(const Identity& id, const sim::Variant& part);

}  // namespace kestro::ops
