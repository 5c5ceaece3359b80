// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTimer>
#include <csignal>
#include <functional>

#include "controls.h"
#include "drive_list.h"
#include "folder_list.h"
#include "main_window.h"
#include "screen_reader.h"
#include "session_end.h"
#include "settings_store.h"
#include "test_support.h"
#include "widget_description.h"
#include "window_bench.h"

namespace kestro {
namespace {

using Store = std::map<QString, QString>;

class WindowTest : public ::testing::Test, protected testing::WindowBench {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        settings_ = std::make_unique<QSettings>(dir_.filePath("kestro.ini"), QSettings::IniFormat);
    }
    void TearDown() override {
        window.reset();
        link.reset();
    }
    // Starts the window on the store as it stands.
    void start() { WindowBench::start(*settings_); }
    // Ends the run through the window's close control, which saves.
    void stop() {
        window->close();
        window.reset();
        port.close();
        link.reset();
    }
    void restartOn(const std::vector<std::pair<const char*, const char*>>& stored) {
        settings_->clear();
        for (const auto& [key, value] : stored)
            settings_->setValue(QStringLiteral("startup/") + key, value);
        settings_->sync();
        start();
    }

    QString stored(const QString& key) { return settings_->value("startup/" + key).toString(); }
    // As another program would read it from the file.
    QString onDisk(const QString& key) {
        return QSettings(dir_.filePath("kestro.ini"), QSettings::IniFormat)
            .value("startup/" + key)
            .toString();
    }
    Store store() { return storedKeys(*settings_); }

