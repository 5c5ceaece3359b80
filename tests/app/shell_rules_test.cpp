// SPDX-License-Identifier: GPL-3.0-or-later
#include "shell_rules.h"
#include "ui_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kestro::shell {
namespace {

// The window's tests move the End bar below the Begin bar; these are the edges they leave out.
TEST(RangeText, AnEndEqualToItsBeginStaysAndNoneGoesPastTheTop) {
    EXPECT_EQ(correctedEnd(182, 182), std::nullopt);
    EXPECT_EQ(correctedEnd(255, 240), 255);
}

TEST(SfrText, TwoDigitsAtLeastAndThreeAtTheTop) {
    struct Case {
        int position;
        const char* text;
        const char* label;
    };
    for (const Case& c :
         {Case{0, "00", "$0000"}, Case{1, "04", "$0400"}, Case{64, "100", "$10000"}}) {
        SCOPED_TRACE(c.position);
        EXPECT_EQ(sfrText(c.position), c.text);
        EXPECT_EQ(sfrLabel(c.position), c.label);
    }
}

// The window's tests give an exponent and one past the top; these are the ends of the range and
// the other texts a hand-edited file may hold.
TEST(StoredNumber, AnythingButAnInRangeDecimalGivesTheFallback) {
    const std::pair<const char*, int> cases[] = {
        {"0", 0}, {"255", 255}, {"256", 7}, {"-1", 7},
        {"", 7},  {" 12", 7},   {"12x", 7}, {"99999999999999999999", 7}};
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(storedNumber(text, 0, 255, 7), expected);
    }
}

TEST(Placement, WideScreensCentreOnTheirLeftHalf) {
    // The main window is 6090 x 6870 twips.
    EXPECT_EQ(placeWindow(17000, 11520, 6090, 6870).left, 8500 - 3045);
    EXPECT_EQ(placeWindow(17001, 11520, 6090, 6870).left, 4250 - 3045);
    EXPECT_EQ(placeWindow(17001, 11520, 6090, 6870).top, 5760 - 3435);
}

// The recorded window is laid out at 96 dots to the inch, where every length is whole.
TEST(Twips, RoundToTheNearestPixel) {
    EXPECT_EQ(twipsToPixels(6090, 120), 508);
    EXPECT_EQ(twipsToPixels(6870, 120), 573);
}

// The file chooser's tests cover a single pattern and its case; these are the rest of the rules.
TEST(Pattern, WildcardsWithoutRegardToCase) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    for (const Case& c : {Case{"prog.s19.bak", "*.S19", false}, Case{"noext", "*.*", true},
                          Case{"a.s19", "*.MOT;*.S19", true}, Case{"a.mot", "*.MOT; *.S19", true},
                          Case{"a.txt", "*.MOT;*.S19", false}, Case{"a.s19", "?.s19", true},
                          Case{"ab.s19", "?.s19", false}, Case{"anything", "", true},
                          Case{"talker.s19", "t*r.S19", true}, Case{"tr.s19", "t*r.S19", true},
                          Case{"tx.s19", "t*r.S19", false}}) {
        SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
        EXPECT_EQ(matchesPattern(c.name, c.pattern), c.matches);
    }
}

}  // namespace
}  // namespace kestro::shell
