#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <map>
#include <memory>

#include "drive_list.h"
#include "file_list.h"
#include "folder_list.h"
#include "form2.h"
#include "qt_print.h"

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

    std::unique_ptr<Form2> open() { return std::make_unique<Form2>(*settings_); }

    template <typename T>
    static T* find(Form2& d, const char* name) {
        T* w = d.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    static QStringList listed(Form2& d) {
        QStringList names;
        auto* list = find<FileList>(d, "File1");
        for (int i = 0; i < list->count(); ++i) {
            names << list->item(i)->text();
        }
        return names;
    }
    static void clickFile(Form2& d, const QString& name) {
        auto* list = find<FileList>(d, "File1");
        const auto items = list->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(items.size(), 1) << qPrintable(name);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                          list->visualItemRect(items.front()).center());
    }
    std::map<QString, QString> keys() {
        settings_->sync();
        std::map<QString, QString> all;
        for (const QString& key : settings_->allKeys()) {
            all[key] = settings_->value(key).toString();
        }
        return all;
    }

    QTemporaryDir store_;
    QTemporaryDir files_;
    QString folder_;
    std::unique_ptr<QSettings> settings_;
};

TEST_F(ChooserTest, FirstOpeningFallsBackToHomeAndTheS19Pattern) {
    auto d = open();
    EXPECT_EQ(d->windowTitle(), "Kestro");
    EXPECT_TRUE(d->isModal());
    EXPECT_EQ(find<FolderList>(*d, "Dir1")->path(), DriveList::homeFolder());
    EXPECT_EQ(find<FileList>(*d, "File1")->folder(), DriveList::homeFolder());
    EXPECT_EQ(find<FileList>(*d, "File1")->pattern(), "*.S19");
    EXPECT_TRUE(find<QLineEdit>(*d, "Text1")->text().isEmpty());
    EXPECT_TRUE(find<QLineEdit>(*d, "Text1")->isReadOnly());
    auto* combo = find<QComboBox>(*d, "Combo1");
    EXPECT_EQ(combo->currentText(), "*.S19");
    ASSERT_EQ(combo->count(), 3);
    EXPECT_EQ(combo->itemText(1), "*.MOT");
    EXPECT_EQ(combo->itemText(2), "*.*");
    EXPECT_TRUE(combo->isEditable());
    for (const auto& [name, caption] :
         std::map<const char*, const char*>{{"Label5", "File:"},
                                            {"Label6", "The file must be a S-RECORD"},
                                            {"Label1", "Directories:"},
                                            {"Label4", "File Name:"},
                                            {"Label2", "List Files of type:"},
                                            {"Label3", "Drives:"}}) {
        EXPECT_EQ(d->findChild<QWidget*>(name)->property("text").toString(), caption) << name;
    }
    EXPECT_EQ(find<QPushButton>(*d, "Ok")->text(), "Ok");
    EXPECT_EQ(find<QPushButton>(*d, "Cancel")->text(), "Cancel");
}

TEST_F(ChooserTest, AChosenFileIsRememberedForTheNextOpening) {
    {
        auto d = open();
        ASSERT_TRUE(find<FolderList>(*d, "Dir1")->setPath(folder_));
        // The pattern matches without regard to case.
        EXPECT_EQ(listed(*d), (QStringList{"eeprom.s19", "NAME.S19"}));
        clickFile(*d, "NAME.S19");
        EXPECT_EQ(find<QLineEdit>(*d, "Text1")->text(), "NAME.S19");
        find<QPushButton>(*d, "Ok")->click();
        EXPECT_TRUE(d->isDone());
        EXPECT_EQ(d->result(), folder_ + "/NAME.S19");
    }
    const auto stored = keys();
    EXPECT_EQ(stored.at("startup/dirpath"), folder_);
    EXPECT_EQ(stored.at("startup/filepath"), folder_);
    EXPECT_EQ(stored.at("startup/pattern"), "*.S19");
    EXPECT_EQ(stored.at("startup/text"), "NAME.S19");
    EXPECT_EQ(stored.at("startup/drive"), DriveList::driveOf(folder_));

    auto again = open();
    EXPECT_EQ(find<FolderList>(*again, "Dir1")->path(), folder_);
    EXPECT_EQ(find<FileList>(*again, "File1")->folder(), folder_);
    EXPECT_EQ(find<QLineEdit>(*again, "Text1")->text(), "NAME.S19");
    find<QPushButton>(*again, "Ok")->click();
    EXPECT_EQ(again->result(), folder_ + "/NAME.S19");
}

