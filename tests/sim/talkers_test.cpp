// SPDX-License-Identifier: GPL-3.0-or-later
// Every operation end to end: the program's own operations (the code the buttons run) against
// the virtual board running the real talkers, in virtual time.
#include <gtest/gtest.h>

#include <functional>

#include "board_bench.h"
#include "kestro/sim/board/devices.h"
#include "scratch.h"
#include "srecords.h"
#include "station.h"

namespace kestro::sim {
namespace {

using station::Station;

const std::vector<Message> kNoBox;

// A programming talker's failure: the window's box, and what the command line adds to it.
std::vector<Message> failed(std::string text, std::string title, std::string reason) {
    Message m{std::move(text), std::move(title), Icon::Information};
    m.reason = std::move(reason);
    return {m};
}

// Where no part has EEPROM: outside it, whatever the part and its CONFIG.
const std::string kNoEeprom =
    " is outside the EEPROM the part has at the CONFIG it has: $B600-$B7FF on the A and E "
    "series, $x800-$xFFF on the 811E2 and $xE00-$xFFF on the F1 with x from CONFIG bits 7-4, "
    "none while EEON is clear";

Bytes slice(std::span<const Byte> memory, std::size_t at, std::size_t n) {
    return Bytes(memory.begin() + static_cast<std::ptrdiff_t>(at),
                 memory.begin() + static_cast<std::ptrdiff_t>(at + n));
}

ops::Inputs eepromRange(std::string begin, std::string end) {
    ops::Inputs in;
    in.eepromBegin = std::move(begin);
    in.eepromEnd = std::move(end);
    return in;
}

// ---- on every part: the comm test, the internal EEPROM, and CONFIG

struct Part {
    Chip chip;
    std::array<int, 4> boxes;  // CONFIG as the window's boxes set it
    const char* map;
    Byte config;               // as the part reads it after the next reset
    unsigned eeprom;           // where the EEPROM then sits
    std::size_t recordLength;  // of the file programmed, with its line end
    const char* eol;
};

void PrintTo(const Part& p, std::ostream* os) {
    *os << variant(p.chip).name;
}

class EveryPart : public ::testing::TestWithParam<Part> {};

// The comm test twice (a second run must not trip over the first); the EEPROM programmed from
// a file of a shape of its own (one-byte to the longest records, either line end), compared,
// checked and erased; CONFIG in force only at the next reset, and the EEPROM talkers
// then find the EEPROM where the part shows it (the 811E2 moves it).
TEST_P(EveryPart, CommTestEepromAndConfig) {
    const Part& p = GetParam();
    Station s(p.chip);
    for (int run = 0; run < 2; ++run)
        EXPECT_EQ(s.run("TestComm"), says("Communication is OK", kAppTitle, Icon::Exclamation));

    const unsigned base = s.board.eepromBase();
    const Bytes data = pattern(300, 3);
    const fs::path file = s.file(srecords(base + 5, data, p.recordLength, p.eol));
    const ops::Inputs in = eepromRange(hex4(base), hex4(base + s.board.chip().eepromSize - 1));
    EXPECT_EQ(s.run("EepromProgram", in, file), says("Eeprom is program", "Eeprom"));
    Bytes expected(s.board.eeprom().array().size(), 0xFF);
    std::copy(data.begin(), data.end(), expected.begin() + 5);
    EXPECT_EQ(s.board.eeprom().array(), expected);
    EXPECT_EQ(s.run("EepromCompare", in, file), says("File equal Eeprom", "Eeprom"));
    EXPECT_EQ(s.run("EepromCheck", in), says("Data", "Eeprom"));
    EXPECT_EQ(s.run("EepromProgram", in, s.file(srecords(0xE000, pattern(4)), "rom.s19")),
              failed("Error in Eeprom", "Eeprom", "$E000" + kNoEeprom));
    s.board.eeprom().array()[5 + 13] ^= 0x40;
    EXPECT_EQ(s.run("EepromCompare", in, file),
              says("Error found at\r\n" + hex4(base + 5 + 13), "Eeprom", Icon::Critical));
    EXPECT_EQ(s.run("EepromErase", in), says("Eeprom Erase", "Eeprom"));
    EXPECT_EQ(s.board.eeprom().array(), Bytes(expected.size(), 0xFF));
    EXPECT_EQ(s.run("EepromCheck", in), says("No Data", "Eeprom"));

    ops::Inputs moved = eepromRange(hex4(p.eeprom), hex4(p.eeprom + 0x1FF));
    moved.config = p.boxes;
    moved.config5Text = p.map;
    const Byte before = s.board.config();
    EXPECT_EQ(s.run("ConfigProgram", moved), kNoBox);
    EXPECT_EQ(s.board.config(), before) << "CONFIG changed before a reset";
    EXPECT_EQ(s.board.eepromBase(), base) << "the EEPROM moved before a reset";
    s.board.resetBootstrap();
    EXPECT_EQ(s.board.config(), p.config);
    ASSERT_EQ(s.board.eepromBase(), p.eeprom);
    const fs::path last = s.file(srecords(p.eeprom + 0x1E0, pattern(32)));
    EXPECT_EQ(s.run("EepromProgram", moved, last), says("Eeprom is program", "Eeprom"));
    EXPECT_EQ(slice(s.board.eeprom().array(), 0x1E0, 32), pattern(32));
    EXPECT_EQ(s.board.peek(static_cast<std::uint16_t>(p.eeprom + 0x1E0)), pattern(32)[0]);
    EXPECT_EQ(s.run("EepromErase", moved), says("Eeprom Erase", "Eeprom"));
    EXPECT_EQ(s.board.eeprom().array()[0x1E0], 0xFF);

    // Fewer 1s, then the part's own value again: a 1 over a 0 of the cell, which only the
    // erase mode that reaches CONFIG on every part gives back; on either path, the EEPROM
    // left as it was.
    s.board.eeprom().array()[0x20] = 0x5A;
    for (const bool fast : {false, true}) {
        ops::Inputs fewer = moved;
        fewer.config = {0, 0, 0, 1};
        fewer.fast = fast;
        EXPECT_EQ(s.run("ConfigProgram", fewer), kNoBox);
        s.board.resetBootstrap();
        EXPECT_EQ(s.board.config() & 0x0F, 0x08) << (fast ? "fastcfg" : "config");
        ops::Inputs again = moved;
        again.fast = fast;
        EXPECT_EQ(s.run("ConfigProgram", again), kNoBox);
        s.board.resetBootstrap();
        EXPECT_EQ(s.board.config(), p.config) << (fast ? "fastcfg" : "config");
        EXPECT_EQ(s.board.eeprom().array()[0x20], 0x5A) << (fast ? "fastcfg" : "config");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Parts, EveryPart,
    ::testing::Values(Part{Chip::A8, {1, 1, 1, 1}, "$F800-$FFFF", 0x0F, 0xB600, 1, "\r\n"},
                      Part{Chip::E9, {1, 0, 0, 1}, "$F800-$FFFF", 0x09, 0xB600, 252, "\n"},
                      Part{Chip::E9_711, {1, 1, 0, 1}, "$F800-$FFFF", 0x0B, 0xB600, 32, "\r\n"},
                      Part{Chip::E2_811, {1, 0, 1, 1}, "$B800-$BFFF", 0xBD, 0xB800, 252, "\r\n"}),
    [](const auto& info) { return std::string(variant(info.param.chip).name); });

// The parts added to the A8, E9, 711E9 and 811E2: the comm test on each (the talkers run from
// every loader, whatever its RAM and its end), and every memory the part has programmed (where
// a talker can), compared and dumped, on the default and the fast path; the 711E20's EPROM
// at both its ranges, through EPROG, once the PC knows the part. The EEPROM is erased whole at
// the end, with no programming voltage where it is not.
TEST(NewParts, EveryMemoryProgrammedComparedAndDumped) {
    struct Case {
        Chip chip;
        const char* memory;     // "Eeprom", "Eprom" or nullptr: the comm test alone
        std::uint16_t address;  // 16-byte aligned: the dump's record for it holds the data
        bool fast;
    };
    const Case cases[] = {
        {Chip::A0, nullptr, 0, false},           {Chip::E0, nullptr, 0, false},
        {Chip::A1, "Eeprom", 0xB610, false},     {Chip::E1, "Eeprom", 0xB7C0, true},
        {Chip::E20, "Eeprom", 0xB600, false},    {Chip::E20_711, "Eeprom", 0xB650, true},
        {Chip::F1, "Eeprom", 0xFE10, false},     {Chip::F1, "Eeprom", 0xFFC0, true},
        {Chip::E20_711, "Eprom", 0x9000, false}, {Chip::E20_711, "Eprom", 0xAFD0, false},
        {Chip::E20_711, "Eprom", 0xD000, false}, {Chip::E20_711, "Eprom", 0xFFC0, true},
        {Chip::E20_711, "Eprom", 0x9FF0, true},
    };
    for (const Case& c : cases) {
        const Variant& v = variant(c.chip);
        SCOPED_TRACE(std::string(v.name) + " " + (c.memory ? c.memory : "comm") +
                     (c.fast ? " fast" : ""));
        Station s(c.chip);
        EXPECT_EQ(s.run("TestComm"), says("Communication is OK", kAppTitle, Icon::Exclamation));
        if (!c.memory)
            continue;
        const std::string memory = c.memory;
        const Bytes data = pattern(48, static_cast<unsigned>(c.address));
        const fs::path file = s.file(srecords(c.address, data));
        ops::Inputs in;
        in.fast = c.fast;
        if (memory == "Eeprom") {
            EXPECT_EQ(s.run("EepromProgram", in, file), says("Eeprom is program", "Eeprom"));
            EXPECT_EQ(slice(s.board.eeprom().array(), c.address - s.board.eepromBase(), 48), data);
        } else {
            s.link.setPart(std::string(v.name));
            s.board.setProgrammingVoltage(true);
            EXPECT_EQ(s.run("EpromProgram", in, file), says("Eprom is program", "Eprom"));
            EXPECT_EQ(slice(s.board.eprom(), *v.romOffset(c.address), 48), data);
        }
        EXPECT_EQ(s.run(memory + "Compare", in, file), says("File equal " + memory, memory));
        in.dumpBegin = hex4(c.address & 0xFF00u);
        in.dumpEnd = hex4(c.address | 0x00FFu);
        EXPECT_EQ(s.run("DumpStart", in), kNoBox);
        const std::string dumped = kestro::testing::slurp(s.dir.path / "upload.s19");
        EXPECT_NE(dumped.find(kestro::testing::srecord('1', c.address, ByteView(data).first(16))),
                  std::string::npos)
            << dumped.substr(0, 200);
        fs::remove(s.dir.path / "upload.s19");
        if (memory == "Eeprom") {
            const unsigned base = s.board.eepromBase();
            in.eepromBegin = hex4(base);
            in.eepromEnd = hex4(base + v.eepromSize - 1);
            EXPECT_EQ(s.run("EepromErase", in), says("Eeprom Erase", "Eeprom"));
            EXPECT_EQ(s.board.eeprom().array(), Bytes(v.eepromSize, 0xFF));
            EXPECT_EQ(s.board.eeprom().strayPulses(), 0);
        }
    }
}

// The 711E20's EPROM at the edges of its two ranges, on both paths: what lies between them, or
// below the lower one, is refused before anything is latched; a 711E20 the PC was not told of
// gets the 711E9's talkers, which find no EPROM there; with ROMON clear neither range answers
// (the fast path sees it in CONFIG).
TEST(EpromOnBoard, The711E20sRangesAndRegisterFollowTheNamedPart) {
    struct Case {
        const char* what;
        bool named;
        int config;  // CONFIG's cell, or -1: the factory's
        std::uint16_t address;
        std::size_t programmed;       // of the 16 bytes, from the address on
        std::string reason;           // the verdict's reason from its start; empty: programmed
        std::string fastReason = {};  // where the fast path's differs
    };
    const std::string outside = " is outside the EPROM the part has at the CONFIG it has";
    const Case cases[] = {
        {"the lower range's end", true, -1, 0xAFF8, 8, "$B000" + outside},
        {"below the lower range", true, -1, 0x8FF8, 0, "$8FF8" + outside},
        {"the gap below $D000", true, -1, 0xCFF0, 0, "$CFF0" + outside},
        // The EEPROM lies in the gap: bytes it holds already must not pass for EPROM.
        {"the EEPROM in the gap", true, -1, 0xB600, 0, "$B600" + outside},
        {"the upper range whole", true, -1, 0xFFF0, 16, ""},
        {"the part not named", false, -1, 0x9000, 0, "$9000 did not read back", "$9000" + outside},
        {"the part not named, upper range", false, -1, 0xD000, 0, "$D000 did not read back"},
        {"ROMON clear", true, 0x0D, 0x9000, 0, "$9000 did not read back", "$9000" + outside},
    };
    for (const Case& c : cases)
        for (const bool fast : {false, true}) {
            SCOPED_TRACE(std::string(c.what) + (fast ? " fast" : ""));
            Station s(Chip::E20_711);
            const Variant& v = s.board.chip();
            if (c.named)
                s.link.setPart(std::string(v.name));
            if (c.config >= 0)
                s.board.eeprom().setConfigCell(static_cast<Byte>(c.config));
            s.board.setProgrammingVoltage(true);
            int latched = 0;  // bytes that came while a register held the latch
            s.board.onReceived = [&](Byte, bool) {
                latched += s.board.peek(0x1036) != 0 || s.board.peek(0x103B) != 0;
            };
            const Bytes data = pattern(16, c.address);
            for (std::size_t i = 0; i < data.size(); ++i)
                if (const unsigned a = c.address + i; a >= 0xB600 && a <= 0xB7FF)
                    s.board.eeprom().array()[a - 0xB600] = data[i];
            ops::Inputs in;
            in.fast = fast;
            const auto shown = s.run("EpromProgram", in, s.file(srecords(c.address, data)));
            const std::string& reason = fast && !c.fastReason.empty() ? c.fastReason : c.reason;
            if (reason.empty()) {
                EXPECT_EQ(shown, says("Eprom is program", "Eprom"));
            } else {
                ASSERT_EQ(shown.size(), 1u);
                EXPECT_EQ(shown[0].reason.rfind(reason, 0), 0u) << shown[0].reason;
            }
            for (std::size_t i = 0; i < data.size(); ++i) {
                const auto at = v.romOffset(static_cast<std::uint16_t>(c.address + i));
                if (at) {
                    EXPECT_EQ(s.board.eprom()[*at], i < c.programmed ? data[i] : 0xFF) << i;
                }
            }
            EXPECT_EQ(s.board.eeprom().strayPulses(), 0);
            if (c.programmed == 0) {
                EXPECT_EQ(latched, 0) << "a register held the latch while the file came";
            }
        }
}

// The 811E2's EEPROM moved to $0800, below the registers: programmed, compared, checked and
// erased there, a page and then whole, with the registers still refused; then moved on to
// $1800.
TEST(EepromOnBoard, The811E2sEepromAt0800) {
    Station s(Chip::E2_811);
    ops::Inputs move;
    move.config = {1, 1, 1, 1};
    move.config5Text = "$0800-$0FFF";
    EXPECT_EQ(s.run("ConfigProgram", move), kNoBox);
    s.board.resetBootstrap();
    ASSERT_EQ(s.board.eepromBase(), 0x0800);

    const ops::Inputs whole = eepromRange("0800", "0FFF");
    const Bytes data = pattern(300, 5);
    const fs::path file = s.file(srecords(0x08F0, data, 32));
    EXPECT_EQ(s.run("EepromProgram", whole, file), says("Eeprom is program", "Eeprom"));
    EXPECT_EQ(slice(s.board.eeprom().array(), 0xF0, data.size()), data);
    EXPECT_EQ(s.run("EepromCompare", whole, file), says("File equal Eeprom", "Eeprom"));
    EXPECT_EQ(s.run("EepromCheck", whole), says("Data", "Eeprom"));
    EXPECT_EQ(s.run("EepromProgram", whole, s.file(srecords(0x1000, pattern(4)), "regs.s19")),
              failed("Error in Eeprom", "Eeprom",
                     "$1000 is the talker's own RAM or the register block, which it does not "
                     "program"));
    // Its first page alone: a range from the EEPROM's start is no bulk erase.
    EXPECT_EQ(s.run("EepromErase", eepromRange("0800", "08FF")), says("Eeprom Erase", "Eeprom"));
    Bytes expected(0x800, 0xFF);
    std::copy(data.begin() + 0x10, data.end(), expected.begin() + 0x100);
    EXPECT_EQ(s.board.eeprom().array(), expected);
    EXPECT_EQ(s.run("EepromErase", whole), says("Eeprom Erase", "Eeprom"));
    EXPECT_EQ(s.board.eeprom().array(), Bytes(0x800, 0xFF));
    EXPECT_EQ(s.run("EepromCheck", whole), says("No Data", "Eeprom"));

    // Then at $1800, past the registers: bits 7-4 that read 0 take a 1 again.
    move.config5Text = "$1800-$1FFF";
    EXPECT_EQ(s.run("ConfigProgram", move), kNoBox);
    s.board.resetBootstrap();
    ASSERT_EQ(s.board.eepromBase(), 0x1800);
    const fs::path high = s.file(srecords(0x1FEC, pattern(20)), "high.s19");
    EXPECT_EQ(s.run("EepromProgram", eepromRange("1800", "1FFF"), high),
              says("Eeprom is program", "Eeprom"));
    EXPECT_EQ(slice(s.board.eeprom().array(), 0x7EC, 20), pattern(20));
    EXPECT_EQ(s.run("EepromCompare", eepromRange("1800", "1FFF"), high),
              says("File equal Eeprom", "Eeprom"));
}

// ---- failures the talkers report, leaving the memory as it was

// Where the talker cannot erase the whole range, it answers E: a range past the EEPROM's end, a
// cell worn so that bits stay at zero. (The pages, the ranges outside and the EEPROM off run on
// the default path in the fast path's test.)
TEST(EepromOnBoard, EraseAnswersEWhereItCannotEraseTheRange) {
    struct Case {
        const char* what;
        const char* begin;
        const char* end;
        int worn;  // a cell whose wornBits stay at zero
        Byte wornBits;
    };
    const Case cases[] = {
        {"a range reaching past it", "B700", "B8FF", -1, 0},
        {"a worn cell in the whole EEPROM", "B600", "B7FF", 0x105, 0x10},
        {"a worn cell in one page", "B700", "B7FF", 0x1FF, 0x01},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Station s(Chip::E9);
        std::fill(s.board.eeprom().array().begin(), s.board.eeprom().array().end(), Byte{0x00});
        if (c.worn >= 0)
            s.board.eeprom().wearOut(static_cast<std::uint16_t>(c.worn), c.wornBits);
        EXPECT_EQ(s.run("EepromErase", eepromRange(c.begin, c.end)),
                  says("Error in Eeprom", "Eeprom"));
    }
}

// ---- the companion chip on the expanded bus

// The companion chip's commands answer O only once the command's write cycle is over: a job
// that went on at once (the next command, a register write) would be ignored by the busy chip.
// The restore of the defaults also stores SFR's default before the block moves, where a talker
// that looked for the chip again would never answer.
TEST(CompanionOnBoard, CommandsAnswerOnlyOnceTheWriteCycleIsOver) {
    for (const char* talker : {"xisdpoff", "xireset"}) {
        SCOPED_TRACE(talker);
        testing::BoardBench b(Chip::E9, 1200);
        b.board.eeprom().setConfigCell(0x0D);  // ROMON clear: the chip's EEPROM at $E000
        auto& chip = b.board.devices().companion();
        chip.eeprom().setSdp(true);
        b.bootAndRun(testing::padded(testing::talkerFile(talker)));
        // The board's cycle (5 ms) ends before an O at 1200 baud has arrived whole: what
        // counts is when its start bit went out.
        std::optional<TimePoint> lastBusy;
        for (int i = 0; i < 1000 && b.pc.rx.empty(); ++i) {
            b.run(std::chrono::microseconds(50));
            if (chip.eeprom().busy(b.board.cycle()))
                lastBusy = b.clock.now();
        }
        ASSERT_EQ(b.pc.data(), Bytes{'O'});
        ASSERT_TRUE(lastBusy);
        EXPECT_GT(b.pc.rx[0].at - characterTime(1200, 1), *lastBusy);
        EXPECT_FALSE(chip.eeprom().sdp());
    }
}

// ---- RAM download

// What a talker answers, as it reaches the PC, to what send() gives it after its download; then
// `after` sends what follows the answer.
std::string replyOf(Station& s, const std::string& talker, const std::function<void(Frame&)>& send,
                    const std::function<void(Frame&)>& after = {}) {
    s.board.resetBootstrap();
    s.clock.advance(std::chrono::milliseconds(100));
    std::string reply;
    Frame::run(s.target, "EepromProgram", "Program", [&](Frame& f) {
        if (!f.begin())
            return;
        f.downloadTalker(talker);
        f.waitDrained();
        f.wait(Frame::kSettle);
        f.discardBuffers();
        send(f);
        f.waitDrained();
        f.wait(Frame::kReplyWait);
        reply = f.answer();
        if (after)
            after(f);
        f.finish();
    });
    return reply;
}

// The RAM download's steps without the PC's check of the file or the address: what the talker
// answers after the file, then after the address. The start address goes as `start`, then,
// where given, `more` after a pause of 4.4 ms between the two digits: the last digit's stop
// bit, 3.4 ms, and 1.04 ms for the next one's frame.
std::string ramTalk(Station& s, const std::string& file, std::string_view start,
                    std::string_view more = {}) {
    std::string started;
    const auto sendFile = [&](Frame& f) {
        f.wait(std::chrono::milliseconds(250));  // half a second after the download in all
        ASSERT_EQ(f.port().setSettings("9600,n,8,1"), PortError::None);
        f.discardBuffers();
        f.wait(std::chrono::milliseconds(500));
        f.streamFile(file);
    };
    return replyOf(s, "ram.S19", sendFile,
                   [&](Frame& f) {
                       f.send(Byte{0x5A});
                       f.send(start);
                       f.waitDrained();
                       if (!more.empty()) {
                           f.wait(std::chrono::microseconds(3400));
                           f.send(more);
                           f.waitDrained();
                       }
                       f.wait(Frame::kReplyWait);
                       started = f.answer();
                   }) +
           started;
}

// A program downloaded into the external RAM runs from the start address, all its records
// loaded, also without S9 and on the A8, whose loader starts the talker while its last echo is
// still going out. A file with a record in the talker's own internal RAM is refused before the
// talker (and if the talker is sent one all the same, it answers A and runs nothing). The
// fast path's tests run the other parts and the register block's refusal on the default path.
TEST(RamOnBoard, RunsWhatItLoadedAndNothingOfAFileItRefused) {
    const std::string text = srecords(0x2000, kMarker, 3, "\n");
    const std::string withoutS9 = text.substr(0, text.find("S9"));
    const std::string intoTalker = srecords(0x0100, Bytes(4, 0x01));
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused before the talker" : "without S9, on the A8");
        const std::string file =
            refused ? withoutS9 + intoTalker.substr(intoTalker.find("S1")) : withoutS9;
        Station s(refused ? Chip::E9 : Chip::A8);
        ops::Inputs in;
        in.startAddress = "2000";
        const auto boxes = s.run("ExtRam", in, s.file(file));
        if (refused) {
            ASSERT_EQ(boxes.size(), 1u);
            EXPECT_TRUE(boxes[0].text.ends_with("has data at $0100, below $0200."))
                << boxes[0].text;
            EXPECT_TRUE(s.link.ready());
            EXPECT_EQ(s.board.devices().ram()[0x2000], 0x00);
            // Sent as another sender would send it.
            EXPECT_EQ(ramTalk(s, file, "2000"), "A");
        } else {
            EXPECT_EQ(boxes, kNoBox);
        }
        s.clock.advance(std::chrono::milliseconds(50));
        s.board.catchUp();
        EXPECT_EQ(s.board.devices().ram()[0x2000], 0x86) << "the first record was not loaded";
        EXPECT_EQ(s.board.devices().ram()[0x3000], refused ? 0x00 : 0x5A);
        EXPECT_EQ(slice(s.board.devices().ram(), 0, 0x200), Bytes(0x200, 0x00))
            << "the internal RAM's writes reached the external RAM beneath it";
    }
}

// A record where no RAM takes its bytes (the E9's EEPROM, which a store outside the
// programming sequence leaves as it was, and its ROM) is refused when a byte does not read back,
// on both paths: the program is not run, and the box says what was meant to be RAM is not.
TEST(RamOnBoard, AByteNoRamTakesIsRefusedAndNothingRuns) {
    for (const auto& [at, fast] : {std::pair{0xB600u, false}, std::pair{0xD000u, false},
                                   std::pair{0xB600u, true}, std::pair{0xD000u, true}}) {
        SCOPED_TRACE(std::to_string(at) + (fast ? " fast" : ""));
        Station s(Chip::E9);
        const std::string program = srecords(0x2000, kMarker);
        const std::string file = program.substr(0, program.find("S9")) + srecords(at, Bytes{0x12});
        ops::Inputs in;
        in.startAddress = "2000";
        in.fast = fast;
        const auto boxes = s.run("ExtRam", in, s.file(file));
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, "The HC11 refused the program, so nothing was run.");
        EXPECT_NE(boxes[0].detail.find("did not read back"), std::string::npos) << boxes[0].detail;
        s.clock.advance(std::chrono::milliseconds(50));
        s.board.catchUp();
        EXPECT_EQ(s.board.devices().ram()[0x3000], 0x00) << "the program ran";
        if (at == 0xB600u) {
            EXPECT_EQ(s.board.eeprom().read(0), 0xFF);
        }
    }
}

// The start address is one to four hex digits, complete after 5 ms of idle line, not before: a
// pause of 4.4 ms between its digits (the PC's own send stalling) still counts as one address.
// The talker confirms it before it runs the program; anything else it refuses and runs nothing:
// a letter O typed for a 0, an "@" (which the records' digit reading folds into a 9), a blank,
// a fifth significant digit, no digit at all.
TEST(RamOnBoard, RunsOnlyAStartAddressOfOneToFourHexDigits) {
    const std::tuple<std::string_view, std::string_view, const char*> cases[] = {
        {"20", "00", "O"},  {"02000", "", "O"}, {"2O00", "", "Z"}, {"2@00", "", "Z"},
        {"2000 ", "", "Z"}, {"12000", "", "Z"}, {"", "", "Z"},
    };
    for (const auto& [start, more, answer] : cases) {
        SCOPED_TRACE(std::string(start) + "|" + std::string(more));
        Station s(Chip::E9);
        EXPECT_EQ(ramTalk(s, srecords(0x2000, kMarker), start, more), answer);
        s.board.catchUp();
        EXPECT_EQ(s.board.devices().ram()[0x3000], *answer == 'O' ? 0x5A : 0x00);
    }
}

// ---- what the talkers answer, seen on the line, leaving the registers and (where they refuse)
// the memory as they were: also files the program's own check would stop, sent as another
// sender (or a noisy line) would send them

TEST(TalkerReplies, OnTheLineTellWhatWentWrong) {
    struct Reply {
        const char* what;
        Chip chip;
        const char* talker;
        std::string file;
        std::string reply;
    };
    const Reply replies[] = {
        {"checksum", Chip::A8, "eeprog", srecords(0xB600, pattern(40), 16, "\r\n", 1), "C B610"},
        {"past the registers", Chip::A8, "eeprog", srecords(0x1040, pattern(4)), "V 1040"},
        {"record after S9", Chip::E9, "eeprog", srecords(0xB600, pattern(4)) + "S1050180FFFF7A\r\n",
         "O B604"},
        {"compare checksum", Chip::A8, "eecomp", srecords(0xB600, Bytes(40, 0xFF), 16, "\r\n", 2),
         "B620"},
        // Where nothing answers, a read that happens to match the file is no memory there.
        {"nothing there, though it reads as the file has it", Chip::A8, "eeprog",
         srecords(0xC000, Bytes{floatingBus(0xC000)}), "V C000"},
    };
    for (const Reply& r : replies) {
        SCOPED_TRACE(r.what);
        Station s(r.chip);
        auto registers = [&] {
            Bytes bytes;
            // All but TCNT ($100E-$100F), which runs on its own.
            for (std::uint16_t a = 0x1000; a < 0x1014; ++a)
                if (a != 0x100E && a != 0x100F)
                    bytes.push_back(s.board.peek(a));
            return bytes;
        };
        const Bytes before = registers();
        EXPECT_EQ(
            replyOf(s, std::string(r.talker) + ".S19", [&](Frame& f) { f.streamFile(r.file); }),
            r.reply);
        EXPECT_EQ(registers(), before);
        const bool refused = r.reply[0] == 'A' || r.reply[0] == 'V';
        EXPECT_TRUE(!refused || s.board.eeprom().array() == Bytes(512, 0xFF));
    }
}

// A status talker names the first address in the range that does not read $FF, odd or even,
// and answers "O" when every byte of the range is erased; its answer at the end of the
// EPROM's whole range comes within the PC's reply wait.
TEST(TalkerReplies, TheStatusTalkersNameTheFirstByteWithData) {
    struct Case {
        const char* talker;
        const char* begin;
        const char* end;
        std::vector<unsigned> written;  // bytes that hold $00
        std::string reply;
    };
    const Case cases[] = {
        {"eestat.S19", "B600", "B7FF", {}, "O"},
        {"eestat.S19", "B600", "B7FF", {0xB603}, "B603"},
        {"eestat.S19", "B600", "B7FF", {0xB602}, "B602"},
        {"eestat.S19", "B600", "B7FF", {0xB6A1, 0xB6A2}, "B6A1"},
        {"eestat.S19", "B600", "B7FF", {0xB7FF}, "B7FF"},
        {"eestat.S19", "B700", "B7FF", {0xB6FF, 0xB701}, "B701"},
        {"eestat.S19", "B600", "B6FF", {0xB700}, "O"},
        {"estat.S19", "D000", "D0FF", {0xD0F1}, "D0F1"},
        {"estat.S19", "D000", "FFFF", {0xFFFF}, "FFFF"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.talker) + " " + c.begin + "-" + c.end + " " + c.reply);
        Station s(Chip::E9_711);
        for (const unsigned at : c.written) {
            if (at >= 0xD000)
                s.board.epromDevice()->array()[at - 0xD000] = 0x00;
            else
                s.board.eeprom().array()[at - 0xB600] = 0x00;
        }
        EXPECT_EQ(replyOf(s, c.talker, [&](Frame& f) { ops::sendRangeCommand(f, c.begin, c.end); }),
                  c.reply);
    }
}

}  // namespace
}  // namespace kestro::sim
