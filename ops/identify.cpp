// SPDX-License-Identifier: GPL-3.0-or-later
#include "identify.h"

#include <algorithm>
#include <cstdio>

#include "fast_start.h"
#include "operations.h"
#include "sci_rates.h"

namespace kestro::ops {

namespace {

constexpr Byte kIdentify = 'D';

// ident's probes in its order: the address, the two values written, the bits that must read
// back as written for the address to count as holding them.
struct Probe {
    std::uint16_t address;
    std::array<std::uint8_t, 2> values;
    std::uint8_t mask;
};
enum ProbeIndex { kRamPage1, kRamPage2, kRamPage3, kPastRegisters, kPprog, kEprog };
constexpr std::array<Probe, 6> kProbes{{
    {0x0100, {0x55, 0xAA}, 0xFF},
    {0x0200, {0x55, 0xAA}, 0xFF},
    {0x0300, {0x55, 0xAA}, 0xFF},
    // The F1's chip-select address register: its low bits are not relied on.
    {0x105E, {0x50, 0xA0}, 0xF0},
    {0x103B, {0x20, 0x00}, 0x20},  // PPROG's ELAT
    {0x1036, {0x20, 0x00}, 0x20},  // EPROG's ELAT
}};
constexpr std::uint16_t kRegisterBase = 0x1000;

bool held(const IdentReading& r, ProbeIndex i) {
    const Probe& p = kProbes[i];
    for (std::size_t k = 0; k < 2; ++k)
        if ((r.probes[i][k] & p.mask) != (p.values[k] & p.mask))
            return false;
    return true;
}

// What tells one part from another as ident measures it.
struct Measured {
    unsigned ramSize;
    bool pastRegisters;
    bool pprogLatch;
    bool eprogLatch;
};

Measured expected(const sim::Variant& v) {
    return {v.ramSize, v.registerBlockSize > kProbes[kPastRegisters].address - kRegisterBase,
            v.epromControl == sim::EpromControl::Pprog, v.epromControl == sim::EpromControl::Eprog};
}

// The first measurement on which the part differs from the reading, as the user is told it;
// empty when none does.
std::string mismatch(const Identity& id, const sim::Variant& v) {
    const Measured e = expected(v);
    char text[160];
    if (e.ramSize != id.ramSize)
        std::snprintf(text, sizeof text, "%u bytes of RAM answer where the %s has %u", id.ramSize,
                      std::string(v.shortName).c_str(), e.ramSize);
    else if (e.pastRegisters !=
             (id.registerBlockSize > kProbes[kPastRegisters].address - kRegisterBase))
        std::snprintf(text, sizeof text, "the register block is %u bytes where the %s has %u",
                      id.registerBlockSize, std::string(v.shortName).c_str(),
                      unsigned{v.registerBlockSize});
    else if (e.pprogLatch != id.pprogLatch)
        std::snprintf(text, sizeof text, "PPROG bit 5 %s ELAT, which the %s %s",
                      id.pprogLatch ? "holds" : "does not hold", std::string(v.shortName).c_str(),
                      e.pprogLatch ? "has" : "has not");
    else if (e.eprogLatch != id.eprogLatch)
        std::snprintf(text, sizeof text, "$1036 %s EPROG's ELAT, which the %s %s",
                      id.eprogLatch ? "holds" : "does not hold", std::string(v.shortName).c_str(),
                      e.eprogLatch ? "has" : "has not");
    else if ((id.config & ~v.configMask) != 0)
        std::snprintf(text, sizeof text, "CONFIG $%02X has bits the %s does not have",
                      unsigned{id.config}, std::string(v.shortName).c_str());
    else
        return {};
    return text;
}

// The parts with one die: the same memories, registers and latches; CONFIG alone differs.
bool oneDie(const sim::Variant& a, const sim::Variant& b) {
    return a.ramSize == b.ramSize && a.romSize() == b.romSize() && a.eepromSize == b.eepromSize &&
           a.eepromMovable == b.eepromMovable && a.romIsEprom == b.romIsEprom &&
           a.epromControl == b.epromControl && a.registerBlockSize == b.registerBlockSize;
}

// Whether CONFIG has the memories on or off as the part leaves the factory; a bit for a memory
// the die lacks says nothing.
bool asFromTheFactory(std::uint8_t config, const sim::Variant& v) {
    std::uint8_t bits = 0;
    if (v.romSize() != 0)
        bits |= sim::config::ROMON;
    if (v.eepromSize != 0)
        bits |= sim::config::EEON;
    return ((config ^ v.factoryConfig) & bits) == 0;
}

// "A0, A1 and A8".
std::string names(const std::vector<const sim::Variant*>& parts) {
    std::string s;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i != 0)
            s += i + 1 == parts.size() ? " and " : ", ";
        s += parts[i]->shortName;
    }
    return s;
}

