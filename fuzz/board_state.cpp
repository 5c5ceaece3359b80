// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual board's saved-state reader: any bytes as the saved file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "kestro/sim/board/board.h"
#include "virtual_clock.h"

namespace {

const std::filesystem::path& folder() {
    static const std::filesystem::path f = [] {
        auto p = std::filesystem::temp_directory_path() /
                 ("kestro-fuzz-board-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p);
        return p;
    }();
    return f;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    {
        std::ofstream out(folder() / kestro::sim::Board::kStateFile, std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    kestro::VirtualClock clock;
    kestro::VirtualLine line(clock);
    kestro::sim::Board board(clock, line);
    const std::vector<std::uint8_t> before = board.eeprom().array();
    try {
        board.load(folder());
    } catch (const kestro::sim::BoardError&) {
        // Refused as a whole: nothing of it may have been taken.
        if (board.eeprom().array() != before)
            __builtin_trap();
        return 0;
    }
    // What was read saves and reads back the same.
    const auto eeprom = board.eeprom().array();
    const auto config = board.eeprom().configCell();
    board.save(folder());
    kestro::sim::Board again(clock, line);
    again.load(folder());
    if (again.eeprom().array() != eeprom || again.eeprom().configCell() != config)
        __builtin_trap();
    return 0;
}
