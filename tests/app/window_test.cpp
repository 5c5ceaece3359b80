#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSettings>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <map>
#include <memory>
#include <vector>

#include "drive_list.h"
#include "folder_list.h"
#include "form1.h"
#include "link_state.h"
#include "qt_print.h"
#include "settings_store.h"
#include "virtual_clock.h"
#include "virtual_line.h"
#include "virtual_port.h"

namespace kestro {
namespace {

using Store = std::map<QString, QString>;

class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        settings_ = std::make_unique<QSettings>(dir_.filePath("kestro.ini"), QSettings::IniFormat);
        port_.attach(1, line1_, "/dev/ttyV1");
        port_.attach(2, line2_, "/dev/ttyV2");
    }
    void TearDown() override {
        window_.reset();
        link_.reset();
    }

    // Starts the program's window as main() does, on the store as it stands.
    void start() {
        window_.reset();
        link_ = std::make_unique<LinkState>(port_, clock_, clock_);
        window_ = std::make_unique<Form1>(*link_, *settings_);
        link_->setView(window_.get());
        port_.setListener(link_.get());
        window_->setMessageSink([this](const Message& m) { messages_.push_back(m); });
        window_->setUrlOpener([this](const QUrl& url) { opened_.push_back(url); });
        window_->startup();
    }
    // Ends the run through the window's close control, which saves.
    void stop() {
        window_->close();
        window_.reset();
        port_.close();
        link_.reset();
    }

    void preset(const QString& key, const QString& value) {
        settings_->setValue("startup/" + key, value);
    }
    QString stored(const QString& key) { return settings_->value("startup/" + key).toString(); }
    Store store() {
        settings_->sync();
        Store all;
        for (const QString& key : settings_->allKeys()) {
            all[key] = settings_->value(key).toString();
        }
        return all;
    }

