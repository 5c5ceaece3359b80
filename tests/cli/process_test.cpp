// SPDX-License-Identifier: GPL-3.0-or-later
// The built kestro-cli as a user runs it, in real time: against named virtual boards, against
// kestro-board's pseudo-terminal, and on a pseudo-terminal where nothing answers. Each test has
// a home folder of its own, so the boards' saved memories and the settings are its own.
// Files and ranges are small: the talker download alone takes 2.2 s at 1200 baud.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "scratch.h"
#include "srecords.h"

namespace {

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
    double seconds = 0;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// What one run gives: its exit code, all of its standard output, and parts of its standard
// error (none: nothing there).
struct Run {
    std::vector<std::string> args;
    int exit;
    std::string out;
    std::vector<std::string> err;
};

struct Home : kestro::testing::ScratchDir {
    Home() {
        // Four bytes at $B600, the same address with bit 0 of the last byte set, and a
        // program for external RAM.
        write("fw.s19", "S107B6000102030438\r\nS9030000FC\r\n");
        write("other.s19", "S107B6000102030537\r\nS9030000FC\r\n");
        write("ram.s19", "S10720007E2000003A\r\nS9030000FC\r\n");
        write("eprom.s19", "S107D000A55A0F0F0B\r\nS9030000FC\r\n");
        // Both of the 711E20's EPROM ranges, the lower one to its last byte.
        write("e20.s19",
              "S1079000A55A0F0F4B\r\nS107AFFC0102030443\r\nS107D000A55A0F0F0B\r\nS9030000FC\r\n");
    }

    // Starts a program in this home.
    void start(QProcess& p, const char* program, const std::vector<std::string>& args) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString h = QString::fromStdString(path.string());
        env.insert("HOME", h);
        env.insert("XDG_CONFIG_HOME", h + "/.config");
        env.insert("XDG_DATA_HOME", h + "/.local/share");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(h);
        QStringList list;
        for (const std::string& a : args)
            list << QString::fromStdString(a);
        p.start(program, list);
    }

    Result run(const std::vector<std::string>& args) const {
        QProcess p;
        QElapsedTimer timer;
        timer.start();
        start(p, KESTRO_CLI, args);
        // Far above what any of these runs takes on a busy machine.
        EXPECT_TRUE(p.waitForFinished(300'000));
        return {.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                .out = p.readAllStandardOutput().toStdString(),
                .err = p.readAllStandardError().toStdString(),
                .seconds = static_cast<double>(timer.elapsed()) / 1000};
    }

    void expect(const std::vector<Run>& runs) const {
        for (const Run& expected : runs) {
            SCOPED_TRACE(::testing::PrintToString(expected.args));
            const Result r = run(expected.args);
            EXPECT_EQ(r.exit, expected.exit) << r.err;
            EXPECT_EQ(r.out, expected.out);
            if (expected.err.empty()) {
                EXPECT_EQ(r.err, "");
            }
            for (const std::string& part : expected.err)
                EXPECT_TRUE(contains(r.err, part)) << r.err;
        }
    }
};

// The --json records of a run without their times, which add up in busy.
std::set<std::string> records(const std::string& out, double* busy = nullptr) {
    std::set<std::string> set;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        const double seconds = o.take("seconds").toDouble();
        if (busy)
            *busy += seconds;
        set.insert(QJsonDocument(o).toJson(QJsonDocument::Compact).toStdString());
    }
    return set;
}

// The dump of what was programmed is the test of inputs read once, its default place the EPROMs'.
TEST(KestroCli, ANewUserProgramsComparesAndChecksTheEepromInChains) {
    Home home;
    // Progress comes as plain lines when standard error is not a terminal.
    // clang-format off
    home.expect({
        {{"--board", "u", "program", "fw.s19", "compare", "fw.s19"}, 0,
         "Eeprom is program\nFile equal Eeprom\n", {"/4 B"}},
        // The file stops where the talker answered.
        {{"--board", "u", "compare", "other.s19"}, 1, "Error found at\nB603\n", {"/4 B"}},
        {{"--board", "u", "status", "--range", "B600-B6FF", "--quiet"}, 1, "", {}},
        // A chain stops at its first failure.
        {{"--board", "c", "erase", "program", "fw.s19", "program", "other.s19", "test"}, 2,
         "Eeprom Erase\nEeprom is program\nError in Eeprom: $B603 did not read back as the "
         "file has it: it is outside the EEPROM the part has at the CONFIG it has ($B600-$B7FF on "
         "the A and E series, $x800-$xFFF on the 811E2 and $xE00-$xFFF on the F1 with x from "
         "CONFIG bits 7-4, none while EEON is clear), or within it a bit needs a 1 over a 0 "
         "(erase first)\n",
         {"/4 B"}},
    });
    // clang-format on
}

TEST(KestroCli, TheCommandsWithoutABoxAndTheEpromsOfA711E9AndA711E20) {
    Home home;
    // clang-format off
    home.expect({
        {{"--board", "n", "sdp-off", "xicor-reset", "sfr", "--sfr", "1000", "eem", "--map", "E000",
          "bpr", "--protect", "none", "config", "--bits", "EEON,NOSEC", "ram", "ram.s19", "--start",
          "2000"}, 0,
         "SDP off sent\nXicor reset sent\nSFR $81 sent\nEEM $07 sent\nBPR $00 sent\n"
         "CONFIG $F9 sent; it takes effect at the next reset\nCONFIG reads $09 after the reset\n"
         "Program sent, to start at 2000\n",
         {"% 3/4 B"}},
        {{"--board", "e", "--chip", "711E9", "--vpp", "status", "--memory", "eprom", "--range",
          "D000-D0FF", "program", "eprom.s19", "--memory", "eprom", "compare", "eprom.s19",
          "--memory", "eprom"}, 0,
         "No Data\nEprom is program\nFile equal Eprom\n", {"/4 B"}},
        {{"--board", "t", "--chip", "711E20", "--vpp", "program", "e20.s19", "--memory", "eprom",
          "compare", "e20.s19", "--memory", "eprom", "dump", "--range", "9000-90FF"}, 0,
         "Eprom is program\nFile equal Eprom\nDump written to " +
             (home.path / "upload.s19").string() + "\n", {"/12 B"}},
    });
    // clang-format on
    const std::string dump = kestro::testing::slurp(home.path / "upload.s19");
    EXPECT_EQ(dump.substr(dump.find('\n') + 1, 44),
              "S1139000A55A0F0FFFFFFFFFFFFFFFFFFFFFFFFF4B\r\n");
}

// A named board at another crystal, and kestro-cli told its crystal: the same verdicts, and a
// dump equal byte for byte to the one at 8 MHz, on either path. A row a path: what every job
// gives at every crystal is for the window's and the board's own tests to show.
TEST(KestroCli, AtAnotherCrystalTheVerdictsAndDumpOf8MHz) {
    const std::pair<const char*, bool> rows[] = {{"8", true}, {"4.9152", true}, {"7.3728", false}};
    Home home;
    std::string at8MHz;
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        const auto [crystal, fast] = rows[i];
        SCOPED_TRACE(std::string(crystal) + (fast ? " fast" : ""));
        home.write("upload.s19", "");
        std::vector<std::string> args = {"-q",        "--board", "x" + std::to_string(i),
                                         "--crystal", crystal,   "program",
                                         "fw.s19",    "compare", "fw.s19",
                                         "dump",      "--range", "B600-B6FF"};
        if (fast)
            args.push_back("--fast");
        const Result r = home.run(args);
        EXPECT_EQ(r.exit, 0) << r.err;
        const std::string dump = kestro::testing::slurp(home.path / "upload.s19");
        ASSERT_FALSE(dump.empty());
        if (i == 0)
            at8MHz = dump;
        else
            EXPECT_EQ(dump, at8MHz);
    }
}

