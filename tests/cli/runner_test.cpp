// SPDX-License-Identifier: GPL-3.0-or-later
// A job on one port as kestro-cli runs it, in real time but without a talker download: a chain
// that ends at its first failure, and the reset of a virtual board on a loaded machine.
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "event_loop_clock.h"
#include "interruption.h"
#include "kestro/sim/board/board.h"
#include "link_state.h"
#include "part_check.h"
#include "recording_reporter.h"
#include "runner.h"
#include "scratch.h"
#include "srecords.h"
#include "virtual_port.h"

namespace kestro::cli {
namespace {

using Records = testing::RecordingReporter;

// A job on a pseudo-terminal where no reset ever comes.
struct Unanswered {
    Unanswered() { EXPECT_EQ(::openpty(&master, &slave, tty, nullptr, nullptr), 0); }
    ~Unanswered() {
        ::close(slave);
        ::close(master);
    }
    Exit run(std::vector<std::string> args) {
        args.insert(args.begin(), {"--port", tty, "--reset-timeout", "1"});
        const Parsed parsed = parseCommandLine(args, ops::Inputs{});
        EXPECT_EQ(parsed.error, "");
        const Environment env{.talkerDir = KESTRO_TALKER_DIR, .deviceForComm = {}};
        return runOnPort(parsed.plan, parsed.plan.ports.front(), env, records);
    }
    int master = -1, slave = -1;
    char tty[64] = {};
    Records records;
};

// The first command that does not succeed ends the job: the commands after it never ask for
// a reset. Every dump's place is found usable before the first reset, a FIFO nobody reads
// included.
TEST(Chain, EndsAtItsFirstFailure) {
    const testing::ScratchDir scratch;
    const std::filesystem::path fifo = scratch.path / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"dump", "-o", "/nonexistent/kestro/d.s19", "test", "erase"},
          std::vector<std::string>{"test", "dump", "-o", fifo.string()}}) {
        Unanswered job;
        EXPECT_EQ(job.run(args), Exit::FileError);
        ASSERT_EQ(job.records.records.size(), 1u);
        EXPECT_EQ(job.records.records[0].operation, "dump");
        EXPECT_EQ(job.records.records[0].exit, Exit::FileError);
    }
}

// Bytes with no break while the job waits for the reset are what a board at another crystal
// sends as its break: the verdict names the crystal; silence does not.
TEST(Chain, BytesWithoutABreakNameTheCrystal) {
    for (const bool bytes : {true, false}) {
        Unanswered job;
        std::thread board([&job, bytes] {
            std::this_thread::sleep_for(300ms);
            if (bytes) {
                EXPECT_EQ(::write(job.master, "\xE0\xF8", 2), 2);
            }
        });
        EXPECT_EQ(job.run({"--crystal", "7.3728", "test"}), Exit::NoAnswer);
        board.join();
        ASSERT_EQ(job.records.verdicts().size(), 1u);
        EXPECT_EQ(
            job.records.verdicts()[0].find("the HC11's crystal may not be the 7.3728 MHz set; "
                                           "give its crystal with --crystal") != std::string::npos,
            bytes)
            << job.records.verdicts()[0];
    }
}

// A signal while the job waits for the reset: nothing has gone to the HC11, and the user is
// told so rather than what may be half done.
TEST(Chain, InterruptedBeforeTheResetNothingWasSent) {
    Unanswered job;
    noteInterruption(SIGINT);
    const Exit exit = job.run({"erase"});
    noteInterruption(0);
    EXPECT_EQ(exit, Exit::Interrupted);
    EXPECT_EQ(job.records.verdicts(),
              std::vector<std::string>{"Interrupted during erase on " + std::string(job.tty) +
                                       ", before the HC11 was reset: nothing was sent."});
}

// kestro-cli resets a virtual board and waits a little for its break. A process held up for
// longer than that wait (a loaded machine) must still find the break when the wait ends.
TEST(VirtualBoard, ItsResetIsSeenHoweverLongTheProcessIsHeldUp) {
    EventLoopClock clock;
    VirtualLine line{clock};
    VirtualPort port{clock};
    port.attach(1, line);
    sim::Board board(
        clock, line,
        sim::BoardOptions{.chip = sim::Chip::E9_711, .slice = std::chrono::milliseconds(2)});
    LinkState link{port, clock, clock};
    port.setListener(&link);
    port.setSettings("1200,N,8,1");
    ASSERT_EQ(port.open(), PortError::None);
    // Where in the board's first slices the process is held up matters to a clock that has
    // the fault: three resets, three places.
    for (const Duration heldUpAt : {0ms, 1ms, 3ms}) {
        link.clearReady();
        board.resetBootstrap();
        clock.schedule(clock.now() + heldUpAt, [] { std::this_thread::sleep_for(300ms); });
        EXPECT_TRUE(clock.waitUntil([&link] { return link.ready(); }, 50ms))
            << "held up " << heldUpAt / 1ms << " ms after the reset";
    }
    port.close();
}