    template <typename T>
    T* find(const char* name) {
        T* w = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    QString labelText(const char* name) { return find<QLabel>(name)->text(); }
    QScrollBar* bar(const char* name) { return find<QScrollBar>(name); }

    QTemporaryDir dir_;
    std::unique_ptr<QSettings> settings_;
    VirtualClock clock_;
    VirtualLine line1_{clock_};
    VirtualLine line2_{clock_};
    VirtualPort port_{clock_};
    std::unique_ptr<LinkState> link_;
    std::unique_ptr<Form1> window_;
    std::vector<Message> messages_;
    std::vector<QUrl> opened_;
};

// ---- the controls ------------------------------------------------------------------------

struct Control {
    const char* name;
    const char* kind;  // class name
    const char* caption;
    const char* tip;
};

const Control kControls[] = {
    {"Disconnect", "QPushButton", "Disconnect", "Disconnect Kestro from your comport"},
    {"Connect", "QPushButton", "Connect", "Connect Kestro to your comport"},
    {"Exit", "QPushButton", "Exit", "Exit Kestro"},
    {"Comm1", "QRadioButton", "Comm 1", "/dev/ttyV1"},
    {"Comm2", "QRadioButton", "Comm 2", "/dev/ttyV2"},
    {"Comm3", "QRadioButton", "Comm 3", "virtual port 3"},
    {"Comm4", "QRadioButton", "Comm 4", "virtual port 4"},
    {"TestComm", "QPushButton", "Test Comm",
     "Check the communictaion with your HC11 before anything"},
    {"Config1", "QCheckBox", "EEprom ON", "Check to enable internal EEprom of your HC11"},
    {"Config2", "QCheckBox", "Rom ON", "Check to enable internal Rom of your HC11"},
    {"Config3", "QCheckBox", "No COP", "Check to disable COP watch dog function of your HC11"},
    {"Config4", "QCheckBox", "No SEC", "Check to disable the security feature of your HC11"},
    {"ConfigProgram", "QPushButton", "Program", "Program the config register with this setting"},
    {"EepromCheck", "QPushButton", "Check Stat",
     "Check is there is data in the internal EEprom of your HC11"},
    {"EepromErase", "QPushButton", "Erase", "Erase the internal EEprom of your HC11"},
    {"EepromProgram", "QPushButton", "Program",
     "Program the internal EEprom your a HC11 with a S19 file"},
    {"EepromCompare", "QPushButton", "Compare",
     "Compare the internal EEprom of your HC11 with a S19 file"},
    {"EpromCheck", "QPushButton", "Check Stat",
     "Check is there is data in the internal Eprom of your HC11"},
    {"EpromProgram", "QPushButton", "Program",
     "Program the internal Eprom of your HC11 with a S19 file"},
    {"EpromCompare", "QPushButton", "Compare",
     "Compare the internal Eprom of your HC11 with a S19 file"},
    {"ExtRam", "QPushButton", "Download",
     "Download a S19 file in External RAM and execute this code at the \"Start Adress\""},
    {"ExtEEprog", "QPushButton", "Program", "Program external EEprom with a S19 file"},
    {"ExtEEcomp", "QPushButton", "Compare", "Compare external EEprom with a S19 file"},
    {"XISFR", "QPushButton", "Prog. SFR",
     "Program the SFR memory map location (SFR:Xicor register location)"},
    {"XIEEMLAM", "QCheckBox", "PB LAM", "Xicor port B is low address byte (A7-A0)"},
    {"XIEEMres", "QCheckBox", "Reset HI", "Xicor reset active hi"},
    {"XIeem", "QPushButton", "Prog. EEM",
     "Program the EEM memory map location (EEM:Xicor EEprom location)"},
    {"XIBPR7", "QCheckBox", "$1C00-$1FFF", ""},
    {"XIBPR6", "QCheckBox", "$1800-$1BFF", ""},
    {"XIBPR5", "QCheckBox", "$1400-$17FF", ""},
    {"XIBPR4", "QCheckBox", "$1000-$13FF", ""},
    {"XIBPR3", "QCheckBox", "$0C00-$0FFF", ""},
    {"XIBPR2", "QCheckBox", "$0800-$0BFF", ""},
    {"XIBPR1", "QCheckBox", "$0400-$07FF", ""},
    {"XIBPR0", "QCheckBox", "$0000-$03FF", ""},
    {"XIBPR", "QPushButton", "Prog. BPR", "Program the BPR (BPR:Xicor EEprom block protection)"},
    {"XISDPoff", "QPushButton", "SDP off",
     "Disable Software Data Protection of the Xicor. You must do this before any Xicor "
     "operation"},
    {"Xiprog", "QPushButton", "Program", "Program Xicor EEprom with a S19 file"},
    {"Xicomp", "QPushButton", "Compare", "Compare Xicor EEprom with a S19 file"},
    {"XIreset", "QPushButton", "Reset", "Reset will try to restore default Xicor value"},
    {"DumpStart", "QPushButton", "Start Dump", "Create a S19 file from HC11 memory"},
    {"help", "QPushButton", "Help", "Real help"},
    {"About", "QPushButton", "About", "Check your Kestro version"},
};

const Control kLabels[] = {
    {"HC11Stat", "QLabel", "Not Ready", ""},
    {"ResetTXT1", "QLabel", "Reset Your", ""},
    {"ResetTXT2", "QLabel", "HC11", ""},
    {"Label1", "QLabel", "Communication Port", ""},
    {"CommUseTXT", "QLabel", "CommPort already in use", ""},
    {"Label4", "QLabel", "HC811 Only", ""},
    {"Label2", "QLabel", "Begin", ""},
    {"Label3", "QLabel", "End", ""},
    {"Label6", "QLabel", "Begin", ""},
    {"Label7", "QLabel", "End", ""},
    {"Label19", "QLabel", "Ext. RAM", ""},
    {"Label16", "QLabel", "Start Adress", ""},
    {"Label20", "QLabel", "Ext. EEprom", ""},
    {"Label17", "QLabel", "SFR", ""},
    {"Label18", "QLabel", "EEM", ""},
    {"Label22", "QLabel", "BPR", ""},
    {"Label10", "QLabel", "Xicor EEprom tools", ""},
    {"Label25", "QLabel", "Begin", ""},
    {"Label24", "QLabel", "End", ""},
    {"DumpWarning", "QLabel", "That could be VERY LONG", ""},
};

TEST_F(WindowTest, EveryControlHasItsNameKindCaptionTipAndAccessibleText) {
    start();
    for (const Control& c : kControls) {
        SCOPED_TRACE(c.name);
        auto* w = find<QAbstractButton>(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_STREQ(w->metaObject()->className(), c.kind);
        EXPECT_EQ(w->text(), QString::fromUtf8(c.caption));
        EXPECT_EQ(w->toolTip(), QString::fromUtf8(c.tip));
        EXPECT_TRUE(w->isEnabled());
        EXPECT_NE(w->focusPolicy() & Qt::TabFocus, 0);
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(w);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->text(QAccessible::Name), QString::fromUtf8(c.caption));
        EXPECT_EQ(a->text(QAccessible::Description), QString::fromUtf8(c.tip));
    }
    for (const Control& c : kLabels) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(labelText(c.name), QString::fromUtf8(c.caption));
    }
}