TEST(KestroCli, ThreeBoardsAtOnceWithOneFailing) {
    Home home;
    ASSERT_EQ(home.run({"--board", "x", "--board", "z", "program", "fw.s19"}).exit, 0);
    // y was never programmed.
    const Result r =
        home.run({"--board", "x", "--board", "y", "--board", "z", "--json", "compare", "fw.s19"});
    EXPECT_EQ(r.exit, 1) << r.err;
    double busy = 0;
    EXPECT_EQ(
        records(r.out, &busy),
        (std::set<std::string>{
            R"({"bytes":4,"exit":0,"operation":"compare","port":"board x","verdict":"File equal Eeprom"})",
            R"({"bytes":4,"exit":1,"operation":"compare","port":"board y","verdict":"Error found at\nB600"})",
            R"({"bytes":4,"exit":0,"operation":"compare","port":"board z","verdict":"File equal Eeprom"})"}));
    // The boards ran side by side: their times add up to more than the wall time, which one
    // after the other they could not (how much more depends on the machine's load).
    EXPECT_GT(busy, r.seconds);
    // The summary table, on standard error as standard output holds the records.
    EXPECT_TRUE(contains(r.err, "board y  1")) << r.err;
    EXPECT_TRUE(contains(r.err, "board y: Error found at\nboard y: B600")) << r.err;
}

// Every file of a job is read once, before the first reset: a process substitution and a named
// pipe work in a chain and with several boards.
TEST(KestroCli, InputsAreReadOnceWhateverKindTheyAre) {
    Home home;
    QProcess shell;
    // "-": the standard input as a file, the standard output as -o, where the dump's verdict
    // does not join its records.
    home.start(shell, "/bin/bash",
               {"-c", std::string(KESTRO_CLI) +
                          " --board s program <(cat fw.s19) compare - dump --range B600-B6FF -o -"
                          " <fw.s19 2>err.txt"});
    ASSERT_TRUE(shell.waitForFinished(300'000));
    EXPECT_EQ(shell.exitCode(), 0);
    const std::string out = shell.readAllStandardOutput().toStdString();
    EXPECT_TRUE(out.starts_with("Eeprom is program\nFile equal Eeprom\nS0")) << out;
    EXPECT_TRUE(contains(out, "\nS113B60001020304FFFFFFFFFFFFFFFFFFFFFFFF38\r\n")) << out;
    EXPECT_TRUE(contains(kestro::testing::slurp(home.path / "err.txt"),
                         "Dump written to the standard output\n"));

    const std::filesystem::path fifo = home.path / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--board", "f", "program", "fifo", "compare", "fifo"},
          std::vector<std::string>{"--board", "f", "--board", "g", "--json", "program", "fifo"}}) {
        SCOPED_TRACE(args.size());
        std::thread writer(
            [&] { std::ofstream(fifo) << kestro::testing::slurp(home.path / "fw.s19"); });
        const Result r = home.run(args);
        writer.join();
        EXPECT_EQ(r.exit, 0) << r.err;
    }
}

