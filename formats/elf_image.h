// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "memory_image.h"

namespace kestro::formats {

// Reads an ELF file for the 68HC11, as its linker writes it: its loadable segments at their
// load (physical) addresses, as the toolchain's objcopy puts them into S-records: the sections
// with contents that each segment holds, without the linker's filler between them, nor the
// zeroed memory past a segment's file bytes (.bss), nor the file's own headers; a section with
// contents that a linker script left out of every segment loads at its own address, as objcopy
// writes it. A file for another processor (named in words), an object file that was never
// linked, and a damaged or cut-short file are problems.
Result<Image> readElf(std::string_view content);

// A name the file's symbol table gives a value.
struct ElfSymbol {
    enum class Type : std::uint8_t { Function, Object, Label };
    std::string name;
    std::uint64_t value = 0;
    std::uint64_t size = 0;
    Type type = Type::Label;
    bool global = false;    // global or weak; local otherwise
    bool absolute = false;  // a value of its own (an equate), not a place in a section
    bool operator==(const ElfSymbol&) const = default;
};

// The named functions, objects and labels of a linked HC11 ELF file, global and local, in the
// table's order. Section and file symbols, and names the file uses but does not define, are
// left out; a stripped file gives none. The same problems as readElf, and an object file that
// was never linked, whose values are no addresses yet.
Result<std::vector<ElfSymbol>> readElfSymbols(std::string_view content);

}  // namespace kestro::formats
