// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <string>

#include "talker_waits.h"

namespace kestro::ops {

namespace {

enum class Kind { Program, Compare };

// What a programming talker's error letter means; "%s" is the address that follows it.
struct Letters {
    const char* refused;   // A
    const char* readBack;  // V
    // M (the fast path, which knows CONFIG), and V where no part has the memory: no erase or
    // voltage would help there.
    const char* absent = nullptr;
    bool (*somePartHas)(unsigned address) = nullptr;
};

constexpr const char* kChecksum =
    "a record's checksum failed on the line, in the record at $%s (a character was lost or "
    "changed on the way)";

// $B600-$B7FF on the A and E series; $x800-$xFFF on the 811E2, $xE00-$xFFF on the F1.
bool someEeprom(unsigned a) {
    return (a >= 0xB600 && a <= 0xB7FF) || (a & 0x0800) != 0;
}
// The 711E9's at $D000-$FFFF; the 711E20's there and at $9000-$AFFF.
bool someEprom(unsigned a) {
    return a >= 0xD000 || (a >= 0x9000 && a <= 0xAFFF);
}

// The talker's own RAM below $0200 and the register block at $1000-$103F, where it stands
// after reset: eeprog and eprog answer V there, as at every address without their memory,
// before a latch is set.
bool talkersOwn(unsigned a) {
    return a < 0x0200 || (a >= 0x1000 && a <= 0x103F);
}

// The default talkers answer V both where the memory is not (they decide it from CONFIG, which
// the PC does not see) and where a byte did not read back: the reason names both.
constexpr Letters kInternal = {
    "$%s is the talker's own RAM or the register block, which it does not program",
    "$%s did not read back as the file has it: it is outside the EEPROM the part has at the "
    "CONFIG it has ($B600-$B7FF on the A and E series, $x800-$xFFF on the 811E2 and "
    "$xE00-$xFFF on the F1 with x from CONFIG bits 7-4, none while EEON is clear), or within "
    "it a bit needs a 1 over a 0 (erase first)",
    "$%s is outside the EEPROM the part has at the CONFIG it has: $B600-$B7FF on the A and E "
    "series, $x800-$xFFF on the 811E2 and $xE00-$xFFF on the F1 with x from CONFIG bits 7-4, "
    "none while EEON is clear",
    someEeprom};
constexpr Letters kEprom = {
    "$%s is the talker's own RAM or the register block, which it does not program",
    "$%s did not read back as the file has it: the part has no EPROM there at the CONFIG it has "
    "(the 711E9 has one at $D000-$FFFF while ROMON is set; the 711E20's, there and at "
    "$9000-$AFFF, is programmed only where the part is named as the 711E20), or the EPROM "
    "needs +12 V on XIRQ/VPPE, and a bit once 0 stays 0",
    "$%s is outside the EPROM the part has at the CONFIG it has: only the 711E9 and 711E20 have "
    "one, at $D000-$FFFF (the 711E20's also at $9000-$AFFF) while ROMON is set",
    someEprom};
constexpr Letters kExternal = {
    "$%s is below $2000, where the HC11's own RAM and registers are, which the talker does not "
    "program",
    "$%s did not read back as the file has it within the write cycle (nothing there, the "
    "HC11's own memory in the way, a protected block, or data protection on)"};

struct Member {
    std::string_view button;
    const char* talker;
    Kind kind;
    const char* title;
    const char* success;
    const char* failure;  // for comparing members, the text before the talker's reply
    const Letters* letters = nullptr;
};

// The external EEPROM's programming member reports in the EPROM's words; the Xicor EEPROM is
// programmed and compared as an external EEPROM.
constexpr Member kMembers[] = {
    {"EepromProgram", "eeprog.S19", Kind::Program, "Eeprom", "Eeprom is program", "Error in Eeprom",
     &kInternal},
    {"EpromProgram", "eprog.S19", Kind::Program, "Eprom", "Eprom is program", "Error in Eprom",
     &kEprom},
    {"ExtEEprog", "exteeprg.S19", Kind::Program, "Eprom", "Eprom is program", "Error in Eprom",
     &kExternal},
    {"Xiprog", "exteeprg.S19", Kind::Program, "Eeprom", "Eeprom is program", "Error in Eeprom",
     &kExternal},
    {"EepromCompare", "eecomp.S19", Kind::Compare, "Eeprom", "File equal Eeprom", "Error found at"},
    {"EpromCompare", "ecomp.S19", Kind::Compare, "Eprom", "File equal Eprom", "Error found at"},
    {"ExtEEcomp", "exteecmp.S19", Kind::Compare, "Eeprom", "File equal Eeprom", "Error found at"},
    {"Xicomp", "exteecmp.S19", Kind::Compare, "Eeprom", "File equal Eeprom", "Error found at"},
};

// A talker's reply as the user is shown it: a byte that is not text, as \xHH, so that a line's
// garbage neither drives a terminal nor breaks a JSON record.
std::string printable(const std::string& reply) {
    std::string out;
    for (const char ch : reply) {
        const auto c = static_cast<unsigned char>(ch);
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c >= 0x20 && c < 0x7F && c != '\\' && c != '"' ? std::string(1, ch) : hex;
    }
    return out;
}

std::string quoted(const std::string& reply) {
    return "\"" + printable(reply) + "\"";
}

// A programming talker's last word: a letter, a blank and an address as four hexadecimal digits.
bool shaped(const std::string& reply) {
    return reply.size() == 6 && reply[1] == ' ' &&
           std::all_of(reply.begin() + 2, reply.end(),
                       [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; });
}

// What a programming talker's reply says went wrong and where. A reply of another shape is
// quoted as it came.
std::string failureReason(const Letters& letters, const std::string& reply) {
    if (reply.empty())
        return std::string(kNotConfirmed) + "; " + kPartlyProgrammed;
    const char* form = nullptr;
    if (shaped(reply)) {
        switch (reply[0]) {
            case 'A':
                form = letters.refused;
                break;
            case 'V': {
                const auto at = static_cast<unsigned>(std::stoul(reply.substr(2), nullptr, 16));
                form = talkersOwn(at)                                    ? letters.refused
                       : letters.somePartHas && !letters.somePartHas(at) ? letters.absent
                                                                         : letters.readBack;
                break;
            }
            case 'M':
                form = letters.absent;
                break;
            case 'C':
                form = kChecksum;
                break;
            default:
                break;
        }
    }
    if (form == nullptr)
        return "the talker answered " + quoted(reply);
    std::string text = form;
    text.replace(text.find("%s"), 2, reply.substr(2));
    return text;
}

// A programming talker's "O" names the address after the last record's data it took
// (recordsSpan's end). A record whose S or type a bit error changed is skipped by the talker,
// and an S9 made of a 1 ends the file early: the "O" then names another address.

// The reason of an "O" at another address than the file's end.
std::string endedElsewhere(const std::string& reply, unsigned end) {
    char expected[8];
    std::snprintf(expected, sizeof expected, "%04X", end);
    return std::string(kNotConfirmed) + " as the file's: it answered its end at $" +
           reply.substr(2) + ", where the file ends at $" + expected +
           " (a record was damaged on the line); " + kPartlyProgrammed;
}

// A programming talker holds two characters while it programs a byte (talkers/poll.inc): where
// its wait for the byte outlasts the two characters that carry the next one (an E below 2 MHz
// doubles the EEPROM's time; a slow crystal slows the line less), the file goes no faster than
// half that wait a character, with a millisecond for the talker's own work on each byte.
Duration characterPace(const Member& m, const SciClock& sci) {
    const auto wait = byteWaitAt(talkerName(m.talker), sci.eHz());
    return wait ? (*wait + 1ms) / 2 : Duration::zero();
}

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
        f.streamFile(*file, characterPace(m, f.link().sciClock()));
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        const std::string reply = f.answer();
        const auto end = m.kind == Kind::Program ? recordsSpan(*file).end : std::nullopt;
        const bool endsElsewhere =
            shaped(reply) && reply[0] == kJobDone && end &&
            static_cast<unsigned>(std::stoul(reply.substr(2), nullptr, 16)) != *end;
        const bool done = m.kind == Kind::Program
                              ? shaped(reply) && reply[0] == kJobDone && !endsElsewhere
                              : confirmed(reply);
        if (done) {
            f.ui().message({m.success, m.title, Icon::Information});
        } else if (m.kind == Kind::Program) {
            // The window's box shows the failure alone.
            Message failed{m.failure, m.title, Icon::Information};
            failed.reason =
                endsElsewhere ? endedElsewhere(reply, *end) : failureReason(*m.letters, reply);
            f.ui().message(failed);
        } else if (reply.empty()) {
            f.ui().message(notConfirmed(false));
        } else {
            f.ui().message(
                {std::string(m.failure) + "\r\n" + printable(reply), m.title, Icon::Critical});
        }
        f.finish();
    });
}

}  // namespace

std::string programFailureReason(std::string_view button, const std::string& reply) {
    for (const Member& m : kMembers)
        if (m.button == button && m.letters != nullptr)
            return failureReason(*m.letters, reply);
    return "the talker answered " + quoted(reply);
}

std::vector<ButtonOperation> programCompareOperations() {
    std::vector<ButtonOperation> ops;
    for (const Member& m : kMembers)
        ops.push_back({m.button, [&m](Target& t, const Inputs&) { programOrCompare(m, t); }});
    return ops;
}

}  // namespace kestro::ops