#ifdef KESTRO_BOARD
// kestro-cli on the pseudo-terminal of a kestro-board started with boardArgs, whose user resets
// it at kestro-cli's prompts, up to `resets` of them; `meanwhile` sees standard error as it
// comes, beside the board.
Result onBoardOfItsOwn(const Home& home, const std::vector<std::string>& boardArgs,
                       const std::vector<std::string>& cliArgs,
                       std::size_t resets = std::string::npos, const char* resetTimeout = "20",
                       const std::function<void(const std::string&, QProcess&)>& meanwhile = {}) {
    QProcess board;
    home.start(board, KESTRO_BOARD, boardArgs);
    if (!board.waitForReadyRead(10'000)) {
        Result failed;
        failed.err = board.readAllStandardError().toStdString();
        return failed;
    }
    std::vector<std::string> args{"--port", board.readLine().trimmed().toStdString(),
                                  "--reset-timeout", resetTimeout};
    args.insert(args.end(), cliArgs.begin(), cliArgs.end());
    QProcess cli;
    home.start(cli, KESTRO_CLI, args);
    std::string err;
    std::size_t made = 0;
    while (cli.state() != QProcess::NotRunning && !cli.waitForFinished(50)) {
        err += cli.readAllStandardError().toStdString();
        std::size_t prompts = 0;
        for (std::size_t at = 0; (at = err.find("Reset the HC11", at)) != std::string::npos; ++at)
            ++prompts;
        for (; made < std::min(prompts, resets); ++made)
            ::kill(static_cast<pid_t>(board.processId()), SIGUSR1);
        if (meanwhile)
            meanwhile(err, board);
    }
    Result r{.exit = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
             .out = cli.readAllStandardOutput().toStdString(),
             .err = err + cli.readAllStandardError().toStdString()};
    board.terminate();
    board.waitForFinished(10'000);
    return r;
}

// kestro-board as a poor adapter or cable, or run from another crystal than kestro-cli is told,
// and what kestro-cli makes of each: a job that can be done is done, on the fast path at a rate
// the line carries, and one that cannot is told within seconds, never taken for a verdict.
TEST(KestroCli, OnAPoorLineOrAtAnotherCrystalEveryJobEndsWithTheTruth) {
    struct Case {
        std::vector<std::string> board;
        std::vector<std::string> cli;
        std::set<int> exits;
        std::string out;  // a part of standard output
        std::string err;  // a part of standard error
    };
    const std::vector<std::string> dump = {"--fast", "dump", "--range", "B600-B7FF"};
    const std::string atEight = "crystal may not be the 8 MHz Kestro is set for";
    const Case cases[] = {
        // A divider a little slow, which the boot loader's echo keeps up with (a chain, and the
        // part as kestro-cli names it), and one a little fast, which it cannot: the loader has
        // no time to spare.
        {{"--rate-error", "-2", "--chip", "a8"},
         {"test", "program", "fw.s19", "compare", "fw.s19"},
         {0},
         "Communication is OK\nEeprom is program\nFile equal Eeprom\n",
         ""},
        {{"--rate-error", "1"}, {"test"}, {4}, "", "The talker download was not echoed"},
        // Rates the adapter cannot make, or makes too far off: the fast path agrees a lower one.
        {{"--refuse-rates", "125000,62500"},
         {"--fast", "--json", "status"},
         {0},
         "\"baud\":31250",
         ""},
        {{"--round-rates", "125000:115200"},
         {"--fast", "--json", "status"},
         {0},
         "\"baud\":62500",
         ""},
        // An adapter that makes 8200 of 7812 damages the fast download: it goes again after
        // a new reset, at 1200.
        {{"--round-rates", "7812:8200"},
         dump,
         {0},
         "Dump written to",
         "retries the talker download at 1200 baud"},
        // A damaged block now and then is sent again at the same rate.
        {{"--flip-every", "700"}, dump, {0}, "Dump written to", "125000 baud"},
        // A cable that dies, after so many bytes or at a time (in the download, or before the
        // reset when the machine is slow).
        {{"--silent-after", "700"}, dump, {3}, "", "The HC11 stopped answering."},
        {{"--silent-at", "1"}, {"test"}, {3, 4}, "", ""},
        // Another crystal: its name and how to set it. A board faster than the PC is told is
        // the window's test, in virtual time; the fast download at the boot loader's rate fails
        // first, then its retry.
        {{"--crystal", "4.9152"}, {"--crystal", "8", "test"}, {4}, "", atEight},
        {{"--crystal", "12"}, {"--crystal", "8", "--fast", "status"}, {4}, "", atEight},
        {{"--crystal", "4.9152"}, {"--crystal", "4.9152", "test"}, {0}, "Communication is OK", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.board) + " " + ::testing::PrintToString(c.cli));
        Home home;
        std::vector<std::string> board{"--board", "poor"};
        board.insert(board.end(), c.board.begin(), c.board.end());
        QElapsedTimer timer;
        timer.start();
        const Result r = onBoardOfItsOwn(home, board, c.cli);
        if (!c.exits.contains(0)) {
            EXPECT_LT(timer.elapsed(), 30'000);
        }
        EXPECT_TRUE(c.exits.contains(r.exit)) << r.exit << r.err;
        EXPECT_TRUE(c.out.empty() ? r.out.empty() : contains(r.out, c.out)) << r.out;
        EXPECT_TRUE(contains(r.err, c.err)) << r.err;
    }
}

// The board gone in the middle of a program: the port is lost, and the user learns what may be
// half done.
TEST(KestroCli, APortLostMidProgramSaysWhatMayBePartlyProgrammed) {
    Home home;
    home.write("full.s19", kestro::testing::srecords(0xB600, kestro::Bytes(512, 0x5A)));
    const Result r =
        onBoardOfItsOwn(home, {"--board", "lost", "--chip", "e9"}, {"program", "full.s19"}, 1, "20",
                        [](const std::string& err, QProcess& board) {
                            if (contains(err, "20% ") && board.state() != QProcess::NotRunning) {
                                board.kill();
                                board.waitForFinished(10'000);
                            }
                        });
    EXPECT_EQ(r.exit, 6) << r.err;
    EXPECT_TRUE(contains(r.err, "failed: ")) << r.err;
    EXPECT_TRUE(contains(r.err, "\nThe EEPROM may be partly programmed.\n")) << r.err;
}

// On a real port kestro-cli asks for the reset after config and reads CONFIG then; a reset
// that never comes is said, with its own exit code. (What each part reads back: the runner's
// test.)
TEST(KestroCli, ConfigIsReadBackAtTheNextResetOrSaysThereWasNone) {
    struct Case {
        const char* part;
        std::size_t resets;
        int exit;
        const char* out;
    };
    const char* sent = "CONFIG $F9 sent; it takes effect at the next reset\n";
    const Case cases[] = {{"811E2", 2, 0, "CONFIG reads $F9 after the reset\n"}, {"E9", 1, 3, ""}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.part) + ", resets " + std::to_string(c.resets));
        Home home;
        const Result r =
            onBoardOfItsOwn(home, {"--board", "pty", "--chip", c.part},
                            {"--fast", "config", "--bits", "EEON,NOSEC"}, c.resets, "2");
        EXPECT_EQ(r.exit, c.exit) << r.err;
        EXPECT_EQ(r.out, sent + std::string(c.out));
        EXPECT_TRUE(contains(r.err, "Reset the HC11 into bootstrap mode again to read CONFIG back"))
            << r.err;
        EXPECT_EQ(contains(r.err, "No second reset seen on /dev/pts/"), c.exit != 0) << r.err;
        EXPECT_EQ(contains(r.err, ": CONFIG was sent but not read back"), c.exit != 0) << r.err;
    }
}
#endif

// identify prints the part and, with --json, the same as one record; a part named with --chip
// that the HC11 does not answer as is a warning on a port where --chip cannot change the part.
TEST(KestroCli, IdentifyTellsThePartAndWarnsOfAnotherNamed) {
    Home home;
    const Result text = home.run({"--board", "id", "--chip", "711E9", "identify"});
    EXPECT_EQ(text.exit, 0) << text.err;
    EXPECT_TRUE(contains(text.out, "Part: MC68HC711E9 (711E9)\nCONFIG: $0F\n")) << text.out;
    EXPECT_TRUE(contains(text.out, "\n  EPROM $D000-$FFFF\n")) << text.out;

    // Parts it cannot tell apart: one of each die in the verdict, the reasons after it.
    const Result a8 = home.run({"--board", "id", "--chip", "A8", "identify"});
    EXPECT_EQ(a8.exit, 0) << a8.err;
    EXPECT_TRUE(contains(a8.out,
                         "Part: cannot tell the A8 from the 811E2\n  The A0, A1 and A8 "
                         "are one die"))
        << a8.out;

    const Result json = home.run({"--board", "id", "--chip", "F1", "--json", "identify"});
    EXPECT_EQ(json.exit, 0) << json.err;
    const QJsonObject record =
        QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
    EXPECT_EQ(record.value("verdict").toString(), "Part: MC68HC11F1 (F1)");
    const QJsonObject id = record.value("identity").toObject();
    EXPECT_EQ(id.value("part").toString(), "MC68HC11F1");
    EXPECT_EQ(id.value("config").toInt(), 0xFF);
    EXPECT_EQ(id.value("ramBytes").toInt(), 1024);
    EXPECT_EQ(id.value("registerBytes").toInt(), 96);
    EXPECT_EQ(id.value("crystalHz").toDouble(), 8e6);
    const QJsonObject f1 = id.value("described").toArray().at(0).toObject();
    EXPECT_EQ(f1.value("configBits").toArray().at(0).toObject().value("meaning").toString(),
              "EEPROM at $FE00");
    EXPECT_EQ(f1.value("memoryMap").toArray().last().toObject().value("begin").toInt(), 0xFE00);
#ifdef KESTRO_BOARD
    const Result named =
        onBoardOfItsOwn(home, {"--board", "pty", "--chip", "a8"}, {"--chip", "E9", "identify"});
    EXPECT_EQ(named.exit, 0) << named.err;
    EXPECT_TRUE(contains(named.err,
                         "Warning: The part named is the E9, but the HC11 answers as "
                         "one of the A0, A1, A8 and 811E2: 256 bytes of RAM answer "
                         "where the E9 has 512."))
        << named.err;
#endif
}

// --chip auto: a job without --range takes the EEPROM of the part identify finds (the window's
// board, whose range from the settings is the A8's), and one whose parts cannot be told apart
// and would run it differently runs nothing.
TEST(KestroCli, ChipAutoTakesTheIdentifiedPartsEepromOrRunsNothing) {
    Home home;
    ASSERT_EQ(home.run({"--virtual-board", "--chip", "F1", "test"}).exit, 0);
    const Result f1 = home.run({"--virtual-board", "--chip", "auto", "--fast", "--json", "dump"});
    EXPECT_EQ(f1.exit, 0) << f1.err;
    EXPECT_TRUE(contains(f1.out, R"("bytes":512)")) << f1.out;
    EXPECT_TRUE(contains(kestro::testing::slurp(home.path / "upload.s19"), "\nS113FE00"))
        << kestro::testing::slurp(home.path / "upload.s19");

    ASSERT_EQ(home.run({"--virtual-board", "--chip", "811E2", "config", "--bits",
                        "EEON,ROMON,NOCOP,NOSEC", "--ee-block", "0800"})
                  .exit,
              0);
#ifdef KESTRO_BOARD
    // On a serial port, where nothing but identify knows the part.
    std::filesystem::remove(home.path / "upload.s19");
    const Result pty = onBoardOfItsOwn(home, {"--board", "pty", "--chip", "f1"},
                                       {"--chip", "auto", "--fast", "--json", "dump"});
    EXPECT_EQ(pty.exit, 0) << pty.err;
    EXPECT_TRUE(contains(pty.out, R"("bytes":512)")) << pty.out;
    EXPECT_TRUE(contains(kestro::testing::slurp(home.path / "upload.s19"), "\nS113FE00"));
    // The part read also sets up the talkers that differ by part: the 711E20's EPROM register.
    home.write("e20.s19", "S1139000000102030405060708090A0B0C0D0E0FE4\r\nS9030000FC\r\n");
    const Result e20 =
        onBoardOfItsOwn(home, {"--board", "e20", "--chip", "711E20", "--vpp"},
                        {"--chip", "auto", "--fast", "program", "e20.s19", "--memory", "eprom"});
    EXPECT_EQ(e20.exit, 0) << e20.err;
#endif
    const Result e2 = home.run({"--virtual-board", "--chip", "auto", "erase"});
    EXPECT_EQ(e2.exit, 7);
    EXPECT_TRUE(contains(e2.err,
                         "--chip auto: the HC11 answers as one of the A0, A1, A8 and "
                         "811E2, which this job would treat differently"))
        << e2.err;
    EXPECT_EQ(e2.out, "");
}

// Without --range, a named part's EEPROM is where that part has it, also once CONFIG has moved
// the 811E2's: the erase finds it there (where it is not, the talker answers E). Without --chip
// a named board is the part it was saved as; another part costs it its memories, and says so.
TEST(KestroCli, ANamedPartsOwnEeprom) {
    Home home;
    home.write("b8.s19", "S107B8000102030436\r\nS9030000FC\r\n");
    home.expect({{{"--board", "m", "--chip", "811E2", "config", "--bits", "EEON,NOSEC",
                   "--ee-block", "B800", "program", "b8.s19", "erase"},
                  0,
                  "CONFIG $B9 sent; it takes effect at the next reset\n"
                  "CONFIG reads $B9 after the reset\nEeprom is program\nEeprom Erase\n",
                  {"/4 B"}},
                 {{"--board", "m", "--fast", "dump", "-o", "m.s19"},
                  0,
                  "Dump written to m.s19\n",
                  {"/2048 B"}}});
    const std::string dump = kestro::testing::slurp(home.path / "m.s19");
    EXPECT_EQ(dump.substr(dump.find('\n') + 1, 8), "S113B800") << dump.substr(0, 200);
    // A file for the E9's EEPROM on this 811E2: the fast path knows CONFIG, and says the
    // address is outside the EEPROM; no erase would help.
    const Result r = home.run({"--board", "m", "--fast", "program", "fw.s19"});
    EXPECT_EQ(r.exit, 2) << r.err;
    EXPECT_EQ(r.out,
              "Error in Eeprom: $B600 is outside the EEPROM the part has at the CONFIG it has: "
              "$B600-$B7FF on the A and E series, $x800-$xFFF on the 811E2 and $xE00-$xFFF on "
              "the F1 with x from CONFIG bits 7-4, none while EEON is clear\n");
#ifdef KESTRO_BOARD
    // On a serial port CONFIG is known only once read: after config in the same job the erase
    // finds the EEPROM where it was moved; in a job of its own the talker's refusal of the
    // factory place says where the EEPROM may be and how to name it.
    const Result moved = onBoardOfItsOwn(
        home, {"--board", "m2", "--chip", "811E2"},
        {"--chip", "811E2", "config", "--bits", "EEON,NOSEC", "--ee-block", "B800", "erase"});
    EXPECT_EQ(moved.exit, 0) << moved.err;
    EXPECT_TRUE(contains(moved.out, "CONFIG reads $B9 after the reset\nEeprom Erase\n"))
        << moved.out;
    const Result alone =
        onBoardOfItsOwn(home, {"--board", "m2"}, {"--chip", "811E2", "--json", "erase"});
    EXPECT_EQ(alone.exit, 2) << alone.err;
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(alone.out)).object();
    EXPECT_EQ(o.value("verdict").toString(), "Error in Eeprom");
    EXPECT_TRUE(o.value("detail").toString().contains(
        "EEPROM is at $x800-$xFFF with x from CONFIG bits 7-4; without --range kestro-cli took "
        "$F800-$FFFF"))
        << alone.out;
    EXPECT_TRUE(contains(alone.err, "name it with --range (--range B800-BFFF for x = B)"))
        << alone.err;
#endif
    home.expect({{{"--board", "m", "--chip", "E9", "test"},
                  0,
                  "Communication is OK\n",
                  {"The virtual board `m` was an MC68HC811E2: as an MC68HC11E9 its EEPROM, "
                   "CONFIG and EPROM start as the factory leaves them.\n"}}});
}

