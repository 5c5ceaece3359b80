// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <map>

#include "drive_list.h"
#include "file_chooser.h"
#include "file_list.h"
#include "folder_list.h"
#include "screen_reader.h"
#include "test_support.h"
#include "widget_description.h"

namespace kestro {
namespace {

class ChooserTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(store_.isValid());
        ASSERT_TRUE(files_.isValid());
        settings_ =
            std::make_unique<QSettings>(store_.filePath("kestro.ini"), QSettings::IniFormat);
        for (const char* name : {"NAME.S19", "eeprom.s19", "ram.MOT", "notes.txt", "table.hex"}) {
            QFile f(files_.filePath(name));
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        }
        QDir(files_.path()).mkdir("sub");
        folder_ = QDir::cleanPath(files_.path());
    }

    // Opens the chooser anew, as an operation does, in folder if one is given.
    FileChooser& open(const QString& folder = {}) {
        d_ = std::make_unique<FileChooser>(*settings_);
        if (!folder.isEmpty()) {
            EXPECT_TRUE(find<FolderList>("Dir1")->setPath(folder));
        }
        return *d_;
    }
    template <typename T>
    T* find(const char* name) {
        T* w = d_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    FileList* files() { return find<FileList>("File1"); }
    QString name() { return find<QLineEdit>("Text1")->text(); }
    void click(const char* button) { find<QPushButton>(button)->click(); }
    QStringList listed() {
        QStringList names;
        for (int i = 0; i < files()->count(); ++i) {
            names << files()->item(i)->text();
        }
        return names;
    }
    void clickFile(const QString& name) {
        const auto items = files()->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << qPrintable(name);
        QTest::mouseClick(files()->viewport(), Qt::LeftButton, {},
                          files()->visualItemRect(items.front()).center());
    }
    std::map<QString, QString> keys() { return storedKeys(*settings_); }

    QTemporaryDir store_;
    QTemporaryDir files_;
    QString folder_;
    std::unique_ptr<QSettings> settings_;
    std::unique_ptr<FileChooser> d_;
};

// The arrow keys and a screen reader's selection put the name in "File:" as a click does.
TEST_F(ChooserTest, EveryWayOfSelectingAFileFillsTheNameBox) {
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"arrow key",
         [this] {
             files()->setCurrentRow(1);
             find<QLineEdit>("Text1")->clear();
             QTest::keyClick(files(), Qt::Key_Up);
         }},
        {"screen reader", [this] { testing::selectByScreenReader(files(), 0); }},
    };
    for (const auto& [way, select] : ways) {
        SCOPED_TRACE(way);
        open();
        files()->setFolder(folder_);
        select();
        EXPECT_EQ(files()->selectedName(), "eeprom.s19");
        EXPECT_EQ(name(), "eeprom.s19");
    }
}

TEST_F(ChooserTest, AChosenFileIsRememberedForTheNextOpening) {
    open(folder_);
    // The pattern matches without regard to case.
    EXPECT_EQ(listed(), (QStringList{"eeprom.s19", "NAME.S19"}));
    clickFile("NAME.S19");
    click("Ok");
    const std::map<QString, QString> expected = {{"startup/dirpath", folder_},
                                                 {"startup/filepath", folder_},
                                                 {"startup/pattern", "*.S19"},
                                                 {"startup/text", "NAME.S19"},
                                                 {"startup/drive", DriveList::driveOf(folder_)}};
    EXPECT_EQ(keys(), expected);
    open();
    EXPECT_EQ(find<FolderList>("Dir1")->path(), folder_);
    EXPECT_EQ(name(), "NAME.S19");
    click("Ok");
    EXPECT_EQ(d_->result(), folder_ + "/NAME.S19");
    // A name typed at once takes the remembered one's place rather than joining it.
    open().show();
    QApplication::setActiveWindow(d_.get());
    ASSERT_TRUE(QTest::qWaitForWindowActive(d_.get()));
    ASSERT_EQ(d_->focusWidget(), find<QLineEdit>("Text1"));
    QTest::keyClicks(d_->focusWidget(), "eeprom.s19");
    QTest::keyClick(d_->focusWidget(), Qt::Key_Return);
    EXPECT_EQ(d_->result(), folder_ + "/eeprom.s19");
}

