// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell_rules.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdint>
#include <cstdio>

namespace kestro::shell {

namespace {

std::string hexAtLeastTwo(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(value));
    return buf;
}

bool isRangeTextEndingIn(std::string_view text, std::string_view lowByte) {
    const auto upperHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
    return text.size() == 4 && upperHex(text[0]) && upperHex(text[1]) && text.substr(2) == lowByte;
}

}  // namespace

std::string pageHex(int page) {
    return hexAtLeastTwo(page);
}

std::string beginText(int page) {
    return pageHex(page) + "00";
}

std::string endText(int page) {
    return pageHex(page) + "FF";
}

bool isBeginText(std::string_view text) {
    return isRangeTextEndingIn(text, "00");
}

bool isEndText(std::string_view text) {
    return isRangeTextEndingIn(text, "FF");
}

std::string rangeLabel(const std::string& rangeText) {
    return "$" + rangeText;
}

std::optional<int> correctedEnd(int begin, int end, int top) {
    if (begin <= end) {
        return std::nullopt;
    }
    return begin < top ? begin + 1 : top;
}

std::string sfrText(int position) {
    return hexAtLeastTwo(position * 4);
}

std::string sfrLabel(int position) {
    return "$" + sfrText(position) + "00";
}

int storedNumber(std::string_view text, int low, int high, int fallback) {
    std::int16_t value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text.front()))) {
        return fallback;
    }
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc{} || ptr != last || value < low || value > high) {
        return fallback;
    }
    return value;
}

}  // namespace kestro::shell
