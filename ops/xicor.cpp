// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations.h"
#include "register_bytes.h"

namespace kestro::ops {

namespace {

// Talkers that act as soon as they run: the PC sends nothing and gives them half a second to
// answer after their download's echo.
struct Command {
    std::string_view button;
    const char* caption;
    const char* talker;
};
constexpr Command kCommands[] = {
    {"XISDPoff", "SDP off", "xisdpoff.S19"},
    {"XIreset", "Reset", "xireset.S19"},
};

void runCommand(const Command& c, Target& target, const Inputs& in) {
    Frame::run(target, std::string(c.button), c.caption, [&](Frame& f) {
        if (!f.begin())
            return;
        f.downloadTalker(c.talker);
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        if (!confirmed(textOf(f.afterEcho())))
            f.ui().message(notConfirmed(true));
        else
            reportDone(f, in);
        f.finish();
    });
}

// The companion chip's registers: one byte each, built from the page's controls.
struct Register {
    std::string_view button;
    const char* caption;
    const char* talker;
    Byte (*build)(const Inputs&);
};
constexpr Register kRegisters[] = {
    {"XISFR", "Prog. SFR", "xisfr.S19", [](const Inputs& in) { return sfrByte(in.sfrPosition); }},
    {"XIeem", "Prog. EEM", "xieem.S19",
     [](const Inputs& in) { return eemByte(in.eemMapText, in.eemLam, in.eemRes); }},
    {"XIBPR", "Prog. BPR", "xibpr.S19", [](const Inputs& in) { return bprByte(in.bpr); }},
};

void programRegister(const Register& r, Target& target, const Inputs& in) {
    Frame::run(target, std::string(r.button), r.caption, [&](Frame& f) {
        if (!f.begin())
            return;
        const Byte value = r.build(in);
        f.downloadTalker(r.talker);
        f.waitDrained();
        f.wait(Frame::kSettle);
        f.discardBuffers();
        f.send(Byte{'P'});
        f.send(Byte{'P'});
        f.send(Byte{'U'});
        f.send(value);
        f.send(Byte{'W'});
        f.waitDrained();
        if (!confirmed(f.awaitReply()))
            f.ui().message(notConfirmed(true));
        else
            reportDone(f, in);
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> xicorOperations() {
    std::vector<ButtonOperation> ops;
    for (const Command& c : kCommands)
        ops.push_back({c.button, [&c](Target& t, const Inputs& in) { runCommand(c, t, in); }});
    for (const Register& r : kRegisters)
        ops.push_back({r.button, [&r](Target& t, const Inputs& in) { programRegister(r, t, in); }});
    return ops;
}

}  // namespace kestro::ops