// CONFIG is read back after the reset that follows its programming, which kestro-cli makes on
// a virtual board itself: as sent, through either CONFIG talker, on parts whose CONFIG bits 7-4
// read 0 and on the 811E2, which has them; not as sent where the talker left the cell as it was
// (here a talker that only confirms stands in for config).
TEST(ConfigReadBack, EqualOrDifferentOnPartsWithAndWithoutTheUpperBits) {
    kestro::testing::ScratchDir home;
    ::setenv("XDG_DATA_HOME", home.path.c_str(), 1);
    const std::filesystem::path idle = home.path / "asm";
    std::filesystem::copy(KESTRO_TALKER_DIR, idle);
    // A config that confirms without touching the cell: it waits for $AA and the value, then
    // answers O and idles (getc reads SCSR before SCDR, as RDRF's clearing needs).
    const kestro::Bytes confirmsOnly = {
        0x8D, 0x0D, 0x81, 0xAA, 0x26, 0xFA,        // wait: bsr getc; cmpa #$AA; bne wait
        0x8D, 0x07, 0x86, 0x4F, 0xB7, 0x10, 0x2F,  // bsr getc; ldaa #'O'; staa SCDR
        0x20, 0xFE,                                // bra .
        0xB6, 0x10, 0x2E, 0x84, 0x20, 0x27, 0xF9,  // getc: ldaa SCSR; anda #RDRF; beq getc
        0xB6, 0x10, 0x2F, 0x39};                   // ldaa SCDR; rts
    std::filesystem::remove(idle / "config.S19");
    std::ofstream(idle / "config.S19")
        << kestro::testing::srecord('1', 0, confirmsOnly) << "\r\nS9030000FC\r\n";
    struct Case {
        const char* part;
        std::vector<std::string> options;
        bool idleTalker;
        Exit exit;
        const char* verdict;
    };
    const std::vector<std::string> fast = {"--fast"};
    const Case cases[] = {
        {"A8", {}, false, Exit::Success, "CONFIG reads $09 after the reset"},
        {"A8", {}, true, Exit::TargetError, "CONFIG reads $09 after the reset, not $FB"},
        {"811E2", fast, false, Exit::Success, "CONFIG reads $F9 after the reset"},
        {"811E2", {}, true, Exit::TargetError, "CONFIG reads $F9 after the reset, not $FB"},
    };
    for (const Case& c : cases) {
        // The first of each part's two runs sends EEON and NOSEC, the second ROMON besides.
        std::vector<std::string> args = {"--board", c.part, "--chip", c.part};
        args.insert(args.end(), c.options.begin(), c.options.end());
        for (const char* a : {"config", "--bits", c.idleTalker ? "EEON,ROMON,NOSEC" : "EEON,NOSEC"})
            args.emplace_back(a);
        const Parsed parsed = parseCommandLine(args, ops::Inputs{});
        ASSERT_EQ(parsed.error, "");
        Records reporter;
        const Environment env{.talkerDir = c.idleTalker ? idle : KESTRO_TALKER_DIR,
                              .deviceForComm = {}};
        EXPECT_EQ(runOnPort(parsed.plan, parsed.plan.ports.front(), env, reporter), c.exit)
            << c.part;
        EXPECT_EQ(reporter.verdicts(), std::vector<std::string>{c.verdict}) << c.part;
    }
    ::unsetenv("XDG_DATA_HOME");
}

// A board whose CONFIG cell has EEON clear comes out of its reset without EEPROM in the map,
// and one whose CONFIG places the EEPROM elsewhere than a range: a command on the EEPROM is
// refused before the reset, with the reason, unless a config command of the job comes first.
TEST(PartRefusals, ByTheBoardsOwnConfig) {
    kestro::testing::ScratchDir home;
    ::setenv("XDG_DATA_HOME", home.path.c_str(), 1);
    struct Case {
        std::vector<std::string> args;
        const char* reason;  // nullptr: not refused
    };
    const Case cases[] = {
        {{"--board", "p", "--chip", "A1", "--fast", "config", "--bits", "NOSEC", "--no-verify"},
         nullptr},
        {{"--board", "p", "status"}, "the board's CONFIG has EEON clear"},
        // The board's own part, named by no --chip, at a crystal faster than it runs from.
        {{"--board", "p", "--crystal", "12", "dump"},
         "The MC68HC11A1 runs from a crystal of 8 MHz at the most, not 12 MHz."},
        // A range where some CONFIG puts the F1's EEPROM, but not this board's: its bulk erase
        // would latch an address where the part has none.
        {{"--board", "f", "--chip", "F1", "erase", "--range", "3E00-3FFF"},
         "the range $3E00-$3FFF is not within the MC68HC11F1's EEPROM at $FE00-$FFFF"},
    };
    for (const Case& c : cases) {
        const Parsed parsed = parseCommandLine(c.args, ops::Inputs{});
        ASSERT_EQ(parsed.error, "");
        Records records;
        const Environment env{.talkerDir = KESTRO_TALKER_DIR, .deviceForComm = {}};
        const Exit exit = runOnPort(parsed.plan, parsed.plan.ports.front(), env, records);
        EXPECT_EQ(exit == Exit::Usage, c.reason != nullptr) << c.args.back();
        if (c.reason) {
            ASSERT_EQ(records.verdicts().size(), 1u);
            EXPECT_NE(records.verdicts()[0].find(c.reason), std::string::npos)
                << records.verdicts()[0];
        }
    }
    ::unsetenv("XDG_DATA_HOME");
    // A dump reads any address; a config command first makes the next reset's CONFIG unknown.
    const sim::Variant& a1 = sim::variant(sim::Chip::A1);
    const auto steps = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"--board", "p"});
        return parseCommandLine(args, ops::Inputs{}).plan.steps;
    };
    EXPECT_EQ(partRefusal(a1, 0x0C, steps({"dump", "--range", "B600-B6FF"})), "");
    EXPECT_EQ(partRefusal(a1, 0x0C, steps({"config", "--bits", "EEON,NOSEC", "erase"})), "");
    EXPECT_NE(partRefusal(a1, 0x0C, steps({"erase", "config", "--bits", "EEON,NOSEC"})), "");
}

}  // namespace
}  // namespace kestro::cli
