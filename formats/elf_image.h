// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string_view>

#include "memory_image.h"

namespace kestro::formats {

// Reads an ELF file for the 68HC11, as its linker writes it: its loadable segments at their
// load (physical) addresses, as the toolchain's objcopy puts them into S-records: the sections
// with contents that each segment holds, without the linker's filler between them, nor the
// zeroed memory past a segment's file bytes (.bss), nor the file's own headers. A file for
// another processor (named in words), an object file that was never linked, and a damaged or
// cut-short file are problems.
Result<Image> readElf(std::string_view content);

}  // namespace kestro::formats
