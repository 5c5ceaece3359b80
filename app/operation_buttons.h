// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <Qt>
#include <functional>

class QBoxLayout;
class QWidget;

namespace kestro {

class Controls;

// The columns and rows of operation buttons, one group to a place on a page.
enum class ButtonGroup {
    Comm,
    Config,
    Eeprom,
    Eprom,
    ExtRam,
    ExtEeprom,
    XiSfr,
    XiEem,
    XiBpr,
    XiTools,
    Dump
};

// Called with the object name of the operation button the user clicked.
using RunOperation = std::function<void(const QString& button)>;

// Adds the buttons of a group to box, from the table of every operation button: caption,
// tooltip and the space above each. minWidthTwips 0 leaves the width to the style.
void addOperationButtons(const Controls& controls, QBoxLayout* box, QWidget* parent,
                         ButtonGroup group, const RunOperation& run, int minWidthTwips = 0,
                         Qt::Alignment align = {});

}  // namespace kestro
