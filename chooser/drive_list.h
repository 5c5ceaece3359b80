// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QComboBox>
#include <QString>
#include <QStringList>

namespace kestro {

// A drive list for a system without drive letters: the mount points of the real file systems
// (the root is always there). The list reports a drive as its mount point, e.g. "/" or
// "/media/user/STICK".
class DriveList : public QComboBox {
    Q_OBJECT
  public:
    explicit DriveList(QWidget* parent = nullptr);

    QString drive() const;
    // Chooses a listed drive; false, and nothing changes, when it is not in the list.
    bool setDrive(const QString& mountPoint);

    // The mount points shown, root first.
    static QStringList mountPoints();
    // The listed drive that holds path: the longest mount point it lies under.
    static QString driveOf(const QString& path);
    // The drive of the user's home folder, where the lists go when a drive cannot be read.
    static QString homeDrive() { return driveOf(homeFolder()); }
    static QString homeFolder();

  signals:
    void driveChanged(const QString& mountPoint);
};

}  // namespace kestro
