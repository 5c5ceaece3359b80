// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <variant>

#include "memory_image.h"
#include "srecord.h"

namespace kestro::fuzz {

// What a reader gives must hold: a problem says something; an image lies within 64 KB, and the
// S1 records made of it read back as the same bytes and carry every byte of it.
inline void checkImage(const formats::Result<formats::Image>& read) {
    if (const auto* problem = std::get_if<formats::Problem>(&read)) {
        if (problem->what.empty() || problem->line < 0)
            __builtin_trap();
        return;
    }
    const formats::Image& image = std::get<formats::Image>(read);
    std::size_t bytes = 0;
    for (const formats::Block& b : image) {
        if (b.address + b.bytes.size() > formats::kAddressSpace)
            __builtin_trap();
        bytes += b.bytes.size();
    }
    const auto records = formats::s1Records(image);
    if (const auto* problem = std::get_if<formats::Problem>(&records)) {
        if (problem->what.empty())
            __builtin_trap();
        return;
    }
    const std::string& text = std::get<std::string>(records);
    if (std::holds_alternative<formats::Problem>(formats::readSRecords(text)))
        __builtin_trap();
    // Each S1 line of 16 data bytes is 44 characters with its line end.
    std::size_t carried = 0;
    for (std::size_t at = 0; (at = text.find("S1", at)) != std::string::npos; at += 2) {
        const auto count = std::stoul(text.substr(at + 2, 2), nullptr, 16);
        carried += count - 3;
    }
    if (carried != bytes)
        __builtin_trap();
}

}  // namespace kestro::fuzz