TEST_F(WindowTest, OpensOnTheCommPortPageWithTheStartStates) {
    start();
    EXPECT_EQ(window_->currentPage(), 0);
    EXPECT_TRUE(window_->windowTitle().startsWith("Kestro Ver:"));
    EXPECT_GT(window_->windowTitle().size(), QString("Kestro Ver:").size());
    EXPECT_EQ(window_->size(), window_->minimumSize());
    EXPECT_EQ(window_->size(), window_->maximumSize());
    for (const char* name : {"EepromBar", "EpromBar", "RamBar", "xibar"}) {
        SCOPED_TRACE(name);
        auto* bar = find<QProgressBar>(name);
        EXPECT_TRUE(bar->isHidden());
        EXPECT_EQ(bar->minimum(), 0);
        EXPECT_EQ(bar->maximum(), 100);
    }
    for (const char* name :
         {"DumpWarning", "CommUseTXT", "CommUseIMG", "Image2", "pic_disconnect"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(find<QWidget>(name)->isHidden());
    }
    for (const char* name : {"Image1", "HC11Stat", "ResetTXT1", "ResetTXT2", "ResetIMG"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(find<QWidget>(name)->isHidden());
    }
    for (int n = 0; n < 8; ++n) {
        EXPECT_FALSE(find<QCheckBox>(qPrintable(QString("XIBPR%1").arg(n)))->isChecked());
    }
    EXPECT_FALSE(find<QCheckBox>("XIEEMLAM")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("XIEEMres")->isChecked());
    EXPECT_TRUE(find<QRadioButton>("Comm1")->isChecked());
    EXPECT_EQ(link_->portNumber(), 1);
    EXPECT_TRUE(messages_.empty());

    auto* config5 = find<QComboBox>("Config5");
    ASSERT_EQ(config5->count(), 16);
    EXPECT_EQ(config5->itemText(0), "$0800-$0FFF");
    EXPECT_EQ(config5->itemText(10), "$A800-$AFFF");
    EXPECT_EQ(config5->itemText(15), "$F800-$FFFF");
    EXPECT_EQ(config5->currentText(), "$F800-$FFFF");
    auto* eem = find<QComboBox>("XIEEMmap");
    const QStringList blocks = {"$0000-$1FFF", "$2000-$3FFF", "$4000-$5FFF", "$6000-$7FFF",
                                "$8000-$9FFF", "$A000-$BFFF", "$C000-$DFFF", "$E000-$FFFF"};
    ASSERT_EQ(eem->count(), 8);
    for (int k = 0; k < 8; ++k) {
        EXPECT_EQ(eem->itemText(k), blocks[k]);
    }
    EXPECT_EQ(eem->currentText(), "$E000-$FFFF");
    EXPECT_EQ(find<QLineEdit>("Dumpfile")->text(), "upload.s19");
    EXPECT_TRUE(find<QLineEdit>("Dumpfile")->isReadOnly());
}

TEST_F(WindowTest, NoFreePortIsReportedAndExitStillSaves) {
    VirtualPort empty(clock_);
    link_ = std::make_unique<LinkState>(empty, clock_, clock_);
    window_ = std::make_unique<Form1>(*link_, *settings_);
    link_->setView(window_.get());
    window_->setMessageSink([this](const Message& m) { messages_.push_back(m); });
    window_->startup();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "No free CommPort!");
    EXPECT_EQ(messages_[0].title, "Error");
    EXPECT_EQ(messages_[0].icon, Icon::Exclamation);
    EXPECT_TRUE(find<QRadioButton>("Comm1")->isChecked());

    find<QPushButton>("Exit")->click();
    EXPECT_FALSE(window_->isVisible());
    EXPECT_EQ(stored("EEpromBegin"), "B600");
    window_.reset();
    link_.reset();
}

// ---- settings store ----------------------------------------------------------------------

TEST_F(WindowTest, FirstRunOnAnEmptyStore) {
    start();
    EXPECT_EQ(labelText("LEepromBegin"), "$B600");
    EXPECT_EQ(labelText("LEepromEnd"), "$B7FF");
    EXPECT_EQ(labelText("LEpromBegin"), "$D000");
    EXPECT_EQ(labelText("LEpromEnd"), "$FFFF");
    EXPECT_EQ(labelText("LEdumpBegin"), "$B600");
    EXPECT_EQ(labelText("LEdumpEnd"), "$B7FF");
    // The SFR bar opens at 64 and the restore moves it to 4.
    EXPECT_EQ(bar("XIscSFR")->value(), 4);
    EXPECT_EQ(labelText("XIleSFR"), "$1000");
    EXPECT_EQ(window_->sfrText(), "10");
    for (const char* name : {"Config1", "Config2", "Config3", "Config4"}) {
        EXPECT_FALSE(find<QCheckBox>(name)->isChecked()) << name;
    }
    EXPECT_EQ(find<QLineEdit>("StartAdress")->text(), "2000");
    EXPECT_EQ(find<FolderList>("DumpDir")->path(), DriveList::homeFolder());

    stop();
    const Store expected = {
        {"startup/EEpromBegin", "B600"}, {"startup/EEpromEnd", "B7FF"},
        {"startup/EpromBegin", "D000"},  {"startup/EpromEnd", "FFFF"},
        {"startup/DumpBegin", "B600"},   {"startup/DumpEnd", "B7FF"},
        {"startup/SFR", "10"},           {"startup/SCEEpromBegin", "182"},
        {"startup/SCEEpromEnd", "183"},  {"startup/SCEpromBegin", "208"},
        {"startup/SCEpromEnd", "255"},   {"startup/SCDumpBegin", "182"},
        {"startup/SCDumpEnd", "183"},    {"startup/SCsfr", "4"},
        {"startup/ValueConfig1", "0"},   {"startup/ValueConfig2", "0"},
        {"startup/ValueConfig3", "0"},   {"startup/ValueConfig4", "0"},
        {"startup/StartAdress", "2000"}, {"ports/Comm1", "/dev/ttyS0"},
        {"ports/Comm2", "/dev/ttyS1"},   {"ports/Comm3", "/dev/ttyS2"},
        {"ports/Comm4", "/dev/ttyS3"},
    };
    EXPECT_EQ(store(), expected);
}

TEST_F(WindowTest, RestoredBeginPagePushesTheEndBar) {
    struct Case {
        const char* storedEnd;  // nullptr: missing
        int end;
        const char* endLabel;
    };
    for (const Case& c :
         {Case{nullptr, 193, "$C1FF"}, Case{"200", 200, "$C8FF"}, Case{"150", 193, "$C1FF"}}) {
        SCOPED_TRACE(c.storedEnd ? c.storedEnd : "missing");
        settings_->clear();
        preset("SCEEpromBegin", "192");
        if (c.storedEnd != nullptr) {
            preset("SCEEpromEnd", c.storedEnd);
        }
        start();
        EXPECT_EQ(bar("ScEepromBegin")->value(), 192);
        EXPECT_EQ(labelText("LEepromBegin"), "$C000");
        EXPECT_EQ(bar("ScEepromEnd")->value(), c.end);
        EXPECT_EQ(labelText("LEepromEnd"), c.endLabel);
        EXPECT_EQ(window_->rangeText("EEpromEnd"), QString(c.endLabel).mid(1));
        stop();
    }
}

TEST_F(WindowTest, StoredTextsShowWhenTheBarDoesNotMove) {
    // A stored page equal to the bar's first value runs no handler: the label keeps the text.
    preset("EEpromBegin", "B6AB");
    preset("SCEEpromBegin", "182");
    preset("SFR", "0400");
    preset("SCsfr", "64");
    start();
    EXPECT_EQ(labelText("LEepromBegin"), "$B6AB");
    EXPECT_EQ(labelText("XIleSFR"), "$0400");
    EXPECT_EQ(bar("XIscSFR")->value(), 64);
}

TEST_F(WindowTest, ASecondRunLeavesTheStoreAsItWas) {
    start();
    bar("ScEepromBegin")->setValue(10);
    bar("ScDumpEnd")->setValue(250);
    bar("XIscSFR")->setValue(33);
    find<QCheckBox>("Config2")->setChecked(true);
    find<QCheckBox>("Config4")->setChecked(true);
    find<QLineEdit>("StartAdress")->setText("C000");
    stop();
    const Store first = store();
    EXPECT_EQ(first.at("startup/EEpromBegin"), "0A00");
    EXPECT_EQ(first.at("startup/SCEEpromBegin"), "10");
    EXPECT_EQ(first.at("startup/DumpEnd"), "FAFF");
    EXPECT_EQ(first.at("startup/SFR"), "84");
    EXPECT_EQ(first.at("startup/ValueConfig2"), "1");
    EXPECT_EQ(first.at("startup/StartAdress"), "C000");

    start();
    EXPECT_EQ(labelText("LEepromBegin"), "$0A00");
    EXPECT_EQ(bar("ScDumpEnd")->value(), 250);
    EXPECT_EQ(labelText("XIleSFR"), "$8400");
    EXPECT_TRUE(find<QCheckBox>("Config2")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("Config3")->isChecked());
    EXPECT_EQ(find<QLineEdit>("StartAdress")->text(), "C000");
    stop();
    EXPECT_EQ(store(), first);
}

TEST_F(WindowTest, CorruptAndOutOfRangeValuesGiveTheDefaults) {
    struct Case {
        const char* key;
        const char* value;
        const char* barName;
        int expected;
    };
    const Case cases[] = {
        {"SCEEpromBegin", "abc", "ScEepromBegin", 182},
        {"SCEEpromBegin", "300", "ScEepromBegin", 182},
        {"SCEEpromBegin", "-4", "ScEepromBegin", 182},
        {"SCEEpromBegin", "", "ScEepromBegin", 182},
        {"SCEpromEnd", "1e3", "ScEpromEnd", 255},
        {"SCDumpBegin", "70000", "ScDumpBegin", 182},
        {"SCsfr", "65", "XIscSFR", 4},
        {"SCsfr", "4.5", "XIscSFR", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        settings_->clear();
        preset(c.key, c.value);
        start();
        EXPECT_EQ(bar(c.barName)->value(), c.expected);
        stop();
    }

    settings_->clear();
    preset("ValueConfig1", "1");
    preset("ValueConfig2", "yes");
    preset("ValueConfig3", "2");
    preset("dumpdir", "/no/such/folder/anywhere");
    preset("dumpdrive", "/no/such/mount");
    start();
    EXPECT_TRUE(find<QCheckBox>("Config1")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("Config2")->isChecked());
    EXPECT_FALSE(find<QCheckBox>("Config3")->isChecked());
    EXPECT_EQ(find<FolderList>("DumpDir")->path(), DriveList::homeFolder());
    EXPECT_EQ(find<DriveList>("DumpDrive")->drive(), DriveList::homeDrive());
    // The fallback is written at once, so the store no longer names the lost places.
    EXPECT_EQ(stored("dumpdir"), DriveList::homeFolder());
    EXPECT_EQ(stored("dumpdrive"), DriveList::homeDrive());
}

TEST_F(WindowTest, TheDumpFolderIsStoredAtOnce) {
    QTemporaryDir folder;
    start();
    auto* dumpDir = find<FolderList>("DumpDir");
    ASSERT_TRUE(dumpDir->setPath(folder.path()));
    EXPECT_EQ(stored("dumpdir"), QDir::cleanPath(folder.path()));
    EXPECT_EQ(window_->inputs().dumpFolder.string(), QDir::cleanPath(folder.path()).toStdString());
    stop();
    start();
    EXPECT_EQ(find<FolderList>("DumpDir")->path(), QDir::cleanPath(folder.path()));
}

TEST(DeviceForComm, MappedDevicesAndDefaults) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath("kestro.ini"), QSettings::IniFormat);
    EXPECT_EQ(deviceForComm(settings, 1), "/dev/ttyS0");
    EXPECT_EQ(deviceForComm(settings, 4), "/dev/ttyS3");
    settings.setValue("ports/Comm1", "/dev/ttyUSB0");
    settings.setValue("ports/Comm2", "  ");
    EXPECT_EQ(deviceForComm(settings, 1), "/dev/ttyUSB0");
    EXPECT_EQ(deviceForComm(settings, 2), "/dev/ttyS1");
}