std::vector<std::vector<const sim::Variant*>> dies(const std::vector<const sim::Variant*>& parts) {
    std::vector<std::vector<const sim::Variant*>> groups;
    for (const sim::Variant* v : parts) {
        auto g = std::find_if(groups.begin(), groups.end(),
                              [v](const auto& group) { return oneDie(*group.front(), *v); });
        if (g == groups.end())
            groups.push_back({v});
        else
            g->push_back(v);
    }
    return groups;
}

std::string hex4(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "$%04X", v & 0xFFFF);
    return text;
}

std::string hex2(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "$%02X", v & 0xFF);
    return text;
}

// The CONFIG bits every part has, with what each means set and clear; %m is the part's ROM or
// EPROM.
struct BitText {
    std::uint8_t mask;
    const char* name;
    const char* set;
    const char* clear;
};
constexpr BitText kConfigBits[] = {
    {sim::config::NOSEC, "NOSEC", "security off",
     "security on, where the part was made with the security option"},
    {sim::config::NOCOP, "NOCOP", "COP watchdog off",
     "COP watchdog on after a normal reset (bootstrap mode holds it off)"},
    {sim::config::ROMON, "ROMON", "%m in the memory map", "%m out of the memory map"},
    {sim::config::EEON, "EEON", "EEPROM in the memory map", "EEPROM out of the memory map"},
};

std::string romName(const sim::Variant& v) {
    return v.romIsEprom ? "EPROM" : "ROM";
}

}  // namespace

std::optional<IdentReading> readIdentity(Target& target) {
    std::optional<IdentReading> got;
    Frame::run(target, "Identify", "Identify", [&got](Frame& f) {
        if (!f.begin())
            return;
        IdentReading r;
        r.crystalHz = f.link().sciClock().crystalHz();
        fast::FastLink link(f, fast::Check::Crc8);
        if (!startFastTalker(f, link, "ident.S19", &r.downloadBaud))
            fastTalkerNeverAnswered();
        const fast::Answer a = link.exchange(kIdentify, 0, 0, 2 * r.probes.size());
        if (a.status != fast::kDone || a.data.size() != 2 * r.probes.size())
            throw LinkError(fast::kNotTheProtocol, LinkError::Ending::EndAsFrame);
        // The address carries TEST1 and CONFIG.
        r.config = static_cast<std::uint8_t>(a.address);
        for (std::size_t i = 0; i < r.probes.size(); ++i)
            r.probes[i] = {a.data[2 * i], a.data[2 * i + 1]};
        got = r;
        f.finish();
    });
    return got;
}

Identity identify(const IdentReading& reading, std::span<const sim::Variant> parts) {
    Identity id;
    id.config = reading.config;
    // RAM runs up from $0000: the first page that does not hold ends it.
    id.ramSize = 256;
    for (ProbeIndex page : {kRamPage1, kRamPage2, kRamPage3}) {
        if (!held(reading, page))
            break;
        id.ramSize += 256;
    }
    id.pprogLatch = held(reading, kPprog);
    id.eprogLatch = held(reading, kEprog);
    const bool past = held(reading, kPastRegisters);
    id.registerBlockSize = 64;
    for (const sim::Variant& v : parts) {
        if (past && v.registerBlockSize > id.registerBlockSize)
            id.registerBlockSize = v.registerBlockSize;
    }
    for (const sim::Variant& v : parts)
        if (mismatch(id, v).empty())
            id.candidates.push_back(&v);
    if (id.candidates.size() == 1) {
        id.part = id.candidates.front();
        return id;
    }
    std::vector<const sim::Variant*> factory;
    for (const sim::Variant* v : id.candidates)
        if (asFromTheFactory(id.config, *v))
            factory.push_back(v);
    if (factory.size() == 1)
        id.part = factory.front();
    const auto groups = dies(id.candidates);
    for (const auto& die : groups)
        if (die.size() > 1)
            id.why.push_back(
                "The " + names(die) +
                " are one die, told apart only by the memories CONFIG switches "
                "on (ROMON, EEON) as each leaves the factory" +
                (id.part && std::find(die.begin(), die.end(), id.part) != die.end()
                     ? "; CONFIG has them as the " + std::string(id.part->shortName) + " leaves it"
                     : ""));
    if (groups.size() > 1) {
        std::vector<const sim::Variant*> fixed, movable;
        for (const sim::Variant* v : id.candidates)
            (v->eepromMovable ? movable : fixed).push_back(v);
        std::string text = "The " + names(id.candidates) +
                           " answer alike: " + std::to_string(id.ramSize) +
                           " bytes of RAM, the same registers";
        if (!fixed.empty() && !movable.empty() && (id.config & 0xF0) == 0)
            text += ", and CONFIG bits 7-4 read 0, which the " + names(fixed) +
                    " do not have and which put the EEPROM of the " + names(movable) + " at " +
                    hex4(movable.front()->eepromBaseFor(id.config));
        id.why.push_back(text);
    }
    return id;
}

