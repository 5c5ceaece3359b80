#include <gtest/gtest.h>

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <map>
#include <memory>

#include "drive_list.h"
#include "file_chooser.h"
#include "file_list.h"
#include "folder_list.h"
#include "test_support.h"

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

    std::unique_ptr<FileChooser> open() { return std::make_unique<FileChooser>(*settings_); }

    template <typename T>
    static T* find(FileChooser& d, const char* name) {
        T* w = d.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static QStringList listed(FileChooser& d) {
        QStringList names;
        auto* list = find<FileList>(d, "File1");
        for (int i = 0; i < list->count(); ++i) {
            names << list->item(i)->text();
        }
        return names;
    }
    static void clickFile(FileChooser& d, const QString& name) {
        auto* list = find<FileList>(d, "File1");
        const auto items = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << qPrintable(name);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(items.front()).center());
    }
    std::map<QString, QString> keys() { return storedKeys(*settings_); }

    QTemporaryDir store_;
    QTemporaryDir files_;
    QString folder_;
    std::unique_ptr<QSettings> settings_;
};

// A click, the arrow keys and a screen reader's selection all put the name in "File:".
TEST_F(ChooserTest, EveryWayOfSelectingAFileFillsTheNameBox) {
    const std::pair<const char*, std::function<void(FileChooser&)>> ways[] = {
        {"click", [](FileChooser& d) { clickFile(d, "eeprom.s19"); }},
        {"arrow key",
         [](FileChooser& d) {
             auto* list = find<FileList>(d, "File1");
             list->setCurrentRow(1);
             find<QLineEdit>(d, "Text1")->clear();
             QTest::keyClick(list, Qt::Key_Up);
         }},
        {"screen reader",
         [](FileChooser& d) {
             QAccessibleInterface* list =
                 QAccessible::queryAccessibleInterface(find<FileList>(d, "File1"));
             for (int i = 0; i < list->childCount(); ++i) {
                 QAccessibleInterface* item = list->child(i);
                 if (item->text(QAccessible::Name) == "eeprom.s19") {
                     ASSERT_NE(item->actionInterface(), nullptr);
                     item->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
                 }
             }
         }},
    };
    for (const auto& [name, select] : ways) {
        auto d = open();
        find<FileList>(*d, "File1")->setFolder(folder_);
        select(*d);
        EXPECT_EQ(find<FileList>(*d, "File1")->selectedName(), "eeprom.s19") << name;
        EXPECT_EQ(find<QLineEdit>(*d, "Text1")->text(), "eeprom.s19") << name;
    }
}

TEST_F(ChooserTest, AChosenFileIsRememberedForTheNextOpening) {
    {
        auto d = open();
        ASSERT_TRUE(find<FolderList>(*d, "Dir1")->setPath(folder_));
        // The pattern matches without regard to case.
        EXPECT_EQ(listed(*d), (QStringList{"eeprom.s19", "NAME.S19"}));
        clickFile(*d, "NAME.S19");
        find<QPushButton>(*d, "Ok")->click();
    }
    const std::map<QString, QString> expected = {{"startup/dirpath", folder_},
                                                 {"startup/filepath", folder_},
                                                 {"startup/pattern", "*.S19"},
                                                 {"startup/text", "NAME.S19"},
                                                 {"startup/drive", DriveList::driveOf(folder_)}};
    EXPECT_EQ(keys(), expected);
    auto again = open();
    EXPECT_EQ(find<FolderList>(*again, "Dir1")->path(), folder_);
    EXPECT_EQ(find<QLineEdit>(*again, "Text1")->text(), "NAME.S19");
    find<QPushButton>(*again, "Ok")->click();
    EXPECT_EQ(again->result(), folder_ + "/NAME.S19");
}

TEST_F(ChooserTest, OkAndADoubleClickJoinFolderAndName) {
    struct Case {
        const char* what;
        QString folder;
        bool doubleClick;
        QString expected;
    };
    for (const Case& c : {Case{"Ok", folder_, false, folder_ + "/eeprom.s19"},
                          Case{"double-click", folder_, true, folder_ + "/eeprom.s19"},
                          Case{"Ok in the root", "/", false, "/eeprom.s19"}}) {
        SCOPED_TRACE(c.what);
        auto d = open();
        ASSERT_TRUE(find<FolderList>(*d, "Dir1")->setPath(c.folder));
        if (c.doubleClick) {
            auto* list = find<FileList>(*d, "File1");
            emit list->itemActivated(list->findItems("eeprom.s19", Qt::MatchExactly).front());
        } else {
            find<QLineEdit>(*d, "Text1")->setText("eeprom.s19");
            find<QPushButton>(*d, "Ok")->click();
        }
        EXPECT_TRUE(d->isDone());
        EXPECT_EQ(d->result(), c.expected);
        EXPECT_EQ(keys().at("startup/dirpath"), c.folder);
    }
}