TEST_F(ChooserTest, ATypedPatternFiltersAndIsRememberedWithoutTheComboShowingIt) {
    open(folder_);
    auto* combo = find<QComboBox>("Combo1");
    combo->lineEdit()->clear();
    QTest::keyClicks(combo->lineEdit(), "*.HEX");
    EXPECT_EQ(listed(), QStringList{"table.hex"});
    combo->setCurrentIndex(2);
    EXPECT_EQ(listed().size(), 5);
    combo->setCurrentIndex(1);
    EXPECT_EQ(listed(), QStringList{"ram.MOT"});
    clickFile("ram.MOT");
    click("Ok");
    EXPECT_EQ(keys().at("startup/pattern"), "*.MOT");
    open();
    EXPECT_EQ(files()->pattern(), "*.MOT");
    EXPECT_EQ(listed(), QStringList{"ram.MOT"});
    EXPECT_EQ(find<QComboBox>("Combo1")->currentText(), "*.S19");
}

TEST_F(ChooserTest, CancelOkWithoutANameAndTheCloseControlAllGiveCancel) {
    settings_->setValue("startup/text", "kept");
    const auto before = keys();
    const std::pair<const char*, std::function<void()>> ways[] = {
        {"Cancel", [this] { click("Cancel"); }},
        {"close control", [this] { d_->close(); }},
        {"Escape", [this] { QTest::keyClick(d_.get(), Qt::Key_Escape); }},
        {"Ok after a move, which empties the name",
         [this] {
             find<FolderList>("Dir1")->setPath(folder_ + "/sub");
             click("Ok");
         }},
    };
    for (const auto& [way, cancel] : ways) {
        SCOPED_TRACE(way);
        open(folder_);
        clickFile("NAME.S19");
        d_->show();
        cancel();
        EXPECT_TRUE(d_->isDone());
        EXPECT_EQ(d_->result(), "Cancel");
        EXPECT_EQ(keys(), before);
    }
}

// A first opening looks and reads as the file beside this test records it, as the window's does.
TEST_F(ChooserTest, ANewOrLostPlaceOpensAtHomeWithTheS19PatternAsRecorded) {
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "folder gone" : "nothing stored");
        if (!lost) {
            open().show();
            QApplication::processEvents();
            expectAsRecorded(describeWidgets(d_.get()), "chooser_description.txt");
        } else {
            for (const char* key : {"dirpath", "filepath"}) {
                settings_->setValue(QStringLiteral("startup/") + key, folder_ + "/gone");
            }
            settings_->setValue("startup/drive", DriveList::driveOf(folder_));
            settings_->setValue("startup/pattern", "*.MOT");
            settings_->setValue("startup/text", "x.MOT");
            open();
        }
        EXPECT_EQ(find<FolderList>("Dir1")->path(), DriveList::homeFolder());
        EXPECT_EQ(files()->folder(), DriveList::homeFolder());
        EXPECT_EQ(files()->pattern(), "*.S19");
        EXPECT_EQ(find<QComboBox>("Combo1")->currentText(), "*.S19");
        EXPECT_TRUE(name().isEmpty());
    }
}

