// SPDX-License-Identifier: GPL-3.0-or-later
// Whether the part a job names has the memory each of its commands works on: a command on a
// memory the part lacks is refused before any reset, with the reason.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "command_line.h"
#include "kestro/sim/board/variant.h"

namespace kestro::cli {

// The first refusal for the steps on this part, as one sentence; empty when every step can run.
// configCell: the CONFIG the part will come out of its next reset with, where it is known (a
// virtual board's); unknown, a movable EEPROM may be at its place in any 4 KB page. A step
// after a config command is not judged by it.
std::string partRefusal(const sim::Variant& part, std::optional<std::uint8_t> configCell,
                        const std::vector<Step>& steps);

}  // namespace kestro::cli
