// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations.h"

namespace kestro::ops {

namespace {

// A byte-by-byte erase of a 2 KB EEPROM takes about 20 s; no working talker takes this long.
constexpr Duration kEraseVerdictLimit = 60s;

void eepromErase(Target& target, const Inputs& in) {
    Frame::run(target, "EepromErase", "Erase", [&](Frame& f) {
        if (!f.begin())
            return;
        f.downloadTalker("eeerase.S19");
        f.waitDrained();
        f.wait(Frame::kSettle);
        f.discardBuffers();
        sendRangeCommand(f, in.eepromBegin, in.eepromEnd);
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        const bool answered =
            f.clock().waitUntil([&f] { return f.port().inBufferCount() != 0; }, kEraseVerdictLimit);
        if (f.port().failure() != PortError::None)
            f.portFailed(f.port().failure());
        if (!answered)
            throw LinkError("The HC11 did not answer the erase.", LinkError::Ending::EndAsFrame,
                            "Reset your HC11 into bootstrap mode and try again.");
        const std::string verdict = textOf(f.port().input());
        if (verdict == "O")
            f.ui().message({"Eeprom Erase", "Eeprom", Icon::Information});
        else if (verdict == "E")
            f.ui().message({"Error in Eeprom", "Eeprom", Icon::Information});
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> eepromEraseOperations() {
    return {{"EepromErase", eepromErase}};
}

}  // namespace kestro::ops
