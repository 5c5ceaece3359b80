// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

// Rules that the main window and the file chooser share and that need no widgets: lengths and
// places on the screen, and file names.
namespace kestro::shell {

// Length conversion at the screen's logical resolution (1440 twips to the logical inch).
int twipsToPixels(int twips, double logicalDpi);
int pixelsToTwips(int pixels, double logicalDpi);

struct Placement {
    int left;
    int top;
};
// The wide-screen rule, in twips: on a screen wider than 17000 twips the window is centred on
// the left half, otherwise on the whole screen.
Placement placeWindow(int screenWidth, int screenHeight, int windowWidth, int windowHeight);

// folder + "/" + name, without a doubled separator when the folder already ends in one ("/").
std::string joinPath(std::string_view folder, std::string_view name);

// File name patterns as a file list takes them: '*' and '?' wildcards, several patterns
// separated by ';', letters compared without regard to case (S-record files come as .s19 and
// .S19 alike). An empty pattern matches everything.
bool matchesPattern(std::string_view name, std::string_view patterns);

}  // namespace kestro::shell