std::vector<const sim::Variant*> describedParts(const Identity& id) {
    if (id.part)
        return {id.part};
    std::vector<const sim::Variant*> out;
    for (const auto& die : dies(id.candidates)) {
        auto fits = std::find_if(die.begin(), die.end(), [&id](const sim::Variant* v) {
            return asFromTheFactory(id.config, *v);
        });
        out.push_back(fits != die.end() ? *fits : die.front());
    }
    return out;
}

std::vector<ConfigBit> configBits(std::uint8_t config, const sim::Variant& part) {
    std::vector<ConfigBit> bits;
    if (part.eepromMovable)
        bits.push_back({"EE3-EE0", static_cast<unsigned>(config >> 4),
                        "EEPROM at " + hex4(part.eepromBaseFor(config))});
    else
        bits.push_back({"bits 7-4", static_cast<unsigned>(config >> 4),
                        "not on the " + std::string(part.shortName) + " (read 0)"});
    for (const BitText& b : kConfigBits) {
        const bool set = config & b.mask;
        std::string meaning = set ? b.set : b.clear;
        if (const auto at = meaning.find("%m"); at != std::string::npos)
            meaning = part.romSize() == 0 ? "no ROM on the " + std::string(part.shortName)
                                          : meaning.replace(at, 2, romName(part));
        bits.push_back({b.name, set ? 1u : 0u, meaning});
    }
    return bits;
}

std::vector<MappedMemory> memoryMap(const Identity& id, const sim::Variant& part) {
    std::vector<MappedMemory> map{
        {"RAM", 0, id.ramSize - 1},
        {"Registers", kRegisterBase, kRegisterBase + part.registerBlockSize - 1u}};
    if (part.eepromSize != 0 && (id.config & sim::config::EEON)) {
        const unsigned base = part.eepromBaseFor(id.config & part.configMask);
        map.push_back({"EEPROM", base, base + part.eepromSize - 1u});
    }
    if (id.config & sim::config::ROMON)
        for (const sim::AddressRange& r : part.rom)
            if (r.size != 0)
                map.push_back({romName(part), r.base, r.base + r.size - 1u});
    std::sort(map.begin(), map.end(),
              [](const MappedMemory& a, const MappedMemory& b) { return a.begin < b.begin; });
    return map;
}

std::vector<std::string> identityReport(const Identity& id, const IdentReading& reading,
                                        int lineBaud) {
    std::vector<std::string> lines;
    if (id.candidates.empty())
        lines.push_back("Part: none that Kestro knows answers so (" + std::to_string(id.ramSize) +
                        " bytes of RAM, CONFIG " + hex2(id.config) + ")");
    else if (id.part)
        lines.push_back("Part: " + std::string(id.part->name) + " (" +
                        std::string(id.part->shortName) + ")");
    else {
        // One of each die: the dies' sisters are named in the reasons below.
        const auto parts = describedParts(id);
        lines.push_back(parts.size() == 2
                            ? "Part: cannot tell the " + std::string(parts[0]->shortName) +
                                  " from the " + std::string(parts[1]->shortName)
                            : "Part: cannot tell the " + names(parts) + " apart");
    }
    for (const std::string& why : id.why)
        lines.push_back("  " + why + ".");
    lines.push_back("CONFIG: " + hex2(id.config));
    const auto parts = describedParts(id);
    for (const sim::Variant* v : parts) {
        const std::string as = parts.size() > 1 ? "  as the " + std::string(v->shortName) : "";
        if (!as.empty())
            lines.push_back(as + ":");
        for (const ConfigBit& b : configBits(id.config, *v))
            lines.push_back("  " + b.name + " = " + std::to_string(b.value) + ": " + b.meaning);
    }
    for (const sim::Variant* v : parts) {
        lines.push_back(parts.size() > 1 ? "Memory map as the " + std::string(v->shortName) + ":"
                                         : "Memory map:");
        for (const MappedMemory& m : memoryMap(id, *v))
            lines.push_back("  " + m.name + " " + hex4(m.begin) + "-" + hex4(m.end));
    }
    char text[160];
    std::snprintf(text, sizeof text,
                  "Crystal %g MHz (E = %g MHz): the talker went down at %d baud and answered at "
                  "%d baud",
                  reading.crystalHz / 1e6, reading.crystalHz / 4e6, reading.downloadBaud,
                  lineBaud != 0 ? lineBaud : reading.downloadBaud);
    lines.push_back(text);
    return lines;
}

std::string namedPartWarning(const Identity& id, const sim::Variant& named) {
    const std::string why = mismatch(id, named);
    if (why.empty())
        return {};
    const std::string answers =
        id.part ? "the " + std::string(id.part->shortName) : "one of the " + names(id.candidates);
    return "The part named is the " + std::string(named.shortName) + ", but the HC11 answers as " +
           answers + ": " + why + ".";
}

}  // namespace kestro::ops