// ---- range selectors ---------------------------------------------------------------------

TEST_F(WindowTest, SelectorRules) {
    struct Case {
        const char* what;
        const char* beginBar;
        const char* endBar;
        int begin0, end0;   // where the pair starts
        const char* moved;  // the bar the user moves
        int to;
        int begin, end;  // where the pair ends up
        const char* beginLabelName;
        const char* beginLabel;
        const char* endLabelName;
        const char* endLabel;
    };
    const Case cases[] = {
        {"begin at 0", "ScEepromBegin", "ScEepromEnd", 182, 183, "ScEepromBegin", 0, 0, 183,
         "LEepromBegin", "$0000", "LEepromEnd", "$B7FF"},
        {"end at 0 springs back", "ScEepromBegin", "ScEepromEnd", 5, 183, "ScEepromEnd", 0, 5, 6,
         "LEepromBegin", "$0500", "LEepromEnd", "$06FF"},
        {"end at 0 with begin at 0", "ScEepromBegin", "ScEepromEnd", 0, 183, "ScEepromEnd", 0, 0, 0,
         "LEepromBegin", "$0000", "LEepromEnd", "$00FF"},
        {"page 10", "ScDumpBegin", "ScDumpEnd", 0, 183, "ScDumpBegin", 10, 10, 183, "LEdumpBegin",
         "$0A00", "LEdumpEnd", "$B7FF"},
        {"begin pushes end", "ScEepromBegin", "ScEepromEnd", 182, 183, "ScEepromBegin", 200, 200,
         201, "LEepromBegin", "$C800", "LEepromEnd", "$C9FF"},
        {"begin at the top", "ScEpromBegin", "ScEpromEnd", 208, 240, "ScEpromBegin", 255, 255, 255,
         "LEpromBegin", "$FF00", "LEpromEnd", "$FFFF"},
        {"end below begin", "ScDumpBegin", "ScDumpEnd", 182, 190, "ScDumpEnd", 100, 182, 183,
         "LEdumpBegin", "$B600", "LEdumpEnd", "$B7FF"},
        {"same page stays", "ScEepromBegin", "ScEepromEnd", 182, 190, "ScEepromEnd", 182, 182, 182,
         "LEepromBegin", "$B600", "LEepromEnd", "$B6FF"},
    };
    start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        bar(c.endBar)->setValue(255);
        bar(c.beginBar)->setValue(c.begin0);
        bar(c.endBar)->setValue(c.end0);
        bar(c.moved)->setValue(c.to);
        EXPECT_EQ(bar(c.beginBar)->value(), c.begin);
        EXPECT_EQ(bar(c.endBar)->value(), c.end);
        EXPECT_EQ(labelText(c.beginLabelName), c.beginLabel);
        EXPECT_EQ(labelText(c.endLabelName), c.endLabel);
    }
    const ops::Inputs in = window_->inputs();
    EXPECT_EQ(in.eepromBegin, "B600");
    EXPECT_EQ(in.eepromEnd, "B6FF");
    EXPECT_EQ(in.epromBegin, "FF00");
    EXPECT_EQ(in.epromEnd, "FFFF");
    EXPECT_EQ(in.dumpBegin, "B600");
    EXPECT_EQ(in.dumpEnd, "B7FF");
}