    template <typename T = QWidget>
    T* find(const QString& name) {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << name.toStdString();
        return w;
    }
    QString text(const char* label) { return find<QLabel>(label)->text(); }
    QScrollBar* bar(const char* name) { return find<QScrollBar>(name); }
    bool checked(const QString& box) { return find<QAbstractButton>(box)->isChecked(); }
    // Shows the window and makes it the one the keyboard works in.
    void activate() {
        window->show();
        QApplication::setActiveWindow(window.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    // A label's text, a bar's page, a box's check or a folder list's folder.
    QString shown(const char* name) {
        QWidget* w = find(name);
        if (auto* label = qobject_cast<QLabel*>(w))
            return label->text();
        if (auto* bar = qobject_cast<QScrollBar*>(w))
            return QString::number(bar->value());
        if (auto* box = qobject_cast<QAbstractButton*>(w))
            return box->isChecked() ? "checked" : "unchecked";
        return qobject_cast<FolderList*>(w)->path();
    }

    QTemporaryDir dir_;
    std::unique_ptr<QSettings> settings_;
};

// A first run opens on the Comm Port page with every control as the file beside this test
// records it, says nothing, and stores the defaults. KESTRO_WRITE_DESCRIPTION=1 records the file
// anew after a deliberate change.
TEST_F(WindowTest, AFirstRunLooksAndReadsAsRecordedAndStoresTheDefaults) {
    start();
    window->show();
    visitEveryPage(window.get());
    expectAsRecorded(describeWidgets(window.get()), "window_description.txt");
    EXPECT_TRUE(messages.empty());
    stop();
    Store expected;
    for (const QString& pair :
         QStringLiteral(
             "EEpromBegin=B600 EEpromEnd=B7FF EpromBegin=D000 EpromEnd=FFFF DumpBegin=B600 "
             "DumpEnd=B7FF SFR=10 SCEEpromBegin=182 SCEEpromEnd=183 SCEpromBegin=208 "
             "SCEpromEnd=255 SCDumpBegin=182 SCDumpEnd=183 SCsfr=4 ValueConfig1=0 "
             "ValueConfig2=0 ValueConfig3=0 ValueConfig4=0 StartAdress=2000")
             .split(' '))
        expected["startup/" + pair.section('=', 0, 0)] = pair.section('=', 1);
    for (int n = 1; n <= 4; ++n)
        expected[QString("ports/Comm%1").arg(n)] = QString("/dev/ttyS%1").arg(n - 1);
    EXPECT_EQ(store(), expected);
}

// One row a store holding only the given keys. A restored page pushes the End bar above the
// Begin bar; one equal to the bar's first value runs no handler, so its label keeps the stored
// text. A range text that is not four upper-case digits ending as its side does, and a number
// that is not a decimal in range, give the default.
TEST_F(WindowTest, ARestoredStoreIsShownOrGivesTheDefaults) {
    struct Row {
        std::vector<std::pair<const char*, const char*>> stored;
        const char* control;
        QString shown;
    };
    const Row rows[] = {
        {{{"SCEEpromBegin", "192"}, {"SCEEpromEnd", "150"}}, "LEepromEnd", "$C1FF"},
        {{{"EEpromBegin", "C000"}, {"SCEEpromBegin", "182"}}, "LEepromBegin", "$C000"},
        {{{"SFR", "0400"}, {"SCsfr", "64"}}, "XIleSFR", "$0400"},
        {{{"EEpromBegin", "G600"}}, "LEepromBegin", "$B600"},
        {{{"EpromBegin", ""}}, "LEpromBegin", "$D000"},
        {{{"EpromEnd", "D000"}}, "LEpromEnd", "$FFFF"},
        {{{"DumpBegin", "B6AB"}}, "LEdumpBegin", "$B600"},
        {{{"DumpEnd", "b7ff"}}, "LEdumpEnd", "$B7FF"},
        {{{"SCEpromEnd", "1e3"}}, "ScEpromEnd", "255"},
        {{{"SCsfr", "65"}}, "XIscSFR", "4"},
        {{{"ValueConfig1", "1"}}, "Config1", "checked"},
        {{{"ValueConfig3", "2"}}, "Config3", "unchecked"},
        {{{"dumpdir", "/no/such/folder"}, {"dumpdrive", "/no/such/mount"}},
         "DumpDir",
         DriveList::homeFolder()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.stored[0].first) + "=" + row.stored[0].second);
        restartOn(row.stored);
        EXPECT_EQ(shown(row.control), row.shown);
        // The operations are sent what the label shows.
        if (const QString range = window->rangeText(row.stored[0].first); !range.isEmpty()) {
            EXPECT_EQ("$" + range, row.shown);
        }
        stop();
    }
    // A lost dump folder's fallback is written at once: the store no longer names lost places.
    EXPECT_EQ(stored("dumpdir"), DriveList::homeFolder());
    EXPECT_EQ(stored("dumpdrive"), DriveList::homeDrive());
}

TEST_F(WindowTest, ASecondRunLeavesTheStoreAsItWas) {
    QTemporaryDir folder;
    const QString dumpDir = QDir::cleanPath(folder.path());
    start();
    ASSERT_TRUE(find<FolderList>("DumpDir")->setPath(dumpDir));
    EXPECT_EQ(stored("dumpdir"), dumpDir);  // at once, not only on exit
    EXPECT_EQ(window->inputs().dumpFolder.string(), dumpDir.toStdString());
    bar("ScEepromBegin")->setValue(10);
    bar("ScDumpEnd")->setValue(250);
    bar("XIscSFR")->setValue(33);
    find<QCheckBox>("Config2")->setChecked(true);
    find<QLineEdit>("StartAdress")->setText("C000");
    stop();
    const Store first = store();
    EXPECT_EQ(first.at("startup/EEpromBegin") + first.at("startup/SCEEpromBegin"), "0A0010");
    EXPECT_EQ(first.at("startup/DumpEnd") + first.at("startup/SFR"), "FAFF84");
    EXPECT_EQ(first.at("startup/ValueConfig2") + first.at("startup/StartAdress"), "1C000");
    start();
    EXPECT_EQ(text("LEepromBegin") + text("LEdumpEnd") + text("XIleSFR"), "$0A00$FAFF$8400");
    EXPECT_TRUE(checked("Config2"));
    EXPECT_EQ(find<FolderList>("DumpDir")->path(), dumpDir);
    stop();
    EXPECT_EQ(store(), first);
}

TEST_F(WindowTest, AStoreThatCannotBeWrittenIsToldOnceWithItsFileAndWhy) {
    // A file where the settings folder belongs stops root as well as any user.
    QFile blocker(dir_.filePath("config"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString file = dir_.filePath("config/kestro.ini");
    settings_ = std::make_unique<QSettings>(file, QSettings::IniFormat);
    start();
    window->saveSettings();
    window->saveSettings();
    stop();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].icon, Icon::Exclamation);
    const std::string expected = "The settings could not be saved to " + file.toStdString() + ": ";
    EXPECT_EQ(messages[0].text.substr(0, expected.size()), expected) << messages[0].text;
    EXPECT_GT(messages[0].text.size(), expected.size() + 2) << "a reason";
}

// Exit, the end of the session (logout, SIGTERM) and the close control keep the settings. During
// an operation the window closes when it ends; the end of the session keeps them at once.
TEST_F(WindowTest, EveryWayOfEndingKeepsTheSettingsAndAnOperationIsLetEnd) {
    const std::tuple<const char*, std::function<void()>, bool, bool> ways[] = {
        {"Exit", [this] { find<QPushButton>("Exit")->click(); }, false, false},
        {"end of session", [this] { window->endSession(); }, false, false},
        {"end of session during a run", [this] { window->endSession(); }, true, true},
        {"close control during a run", [this] { window->close(); }, true, false},
    };
    for (const auto& [what, end, duringRun, keptAtOnce] : ways) {
        SCOPED_TRACE(what);
        port.close();
        restartOn({});
        int quits = 0;
        window->setQuitHook([&] { ++quits; });
        bar("ScEpromBegin")->setValue(220);
        if (duringRun) {
            link->portBreak();
            window->setFileChooser([&] {
                end();
                EXPECT_EQ(onDisk("EpromBegin") == "DC00", keptAtOnce);
                EXPECT_EQ(quits, 0);
                return std::string("Cancel");
            });
            find<QPushButton>("EepromProgram")->click();
            EXPECT_TRUE(window->isEnabled());
        } else {
            end();
            EXPECT_FALSE(port.isOpen());
        }
        EXPECT_EQ(onDisk("EpromBegin") + onDisk("SCEpromBegin"), "DC00220");
        EXPECT_EQ(quits, 1);
    }
}

// A session that ends while a job waits for the user in a dialog (here the file chooser, before
// anything is sent) answers the dialog as Escape would, so that the program ends with it.
TEST_F(WindowTest, TheEndOfTheSessionAnswersADialogThatWaitsForTheUser) {
    start();
    int quits = 0;
    window->setQuitHook([&] { ++quits; });
    link->portBreak();
    QTimer::singleShot(0, window.get(), [this] { window->endSession(); });
    bool rescued = false;
    QTimer::singleShot(3000, [&rescued] {
        if (QWidget* dialog = QApplication::activeModalWidget()) {
            rescued = true;
            dialog->close();
        }
    });
    find<QPushButton>("EepromProgram")->click();
    EXPECT_FALSE(rescued);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(quits, 1);
}

TEST(SessionEnd, ATerminationSignalArrivesAsEnding) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        SessionEnd session;
        int endings = 0;
        QObject::connect(&session, &SessionEnd::ending, [&] { ++endings; });
        ASSERT_EQ(::raise(signal), 0);
        EXPECT_TRUE(QTest::qWaitFor([&] { return endings != 0; }, 5000));
        EXPECT_EQ(endings, 1);
    }
}

