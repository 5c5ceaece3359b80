// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "ops_bench.h"
#include "scratch.h"
#include "srecords.h"

namespace kestro {
namespace {

using testing::OpsBench;
using testing::slurp;

const std::string kFile = "S1132000000102030405060708090A0B0C0D0E0F54\r\nS9030000FC\r\n";

// Only one to four hex digits, $0001 to $FFFF, are an address: anything else is refused
// before the talker, so the reset is kept (the talker reads the text itself, and a letter O
// typed for a 0 would run the program somewhere else). The file goes at 9600 baud, then Z and
// the start address exactly as typed; the next run starts at 1200 baud again.
TEST(RamDownload, FileAtNineThousandSixHundredThenZAndTheAddressAsTyped) {
    OpsBench b;
    b.choose(kFile);
    ops::Inputs in;
    for (const char* refused : {"10000", "2O00"}) {
        in.startAddress = refused;
        b.run("ExtRam", in);
        EXPECT_EQ(b.ui.messages,
                  (std::vector{Message{"Invalid start adress", kAppTitle, Icon::Exclamation}}))
            << refused;
        b.ui.messages.clear();
    }
    EXPECT_TRUE(b.wire.writes.empty());

    // The RAM talker moves to 9600 baud half a second after it starts, as the PC does.
    b.target.talker = [&b, started = false](Byte x) mutable {
        if (!std::exchange(started, true))
            b.target.after(400ms, [&b] { b.target.setBaud(9600); });
        if (x == 'Z')
            b.target.after(10ms, [&b] { b.target.send(Byte{'O'}); });
        b.toTalker.push_back(x);
    };
    in.startAddress = "ffff";
    b.run("ExtRam", in);
    b.clock.advance(1s);
    EXPECT_EQ(b.sentToTalker(), bytesOf(kFile + std::string(1, '\0') + "Zffff"));
    const auto writes = b.writesAfterDownload();
    ASSERT_GE(writes.size(), 3u);
    EXPECT_EQ(writes.end()[-2], Bytes{'Z'});
    EXPECT_EQ(writes.back(), bytesOf("ffff"));
    EXPECT_TRUE(b.ui.messages.empty());

    b.target.setBaud(1200);
    b.target.reset();
    b.clock.advance(100ms);
    b.wire.settingsLog.clear();
    b.run("ExtRam");
    EXPECT_EQ(b.wire.settingsLog, (std::vector<std::string>{"1200,n,8,1", "9600,n,8,1"}));
}

// The RAM talker runs in the internal RAM below $0200 and refuses data there, so such a file is
// refused before the talker, as the start address is.
TEST(RamDownload, AFileWithDataBelowTwoHundredIsRefusedBeforeTheTalker) {
    const std::pair<unsigned, const char*> firsts[] = {
        {0x0100, "$0100"}, {0x01FF, "$01FF"}, {0x0200, nullptr}};
    for (const auto& [address, told] : firsts) {
        SCOPED_TRACE(address);
        OpsBench b;
        b.choose(testing::srecords(address, {0x01, 0x02}));
        b.run("ExtRam");
        if (!told) {
            EXPECT_FALSE(b.wire.writes.empty());
            continue;
        }
        EXPECT_EQ(b.texts(), std::vector<std::string>{"The file " + b.ui.chooserAnswer +
                                                      " has data at " + told + ", below $0200."});
        EXPECT_TRUE(b.wire.writes.empty());
        EXPECT_TRUE(b.link.ready());
    }
}

// A talker that refused the file anyway (a character changed on the line) runs nothing: it is not
// sent the start address, and the user is told, not that the program was sent. After the
// address only the talker's "O" is a start: a refusal is told as one, silence as no start.
TEST(RamDownload, OnlyTheTalkersConfirmationIsAStart) {
    const std::string refused = "The HC11 refused the program, so nothing was run.";
    const std::tuple<char, char, std::string, const char*> cases[] = {
        {'A', '\n', refused, "It refused a record in the internal RAM below $0200"},
        {'C', '\n', refused, "A record's checksum did not hold"},
        {'\x13', '\n', refused, "Its answer is none of the talker's error letters"},
        {'Z', 'Z', refused, "It refused the start address"},
        {'\0', 'Z', "The HC11 did not confirm the start of the program.", "The program may or"},
    };
    for (const auto& [letter, at, text, detail] : cases) {
        SCOPED_TRACE(letter);
        OpsBench b;
        b.target.talker = [&, started = false, told = false](Byte x) mutable {
            if (!std::exchange(started, true))
                b.target.after(400ms, [&b] { b.target.setBaud(9600); });
            // At the end of the first record, or once the address has come.
            if (x == at && letter && !std::exchange(told, true))
                b.target.after(at == 'Z' ? 10ms : 0ms, [&] { b.target.send(Byte(letter)); });
            b.toTalker.push_back(x);
        };
        b.choose(kFile);
        b.run("ExtRam");
        b.clock.advance(1s);
        // The file stops at the answer; the start address never follows.
        const Bytes sent = b.sentToTalker(), whole = bytesOf(kFile + std::string(1, '\0'));
        EXPECT_TRUE(at == 'Z' || (sent.size() <= whole.size() &&
                                  std::equal(sent.begin(), sent.end(), whole.begin())));
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0].text, text);
        EXPECT_EQ(b.ui.messages[0].detail.substr(0, std::string(detail).size()), detail);
        EXPECT_FALSE(b.link.ready());
    }
}

