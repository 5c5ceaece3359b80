// SPDX-License-Identifier: GPL-3.0-or-later
// kestro-cli monitor's scripts against a stand-in session: the log they write, where they stop
// and the code they end with.
#include <gtest/gtest.h>
#include <signal.h>

#include <sstream>

#include "captured_streams.h"
#include "command_line.h"
#include "interruption.h"
#include "monitor_prompt.h"
#include "monitor_stand_in.h"
#include "scratch.h"
#include "virtual_clock.h"

namespace kestro::cli {
namespace {

using testing::MonitorStandIn;
using Streams = testing::CapturedStreams;

struct ScriptCase {
    const char* name;
    std::string script;
    Exit exit;
    std::string errorsEndWith;  // empty: no error at all
    int memoryAtB600;           // what the script left there
    int writesBeforeDeath = 0;  // the session's talker goes silent after these; 0: never
};

TEST(MonitorScript, StopsAtTheFirstFailingLineWithItsCode) {
    const std::vector<ScriptCase> cases = {
        {"every line runs", "# set up\r\nmm B600 5A\r\n\r\nmd B600 1\r\n", Exit::Success, "", 0x5A},
        {"a line that does not read", "mm B600 1\nmd B600 1\nbogus\nmm B600 2\n", Exit::Usage,
         "The script stops at line 3 of s.txt: bogus\n", 1},
        {"a file that cannot be read", "load /nonexistent/p.s19\nmm B600 2\n", Exit::FileError,
         "The script stops at line 1 of s.txt: load /nonexistent/p.s19\n", 0},
        {"a write the session refuses", "mm E000 1\nmm B600 2\n", Exit::TargetError,
         "The script stops at line 1 of s.txt: mm E000 1\n", 0},
        {"quit ends it early, well", "mm B600 3\nquit\nbogus\n", Exit::Success, "", 3},
        {"a session that ends", "mm B600 4\nmd B600\nmm B600 5\n", Exit::NoAnswer,
         "The script stops at line 2 of s.txt: md B600\n", 4, 1},
    };
    for (const ScriptCase& c : cases) {
        SCOPED_TRACE(c.name);
        MonitorStandIn m;
        m.writesBeforeDeath = c.writesBeforeDeath;
        Streams s;
        MonitorConsole console(s.out, s.err);
        ops::monitor::Interpreter interpreter(m, console.io({}));
        std::istringstream in(c.script);
        EXPECT_EQ(runMonitorScript(interpreter, console, in, "s.txt"), c.exit);
        const std::string errors = s.errors();
        if (c.errorsEndWith.empty())
            EXPECT_EQ(errors, "");
        else
            EXPECT_TRUE(errors.ends_with(c.errorsEndWith)) << errors;
        EXPECT_EQ(m.memory[0xB600], c.memoryAtB600);
    }
}

TEST(MonitorScript, EchoesEachCommandAndStartsItsLinesAfterTheProgramsOutput) {
    MonitorStandIn m;
    m.pollsUntilStop = 2;
    m.runStopsAt = 0xB600;
    m.programSends = "ready>";
    Streams s;
    MonitorConsole console(s.out, s.err);
    ops::monitor::Interpreter interpreter(m, console.io({}));
    std::istringstream in("go\nmd B600 2\n");
    EXPECT_EQ(runMonitorScript(interpreter, console, in, "s.txt"), Exit::Success);
    EXPECT_EQ(s.output(),
              "monitor> go\nready>\nStopped at the breakpoint at $B600.\n"
              "A=00 B=00 X=0000 Y=0000 SP=01FF PC=B600 CCR=D0 SX.I....\n"
              " B600  00              TEST\n"
              "monitor> md B600 2\nB600  00 00                                            ..\n");
}

TEST(MonitorScript, CtrlCDuringGoStopsTheProgramAndEndsTheScript) {
    MonitorStandIn m;
    Streams s;
    MonitorConsole console(s.out, s.err);
    ops::monitor::Interpreter interpreter(m, console.io([&m] {
        if (m.polls >= 2)
            noteInterruption(SIGINT);
        return interruption() != 0;
    }));
    std::istringstream in("go\nmm B600 1\n");
    EXPECT_EQ(runMonitorScript(interpreter, console, in, "s.txt"), Exit::Interrupted);
    noteInterruption(0);
    EXPECT_FALSE(m.isRunning);
    EXPECT_EQ(m.memory[0xB600], 0);
    EXPECT_EQ(s.errors(), "Interrupted at line 1 of s.txt.\n");
}

// Ctrl-C during a session is the session's to act on: the link's waits neither end early nor
// throw while it holds them, and do again once it lets go.
TEST(MonitorScript, HeldWaitsRunToTheirEndThroughASignal) {
    VirtualClock clock;
    InterruptibleClock waits(clock);
    noteInterruption(SIGINT);
    waits.hold(true);
    const TimePoint start = clock.now();
    EXPECT_FALSE(waits.waitUntil([] { return false; }, 30ms));
    EXPECT_EQ(clock.now() - start, 30ms);
    waits.sleepFor(10ms);
    waits.hold(false);
    EXPECT_THROW(waits.sleepFor(10ms), Interrupted);
    noteInterruption(0);
}

TEST(MonitorScript, FilesAreCheckedBeforeTheSession) {
    testing::ScratchDir dir;
    const auto script = dir.write("s.txt", "rd\n");
    const auto notElf = dir.write("p.elf", "S107B6000102030438\r\n");
    Step step;
    step.script = script;
    MonitorInputs good = readMonitorInputs(step, true);
    EXPECT_EQ(good.error, "");
    ASSERT_TRUE(good.script);
    EXPECT_EQ(good.scriptName, script.string());
    step.symbols = notElf;
    // The reason too, which says what the file should have been.
    EXPECT_EQ(readMonitorInputs(step, true).error,
              "The file " + notElf.string() +
                  " gives no symbols. It is no ELF file: symbols come from the program's linked "
                  "ELF file.");
    step.symbols.clear();
    step.script = dir.path / "missing.txt";
    EXPECT_NE(readMonitorInputs(step, true).error.find("missing.txt"), std::string::npos);
    // Without --script: the prompt on a terminal, the standard input elsewhere.
    step.script.clear();
    EXPECT_FALSE(readMonitorInputs(step, true).script);
    EXPECT_EQ(readMonitorInputs(step, false).scriptName, "the standard input");
}

}  // namespace
}  // namespace kestro::cli
