// SPDX-License-Identifier: GPL-3.0-or-later
// What a front end refuses before any reset, so that the window and the command line refuse the
// same jobs with the same words, and no user resets a board for a job that cannot run.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kestro/sim/board/variant.h"
#include "operations.h"

namespace kestro::ops {

// The fastest crystal a part runs from: E is a quarter of it.
std::uint32_t fastestCrystalHz(const sim::Variant& part);

// Why the part cannot run from the crystal, as a sentence without its full stop; empty where it
// can.
std::string crystalRefusal(const sim::Variant& part, std::uint32_t crystalHz);

// A talker the job would need that cannot run at the board's E clock.
struct TalkerRefusal {
    std::string talkerFile;
    std::string reason;  // without its full stop
};
// Why the job behind button cannot run with these inputs at an E clock (Hz); nullopt where it
// can.
std::optional<TalkerRefusal> talkerRefusal(std::string_view button, const Inputs& in,
                                           double eClockHz);
// The box of such a job, in the words its talker download would have used.
Message talkerRefusalBox(const TalkerRefusal& refusal);

}  // namespace kestro::ops