TEST(DeviceForComm, MappedDevicesAndDefaults) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("kestro.ini"), QSettings::IniFormat);
    settings.setValue("ports/Comm1", "/dev/ttyUSB0");
    settings.setValue("ports/Comm2", "  ");
    EXPECT_EQ(deviceForComm(settings, 1), "/dev/ttyUSB0");
    EXPECT_EQ(deviceForComm(settings, 2), "/dev/ttyS1");
    EXPECT_EQ(deviceForComm(settings, 4), "/dev/ttyS3");
}

// ---- range selectors ---------------------------------------------------------------------

TEST_F(WindowTest, ABarUpdatesOnceWhenLetGoAndTheEndFollowsTheBegin) {
    start();
    QScrollBar* begin = bar("ScEepromBegin");
    begin->setSliderDown(true);
    for (int v = 183; v <= 220; ++v) {
        begin->setSliderPosition(v);
    }
    // Nothing follows the thumb while it is held.
    EXPECT_EQ(text("LEepromBegin") + text("LEepromEnd"), "$B600$B7FF");
    begin->setSliderDown(false);
    EXPECT_EQ(text("LEepromBegin") + text("LEepromEnd"), "$DC00$DDFF");
    bar("ScDumpBegin")->setValue(10);
    const ops::Inputs in = window->inputs();
    EXPECT_EQ(
        in.eepromBegin + in.eepromEnd + in.epromBegin + in.epromEnd + in.dumpBegin + in.dumpEnd,
        "DC00DDFFD000FFFF0A00B7FF");
}

