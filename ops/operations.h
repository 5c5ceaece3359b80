#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <string_view>

#include "frame.h"

namespace kestro::ops {

// The values of the window's controls at the moment a button is clicked. The window is
// disabled while an operation runs, so they cannot change under it.
struct Inputs {
    // Range texts: four upper-case hex digits, begin ending in "00", end in "FF".
    std::string eepromBegin = "B600", eepromEnd = "B7FF";
    std::string epromBegin = "D000", epromEnd = "FFFF";
    std::string dumpBegin = "B600", dumpEnd = "B7FF";
    // Config1..Config4: 0 empty, 1 ticked, 2 greyed.
    std::array<int, 4> config{};
    std::string config5Text = "$F800-$FFFF";
    std::string startAddress = "2000";
    int sfrPosition = 4;
    std::string eemMapText = "$E000-$FFFF";
    bool eemLam = false;        // XIEEMLAM
    bool eemRes = false;        // XIEEMres
    std::array<bool, 8> bpr{};  // XIBPR0..XIBPR7
    std::filesystem::path dumpFolder;
};

using Operation = void (*)(Target& target, const Inputs& inputs);

// The operation behind a button's object name, or nullptr when the button runs none.
Operation operationFor(std::string_view button);

}  // namespace kestro::ops
