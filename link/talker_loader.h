// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "bytes.h"

namespace kestro {

// The bootstrap loader's view of a talker: the data fields of its S1 records in file order.
// Counts, addresses and checksums are not looked at; the talker's records must already be in
// address order from the start of RAM.
Bytes talkerImage(std::string_view fileText);

// What goes on the wire: the sync byte $FF, the image, and $00 fill so that at least 257 bytes
// follow the sync byte (a 256-byte-RAM part takes 256 and runs; the E9 waits for an idle line).
Bytes talkerWireBytes(const Bytes& image);

inline constexpr std::size_t kLoaderMinBytes = 257;
// The boot loader echoes every byte after the sync byte; the first 256 are always checked.
inline constexpr std::size_t kEchoChecked = 256;

// Far more than any file for the HC11's 64 KB: an S-record or Intel HEX file for all of it is
// under 200 KB, an ELF file with its debugging information a few hundred.
inline constexpr std::size_t kFileLimit = 8 * 1024 * 1024;

// Reads a whole file in one pass, so that a pipe or a process substitution works as a file
// does; nullopt with the reason when it cannot, or when it holds more than limit bytes (a
// device such as /dev/zero would never end).
std::optional<std::string> readFile(const std::filesystem::path& path, std::string* reason,
                                    std::size_t limit = kFileLimit);

}  // namespace kestro