TEST_F(WindowTest, TheTopArrowAndTheUpKeyRaiseTheAddress) {
    start();
    window->show();
    window->showPage(2);
    QScrollBar* end = bar("ScEepromEnd");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    QStyleOptionSlider option;
    option.initFrom(end);
    option.orientation = Qt::Vertical;
    option.maximum = end->maximum();
    option.sliderValue = option.sliderPosition = end->value();
    option.upsideDown = true;
    const QRect up = end->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                  QStyle::SC_ScrollBarSubLine, end);
    QTest::mouseClick(end, Qt::LeftButton, {}, up.center());
    EXPECT_EQ(text("LEepromEnd"), "$B8FF");
    end->setFocus();
    QTest::keyClick(end, Qt::Key_Up);
    EXPECT_EQ(end->value(), 185);
}

// What a screen reader finds: the window as a frame, each range bar's address as its value
// with its labels, and a port that would not open told at once and named for what it is.
TEST_F(WindowTest, AScreenReaderHearsAddressesAndPortFailuresInAFrame) {
    start();
    testing::HeardEvents heard;
    EXPECT_EQ(QAccessible::queryAccessibleInterface(window.get())->role(), QAccessible::Window);
    QScrollBar* begin = bar("ScEepromBegin");
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(begin);
    EXPECT_EQ(read->text(QAccessible::Value), "$B600");
    QStringList labels;
    for (const auto& [label, relation] : read->relations(QAccessible::Label))
        labels << label->text(QAccessible::Name);
    labels.sort();
    EXPECT_EQ(labels, QStringList({"$B600", "Begin"}));
    begin->setValue(183);
    EXPECT_EQ(read->text(QAccessible::Value), "$B700");
    EXPECT_GE(heard.count(begin, QAccessible::ValueChanged), 1);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(bar("XIscSFR"))->text(QAccessible::Value),
              "$1000");
    // Comm 3 has no device: the old port comes back and its button with it.
    QTest::mouseClick(find<QRadioButton>("Comm3"), Qt::LeftButton);
    EXPECT_EQ(link->portNumber(), 1);
    EXPECT_TRUE(checked("Comm1"));
    EXPECT_EQ(heard.count(find("CommUseTXT"), QAccessible::Alert), 1);
    EXPECT_EQ(find("CommUseIMG")->accessibleName(), "Port not opened");
}

// A window the desktop makes smaller than its pages scrolls them, down to half its size.
TEST_F(WindowTest, ASmallWindowScrollsItsPagesRatherThanCuttingThemOff) {
    start();
    window->show();
    const QSize full = window->size();
    window->resize(full.width() * 3 / 4, full.height() * 3 / 4);
    QApplication::processEvents();
    EXPECT_EQ(window->size(), QSize(full.width() * 3 / 4, full.height() * 3 / 4));
    auto* scroller = find<QScrollArea>("Scroller");
    for (QScrollBar* bar : {scroller->horizontalScrollBar(), scroller->verticalScrollBar()})
        EXPECT_TRUE(bar->isVisible() && bar->maximum() > 0);
    // Everything can be brought into view, the strip's last button too.
    scroller->ensureWidgetVisible(find("Connect"));
    EXPECT_FALSE(find("Connect")->visibleRegion().isEmpty());
    window->resize(10, 10);
    EXPECT_EQ(window->size(), full / 2);
}

