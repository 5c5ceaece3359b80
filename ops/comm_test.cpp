// SPDX-License-Identifier: GPL-3.0-or-later
#include "frame.h"
#include "operations.h"

namespace kestro::ops {

namespace {

constexpr std::string_view kAlphabet = "abcdefghijklmnopqrstuvwxyz";

// Downloads a talker that echoes every byte and checks the echo of the alphabet.
void testComm(Target& target, const Inputs&) {
    Frame::run(target, "TestComm", "Test Comm", [](Frame& f) {
        if (!f.begin())
            return;
        f.downloadTalker("testcom.S19");
        f.waitDrained();
        f.wait(Frame::kSettle);
        f.discardBuffers();
        f.send(kAlphabet);
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        const Bytes reply = f.port().input();
        if (textOf(reply) == kAlphabet)
            f.ui().message({"Communication is OK", kAppTitle, Icon::Exclamation});
        else
            f.ui().message({"Error in communication", kAppTitle, Icon::Critical});
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> commTestOperations() {
    return {{"TestComm", testComm}};
}

}  // namespace kestro::ops
