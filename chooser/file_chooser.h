// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSettings;

namespace kestro {

class DriveList;
class FileList;
class FolderList;

// The S-record file chooser: a modal dialog that remembers its drive, folder, pattern and file
// name in the settings group "startup", written only when a file is chosen.
class FileChooser : public QDialog {
    Q_OBJECT
  public:
    static constexpr const char* kCancel = "Cancel";

    // settings: the program's settings store; the dialog reads its keys at once.
    explicit FileChooser(QSettings& settings, QWidget* parent = nullptr);

    // The full path of the chosen file, or "Cancel". Meaningful once the dialog has closed.
    QString result() const { return result_; }
    // Whether the dialog has closed through Ok, Cancel, a double-click or its close control.
    bool isDone() const { return done_; }

    // Shows the dialog modally and returns its result.
    static QString choose(QSettings& settings, QWidget* parent = nullptr);

  public slots:
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void load();
    void fallBack();
    void driveChanged(const QString& drive);
    void folderChanged(const QString& folder);
    void okClicked();
    void fileActivated(const QString& name);
    void chooseAndClose(const QString& path);
    // Says beside the name why a typed path was not taken; empty: the usual line again.
    void showRefusal(const QString& why);

    QSettings& settings_;
    QString result_;
    bool done_ = false;

    QLineEdit* text1_;
    QLabel* label6_;
    FolderList* dir1_;
    FileList* file1_;
    QPushButton* ok_;
    QPushButton* cancel_;
    QComboBox* combo1_;
    DriveList* drive1_;
};

}  // namespace kestro
