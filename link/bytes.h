// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

using Byte = std::uint8_t;
using Bytes = std::vector<Byte>;
using ByteView = std::span<const Byte>;

inline Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}
inline std::string textOf(ByteView bytes) {
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace kestro