// --- the dump

// A dump talker that answers the window's default range, $B600-$B7FF, with back-to-back
// records of erased bytes without line ends; stray: a byte the line adds after the third.
void dumpTalker(OpsBench& b, const std::string& tail = {}, char stray = 0) {
    std::string out;
    for (unsigned a = 0xB600; a < 0xB800; a += 16)
        out += testing::srecord('1', a, Bytes(16, 0xFF));
    if (stray)
        out.insert(3 * 42, 1, stray);
    b.target.talker = [&b, out = out + tail](Byte x) {
        if (x == 'W')
            b.target.send(std::string_view(out));
    };
}

// The warning shows while the records come; three quiet ticks end them. A byte added on the
// line shifts every record after it: the file is written as it came, beside the previous
// upload.s19, which it must not replace, and the user is told where it went and where it went
// wrong.
TEST(MemoryDump, EndsAfterThreeQuietTicksAndKeepsWhatCameBesideTheGoodFile) {
    OpsBench b;
    dumpTalker(b, "S9030000FC", 'x');
    const auto previous = b.scratch.write("upload.s19", "previous dump\r\n");
    bool warningShownDuringRun = false;
    b.clock.schedule(b.clock.now() + 3s,
                     [&] { warningShownDuringRun = b.ui.visible["DumpWarning"]; });
    ops::Inputs in;
    in.dumpFolder = b.talkerDir;
    b.run("DumpStart", in);
    // The ticks run on their own beat: the third after the last record comes more than two and
    // at most three ticks after the last byte.
    const Duration quiet = b.clock.now() - b.lines[0]->toPc.sampledAt();
    EXPECT_GT(quiet, LinkState::kTickInterval * 2);
    EXPECT_LE(quiet, LinkState::kTickInterval * 3);
    EXPECT_TRUE(warningShownDuringRun);
    EXPECT_FALSE(b.ui.visible["DumpWarning"]);

    EXPECT_EQ(slurp(previous), "previous dump\r\n");
    const auto damaged = b.talkerDir / "upload.damaged.s19";
    const std::string lines = slurp(damaged);
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 33);
    EXPECT_EQ(lines.substr(3 * 44, 2), "xS");
    EXPECT_TRUE(lines.ends_with("S9030000FC\r\n"));
    ASSERT_EQ(b.ui.messages.size(), 1u);
    EXPECT_EQ(b.ui.messages[0].text,
              "The dump is damaged at line 4 of " + damaged.string() + ": not an S-record.");
    EXPECT_EQ(b.ui.messages[0].icon, Icon::Exclamation);
    EXPECT_TRUE(b.ui.messages[0].detail.starts_with("upload.s19 was left as it was."));

    // A whole dump replaces upload.s19; the damaged one stays until the next damaged dump.
    dumpTalker(b, "S9030000FC");
    b.target.reset();
    b.clock.advance(100ms);
    b.ui.messages.clear();
    b.run("DumpStart", in);
    EXPECT_TRUE(b.ui.messages.empty());
    EXPECT_TRUE(slurp(previous).starts_with("S113B600FFFF"));
    EXPECT_EQ(slurp(damaged), lines);
}

// Dumps that end without a new file: the previous upload.s19 stays as it was and one box says
// why. A folder that cannot take the file costs no reset.
TEST(MemoryDump, AFailedDumpKeepsThePreviousFileAndSaysWhy) {
    using Prepare = std::function<void(OpsBench&, std::filesystem::path&)>;
    const std::tuple<const char*, Prepare, Icon, const char*, bool, Duration> cases[] = {
        // Download, settle, command, the half second, then three ticks of 500 ms.
        {"nothing received", [](OpsBench&, auto&) {}, Icon::Exclamation, "sent nothing", false, 6s},
        {"no folder", [](OpsBench&, auto& folder) { folder /= "gone"; }, Icon::Critical,
         "gone/upload.s19 cannot be written", true, 1s},
        // The folder goes away while the talker sends: upload.s19 cannot take its place.
        {"folder gone after the download",
         [](OpsBench& b, auto& folder) {
             dumpTalker(b);
             folder /= "dumps";
             std::filesystem::create_directories(folder);
             b.clock.schedule(8s, [folder] { std::filesystem::remove_all(folder); });
         },
         Icon::Critical, "dumps/upload.s19 could not be replaced", false, 60s},
    };
    for (const auto& [what, prepare, icon, says, readyAfter, within] : cases) {
        SCOPED_TRACE(what);
        OpsBench b;
        const auto previous = b.scratch.write("upload.s19", "previous dump\r\n");
        ops::Inputs in;
        in.dumpFolder = b.talkerDir;
        prepare(b, in.dumpFolder);
        const TimePoint start = b.clock.now();
        b.run("DumpStart", in);
        EXPECT_LT(b.clock.now() - start, within);
        EXPECT_EQ(slurp(previous), "previous dump\r\n");
        ASSERT_EQ(b.ui.messages.size(), 1u);
        EXPECT_EQ(b.ui.messages[0].icon, icon);
        EXPECT_NE(b.ui.messages[0].text.find(says), std::string::npos) << b.ui.messages[0].text;
        EXPECT_EQ(b.link.ready(), readyAfter);
        EXPECT_EQ(b.wire.writes.empty(), readyAfter);
        EXPECT_FALSE(b.ui.visible["DumpWarning"]);
    }
}

}  // namespace
}  // namespace kestro
