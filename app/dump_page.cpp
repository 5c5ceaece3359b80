// SPDX-License-Identifier: GPL-3.0-or-later
#include "dump_page.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <algorithm>

#include "controls.h"
#include "drive_list.h"
#include "folder_list.h"
#include "operations.h"
#include "settings_store.h"

namespace kestro {

DumpPage::DumpPage(StartupSettings& settings, const Controls& controls, const RunOperation& run)
    : settings_(settings) {
    auto* layout = new QHBoxLayout(this);
    range_ = new RangeSelector(AddressRange::Dump, controls, this);
    layout->addWidget(range_);
    layout->addSpacing(controls.px(120));

    auto* right = new QVBoxLayout;
    drive_ = new DriveList(this);
    drive_->setObjectName(QStringLiteral("DumpDrive"));
    drive_->setAccessibleName(QStringLiteral("Dump drive"));
    dir_ = new FolderList(this);
    dir_->setObjectName(QStringLiteral("DumpDir"));
    dir_->setAccessibleName(QStringLiteral("Dump folder"));
    dir_->setPath(DriveList::homeFolder());
    right->addWidget(drive_);
    right->addWidget(dir_, 1);

    auto* fileRow = new QHBoxLayout;
    auto* dumpfile = new QLineEdit(QStringLiteral("upload.s19"), this);
    dumpfile->setObjectName(QStringLiteral("Dumpfile"));
    dumpfile->setReadOnly(true);
    dumpfile->setAccessibleName(QStringLiteral("Dump file"));
    fileRow->addWidget(dumpfile, 1);
    addOperationButtons(controls, fileRow, this, ButtonGroup::Dump, run);
    right->addLayout(fileRow);

    auto* warning = controls.label(this, "DumpWarning", QStringLiteral("That could be VERY LONG"),
                                   0, true, Qt::AlignCenter);
    QPalette red = warning->palette();
    red.setColor(QPalette::WindowText, QColor(0xC0, 0, 0));
    warning->setPalette(red);
    keepPlaceWhenHidden(warning);
    warning->hide();
    right->addWidget(warning);
    // What has come of the range: a dump of all 64 KB at 1200 baud takes some 24 minutes.
    received_ = controls.progressBar(right, this, "DumpBar");
    received_->setAccessibleName(QStringLiteral("Bytes received"));
    layout->addLayout(right, 1);

    connect(dir_, &FolderList::pathChanged, this, &DumpPage::folderChanged);
    connect(drive_, &DriveList::driveChanged, this, &DumpPage::driveChanged);
}

void DumpPage::restore(const StartupSettings& settings) {
    range_->restore(settings);
    const QString folder = settings.text("dumpdir", DriveList::homeFolder());
    if (folder != dir_->path() && !dir_->setPath(folder)) {
        fallBack();
    }
    const QString drive = settings.text("dumpdrive", DriveList::homeDrive());
    if (drive != drive_->drive() && !drive_->setDrive(drive)) {
        fallBack();
    }
}

void DumpPage::addTo(ops::Inputs& in) const {
    in.dumpBegin = range_->text(0).toStdString();
    in.dumpEnd = range_->text(1).toStdString();
    in.dumpFolder = std::filesystem::path(QFile::encodeName(dir_->path()).toStdString());
}

void DumpPage::showReceived(std::optional<Received> received) {
    if (!received || received->total <= 0) {
        received_->hide();
        return;
    }
    const QLocale english(QLocale::English);
    received_->setRange(0, static_cast<int>(received->total));
    received_->setValue(static_cast<int>(std::min(received->bytes, received->total)));
    received_->setFormat(QStringLiteral("%1 of %2 bytes")
                             .arg(english.toString(static_cast<qlonglong>(received->bytes)),
                                  english.toString(static_cast<qlonglong>(received->total))));
    received_->setTextVisible(true);
    received_->show();
}

void DumpPage::folderChanged(const QString& folder) {
    settings_.setText("dumpdir", folder);
}

void DumpPage::driveChanged(const QString& drive) {
    settings_.setText("dumpdrive", drive);
    // The folder list stays where it is when it already lies on the chosen drive.
    if (DriveList::driveOf(dir_->path()) != drive && !dir_->setPath(drive)) {
        fallBack();
    }
}

void DumpPage::fallBack() {
    {
        const QSignalBlocker block(drive_);
        drive_->setDrive(DriveList::homeDrive());
    }
    dir_->setPath(DriveList::homeFolder());
    // Both are written even when the lists were already there, so that a folder that has gone
    // does not stay in the store.
    settings_.setText("dumpdir", dir_->path());
    settings_.setText("dumpdrive", drive_->drive());
}

}  // namespace kestro
