// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "ops_bench.h"
#include "srecords.h"

namespace kestro {
namespace {

using testing::OpsBench;

// Cancelled, unreadable, of no kind Kestro takes, or damaged: refused before the talker goes,
// so the reset is kept. The RAM download looks at its start address only once the file will do.
TEST(ChosenFile, AFileThatCannotGoIsRefusedBeforeTheTalker) {
    const std::tuple<const char*, std::string, std::string> choices[] = {
        {"cancel", "", ""},
        {"missing", "/gone.s19", ""},
        {"a folder", "/", ""},
        {"binary", "/firmware.bin",
         "Line 1: not an S-record. Kestro takes S-record, Intel HEX and ELF files."},
        {"Intel HEX cut short", "/app.hex",
         "It has no end-of-file record (type 01), so it may be cut short."},
        {"ELF cut short", "/app.elf", "It is a damaged ELF file: "},
    };
    for (const char* button : {"EepromProgram", "EpromProgram", "ExtEEprog", "Xiprog",
                               "EepromCompare", "EpromCompare", "ExtEEcomp", "Xicomp", "ExtRam"})
        for (const auto& [what, chosen, detail] : choices) {
            SCOPED_TRACE(std::string(button) + ", " + what);
            OpsBench b;
            b.scratch.write("firmware.bin", std::string("\x12\x00\xff\x7f"
                                                        "ELF",
                                                        7));
            b.scratch.write("app.hex", ":03B600000A0B0C26\n");
            b.scratch.write("app.elf",
                            "\x7F"
                            "ELF\x01\x02\x01");
            const std::string path = chosen.empty() ? "Cancel" : b.talkerDir.string() + chosen;
            b.ui.chooserAnswer = path;
            ops::Inputs in;
            in.startAddress = "10000";
            b.run(button, in);
            EXPECT_EQ(b.ui.chooserOpened, 1);
            EXPECT_TRUE(b.link.ready());
            EXPECT_TRUE(b.wire.writes.empty());
            EXPECT_TRUE(b.ui.windowEnabled());
            ASSERT_EQ(b.ui.messages.size(), chosen.empty() ? 0u : 1u);
            for (const Message& m : b.ui.messages) {
                EXPECT_EQ(m.icon, Icon::Critical);
                EXPECT_NE(m.text.find(path), std::string::npos) << m.text;
                EXPECT_EQ(m.detail.substr(0, detail.size()), detail);
            }
        }
}

// The file goes out whole (as the S1 records it was read as: the DOS end-of-file mark stays
// behind), then one zero byte beyond its end, never more than two characters queued (what
// leaves the wire in 20 ms at 1200 baud) nor three ahead of the talker's acknowledgements (a
// reset finds little on its way to the boot loader), at the line's own speed, the bars rising
// steadily below 100.
TEST(ProgramCompareFile, GoesOutWholeInSmallPiecesWithProgress) {
    OpsBench b;
    std::string file;
    for (unsigned at = 0x2000; file.size() < 20000; at += 16)
        file += testing::srecord('1', at, Bytes(16, static_cast<Byte>(at >> 4))) + "\r\n";
    char end[8];
    std::snprintf(end, sizeof end, "O %04X", 0x2000 + 16 * static_cast<unsigned>(file.size() / 44));
    b.confirmAt(0, end);
    TimePoint first{}, final{};
    b.target.talker = [&b, &first, &final, confirm = b.target.talker](Byte x) {
        if (first == TimePoint{} && x == 'S')
            first = b.clock.now();
        final = b.clock.now();
        confirm(x);
    };
    file += "S9030000FC\r\n";
    b.choose(file + "\x1A");
    b.run("EepromProgram");
    const std::string& sent = file;
    for (const Bytes& w : b.writesAfterDownload())
        ASSERT_LE(w.size(), 2u);
    Bytes expected = bytesOf(sent);
    expected.push_back(0x00);
    EXPECT_EQ(b.sentToTalker(), expected);
    // 20,000 characters take 167 s at 1200 baud; the acknowledgements cost no more than 2 %.
    EXPECT_LT(final - first,
              characterTime(1200, static_cast<std::int64_t>(sent.size())) * 102 / 100);
    ASSERT_GE(b.ui.progress.size(), 3u);
    EXPECT_EQ(b.ui.progress.front(), 1);
    EXPECT_EQ(b.ui.progress.back(), std::nullopt);
    int last = 0;
    for (std::size_t i = 0; i + 1 < b.ui.progress.size(); ++i) {
        const int p = b.ui.progress[i].value_or(-1);
        EXPECT_TRUE(p >= last && p <= 99) << p;
        last = p;
    }
    EXPECT_GE(last, 95);
    EXPECT_EQ(b.texts(), std::vector<std::string>{"Eeprom is program"});
}

// A talker that stops acknowledging the file gets three characters more at most: fallen
// silent, it is told as a job not confirmed within a second; a byte that is neither text nor an
// acknowledgement (what a reset makes of one) ends the job as a reset.
TEST(ProgramCompareFile, ATalkerThatStopsAcknowledgingGetsNoMoreThanThreeCharacters) {
    std::string file;
    for (unsigned at = 0xB600; at < 0xB800; at += 16)
        file += testing::srecord('1', at, Bytes(16, 0x5A)) + "\r\n";
    for (const bool garbled : {false, true}) {
        SCOPED_TRACE(garbled ? "garbled" : "silent");
        OpsBench b;
        b.choose(file + "S9030000FC\r\n");
        TimePoint stopped{};
        std::size_t taken = 0;
        b.target.talker = [&](Byte x) {
            b.toTalker.push_back(x);
            if (++taken == 100) {
                b.target.acknowledges = false;
                stopped = b.clock.now();
                if (garbled)
                    b.target.send(Byte{0xF1});
            }
        };
        b.run("EepromProgram");
        b.clock.advance(1s);
        EXPECT_LE(b.toTalker.size(), 100 + Frame::kUnacknowledged);
        ASSERT_EQ(b.ui.messages.size(), 1u);
        if (garbled) {
            EXPECT_EQ(b.ui.messages[0].text, Frame::kResetDuringJob);
        } else {
            EXPECT_EQ(b.ui.messages[0].text, "Error in Eeprom");
            EXPECT_NE(b.ui.messages[0].reason.find(ops::kNotConfirmed), std::string::npos);
        }
        EXPECT_LT(b.clock.now() - 1s - stopped, 2s);
    }
}

// A programming talker's letter and address become the reason the command line adds to the
// window's box; the box itself stays as it was. Each member words the letters for its memory.
// Only the talker's "O" is a success: silence is a line that died as well as a job done.
TEST(ProgramFailure, TheLetterAndAddressSayWhatWentWrongAndWhere) {
    const std::string file = "S107B6000102030438\r\nS9030000FC\r\n";
    struct Case {
        const char* button;
        const char* reply;
        const char* box;
        std::string reason;
    };
    const Case cases[] = {
        {"EepromProgram", "V B612", "Error in Eeprom",
         "$B612 did not read back as the file has it: it is outside the EEPROM the part has at the "
         "CONFIG it has ($B600-$B7FF on the A and E series, $x800-$xFFF on the 811E2 and "
         "$xE00-$xFFF on the F1 with x from CONFIG bits 7-4, none while EEON is clear), or "
         "within it a bit needs a 1 over a 0 (erase first)"},
        {"EepromProgram", "A 00F0", "Error in Eeprom",
         "$00F0 is the talker's own RAM or the register block, which it does not program"},
        {"EepromProgram", "C b610", "Error in Eeprom",
         "a record's checksum failed on the line, in the record at $b610 (a character was lost "
         "or changed on the way)"},
        {"EpromProgram", "V D000", "Error in Eprom",
         "$D000 did not read back as the file has it: the part has no EPROM there at the CONFIG "
         "it has (the 711E9 has one at $D000-$FFFF while ROMON is set; the 711E20's, there and "
         "at $9000-$AFFF, is programmed only where the part is named as the 711E20), or the "
         "EPROM needs +12 V on XIRQ/VPPE, and a bit once 0 stays 0"},
        // Where no part has the memory, or where the fast path's CONFIG says it is not (M): no
        // erase or voltage would help.
        {"EepromProgram", "V C000", "Error in Eeprom",
         "$C000 is outside the EEPROM the part has at the CONFIG it has: $B600-$B7FF on the A "
         "and E series, $x800-$xFFF on the 811E2 and $xE00-$xFFF on the F1 with x from CONFIG "
         "bits 7-4, none while EEON is clear"},
        {"EpromProgram", "V B600", "Error in Eprom",
         "$B600 is outside the EPROM the part has at the CONFIG it has: only the 711E9 and "
         "711E20 have one, at $D000-$FFFF (the 711E20's also at $9000-$AFFF) while ROMON is set"},
        {"EpromProgram", "M D000", "Error in Eprom",
         "$D000 is outside the EPROM the part has at the CONFIG it has: only the 711E9 and "
         "711E20 have one, at $D000-$FFFF (the 711E20's also at $9000-$AFFF) while ROMON is set"},
        {"ExtEEprog", "A 1040", "Error in Eprom",
         "$1040 is below $2000, where the HC11's own RAM and registers are, which the talker does "
         "not program"},
        {"Xiprog", "V E000", "Error in Eeprom",
         "$E000 did not read back as the file has it within the write cycle (nothing there, the "
         "HC11's own memory in the way, a protected block, or data protection on)"},
        {"EepromProgram", "V", "Error in Eeprom", "the talker answered \"V\""},
        {"ExtEEprog", "", "Error in Eprom",
         "the HC11 did not confirm the end of the job; the memory may be partly programmed"},
        {"EpromProgram", "O B604", "Eprom is program", ""},
        // An end that is not the file's: a record skipped, or an end record made of a damaged
        // one.
        {"EepromProgram", "O B600", "Error in Eeprom",
         "the HC11 did not confirm the end of the job as the file's: it answered its end at "
         "$B600, where the file ends at $B604 (a record was damaged on the line); the memory may "
         "be partly programmed"},
        {"EepromProgram", "X 1234", "Error in Eeprom", "the talker answered \"X 1234\""},
        // Bytes that are not text are shown, never passed on to a terminal.
        {"EepromProgram", "V\x01\"\x7F", "Error in Eeprom",
         "the talker answered \"V\\x01\\x22\\x7F\""},
        {"EepromCompare",
         "B6\x01"
         "3",
         "Error found at\r\nB6\\x013", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.button) + " " + c.reply);
        OpsBench b;
        b.choose(file);
        bool answered = false;
        // At the file's first character, as a talker would once it has read the record.
        b.target.talker = [&](Byte byte) {
            if (!answered && byte == 'S') {
                b.target.send(std::string_view(c.reply));
                answered = true;
            }
        };
        b.run(c.button);
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0].text, c.box);
        EXPECT_EQ(b.ui.messages[0].reason, c.reason);
    }
}

