// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui_rules.h"

#include <cctype>
#include <cmath>

namespace kestro::shell {

namespace {

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

}  // namespace

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
