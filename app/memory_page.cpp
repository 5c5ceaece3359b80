// SPDX-License-Identifier: GPL-3.0-or-later
#include "memory_page.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "controls.h"
#include "operations.h"

namespace kestro {

MemoryPage::MemoryPage(AddressRange range, const Controls& controls, const RunOperation& run)
    : which_(range) {
    const bool eeprom = range == AddressRange::Eeprom;
    auto* layout = new QVBoxLayout(this);
    auto* row = new QHBoxLayout;
    row->addSpacing(controls.px(480));
    range_ = new RangeSelector(range, controls, this);
    row->addWidget(range_);
    row->addStretch();
    auto* buttons = new QVBoxLayout;
    addOperationButtons(controls, buttons, this, eeprom ? ButtonGroup::Eeprom : ButtonGroup::Eprom,
                        run, 1500);
    buttons->addStretch();
    row->addLayout(buttons);
    row->addSpacing(controls.px(240));
    layout->addLayout(row, 1);
    bar_ = controls.progressBar(layout, this, eeprom ? "EepromBar" : "EpromBar");
}

void MemoryPage::addTo(ops::Inputs& in) const {
    const bool eeprom = which_ == AddressRange::Eeprom;
    (eeprom ? in.eepromBegin : in.epromBegin) = range_->text(0).toStdString();
    (eeprom ? in.eepromEnd : in.epromEnd) = range_->text(1).toStdString();
}

}  // namespace kestro
