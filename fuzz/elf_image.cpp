// SPDX-License-Identifier: GPL-3.0-or-later
// The ELF reader and the S1 records made of what it reads, and its symbols as the monitor's
// --symbols takes them: any bytes as a chosen file.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "elf_image.h"
#include "image_records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view content(reinterpret_cast<const char*>(data), size);
    kestro::fuzz::checkImage(kestro::formats::readElf(content));
    const auto symbols = kestro::formats::readElfSymbols(content);
    if (const auto* read = std::get_if<std::vector<kestro::formats::ElfSymbol>>(&symbols))
        for (const auto& s : *read)
            if (s.name.empty())
                __builtin_trap();  // a symbol the monitor could never be given by name
    return 0;
}
