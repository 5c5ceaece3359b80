// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "command_line.h"
#include "messages.h"

namespace kestro::cli {

// What a box of the window means to a script. The window's texts are read as they stand, so
// the command line says exactly what the window would.
Exit exitFor(const Message& m);

// The worse of two codes.
inline Exit worse(Exit a, Exit b) {
    return static_cast<int>(a) >= static_cast<int>(b) ? a : b;
}

// A box's text as one line or more for a terminal: the window's line breaks become "\n".
std::string terminalText(const Message& m);

// The line that reports a command whose operation shows no box when it went well and said so,
// as the window's strip does; empty for commands whose operation always ends with a box. The
// talkers confirm their end, not the chip's, so the line says what was sent.
std::string doneText(const Step& step);

// The memory a button works on where the window's texts name it loosely ("Eprom is program"
// for the external EEPROM, "Eeprom" for the companion chip's): the command line adds it to
// them. Empty where the window's words say it.
std::string memoryName(const std::string& button);

}  // namespace kestro::cli
