// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <optional>

#include "operation_buttons.h"
#include "operation_ui.h"
#include "range_selector.h"

class QProgressBar;

namespace kestro {

class Controls;
class DriveList;
class FolderList;
class StartupSettings;
namespace ops {
struct Inputs;
}

// The "Dump" page: the range to dump, and the drive and folder that receive upload.s19. The
// folder is kept in the store as soon as the user moves it.
class DumpPage : public QWidget {
    Q_OBJECT
  public:
    DumpPage(StartupSettings& settings, const Controls& controls, const RunOperation& run);

    RangeSelector* range() const { return range_; }
    void restore(const StartupSettings& settings);
    void addTo(ops::Inputs& in) const;
    // How much of the range has come in; nullopt hides it.
    void showReceived(std::optional<Received> received);

  private:
    void folderChanged(const QString& folder);
    void driveChanged(const QString& drive);
    void fallBack();

    StartupSettings& settings_;
    RangeSelector* range_ = nullptr;
    FolderList* dir_ = nullptr;
    DriveList* drive_ = nullptr;
    QProgressBar* received_ = nullptr;
};

}  // namespace kestro