TEST_F(WindowTest, ADragUpdatesOnceWhenLetGo) {
    start();
    QScrollBar* begin = bar("ScEepromBegin");
    QScrollBar* end = bar("ScEepromEnd");
    begin->setSliderDown(true);
    for (int v = 183; v <= 220; ++v) {
        begin->setSliderPosition(v);
    }
    // Nothing follows the thumb while it is held.
    EXPECT_EQ(labelText("LEepromBegin"), "$B600");
    EXPECT_EQ(end->value(), 183);
    begin->setSliderDown(false);
    EXPECT_EQ(begin->value(), 220);
    EXPECT_EQ(labelText("LEepromBegin"), "$DC00");
    EXPECT_EQ(end->value(), 221);
    EXPECT_EQ(labelText("LEepromEnd"), "$DDFF");
    EXPECT_EQ(window_->rangeText("EEpromBegin"), "DC00");
}

TEST_F(WindowTest, TheTopArrowAndTheUpKeyRaiseTheAddress) {
    start();
    window_->show();
    window_->showPage(2);
    QScrollBar* end = bar("ScEepromEnd");
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    QStyleOptionSlider option;
    option.initFrom(end);
    option.orientation = Qt::Vertical;
    option.minimum = end->minimum();
    option.maximum = end->maximum();
    option.sliderValue = option.sliderPosition = end->value();
    option.upsideDown = true;
    const QRect up = end->style()->subControlRect(QStyle::CC_ScrollBar, &option,
                                                  QStyle::SC_ScrollBarSubLine, end);
    QTest::mouseClick(end, Qt::LeftButton, {}, up.center());
    EXPECT_EQ(end->value(), 184);
    EXPECT_EQ(labelText("LEepromEnd"), "$B8FF");
    end->setFocus();
    QTest::keyClick(end, Qt::Key_Up);
    EXPECT_EQ(end->value(), 185);
    QTest::keyClick(end, Qt::Key_PageDown);
    EXPECT_EQ(end->value(), 182 + 1);  // 185 - 16 is below begin: springs to begin + 1
}

