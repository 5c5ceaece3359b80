// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QWidget>
#include <array>

#include "operation_buttons.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;

namespace kestro {

class Controls;
class PageBar;
class StartupSettings;
namespace ops {
struct Inputs;
}

// The "Xicor" page: the companion chip's register block (SFR), EEPROM place (EEM) and block
// protection (BPR), each with its button, and the column of EEPROM tools.
class XicorPage : public QWidget {
    Q_OBJECT
  public:
    XicorPage(const Controls& controls, const RunOperation& run);

    // The eight 8 KB blocks of the address space the chip's EEPROM may take.
    void fillBlocks();
    QString sfrText() const { return sfrText_; }
    QProgressBar* progressBar() const { return bar_; }
    void restore(const StartupSettings& settings);
    void save(StartupSettings& settings) const;
    void addTo(ops::Inputs& in) const;

  private:
    void sfrChanged();

    QString sfrText_ = QStringLiteral("0400");
    PageBar* scSfr_ = nullptr;
    QLabel* leSfr_ = nullptr;
    QComboBox* eemMap_ = nullptr;
    QCheckBox* eemLam_ = nullptr;
    QCheckBox* eemRes_ = nullptr;
    std::array<QCheckBox*, 8> bpr_{};
    QProgressBar* bar_ = nullptr;
};

}  // namespace kestro
