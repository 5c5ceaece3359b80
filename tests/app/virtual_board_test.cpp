// SPDX-License-Identifier: GPL-3.0-or-later
// The window's virtual board as the program joins it to the main window: its memories kept
// before every verdict, one program at a time, its window never lost, and its power on the line.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLocale>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QShortcut>
#include <QTest>
#include <csignal>
#include <cstdlib>

#include "board_bench.h"
#include "board_window.h"
#include "main_window.h"
#include "recorders.h"
#include "scratch.h"
#include "screen_reader.h"
#include "srecords.h"
#include "talker_loader.h"
#include "virtual_board.h"
#include "virtual_clock.h"

namespace kestro {
namespace {

namespace fs = std::filesystem;
using testing::BoardBench;

const std::string kEepromFile = "S107B6000102030438\r\nS9030000FC\r\n";

// Run in a process of its own by the test below: programs the EEPROM and is killed as the
// verdict shows, before anything else can save the board.
TEST(VirtualBoardCrash, ChildProgramsAndIsKilledAtTheVerdict) {
    const char* folder = std::getenv("KESTRO_CRASH_FOLDER");
    if (!folder)
        GTEST_SKIP() << "run by KilledAfterAProgramKeepsWhatItProgrammed";
    BoardBench b(folder);
    b.window->setFileChooser([folder] { return std::string(folder) + "/fw.s19"; });
    b.onMessage = [](const Message& m) {
        if (m.text == "Eeprom is program")
            std::raise(SIGKILL);
    };
    b.reset();
    b.click("EepromProgram");
    FAIL() << "no verdict";
}

TEST(VirtualBoard, KilledAfterAProgramKeepsWhatItProgrammed) {
    testing::ScratchDir dir;
    dir.write("fw.s19", kEepromFile);
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("KESTRO_CRASH_FOLDER", QString::fromStdString(dir.path.string()));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {"--gtest_filter=VirtualBoardCrash.ChildProgramsAndIsKilledAtTheVerdict"});
    ASSERT_TRUE(child.waitForFinished(120'000));
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit) << child.readAll().toStdString();

    VirtualClock clock;
    VirtualLine line(clock);
    sim::Board board(clock, line);
    ASSERT_TRUE(board.load(dir.path));
    EXPECT_EQ(board.eeprom().array()[0], 0x01);
    EXPECT_EQ(board.eeprom().array()[3], 0x04);
}

// The talker's first bytes as the boot loader stores them, which stay in RAM after the job.
Bytes talkerStart(const char* name, std::size_t count) {
    Bytes image = talkerImage(testing::slurp(
        fs::path(QCoreApplication::applicationDirPath().toStdString()) / "asm" / name));
    image.resize(count, 0);
    return image;
}

// The settings' key [link] fast, as a user writes it, and the option --fast send the job through
// the fast protocol: its talker is the one loaded, with the verdict of the default path.
TEST(VirtualBoard, TheFastKeyAndTheOptionChooseTheFastTalker) {
    struct Row {
        const char* key;  // nullptr: no key
        bool option;
        const char* talker;
    };
    const Row rows[] = {
        {nullptr, false, "eestat.S19"},   {"false", false, "eestat.S19"},
        {"no", false, "eestat.S19"},      {"true", false, "faststat.S19"},
        {" Yes ", false, "faststat.S19"}, {"1", false, "faststat.S19"},
        {nullptr, true, "faststat.S19"},  {"false", true, "faststat.S19"},
    };
    std::vector<std::string> verdicts;
    for (const Row& r : rows) {
        const std::string row = std::string(r.key ? r.key : "(none)") + (r.option ? " --fast" : "");
        testing::ScratchDir dir;
        if (r.key)
            QSettings(QString::fromStdString((dir.path / "kestro.ini").string()),
                      QSettings::IniFormat)
                .setValue("link/fast", r.key);
        BoardBench b(dir.path);
        b.window->setFast(r.option);
        b.reset();
        b.click("EepromCheck");
        // From $0008 on: faststat takes its requests over its first eight bytes.
        Bytes loaded;
        for (std::uint16_t a = 8; a < 0x30; ++a)
            loaded.push_back(b.hc11().peek(a));
        const Bytes image = talkerStart(r.talker, 0x30);
        EXPECT_EQ(loaded, Bytes(image.begin() + 8, image.end())) << row;
        ASSERT_EQ(b.messages.size(), 1u) << row;
        verdicts.push_back(b.messages[0].text);
        // The bars name the rate a fast job agreed on, to the eye and to a screen reader.
        const bool fast = std::string_view(r.talker) == "faststat.S19";
        const auto* bar = b.window->findChild<QProgressBar*>("EepromBar");
        EXPECT_EQ(bar->format(), fast ? "%p% at 125,000 baud" : "%p%") << row;
        EXPECT_EQ(bar->accessibleDescription(), fast ? "125,000 baud" : "") << row;
        EXPECT_EQ(bar->isTextVisible(), fast) << row;
        // The window never writes the key: what the user wrote stays, and no key appears.
        b.window->saveSettings();
        EXPECT_EQ(b.settings.value("link/fast").toString(), r.key ? QString(r.key) : QString())
            << row;
    }
    for (const std::string& v : verdicts)
        EXPECT_EQ(v, verdicts.front());
}

// Every job leaves a line in the strip, to the eye and to a screen reader: what a job that
// shows no box did, by its operation's word, or its box's text on one line; a job that reported
// nothing (a file choice cancelled) leaves none, rather than the last job's.
TEST(VirtualBoard, TheStripSaysWhatEachJobDid) {
    testing::ScratchDir dir;
    dir.write("prog.s19", "S10720007E2000003A\r\nS9030000FC\r\n");
    dir.write("fw.s19", kEepromFile);
    QSettings(QString::fromStdString((dir.path / "kestro.ini").string()), QSettings::IniFormat)
        .setValue("startup/dumpdir", QString::fromStdString(dir.path.string()));
    BoardBench b(dir.path);
    std::string chosen;
    b.window->setFileChooser([&chosen] { return chosen; });
    auto* line = b.window->findChild<QLabel*>("JobEnd");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->accessibleDescription(), "What the last job did");
    struct Row {
        const char* button;
        const char* file;  // chosen, in the scratch folder
        bool reset;
        const char* box;  // the job's box; nullptr: none, and the operation's own line
        const char* said;
    };
    const Row rows[] = {
        {"ConfigProgram", "", true, nullptr, nullptr},
        {"XISFR", "", true, nullptr, nullptr},
        {"ExtRam", "prog.s19", true, nullptr, "Program sent, to start at 2000"},
        {"DumpStart", "", true, nullptr, nullptr},
        {"EepromCheck", "", true, "Data", "Data"},
        {"EepromCompare", "fw.s19", true, "Error found at\r\nB600", "Error found at B600"},
        {"EepromCheck", "", false, "Please reset your HC11", "Please reset your HC11"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.button);
        testing::HeardEvents heard;
        b.messages.clear();
        chosen = (dir.path / r.file).string();
        if (r.reset)
            b.reset();
        b.click(r.button);
        const std::string said = r.said ? r.said : ops::doneText(r.button, b.window->inputs());
        ASSERT_FALSE(said.empty());
        ASSERT_EQ(b.messages.size(), r.box ? 1u : 0u) << b.messages[0].text;
        if (r.box) {
            EXPECT_EQ(b.messages[0].text, r.box);
        }
        EXPECT_EQ(line->accessibleName().toStdString(), said);
        EXPECT_EQ(line->toolTip().toStdString(), said);
        EXPECT_FALSE(line->isHidden());
        EXPECT_EQ(heard.count(line, QAccessible::NameChanged), 1);
        // Shortened where it does not fit, never otherwise changed.
        const QString shown = line->text();
        EXPECT_TRUE(
            shown.toStdString() == said ||
            (shown.endsWith(QChar(0x2026)) && said.starts_with(shown.chopped(1).toStdString())))
            << shown.toStdString();
    }
    EXPECT_TRUE(fs::exists(dir.path / "upload.s19"));

