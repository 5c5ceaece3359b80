// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations.h"

namespace kestro::ops {

namespace {

enum class Kind { Program, Compare };

struct Member {
    std::string_view button;
    const char* talker;
    Kind kind;
    const char* title;
    const char* success;
    const char* failure;  // for comparing members, the text before the talker's reply
};

// The external EEPROM's programming member reports in the EPROM's words; the Xicor EEPROM is
// programmed and compared as an external EEPROM.
constexpr Member kMembers[] = {
    {"EepromProgram", "eeprog.S19", Kind::Program, "Eeprom", "Eeprom is program",
     "Error in Eeprom"},
    {"EpromProgram", "eprog.S19", Kind::Program, "Eprom", "Eprom is program", "Error in Eprom"},
    {"ExtEEprog", "exteeprg.S19", Kind::Program, "Eprom", "Eprom is program", "Error in Eprom"},
    {"Xiprog", "exteeprg.S19", Kind::Program, "Eeprom", "Eeprom is program", "Error in Eeprom"},
    {"EepromCompare", "eecomp.S19", Kind::Compare, "Eeprom", "File equal Eeprom", "Error found at"},
    {"EpromCompare", "ecomp.S19", Kind::Compare, "Eprom", "File equal Eprom", "Error found at"},
    {"ExtEEcomp", "exteecmp.S19", Kind::Compare, "Eeprom", "File equal Eeprom", "Error found at"},
    {"Xicomp", "exteecmp.S19", Kind::Compare, "Eeprom", "File equal Eeprom", "Error found at"},
};

void programOrCompare(const Member& m, Target& target) {
    const char* idle = m.kind == Kind::Program ? "Program" : "Compare";
    Frame::run(target, std::string(m.button), idle, [&m](Frame& f) {
        if (!f.begin())
            return;
        const auto file = chooseSRecordFile(f);
        if (!file)
            return;
        f.downloadTalker(m.talker);
        f.waitDrained();
        f.wait(Frame::kSettle);
        f.discardBuffers();
        f.streamFile(*file);
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        if (f.port().inBufferCount() == 0) {
            f.ui().message({m.success, m.title, Icon::Information});
        } else if (m.kind == Kind::Program) {
            // The talker's bytes stay for the next run to discard.
            f.ui().message({m.failure, m.title, Icon::Information});
        } else {
            const std::string reply = textOf(f.port().input());
            f.ui().message({std::string(m.failure) + "\r\n" + reply, m.title, Icon::Critical});
        }
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> programCompareOperations() {
    std::vector<ButtonOperation> ops;
    for (const Member& m : kMembers)
        ops.push_back({m.button, [&m](Target& t, const Inputs&) { programOrCompare(m, t); }});
    return ops;
}

}  // namespace kestro::ops
