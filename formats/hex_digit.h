// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestro::formats {

// A value as the messages write it: "$" and digits hexadecimal digits, upper case.
inline std::string dollarHex(unsigned value, int digits) {
    std::string text(static_cast<std::size_t>(digits) + 1, '$');
    for (int i = digits; i > 0; --i, value >>= 4)
        text[static_cast<std::size_t>(i)] = "0123456789ABCDEF"[value & 15];
    return text;
}

// The value of one hexadecimal digit, either case; -1 for any other character.
constexpr int hexDigitValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Takes from text the next line that holds more than blanks, without its end or the blanks
// an editor leaves around it; lineNumber counts every line taken. A line ends at LF, CR LF or a
// lone CR, as files saved on the old Macintosh end theirs. False when text holds no more.
inline bool nextRecordLine(std::string_view& text, std::string_view& line, int& lineNumber) {
    constexpr std::string_view kBlanks = " \t";
    while (!text.empty()) {
        const auto end = text.find_first_of("\r\n");
        line = text.substr(0, end);
        std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (next < text.size() && text[end] == '\r' && text[next] == '\n')
            ++next;
        text.remove_prefix(next);
        ++lineNumber;
        line.remove_prefix(std::min(line.find_first_not_of(kBlanks), line.size()));
        line.remove_suffix(line.size() - (line.find_last_not_of(kBlanks) + 1));
        if (!line.empty())
            return true;
    }
    return false;
}

// Text without the UTF-8 byte order mark that some Windows editors put before the first line.
inline std::string_view withoutByteOrderMark(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF"))
        text.remove_prefix(3);
    return text;
}

// The bytes that a record's pairs of hexadecimal digits spell, or why the text is not that.
inline std::variant<std::vector<std::uint8_t>, std::string> hexBytes(std::string_view hex) {
    if (hex.size() % 2 != 0)
        return std::string("odd number of hexadecimal digits");
    std::vector<std::uint8_t> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexDigitValue(hex[i]);
        const int lo = hexDigitValue(hex[i + 1]);
        if (hi < 0 || lo < 0)
            return std::string("a character that is not a hexadecimal digit");
        bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
    }
    return bytes;
}

}  // namespace kestro::formats
