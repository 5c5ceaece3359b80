// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include "report.h"

namespace kestro::cli {

// "[##########          ]  50%  1350/2700 B  118 B/s, 0:11 left"
std::string progressBar(const Transfer& t, int width = 24);
// "50% 1350/2700 B, 118 B/s, 0:11 left": for output that is not a terminal.
std::string progressLine(const Transfer& t);

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
