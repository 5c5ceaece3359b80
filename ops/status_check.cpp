// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations.h"

namespace kestro::ops {

namespace {

struct Member {
    std::string_view button;
    const char* talker;
    std::string Inputs::*begin;
    std::string Inputs::*end;
    const char* title;
};

constexpr Member kMembers[] = {
    {"EepromCheck", "eestat.S19", &Inputs::eepromBegin, &Inputs::eepromEnd, "Eeprom"},
    {"EpromCheck", "estat.S19", &Inputs::epromBegin, &Inputs::epromEnd, "Eprom"},
};

// Asks a status talker whether the range holds data: its confirmation alone means it does not,
// any other reply that it does.
void checkStatus(const Member& m, Target& target, const Inputs& in) {
    Frame::run(target, std::string(m.button), "Check Stat", [&](Frame& f) {
        if (!f.begin())
            return;
        f.downloadTalker(m.talker);
        f.waitDrained();
        f.wait(Frame::kSettle);
        f.discardBuffers();
        sendRangeCommand(f, in.*m.begin, in.*m.end);
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        const std::string reply = textOf(f.port().input());
        if (reply.empty())
            f.ui().message(notConfirmed(false));
        else
            f.ui().message({confirmed(reply) ? "No Data" : "Data", m.title, Icon::Information});
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> statusCheckOperations() {
    std::vector<ButtonOperation> ops;
    for (const Member& m : kMembers)
        ops.push_back({m.button, [&m](Target& t, const Inputs& in) { checkStatus(m, t, in); }});
    return ops;
}

}  // namespace kestro::ops
