// SPDX-License-Identifier: GPL-3.0-or-later
// What every operation through the fast protocol does before its own requests.
#pragma once

#include <string_view>

#include "fast_link.h"

namespace kestro::ops {

// The talker download and the settling wait, as the default path has them, then a first
// request: false when the talker never answered.
bool startFastTalker(Frame& f, fast::FastLink& link, std::string_view talker);

// How a job ends whose talker never answered after its download.
[[noreturn]] void fastTalkerNeverAnswered();

}  // namespace kestro::ops