// ---- link display and operations ---------------------------------------------------------

TEST_F(WindowTest, TheLinkIsShownAndPortClicksChangeThePort) {
    start();
    window->selectComm(2);  // the program's choice of a button is no click
    EXPECT_EQ(link->portNumber(), 1);
    find<QPushButton>("Disconnect")->click();
    EXPECT_FALSE(find("pic_disconnect")->isHidden());
    find<QPushButton>("Connect")->click();
    EXPECT_TRUE(find("pic_disconnect")->isHidden());
    link->portBreak();  // "Ready" in place of the reset prompt
    EXPECT_TRUE(find("Image1")->isHidden() && find("ResetTXT1")->isHidden());
}

// An adapter pulled out during a job: the strip shows the closed port and no longer asks for a
// reset that could not reach the PC, and the next job says why it cannot start.
TEST_F(WindowTest, APortLostDuringAJobIsShownClosedAndTheNextJobSaysSo) {
    start();
    window->showPage(2);
    link->portBreak();
    clock.schedule(clock.now() + std::chrono::milliseconds(300), [this] { port.pull(); });
    find<QPushButton>("EepromCheck")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "The serial port /dev/ttyV1 failed: it was lost (was the adapter unplugged?).");
    EXPECT_EQ(text("HC11Stat"), "Not Ready");
    EXPECT_FALSE(find("pic_disconnect")->isHidden());
    EXPECT_TRUE(find("ResetTXT1")->isHidden() && find("ResetIMG")->isHidden());
    messages.clear();
    find<QPushButton>("EepromCheck")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Please reset your HC11");
    EXPECT_EQ(messages[0].detail, "The serial port is closed: press Connect first.");
    // Another port that opens, or Connect, asks for the reset again.
    for (const auto& reopen : std::initializer_list<std::function<void()>>{
             [this] { QTest::mouseClick(find<QRadioButton>("Comm2"), Qt::LeftButton); },
             [this] { find<QPushButton>("Connect")->click(); }}) {
        port.pull();
        link->portFailed(PortError::Lost);
        ASSERT_TRUE(find("ResetTXT1")->isHidden());
        reopen();
        EXPECT_TRUE(find("pic_disconnect")->isHidden());
        EXPECT_FALSE(find("ResetTXT1")->isHidden());
    }
}

// However the user checks a Comm button, the port follows, and changes once (each change waits
// two seconds); a click on the button already checked reopens its port.
TEST_F(WindowTest, EveryWayOfCheckingACommButtonChangesThePortOnce) {
    const std::tuple<const char*, std::function<void()>, int> cases[] = {
        {"mouse", [this] { QTest::mouseClick(find<QRadioButton>("Comm2"), Qt::LeftButton); }, 2},
        {"keyboard",
         [this] {
             activate();
             find("Comm1")->setFocus();
             QTest::keyClick(find("Comm1"), Qt::Key_Right);
         },
         2},
        {"screen reader",
         [this] {
             QAccessibleInterface* radio = QAccessible::queryAccessibleInterface(find("Comm2"));
             ASSERT_NE(radio->actionInterface(), nullptr);
             radio->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
         },
         2},
        {"click on the checked button",
         [this] { QTest::mouseClick(find<QRadioButton>("Comm1"), Qt::LeftButton); }, 1},
    };
    for (const auto& [way, check, comm] : cases) {
        SCOPED_TRACE(way);
        port.close();
        start();
        const TimePoint before = clock.now();
        check();
        EXPECT_EQ(clock.now() - before, Duration{2s});
        EXPECT_EQ(link->portNumber(), comm);
        EXPECT_TRUE(checked(QString("Comm%1").arg(comm)));
        window->hide();
    }
}

