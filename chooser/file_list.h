// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QListWidget>
#include <QString>

namespace kestro {

// The files of one folder whose names match a pattern ("*.S19", several joined by ';'), matched
// without regard to case. Hidden files and folders are not listed.
class FileList : public QListWidget {
    Q_OBJECT
  public:
    explicit FileList(QWidget* parent = nullptr);

    QString folder() const { return folder_; }
    QString pattern() const { return pattern_; }
    void setFolder(const QString& folder);
    void setPattern(const QString& pattern);
    // The name of the selected file, empty when none is.
    QString selectedName() const;

  signals:
    // A file was picked by click or keyboard.
    void fileSelected(const QString& name);
    // A file was double-clicked or Enter was pressed on it.
    void fileActivated(const QString& name);

  private:
    void fill();

    QString folder_;
    QString pattern_ = QStringLiteral("*.S19");
};

}  // namespace kestro