    chosen = "Cancel";
    b.messages.clear();
    b.reset();
    b.click("EepromProgram");
    EXPECT_TRUE(b.messages.empty()) << b.messages[0].text;
    EXPECT_EQ(line->accessibleName(), "");
    EXPECT_TRUE(line->isHidden());
}

// The window's own board tells the talkers its part: the 711E20's EPROM programs through its
// own register, where the 711E9's talker would answer V.
TEST(VirtualBoard, The711E20sEpromProgramsFromTheWindow) {
    testing::ScratchDir dir;
    dir.write("e20.s19", "S1139000000102030405060708090A0B0C0D0E0FE4\r\nS9030000FC\r\n");
    BoardBench b(dir.path);
    b.window->setFileChooser([&dir] { return (dir.path / "e20.s19").string(); });
    b.chooseChip("MC68HC711E20");
    b.hc11().setProgrammingVoltage(true);
    b.reset();
    b.click("EpromProgram");
    ASSERT_EQ(b.messages.size(), 1u);
    EXPECT_EQ(b.messages[0].text, "Eprom is program") << b.messages[0].reason;
    EXPECT_EQ(b.hc11().peek(0x900F), 0x0F);
}

// A board at another crystal, and the window told its crystal as a user tells it (Preferences,
// or the key they write): every job from the pages gives what it gives at 8 MHz, the strip's
// lines, the memories and the dumps byte for byte. Sampled rather than multiplied: at 4.9152
// and 12 MHz the jobs alternate between the paths, each on the other path at the other crystal;
// at 7.3728 MHz, which Preferences sets with the fast mode, all go fast.
TEST(VirtualBoard, EveryJobAtAnotherCrystalGivesWhatItGivesAtEightMegahertz) {
    testing::ScratchDir files;
    std::string eeprom;
    for (unsigned a = 0xB600; a < 0xB620; a += 16)
        eeprom += testing::srecord('1', a,
                                   Bytes{0x3C, 0x00, 0xA5, 0x5A, 0xFF, 0x01, 0x80, 0x7E, 0x10, 0x20,
                                         0x30, 0x40, 0x50, 0x60, 0x70, 0xC3}) +
                  "\r\n";
    files.write("fw.s19", eeprom + "S9030000FC\r\n");
    files.write("ram.s19", "S10720007E2000003A\r\nS9030000FC\r\n");
    struct Job {
        const char* button;
        const char* file;  // chosen; nullptr: none
        int dumpPage = 0;  // the Dump page's bars, for DumpStart
    };
    const Job jobs[] = {
        {"EepromProgram", "fw.s19"},  {"EepromCompare", "fw.s19"}, {"EepromCheck", nullptr},
        {"DumpStart", nullptr, 0xB6}, {"EepromErase", nullptr},    {"EepromCheck", nullptr},
        {"ConfigProgram", nullptr},   {"ExtRam", "ram.s19"},       {"DumpStart", nullptr, 0x20},
    };
    enum class Told { Not, Key, Preferences };
    enum Fast { EvenJobs, OddJobs, AllJobs };  // which jobs go the fast path
    struct Row {
        const char* crystal;
        std::uint32_t hz;
        Told told;
        Fast fast;
    };
    const Row rows[] = {
        {"8", 8'000'000, Told::Not, OddJobs},
        {"4.9152", 4'915'200, Told::Preferences, OddJobs},
        {"12", 12'000'000, Told::Key, EvenJobs},
        {"7.3728", 7'372'800, Told::Preferences, AllJobs},
    };
    struct Outcome {
        std::vector<std::string> said;
        Bytes eeprom;
        std::uint8_t config;
        std::vector<std::string> dumps;
        bool operator==(const Outcome&) const = default;
    };
    std::optional<Outcome> at8;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.crystal);
        testing::ScratchDir dir;
        {
            QSettings ini(QString::fromStdString((dir.path / "kestro.ini").string()),
                          QSettings::IniFormat);
            // One dump folder for all: the strip names it.
            ini.setValue("startup/dumpdir", QString::fromStdString(files.path.string()));
            if (r.told == Told::Key)
                ini.setValue("link/crystal", r.crystal);
        }
        BoardBench b(dir.path, r.hz);
        if (r.told == Told::Preferences) {
            b.window->showPage(7);
            b.click("Preferences");
            auto* dialog = b.window->findChild<QDialog*>("Preferences");
            ASSERT_NE(dialog, nullptr);
            dialog->findChild<QComboBox*>("PreferencesCrystal")->setCurrentText(r.crystal);
            dialog->findChild<QCheckBox*>("PreferencesFast")->setChecked(r.fast == AllJobs);
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        }
        ASSERT_EQ(b.link->sciClock().crystalHz(), r.hz);
        for (const char* box : {"Config1", "Config2", "Config4"})
            b.window->findChild<QCheckBox*>(box)->setChecked(true);
        const char* chosen = nullptr;
        b.window->setFileChooser([&] { return (files.path / chosen).string(); });
        const auto* line = b.window->findChild<QLabel*>("JobEnd");
        const auto* bar = b.window->findChild<QProgressBar*>("EepromBar");
        Outcome o;
        for (int j = 0; j < static_cast<int>(std::size(jobs)); ++j) {
            const Job& job = jobs[j];
            const bool fast = r.fast == AllJobs || j % 2 == r.fast;
            SCOPED_TRACE(std::string(job.button) + (fast ? " fast" : " default"));
            if (r.fast != AllJobs)
                b.window->setFast(fast);
            chosen = job.file;
            if (job.dumpPage) {
                b.window->findChild<QScrollBar*>("ScDumpBegin")->setValue(job.dumpPage);
                b.window->findChild<QScrollBar*>("ScDumpEnd")->setValue(job.dumpPage);
            }
            b.messages.clear();
            b.reset();
            b.click(job.button);
            std::string said =
                std::string(job.button) + ": " + line->accessibleName().toStdString();
            // A box's detail as the window shows it under the text.
            for (const Message& m : b.messages)
                said += " / " + m.detail;
            o.said.push_back(said);
            // A fast job names the rate it agreed on, the fastest this crystal's E makes.
            EXPECT_EQ(bar->format().toStdString(),
                      fast ? "%p% at " +
                                 QLocale(QLocale::English)
                                     .toString(SciClock(r.hz).fastRates()[0].asked)
                                     .toStdString() +
                                 " baud"
                           : "%p%");
            if (job.dumpPage)
                o.dumps.push_back(testing::slurp(files.path / "upload.s19"));
        }
        b.reset();
        o.eeprom = b.hc11().eeprom().array();
        o.config = b.hc11().eeprom().configCell();
        if (!at8)
            at8 = o;
        else
            EXPECT_EQ(o, *at8) << ::testing::PrintToString(o.said);
    }
}

