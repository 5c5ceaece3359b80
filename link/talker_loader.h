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

// Reads a whole file; nullopt with the system's reason when it cannot.
std::optional<std::string> readFile(const std::filesystem::path& path, std::string* reason);

}  // namespace kestro
