// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations.h"
#include "register_bytes.h"

namespace kestro::ops {

namespace {

// Sends the CONFIG byte behind $FF $AA; the talker answers once its cycles are done.
void configProgram(Target& target, const Inputs& in) {
    Frame::run(target, "ConfigProgram", "Program", [&](Frame& f) {
        if (!f.begin())
            return;
        const Byte value = configByte(in.config5Text, in.config);
        f.downloadTalker("config.S19");
        f.waitDrained();
        f.wait(Frame::kSettle);
        f.discardBuffers();
        f.send(Byte{0xFF});
        f.send(Byte{0xAA});
        f.send(value);
        f.waitDrained();
        if (!confirmed(f.awaitReply()))
            f.ui().message(notConfirmed(true));
        else
            reportDone(f, in);
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> configOperations() {
    return {{"ConfigProgram", configProgram}};
}

}  // namespace kestro::ops
