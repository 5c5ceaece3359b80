// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestro::formats {

// Bytes that a file puts at consecutive addresses.
struct Block {
    std::uint32_t address = 0;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Block&) const = default;
};

// A program as a file gives it: its blocks in file order.
using Image = std::vector<Block>;

// Why a file cannot go to an HC11, as the user is told it.
struct Problem {
    int line = 0;  // 1-based for text files; 0 for the file as a whole
    std::string what;
    bool operator==(const Problem&) const = default;
};

template <class T>
using Result = std::variant<T, Problem>;

// The first address past the HC11's 64 KB.
inline constexpr std::uint32_t kAddressSpace = 0x10000;

// What a file's first bytes say it is. Text that is neither Intel HEX nor ELF is taken for
// S-records, whose own check then says what is wrong with it.
enum class Kind { SRecord, IntelHex, Elf };
Kind kindOf(std::string_view content);

// The image as S-records for the talkers: S1 records of 16 data bytes in address order
// (shorter where a block ends), then an S9 end, each line ended by CR LF as the HC11 tools
// write them. A byte above $FFFF, an address given twice or an image without data is a problem.
Result<std::string> s1Records(Image image);

// "$B600", as the HC11's manuals write addresses; "$10000" and above past its 64 KB.
std::string hexAddress(std::uint64_t address);

}  // namespace kestro::formats