// A board at another crystal than the window is told: its echo reads as garbage or as a break,
// and whichever it is, the box names the crystal set as the likely cause and how to set it,
// within seconds; a break is never the only thing told.
TEST(VirtualBoard, ABoardAtAnotherCrystalIsToldAsTheLikelyCause) {
    struct Row {
        std::uint32_t board;
        const char* window;
        const char* button;
        bool fast;
        const char* box;
    };
    const Row rows[] = {
        {4'915'200, "8", "EepromProgram", false, "The talker download was not echoed by the HC11."},
        {4'915'200, "8", "EepromCheck", true, "The HC11 was reset during the job."},
        // A faster board on the default path; a dump's reset is the fault harness's.
        {8'000'000, "4.9152", "EepromCheck", false, "The HC11 was reset during the job."},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.button) + " at " + r.window + " MHz, board at " +
                     std::to_string(r.board));
        testing::ScratchDir dir;
        dir.write("fw.s19", kEepromFile);
        QSettings(QString::fromStdString((dir.path / "kestro.ini").string()), QSettings::IniFormat)
            .setValue("link/crystal", r.window);
        BoardBench b(dir.path, r.board);
        b.window->setFast(r.fast);
        b.window->setFileChooser([&dir] { return (dir.path / "fw.s19").string(); });
        b.reset();
        const TimePoint start = b.clock.now();
        b.click(r.button);
        EXPECT_LT(b.clock.now() - start, std::chrono::seconds(5));
        ASSERT_EQ(b.messages.size(), 1u);
        EXPECT_EQ(b.messages[0].text, r.box);
        EXPECT_NE(b.messages[0].detail.find(std::string("crystal may not be the ") + r.window +
                                            " MHz Kestro is set for"),
                  std::string::npos)
            << b.messages[0].detail;
        EXPECT_NE(b.messages[0].detail.find("Preferences"), std::string::npos);
        EXPECT_EQ(b.status(), "Not Ready");
    }
}

