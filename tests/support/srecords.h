// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdio>
#include <numeric>
#include <string>
#include <string_view>

#include "bytes.h"

namespace kestro::testing {

// One S-record without its line end: type, count, address, data and checksum, as an HC11
// tool writes it. spoil flips the checksum's low bit.
inline std::string srecord(char type, unsigned address, ByteView data, bool spoil = false) {
    Bytes body{static_cast<Byte>(data.size() + 3), static_cast<Byte>(address >> 8),
               static_cast<Byte>(address)};
    body.insert(body.end(), data.begin(), data.end());
    body.push_back(static_cast<Byte>(~std::accumulate(body.begin(), body.end(), 0u) ^ spoil));
    std::string line = std::string("S") + type;
    char digits[3];
    for (Byte b : body) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        line += digits;
    }
    return line;
}

// S-record text for data at address: an S0 header, S1 records of up to recordLength bytes,
// S9, every line ended by eol. checksumError spoils the checksum of that record (0-based).
inline std::string srecords(unsigned address, const Bytes& data, std::size_t recordLength = 16,
                            std::string_view eol = "\r\n", int checksumError = -1,
                            std::string_view header = "test") {
    std::string text = srecord('0', 0, bytesOf(header)) + std::string(eol);
    for (std::size_t i = 0; i < data.size(); i += recordLength) {
        const ByteView piece = ByteView(data).subspan(i, std::min(recordLength, data.size() - i));
        text += srecord('1', static_cast<unsigned>(address + i), piece,
                        static_cast<int>(i / recordLength) == checksumError) +
                std::string(eol);
    }
    return text + srecord('9', 0, {}) + std::string(eol);
}

}  // namespace kestro::testing