TEST_F(ChooserTest, ADoubleClickChoosesAndWritesTheKeys) {
    auto d = open();
    ASSERT_TRUE(find<FolderList>(*d, "Dir1")->setPath(folder_));
    auto* list = find<FileList>(*d, "File1");
    const auto items = list->findItems("eeprom.s19", Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    emit list->itemActivated(items.front());
    EXPECT_TRUE(d->isDone());
    EXPECT_EQ(d->result(), folder_ + "/eeprom.s19");
    EXPECT_EQ(keys().at("startup/dirpath"), folder_);
}

TEST_F(ChooserTest, AFileInTheRootFolderGetsOneSeparator) {
    auto d = open();
    ASSERT_TRUE(find<FolderList>(*d, "Dir1")->setPath("/"));
    EXPECT_EQ(find<FileList>(*d, "File1")->folder(), "/");
    find<QLineEdit>(*d, "Text1")->setText("NAME.S19");
    find<QPushButton>(*d, "Ok")->click();
    EXPECT_EQ(d->result(), "/NAME.S19");
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
        std::function<void(Form2&)> close;
    };
    const Case cases[] = {
        {"Cancel", [](Form2& d) { find<QPushButton>(d, "Cancel")->click(); }},
        {"Ok with no name",
         [](Form2& d) {
             find<QLineEdit>(d, "Text1")->clear();
             find<QPushButton>(d, "Ok")->click();
         }},
        {"close control",
         [](Form2& d) {
             d.show();
             d.close();
         }},
        {"Escape",
         [](Form2& d) {
             d.show();
             QTest::keyClick(&d, Qt::Key_Escape);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto d = open();
        ASSERT_TRUE(find<FolderList>(*d, "Dir1")->setPath(folder_));
        clickFile(*d, "NAME.S19");
        if (std::string(c.what) == "Ok with no name") {
            find<QLineEdit>(*d, "Text1")->clear();
        }
        c.close(*d);
        EXPECT_TRUE(d->isDone());
        EXPECT_EQ(d->result(), "Cancel");
        EXPECT_EQ(keys(), before);
    }
}

TEST_F(ChooserTest, ChoosingAFolderEmptiesTheName) {
    auto d = open();
    auto* dir1 = find<FolderList>(*d, "Dir1");
    ASSERT_TRUE(dir1->setPath(folder_));
    clickFile(*d, "NAME.S19");
    ASSERT_TRUE(dir1->setPath(folder_ + "/sub"));
    EXPECT_TRUE(find<QLineEdit>(*d, "Text1")->text().isEmpty());
    EXPECT_EQ(find<FileList>(*d, "File1")->folder(), folder_ + "/sub");
    find<QPushButton>(*d, "Ok")->click();
    EXPECT_EQ(d->result(), "Cancel");
}

TEST_F(ChooserTest, AFolderThatIsGoneSendsTheDialogHome) {
    settings_->setValue("startup/drive", DriveList::driveOf(folder_));
    settings_->setValue("startup/dirpath", folder_ + "/gone");
    settings_->setValue("startup/filepath", folder_ + "/gone");
    settings_->setValue("startup/pattern", "*.MOT");
    settings_->setValue("startup/text", "x.MOT");
    auto d = open();
    EXPECT_EQ(find<FolderList>(*d, "Dir1")->path(), DriveList::homeFolder());
    EXPECT_EQ(find<FileList>(*d, "File1")->pattern(), "*.S19");
    EXPECT_TRUE(find<QLineEdit>(*d, "Text1")->text().isEmpty());
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