// Two windows with the same home: the second finds the board held, and Comm 1 is a port in
// use for it, as a real port that another program holds; the first keeps its board. Once the
// first lets go, Connect in the second finds the board with what the first left in it.
TEST(VirtualBoard, ASecondWindowFindsTheBoardInUseUntilTheFirstLetsGo) {
    testing::ScratchDir dir;
    auto holder = std::make_unique<BoardBench>(dir.path);
    BoardBench& first = *holder;
    ASSERT_NE(first.board.persisted(), nullptr);
    first.hc11().eeprom().array()[0] = 0x42;

    BoardBench second(dir.path);
    EXPECT_EQ(second.board.persisted(), nullptr);
    EXPECT_EQ(second.board.window(), nullptr);
    ASSERT_TRUE(second.board.refusal());
    EXPECT_EQ(*second.board.refusal(),
              "the window's virtual board is in use by process " + std::to_string(::getpid()));
    ASSERT_EQ(second.messages.size(), 1u);
    EXPECT_EQ(second.messages[0].text, "No free CommPort!");
    EXPECT_NE(second.messages[0].detail.find("Comm 1: CommPort already in use"), std::string::npos)
        << second.messages[0].detail;

    first.board.save();
    VirtualClock clock;
    VirtualLine line(clock);
    sim::Board saved(clock, line);
    ASSERT_TRUE(saved.load(dir.path));
    EXPECT_EQ(saved.eeprom().array()[0], 0x42);

    EXPECT_FALSE(second.board.tryAgain());
    holder.reset();
    EXPECT_TRUE(second.board.tryAgain());
    second.click("Connect");
    EXPECT_EQ(second.link->portNumber(), 1);
    EXPECT_TRUE(second.window->findChild<QLabel*>("pic_disconnect")->isHidden());
    ASSERT_NE(second.board.window(), nullptr);
    EXPECT_TRUE(second.board.window()->isVisible());
    EXPECT_EQ(second.hc11().eeprom().array()[0], 0x42);
    second.reset();
    EXPECT_EQ(second.status(), "Ready");
}