TEST_F(ChooserTest, ATypedPatternFiltersAndIsRememberedWithoutTheComboShowingIt) {
    {
        auto d = open();
        ASSERT_TRUE(find<FolderList>(*d, "Dir1")->setPath(folder_));
        auto* combo = find<QComboBox>(*d, "Combo1");
        combo->lineEdit()->clear();
        QTest::keyClicks(combo->lineEdit(), "*.HEX");
        EXPECT_EQ(find<FileList>(*d, "File1")->pattern(), "*.HEX");
        EXPECT_EQ(listed(*d), QStringList{"table.hex"});
        combo->setCurrentIndex(2);
        EXPECT_EQ(listed(*d).size(), 5);
        combo->setCurrentIndex(1);
        EXPECT_EQ(listed(*d), QStringList{"ram.MOT"});
        clickFile(*d, "ram.MOT");
        find<QPushButton>(*d, "Ok")->click();
    }
    EXPECT_EQ(keys().at("startup/pattern"), "*.MOT");
    auto again = open();
    EXPECT_EQ(find<FileList>(*again, "File1")->pattern(), "*.MOT");
    EXPECT_EQ(listed(*again), QStringList{"ram.MOT"});
    EXPECT_EQ(find<QComboBox>(*again, "Combo1")->currentText(), "*.S19");
}

TEST_F(ChooserTest, CancelOkWithoutANameAndTheCloseControlAllGiveCancel) {
    settings_->setValue("startup/text", "kept");
    const auto before = keys();
    struct Case {
        const char* what;
        std::function<void(FileChooser&)> step;
        const char* button;  // clicked after the step, if any
    };
    const Case cases[] = {
        {"Cancel", nullptr, "Cancel"},
        {"close control", [](FileChooser& d) { d.close(); }, nullptr},
        {"Escape", [](FileChooser& d) { QTest::keyClick(&d, Qt::Key_Escape); }, nullptr},
        {"Ok with no name", [](FileChooser& d) { find<QLineEdit>(d, "Text1")->clear(); }, "Ok"},
        {"Ok after a move, which empties the name",
         [this](FileChooser& d) { find<FolderList>(d, "Dir1")->setPath(folder_ + "/sub"); }, "Ok"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto d = open();
        ASSERT_TRUE(find<FolderList>(*d, "Dir1")->setPath(folder_));
        clickFile(*d, "NAME.S19");
        d->show();
        if (c.step) {
            c.step(*d);
        }
        if (c.button != nullptr) {
            find<QPushButton>(*d, c.button)->click();
        }
        EXPECT_TRUE(d->isDone());
        EXPECT_EQ(d->result(), "Cancel");
        EXPECT_EQ(keys(), before);
    }
}

TEST_F(ChooserTest, ANewOrLostPlaceOpensAtHomeWithTheS19Pattern) {
    for (const bool lost : {false, true}) {
        SCOPED_TRACE(lost ? "folder gone" : "nothing stored");
        if (lost) {
            for (const char* key : {"dirpath", "filepath"}) {
                settings_->setValue(QStringLiteral("startup/") + key, folder_ + "/gone");
            }
            settings_->setValue("startup/drive", DriveList::driveOf(folder_));
            settings_->setValue("startup/pattern", "*.MOT");
            settings_->setValue("startup/text", "x.MOT");
        }
        auto d = open();
        EXPECT_EQ(find<FolderList>(*d, "Dir1")->path(), DriveList::homeFolder());
        EXPECT_EQ(find<FileList>(*d, "File1")->folder(), DriveList::homeFolder());
        EXPECT_EQ(find<FileList>(*d, "File1")->pattern(), "*.S19");
        EXPECT_EQ(find<QComboBox>(*d, "Combo1")->currentText(), "*.S19");
        EXPECT_TRUE(find<QLineEdit>(*d, "Text1")->text().isEmpty());
    }
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
