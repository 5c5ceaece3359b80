// SPDX-License-Identifier: GPL-3.0-or-later
// The terminal after a RAM download: this process's input and output joined to the serial line,
// as a terminal program would join them, until Ctrl-] or the end of the input.
#pragma once

#include "clock.h"
#include "serial_port.h"

namespace kestro::cli {

// Ctrl-]: ends the terminal, as in the usual terminal programs; it is not sent.
inline constexpr unsigned char kTerminalEscape = 0x1D;

struct TerminalEnds {
    int in = 0;   // what the user types (a terminal is put in raw mode meanwhile)
    int out = 1;  // where what the target sends goes
};

// Sets the port to baud (8 data bits, no parity, 1 stop bit), then passes every byte each way
// until Ctrl-] comes in, the input ends (then until what was typed has gone out and the line has
// been quiet for a moment), the output cannot be written, or the port fails. All waiting goes
// through clock, whose waits let the program's events (and a virtual board) run. Returns the
// port's failure, or PortError::None.
PortError runTerminal(SerialPort& port, Clock& clock, int baud, TerminalEnds ends = {});

}  // namespace kestro::cli
