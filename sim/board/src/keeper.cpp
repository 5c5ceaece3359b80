// SPDX-License-Identifier: GPL-3.0-or-later
#include "kestro/sim/board/keeper.h"

#include <system_error>

namespace kestro::sim {

namespace {
constexpr const char* kFactoryStart =
    "The saved state of the virtual board could not be read, so it starts in its factory "
    "state.\n\n";
}  // namespace

std::filesystem::path BoardKeeper::setAsideName(const std::filesystem::path& folder) {
    const std::string stem = std::filesystem::path(Board::kStateFile).stem().string();
    std::error_code ec;
    for (int n = 1;; ++n) {
        const auto name =
            folder / (stem + ".unreadable" + (n > 1 ? "-" + std::to_string(n) : "") + ".txt");
        if (!std::filesystem::exists(std::filesystem::symlink_status(name, ec)))
            return name;
    }
}

std::optional<std::string> BoardKeeper::restore() {
    try {
        board_.load(folder_);
        return std::nullopt;
    } catch (const BoardError& e) {
        const auto file = folder_ / Board::kStateFile;
        std::error_code ec;
        if (!std::filesystem::is_regular_file(file, ec)) {
            // Something that is no file (a folder, say) is the user's: left where it is, and
            // saving, which cannot replace it, says so.
            return kFactoryStart + std::string(e.what());
        }
        const auto aside = setAsideName(folder_);
        std::filesystem::rename(file, aside, ec);
        if (ec) {
            mayWrite_ = false;
            return kFactoryStart + std::string(e.what()) + "\n\nIt could not be moved to " +
                   aside.string() + " (" + ec.message() +
                   "), so it stays as it is and the board's memories are not saved over it.";
        }
        return kFactoryStart + std::string(e.what()) + "\n\nThe file is kept as " + aside.string() +
               ".";
    }
}

std::optional<std::string> BoardKeeper::save() {
    if (!mayWrite_)
        return std::nullopt;
    try {
        board_.save(folder_);
        failureTold_ = false;
        return std::nullopt;
    } catch (const BoardError& e) {
        if (failureTold_)
            return std::nullopt;
        failureTold_ = true;
        return "The memories of the virtual board cannot be kept for the next run.\n\n" +
               std::string(e.what());
    }
}

}  // namespace kestro::sim
