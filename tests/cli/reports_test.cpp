// SPDX-License-Identifier: GPL-3.0-or-later
// What a user and a script learn from a run, in virtual time: a transfer as bytes, a rate and
// the time left, on a terminal and elsewhere; the exit codes the real operations' boxes give
// when the talkers run on the virtual board; and such an operation ended by a signal.
#include <gtest/gtest.h>
#include <QJsonDocument>
#include <QJsonObject>

#include <signal.h>

#include "captured_streams.h"
#include "command_ui.h"
#include "console.h"
#include "interruption.h"
#include "kestro/sim/board/board.h"
#include "operations.h"
#include "progress.h"
#include "recording_reporter.h"
#include "scratch.h"
#include "srecords.h"
#include "streamer.h"
#include "virtual_clock.h"
#include "virtual_port.h"

namespace kestro::cli {
namespace {

namespace fs = std::filesystem;

using Recorder = testing::RecordingReporter;
using Streams = testing::CapturedStreams;

// What the console makes of a worker's output, line by line.
Recorder replayed(const std::string& out) {
    Recorder r;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_TRUE(replayWorkerLine(out.substr(start, end - start), r));
    return r;
}

Transfer percent(int p) {
    return {.done = p, .total = 100, .seconds = 1, .percent = p};
}

TEST(Progress, PercentagesBecomeBytesRateAndTimeLeft) {
    VirtualClock clock;
    Recorder reporter;
    CommandUi ui(reporter, clock, "f.s19", 2400);
    clock.advance(5s);  // what went before the transfer does not count
    ui.setProgress(1);
    clock.advance(1s);
    ui.setProgress(10);
    clock.advance(8s);
    ui.setProgress(50);
    ui.setProgress(std::nullopt);
    ASSERT_EQ(reporter.transfers.size(), 4u);
    const Transfer half = *reporter.transfers[2];
    EXPECT_FALSE(reporter.transfers[3]);
    EXPECT_EQ(progressLine(half), "50% 1200/2400 B, 120 B/s, 0:10 left");
    EXPECT_EQ(progressBar(half, 10), "[#####     ]  50%  1200/2400 B  120 B/s, 0:10 left");
    // Nothing carried yet, or one step alone: no rate to tell.
    EXPECT_EQ(progressLine(*reporter.transfers[0]), "1% 24/2400 B");
    EXPECT_EQ(progressLine(*reporter.transfers[1]), "10% 240/2400 B");
}

// The streamer's bar starts at 1 % before a byte has gone, and moves in whole percents: the
// rate shown is the line's all the same, from the first report to the last.
TEST(Progress, TheRateIsTheLinesFromTheFirstReportOn) {
    for (const std::int64_t length : {300, 21'600}) {
        VirtualClock clock;
        Recorder reporter;
        CommandUi ui(reporter, clock, "f.s19", length);
        // 1200 baud carries 120 bytes a second; the streamer looks every 100 ms.
        ui.setProgress(1);
        for (std::int64_t carried = 0; carried <= length;) {
            clock.advance(100ms);
            carried = std::min(carried + 12, length + 1);
            ui.setProgress(streamProgress(carried, 0, length));
        }
        int rates = 0;
        for (const auto& t : reporter.transfers) {
            if (t->rate == 0)
                continue;
            ++rates;
            EXPECT_NEAR(t->rate, 120, 120 * 0.1) << length << " B at " << t->seconds << " s";
        }
        EXPECT_GT(rates, reporter.transfers.size() / 2) << length;
    }
}

TEST(Progress, PlainOutputGetsATenthAtATime) {
    Streams s;
    Console console({.quiet = false, .json = false, .terminal = false}, s.out, s.err, {"a", "b"});
    for (int p = 1; p <= 99; ++p)
        console.progress(0, percent(p));
    console.progress(0, std::nullopt);
    console.progress(0, percent(5));  // the next transfer starts its tenths anew
    const std::string err = s.errors();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 11);
    EXPECT_NE(err.find("a: 90% 90/100 B"), std::string::npos);
}

TEST(Progress, ATerminalRedrawsOneBarPerPortBelowTheLines) {
    Streams s;
    Console console({.quiet = false, .json = false, .terminal = true}, s.out, s.err, {"a", "b"});
    console.progress(0, percent(10));
    console.progress(1, percent(20));
    console.line(0, Channel::Error, "lost");
    const std::string err = s.errors();
    // The second update clears the first bar; the line clears both, then both come back.
    EXPECT_NE(err.find("\r\033[1A\033[J"), std::string::npos);
    EXPECT_NE(err.find("\r\033[2A\033[Ja: lost\na: ["), std::string::npos);
    EXPECT_NE(err.rfind("b: [####"), std::string::npos);
}

TEST(Progress, QuietLeavesOnlyErrors) {
    Streams s;
    Console console({.quiet = true, .json = false, .terminal = true}, s.out, s.err, {"a"});
    console.progress(0, percent(10));
    console.line(0, Channel::Verdict, "Eeprom is program");
    console.line(0, Channel::Info, "Reset the HC11");
    console.line(0, Channel::Error, "The talker download was not echoed by the HC11.");
    EXPECT_EQ(s.errors(), "The talker download was not echoed by the HC11.\n");
    EXPECT_EQ(s.output(), "");
}

TEST(Progress, AWorkersLinesAndTransfersReachTheConsoleAsTheyLeftIt) {
    Streams s;
    WorkerReporter worker(s.out);
    worker.line(Channel::Verdict, "File equal Eeprom");
    worker.line(Channel::Info, "Reset the HC11");
    worker.progress(Transfer{.done = 5, .total = 10, .seconds = 2, .percent = 50, .rate = 2.5});
    worker.progress(std::nullopt);
    Recorder replay = replayed(s.output());
    EXPECT_FALSE(replayWorkerLine("Segmentation fault", replay));
    EXPECT_EQ(replay.lines,
              (std::vector<std::pair<Channel, std::string>>{{Channel::Verdict, "File equal Eeprom"},
                                                            {Channel::Info, "Reset the HC11"}}));
    ASSERT_EQ(replay.transfers.size(), 2u);
    EXPECT_EQ(replay.transfers[0]->done, 5);
    EXPECT_EQ(replay.transfers[0]->rate, 2.5);
    EXPECT_FALSE(replay.transfers[1]);
}

// The rate a fast job agreed on ends its progress line. It goes into the JSON record with
// identify's findings and a refusal's reason, JSON whatever bytes the user's file put in that
// (a quote, a line end, a control character, bytes that are no UTF-8), and all come through a
// worker as they left; a record without them keeps the fields it always had.
TEST(Progress, ALineRateFindingsAndAReasonAreShownAndRecordedAsValidJson) {
    VirtualClock clock;
    Recorder reporter;
    CommandUi ui(reporter, clock, "f.s19", 2400);
    ui.setLineRate(125'000);
    ui.setProgress(50);
    EXPECT_EQ(progressLine(*reporter.transfers.at(0)), "50% 1200/2400 B, 125000 baud");
    const std::string plain =
        recordJson({.operation = "dump", .port = "", .verdict = "", .exit = Exit::Success});
    for (const char* field : {"baud", "identity", "detail"})
        EXPECT_EQ(plain.find(field), std::string::npos) << field;
    const RunRecord full{.operation = "program",
                         .port = "",
                         .verdict = "The file a\"b.s19 is not an S-record file for the HC11.",
                         .exit = Exit::FileError,
                         .baud = 62'500,
                         .identity = R"({"part":"MC68HC11E9"})",
                         .detail = "Line 2: not \"S1\"\r\n\x01\x1B[2J\xFF\xC3."};
    QJsonParseError error;
    const QJsonObject o =
        QJsonDocument::fromJson(QByteArray::fromStdString(recordJson(full)), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << recordJson(full);
    EXPECT_EQ(o.value("baud").toInt(), 62'500);
    EXPECT_EQ(o.value("identity").toObject().value("part").toString(), "MC68HC11E9");
    EXPECT_TRUE(o.value("detail").toString().startsWith("Line 2: not \"S1\"\r\n\x01\x1B[2J"));
    EXPECT_EQ(o.value("verdict").toString().toStdString(), full.verdict);
    Streams s;
    WorkerReporter worker(s.out);
    worker.progress(*reporter.transfers[0]);
    worker.record(full);
    const Recorder replay = replayed(s.output());
    ASSERT_EQ(replay.transfers.size() + replay.records.size(), 2u);
    EXPECT_EQ(replay.transfers.at(0)->baud, 125'000);
    EXPECT_EQ(replay.records.at(0).baud, 62'500);
    EXPECT_EQ(replay.records.at(0).identity, full.identity);
    EXPECT_EQ(replay.records.at(0).detail, o.value("detail").toString().toStdString());
}

struct Bench {
    explicit Bench(bool withBoard = true) {
        port.attach(1, line);
        if (withBoard)
            board.emplace(clock, line, sim::BoardOptions{sim::Chip::E9});
        port.setListener(&link);
        port.setCommPort(1);
        port.open();
    }
    // Runs the operation behind button after a reset; the exit code its boxes give.
    std::optional<Exit> run(std::string_view button, const fs::path& file = {},
                            const ops::Inputs& in = {}, fs::path talkers = KESTRO_TALKER_DIR) {
        if (board)
            board->resetBootstrap();
        else
            link.portBreak();
        clock.advance(100ms);
        reporter = {};
        CommandUi ui(reporter, clock, file, 0);
        Target target{link, ui, std::move(talkers)};
        ops::operationFor(button)(target, in);
        return ui.exit();
    }

    VirtualClock clock;
    InterruptibleClock waits{clock};
    VirtualLine line{clock};
    VirtualPort port{clock};
    LinkState link{port, waits, clock};
    std::optional<sim::Board> board;
    Recorder reporter;
};

// The dump's bar counts the bytes of the range as their records come, at the line's rate: at
// 1200 baud, 16 bytes in 42 characters of 10 bits.
TEST(Progress, TheDumpCountsTheBytesOfTheRange) {
    const testing::ScratchDir scratch;
    Bench bench;
    ops::Inputs in;
    in.dumpFolder = scratch.path;
    in.dumpBegin = "B600";
    in.dumpEnd = "B6FF";
    ASSERT_FALSE(bench.run("DumpStart", {}, in));  // a dump that worked shows no box
    const auto& reporter = bench.reporter;
    std::vector<std::int64_t> amounts;
    for (const auto& t : reporter.transfers) {
        if (!t) {
            amounts.push_back(-1);
            continue;
        }
        amounts.push_back(t->done);
        EXPECT_EQ(t->total, 256);
        if (t->rate != 0) {
            EXPECT_NEAR(t->rate, 120.0 * 16 / 42, 1) << t->done;
        }
    }
    std::vector<std::int64_t> expected;
    for (std::int64_t done = 0; done <= 256; done += 16)
        expected.push_back(done);
    expected.push_back(-1);
    EXPECT_EQ(amounts, expected);
    EXPECT_EQ(reporter.transfers[15]->percent, 93);
    EXPECT_NE(reporter.transfers[15]->rate, 0);
}

// The talkers' replies give their exit codes in the runs of kestro-cli as a process; these are
// the verdicts those runs never meet: their board always answers, and they check the files
// before they start.
TEST(Verdicts, ThoseOfTheLinkTheFilesAndTheInstallation) {
    const testing::ScratchDir scratch;
    Bench bench;
    // A file that is no longer one of S-records when the operation reads it.
    EXPECT_EQ(bench.run("EepromCompare", scratch.write("binary.s19", "\177ELF\001\002")),
              Exit::FileError);
    EXPECT_EQ(bench.run("EepromErase", {}, {}, "/nonexistent"), Exit::FileError);
    // The adapter pulled in the middle of the talker download (before it, the port's loss
    // takes the readiness with it, and the run asks for a reset).
    bench.clock.schedule(bench.clock.now() + 1s, [&] { bench.port.pull(); });
    EXPECT_EQ(bench.run("TestComm"), Exit::PortError);
    EXPECT_EQ(Bench(false).run("TestComm"), Exit::NotEchoed);
    // The line to the HC11 dies once the talker is in: the job's end is never confirmed, and
    // silence is no success.
    const std::pair<const char*, std::string> silenced[] = {
        {"EepromProgram",
         "Error in Eeprom: the HC11 did not confirm the end of the job; the memory may be partly "
         "programmed"},
        {"ConfigProgram",
         "The HC11 did not confirm the end of the job; the memory may be partly programmed."},
    };
    for (const auto& [button, said] : silenced) {
        Bench dies;
        dies.clock.schedule(dies.clock.now() + 2500ms,
                            [&dies] { dies.line.toTarget.setReceiver(0, {}); });
        EXPECT_EQ(dies.run(button, scratch.write("fw.s19", "S107B6000102030438\r\nS9030000FC\r\n")),
                  Exit::NoAnswer)
            << button;
        ASSERT_FALSE(dies.reporter.lines.empty());
        EXPECT_EQ(dies.reporter.lines[0], std::pair(Channel::Error, said));
    }
}

// A signal during a program on the virtual board: the operation stops at its next wait and
// says nothing of its own (no box, which would read as the program's verdict).
TEST(Interruption, EndsTheOperationAtItsNextWaitWithoutABox) {
    const testing::ScratchDir scratch;
    Bench bench;
    // While the file goes (the talker alone takes about 2.2 s at 1200 baud).
    bench.clock.schedule(bench.clock.now() + 4100ms, [] { noteInterruption(SIGTERM); });
    std::optional<int> signal;
    try {
        bench.run("EepromProgram",
                  scratch.write("fw.s19", testing::srecords(0xB600, Bytes(512, 0x5A))));
    } catch (const Interrupted& i) {
        signal = i.signal;
    }
    noteInterruption(0);
    EXPECT_EQ(signal, SIGTERM);
    EXPECT_LE(bench.clock.now(), 4s + 100ms);
    EXPECT_TRUE(bench.reporter.lines.empty());
    EXPECT_EQ(exitForSignal(SIGINT), Exit::Interrupted);
    EXPECT_EQ(exitForSignal(SIGHUP), Exit::Terminated);
}

}  // namespace
}  // namespace kestro::cli
