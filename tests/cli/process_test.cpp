// The built kestro-cli as a user runs it, against named virtual boards in real time. Each test
// has a home folder of its own, so the boards' saved memories and the settings are its own.
// Files and ranges are small: the talker download alone takes 2.2 s at 1200 baud.
#include <gtest/gtest.h>
#include <pty.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <sstream>

#include "scratch.h"

namespace {

namespace fs = std::filesystem;

struct Home : kestro::testing::ScratchDir {
    Home() {
        // Four bytes at $B600, the same address with bit 0 of the last byte set, and a
        // program for external RAM.
        write("fw.s19", "S107B6000102030438\r\nS9030000FC\r\n");
        write("other.s19", "S107B6000102030537\r\nS9030000FC\r\n");
        write("ram.s19", "S10720007E2000003A\r\nS9030000FC\r\n");
        write("eprom.s19", "S107D000A55A0F0F0B\r\nS9030000FC\r\n");
    }
};

struct Result {
    int exit = -1;
    std::string out;
    std::string err;
    double seconds = 0;
    // The --json records on standard output.
    std::vector<QJsonObject> records() const {
        std::vector<QJsonObject> list;
        std::istringstream lines(out);
        for (std::string line; std::getline(lines, line);) {
            const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
            EXPECT_TRUE(doc.isObject()) << line;
            list.push_back(doc.object());
        }
        return list;
    }
};

Result cli(const Home& home, const std::vector<std::string>& args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString h = QString::fromStdString(home.path.string());
    env.insert("HOME", h);
    env.insert("XDG_CONFIG_HOME", h + "/.config");
    env.insert("XDG_DATA_HOME", h + "/.local/share");
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(h);
    QStringList list;
    for (const std::string& a : args)
        list << QString::fromStdString(a);
    QElapsedTimer timer;
    timer.start();
    p.start(KESTRO_CLI, list);
    // Far above what any of these runs takes on a busy machine.
    EXPECT_TRUE(p.waitForFinished(300'000));
    Result r;
    r.seconds = static_cast<double>(timer.elapsed()) / 1000;
    r.exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput().toStdString();
    r.err = p.readAllStandardError().toStdString();
    return r;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST(KestroCli, ANewUserProgramsComparesChecksAndDumpsTheEeprom) {
    Home home;
    Result r = cli(home, {"--board", "u", "program", "fw.s19", "compare", "fw.s19"});
    EXPECT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(r.out, "Eeprom is program\nFile equal Eeprom\n");
    // Progress comes as plain lines when standard error is not a terminal.
    EXPECT_TRUE(contains(r.err, " B/s, ")) << r.err;

    r = cli(home, {"--board", "u", "compare", "other.s19"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out, "Error found at\nB603\n");

    r = cli(home, {"--board", "u", "status", "--range", "B600-B6FF", "--quiet"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.out + r.err, "");

    r = cli(home, {"--board", "u", "dump", "--range", "B600-B6FF"});
    EXPECT_EQ(r.exit, 0) << r.err;
    // After the header record, the dump's first record.
    const std::string dump = kestro::testing::slurp(home.path / "upload.s19");
    EXPECT_EQ(dump.substr(dump.find('\n') + 1, 44),
              "S113B60001020304FFFFFFFFFFFFFFFFFFFFFFFF38\r\n");
}

TEST(KestroCli, AChainStopsAtTheFirstFailureAndJsonTellsEachStep) {
    Home home;
    const Result r = cli(home, {"--board", "c", "--json", "erase", "program", "fw.s19", "program",
                                "other.s19", "test"});
    EXPECT_EQ(r.exit, 2) << r.err;
    const auto records = r.records();
    ASSERT_EQ(records.size(), 3u);
    const std::tuple<const char*, const char*, int> steps[] = {{"erase", "Eeprom Erase", 0},
                                                               {"program", "Eeprom is program", 0},
                                                               {"program", "Error in Eeprom", 2}};
    for (std::size_t i = 0; i < 3; ++i) {
        const auto& [operation, verdict, exit] = steps[i];
        EXPECT_EQ(records[i]["operation"].toString().toStdString(), operation);
        EXPECT_EQ(records[i]["verdict"].toString().toStdString(), verdict);
        EXPECT_EQ(records[i]["exit"].toInt(), exit);
        EXPECT_EQ(records[i]["port"].toString().toStdString(), "board c");
        // Each step downloads its talker, 2.2 s at 1200 baud.
        EXPECT_GT(records[i]["seconds"].toDouble(), 2.0);
    }
    EXPECT_EQ(records[1]["bytes"].toInt(), 32);
}

TEST(KestroCli, ThreeBoardsAtOnceWithOneFailing) {
    Home home;
    Result r = cli(home, {"--board", "x", "--board", "z", "program", "fw.s19"});
    ASSERT_EQ(r.exit, 0) << r.err;

    // y was never programmed.
    r = cli(home, {"--board", "x", "--board", "y", "--board", "z", "--json", "compare", "fw.s19"});
    EXPECT_EQ(r.exit, 1) << r.err;
    double busy = 0;
    std::map<std::string, int> exits;
    for (const QJsonObject& o : r.records()) {
        exits[o["port"].toString().toStdString()] = o["exit"].toInt();
        busy += o["seconds"].toDouble();
    }
    EXPECT_EQ(exits, (std::map<std::string, int>{{"board x", 0}, {"board y", 1}, {"board z", 0}}));
    // The boards ran side by side: their times add up to more than the wall time, which one
    // after the other they could not (how much more depends on the machine's load).
    EXPECT_GT(busy, r.seconds);
    // The summary table, on standard error as standard output holds the records.
    EXPECT_TRUE(contains(r.err, "board y  1")) << r.err;
    EXPECT_TRUE(contains(r.err, "board y: Error found at\nboard y: B600")) << r.err;
}

TEST(KestroCli, TheCommandsWithoutABox) {
    Home home;
    const Result r = cli(
        home, {"--board", "n",      "--json",     "sdp-off", "xicor-reset", "sfr",       "--sfr",
               "1000",    "eem",    "--map",      "E000",    "bpr",         "--protect", "none",
               "config",  "--bits", "EEON,NOSEC", "ram",     "ram.s19",     "--start",   "2000"});
    EXPECT_EQ(r.exit, 0) << r.err;
    const auto records = r.records();
    ASSERT_EQ(records.size(), 7u);
    const char* verdicts[] = {"SDP off sent",
                              "Xicor reset sent",
                              "SFR $81 sent",
                              "EEM $07 sent",
                              "BPR $00 sent",
                              "CONFIG $F9 sent; it takes effect at the next reset",
                              "Program sent, to start at 2000"};
    for (std::size_t i = 0; i < records.size(); ++i)
        EXPECT_EQ(records[i]["verdict"].toString().toStdString(), verdicts[i]);
}

TEST(KestroCli, TheEpromOfA711E9WithProgrammingVoltage) {
    Home home;
    const Result r =
        cli(home, {"--board",  "e",        "--chip",  "711E9",     "--vpp",    "status",
                   "--memory", "eprom",    "--range", "D000-D0FF", "program",  "eprom.s19",
                   "--memory", "eprom",    "compare", "eprom.s19", "--memory", "eprom",
                   "status",   "--memory", "eprom",   "--range",   "D000-D0FF"});
    EXPECT_EQ(r.exit, 1) << r.err;
    EXPECT_EQ(r.out, "No Data\nEprom is program\nFile equal Eprom\nData\n");
}

TEST(KestroCli, NoResetWithinTheTimeout) {
    int master = -1, slave = -1;
    char name[64];
    ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
    Home home;
    // Comm 2 as the window's port map has it.
    fs::create_directories(home.path / ".config/kestro");
    home.write(".config/kestro/kestro.ini", std::string("[ports]\nComm2=") + name + "\n");
    for (const auto& port : {std::vector<std::string>{"--port", name}, {"--comm", "2"}}) {
        std::vector<std::string> args = port;
        args.insert(args.end(), {"--reset-timeout", "1", "test"});
        const Result r = cli(home, args);
        EXPECT_EQ(r.exit, 3);
        EXPECT_TRUE(contains(r.err, "Reset the HC11 into bootstrap mode")) << r.err;
        EXPECT_TRUE(contains(r.err, std::string("No reset seen on ") + name)) << r.err;
        EXPECT_EQ(r.out, "");
    }
    ::close(slave);
    ::close(master);
}

TEST(KestroCli, RefusalsComeBeforeAnyResetWithTheirCodes) {
    Home home;
    home.write("notes.s19", "these are my notes\n");
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string err;
    };
    const Case cases[] = {
        {{"--frobnicate", "test"}, 7, "kestro-cli: unknown option: --frobnicate\n"},
        {{"--board", "r", "program", "missing.s19"}, 5, "Cannot read the file missing.s19"},
        {{"--board", "r", "compare", "notes.s19"},
         5,
         "The file notes.s19 is not an S-record file for the HC11."},
        {{"--board", "r", "dump", "-o", "no/such/folder/d.s19"},
         5,
         "Cannot write in no/such/folder"},
        {{"--port", "/dev/kestro-no-such-port", "test"},
         6,
         "/dev/kestro-no-such-port does not exist"},
    };
    for (const Case& c : cases) {
        const Result r = cli(home, c.args);
        EXPECT_EQ(r.exit, c.exit) << c.args.back();
        EXPECT_TRUE(contains(r.err, c.err)) << r.err;
        // None of them waited for a reset or ran a talker.
        EXPECT_LT(r.seconds, 20.0) << c.args.back();
    }
    // A chain whose last file is unusable does not start.
    const Result chain = cli(home, {"--board", "r", "--json", "test", "program", "notes.s19"});
    EXPECT_EQ(chain.exit, 5);
    ASSERT_EQ(chain.records().size(), 1u);
    EXPECT_EQ(chain.records()[0]["operation"].toString(), "program");

    const Result help = cli(home, {"compare", "--help"});
    EXPECT_EQ(help.exit, 0);
    EXPECT_TRUE(contains(help.out, "--memory eeprom|eprom|ext|xicor"));
}

}  // namespace
