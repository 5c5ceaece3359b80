// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSettings>

#include "operations.h"

namespace kestro::cli {

// What the window's controls start with, from the same settings store: the ranges, the CONFIG
// boxes, the RAM start address and the Xicor page's SFR position.
ops::Inputs inputsFromSettings(QSettings& settings);

}  // namespace kestro::cli
