// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QWidget>

#include "operation_buttons.h"
#include "range_selector.h"

class QProgressBar;

namespace kestro {

class Controls;
class StartupSettings;
namespace ops {
struct Inputs;
}

// The "Eeprom" and "Eprom" pages: an on-chip memory's range beside its column of operations,
// with the progress of a file being sent at the foot.
class MemoryPage : public QWidget {
    Q_OBJECT
  public:
    // range: AddressRange::Eeprom or AddressRange::Eprom.
    MemoryPage(AddressRange range, const Controls& controls, const RunOperation& run);

    RangeSelector* range() const { return range_; }
    QProgressBar* progressBar() const { return bar_; }
    void addTo(ops::Inputs& in) const;

  private:
    AddressRange which_;
    RangeSelector* range_ = nullptr;
    QProgressBar* bar_ = nullptr;
};

}  // namespace kestro
