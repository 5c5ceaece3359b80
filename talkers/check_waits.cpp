// SPDX-License-Identifier: GPL-3.0-or-later
// Run by the build over each assembled talker: every count the PC rewrites for its E clock
// (link/talker_waits.cpp) and every operand it rewrites for a named part
// (link/talker_parts.cpp), and the OPTION mask it writes CSEL into below E = 1 MHz, must stand
// where the talker's label says and hold what the talker was assembled with, and every such label
// must have its row, so that a talker changed without its table fails the build instead of a board.
//
// check_waits <talker> <S19 file> <m68hc11-nm> <ELF file> <stamp file>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "talker_loader.h"
#include "talker_parts.h"
#include "talker_waits.h"

namespace {

int fail(const std::string& talker, const std::string& why) {
    std::fprintf(stderr, "talker %s: %s (link/talker_waits.cpp)\n", talker.c_str(), why.c_str());
    return 1;
}

std::string hex(unsigned v) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", v);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: check_waits TALKER S19 NM ELF STAMP\n");
        return 2;
    }
    const std::string talker = argv[1];
    std::string reason;
    const auto text = kestro::readFile(argv[2], &reason);
    if (!text)
        return fail(talker, std::string("cannot read ") + argv[2] + ": " + reason);
    const kestro::Bytes image = kestro::talkerImage(*text);

    // The labels of counted waits ("count_" and the wait's) and of part operands ("part_").
    std::map<std::string, unsigned> labels, parts, pumps;
    const std::string nm = std::string("'") + argv[3] + "' '" + argv[4] + "'";
    const std::unique_ptr<FILE, int (*)(FILE*)> symbols(::popen(nm.c_str(), "r"), ::pclose);
    if (!symbols)
        return fail(talker, "cannot run " + nm);
    std::string listing;
    char piece[4096];
    for (std::size_t n; (n = std::fread(piece, 1, sizeof piece, symbols.get())) > 0;)
        listing.append(piece, n);
    std::istringstream lines(listing);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string address, type, name;
        if (!(fields >> address >> type >> name))
            continue;
        if (name.rfind("count_", 0) == 0)
            labels[name] = static_cast<unsigned>(std::stoul(address, nullptr, 16));
        else if (name.rfind("part_", 0) == 0)
            parts[name] = static_cast<unsigned>(std::stoul(address, nullptr, 16));
        else if (name.rfind("pump_", 0) == 0)
            pumps[name] = static_cast<unsigned>(std::stoul(address, nullptr, 16));
    }

    const auto points = kestro::patchPointsOf(talker);
    for (const auto& [name, address] : labels) {
        bool listed = false;
        for (const auto& p : points)
            listed = listed || p.wait->label == name;
        if (!listed)
            return fail(talker, "the label " + name + " at " + hex(address) + " has no row");
    }
    for (const auto& p : points) {
        const std::string name(p.wait->label);
        const auto label = labels.find(name);
        if (label == labels.end())
            return fail(talker, "no label " + name + " in the talker");
        if (label->second != p.offset)
            return fail(talker,
                        name + " is at " + hex(label->second) + ", its row says " + hex(p.offset));
        const auto count = kestro::waitCount(*p.wait, kestro::kAssembledForHz, &reason);
        if (!count)
            return fail(talker, name + ": " + reason);
        unsigned held = 0;
        for (int i = 0; i < p.wait->width; ++i) {
            const std::size_t at = p.offset + static_cast<std::size_t>(i);
            if (at >= image.size())
                return fail(talker, name + " lies past the image's end");
            held = held << 8 | image[at];
        }
        if (held != *count)
            return fail(talker, name + " holds " + std::to_string(held) +
                                    " rounds, its row stands for " + std::to_string(*count) +
                                    " at E = 2 MHz");
    }

    const kestro::PumpClock* pump = kestro::pumpClockOf(talker);
    for (const auto& [name, address] : pumps)
        if (name != kestro::kPumpClockLabel || !pump)
            return fail(talker, "the label " + name + " at " + hex(address) + " has no row");
    if (pump) {
        const std::string name(kestro::kPumpClockLabel);
        const auto label = pumps.find(name);
        if (label == pumps.end())
            return fail(talker, "no label " + name + " in the talker");
        if (label->second != pump->offset)
            return fail(talker, name + " is at " + hex(label->second) + ", its row says " +
                                    hex(pump->offset));
        if (pump->offset >= image.size() || image[pump->offset] != 0x00)
            return fail(talker, name + " does not hold the mask 0x00");
    }

    std::size_t operands = 0;
    for (const auto& [name, address] : parts) {
        bool listed = false;
        for (const auto& o : kestro::partOperands())
            listed = listed || (o.talker == talker && o.label == name);
        if (!listed)
            return fail(talker, "the label " + name + " at " + hex(address) + " has no row");
    }
    for (const auto& o : kestro::partOperands()) {
        if (o.talker != talker)
            continue;
        const std::string name(o.label);
        const auto label = parts.find(name);
        if (label == parts.end())
            return fail(talker, "no label " + name + " in the talker");
        if (label->second != o.offset)
            return fail(talker,
                        name + " is at " + hex(label->second) + ", its row says " + hex(o.offset));
        if (o.offset + 2u > image.size() ||
            (image[o.offset] << 8 | image[o.offset + 1u]) != o.assembled)
            return fail(talker, name + " does not hold " + hex(o.assembled) + " as its row says");
        ++operands;
    }
    std::ofstream(argv[5]) << points.size() << " counts and " << operands
                           << " part operands checked\n";
    return 0;
}
