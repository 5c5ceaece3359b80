// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "kestro/sim/board/board.h"
#include "kestro/sim/board/keeper.h"
#include "virtual_line.h"
#include "virtual_port.h"

namespace kestro::sim {

// A virtual HC11 board behind port n of a VirtualPort, whose non-volatile memories live in a
// folder between runs, as a real chip keeps its EEPROM.
class PersistedBoard {
  public:
    // The folder of the board the window uses (name empty), or of a named board of its own.
    // The name must pass validBoardName().
    static std::filesystem::path folderFor(std::string_view name = {});
    // Letters, digits, '-' and '_', at most 64 of them: a name is a folder, never a path.
    static bool validBoardName(std::string_view name);
    // The part a user names, as kestro-cli and kestro-board both take it: the name printed on
    // it (MC68HC11A8) or its short form (A8, E9, 711E9, 811E2), in either case. nullptr for
    // none.
    static const Variant* partNamed(std::string_view name);

    PersistedBoard(Scheduler& scheduler, VirtualPort& port, int n, std::string portName,
                   std::filesystem::path folder, Duration slice);
    ~PersistedBoard();
    PersistedBoard(const PersistedBoard&) = delete;
    PersistedBoard& operator=(const PersistedBoard&) = delete;

    // Why the saved state was refused, and where the file was set aside (the board then
    // starts in its factory state).
    const std::optional<std::string>& loadError() const { return loadError_; }

    // Saves the memories. A text for the user the first time saving fails (again only after a
    // save has succeeded in between); the board goes on working.
    std::optional<std::string> save() { return keeper_.save(); }

    Board& board() { return board_; }
    // The board's serial cable; the port end is the one attached to the virtual port.
    VirtualLine& line() { return line_; }
    const std::filesystem::path& folder() const { return keeper_.folder(); }

  private:
    VirtualLine line_;
    Board board_;
    BoardKeeper keeper_;
    std::optional<std::string> loadError_;
};

}  // namespace kestro::sim
