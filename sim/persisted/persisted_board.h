// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "kestro/sim/board/board.h"
#include "kestro/sim/board/keeper.h"
#include "virtual_line.h"
#include "virtual_port.h"

namespace kestro::sim {

// Another program uses the board's memories: a board has one user at a time, as a port has.
class BoardInUse : public std::runtime_error {
  public:
    BoardInUse(const std::string& text, long holder) : std::runtime_error(text), holder(holder) {}
    long holder;  // the process that holds it; 0 when it could not be told
};

// Holds a board's memories for one program from construction to destruction: an advisory lock
// on a file in the board's folder, which the system lets go when the process ends however it
// ends. The holder writes its process number into the file for a refused program to name.
class BoardLock {
  public:
    explicit BoardLock(const std::filesystem::path& folder);
    ~BoardLock();
    BoardLock(const BoardLock&) = delete;
    BoardLock& operator=(const BoardLock&) = delete;

    // False when another process holds the board. A folder where no lock file can be made
    // counts as held: nothing can be saved there either, and saving says so.
    bool held() const { return held_; }
    // The process that holds the board, when it is not held here (0 when unknown).
    long holder() const { return holder_; }

    static constexpr const char* kLockFile = "virtual-hc11-board.lock";

  private:
    int fd_ = -1;
    bool held_ = false;
    long holder_ = 0;
};

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

    // Throws BoardInUse, before anything is loaded or attached, when another program holds the
    // board in folder; label names the board in that text.
    // crystalHz: the crystal the board runs from.
    PersistedBoard(Scheduler& scheduler, VirtualPort& port, int n, std::string portName,
                   std::filesystem::path folder, Duration slice, std::string_view label = {},
                   std::uint32_t crystalHz = BoardOptions{}.crystalHz);
    ~PersistedBoard();
    PersistedBoard(const PersistedBoard&) = delete;
    PersistedBoard& operator=(const PersistedBoard&) = delete;

    // Why the saved state was refused, and where the file was set aside (the board then
    // starts in its factory state).
    const std::optional<std::string>& loadError() const { return loadError_; }

    // Saves the memories. A text for the user the first time saving fails (again only after a
    // save has succeeded in between); the board goes on working.
    std::optional<std::string> save() { return keeper_.save(); }

    // Makes the board the part given. The memories a saved state held for another part are
    // lost (another part has other memories): the text says so, in one line; nullopt when
    // nothing was lost. label names the board, as for inUseText().
    std::optional<std::string> setPart(const Variant& part, std::string_view label);

    Board& board() { return board_; }
    // The board's serial cable; the port end is the one attached to the virtual port.
    VirtualLine& line() { return line_; }
    const std::filesystem::path& folder() const { return keeper_.folder(); }

    // "the virtual board `name` is in use by process N", the window's board for an empty name.
    static std::string inUseText(std::string_view name, long holder);

  private:
    BoardLock lock_;
    VirtualLine line_;
    Board board_;
    BoardKeeper keeper_;
    std::optional<std::string> loadError_;
    bool restored_ = false;  // a saved state was loaded
};

}  // namespace kestro::sim
