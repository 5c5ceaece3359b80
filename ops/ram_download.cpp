// SPDX-License-Identifier: GPL-3.0-or-later
#include "operations.h"
#include "start_address.h"

namespace kestro::ops {

std::optional<std::uint16_t> readStartAddress(std::string_view text) {
    std::uint32_t value = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t')
            continue;
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        if (digit < 0)
            break;
        // Past 16 bits the value can only be refused; stop it growing without bound.
        value = std::min<std::uint32_t>(value * 16 + static_cast<std::uint32_t>(digit), 0x10000);
    }
    if (value == 0 || value > 0xFFFF)
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

namespace {

constexpr const char* kRamSettings = "9600,n,8,1";
constexpr Duration kRamTalkerStart = 500ms;

// Loads a file into external RAM through the RAM talker at 9600 baud, then has the talker run
// it at the typed address. Nothing comes back.
void ramDownload(Target& target, const Inputs& in) {
    Frame::run(target, "ExtRam", "Download", [&](Frame& f) {
        if (!f.begin())
            return;
        const auto records = chooseSRecordFile(f);
        if (!records)
            return;
        if (!readStartAddress(in.startAddress)) {
            f.ui().message({kInvalidStartAddress, kAppTitle, Icon::Exclamation});
            f.cancel();
            return;
        }
        f.downloadTalker("ram.S19");
        f.waitDrained();
        f.wait(kRamTalkerStart);
        if (const PortError e = f.port().setSettings(kRamSettings); e != PortError::None)
            f.portFailed(e);
        f.discardBuffers();
        f.wait(kRamTalkerStart);
        f.streamFile(*records);
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        f.send(Byte{0x5A});
        // Sent exactly as typed: the talker reads the text itself.
        f.send(std::string_view(in.startAddress));
        // Until the address has left, a lost port means the program may not have started.
        f.waitDrained();
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> ramDownloadOperations() {
    return {{"ExtRam", ramDownload}};
}

}  // namespace kestro::ops
