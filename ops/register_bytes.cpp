// SPDX-License-Identifier: GPL-3.0-or-later
#include "register_bytes.h"

#include <cmath>

namespace kestro::ops {

namespace {

template <std::size_t N>
int rowIndex(const std::array<std::string, N>& rows, std::string_view text) {
    for (std::size_t i = 0; i < N; ++i)
        if (rows[i] == text)
            return static_cast<int>(i);
    return 0;
}

// Nearest whole number, a half going to the even neighbour.
double halveToEven(double v) {
    return std::nearbyint(v / 2.0);
}

}  // namespace

const std::array<std::string, 16>& configLocationRows() {
    static const std::array<std::string, 16> rows = [] {
        std::array<std::string, 16> r;
        const char* digits = "0123456789ABCDEF";
        for (int k = 0; k < 16; ++k)
            r[k] = std::string("$") + digits[k] + "800-$" + digits[k] + "FFF";
        return r;
    }();
    return rows;
}

const std::array<std::string, 8>& eemMapRows() {
    static const std::array<std::string, 8> rows = {
        "$0000-$1FFF", "$2000-$3FFF", "$4000-$5FFF", "$6000-$7FFF",
        "$8000-$9FFF", "$A000-$BFFF", "$C000-$DFFF", "$E000-$FFFF",
    };
    return rows;
}

std::uint8_t configByte(std::string_view locationText, const std::array<int, 4>& boxes) {
    int value = rowIndex(configLocationRows(), locationText) * 0x10;
    for (int bit = 0; bit < 4; ++bit)
        if (boxes[bit] == 1)
            value += 1 << bit;
    return static_cast<std::uint8_t>(value);
}

std::uint8_t sfrByte(int position) {
    return static_cast<std::uint8_t>(0x80 + static_cast<int>(halveToEven(halveToEven(position))));
}

std::uint8_t eemByte(std::string_view mapText, bool portBLowAddress, bool resetActiveHigh) {
    int value = rowIndex(eemMapRows(), mapText);
    if (portBLowAddress)
        value += 0x20;
    if (resetActiveHigh)
        value += 0x08;
    return static_cast<std::uint8_t>(value);
}

std::uint8_t bprByte(const std::array<bool, 8>& blocks) {
    int value = 0;
    for (int n = 0; n < 8; ++n)
        if (blocks[n])
            value += 1 << n;
    return static_cast<std::uint8_t>(value);
}

}  // namespace kestro::ops
