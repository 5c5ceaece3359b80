// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <charconv>

#include "dump_file.h"
#include "operations.h"
#include "srecord.h"

namespace kestro::ops {

namespace {

// One S1 record of 16 data bytes: "S1", count, 4 address digits, 32 data digits, checksum.
constexpr std::size_t kRecordLength = 42;
constexpr std::int64_t kRecordData = 16;
constexpr int kQuietTicks = 3;
constexpr std::string_view kLineEnd = "\r\n";

// Undoes the dump's changes to the port, the timer and the page however the run ends.
struct ReceptionGuard {
    Frame& f;
    ~ReceptionGuard() {
        f.link().setTimerEnabled(false);
        f.port().setInputLen(0);
        f.ui().setVisible("DumpWarning", false);
        f.ui().setReceived(std::nullopt);
    }
};

// The bytes of a range "B600"-"B7FF"; 0 when the texts are not addresses.
std::int64_t rangeBytes(const std::string& begin, const std::string& end) {
    unsigned b = 0, e = 0;
    if (std::from_chars(begin.data(), begin.data() + begin.size(), b, 16).ec != std::errc() ||
        std::from_chars(end.data(), end.data() + end.size(), e, 16).ec != std::errc() || e < b)
        return 0;
    return static_cast<std::int64_t>(e - b) + 1;
}

void memoryDump(Target& target, const Inputs& in) {
    Frame::run(target, "DumpStart", "Start Dump", [&](Frame& f) {
        if (!f.begin())
            return;
        ReceptionGuard guard{f};
        f.ui().setVisible("DumpWarning", true);
        // Found out before the talker download, so a folder that cannot take the file costs
        // no reset.
        DumpFile file(in.dumpFolder);
        f.downloadTalker("dump.S19");
        f.waitDrained();
        f.wait(Frame::kSettle);
        f.discardBuffers();
        sendRangeCommand(f, in.dumpBegin, in.dumpEnd);
        f.waitDrained();
        f.port().discardInput();
        f.wait(Frame::kReplyWait);

        // Cut the talker's stream into records; three quiet ticks end it. The text is kept to
        // be checked at the end: a byte the line adds or drops shifts every record after it.
        std::string dumped;
        std::size_t received = 0;
        const Received range{.bytes = 0, .total = rangeBytes(in.dumpBegin, in.dumpEnd)};
        Received arrived = range;
        f.ui().setReceived(arrived);
        f.port().setInputLen(kRecordLength);
        f.link().resetTicks();
        f.link().setTimerEnabled(true);
        while (f.link().ticks() < kQuietTicks) {
            f.clock().waitUntil(
                [&f] {
                    return f.port().inBufferCount() >= kRecordLength ||
                           f.link().ticks() >= kQuietTicks || f.port().failure() != PortError::None;
                },
                LinkState::kTickInterval * kQuietTicks);
            if (f.port().failure() != PortError::None)
                f.portFailed(f.port().failure());
            if (f.port().inBufferCount() >= kRecordLength) {
                const std::string record = textOf(f.port().input());
                file.write(record);
                file.write(kLineEnd);
                dumped += record + "\n";
                received += kRecordLength;
                if (record.starts_with("S1")) {
                    arrived.bytes = std::min(arrived.bytes + kRecordData, range.total);
                    f.ui().setReceived(arrived);
                }
                f.link().resetTicks();
            }
        }
        f.port().setInputLen(0);
        const std::string rest = textOf(f.port().input());
        received += rest.size();
        f.link().setTimerEnabled(false);

        if (received == 0) {
            f.ui().message({"The HC11 sent nothing, so upload.s19 was not written.", kAppTitle,
                            Icon::Exclamation,
                            "Reset your HC11 into bootstrap mode and start the dump again."});
        } else {
            file.write(rest);
            file.write(kLineEnd);
            // A damaged dump is kept, as what came may still be of use, but beside the good
            // file: it is not the memory.
            const auto read = formats::readSRecords(dumped + rest);
            const auto* problem = std::get_if<formats::Problem>(&read);
            file.commit(problem ? kDamagedFile : kDumpFile);
            if (problem)
                f.ui().message({"The dump is damaged at line " + std::to_string(problem->line) +
                                    " of " + (in.dumpFolder / kDamagedFile).string() + ": " +
                                    problem->what + ".",
                                kAppTitle, Icon::Exclamation,
                                "upload.s19 was left as it was. The line brought bytes the HC11 "
                                "did not send, or lost some. Check the cable, then reset your "
                                "HC11 and dump again."});
            else
                reportDone(f, in);
        }
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> memoryDumpOperations() {
    return {{"DumpStart", memoryDump}};
}

}  // namespace kestro::ops