TEST_F(WindowTest, OperationsReadTheControlsAndEveryProgressBarShowsTheRun) {
    start();
    for (const char* box : {"Config1", "Config3", "XIEEMLAM", "XIBPR0", "XIBPR7"}) {
        find<QCheckBox>(box)->setChecked(true);
    }
    find<QLineEdit>("StartAdress")->setText("4000");
    bar("XIscSFR")->setValue(64);
    // Typed text with Enter is used as it stands; the lists keep their fixed rows.
    for (const auto& [combo, rows] : {std::pair{"XIEEMmap", 8}, std::pair{"Config5", 16}}) {
        QLineEdit* edit = find<QComboBox>(combo)->lineEdit();
        edit->clear();
        QTest::keyClicks(edit, "1234");
        QTest::keyClick(edit, Qt::Key_Return);
        EXPECT_EQ(find<QComboBox>(combo)->count(), rows) << combo;
        EXPECT_EQ(find<QComboBox>(combo)->currentText(), "1234") << combo;
    }
    // A screen reader chooses a row of a closed list by selecting it: that is the choice too.
    testing::selectByScreenReader(find<QComboBox>("Config5"), 3);
    const ops::Inputs in = window->inputs();
    EXPECT_EQ(in.config, (std::array<int, 4>{1, 0, 1, 0}));
    EXPECT_EQ(in.config5Text, "$3800-$3FFF");
    EXPECT_EQ(in.startAddress, "4000");
    EXPECT_EQ(in.sfrPosition, 64);
    EXPECT_EQ(in.eemMapText, "1234");
    EXPECT_TRUE(in.eemLam);
    EXPECT_FALSE(in.eemRes);
    EXPECT_EQ(in.bpr, (std::array<bool, 8>{true, false, false, false, false, false, false, true}));
    testing::selectByScreenReader(find<QComboBox>("XIEEMmap"), 6);
    EXPECT_EQ(window->inputs().eemMapText, "$C000-$DFFF");
    window->setWindowEnabled(false);
    window->setProgress(37);
    for (const char* name : {"EepromBar", "EpromBar", "RamBar", "xibar"}) {
        auto* progress = find<QProgressBar>(name);
        EXPECT_EQ(progress->value(), 37) << name;
        // Drawn as readable as ever while the job keeps the window disabled.
        for (const auto role : {QPalette::Text, QPalette::Highlight, QPalette::HighlightedText})
            EXPECT_EQ(progress->palette().color(QPalette::Disabled, role),
                      progress->palette().color(QPalette::Active, role))
                << name << " " << role;
    }
    // The dump counts the bytes of its range as they come.
    window->setReceived(Received{1024, 8192});
    EXPECT_EQ(find<QProgressBar>("DumpBar")->text(), "1,024 of 8,192 bytes");
    window->setReceived(std::nullopt);
    EXPECT_TRUE(find("DumpBar")->isHidden());
    window->setWindowEnabled(true);
}

TEST_F(WindowTest, HelpOpensThePageBesideTheProgramAndAboutGivesTheVersion) {
    const auto helpWindow = [] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == "HelpWindow")
                return qobject_cast<QTextBrowser*>(w);
        return static_cast<QTextBrowser*>(nullptr);
    };
    start();
    find<QPushButton>("help")->click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].toLocalFile(), QCoreApplication::applicationDirPath() + "/help/kestro.htm");
    EXPECT_EQ(helpWindow(), nullptr);
    // With no viewer on the desktop, the window shows the page itself.
    viewer = false;
    find<QPushButton>("help")->click();
    QTextBrowser* own = helpWindow();
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(own->isVisible());
    EXPECT_EQ(own->source(), opened[1]);
    EXPECT_TRUE(own->toPlainText().contains("Kestro"));
    // It can still be read while a job keeps the main window disabled.
    window->setWindowEnabled(false);
    EXPECT_TRUE(own->isEnabled());
    window->setWindowEnabled(true);
    find<QPushButton>("About")->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], (Message{"Kestro Ver:" KESTRO_VERSION, "About", Icon::Information}));
    // It goes with the main window.
    stop();
    EXPECT_EQ(helpWindow(), nullptr);
}

