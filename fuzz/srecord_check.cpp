// SPDX-License-Identifier: GPL-3.0-or-later
// The S-record reader of chosen files (and of the dump): any bytes as a chosen file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image_records.h"
#include "srecord.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    kestro::fuzz::checkImage(kestro::formats::readSRecords(content));
    return 0;
}
