// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestro::ops {

struct SRecordProblem {
    int line = 0;  // 1-based; 0 for the file as a whole
    std::string what;
    bool operator==(const SRecordProblem&) const = default;
};

// Checks that a user's file is Motorola S-record text for a 16-bit target before it is sent:
// every non-blank line a well-formed record whose count and checksum match, at least one S1
// data record, nothing with 24- or 32-bit addresses. The talkers parse what they are sent, so a
// binary or damaged file would otherwise be reported as programmed or equal.
std::optional<SRecordProblem> checkSRecordFile(std::string_view content);

// The lowest address a data byte of a checked S-record file goes to; a record that runs past
// $FFFF wraps to $0000, as the HC11's address does. nullopt when no S1 record holds data.
std::optional<std::uint16_t> lowestDataAddress(std::string_view content);

}  // namespace kestro::ops
