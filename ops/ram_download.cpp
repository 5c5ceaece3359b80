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

std::optional<std::string> beginRamDownload(Frame& f, std::string_view startAddress) {
    if (!f.begin())
        return std::nullopt;
    auto records = chooseSRecordFile(f);
    if (!records)
        return std::nullopt;
    if (!readStartAddress(startAddress)) {
        f.ui().message({kInvalidStartAddress, kAppTitle, Icon::Exclamation});
        f.cancel();
        return std::nullopt;
    }
    return records;
}

namespace {

constexpr const char* kRamSettings = "9600,n,8,1";
constexpr Duration kRamTalkerStart = 500ms;

// The RAM talker's error letters: after one it takes nothing more and runs nothing.
struct Refusal {
    char letter;
    const char* why;
};
constexpr Refusal kRefusals[] = {
    {'A',
     "It refused a record in the internal RAM below $0200, where it runs, or in the register "
     "block at $1000-$103F."},
    {'C',
     "A record's checksum did not hold when it arrived: a character was lost or changed on "
     "the line."},
};
constexpr const char* kNothingRun = "The HC11 refused the program, so nothing was run.";

// What the user is told when the talker answered the file with an error letter.
Message refusedProgram(const std::string& reply) {
    for (const Refusal& r : kRefusals)
        if (reply.find(r.letter) != std::string::npos)
            return {kNothingRun, kAppTitle, Icon::Critical, r.why};
    return {kNothingRun, kAppTitle, Icon::Critical,
            "Its answer is none of the talker's error letters: the line may be disturbed."};
}

// Loads a file into external RAM through the RAM talker at 9600 baud, then has the talker run
// it at the typed address. Nothing comes back unless the talker refused the file.
void ramDownload(Target& target, const Inputs& in) {
    Frame::run(target, "ExtRam", "Download", [&](Frame& f) {
        const auto records = beginRamDownload(f, in.startAddress);
        if (!records)
            return;
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
        // The PC checks the file before it goes, but a character changed on the line still
        // makes the talker refuse it; it then runs nothing, whatever follows.
        if (f.port().inBufferCount() != 0) {
            f.ui().message(refusedProgram(textOf(f.port().input())));
            f.finish();
            return;
        }
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
