// SPDX-License-Identifier: GPL-3.0-or-later
#include "file_chooser.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSettings>

#include "announce.h"
#include "combo_selection.h"
#include "drive_list.h"
#include "file_list.h"
#include "folder_list.h"
#include "ui_rules.h"

namespace kestro {

namespace {

constexpr const char* kGroup = "startup";
constexpr int kWidthTwips = 5805;
constexpr int kHeightTwips = 4935;
constexpr const char* kMustBeSRecord = "The file must be a S-RECORD";

double logicalDpi(const QWidget* w) {
    const QScreen* screen = w->screen() != nullptr ? w->screen() : QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->logicalDotsPerInch() : 96.0;
}

}  // namespace

FileChooser::FileChooser(QSettings& settings, QWidget* parent)
    : QDialog(parent), settings_(settings) {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("Kestro"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setModal(true);
    QFont f = font();
    f.setPointSizeF(8.25);
    setFont(f);

    const double dpi = logicalDpi(this);
    auto px = [dpi](int twips) { return shell::twipsToPixels(twips, dpi); };
    auto place = [&](QWidget* w, const char* name, int left, int top, int width, int height) {
        w->setObjectName(QString::fromLatin1(name));
        w->setGeometry(px(left), px(top), px(width), px(height));
    };
    setFixedSize(px(kWidthTwips), px(kHeightTwips));

    // A name or a path may be typed here as well as picked from the list.
    text1_ = new QLineEdit(this);
    place(text1_, "Text1", 240, 360, 1935, 315);
    auto* label6 = new QLabel(QString::fromLatin1(kMustBeSRecord), this);
    QFont bold = label6->font();
    bold.setBold(true);
    label6->setFont(bold);
    place(label6, "Label6", 2400, 360, 3285, 315);
    text1_->setAccessibleDescription(label6->text());
    label6_ = label6;
    // A typed name that is being mended no longer stands refused.
    connect(text1_, &QLineEdit::textEdited, this, [this] { showRefusal({}); });
    dir1_ = new FolderList(this);
    place(dir1_, "Dir1", 240, 1080, 1935, 2505);
    file1_ = new FileList(this);
    place(file1_, "File1", 2400, 1080, 1935, 2040);
    ok_ = new QPushButton(QStringLiteral("Ok"), this);
    place(ok_, "Ok", 4560, 1080, 1095, 375);
    ok_->setDefault(true);
    cancel_ = new QPushButton(QStringLiteral("Cancel"), this);
    place(cancel_, "Cancel", 4560, 1680, 1095, 375);
    combo1_ = new QComboBox(this);
    combo1_->setEditable(true);
    // A typed pattern filters the list as it is typed; it does not join the three offered.
    combo1_->setInsertPolicy(QComboBox::NoInsert);
    combo1_->lineEdit()->installEventFilter(this);
    widgets::takeSelectionAsChoice(combo1_);
    place(combo1_, "Combo1", 240, 3960, 1935, 375);
    drive1_ = new DriveList(this);
    place(drive1_, "Drive1", 2400, 3960, 1935, 375);

    // The caption above each control also names it for screen readers.
    const struct {
        const char* name;
        const char* caption;
        QWidget* buddy;
        int left, top;
    } captions[] = {{"Label5", "File:", text1_, 240, 120},
                    {"Label1", "Directories:", dir1_, 240, 840},
                    {"Label4", "File Name:", file1_, 2400, 840},
                    {"Label2", "List Files of type:", combo1_, 240, 3720},
                    {"Label3", "Drives:", drive1_, 2400, 3720}};
    for (const auto& c : captions) {
        auto* label = new QLabel(QString::fromLatin1(c.caption), this);
        place(label, c.name, c.left, c.top, 1935, 240);
        label->setBuddy(c.buddy);
        c.buddy->setAccessibleName(label->text());
    }

    // Keyboard order as the dialog reads, row by row: name, folders, files, Ok, Cancel,
    // pattern, drives.
    setTabOrder(text1_, dir1_);
    setTabOrder(dir1_, file1_);
    setTabOrder(file1_, ok_);
    setTabOrder(ok_, cancel_);
    setTabOrder(cancel_, combo1_);
    setTabOrder(combo1_, drive1_);

    connect(drive1_, &DriveList::driveChanged, this, &FileChooser::driveChanged);
    connect(dir1_, &FolderList::pathChanged, this, &FileChooser::folderChanged);
    connect(file1_, &FileList::fileSelected, text1_, &QLineEdit::setText);
    connect(file1_, &FileList::fileActivated, this, &FileChooser::fileActivated);
    connect(combo1_, &QComboBox::editTextChanged, file1_, &FileList::setPattern);
    connect(ok_, &QPushButton::clicked, this, &FileChooser::okClicked);
    connect(cancel_, &QPushButton::clicked, this, &FileChooser::reject);

    load();
}

QString FileChooser::choose(QSettings& settings, QWidget* parent) {
    FileChooser dialog(settings, parent);
    dialog.exec();
    return dialog.result();
}

void FileChooser::load() {
    // The wide-screen rule, as for the main window.
    if (const QScreen* screen = this->screen()) {
        const double dpi = screen->logicalDotsPerInch();
        const QRect area = screen->geometry();
        const auto at =
            shell::placeWindow(shell::pixelsToTwips(area.width(), dpi),
                               shell::pixelsToTwips(area.height(), dpi), kWidthTwips, kHeightTwips);
        move(area.left() + shell::twipsToPixels(at.left, dpi),
             area.top() + shell::twipsToPixels(at.top, dpi));
    }
    combo1_->addItems({QStringLiteral("*.S19"), QStringLiteral("*.MOT"), QStringLiteral("*.*")});
    combo1_->setCurrentIndex(0);
    done_ = false;

    settings_.beginGroup(QLatin1String(kGroup));
    const QString drive = settings_.value(QStringLiteral("drive"), QString()).toString();
    const QString dirpath = settings_.value(QStringLiteral("dirpath"), QString()).toString();
    const QString filepath = settings_.value(QStringLiteral("filepath"), QString()).toString();
    const QString pattern = settings_.value(QStringLiteral("pattern"), QString()).toString();
    const QString text = settings_.value(QStringLiteral("text"), QString()).toString();
    settings_.endGroup();

    // A remembered place that is empty or gone sends the dialog to the fallback, quietly.
    if (!drive1_->setDrive(drive) || !dir1_->setPath(dirpath)) {
        fallBack();
        return;
    }
    const QFileInfo fileFolder(filepath);
    if (filepath.isEmpty() || !fileFolder.isDir()) {
        fallBack();
        return;
    }
    file1_->setFolder(QDir::cleanPath(fileFolder.absoluteFilePath()));
    file1_->setPattern(pattern);
    text1_->setText(text);
    // Selected, as file dialogs have it: a name typed at once replaces the remembered one, and
    // Enter still takes it as it stands.
    text1_->selectAll();
    result_ = QString::fromStdString(shell::joinPath(
        dir1_->path().toStdString(), (file1_->selectedName() + text).toStdString()));
}

void FileChooser::fallBack() {
    const QString home = DriveList::homeFolder();
    dir1_->setPath(home);
    file1_->setFolder(home);
    file1_->setPattern(QStringLiteral("*.S19"));
    text1_->clear();
    result_.clear();
}

void FileChooser::driveChanged(const QString& drive) {
    // A drive's own current folder: the folder list's, when it already lies on that drive.
    if (DriveList::driveOf(dir1_->path()) == drive) {
        return;
    }
    if (!dir1_->setPath(drive)) {
        const QSignalBlocker block(drive1_);
        drive1_->setDrive(DriveList::homeDrive());
        dir1_->setPath(DriveList::homeFolder());
    }
}

void FileChooser::folderChanged(const QString& folder) {
    file1_->setFolder(folder);
    text1_->clear();
}

void FileChooser::fileActivated(const QString& name) {
    chooseAndClose(
        QString::fromStdString(shell::joinPath(dir1_->path().toStdString(), name.toStdString())));
}

bool FileChooser::eventFilter(QObject* watched, QEvent* event) {
    // Enter in the pattern box applies the typed pattern; in a dialog it would press Ok.
    if (watched == combo1_->lineEdit() && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            file1_->setPattern(combo1_->currentText());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void FileChooser::okClicked() {
    QString name = text1_->text();
    if (name.isEmpty()) {
        result_ = QString::fromLatin1(kCancel);
        done_ = true;
        QDialog::reject();
        return;
    }
    // A typed path: relative to the folder shown, from the root, or from the home folder as a
    // shell reads "~/". A folder is opened, as Enter on it in the folder list would; a file's
    // folder becomes the one remembered.
    if (name == QLatin1String("~") || name.startsWith(QLatin1String("~/")))
        name = QDir::homePath() + QLatin1Char('/') + name.mid(2);
    if (name.contains(QLatin1Char('/'))) {
        const QFileInfo typed(QDir(dir1_->path()), name);
        if (typed.isDir()) {
            if (dir1_->setPath(typed.absoluteFilePath())) {
                text1_->clear();
            }
            return;
        }
        if (!dir1_->setPath(typed.absolutePath())) {
            // The name stays for the user to mend.
            showRefusal(QStringLiteral("No folder ") + QDir::cleanPath(typed.absolutePath()));
            return;
        }
        name = typed.fileName();
        text1_->setText(name);
    }
    chooseAndClose(
        QString::fromStdString(shell::joinPath(dir1_->path().toStdString(), name.toStdString())));
}

void FileChooser::showRefusal(const QString& why) {
    const QString text = why.isEmpty() ? QString::fromLatin1(kMustBeSRecord) : why;
    if (text1_->accessibleDescription() == text)
        return;
    // A long path is shortened in its middle to the label's width; the tooltip and what a
    // screen reader reads keep it whole.
    label6_->setText(
        label6_->fontMetrics().elidedText(text, Qt::ElideMiddle, label6_->contentsRect().width()));
    label6_->setToolTip(why);
    label6_->setAccessibleName(why);
    text1_->setAccessibleDescription(text);
    if (!why.isEmpty()) {
        QAccessibleEvent alert(label6_, QAccessible::Alert);
        widgets::announce(alert);
    }
}

void FileChooser::chooseAndClose(const QString& path) {
    result_ = path;
    done_ = true;
    settings_.beginGroup(QLatin1String(kGroup));
    settings_.setValue(QStringLiteral("drive"), drive1_->drive());
    settings_.setValue(QStringLiteral("dirpath"), dir1_->path());
    settings_.setValue(QStringLiteral("filepath"), file1_->folder());
    settings_.setValue(QStringLiteral("pattern"), file1_->pattern());
    settings_.setValue(QStringLiteral("text"), text1_->text());
    settings_.endGroup();
    settings_.sync();
    accept();
}

void FileChooser::reject() {
    // Cancel, Escape and the window's close control all leave the caller with "Cancel".
    result_ = QString::fromLatin1(kCancel);
    done_ = true;
    QDialog::reject();
}

}  // namespace kestro