// Enter, type-ahead, a typed path and Tab do by keyboard what the mouse does, and Enter only
// closes the dialog where it means Ok; a double-click and Ok, in the root too, join folder and
// name as they do.
TEST_F(ChooserTest, TheKeyboardAndTheMouseOpenFoldersApplyPatternsAndChooseFiles) {
    QDir(folder_).mkpath("sub/deeper");
    const auto dir = [this] { return find<FolderList>("Dir1"); };
    const auto enterIn = [](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); };
    const auto typeIn = [this](const char* path) {
        find<QLineEdit>("Text1")->setText(QString::fromLatin1(path));
        QTest::keyClick(find<QLineEdit>("Text1"), Qt::Key_Return);
    };
    const struct {
        const char* what;
        std::function<void()> keys;
        QString folder;  // where the folder list is after
        QString result;  // empty: the dialog stays open
    } cases[] = {
        {"Enter on a folder opens it",
         [&] {
             dir()->setCurrentItem(dir()->findItems("sub", Qt::MatchEndsWith).front());
             enterIn(dir());
         },
         folder_ + "/sub",
         {}},
        {"type-ahead finds an indented folder",
         [&] {
             dir()->setFocus();
             QTest::keyClicks(dir(), "su");
             enterIn(dir());
         },
         folder_ + "/sub",
         {}},
        {"Enter in the pattern box applies the pattern",
         [&] {
             auto* edit = find<QComboBox>("Combo1")->lineEdit();
             edit->clear();
             QTest::keyClicks(edit, "*.hex");
             enterIn(edit);
             EXPECT_EQ(listed(), QStringList{"table.hex"});
         },
         folder_,
         {}},
        {"a typed folder opens", [&] { typeIn("sub/deeper/"); }, folder_ + "/sub/deeper", {}},
        {"a typed path chooses its file", [&] { typeIn("sub/x.s19"); }, folder_ + "/sub",
         folder_ + "/sub/x.s19"},
        {"a path from the root", [&] { typeIn(qPrintable(folder_ + "/eeprom.s19")); }, folder_,
         folder_ + "/eeprom.s19"},
        {"a double-click",
         [&] {
             emit files()->itemActivated(files()->findItems("eeprom.s19", Qt::MatchExactly)[0]);
         },
         folder_, folder_ + "/eeprom.s19"},
        {"Ok in the root",
         [&] {
             dir()->setPath("/");
             find<QLineEdit>("Text1")->setText("eeprom.s19");
             click("Ok");
         },
         "/", "/eeprom.s19"},
        {"a path from the home folder, as a shell takes it",
         [&] {
             const QByteArray home = qgetenv("HOME");
             qputenv("HOME", QFile::encodeName(folder_ + "/sub"));
             typeIn("~/x.s19");
             qputenv("HOME", home);
         },
         folder_ + "/sub", folder_ + "/sub/x.s19"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        open(folder_).show();
        c.keys();
        EXPECT_EQ(dir()->path(), c.folder);
        EXPECT_EQ(d_->isDone(), !c.result.isEmpty());
        if (!c.result.isEmpty()) {
            EXPECT_EQ(d_->result(), c.result);
            EXPECT_EQ(keys().at("startup/dirpath"), c.folder);
        }
    }
    // A typed path into a folder that is not there keeps the dialog open and says why, where
    // a screen reader hears it too; mending the name brings the usual line back.
    {
        testing::HeardEvents heard;
        open(folder_).show();
        typeIn("nowhere/x.s19");
        EXPECT_FALSE(d_->isDone());
        auto* why = find<QLabel>("Label6");
        EXPECT_EQ(why->toolTip(), "No folder " + folder_ + "/nowhere");
        EXPECT_EQ(find<QLineEdit>("Text1")->accessibleDescription(), why->toolTip());
        EXPECT_EQ(heard.count(why, QAccessible::Alert), 1);
        QTest::keyClick(find<QLineEdit>("Text1"), Qt::Key_Backspace);
        EXPECT_EQ(why->text(), "The file must be a S-RECORD");
    }
    // Tab goes as the dialog reads: row by row, left to right.
    open(folder_).show();
    find<QLineEdit>("Text1")->setFocus();
    QStringList order;
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(d_->focusWidget(), Qt::Key_Tab);
        QWidget* w = d_->focusWidget();
        order
            << (qobject_cast<QComboBox*>(w->parentWidget()) ? w->parentWidget() : w)->objectName();
    }
    EXPECT_EQ(order, QStringList({"Dir1", "File1", "Ok", "Cancel", "Combo1", "Drive1", "Text1"}));
}

TEST_F(ChooserTest, TheFolderListMovesOnActivationOnly) {
    FolderList list;
    ASSERT_TRUE(list.setPath(folder_));
    EXPECT_FALSE(list.setPath(folder_ + "/no-such"));
    EXPECT_EQ(list.path(), folder_);
    const auto subs = list.findItems("sub", Qt::MatchEndsWith);
    ASSERT_EQ(subs.size(), 1);
    list.setCurrentItem(subs.front());
    EXPECT_EQ(list.path(), folder_);
    emit list.itemActivated(subs.front());
    EXPECT_EQ(list.path(), folder_ + "/sub");
    // The chain up to the root stays in the list, so the user can climb back.
    const auto up = list.findItems(QDir(folder_).dirName(), Qt::MatchEndsWith);
    ASSERT_FALSE(up.isEmpty());
    emit list.itemActivated(up.front());
    EXPECT_EQ(list.path(), folder_);
}

TEST(DriveListTest, TheRootIsAlwaysListedAndEveryPathHasADrive) {
    const QStringList mounts = DriveList::mountPoints();
    ASSERT_FALSE(mounts.isEmpty());
    EXPECT_EQ(mounts.front(), "/");
    EXPECT_TRUE(mounts.contains(DriveList::homeDrive()));
    EXPECT_EQ(DriveList::driveOf("/"), "/");
    DriveList list;
    EXPECT_EQ(list.drive(), DriveList::homeDrive());
    EXPECT_FALSE(list.setDrive("/no/such/mount"));
    EXPECT_TRUE(list.setDrive("/"));
    EXPECT_EQ(list.drive(), "/");
}

}  // namespace
}  // namespace kestro
