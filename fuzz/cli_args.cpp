// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-cli's arguments: any bytes, cut into arguments at NUL bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            args.emplace_back();
        else
            args.back().push_back(static_cast<char>(data[i]));
    }
    const kestro::cli::Parsed parsed = kestro::cli::parseCommandLine(args, kestro::ops::Inputs{});
    (void)parsed;
    // A range the parser takes is four digits ending in 00, a dash, four ending in FF, and
    // begins no later than it ends.
    for (const std::string& arg : args) {
        const auto range = kestro::cli::parseRange(arg);
        if (!range)
            continue;
        const auto& [begin, end] = *range;
        if (begin.size() != 4 || end.size() != 4 || begin.substr(2) != "00" ||
            end.substr(2) != "FF" || std::stoul(begin, nullptr, 16) > std::stoul(end, nullptr, 16))
            __builtin_trap();
    }
    return 0;
}
