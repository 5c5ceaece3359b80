// SPDX-License-Identifier: GPL-3.0-or-later
// The Intel HEX reader and the S1 records made of what it reads: any bytes as a chosen file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "image_records.h"
#include "intel_hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    kestro::fuzz::checkImage(kestro::formats::readIntelHex(text));
    return 0;
}
