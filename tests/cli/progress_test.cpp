// What a user sees of a transfer, in virtual time: the operation's percentages become bytes,
// a rate and the time left, as a bar on a terminal and as at most ten lines elsewhere.
#include <gtest/gtest.h>

#include <cstdio>

#include "command_ui.h"
#include "console.h"
#include "progress.h"
#include "virtual_clock.h"

namespace kestro::cli {
namespace {

struct Recorder final : Reporter {
    void line(Channel c, const std::string& text) override { lines.emplace_back(c, text); }
    void progress(const std::optional<Transfer>& t) override { transfers.push_back(t); }
    void record(const RunRecord& r) override { records.push_back(r); }
    std::vector<std::pair<Channel, std::string>> lines;
    std::vector<std::optional<Transfer>> transfers;
    std::vector<RunRecord> records;
};

// Captures what a Console writes to its two streams.
struct Streams {
    ~Streams() {
        std::fclose(out);
        std::fclose(err);
    }
    static std::string written(std::FILE* f) {
        std::fflush(f);
        std::string text(static_cast<std::size_t>(std::ftell(f)), '\0');
        std::rewind(f);
        text.resize(std::fread(text.data(), 1, text.size(), f));
        return text;
    }
    std::string stdout_() { return written(out); }
    std::string stderr_() { return written(err); }
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
};

TEST(Progress, PercentagesBecomeBytesRateAndTimeLeft) {
    VirtualClock clock;
    Recorder reporter;
    CommandUi ui(reporter, clock, "f.s19", 2400);
    clock.advance(5s);  // what went before the transfer does not count
    ui.setProgress(1);
    clock.advance(10s);
    ui.setProgress(50);
    ui.setProgress(std::nullopt);
    ASSERT_EQ(reporter.transfers.size(), 3u);
    const Transfer half = *reporter.transfers[1];
    EXPECT_EQ(half.done, 1200);
    EXPECT_EQ(half.total, 2400);
    EXPECT_DOUBLE_EQ(half.seconds, 10.0);
    EXPECT_FALSE(reporter.transfers[2]);
    EXPECT_EQ(progressLine(half), "50% 1200/2400 B, 120 B/s, 0:10 left");
    EXPECT_EQ(progressBar(half, 10), "[#####     ]  50%  1200/2400 B  120 B/s, 0:10 left");
    // Nothing sent yet: no rate to tell.
    EXPECT_EQ(progressLine(Transfer{.done = 0, .total = 2400, .seconds = 0, .percent = 0}),
              "0% 0/2400 B");
    EXPECT_EQ(ui.chooseFile(), "f.s19");
}

TEST(Progress, PlainOutputGetsATenthAtATimeAndEachPortItsName) {
    Streams s;
    Console console({.quiet = false, .json = false, .terminal = false}, s.out, s.err,
                    {"board a", "board b"});
    for (int p = 1; p <= 99; ++p)
        console.progress(0, Transfer{.done = p, .total = 100, .seconds = 1, .percent = p});
    console.progress(0, std::nullopt);
    console.line(1, Channel::Verdict, "Error found at\nB605");
    console.line(1, Channel::Info, "Reset the HC11");
    const std::string err = s.stderr_();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 11);  // 0-9 tenths, and the prompt
    EXPECT_NE(err.find("board a: 90% 90/100 B"), std::string::npos);
    EXPECT_EQ(s.stdout_(), "board b: Error found at\nboard b: B605\n");
}

TEST(Progress, ATerminalRedrawsOneBarPerPortBelowTheLines) {
    Streams s;
    Console console({.quiet = false, .json = false, .terminal = true}, s.out, s.err, {"a", "b"});
    console.progress(0, Transfer{.done = 10, .total = 100, .seconds = 1, .percent = 10});
    console.progress(1, Transfer{.done = 20, .total = 100, .seconds = 1, .percent = 20});
    console.line(0, Channel::Error, "lost");
    const std::string err = s.stderr_();
    // The second update clears the first bar; the line clears both, then both come back.
    EXPECT_NE(err.find("\r\033[1A\033[J"), std::string::npos);
    EXPECT_NE(err.find("\r\033[2A\033[Ja: lost\na: ["), std::string::npos);
    EXPECT_NE(err.rfind("b: [####"), std::string::npos);
}

TEST(Progress, QuietLeavesErrorsAndJsonLeavesStandardOutputToRecords) {
    Streams s;
    Console console({.quiet = true, .json = true, .terminal = false}, s.out, s.err, {"a"});
    console.progress(0, Transfer{.done = 10, .total = 100, .seconds = 1, .percent = 10});
    console.line(0, Channel::Verdict, "Eeprom is program");
    console.line(0, Channel::Error, "The talker download was not echoed by the HC11.");
    console.record(0, RunRecord{.operation = "program",
                                .port = "a",
                                .verdict = "Say \"x\"",
                                .exit = Exit::NotEchoed,
                                .bytes = 42,
                                .seconds = 1.5});
    EXPECT_EQ(s.stderr_(), "The talker download was not echoed by the HC11.\n");
    const std::string out = s.stdout_();
    RunRecord back;
    ASSERT_TRUE(parseRecord(out.substr(0, out.size() - 1), back));
    EXPECT_EQ(back.verdict, "Say \"x\"");
    EXPECT_EQ(back.exit, Exit::NotEchoed);
    EXPECT_EQ(back.bytes, 42);
}

TEST(Progress, AWorkersEventsReachTheConsoleAsTheyLeftIt) {
    Streams s;
    WorkerReporter worker(s.out);
    worker.line(Channel::Verdict, "File equal Eeprom");
    worker.progress(Transfer{.done = 5, .total = 10, .seconds = 2, .percent = 50});
    worker.progress(std::nullopt);
    worker.record(
        RunRecord{.operation = "compare", .port = "board x", .verdict = "", .exit = Exit::Found});
    const std::string out = s.stdout_();
    Recorder replayed;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1)
        EXPECT_TRUE(replayWorkerLine(out.substr(start, end - start), replayed));
    EXPECT_FALSE(replayWorkerLine("Segmentation fault", replayed));
    ASSERT_EQ(replayed.lines.size(), 1u);
    EXPECT_EQ(replayed.lines[0], std::pair(Channel::Verdict, std::string("File equal Eeprom")));
    ASSERT_EQ(replayed.transfers.size(), 2u);
    EXPECT_EQ(replayed.transfers[0]->done, 5);
    EXPECT_FALSE(replayed.transfers[1]);
    ASSERT_EQ(replayed.records.size(), 1u);
    EXPECT_EQ(replayed.records[0].exit, Exit::Found);
}

}  // namespace
}  // namespace kestro::cli
