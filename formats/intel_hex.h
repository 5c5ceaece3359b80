// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "memory_image.h"

namespace kestro::formats {

// Reads Intel HEX text: data records (type 00) at the address the extended segment (02) or
// extended linear (04) records set, up to the end-of-file record (01); a start address (05,
// or 03 as the HC11 toolchain's objcopy writes it) is no data. Every record's count and
// checksum must hold. An extended linear address other than 0, any other type, data past
// $FFFF, a record after the end (two files joined, whose second half a talker would never
// take) and a file without one (cut short) are problems.
Result<Image> readIntelHex(std::string_view text);

}  // namespace kestro::formats
