// SPDX-License-Identifier: GPL-3.0-or-later
// The ELF reader and the S1 records made of what it reads: any bytes as a chosen file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "elf_image.h"
#include "image_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    kestro::fuzz::checkImage(kestro::formats::readElf(content));
    return 0;
}
