// SPDX-License-Identifier: GPL-3.0-or-later
// The PC side of a virtual serial line on a pseudo-terminal: a program that opens the device
// (Kestro's own termios port, or any terminal program) talks to whatever sits at the line's far
// end, the virtual board, as through a cable.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "virtual_line.h"

namespace kestro::sim {

// The one error type of the bridge: a pseudo-terminal that could not be had.
class PtyError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// What makes the line a poor adapter or cable, none of it by default. The faults hit both
// directions alike, the reset's NUL included.
struct LineFaults {
    std::vector<int> refused;                  // rates the adapter keeps the rate before for
    std::vector<std::pair<int, int>> rounded;  // a rate set, and the rate the adapter makes of it
    double rateError = 0;                      // per cent off the rate the adapter makes
    std::uint64_t flipEvery = 0;               // a bit flipped in every Nth byte carried
    std::optional<std::uint64_t> silentAfter;  // bytes carried, then nothing more
    std::optional<Duration> silentAt;          // from the start, then nothing more
};

class PtyBridge {
  public:
    // Opens a pseudo-terminal whose device stands for the PC's end of line. Throws PtyError.
    PtyBridge(Scheduler& scheduler, VirtualLine& line, LineFaults faults = {});
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    // The device a program opens, such as /dev/pts/3.
    const std::string& devicePath() const { return path_; }
    // Readable when the program has written; call readable() then.
    int masterFd() const { return master_; }

    // Sends what the program wrote onto the line, at the rate it set on its end.
    void readable();
    // Follows the rate the program sets (a pseudo-terminal carries the settings, not the
    // timing): the line garbles what goes at another rate than the far end's, as a cable does.
    void followRate();
    int rate() const { return rate_; }

  private:
    void received(Byte byte, bool framingError);
    // The byte as the faults let it through the line; nullopt once the line is silent.
    std::optional<Byte> carry(Byte byte);

    Scheduler& scheduler_;
    VirtualLine& line_;
    Transmitter toTarget_;
    int master_ = -1;
    int slave_ = -1;  // held open so that the master never reads as hung up between programs
    std::string path_;
    int rate_ = 0;      // as the program set it
    int lineRate_ = 0;  // as the adapter makes it
    LineFaults faults_;
    TimePoint start_;
    std::uint64_t carried_ = 0;
};

}  // namespace kestro::sim
