// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>
#include <QString>

namespace kestro {

// A folder list: the chain of folders from the root down to the current one, then the current
// folder's subfolders. Activating an entry (double-click or Enter) makes it the current folder;
// a single click only selects it.
class FolderList : public QListWidget {
    Q_OBJECT
  public:
    explicit FolderList(QWidget* parent = nullptr);

    QString path() const { return path_; }
    // Moves to folder; false, and nothing changes, when it is not a readable folder.
    bool setPath(const QString& folder);

    // Type-ahead on the folders' names: the rows are indented by depth.
    void keyboardSearch(const QString& search) override;

  signals:
    void pathChanged(const QString& path);

  protected:
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void fill();

    QString path_;
    QString typed_;
    qint64 typedAt_ = 0;
};

}  // namespace kestro
