// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cctype>
#include <charconv>
#include <vector>

#include "serial_port.h"

namespace kestro {

namespace {

std::optional<int> number(std::string_view s) {
    int v = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || end != s.data() + s.size())
        return std::nullopt;
    return v;
}

}  // namespace

std::optional<LineSettings> LineSettings::parse(std::string_view text) {
    std::vector<std::string_view> fields;
    while (true) {
        const auto comma = text.find(',');
        fields.push_back(text.substr(0, comma));
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    if (fields.size() != 4 || fields[1].size() != 1)
        return std::nullopt;

    LineSettings s;
    const auto baud = number(fields[0]);
    const auto data = number(fields[2]);
    const auto stop = number(fields[3]);
    s.parity = static_cast<char>(std::toupper(static_cast<unsigned char>(fields[1][0])));
    if (!baud || *baud <= 0 || !data || *data < 5 || *data > 8 || !stop ||
        (*stop != 1 && *stop != 2))
        return std::nullopt;
    if (std::string_view("NEOMS").find(s.parity) == std::string_view::npos)
        return std::nullopt;
    s.baud = *baud;
    s.dataBits = *data;
    s.stopBits = *stop;
    return s;
}

}  // namespace kestro
