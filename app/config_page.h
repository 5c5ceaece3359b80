// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>
#include <array>

#include "operation_buttons.h"

class QCheckBox;
class QComboBox;

namespace kestro {

class Controls;
class StartupSettings;
namespace ops {
struct Inputs;
}

// The "Config Regs" page: the CONFIG bits as check boxes, the HC811E2's EEPROM location, and
// the button that programs them.
class ConfigPage : public QWidget {
    Q_OBJECT
  public:
    ConfigPage(const Controls& controls, const RunOperation& run);

    // The sixteen places of the HC811E2's EEPROM, $0800-$0FFF to $F800-$FFFF.
    void fillLocations();
    void restore(const StartupSettings& settings);
    void save(StartupSettings& settings) const;
    void addTo(ops::Inputs& in) const;

  private:
    std::array<QCheckBox*, 4> config_{};
    QComboBox* config5_ = nullptr;
};

}  // namespace kestro
