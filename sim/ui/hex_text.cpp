// SPDX-License-Identifier: GPL-3.0-or-later
#include "hex_text.h"

namespace kestro::sim {

std::string hexDump(std::span<const std::uint8_t> bytes, std::uint32_t base) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() / 16 * 72 + 72);
    for (std::size_t line = 0; line < bytes.size(); line += 16) {
        const std::uint32_t a = base + static_cast<std::uint32_t>(line);
        for (int shift = 12; shift >= 0; shift -= 4)
            out.push_back(digits[(a >> shift) & 15]);
        out += ' ';
        std::string ascii;
        for (std::size_t i = line; i < line + 16 && i < bytes.size(); ++i) {
            out += ' ';
            out.push_back(digits[bytes[i] >> 4]);
            out.push_back(digits[bytes[i] & 15]);
            ascii.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i])
                                                                : '.');
        }
        out += "  ";
        out += ascii;
        out += '\n';
    }
    return out;
}

}  // namespace kestro::sim
