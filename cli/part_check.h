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

// Where a talker's refusal of an erase may come from CONFIG having moved the EEPROM, for a step
// that took the named part's own range (where the factory leaves it) because CONFIG was not
// known before the reset: where the EEPROM may be and how to name it. Empty for a part whose
// EEPROM does not move, and for a step given a range.
std::string movedEepromHint(const sim::Variant& part, const Step& step);

}  // namespace kestro::cli
