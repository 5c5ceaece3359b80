// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "operation_buttons.h"

class QLineEdit;
class QProgressBar;

namespace kestro {

class Controls;
class StartupSettings;
namespace ops {
struct Inputs;
}

// The "External" page: download to external RAM with its start address on the left, program
// and compare of an external EEPROM on the right.
class ExternalPage : public QWidget {
    Q_OBJECT
  public:
    ExternalPage(const Controls& controls, const RunOperation& run);

    QProgressBar* progressBar() const { return bar_; }
    void restore(const StartupSettings& settings);
    void save(StartupSettings& settings) const;
    void addTo(ops::Inputs& in) const;

  private:
    QLineEdit* startAdress_ = nullptr;
    QProgressBar* bar_ = nullptr;
};

}  // namespace kestro