// ---- link display and operations ---------------------------------------------------------

TEST_F(WindowTest, TheLinkIsShownAndPortClicksChangeThePort) {
    start();
    window_->showPortWarning(std::string("No permission to open /dev/ttyV3"));
    EXPECT_FALSE(find<QWidget>("CommUseTXT")->isHidden());
    EXPECT_FALSE(find<QWidget>("CommUseIMG")->isHidden());
    EXPECT_EQ(labelText("CommUseTXT"), "No permission to open /dev/ttyV3");
    window_->showPortWarning(std::nullopt);
    EXPECT_TRUE(find<QWidget>("CommUseTXT")->isHidden());

    window_->showDisconnected(true, "/dev/ttyV1 was lost");
    EXPECT_FALSE(find<QWidget>("pic_disconnect")->isHidden());
    EXPECT_EQ(find<QWidget>("pic_disconnect")->toolTip(), "/dev/ttyV1 was lost");
    EXPECT_EQ(labelText("DisconnectReason"), "/dev/ttyV1 was lost");
    window_->showDisconnected(false, {});
    EXPECT_TRUE(find<QWidget>("pic_disconnect")->isHidden());

    // The program's choice of a button is no click.
    window_->selectComm(2);
    EXPECT_TRUE(find<QRadioButton>("Comm2")->isChecked());
    EXPECT_EQ(link_->portNumber(), 1);
    window_->selectComm(1);
    QTest::mouseClick(find<QRadioButton>("Comm2"), Qt::LeftButton);
    EXPECT_EQ(link_->portNumber(), 2);
    EXPECT_TRUE(find<QRadioButton>("Comm2")->isChecked());
    // Comm 3 has no device: the old port comes back and its button with it.
    QTest::mouseClick(find<QRadioButton>("Comm3"), Qt::LeftButton);
    EXPECT_EQ(link_->portNumber(), 2);
    EXPECT_TRUE(find<QRadioButton>("Comm2")->isChecked());
    EXPECT_TRUE(find<QWidget>("CommUseTXT")->isHidden());

    find<QPushButton>("Disconnect")->click();
    EXPECT_FALSE(port_.isOpen());
    EXPECT_FALSE(find<QWidget>("pic_disconnect")->isHidden());
    EXPECT_TRUE(find<QWidget>("ResetIMG")->isHidden());
    find<QPushButton>("Connect")->click();
    EXPECT_TRUE(port_.isOpen());
    EXPECT_TRUE(find<QWidget>("pic_disconnect")->isHidden());

    link_->portBreak();
    EXPECT_EQ(labelText("HC11Stat"), "Ready");
    EXPECT_FALSE(find<QWidget>("Image2")->isHidden());
    EXPECT_TRUE(find<QWidget>("Image1")->isHidden());
    EXPECT_TRUE(find<QWidget>("ResetTXT1")->isHidden());
}

