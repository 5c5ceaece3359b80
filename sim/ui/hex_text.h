// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kestro::sim {

// A memory as hex dump lines: "B600  FF FF ... FF  ................", 16 bytes a line,
// addresses from base.
std::string hexDump(std::span<const std::uint8_t> bytes, std::uint32_t base);

}  // namespace kestro::sim