// Preferences, by Ctrl+, or by its button on the Misc page: the crystal in force and the fast
// mode, a crystal that is none refused as typed, Enter keeping both keys and Escape nothing.
TEST_F(WindowTest, PreferencesSetTheCrystalAndTheFastModeAndKeepBoth) {
    struct Case {
        const char* stored;  // the settings' crystal; nullptr: none
        bool byKey;
        const char* shown;
        QString typed;
        bool fast;  // ticked by its Alt letter
        Qt::Key end;
        std::uint32_t crystal;  // in force afterwards
        const char* kept;       // the key afterwards; nullptr: none
    };
    const Case cases[] = {
        {nullptr, true, "8", "7.3728", true, Qt::Key_Return, 7'372'800, "7.3728"},
        {"4.9152", false, "4.9152", "12", false, Qt::Key_Escape, 4'915'200, "4.9152"},
        // A crystal that is no crystal leaves 8 MHz in force, and the dialog says so.
        {"7,3728", true, "8", "9.8304", false, Qt::Key_Enter, 9'830'400, "9.8304"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        settings_->clear();
        if (c.stored)
            settings_->setValue("link/crystal", c.stored);
        start();
        activate();
        if (c.byKey) {
            QTest::keyClick(window.get(), Qt::Key_Comma, Qt::ControlModifier);
        } else {
            window->showPage(7);
            find<QPushButton>("Preferences")->click();
        }
        auto* dialog = window->findChild<QDialog*>("Preferences");
        ASSERT_NE(dialog, nullptr);
        QApplication::setActiveWindow(dialog);
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
        auto* crystal = dialog->findChild<QComboBox*>("PreferencesCrystal");
        EXPECT_EQ(crystal->currentText(), c.shown);
        EXPECT_EQ(crystal->accessibleName(), "Crystal in MHz");
        EXPECT_TRUE(crystal->hasFocus())
            << QApplication::focusWidget()->metaObject()->className() << " "
            << QApplication::focusWidget()->objectName().toStdString();
        auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
        // Typed as a word processor would write it: no crystal, and OK waits for one.
        crystal->lineEdit()->selectAll();
        QTest::keyClicks(crystal->lineEdit(), "7,3728");
        EXPECT_FALSE(ok->isEnabled());
        EXPECT_TRUE(dialog->findChild<QLabel*>("PreferencesCrystalEffect")
                        ->text()
                        .contains("Not a crystal"));
        crystal->lineEdit()->selectAll();
        QTest::keyClicks(crystal->lineEdit(), c.typed);
        EXPECT_TRUE(ok->isEnabled());
        if (c.typed == "7.3728") {
            EXPECT_TRUE(crystal->accessibleDescription().contains("1107 baud"))
                << crystal->accessibleDescription().toStdString();
        }
        if (c.fast) {
            // A button's letter clicks it as a press would, a moment later.
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_M, Qt::AltModifier);
            auto* fast = dialog->findChild<QCheckBox*>("PreferencesFast");
            EXPECT_TRUE(QTest::qWaitFor([fast] { return fast->isChecked(); }));
        }
        QTest::keyClick(QApplication::focusWidget(), c.end);
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(link->sciClock().crystalHz(), c.crystal);
        EXPECT_EQ(window->inputs().fast, c.fast);
        EXPECT_EQ(settings_->value("link/crystal").toString(), c.kept);
        EXPECT_EQ(settings_->value("link/fast").toString(), c.end == Qt::Key_Escape ? ""
                                                            : c.fast                ? "true"
                                                                                    : "false");
        stop();
    }
}

// ---- keyboard ----------------------------------------------------------------------------