TEST_F(WindowTest, AnOperationButtonRunsItsOperation) {
    start();
    find<QPushButton>("TestComm")->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, "Please reset your HC11");
    EXPECT_EQ(messages_[0].icon, Icon::Exclamation);
    EXPECT_TRUE(window_->isEnabled());
    EXPECT_EQ(find<QPushButton>("TestComm")->text(), "Test Comm");
}

TEST_F(WindowTest, InputsAreTakenFromTheControls) {
    start();
    find<QCheckBox>("Config1")->setChecked(true);
    find<QCheckBox>("Config3")->setChecked(true);
    find<QComboBox>("Config5")->setCurrentIndex(3);
    find<QLineEdit>("StartAdress")->setText("4000");
    bar("XIscSFR")->setValue(64);
    find<QComboBox>("XIEEMmap")->setEditText("1234");
    find<QCheckBox>("XIEEMLAM")->setChecked(true);
    find<QCheckBox>("XIBPR0")->setChecked(true);
    find<QCheckBox>("XIBPR7")->setChecked(true);
    const ops::Inputs in = window_->inputs();
    EXPECT_EQ(in.config, (std::array<int, 4>{1, 0, 1, 0}));
    EXPECT_EQ(in.config5Text, "$3800-$3FFF");
    EXPECT_EQ(in.startAddress, "4000");
    EXPECT_EQ(in.sfrPosition, 64);
    EXPECT_EQ(labelText("XIleSFR"), "$10000");
    EXPECT_EQ(in.eemMapText, "1234");
    EXPECT_TRUE(in.eemLam);
    EXPECT_FALSE(in.eemRes);
    EXPECT_EQ(in.bpr, (std::array<bool, 8>{true, false, false, false, false, false, false, true}));
}

TEST_F(WindowTest, OperationsDriveTheBarsCaptionsAndControls) {
    start();
    window_->setProgress(37);
    for (const char* name : {"EepromBar", "EpromBar", "RamBar", "xibar"}) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(find<QProgressBar>(name)->isHidden());
        EXPECT_EQ(find<QProgressBar>(name)->value(), 37);
    }
    window_->setProgress(std::nullopt);
    for (const char* name : {"EepromBar", "EpromBar", "RamBar", "xibar"}) {
        EXPECT_TRUE(find<QProgressBar>(name)->isHidden()) << name;
    }
    window_->setCaption("DumpStart", "Please Wait");
    EXPECT_EQ(find<QPushButton>("DumpStart")->text(), "Please Wait");
    window_->setVisible("DumpWarning", true);
    EXPECT_FALSE(find<QWidget>("DumpWarning")->isHidden());
    window_->setWindowEnabled(false);
    EXPECT_FALSE(window_->isEnabled());
    window_->setWindowEnabled(true);
}

TEST_F(WindowTest, ACloseDuringAnOperationWaitsForItsEnd) {
    start();
    link_->portBreak();
    bool closedDuringRun = true;
    window_->setFileChooser([&] {
        window_->close();
        closedDuringRun = settings_->contains("startup/EEpromBegin");
        return std::string("Cancel");
    });
    find<QPushButton>("EepromProgram")->click();
    EXPECT_FALSE(closedDuringRun);
    EXPECT_TRUE(settings_->contains("startup/EEpromBegin"));
    EXPECT_TRUE(window_->isEnabled());
}