// The file is read once, when chosen: what was checked is what goes out, whatever happens to the
// file during the talker download.
TEST(ChosenFile, WhatWasCheckedIsSentWhateverHappensToTheFileLater) {
    // As the S1 records it is sent as.
    const std::string file = testing::srecord('1', 0xB600, Bytes{1, 2, 3, 4}) + "\r\n" +
                             testing::srecord('1', 0xB610, Bytes{5, 6, 7, 8}) +
                             "\r\nS9030000FC\r\n";
    const std::pair<const char*, std::function<void(const std::filesystem::path&)>> changes[] = {
        {"overwritten with text",
         [](const auto& p) { std::ofstream(p, std::ios::trunc) << "my notes\n"; }},
        {"cut to one record", [](const auto& p) { std::filesystem::resize_file(p, 20); }},
        {"removed", [](const auto& p) { std::filesystem::remove(p); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        OpsBench b;
        b.choose(file);
        b.confirmAt(0, "O B614");
        b.clock.schedule(b.clock.now() + 300ms,
                         [&, change = change] { change(b.ui.chooserAnswer); });
        b.run("EepromProgram");
        EXPECT_EQ(b.sentToTalker(), bytesOf(file + std::string(1, '\0')));
        EXPECT_EQ(b.texts(), std::vector<std::string>{"Eeprom is program"});
    }
}

// An Intel HEX or ELF file goes out as the S1 records of what it holds, in address order.
TEST(ChosenFile, IntelHexGoesOutAsTheS1RecordsOfWhatItHolds) {
    OpsBench b;
    b.choose(":03B610000A0B0C16\n:02B60000123402\n:00000001FF\n", "app.s19");
    b.confirmAt(0, "O");
    b.run("EepromCompare");
    EXPECT_EQ(textOf(b.sentToTalker()),
              std::string("S105B6001234FE\r\nS106B6100A0B0C12\r\nS9030000FC\r\n") + '\0');
    EXPECT_EQ(b.texts(), std::vector<std::string>{"File equal Eeprom"});
}

}  // namespace
}  // namespace kestro