TEST_F(WindowTest, TheKeyboardReachesTheTabsAndEveryControlOfAPageInOrder) {
    start();
    ASSERT_NO_FATAL_FAILURE(activate());
    // The page tabs are one stop, as in a tab bar: the arrow keys move between them, through
    // both rows.
    for (const auto& [from, key, to] : {std::tuple{0, Qt::Key_Right, 1},
                                        {3, Qt::Key_Right, 4},
                                        {4, Qt::Key_Left, 3},
                                        {0, Qt::Key_Left, 7},
                                        {1, Qt::Key_Down, 5},
                                        {6, Qt::Key_Up, 2}}) {
        QWidget* tab = find(QString("tab%1").arg(from));
        tab->setFocus();
        QTest::keyClick(tab, key);
        EXPECT_EQ(window->currentPage(), to) << from << " " << key;
        EXPECT_TRUE(find(QString("tab%1").arg(to))->hasFocus());
    }
    // From anywhere in the window, the keys of tab widgets go round the pages.
    for (const auto& [from, keys, to] :
         {std::tuple{0, QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
          {0, QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), 7},
          {7, QKeySequence(Qt::CTRL | Qt::Key_PageDown), 0},
          {0, QKeySequence(Qt::CTRL | Qt::Key_PageUp), 7}}) {
        window->showPage(from);
        find("Disconnect")->setFocus();
        QTest::keySequence(find("Disconnect"), keys);
        EXPECT_EQ(window->currentPage(), to) << keys.toString().toStdString();
    }
    // Each page's tab as a screen reader names it (its caption is recorded with the window), and
    // the page's controls in keyboard order.
    for (int page = 0; page < 8; ++page) {
        auto* tab = find<QAbstractButton>(QString("tab%1").arg(page));
        QAccessibleInterface* named = QAccessible::queryAccessibleInterface(tab);
        EXPECT_EQ(named->role(), QAccessible::PageTab);
        EXPECT_EQ(named->text(QAccessible::Name), withoutMnemonic(tab->text()));
    }
    expectAsRecorded(describeKeyboardOrder(window.get()), "window_keyboard.txt");
}

// Every tab, button and check box on view has its own Alt+letter, and Enter presses the
// focused button as Space does.
TEST_F(WindowTest, AltLettersNeverClashAndEnterPressesTheFocusedButton) {
    start();
    ASSERT_NO_FATAL_FAILURE(activate());
    // The Xicor page has more controls than letters to go round; these do without.
    const QStringList without = {"XIEEMLAM", "XIBPR0", "XIBPR1", "XIBPR2", "XIBPR3",
                                 "XIBPR4",   "XIBPR5", "XIBPR6", "XIBPR7"};
    for (int page = 0; page < 8; ++page) {
        window->showPage(page);
        QApplication::processEvents();
        std::map<QKeySequence, QString> taken;
        for (auto* b : window->findChildren<QAbstractButton*>()) {
            if (!b->isVisible() || without.contains(b->objectName()))
                continue;
            const QKeySequence key = QKeySequence::mnemonic(b->text());
            EXPECT_FALSE(key.isEmpty()) << qPrintable(b->objectName());
            const auto [at, fresh] = taken.emplace(key, b->objectName());
            EXPECT_TRUE(fresh || key.isEmpty()) << qPrintable(
                b->objectName() + " and " + at->second + " on page " + QString::number(page));
        }
    }
    QTest::keyClick(window.get(), Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([this] { return window->currentPage() == 3; }));
    // The caption a job gives back keeps its letter.
    window->setCaption("EpromProgram", "Program");
    EXPECT_EQ(find<QAbstractButton>("EpromProgram")->text(), "Pro&gram");
    window->showPage(7);
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        find("About")->setFocus();
        QTest::keyClick(find("About"), key);
    }
    EXPECT_EQ(messages.size(), 2u);
}

// A job disables the window, which takes the focus from the button that started it; once the
// job's box is gone the keyboard carries on from that button, not from nowhere.
TEST_F(WindowTest, TheFocusComesBackToTheButtonAfterItsJob) {
    start();
    ASSERT_NO_FATAL_FAILURE(activate());
    for (const auto& [page, button] : {std::pair{0, "TestComm"}, std::pair{2, "EepromCheck"}}) {
        SCOPED_TRACE(button);
        window->showPage(page);
        link->portBreak();
        messages.clear();
        find(button)->setFocus();
        QTest::keyClick(find(button), Qt::Key_Space);
        // Nothing answers on Comm 1's line: the job ends with its box.
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_TRUE(window->isEnabled());
        EXPECT_EQ(QApplication::focusWidget(), find(button));
    }
}

}  // namespace
}  // namespace kestro