// A serial port on which no reset ever comes: refusals come before the wait for one.
TEST(KestroCli, RefusalsComeBeforeAnyResetWithTheirCodes) {
    int master = -1, slave = -1;
    char tty[64];
    ASSERT_EQ(::openpty(&master, &slave, tty, nullptr, nullptr), 0);
    const std::string name = tty;
    Home home;
    home.write("notes.s19", "these are my notes\n");
    home.write("cut.hex", ":03B600000A0B0C26\n");
    home.write("low.s19", "S107010001020304ED\r\nS9030000FC\r\n");
    // Comm 2 as the window's port map has it.
    std::filesystem::create_directories(home.path / ".config/kestro");
    home.write(".config/kestro/kestro.ini",
               "[ports]\nComm2=" + name + "\n[startup]\nStartAdress=9Z00\n");
    const std::vector<std::string> waited = {"Reset the HC11 into bootstrap mode",
                                             "No reset seen on " + name};
    // clang-format off
    home.expect({
        {{"--frobnicate", "test"}, 7, "", {"kestro-cli: unknown option: --frobnicate\n"}},
        {{"--port", name, "program", "missing.s19"}, 5, "", {"Cannot read the file missing.s19"}},
        {{"--comm", "2", "compare", "notes.s19"}, 5, "",
         {"The file notes.s19 is not an S-record file for the HC11."}},
        {{"--comm", "2", "program", "cut.hex"}, 5, "",
         {"The file cut.hex is not an Intel HEX file for the HC11.", "may be cut short"}},
        {{"--comm", "2", "ram", "low.s19", "--start", "2000"}, 5, "",
         {"The file low.s19 has data at $0100, below $0200."}},
        // The window's start address is refused as --start is.
        {{"--comm", "2", "ram", "low.s19"}, 7, "",
         {"Invalid start adress: 9Z00 (one to four hex digits, 0001 to FFFF)"}},
        {{"--comm", "2", "program", "/dev/zero"}, 5, "", {"/dev/zero: it holds more than 8 MB"}},
        {{"--port", name, "dump", "-o", "no/such/folder/d.s19"}, 5, "",
         {"Cannot write in no/such/folder"}},
        {{"--port", "/dev/kestro-no-such-port", "test"}, 6, "",
         {"/dev/kestro-no-such-port does not exist"}},
        {{"--port", "/dev/null", "test"}, 6, "",
         {"Cannot open the serial port /dev/null: /dev/null is not a serial port.\n"}},
        // A chain whose last file is unusable does not start.
        {{"--board", "r", "test", "program", "notes.s19"}, 5, "", {"notes.s19 is not an S-record"}},
        {{"--comm", "2", "--reset-timeout", "1", "test"}, 3, "", waited},
        // The monitor routes writes by the part's map, and takes only a program's ELF file.
        {{"--port", name, "monitor"}, 7, "", {"monitor needs the part: give --chip"}},
        {{"--port", name, "--chip", "E9", "monitor", "--symbols", "notes.s19"}, 5, "",
         {"notes.s19"}},
    });
    // clang-format on
    EXPECT_TRUE(contains(home.run({"--help"}).out, "7  usage error"));
    const Result help = home.run({"compare", "--help"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_TRUE(contains(help.out, "--memory eeprom|eprom|ext|xicor"));
    // What --json records for failures that come before any box: never an empty verdict; the
    // trace's own write errors among them. A refused file's reason is in the record too, not
    // only on standard error.
    const std::tuple<std::vector<std::string>, int, std::string, std::string> recorded[] = {
        {{"--port", "/dev/kestro-no-such-port", "test"}, 6, "Cannot open the serial port", ""},
        {{"--port", name, "--reset-timeout", "1", "test"}, 3, "No reset seen on ", ""},
        {{"--board", "t", "--trace", "/dev/full", "test"},
         5,
         "Cannot write the trace file /dev/full: No space left on device.",
         ""},
        {{"--comm", "2", "program", "cut.hex"},
         5,
         "The file cut.hex is not an Intel HEX file for the HC11.",
         "It has no end-of-file record (type 01), so it may be cut short."},
    };
    for (auto [args, exit, verdict, detail] : recorded) {
        args.push_back("--json");
        const Result r = home.run(args);
        EXPECT_EQ(r.exit, exit) << r.err;
        const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
        EXPECT_TRUE(o.value("verdict").toString().startsWith(QString::fromStdString(verdict)))
            << r.out;
        EXPECT_EQ(o.value("detail").toString().toStdString(), detail) << r.out;
    }
    ::close(slave);
    ::close(master);
}

// Starts kestro-cli and signals it (or, with several boards, the process that started the
// workers) once every board's transfer has passed a fifth.
struct Interrupted {
    Result result;
    double afterSignal = 0;  // seconds from the signal to the end
};
Interrupted interruptAtAFifth(const Home& home, const std::vector<std::string>& args, int signal,
                              std::size_t boards, bool firstWorker = false) {
    QProcess cli;
    home.start(cli, KESTRO_CLI, args);
    std::string err;
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        cli.waitForReadyRead(100);
        err += cli.readAllStandardError().toStdString();
        std::size_t fifths = 0;
        for (std::size_t at = 0; (at = err.find("20% ", at)) != std::string::npos; ++at)
            ++fifths;
        if (fifths >= boards || cli.state() == QProcess::NotRunning || timer.elapsed() > 120'000)
            break;
    }
    QElapsedTimer since;
    since.start();
    // A run that ended first has no process to signal (and 0 would signal the tests' group).
    pid_t pid = static_cast<pid_t>(cli.processId());
    if (firstWorker && pid > 0) {
        std::ifstream children("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) +
                               "/children");
        pid = 0;
        children >> pid;
    }
    if (pid > 0)
        ::kill(pid, signal);
    EXPECT_TRUE(cli.state() == QProcess::NotRunning || cli.waitForFinished(30'000));
    Interrupted r;
    r.afterSignal = static_cast<double>(since.elapsed()) / 1000;
    r.result = {.exit = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
                .out = cli.readAllStandardOutput().toStdString(),
                .err = err + cli.readAllStandardError().toStdString()};
    return r;
}

TEST(KestroCli, ASignalEndsTheJobSaysWhatMayBeHalfDoneAndKeepsWhatWasProgrammed) {
    Home home;
    // The EEPROM of an E9 full of $5A: the program takes some seconds.
    home.write("full.s19", kestro::testing::srecords(0xB600, kestro::Bytes(512, 0x5A)));
    const Interrupted term =
        interruptAtAFifth(home, {"--board", "t", "program", "full.s19"}, SIGTERM, 1);
    EXPECT_EQ(term.result.exit, 143) << term.result.err;
    // Within a second, with room for a loaded machine.
    EXPECT_LT(term.afterSignal, 2.0);
    EXPECT_TRUE(contains(term.result.err,
                         "Interrupted during program on board t: the EEPROM may "
                         "be partly programmed.\n"))
        << term.result.err;
    // What the board took before the signal stays, as on a chip.
    const Result status = home.run({"--board", "t", "status", "--range", "B600-B6FF"});
    EXPECT_EQ(status.out, "Data\n") << status.err;

    // Several boards: every worker ends likewise, with its record and its row.
    const Interrupted intr = interruptAtAFifth(
        home, {"--board", "a", "--board", "b", "--json", "program", "full.s19"}, SIGINT, 2);
    EXPECT_EQ(intr.result.exit, 130) << intr.result.err;
    EXPECT_LT(intr.afterSignal, 3.0);
    EXPECT_EQ(
        records(intr.result.out),
        (std::set<std::string>{
            R"({"bytes":0,"exit":130,"operation":"program","port":"board a","verdict":"Interrupted during program on board a: the EEPROM may be partly programmed."})",
            R"({"bytes":0,"exit":130,"operation":"program","port":"board b","verdict":"Interrupted during program on board b: the EEPROM may be partly programmed."})"}));
    EXPECT_TRUE(contains(intr.result.err, "board b  130")) << intr.result.err;
}

// A worker killed outright still has its record, written for it by the process that started
// it, with what may be half done; the other board's counts the bytes it programmed.
TEST(KestroCli, AKilledWorkerStillHasItsRecord) {
    Home home;
    home.write("full.s19", kestro::testing::srecords(0xB600, kestro::Bytes(512, 0x5A)));
    const Interrupted killed = interruptAtAFifth(
        home, {"--board", "a", "--board", "b", "--json", "program", "full.s19"}, SIGKILL, 2, true);
    EXPECT_EQ(killed.result.exit, 6) << killed.result.err;
    std::multiset<std::string> got;
    for (std::string r : records(killed.result.out)) {
        for (const char* port : {"board a", "board b"})
            if (const auto at = r.find(port); at != std::string::npos)
                r.replace(at, 7, "board");
        got.insert(r);
    }
    EXPECT_EQ(
        got,
        (std::multiset<std::string>{
            R"({"bytes":0,"exit":6,"operation":"program","port":"board","verdict":"The run ended abnormally (SIGKILL) during program: the EEPROM may be partly programmed."})",
            R"({"bytes":512,"exit":0,"operation":"program","port":"board","verdict":"Eeprom is program"})"}));
}

// An interrupted dump leaves neither a file nor its private folder.
TEST(KestroCli, AnInterruptedDumpLeavesNothing) {
    Home home;
    QProcess cli;
    home.start(cli, KESTRO_CLI, {"--board", "d", "dump", "--range", "0000-3FFF", "-o", "keep.s19"});
    // After the talker's download, during the dump.
    QThread::msleep(4000);
    ASSERT_GT(cli.processId(), 0);
    ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    ASSERT_TRUE(cli.waitForFinished(30'000));
    EXPECT_EQ(cli.exitCode(), 130);
    // The progress lines, then one line for the interruption.
    const std::string err = cli.readAllStandardError().toStdString();
    EXPECT_TRUE(err.ends_with("B\nInterrupted during dump on board d: no dump was written.\n"))
        << err;
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(home.path))
        if (entry.path().filename().string().find("keep") != std::string::npos ||
            entry.path().filename().string().find(".kestro-dump") != std::string::npos)
            left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{});
}

// A monitor session from a script on a part's board: a program of ours in RAM stopped at a
// breakpoint with the registers its instructions leave, a register changed, stepped through a
// branch taken and one not taken, a JSR and an RTS, memory changed and read back, the program
// run and stopped from the PC, EEPROM written and read back after the next reset; then a
// script that stops at a refused write.
TEST(KestroCli, AMonitorScriptOnAPartOf256BytesOfRamAndOneOfMore) {
    struct Part {
        const char* chip;
        unsigned origin;     // RAM the monitor leaves the program
        unsigned sp;         // the top of that RAM: the session's first SP
        const char* eeprom;  // where the part's EEPROM starts
    };
    // A part with 256 bytes of RAM and one with more: the monitor's session on every part is
    // the board's tests' to show.
    const Part parts[] = {{"811E2", 0x00D0, 0x00F3, "F800"}, {"E20", 0x0100, 0x02FF, "B600"}};
    const auto hex = [](unsigned v, int digits) {
        char text[8];
        std::snprintf(text, sizeof text, "%0*X", digits, v);
        return std::string(text);
    };
    for (const Part& part : parts) {
        SCOPED_TRACE(part.chip);
        Home home;
        const std::string ee = part.eeprom;
        const unsigned o = part.origin;
        const auto at = [&](unsigned offset) { return hex(o + offset, 4); };
        const auto regs = [&](const char* a, unsigned pc, unsigned sp, const char* ccr) {
            return std::string("A=") + a + " B=00 X=0000 Y=0000 SP=" + hex(sp, 4) +
                   " PC=" + hex(o + pc, 4) + " CCR=" + ccr + "\n";
        };
        // cli; ldaa #3; loop: deca; bne loop; jsr sub; spin: bra spin; sub: rts
        const std::string program = "mm " + hex(o, 2) + " 0e 86 03 4a 26 fd bd " + hex(o >> 8, 2) +
                                    " " + hex((o + 11) & 0xFF, 2) + " 20 fe 39";
        home.write("session.txt", program + "\nbr " + hex(o + 3, 2) + "\ngo " + hex(o, 2) +
                                      "\nstep 2\nrm a 1\nstep 2\nstep\nstep\nmm " +
                                      hex(o + 0x10, 2) + " 12 34\nmd " + hex(o + 0x10, 2) +
                                      " 2\nrun\nstop\nmm " + ee + " 5a\n");
        home.write("after.txt", "# after the reset\nmd " + ee + " 1\nmm 10 1\nrd\n");
        const std::vector<std::string> board = {"--board", "m", "--chip", part.chip, "monitor"};
        auto args = board;
        args.insert(args.end(), {"--script", "session.txt"});
        const Result session = home.run(args);
        EXPECT_EQ(session.exit, 0) << session.err;
        const unsigned sp = part.sp;
        EXPECT_EQ(
            session.out,
            "monitor> " + program + "\nmonitor> br " + hex(o + 3, 2) + "\nBreakpoint at $" + at(3) +
                ".\nmonitor> go " + hex(o, 2) + "\nStopped at the breakpoint at $" + at(3) + ".\n" +
                regs("03", 3, sp, "C0 SX......") + "*" + at(3) +
                "  4A              DECA\nmonitor> step 2\n" + regs("02", 4, sp, "C0 SX......") +
                "Stepped to $" + at(3) + ".\n" + regs("02", 3, sp, "C0 SX......") + "*" + at(3) +
                "  4A              DECA\nmonitor> rm a 1\n" + regs("01", 3, sp, "C0 SX......") +
                "monitor> step 2\n" + regs("00", 4, sp, "C4 SX...Z..") + "Stepped to $" + at(6) +
                ".\n" + regs("00", 6, sp, "C4 SX...Z..") + " " + at(6) + "  BD " +
                at(11).substr(0, 2) + " " + at(11).substr(2) + "        JSR $" + at(11) +
                "\nmonitor> step\nStepped to $" + at(11) + ".\n" +
                regs("00", 11, sp - 2, "C4 SX...Z..") + " " + at(11) +
                "  39              RTS\nmonitor> step\nStepped to $" + at(9) + ".\n" +
                regs("00", 9, sp, "C4 SX...Z..") + " " + at(9) + "  20 FE           BRA $" + at(9) +
                "\nmonitor> mm " + hex(o + 0x10, 2) + " 12 34\nmonitor> md " + hex(o + 0x10, 2) +
                " 2\n" + at(0x10) +
                "  12 34                                            .4\nmonitor> run\n"
                "Running from $" +
                at(9) + ".\nmonitor> stop\nStopped from the PC at $" + at(9) + ".\n" +
                regs("00", 9, sp, "C4 SX...Z..") + " " + at(9) + "  20 FE           BRA $" + at(9) +
                "\nmonitor> mm " + ee + " 5a\n");
        args = board;
        args.insert(args.end(), {"--script", "after.txt"});
        const Result after = home.run(args);
        EXPECT_EQ(after.exit, 2);
        EXPECT_EQ(after.out, "monitor> # after the reset\nmonitor> md " + ee + " 1\n" + ee +
                                 "  5A                                               Z\n"
                                 "monitor> mm 10 1\n");
        EXPECT_TRUE(contains(after.err, "The script stops at line 3 of after.txt: mm 10 1"))
            << after.err;
    }
}

// The monitor's prompt on a terminal: Ctrl-C clears the line being typed and the session goes
// on; what was entered is kept for the next session's history.
TEST(KestroCli, TheMonitorPromptClearsItsLineOnCtrlCAndKeepsItsHistory) {
    Home home;
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("HOME", home.path.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (home.path / ".config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home.path / ".local/share").c_str(), 1);
        ::unsetenv("XDG_STATE_HOME");
        if (::chdir(home.path.c_str()) == 0)
            ::execl(KESTRO_CLI, "kestro-cli", "--board", "p", "--chip", "E9", "monitor", nullptr);
        ::_exit(127);
    }
    std::string seen;
    std::size_t from = 0;
    // Reads the terminal until text comes after what was waited for before.
    const auto until = [&](const std::string& text) {
        QElapsedTimer timer;
        timer.start();
        while (seen.find(text, from) == std::string::npos && timer.elapsed() < 60'000) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 100) == 1) {
                char buffer[512];
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0)
                    break;
                seen.append(buffer, static_cast<std::size_t>(n));
            }
        }
        const std::size_t at = seen.find(text, from);
        from = at == std::string::npos ? from : at + text.size();
        return at != std::string::npos;
    };
    const auto type = [&](const std::string& text) {
        EXPECT_EQ(::write(master, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    };
    EXPECT_TRUE(until("monitor> ")) << seen;
    type("md B6");
    EXPECT_TRUE(until("md B6")) << seen;
    ::kill(pid, SIGINT);
    EXPECT_TRUE(until("monitor> ")) << seen;
    type("rd\r");
    EXPECT_TRUE(until("SP=01FF")) << seen;
    type("quit\r");
    int status = 0;
    ::waitpid(pid, &status, 0);
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << seen;
    EXPECT_EQ(kestro::testing::slurp(home.path / ".local/state/kestro/monitor_history"),
              "rd\nquit\n");
}

}  // namespace
