// SPDX-License-Identifier: GPL-3.0-or-later
// The talker loader's record reader: any text taken as a talker file.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "talker_loader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const kestro::Bytes image = kestro::talkerImage(text);
    const kestro::Bytes wire = kestro::talkerWireBytes(image);
    // The sync byte, the image, and fill up to 257 bytes after the sync byte.
    if (wire.empty() || wire[0] != 0xFF ||
        wire.size() != 1 + std::max<std::size_t>(image.size(), 257))
        __builtin_trap();
    return 0;
}
