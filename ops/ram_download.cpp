// SPDX-License-Identifier: GPL-3.0-or-later
#include "hex_digit.h"
#include "operations.h"
#include "start_address.h"

namespace kestro::ops {

std::optional<std::uint16_t> readStartAddress(std::string_view text) {
    if (text.empty() || text.size() > 4)
        return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        const int digit = formats::hexDigitValue(c);
        if (digit < 0)
            return std::nullopt;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    if (value == 0)
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

constexpr Duration kRamTalkerStart = 500ms;

// The RAM talker's error letters: after one it takes nothing more and runs nothing.
struct Refusal {
    char letter;
    const char* why;
};
constexpr Refusal kRefusals[] = {
    {'A', kRefusedRecord},
    {'C',
     "A record's checksum did not hold when it arrived: a character was lost or changed on "
     "the line."},
    {'Z',
     "It refused the start address as it arrived: a character was changed or added on the "
     "line."},
};

// What the user is told when the talker answered the file with an error letter.
Message refusedProgram(const std::string& reply) {
    for (const Refusal& r : kRefusals)
        if (reply.find(r.letter) != std::string::npos)
            return {kNothingRun, kAppTitle, Icon::Critical, r.why};
    return {kNothingRun, kAppTitle, Icon::Critical,
            "Its answer is none of the talker's error letters: the line may be disturbed."};
}

// Loads a file into external RAM through the RAM talker at its faster rate, then has the talker run
// it at the typed address. The talker answers only to refuse the file, and once it has the
// address: to refuse it, or to confirm the start.
void ramDownload(Target& target, const Inputs& in) {
    Frame::run(target, "ExtRam", "Download", [&](Frame& f) {
        const auto records = beginRamDownload(f, in.startAddress);
        if (!records)
            return;
        f.downloadTalker("ram.S19");
        f.waitDrained();
        f.wait(kRamTalkerStart);
        // The talker sets E/16/13, 9600 baud at an 8 MHz crystal.
        f.setLineRate(f.link().sciClock().ramRate());
        f.discardBuffers();
        f.wait(kRamTalkerStart);
        f.streamFile(*records);
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        // The PC checks the file before it goes, but a character changed on the line still
        // makes the talker refuse it; it then runs nothing, whatever follows.
        if (const std::string refused = f.answer(); !refused.empty()) {
            f.ui().message(refusedProgram(refused));
            f.finish();
            return;
        }
        f.send(Byte{0x5A});
        // Sent exactly as typed: the talker reads the text itself.
        f.send(std::string_view(in.startAddress));
        // Until the address has left, a lost port means the program may not have started.
        f.waitDrained();
        // The talker answers once the line has been idle after the address, and jumps 50 ms
        // later: its answer is the first byte, and what follows is the program's own.
        f.clock().waitUntil([&f] { return f.answered() || f.port().failure() != PortError::None; },
                            Frame::kReplyWait);
        if (f.port().failure() != PortError::None)
            f.portFailed(f.port().failure());
        const std::string answer = f.answer(1);
        if (answer.empty())
            f.ui().message(notStarted());
        else if (!confirmed(answer))
            f.ui().message(refusedProgram(answer));
        else
            reportDone(f, in);
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> ramDownloadOperations() {
    return {{"ExtRam", ramDownload}};
}

}  // namespace kestro::ops
