// SPDX-License-Identifier: GPL-3.0-or-later
#include "drive_list.h"
#include "combo_selection.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QStorageInfo>

namespace kestro {

DriveList::DriveList(QWidget* parent) : QComboBox(parent) {
    setEditable(false);
    setFocusPolicy(Qt::StrongFocus);
    for (const QString& mount : mountPoints()) {
        addItem(mount, mount);
        setItemData(count() - 1, mount, Qt::ToolTipRole);
    }
    // Long mount points stay readable in the open list.
    view()->setMinimumWidth(view()->sizeHintForColumn(0) + 24);
    setCurrentIndex(findData(homeDrive()));
    connect(this, &QComboBox::currentIndexChanged, this, [this] { emit driveChanged(drive()); });
    widgets::takeSelectionAsChoice(this);
}

QString DriveList::drive() const {
    return currentData().toString();
}

bool DriveList::setDrive(const QString& mountPoint) {
    const int index = mountPoint.isEmpty() ? -1 : findData(QDir::cleanPath(mountPoint));
    if (index < 0) {
        return false;
    }
    setCurrentIndex(index);
    return true;
}

QStringList DriveList::mountPoints() {
    // Kernel and memory file systems are no place for a user's files.
    static const QSet<QByteArray> pseudo = {
        "proc",        "sysfs",          "devtmpfs",   "devpts",     "tmpfs",    "cgroup",
        "cgroup2",     "pstore",         "securityfs", "debugfs",    "tracefs",  "mqueue",
        "hugetlbfs",   "configfs",       "fusectl",    "bpf",        "autofs",   "binfmt_misc",
        "efivarfs",    "nsfs",           "ramfs",      "rpc_pipefs", "squashfs", "overlay",
        "fuse.portal", "fuse.gvfsd-fuse"};
    QStringList result{QStringLiteral("/")};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = QDir::cleanPath(volume.rootPath());
        if (!volume.isValid() || !volume.isReady() || root == QLatin1String("/") ||
            pseudo.contains(volume.fileSystemType()) || !QFileInfo(root).isDir()) {
            continue;
        }
        static const QStringList systemTrees = {"/proc",     "/sys",  "/dev",  "/run/user",
                                                "/run/lock", "/snap", "/boot", "/etc"};
        bool system = false;
        for (const QString& tree : systemTrees) {
            if (root == tree || root.startsWith(tree + QLatin1Char('/'))) {
                system = true;
            }
        }
        if (!system && !result.contains(root)) {
            result << root;
        }
    }
    std::sort(result.begin() + 1, result.end());
    return result;
}

QString DriveList::driveOf(const QString& path) {
    const QString clean = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString best = QStringLiteral("/");
    for (const QString& mount : mountPoints()) {
        if ((clean == mount || clean.startsWith(mount + QLatin1Char('/'))) &&
            mount.size() > best.size()) {
            best = mount;
        }
    }
    return best;
}

QString DriveList::homeFolder() {
    return QDir::cleanPath(QDir::homePath());
}

}  // namespace kestro