// Closing the board's window hides it; Connect on Comm 1 and Ctrl+B bring it back.
TEST(VirtualBoard, AClosedBoardWindowComesBack) {
    testing::ScratchDir dir;
    BoardBench b(dir.path);
    b.window->show();
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"Connect", [&] { b.click("Connect"); }},
        {"Ctrl+B",
         [&] {
             for (QShortcut* s : b.window->findChildren<QShortcut*>())
                 if (s->key() == QKeySequence(Qt::CTRL | Qt::Key_B))
                     emit s->activated();
         }},
    };
    for (const auto& [way, bringBack] : ways) {
        SCOPED_TRACE(way);
        b.board.showBeside(*b.window);
        ASSERT_TRUE(b.board.window()->isVisible());
        // Beside the main window on its screen, and within it, however large the windows are
        // for the screen.
        const QRect area = b.window->screen()->availableGeometry();
        EXPECT_TRUE(area.contains(b.board.window()->frameGeometry()))
            << b.board.window()->frameGeometry().x() << " " << b.board.window()->width();
        b.board.window()->close();
        EXPECT_FALSE(b.board.window()->isVisible());
        bringBack();
        EXPECT_TRUE(b.board.window()->isVisible());
    }
}

// A part change or Factory state is a power cycle: the board's TxD goes low. A job under way
// ends as on a reset; a target that was ready is no longer.
TEST(VirtualBoard, APowerCycleShowsOnTheLine) {
    const std::vector<std::pair<const char*, std::function<void(BoardBench&)>>> cycles = {
        {"chip",
         [](BoardBench& b) {
             b.chooseChip(b.hc11().chip().chip == sim::Chip::A8 ? "MC68HC11E9" : "MC68HC11A8");
         }},
        {"factory",
         [](BoardBench& b) { b.board.window()->findChild<QPushButton*>("BoardFactory")->click(); }},
    };
    for (const auto& [what, powerCycle] : cycles) {
        SCOPED_TRACE(what);
        testing::ScratchDir dir;
        dir.write("fw.s19", kEepromFile);
        BoardBench b(dir.path);
        b.reset();
        ASSERT_EQ(b.status(), "Ready");
        powerCycle(b);
        b.clock.advance(std::chrono::milliseconds(100));
        EXPECT_EQ(b.status(), "Not Ready");
        // Reset brings the power and the boot loader back.
        b.reset();
        EXPECT_EQ(b.status(), "Ready");

        // During a job: at 3 s the talker is loaded and the file (4 s of it) under way.
        std::string file;
        for (unsigned a = 0xB600; a < 0xB700; a += 16)
            file += testing::srecord('1', a, Bytes(16, 0x5A)) + "\r\n";
        dir.write("long.s19", file + "S9030000FC\r\n");
        b.window->setFileChooser([&] { return (dir.path / "long.s19").string(); });
        b.clock.schedule(b.clock.now() + std::chrono::seconds(3), [&] { powerCycle(b); });
        b.messages.clear();
        b.click("EepromProgram");
        ASSERT_EQ(b.messages.size(), 1u);
        EXPECT_EQ(b.messages[0].text, "The HC11 was reset during the job.");
        EXPECT_EQ(b.status(), "Not Ready");
        EXPECT_TRUE(b.window->isEnabled());
    }
}

}  // namespace
}  // namespace kestro
