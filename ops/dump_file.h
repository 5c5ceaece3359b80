// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "frame.h"

namespace kestro::ops {

inline constexpr const char* kDumpFile = "upload.s19";
// Where a dump that did not come whole is written, beside the good file it must not replace.
inline constexpr const char* kDamagedFile = "upload.damaged.s19";

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

}  // namespace kestro::ops
