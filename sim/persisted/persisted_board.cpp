// SPDX-License-Identifier: GPL-3.0-or-later
#include "persisted_board.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QStandardPaths>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <system_error>

namespace kestro::sim {

std::filesystem::path PersistedBoard::folderFor(std::string_view name) {
    const std::filesystem::path data =
        QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString();
    if (name.empty())
        return data;
    return data / "boards" / std::string(name);
}

bool PersistedBoard::validBoardName(std::string_view name) {
    if (name.empty() || name.size() > 64)
        return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_';
        if (!ok)
            return false;
    }
    return true;
}

const Variant* PersistedBoard::partNamed(std::string_view name) {
    return variantNamed(name);
}

BoardLock::BoardLock(const std::filesystem::path& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const std::string path = (folder / kLockFile).string();
    fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd_ < 0) {
        held_ = true;
        return;
    }
    int r;
    while ((r = ::flock(fd_, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (r == 0) {
        held_ = true;
        const std::string pid = std::to_string(::getpid()) + "\n";
        // Only a name for a refused program's message: the lock works without it.
        if (::ftruncate(fd_, 0) == 0) {
            [[maybe_unused]] const ssize_t n = ::pwrite(fd_, pid.data(), pid.size(), 0);
        }
        return;
    }
    if (errno != EWOULDBLOCK) {
        // A file system without locks: nothing to refuse on.
        held_ = true;
        return;
    }
    // The holder writes its number just after it takes the lock: a moment's grace for it.
    for (int tries = 0; tries < 20 && holder_ <= 0; ++tries) {
        char text[32] = {};
        const ssize_t n = ::pread(fd_, text, sizeof text - 1, 0);
        if (n > 0)
            holder_ = std::strtol(text, nullptr, 10);
        if (holder_ <= 0) {
            const timespec pause{0, 5'000'000};
            ::nanosleep(&pause, nullptr);
        }
    }
    holder_ = std::max(holder_, 0L);
    ::close(fd_);
    fd_ = -1;
}

BoardLock::~BoardLock() {
    if (fd_ >= 0)
        ::close(fd_);  // lets go of the lock
}

std::string PersistedBoard::inUseText(std::string_view name, long holder) {
    const std::string board = name.empty() ? "the window's virtual board"
                                           : "the virtual board `" + std::string(name) + "`";
    return board + " is in use by " +
           (holder > 0 ? "process " + std::to_string(holder) : std::string("another program"));
}

PersistedBoard::PersistedBoard(Scheduler& scheduler, VirtualPort& port, int n, std::string portName,
                               std::filesystem::path folder, Duration slice, std::string_view label,
                               std::uint32_t crystalHz)
    : lock_(folder),
      line_(scheduler),
      board_(scheduler, line_,
             BoardOptions{.chip = Chip::E9,
                          .programmingVoltage = false,
                          .slice = slice,
                          .crystalHz = crystalHz}),
      keeper_(board_, std::move(folder)) {
    if (!lock_.held())
        throw BoardInUse(inUseText(label, lock_.holder()), lock_.holder());
    port.attach(n, line_, std::move(portName));
    std::error_code ec;
    std::filesystem::create_directories(keeper_.folder(), ec);
    const bool saved = std::filesystem::exists(
        std::filesystem::symlink_status(keeper_.folder() / Board::kStateFile, ec));
    loadError_ = keeper_.restore();
    restored_ = saved && !loadError_;
}

std::optional<std::string> PersistedBoard::setPart(const Variant& part, std::string_view label) {
    const Variant& was = board_.chip();
    if (was.chip == part.chip)
        return std::nullopt;
    board_.setChip(part.chip);
    if (!restored_)
        return std::nullopt;
    const std::string board = label.empty() ? "the window's virtual board"
                                            : "the virtual board `" + std::string(label) + "`";
    return board + " was an " + std::string(was.name) + ": as an " + std::string(part.name) +
           " its EEPROM, CONFIG and EPROM start as the factory leaves them";
}

PersistedBoard::~PersistedBoard() {
    save();
}

}  // namespace kestro::sim
