// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "memory_image.h"

namespace kestro::formats {

// Reads Motorola S-record text, either case: the data of S1, S2 and S3 records at their
// addresses, which must lie within the HC11's 64 KB whatever the record's width; S0 headers
// and S5/S6 counts are no data. Every record's count and checksum must hold, and the file ends
// at its one end record (S7, S8 or S9): a record after it is a problem, since the talkers take
// nothing past an end and two files joined would lose their second half. A file without data
// is a problem; one without an end record is not (the talkers end it themselves).
Result<Image> readSRecords(std::string_view text);

}  // namespace kestro::formats
