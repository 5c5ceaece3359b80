// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>

#include "operations.h"
#include "srecord_check.h"

namespace kestro::ops {

namespace {

constexpr const char* kDumpFile = "upload.s19";
// Where a dump that did not come whole is written, beside the good file it must not replace.
constexpr const char* kDamagedFile = "upload.damaged.s19";
// One S1 record of 16 data bytes: "S1", count, 4 address digits, 32 data digits, checksum.
constexpr std::size_t kRecordLength = 42;
constexpr std::int64_t kRecordData = 16;
constexpr int kQuietTicks = 3;
constexpr std::string_view kLineEnd = "\r\n";

// The dump is written beside its final name and renamed over it only once it is complete, so a
// failed dump never leaves half a file in place of the previous one.
class DumpFile {
  public:
    explicit DumpFile(const std::filesystem::path& folder)
        : folder_(folder), target_(folder / kDumpFile) {
        std::string pattern = (folder / ".upload.s19.XXXXXX").string();
        fd_ = ::mkstemp(pattern.data());
        if (fd_ < 0)
            fail("cannot be written in this folder");
        temp_ = pattern;
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
    }
    ~DumpFile() {
        if (fd_ >= 0)
            ::close(fd_);
        if (!temp_.empty())
            ::unlink(temp_.c_str());
    }
    DumpFile(const DumpFile&) = delete;
    DumpFile& operator=(const DumpFile&) = delete;

    void write(std::string_view text) {
        while (!text.empty()) {
            const ssize_t n = ::write(fd_, text.data(), text.size());
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                fail("could not be written");
            text.remove_prefix(static_cast<std::size_t>(n));
        }
    }
    // Renames the complete dump over name in the folder.
    void commit(const char* name) {
        target_ = folder_ / name;
        if (::fsync(fd_) != 0 || ::close(fd_) != 0) {
            fd_ = -1;
            fail("could not be written");
        }
        fd_ = -1;
        if (::rename(temp_.c_str(), target_.c_str()) != 0)
            fail("could not be replaced");
        temp_.clear();
    }

  private:
    [[noreturn]] void fail(const char* what) {
        const std::string reason = std::strerror(errno);
        throw LinkError(target_.string() + " " + what + ": " + reason + ".",
                        LinkError::Ending::KeepTarget,
                        "Choose a folder that you may write to on the Dump page.");
    }

    std::filesystem::path folder_;
    std::filesystem::path target_;
    std::string temp_;
    int fd_ = -1;
};

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
            const auto problem = checkSRecordFile(dumped + rest);
            file.commit(problem ? kDamagedFile : kDumpFile);
            if (problem)
                f.ui().message({"The dump is damaged at line " + std::to_string(problem->line) +
                                    " of " + (in.dumpFolder / kDamagedFile).string() + ": " +
                                    problem->what + ".",
                                kAppTitle, Icon::Exclamation,
                                "upload.s19 was left as it was. The line brought bytes the HC11 "
                                "did not send, or lost some. Check the cable, then reset your "
                                "HC11 and dump again."});
        }
        f.finish();
    });
}

}  // namespace

std::vector<ButtonOperation> memoryDumpOperations() {
    return {{"DumpStart", memoryDump}};
}

}  // namespace kestro::ops
