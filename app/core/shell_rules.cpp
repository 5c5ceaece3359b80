#include "shell_rules.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace kestro::shell {

namespace {

std::string hexAtLeastTwo(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02X", static_cast<unsigned>(value));
    return buf;
}

bool globMatch(std::string_view name, std::string_view pat) {
    // Iterative wildcard match with one backtrack point for the last '*'.
    std::size_t n = 0, p = 0, starP = std::string_view::npos, starN = 0;
    auto same = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) ==
               std::tolower(static_cast<unsigned char>(b));
    };
    while (n < name.size()) {
        if (p < pat.size() && (pat[p] == '?' || (pat[p] != '*' && same(pat[p], name[n])))) {
            ++n;
            ++p;
        } else if (p < pat.size() && pat[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pat.size() && pat[p] == '*') {
        ++p;
    }
    return p == pat.size();
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
        s.remove_suffix(1);
    }
    return s;
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

int twipsToPixels(int twips, double logicalDpi) {
    return static_cast<int>(std::lround(twips * logicalDpi / 1440.0));
}

int pixelsToTwips(int pixels, double logicalDpi) {
    return static_cast<int>(std::lround(pixels * 1440.0 / logicalDpi));
}

Placement placeWindow(int screenWidth, int screenHeight, int windowWidth, int windowHeight) {
    const int width = screenWidth > 17000 ? screenWidth / 2 : screenWidth;
    return {width / 2 - windowWidth / 2, screenHeight / 2 - windowHeight / 2};
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string path(folder);
    if (path.empty() || path.back() != '/') {
        path += '/';
    }
    path += name;
    return path;
}

bool matchesPattern(std::string_view name, std::string_view patterns) {
    if (trimmed(patterns).empty()) {
        return true;
    }
    while (true) {
        const std::size_t cut = patterns.find(';');
        const std::string_view one = trimmed(patterns.substr(0, cut));
        // "*.*" means every file, also one without an extension.
        if (one == "*.*" || (!one.empty() && globMatch(name, one))) {
            return true;
        }
        if (cut == std::string_view::npos) {
            return false;
        }
        patterns.remove_prefix(cut + 1);
    }
}

}  // namespace kestro::shell
