#include "shell_rules.h"
#include "ui_rules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kestro::shell {
namespace {

TEST(RangeText, AStoredTextIsFourUpperCaseDigitsEndingAsItsSideDoes) {
    struct Case {
        const char* text;
        bool asBegin;
        bool asEnd;
    };
    for (const Case& c :
         {Case{"B600", true, false}, Case{"0000", true, false}, Case{"FFFF", false, true},
          Case{"00FF", false, true}, Case{"B6AB", false, false}, Case{"b600", false, false},
          Case{"B6ff", false, false}, Case{"", false, false}, Case{"600", false, false},
          Case{"0B600", false, false}, Case{"-100", false, false}, Case{"G600", false, false},
          Case{"B600 ", false, false}, Case{"$B600", false, false}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(isBeginText(c.text), c.asBegin);
        EXPECT_EQ(isEndText(c.text), c.asEnd);
    }
}

TEST(RangeText, EndSpringsAboveBeginOnlyWhenBeginIsHigher) {
    struct Case {
        int begin;
        int end;
        std::optional<int> corrected;
    };
    for (const Case& c :
         {Case{182, 183, std::nullopt}, Case{182, 182, std::nullopt}, Case{200, 183, 201},
          Case{255, 240, 255}, Case{182, 100, 183}, Case{254, 0, 255}, Case{0, 0, std::nullopt}}) {
        SCOPED_TRACE(std::to_string(c.begin) + "/" + std::to_string(c.end));
        EXPECT_EQ(correctedEnd(c.begin, c.end), c.corrected);
    }
}

TEST(SfrText, TwoDigitsAtLeastAndThreeAtTheTop) {
    struct Case {
        int position;
        const char* text;
        const char* label;
    };
    for (const Case& c : {Case{0, "00", "$0000"}, Case{1, "04", "$0400"}, Case{2, "08", "$0800"},
                          Case{4, "10", "$1000"}, Case{40, "A0", "$A000"}, Case{63, "FC", "$FC00"},
                          Case{64, "100", "$10000"}}) {
        SCOPED_TRACE(c.position);
        EXPECT_EQ(sfrText(c.position), c.text);
        EXPECT_EQ(sfrLabel(c.position), c.label);
    }
}

TEST(StoredNumber, AnythingButAnInRangeDecimalGivesTheFallback) {
    struct Case {
        const char* text;
        int low, high, fallback;
        int expected;
    };
    for (const Case& c :
         {Case{"182", 0, 255, 7, 182}, Case{"0", 0, 255, 7, 0}, Case{"255", 0, 255, 7, 255},
          Case{"256", 0, 255, 7, 7}, Case{"-1", 0, 255, 7, 7}, Case{"", 0, 255, 7, 7},
          Case{"abc", 0, 255, 7, 7}, Case{"12x", 0, 255, 7, 7}, Case{" 12", 0, 255, 7, 7},
          Case{"40000", 0, 255, 7, 7}, Case{"99999999999999999999", 0, 255, 7, 7},
          Case{"64", 0, 64, 4, 64}, Case{"65", 0, 64, 4, 4}, Case{"1", 0, 1, 0, 1},
          Case{"2", 0, 1, 0, 0}}) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(storedNumber(c.text, c.low, c.high, c.fallback), c.expected);
    }
}

TEST(Placement, WideScreensCentreOnTheirLeftHalf) {
    struct Case {
        int screenWidth, screenHeight;
        int left, top;
    };
    // The main window is 6090 x 6870 twips.
    for (const Case& c : {Case{15360, 11520, 7680 - 3045, 5760 - 3435},
                          Case{17000, 11520, 8500 - 3045, 5760 - 3435},
                          Case{17001, 11520, 4250 - 3045, 5760 - 3435},
                          Case{38400, 21600, 9600 - 3045, 10800 - 3435}}) {
        SCOPED_TRACE(c.screenWidth);
        const Placement p = placeWindow(c.screenWidth, c.screenHeight, 6090, 6870);
        EXPECT_EQ(p.left, c.left);
        EXPECT_EQ(p.top, c.top);
    }
}

TEST(Twips, ConvertAtTheLogicalResolution) {
    EXPECT_EQ(twipsToPixels(6090, 96), 406);
    EXPECT_EQ(twipsToPixels(6870, 96), 458);
    EXPECT_EQ(twipsToPixels(6090, 120), 508);
    EXPECT_EQ(twipsToPixels(1440, 144), 144);
    EXPECT_EQ(pixelsToTwips(1024, 96), 15360);
}

TEST(JoinPath, OneSeparatorBetweenFolderAndName) {
    EXPECT_EQ(joinPath("/data", "NAME.S19"), "/data/NAME.S19");
    EXPECT_EQ(joinPath("/", "NAME.S19"), "/NAME.S19");
    EXPECT_EQ(joinPath("/data/", "NAME.S19"), "/data/NAME.S19");
    EXPECT_EQ(joinPath("/home/user", "upload.s19"), "/home/user/upload.s19");
}

TEST(Pattern, WildcardsWithoutRegardToCase) {
    struct Case {
        const char* name;
        const char* pattern;
        bool matches;
    };
    for (const Case& c :
         {Case{"prog.S19", "*.S19", true}, Case{"prog.s19", "*.S19", true},
          Case{"PROG.S19", "*.s19", true}, Case{"prog.mot", "*.S19", false},
          Case{"prog.s19.bak", "*.S19", false}, Case{"a.hex", "*.HEX", true},
          Case{"noext", "*.*", true}, Case{"x.y", "*.*", true}, Case{"a.s19", "*.MOT;*.S19", true},
          Case{"a.mot", "*.MOT; *.S19", true}, Case{"a.txt", "*.MOT;*.S19", false},
          Case{"a.s19", "?.s19", true}, Case{"ab.s19", "?.s19", false}, Case{"anything", "", true},
          Case{"talker.s19", "t*r.S19", true}, Case{"tr.s19", "t*r.S19", true},
          Case{"tx.s19", "t*r.S19", false}}) {
        SCOPED_TRACE(std::string(c.name) + " ~ " + c.pattern);
        EXPECT_EQ(matchesPattern(c.name, c.pattern), c.matches);
    }
}

}  // namespace
}  // namespace kestro::shell
