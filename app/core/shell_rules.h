// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>
#include <string>
#include <string_view>

// Rules of the main window that need no widgets: the range selectors' texts, the Xicor register
// block's label and stored numbers. Those it shares with the file chooser are in ui_rules.h.
namespace kestro::shell {

// A page value (0..255) as upper-case hex without leading zeros, padded to at least two digits:
// 0 -> "00", 10 -> "0A", 182 -> "B6".
std::string pageHex(int page);

// The range text of a Begin bar ("B600") and of an End bar ("B7FF").
std::string beginText(int page);
std::string endText(int page);

// Whether a text, such as one read back from the settings store, is a range text of a Begin
// bar (four upper-case hex digits ending in "00") or of an End bar (ending in "FF").
bool isBeginText(std::string_view text);
bool isEndText(std::string_view text);

// The label under a bar: "$" and its range text.
std::string rangeLabel(const std::string& rangeText);

// Where the End bar of a pair must go when begin lies above end, or nullopt when the pair is
// in order. The End bar springs to one page above the Begin bar, or stays at the top.
std::optional<int> correctedEnd(int begin, int end, int top = 255);

// The Xicor register block sits at position * 0x400. Its SFR text is position * 4 in hex with
// at least two digits ("10" at 4, "100" at 64); its label adds "$" and "00" ("$1000").
std::string sfrText(int position);
std::string sfrLabel(int position);

// A stored number: a 16-bit signed decimal without sign or spaces around it; anything else, or
// a value outside [low, high], gives the fallback.
int storedNumber(std::string_view text, int low, int high, int fallback);

}  // namespace kestro::shell
