// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "report.h"

namespace kestro::cli {

// "[##########          ]  50%  1350/2700 B  118 B/s, 0:11 left"
std::string progressBar(const Transfer& t, int width = 24);
// "50% 1350/2700 B, 118 B/s, 0:11 left": for output that is not a terminal.
std::string progressLine(const Transfer& t);

// The rate of a transfer as the line carries it. The amount a transfer reports moves in steps
// (a percent of the file, a record of the dump), and its first report comes before the line has
// carried anything: a rate taken from the first report would be a step divided by however
// little time had passed. The rate is therefore measured between the moments the amount
// changed, and known from the second change on.
class RateMeter {
  public:
    // done: the amount reported at `seconds` into the transfer. Bytes a second; 0 while the
    // rate is not known.
    double rate(std::int64_t done, double seconds);

  private:
    struct Mark {
        std::int64_t done;
        double seconds;
    };
    std::optional<std::int64_t> last_;
    std::optional<Mark> firstChange_;
    std::optional<Mark> lastChange_;
};

// When output that is not a terminal gets a progress line: at every tenth of the way, so a
// log holds at most ten lines per transfer.
class ProgressSteps {
  public:
    bool due(int percent);
    void reset() { last_ = -1; }

  private:
    int last_ = -1;
};

}  // namespace kestro::cli
