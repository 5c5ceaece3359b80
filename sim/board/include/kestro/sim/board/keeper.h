// SPDX-License-Identifier: GPL-3.0-or-later
// The board's memories kept in a folder between runs, without losing what the user had.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "kestro/sim/board/board.h"

namespace kestro::sim {

// Loads and saves one board's state file. A saved state that cannot be read is set aside under
// a name that says so, never written over; a save that fails is reported once, not at every
// change.
class BoardKeeper {
  public:
    BoardKeeper(Board& board, std::filesystem::path folder)
        : board_(board), folder_(std::move(folder)) {}

    // Loads the saved state, if there is one. When it cannot be used the board stays as it
    // was, the file is set aside, and the text returned tells the user what was wrong and
    // where the file went.
    std::optional<std::string> restore();

    // Saves the memories. Returns a text for the user the first time saving fails (again
    // only after a save has succeeded in between).
    std::optional<std::string> save();

    const std::filesystem::path& folder() const { return folder_; }

    // The name an unreadable state file is given: "virtual-hc11-board.unreadable.txt", or
    // with "-2", "-3" ... when that is taken.
    static std::filesystem::path setAsideName(const std::filesystem::path& folder);

  private:
    Board& board_;
    std::filesystem::path folder_;
    // False while a file that was not read stands where the state is saved.
    bool mayWrite_ = true;
    bool failureTold_ = false;
};

}  // namespace kestro::sim