TEST_F(WindowTest, HelpAboutAndExit) {
    start();
    find<QPushButton>("help")->click();
    find<QPushButton>("help")->click();
    ASSERT_EQ(opened_.size(), 2u);
    EXPECT_TRUE(opened_[0].isLocalFile());
    EXPECT_EQ(opened_[0].toLocalFile(),
              QCoreApplication::applicationDirPath() + "/help/kestro.htm");
    EXPECT_EQ(opened_[1], opened_[0]);

    find<QPushButton>("About")->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0].text, window_->windowTitle().toStdString());
    EXPECT_EQ(messages_[0].title, "About");
    EXPECT_EQ(messages_[0].icon, Icon::Information);

    bar("ScEpromBegin")->setValue(220);
    ASSERT_TRUE(port_.isOpen());
    find<QPushButton>("Exit")->click();
    EXPECT_FALSE(port_.isOpen());
    EXPECT_EQ(stored("EpromBegin"), "DC00");
    EXPECT_EQ(stored("SCEpromBegin"), "220");
}

TEST_F(WindowTest, PageTabsAreAccessibleAndFollowTheKeyboard) {
    start();
    const QStringList& captions = Form1::pageCaptions();
    ASSERT_EQ(captions.size(), 8);
    EXPECT_EQ(captions, (QStringList{"Comm Port", "Config Regs", "Eeprom", "Eprom", "External",
                                     "Xicor", "Dump", "Misc"}));
    for (int i = 0; i < 8; ++i) {
        auto* tab = find<QAbstractButton>(qPrintable(QString("tab%1").arg(i)));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(tab);
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(a->role(), QAccessible::PageTab);
        EXPECT_EQ(a->text(QAccessible::Name), captions[i]);
        EXPECT_EQ(a->state().selected, i == 0);
    }
    window_->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window_.get()));
    auto* tab0 = find<QAbstractButton>("tab0");
    tab0->setFocus();
    QTest::keyClick(tab0, Qt::Key_Right);
    EXPECT_EQ(window_->currentPage(), 1);
    QAccessibleInterface* tab5 =
        QAccessible::queryAccessibleInterface(find<QAbstractButton>("tab5"));
    tab5->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(window_->currentPage(), 5);
    EXPECT_TRUE(find<QWidget>("XIscSFR")->isVisible());
}

TEST_F(WindowTest, TheKeyboardReachesEveryControlOfAPageInOrder) {
    start();
    window_->show();
    QApplication::setActiveWindow(window_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(window_.get()));
    struct Case {
        int page;
        QStringList expected;  // in keyboard order, after the eight tabs
    };
    const Case cases[] = {
        {0, {"Comm1", "TestComm", "Disconnect", "Exit", "Connect"}},
        {1, {"Config1", "Config2", "Config3", "Config4", "Config5", "ConfigProgram", "Disconnect"}},
        {2,
         {"ScEepromBegin", "ScEepromEnd", "EepromCheck", "EepromErase", "EepromProgram",
          "EepromCompare", "Disconnect"}},
        {4, {"ExtRam", "StartAdress", "ExtEEprog", "ExtEEcomp", "Disconnect"}},
        {5, {"XIscSFR", "XISFR",    "XIEEMmap", "XIEEMLAM", "XIEEMres", "XIeem",     "XIBPR7",
             "XIBPR6",  "XIBPR5",   "XIBPR4",   "XIBPR3",   "XIBPR2",   "XIBPR1",    "XIBPR0",
             "XIBPR",   "XISDPoff", "Xiprog",   "Xicomp",   "XIreset",  "Disconnect"}},
        {6,
         {"ScDumpBegin", "ScDumpEnd", "DumpDrive", "DumpDir", "Dumpfile", "DumpStart",
          "Disconnect"}},
        {7, {"help", "About", "Disconnect", "Exit", "Connect", QString("tab7")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        window_->showPage(c.page);
        auto* tab = find<QWidget>(qPrintable(QString("tab%1").arg(c.page)));
        tab->setFocus();
        // The page tabs are one stop, as in a tab bar: the arrow keys move between them.
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QStringList seen;
        while (seen.size() < c.expected.size()) {
            QWidget* w = QApplication::focusWidget();
            ASSERT_NE(w, nullptr);
            // An editable combo box hands its focus to its line edit.
            if (auto* combo = qobject_cast<QComboBox*>(w->parentWidget())) {
                w = combo;
            }
            seen << w->objectName();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        EXPECT_EQ(seen, c.expected);
    }
}

}  // namespace
}  // namespace kestro
