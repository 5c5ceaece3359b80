// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace kestro {

inline constexpr const char* kAppTitle = "Kestro 6.0";

enum class Icon { Information, Exclamation, Critical };

// A modal message box as the core asks for it; the window shows it.
struct Message {
    std::string text;
    std::string title = kAppTitle;
    Icon icon = Icon::Information;
    // Extra explanation shown under the text, for failures where the user needs to know why.
    std::string detail = {};
    // What the target said went wrong and where, for a front end that shows no box (the
    // command line adds it to the text); the window's box leaves it out.
    std::string reason = {};
    bool operator==(const Message&) const = default;
};

}  // namespace kestro
