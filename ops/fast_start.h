// SPDX-License-Identifier: GPL-3.0-or-later
// What every operation through the fast protocol does before its own requests.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "fast_link.h"

namespace kestro::ops {

// The talker download, at the boot loader's 7812 baud where the port sets it, and the wait
// until the talker takes requests, then a first request and the rate agreement: false when the
// talker never answered. downloadBaud, when given, gets the rate the download went at.
bool startFastTalker(Frame& f, fast::FastLink& link, std::string_view talker,
                     int* downloadBaud = nullptr);

// How a job ends whose talker never answered after its download.
[[noreturn]] void fastTalkerNeverAnswered();

// Data bytes of a checked S-record file that start at one address.
struct S1Run {
    std::uint16_t address;
    Bytes bytes;
};

// Each S1 record's data in file order, as the talkers take them; nothing after S9.
std::vector<S1Run> s1Records(std::string_view text);

// The same with records that go on where the one before ended taken together. The sum is not
// wrapped, so a record that runs past $FFFF is never joined to one at $0000.
std::vector<S1Run> s1Runs(std::string_view text);

}  // namespace kestro::ops
