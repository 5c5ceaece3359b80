// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestro {

// The bars' value: the share of the file that has left the PC, 1 to 99.
int streamProgress(std::int64_t bytesRead, std::int64_t stillQueued, std::int64_t length);

// The byte sent beyond the end of a file.
inline constexpr std::uint8_t kBeyondEndByte = 0x00;

}  // namespace kestro
